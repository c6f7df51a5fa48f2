#include "web/command_runner.h"

#include "console/console.h"

namespace varnel::web {

namespace {

std::string outcomeName(console::Reply::Outcome o) {
    using O = console::Reply::Outcome;
    switch (o) {
        case O::Done: return "done";
        case O::Empty: return "empty";
        case O::NotReady: return "notReady";
        case O::Error:
        case O::Quit: break;
    }
    return "error";
}

// Stopping the run and opening a window on the machine are not the page's to do.
std::optional<std::string> notFromThePage(const console::Command& c) {
    if (std::holds_alternative<console::cmd::Quit>(c))
        return "quit: not from the web page (stop the service, or type quit on the console)";
    if (std::holds_alternative<console::cmd::Config>(c))
        return "config: not from the web page (its Configuration tab does what the window does)";
    return std::nullopt;
}

}  // namespace

CommandRunner::CommandRunner(console::Console& console, std::function<std::int64_t()> clockMs)
    : console_(console), clockMs_(std::move(clockMs)) {}

CommandRunner::~CommandRunner() { refuseAll(); }

bool CommandRunner::canRunNow(const console::Command& command) const {
    return console::readsOnly(command) || console_.answersNow() || (waiting_.empty() && console_.ready());
}

CommandResult CommandRunner::run(const console::Command& command) {
    const console::Reply reply = console_.run(command, "page");
    return {.outcome = outcomeName(reply.outcome), .lines = reply.lines, .command = command};
}

void CommandRunner::submit(const std::string& line, Done done) {
    auto parsed = console::parseCommand(line);
    if (const auto* bad = std::get_if<console::ParseError>(&parsed)) {
        done({.outcome = "error", .lines = {bad->message}, .command = std::nullopt});
        return;
    }
    auto& command = std::get<console::Command>(parsed);
    if (auto why = notFromThePage(command)) {
        done({.outcome = "error", .lines = {*why}, .command = command});
        return;
    }
    // Over the bound the console answers for itself: it refuses while it is not ready.
    if (canRunNow(command) || waiting_.size() >= kMaxWaiting) {
        done(run(command));
        return;
    }
    waiting_.push_back({.command = std::move(command), .done = std::move(done), .sinceMs = clockMs_()});
}

void CommandRunner::pump() {
    if (pumping_) return;  // a command's own waits turn the loop, and with it this pump
    pumping_ = true;
    struct Unset {
        bool& flag;
        ~Unset() { flag = false; }
    } unset{pumping_};
    while (!waiting_.empty()) {
        const bool ready = console_.ready() || console_.answersNow();
        if (!ready && clockMs_() - waiting_.front().sinceMs < kMaxWaitMs) return;
        Waiting w = std::move(waiting_.front());
        waiting_.pop_front();
        w.done(run(w.command));
    }
}

void CommandRunner::refuseAll() {
    while (!waiting_.empty()) {
        Waiting w = std::move(waiting_.front());
        waiting_.pop_front();
        w.done({.outcome = "notReady",
                .lines = {console::formatCommand(w.command) + ": the run is stopping; nothing was done"},
                .command = w.command});
    }
}

}  // namespace varnel::web

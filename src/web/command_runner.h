#pragma once
// POST /api/command: one operator-console line, run by the console exactly as it runs
// a typed one. A line that needs the controller while the plug-in waits for it is
// kept in a bounded queue and run, in order, once the console is ready, so host work
// never starts inside an exchange; the caller hears the result when it has run.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/command.h"

namespace varnel::console {
class Console;
}

namespace varnel::web {

struct CommandResult {
    std::string outcome;  // "done", "error", "notReady", "empty"
    std::vector<std::string> lines;
    std::optional<console::Command> command;  // what ran, when the line could be read
};

class CommandRunner {
public:
    using Done = std::function<void(CommandResult)>;
    static constexpr std::size_t kMaxWaiting = 32;
    // A line kept this long gets the console's own refusal instead of waiting on.
    static constexpr std::int64_t kMaxWaitMs = 30'000;

    CommandRunner(console::Console& console, std::function<std::int64_t()> clockMs);
    ~CommandRunner();
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    // `done` is called once, before this returns when the line runs (or is refused) at once.
    void submit(const std::string& line, Done done);
    // Runs kept lines in order while the console is ready; answers those kept too long.
    void pump();
    [[nodiscard]] std::size_t waiting() const { return waiting_.size(); }
    // Answers every kept line with the console's refusal (the run is stopping).
    void refuseAll();

private:
    struct Waiting {
        console::Command command;
        Done done;
        std::int64_t sinceMs = 0;
    };
    CommandResult run(const console::Command& command);
    [[nodiscard]] bool canRunNow(const console::Command& command) const;

    console::Console& console_;
    std::function<std::int64_t()> clockMs_;
    std::deque<Waiting> waiting_;
    bool pumping_ = false;
};

}  // namespace varnel::web

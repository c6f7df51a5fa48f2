#include "console_feed.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "console/console.h"

namespace varnel::app {

namespace {
// While lines wait for the plug-in to finish an exchange, it is asked again this often.
constexpr int kRetryMs = 20;
}  // namespace

ConsoleFeed::ConsoleFeed(std::function<void()> stop, std::function<void(const std::string&)> say)
    : stop_(std::move(stop)), say_(std::move(say)) {
    retryTimer_.setInterval(kRetryMs);
    QObject::connect(&retryTimer_, &QTimer::timeout, &retryTimer_, [this] { drain(); });
}

ConsoleFeed::~ConsoleFeed() = default;

bool ConsoleFeed::readFrom(int fd) {
    if (::fcntl(fd, F_GETFL) == -1) return false;
    // A background job that reads its terminal is stopped by the shell; it gets no console.
    terminal_ = ::isatty(fd) == 1;
    if (terminal_ && ::tcgetpgrp(fd) != ::getpgrp()) return false;
    fd_ = fd;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        // One read per wake-up: it does not block, and standard input keeps its mode
        // (a terminal shared with the shell must not be left non-blocking).
        std::array<char, 4096> buf{};
        const ssize_t n = ::read(fd_, buf.data(), buf.size());
        if (n > 0) {
            take(std::string_view(buf.data(), static_cast<std::size_t>(n)));
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            endOfInput();
        }
    });
    return true;
}

void ConsoleFeed::take(std::string_view bytes) {
    for (char c : bytes) {
        if (c != '\n') {
            if (overlong_) continue;
            if (partial_.size() >= kMaxInputLine) {
                overlong_ = true;
                partial_.clear();
                continue;
            }
            partial_ += c;
            continue;
        }
        if (overlong_) {
            overlong_ = false;
            if (say_)
                say_("console: an input line longer than " + std::to_string(kMaxInputLine) + " characters was dropped");
            continue;
        }
        std::string text = std::move(partial_);
        partial_.clear();
        if (!text.empty() && text.back() == '\r') text.pop_back();
        line(std::move(text));
    }
}

void ConsoleFeed::endOfInput() {
    if (!partial_.empty() && !overlong_) line(std::move(partial_));
    partial_.clear();
    overlong_ = false;
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
        if (terminal_ && say_) say_("console: end of input; the run goes on (Ctrl-C ends it)");
    }
}

void ConsoleFeed::line(std::string text) {
    if (quitSeen_) return;
    waiting_.push_back(std::move(text));
    if (waiting_.size() >= kMaxWaiting && notifier_) notifier_->setEnabled(false);
    drain();
}

void ConsoleFeed::attach(console::Console& console, const std::vector<std::string>& exec) {
    console_ = &console;
    waiting_.insert(waiting_.begin(), exec.begin(), exec.end());
    drain();
}

void ConsoleFeed::drain() {
    // A line runs inside this loop and may wait for the controller; lines and timer
    // ticks that arrive meanwhile only queue up behind it.
    if (!console_ || draining_) return;
    draining_ = true;
    while (!waiting_.empty() && !quitSeen_ && console_->answersNow()) {
        const std::string text = std::move(waiting_.front());
        waiting_.pop_front();
        console_->execute(text);
        checkQuit();
    }
    draining_ = false;
    // The plug-in does not say when an exchange ends, so waiting lines try again on a
    // timer; an idle console sleeps until standard input wakes it.
    if (waiting_.empty() || quitSeen_) {
        retryTimer_.stop();
    } else if (!retryTimer_.isActive()) {
        retryTimer_.start();
    }
    if (notifier_ && !notifier_->isEnabled() && waiting_.size() < kMaxWaiting / 2) notifier_->setEnabled(true);
}

void ConsoleFeed::checkQuit() {
    if (quitSeen_ || !console_ || !console_->quitRequested()) return;
    quitSeen_ = true;
    waiting_.clear();
    retryTimer_.stop();
    if (stop_) stop_();
}

}  // namespace varnel::app

#pragma once
// Feeds the operator console of `varnel run`: the --exec lines, then the lines read
// from standard input, one at a time and in order. A line waits while start-up runs
// and while the plug-in waits for the controller (a line can come in during any wait,
// since waits run the event loop); a short timer, running only while lines wait, hands
// it over once the console is ready, so two exchanges never share the wire. While a
// reconnect's start-up runs or the run stops, a line gets its answer at once instead (the
// console refuses what needs the controller). While many lines wait, standard input
// is not read. End of input ends the reading, not the run.
#include <QSocketNotifier>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varnel::console {
class Console;
}

namespace varnel::app {

class ConsoleFeed {
public:
    // Longer input lines are dropped with a message (the console takes far less).
    static constexpr std::size_t kMaxInputLine = 4096;
    // Reading pauses while this many lines wait.
    static constexpr std::size_t kMaxWaiting = 100;

    // `stop` ends the run (a quit command); `say` prints a line of the feed's own.
    ConsoleFeed(std::function<void()> stop, std::function<void(const std::string&)> say);
    ~ConsoleFeed();
    ConsoleFeed(const ConsoleFeed&) = delete;
    ConsoleFeed& operator=(const ConsoleFeed&) = delete;

    // Starts reading `fd` (standard input) when it is open; false when it is not.
    bool readFrom(int fd);
    // Start-up is through: runs `exec`, then what was read meanwhile, then what comes.
    void attach(console::Console& console, const std::vector<std::string>& exec);

    // Bytes as read; split into lines here. Public for the tests.
    void take(std::string_view bytes);
    void endOfInput();
    [[nodiscard]] bool reading() const { return notifier_ != nullptr && notifier_->isEnabled(); }
    [[nodiscard]] std::size_t waiting() const { return waiting_.size(); }
    [[nodiscard]] bool retrying() const { return retryTimer_.isActive(); }

private:
    void line(std::string text);
    void drain();
    void checkQuit();

    std::function<void()> stop_;
    std::function<void(const std::string&)> say_;
    console::Console* console_ = nullptr;
    std::deque<std::string> waiting_;
    std::string partial_;
    bool overlong_ = false;
    bool draining_ = false;
    bool quitSeen_ = false;
    bool terminal_ = false;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer retryTimer_;
};

}  // namespace varnel::app

#pragma once
// The operator console of `varnel run`: does what a host user does, one line at a time.
//
// The one rule for the program that feeds it: host work must never start while the
// plug-in waits for the controller, or two exchanges would interleave on the wire.
// Every wait keeps the event loop running, so a line can arrive in the middle of one.
// Hand lines to submit(): it runs a line at once when ready() and keeps it otherwise;
// call pump() whenever the event loop is idle (a short timer will do) to run what was
// kept. execute() is the direct form: it runs a line only when ready() (commands that
// only show state run at any time) and otherwise answers NotReady without any effect.
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/command.h"
#include "console/selection.h"

namespace varnel {
class HSPI;
class EmbeddedHost;
struct DeviceLayer;
}  // namespace varnel

namespace varnel::console {

struct Reply {
    enum class Outcome : std::uint8_t {
        Done,      // the command ran (its lines say what it did)
        Empty,     // blank line or comment
        Error,     // bad input or a refusal; nothing was done
        NotReady,  // the plug-in is waiting for the controller; nothing was done
        Quit,      // the operator asked to stop
    };
    Outcome outcome = Outcome::Empty;
    std::vector<std::string> lines;
};

class Console {
public:
    using Sink = std::function<void(const std::string& line)>;
    // Lines that wait for ready(); more are refused with a message.
    static constexpr std::size_t kMaxWaiting = 100;

    // `sink` receives every line of every reply as it is made (unset: only the replies carry them).
    Console(HSPI& plugin, EmbeddedHost& host, Sink sink = {});

    // True when nothing waits for the controller: no response loop running, the busy flag
    // and the timer's busy flag clear, no X10 send running, and no console line running.
    [[nodiscard]] bool ready() const;
    // True when a line handed in now gets its answer at once even though ready() is
    // false: while the link starts (a reconnect) or the run stops, commands that need
    // the controller are refused, so waiting for the end of that would only delay the
    // refusal.
    [[nodiscard]] bool answersNow() const;

    // Runs one line now (see the top of this file). Never throws.
    Reply execute(std::string_view line);
    // Runs a command that came from elsewhere (the start-up options, the page, MQTT: `origin`
    // names it for the history). Never throws.
    Reply run(const Command& command, std::string_view origin = "console");

    // Runs the line at once when ready() and none is waiting, else keeps it for pump().
    void submit(std::string line);
    // Runs waiting lines in order while ready(); stops after a quit.
    void pump();
    [[nodiscard]] std::size_t waiting() const { return waiting_.size(); }
    // Set once a quit has run; the program then stops the plug-in.
    [[nodiscard]] bool quitRequested() const { return quit_; }

    // Lines that `status` adds at its end, from parts of the run the console does not
    // know (the MQTT bridge's connection).
    void addStatus(std::function<std::vector<std::string>()> lines) { moreStatus_.push_back(std::move(lines)); }
    // A line `status` shows after its own (the web page's address, say).
    void addStatusLine(std::string line) { statusLines_.push_back(std::move(line)); }

    // What answers `history`; unset: the run keeps none.
    void setHistory(std::function<Reply(const cmd::History&)> history) { history_ = std::move(history); }
    // Every command that ran and did not only read: its canonical line, its answer and where it came from.
    std::function<void(const std::string& line, const Reply& reply, std::string_view origin)> onCommand;

    // The start-up selection of --mirror-vars / --mirror-points, applied as the
    // mirror command applies it. Needs the controller's module scan done.
    Reply applyMirrorChoice(const MirrorChoice& choice);

private:
    Reply dispatch(const Command& command);
    Reply emit(Reply reply);
    DeviceLayer& ctx();

    HSPI& plugin_;
    EmbeddedHost& host_;
    Sink sink_;
    std::vector<std::function<std::vector<std::string>()>> moreStatus_;
    std::function<Reply(const cmd::History&)> history_;
    std::deque<std::string> waiting_;
    std::vector<std::string> statusLines_;
    bool running_ = false;
    bool quit_ = false;
};

}  // namespace varnel::console

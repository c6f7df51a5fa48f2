#pragma once
// Starting other programs (CMAX, IR_MAX, host scripts).
#include <functional>
#include <memory>
#include <string>

namespace varnel {

// How a started program ended, or why it never ran.
struct ProgramEnd {
    bool started = true;   // false: it could not be started (missing, not executable)
    bool crashed = false;  // ended by a signal
    int exitCode = 0;
    std::string error;  // why it could not start
    [[nodiscard]] bool ok() const { return started && !crashed && exitCode == 0; }
    // "could not be started (Permission denied)", "ended with exit status 3", "was killed or crashed".
    [[nodiscard]] std::string describe() const {
        if (!started) return "could not be started" + (error.empty() ? std::string() : " (" + error + ")");
        if (crashed) return "was killed or crashed";
        return "ended with exit status " + std::to_string(exitCode);
    }
};

// A program started without waiting for it. Destroying the handle kills a program
// still running (SIGKILL), so none outlives the plug-in.
class RunningProgram {
public:
    // A program asked to stop has this long to end before it is killed.
    static constexpr int kStopGraceMs = 2000;

    RunningProgram() = default;
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    virtual ~RunningProgram() = default;
    // Asks the program to end (SIGTERM) and kills it kStopGraceMs later if it has not;
    // its end is no longer reported.
    virtual void stop() = 0;
    [[nodiscard]] virtual bool running() const = 0;
};

class ProcessLauncher {
public:
    using EndHandler = std::function<void(const ProgramEnd&)>;

    virtual ~ProcessLauncher() = default;
    // Runs `program` with `arguments`; when `wait` is set, returns its exit code after it ends.
    // Returns -1 when it could not be started.
    virtual int run(const std::string& program, const std::string& arguments, bool wait) = 0;
    // Starts `program` and returns at once. `onEnd` runs later from the event loop, never
    // from inside start(), when the program has ended or could not be started.
    virtual std::unique_ptr<RunningProgram> start(const std::string& program, const std::string& arguments,
                                                  EndHandler onEnd) = 0;
};

}  // namespace varnel

#pragma once
// Starting programs on QProcess. A waited run keeps the event loop turning
// (timers tick, the port is read) until the program ends.
#include <string>

#include "platform/event_loop.h"
#include "platform/process_launcher.h"

namespace varnel {

class QtProcessLauncher final : public ProcessLauncher {
public:
    explicit QtProcessLauncher(EventLoop& loop) : loop_(loop) {}
    // `arguments` is one command line, split as a shell would (quotes group words).
    // Returns the exit code when waiting, 0 when started without waiting, and -1
    // when the program could not be started or crashed.
    int run(const std::string& program, const std::string& arguments, bool wait) override;
    std::unique_ptr<RunningProgram> start(const std::string& program, const std::string& arguments,
                                          EndHandler onEnd) override;

private:
    EventLoop& loop_;
};

}  // namespace varnel

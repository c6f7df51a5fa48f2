#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/process_launcher.h"

namespace varnel {

// Records what was run. Programs started without waiting run until the test ends them.
class RecordingLauncher final : public ProcessLauncher {
public:
    struct Run {
        std::string program, arguments;
        bool wait;
    };
    // A program started with start(): the test ends it (end), or the plug-in stops it.
    struct Started {
        std::string program, arguments;
        EndHandler onEnd;
        bool running = true;
        bool stopped = false;  // asked to stop (SIGTERM)
        bool killed = false;   // its handle was dropped while it ran
    };

    int run(const std::string& program, const std::string& arguments, bool wait) override {
        runs.push_back({program, arguments, wait});
        return exitCode;
    }
    std::unique_ptr<RunningProgram> start(const std::string& program, const std::string& arguments,
                                          EndHandler onEnd) override {
        started.push_back(std::make_shared<Started>(Started{program, arguments, std::move(onEnd)}));
        return std::make_unique<Handle>(started.back());
    }
    // Ends program `i` (the last started when negative) as `end` says, as its exit would.
    void end(const ProgramEnd& end, int i = -1) {
        auto& p = *started.at(i < 0 ? started.size() - 1 : static_cast<std::size_t>(i));
        if (!p.running) return;
        p.running = false;
        if (!p.stopped && p.onEnd) p.onEnd(end);
    }
    [[nodiscard]] bool anyRunning() const {
        for (const auto& p : started)
            if (p->running) return true;
        return false;
    }

    std::vector<Run> runs;
    std::vector<std::shared_ptr<Started>> started;
    int exitCode = 0;

private:
    class Handle final : public RunningProgram {
    public:
        explicit Handle(std::shared_ptr<Started> p) : p_(std::move(p)) {}
        ~Handle() override {
            if (p_->running) p_->killed = true;
            p_->running = false;
        }
        Handle(const Handle&) = delete;
        Handle& operator=(const Handle&) = delete;
        void stop() override { p_->stopped = true; }
        [[nodiscard]] bool running() const override { return p_->running; }

    private:
        std::shared_ptr<Started> p_;
    };
};

}  // namespace varnel

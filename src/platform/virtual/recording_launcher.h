#pragma once
#include <string>
#include <vector>

#include "platform/process_launcher.h"

namespace varnel {

class RecordingLauncher final : public ProcessLauncher {
public:
    struct Run {
        std::string program, arguments;
        bool wait;
    };
    int run(const std::string& program, const std::string& arguments, bool wait) override {
        runs.push_back({program, arguments, wait});
        return exitCode;
    }
    std::vector<Run> runs;
    int exitCode = 0;
};

}  // namespace varnel

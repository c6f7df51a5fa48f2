#pragma once
// Starting other programs (CMAX, IR_MAX, host scripts).
#include <string>

namespace varnel {

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Runs `program` with `arguments`; when `wait` is set, returns its exit code after it ends.
    // Returns -1 when it could not be started.
    virtual int run(const std::string& program, const std::string& arguments, bool wait) = 0;
};

}  // namespace varnel

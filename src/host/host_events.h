#pragma once
// What the plug-in told the embedded host: events delivered to the callback object,
// status and value writes, scripts and programs started. Kept for tests and the console.
#include <cstdint>
#include <string>

namespace varnel::host {

struct HostEvent {
    enum class Kind { X10, IR, ValueChange, StatusSet, ValueSet };
    Kind kind{};
    std::string code{};      // device code; the house argument for X10
    std::int32_t value = 0;  // X10 command, IR code, new value or status
    bool known = true;       // StatusSet/ValueSet: a device had that code
    // X10 only: the other arguments as given.
    std::string addresses{}, level{}, extra{};

    bool operator==(const HostEvent&) const = default;
};

// One readable line, e.g. "ValueChange #12 = 1" or "X10 A1 house A command 2 level 0".
std::string describe(const HostEvent& e);

struct HostRun {
    enum class Kind { RunEx, Launch };
    Kind kind{};
    std::string file{};       // script file (RunEx) or program path (Launch), as given
    std::string procedure{};  // RunEx only
    std::string parameter{};
    bool started = false;  // found (and for scripts executable) and handed to the launcher
    int result = -1;       // the launcher's answer when started

    bool operator==(const HostRun&) const = default;
};

std::string describe(const HostRun& r);

}  // namespace varnel::host

#pragma once
// The few things the adapters read from the plug-in itself rather than from the host:
// every such read is in plugin_view.cpp and nowhere else.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnel {
class HSPI;
}

namespace varnel::entities {

struct PluginFacts {
    std::string interfaceName;  // stamped into the plug-in's own host devices
    int varsHouseCode = 0;      // character code of variables 0..63; 0 = no variable devices
    bool linkUp = false;        // controller found, port started, answering
    bool varsRead = false;      // the variable devices hold the controller's values
    std::uint64_t timeouts = 0;
    std::uint64_t checksumErrors = 0;
    bool queueFull = false;  // the plug-in's own command queue
    bool operator==(const PluginFacts&) const = default;
};

// An IR code that can be played by name.
struct IrName {
    int index = 0;         // label index
    std::string name;      // as the label file writes it, "TV Power"
    std::string playName;  // what the play call takes
    bool operator==(const IrName&) const = default;
};

// What a command source needs to leave the line to the plug-in's own work.
struct LineShare {
    int queued = 0;                          // commands in the plug-in's own queue
    std::optional<std::int64_t> nextPollMs;  // the variable timer's next tick (loop ms); none while it is off
};

class PluginView {
public:
    explicit PluginView(const HSPI& plugin) : plugin_(plugin) {}
    [[nodiscard]] PluginFacts facts() const;
    [[nodiscard]] LineShare lineShare() const;
    // True until the first start-up has looked for the controller, and while any
    // start-up runs: the controller's modules and variables are not known, and
    // commands would meet the start-up's own exchanges.
    [[nodiscard]] bool controllerPending() const;
    // By label index.
    [[nodiscard]] std::vector<IrName> irNames() const;
    // The label of the code location an IR match reported, when it has one.
    [[nodiscard]] std::optional<std::string> irLabelOf(int code) const;

private:
    const HSPI& plugin_;
};

}  // namespace varnel::entities

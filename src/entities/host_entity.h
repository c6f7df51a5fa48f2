#pragma once
// What a host device means to every adapter (MQTT, the web page, history): one of the
// plug-in's variables, a point of one of its modules, the Leopard's touch keys, or an
// X10 device of the host's own.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "entities/plugin_view.h"
#include "host/device_table.h"

namespace varnel::entities {

enum class Kind : std::uint8_t { Variable, Input, Output, Touch, X10 };

struct Entity {
    Kind kind = Kind::Variable;
    std::string code{};  // the host device's code
    // UTF-8; the device's own name, or what the plug-in calls it when it has none:
    // "Variable 12", "Input 3", "Relay Output 1", "Touch", "X10 A1".
    std::string name{};
    bool named = false;           // `name` is the device's own
    int number = 0;               // a variable's number 0..127
    int unit = 0;                 // a point's unit
    int point = 0;                // a point 0..15 as the controller counts it
    int pointNumber = 0;          // as the host names it: "Input 3", "Relay Output 1"
    const char* model = nullptr;  // a point's module: "SECU16", "SECU16I", "RELAY-08"
    bool appliance = false;       // an X10 appliance module: it only switches
    bool operator==(const Entity&) const = default;
};

// What one host device is; nothing for a device that none of the kinds takes.
std::optional<Entity> entityOf(const host::DeviceRecord& d, const PluginFacts& facts);

// Every host device's, in the table's order; of two devices that mean the same (one
// variable, one point) the first wins.
std::vector<Entity> entitiesOf(const std::vector<host::DeviceRecord>& devices, const PluginFacts& facts);

// The name shown for a host device: location and name, the location left out where it
// is the one the plug-in gave (it repeats the device's name). UTF-8.
std::string displayName(const host::DeviceRecord& d);

}  // namespace varnel::entities

#pragma once
// What Home Assistant sees: one entity per host device of the plug-in (and per X10
// device of the host), per IR name, and the controller's own, each on a device.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/kinds.h"
#include "bridge/plugin_view.h"
#include "host/device_table.h"

namespace varnel::bridge {

// A Home Assistant device; "controller" is the hub, every other one hangs on it.
struct Device {
    std::string key{};  // "controller", "unit3", "leopard", "x10_a1"
    std::string name{};
    std::string model{};
    std::string manufacturer{};
    bool operator==(const Device&) const = default;
};

inline constexpr const char* kControllerKey = "controller";
inline constexpr const char* kLeopardTouchKey = "leopard_touch";
inline constexpr const char* kScreenPath = "screen";

struct Entity {
    const EntityKind* kind = nullptr;
    std::string key{};                  // unique in the bridge; letters, digits, '_'
    std::string path{};                 // its topics lie below <base>/<path>
    std::optional<std::string> name{};  // none: the entity is named after its device
    Device device{};
    std::string code{};    // device code of the host device behind it, if any
    int number = 0;        // variable number
    std::string target{};  // IR: the name the play call takes
    bool operator==(const Entity&) const = default;
};

// The whole set, in a stable order; the first of two host devices that would make
// the same entity wins. Names are UTF-8.
std::vector<Entity> entitiesOf(const std::vector<host::DeviceRecord>& devices, const PluginFacts& facts,
                               const std::vector<IrName>& irNames);

// A command topic (below the base) of the screen, which exists only with a screen.
bool screenCommandTopic(std::string_view relative);

// The name Home Assistant shows for a host device: location and name, the location
// left out where it is the one the plug-in gave (it repeats the device's name).
std::string displayName(const host::DeviceRecord& d);

}  // namespace varnel::bridge

#pragma once
// What Home Assistant sees: one entity per host device of the plug-in (and per X10
// device of the host), per IR name, and the controller's own, each on a device.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/kinds.h"
#include "entities/plugin_view.h"
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
// Where what the controller hears arrives once more, one message per thing heard, for
// Home Assistant's device triggers: "A1 on", "TV Power", "5".
inline constexpr const char* kX10HeardPath = "x10/heard";
inline constexpr const char* kIrHeardPath = "ir/heard";
inline constexpr const char* kTouchHeardPath = "leopard/touch/heard";

struct Entity {
    const EntityKind* kind = nullptr;
    std::string key{};                  // unique in the bridge; letters, digits, '_'
    std::string path{};                 // its topics lie below <base>/<path>
    std::optional<std::string> name{};  // none: the entity is named after its device
    // What Home Assistant makes a new entity's id of, when it is not the key (which
    // stays what it was first, since Home Assistant keeps the user's settings by it).
    std::string objectId{};
    Device device{};
    std::string code{};    // device code of the host device behind it, if any
    int number = 0;        // variable number
    std::string target{};  // IR: the name the play call takes
    bool operator==(const Entity&) const = default;
};

// A device trigger: what Home Assistant's automation editor offers on a device's page,
// firing when `payload` arrives on <base>/<path>.
struct Trigger {
    std::string key{};  // unique among triggers and entities, as an entity's key
    std::string path{};
    std::string type{}, subtype{}, payload{};
    Device device{};
    bool operator==(const Trigger&) const = default;
};

// The trigger of a message heard on `path` (one of the heard paths), on the device it
// concerns among `entities`; nothing for a payload that is no such message.
std::optional<Trigger> heardTrigger(std::string_view path, std::string_view payload,
                                    const std::vector<Entity>& entities);
// Those there are before anything is heard: the IR codes with names.
std::vector<Trigger> namedTriggers(const std::vector<Entity>& entities);

// The whole set, in a stable order; the first of two host devices that would make
// the same entity wins. Names are UTF-8.
std::vector<Entity> entitiesOf(const std::vector<host::DeviceRecord>& devices, const entities::PluginFacts& facts,
                               const std::vector<entities::IrName>& irNames);

// A command topic (below the base) of the screen, which exists only with a screen.
bool screenCommandTopic(std::string_view relative);

}  // namespace varnel::bridge

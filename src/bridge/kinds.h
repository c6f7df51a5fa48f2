#pragma once
// One table per kind of entity: what Home Assistant is told about it, where its state
// and commands go, what its state is made of and what a command does.
#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console/command.h"

namespace varnel::host {
struct DeviceRecord;
}
namespace varnel::entities {
struct PluginFacts;
}

namespace varnel::bridge {

struct Entity;

// What the bridge believes of an X10 light: the host keeps no X10 state, and the
// modules answer nothing, so this is what was sent and heard last.
struct LightState {
    bool on = false;
    int brightness = 255;  // 1..255
    bool operator==(const LightState&) const = default;
};

// What a state is made of.
struct StateSources {
    const host::DeviceRecord* record = nullptr;  // the host device behind the entity
    const entities::PluginFacts* facts = nullptr;
    std::uint64_t refused = 0;
    std::uint64_t dropped = 0;
    const LightState* light = nullptr;  // nothing before anything was sent or heard
};

// What a command asks of the console, in order, and the light's state once it ran.
struct Action {
    std::vector<console::Command> commands{};
    std::optional<LightState> light{};
};
// An action, or why the command was refused.
using CommandResult = std::variant<Action, std::string>;

struct EntityKind {
    std::string_view name;          // in log lines
    std::string_view component{};   // Home Assistant platform; empty: a command topic, not announced
    std::string_view stateTopic{};  // below the entity's path; empty: none
    std::string_view commandTopic{};
    std::string_view entityCategory{};
    std::string_view deviceClass{};
    std::string_view stateClass{};
    std::string_view icon{};
    // Unavailable while the controller does not answer (its last state is stale then).
    bool followsLink = true;
    bool retained = true;  // events are not: a replay would fire them again
    void (*keys)(nlohmann::json& config, const Entity& e) = nullptr;
    std::optional<std::string> (*state)(const StateSources& from, const Entity& e) = nullptr;
    CommandResult (*command)(const Entity& e, std::string_view payload, const LightState* light) = nullptr;
    // A command sets a value (last one wins): one still waiting is replaced by the next,
    // so a slider dragged ends where it was let go. Otherwise each command is an action.
    bool merges = false;
};

extern const EntityKind kVariable;
extern const EntityKind kInput;
extern const EntityKind kOutput;
extern const EntityKind kTouch;
extern const EntityKind kX10Light;
extern const EntityKind kX10Switch;
extern const EntityKind kX10Heard;
extern const EntityKind kIrHeard;
extern const EntityKind kIrButton;
extern const EntityKind kLink;
extern const EntityKind kTimeouts;
extern const EntityKind kChecksumErrors;
extern const EntityKind kRefused;
extern const EntityKind kDropped;
extern const EntityKind kScreen;
extern const EntityKind kScreenWrite;
extern const EntityKind kX10Send;
extern const EntityKind kIrPlay;

// X10 functions heard, by the host's command number: the event types of kX10Heard.
std::string_view x10EventType(int command);

}  // namespace varnel::bridge

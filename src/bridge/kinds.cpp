#include "bridge/kinds.h"

#include <nlohmann/json.hpp>

#include "bridge/commands.h"
#include "bridge/entities.h"
#include "commands/x10_commands.h"
#include "console/x10_functions.h"
#include "host/device_table.h"
#include "platform/host_api.h"

namespace varnel::bridge {

namespace {

using nlohmann::json;

std::optional<std::string> hostValue(const StateSources& from, const Entity&) {
    if (!from.record) return std::nullopt;
    return std::to_string(from.record->value);
}

// Until the variable poll has compared them with the controller, the devices hold what
// they held before (0 for a new one): unknown.
std::optional<std::string> variableValue(const StateSources& from, const Entity& e) {
    if (!from.facts->varsRead) return std::nullopt;
    return hostValue(from, e);
}

// A device the plug-in has not set yet (new) is unknown.
std::optional<std::string> hostOnOff(const StateSources& from, const Entity&) {
    if (!from.record) return std::nullopt;
    switch (from.record->Status) {
        case kStatusOn: return "ON";
        case kStatusOff: return "OFF";
        default: return "None";
    }
}

std::optional<std::string> linkState(const StateSources& from, const Entity&) {
    return from.facts->linkUp ? "ON" : "OFF";
}
std::optional<std::string> timeoutCount(const StateSources& from, const Entity&) {
    return std::to_string(from.facts->timeouts);
}
std::optional<std::string> checksumCount(const StateSources& from, const Entity&) {
    return std::to_string(from.facts->checksumErrors);
}
std::optional<std::string> refusedCount(const StateSources& from, const Entity&) {
    return std::to_string(from.refused);
}
std::optional<std::string> droppedCount(const StateSources& from, const Entity&) {
    return std::to_string(from.dropped);
}

std::optional<std::string> lightState(const StateSources& from, const Entity&) {
    if (!from.light) return std::nullopt;
    return json{{"state", from.light->on ? "ON" : "OFF"}, {"brightness", from.light->brightness}}.dump();
}

std::optional<std::string> switchState(const StateSources& from, const Entity&) {
    if (!from.light) return std::nullopt;
    return from.light->on ? "ON" : "OFF";
}

void numberKeys(json& c, const Entity&) {
    c["min"] = 0;
    c["max"] = 65535;
    c["step"] = 1;
    c["mode"] = "box";
}

void lightKeys(json& c, const Entity&) {
    c["schema"] = "json";
    c["supported_color_modes"] = json::array({"brightness"});
    c["brightness_scale"] = 255;
}

void x10EventKeys(json& c, const Entity&) {
    json types = json::array();
    for (const auto& f : console::kX10Functions) types.push_back(f.name);
    c["event_types"] = types;
}

void irEventKeys(json& c, const Entity&) { c["event_types"] = json::array({"received"}); }

}  // namespace

std::string_view x10EventType(int command) {
    // Preset levels 16 to 31 come as their own command number; they are still a preset.
    if (command == kX10PresetHigh) command = kX10Preset;
    const auto* f = console::x10FunctionOf(command);
    return f ? std::string_view(f->name) : std::string_view();
}

const EntityKind kVariable{
    .name = "variable",
    .component = "number",
    .stateTopic = "state",
    .commandTopic = "set",
    .icon = "mdi:variable",
    .keys = numberKeys,
    .state = variableValue,
    .command = variableCommand,
    .merges = true,
};

const EntityKind kInput{
    .name = "input",
    .component = "binary_sensor",
    .stateTopic = "state",
    .state = hostOnOff,
};

const EntityKind kOutput{
    .name = "output",
    .component = "switch",
    .stateTopic = "state",
    .commandTopic = "set",
    .state = hostOnOff,
    .command = switchCommand,
    .merges = true,
};

const EntityKind kTouch{
    .name = "Leopard touch",
    .component = "sensor",
    .stateTopic = "state",
    .icon = "mdi:gesture-tap",
    .state = hostValue,
};

const EntityKind kX10Light{
    .name = "X10 light",
    .component = "light",
    .stateTopic = "state",
    .commandTopic = "set",
    .keys = lightKeys,
    .state = lightState,
    .command = lightCommand,
    .merges = true,
};

// An appliance module: the same topics as a light, ON and OFF only.
const EntityKind kX10Switch{
    .name = "X10 appliance",
    .component = "switch",
    .stateTopic = "state",
    .commandTopic = "set",
    .deviceClass = "outlet",
    .state = switchState,
    .command = x10SwitchCommand,
    .merges = true,
};

const EntityKind kX10Heard{
    .name = "X10 heard",
    .component = "event",
    .stateTopic = "event",
    .icon = "mdi:home-lightning-bolt-outline",
    .retained = false,
    .keys = x10EventKeys,
};

const EntityKind kIrHeard{
    .name = "IR received",
    .component = "event",
    .stateTopic = "event",
    .icon = "mdi:remote",
    .retained = false,
    .keys = irEventKeys,
};

const EntityKind kIrButton{
    .name = "IR button",
    .component = "button",
    .commandTopic = "play",
    .icon = "mdi:remote",
    .command = buttonCommand,
};

// The link shows OFF while it is down, so it must not go unavailable with it.
const EntityKind kLink{
    .name = "link",
    .component = "binary_sensor",
    .entityCategory = "diagnostic",
    .deviceClass = "connectivity",
    .followsLink = false,
    .state = linkState,
};

// Counts since start; they stay available while the link is down, when they matter most.
constexpr EntityKind diagnosticCount(std::string_view name, std::string_view icon, decltype(EntityKind::state) state) {
    return {
        .name = name,
        .component = "sensor",
        .entityCategory = "diagnostic",
        .stateClass = "total_increasing",
        .icon = icon,
        .followsLink = false,
        .state = state,
    };
}

const EntityKind kTimeouts = diagnosticCount("time-outs", "mdi:timer-alert-outline", timeoutCount);
const EntityKind kChecksumErrors = diagnosticCount("checksum errors", "mdi:alert-circle-outline", checksumCount);
const EntityKind kRefused = diagnosticCount("refused", "mdi:message-alert-outline", refusedCount);
const EntityKind kDropped = diagnosticCount("dropped", "mdi:tray-remove", droppedCount);

const EntityKind kScreen{
    .name = "screen",
    .component = "notify",
    .commandTopic = "set",
    .icon = "mdi:monitor-dashboard",
    .command = screenCommand,
};

const EntityKind kScreenWrite{
    .name = "screen write",
    .commandTopic = "write",
    .command = screenWriteCommand,
};

const EntityKind kX10Send{
    .name = "X10 send",
    .commandTopic = "send",
    .command = x10SendCommand,
};

const EntityKind kIrPlay{
    .name = "IR play",
    .commandTopic = "play",
    .command = irPlayCommand,
};

}  // namespace varnel::bridge

#pragma once
// Topics and Home Assistant discovery payloads of the entities.
#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <string_view>

#include "bridge/entities.h"

namespace varnel::bridge {

struct Identity {
    std::string base;    // base topic, "varnel"
    std::string prefix;  // discovery prefix, "homeassistant"
    std::string version;

    // The base topic made fit for ids: unique ids are "<node>_<entity key>".
    [[nodiscard]] std::string node() const;
    [[nodiscard]] std::string uniqueId(std::string_view key) const { return node() + "_" + std::string(key); }
    [[nodiscard]] std::string uniqueId(const Entity& e) const { return uniqueId(e.key); }
    // A device's identifier, which its entities and triggers share.
    [[nodiscard]] std::string deviceId(std::string_view deviceKey) const { return uniqueId(deviceKey); }
    // Bridge availability, with the last will on it.
    [[nodiscard]] std::string statusTopic() const { return base + "/status"; }
    // Follows the controller link.
    [[nodiscard]] std::string availabilityTopic() const { return base + "/controller/availability"; }
    [[nodiscard]] std::string homeAssistantStatus() const { return prefix + "/status"; }
};

// Below the base topic; nothing when the entity has none.
std::optional<std::string> stateTopicOf(const Entity& e);
std::optional<std::string> commandTopicOf(const Entity& e);

// <prefix>/<component>/<unique id>/config; empty for entities that are not announced.
std::string configTopic(const Identity& id, const Entity& e);
// The retained config message.
std::string configPayload(const Identity& id, const Entity& e);

// The "device" of every config: the controller is the hub, the others hang on it.
nlohmann::json deviceBlock(const Identity& id, const Device& d);

// <prefix>/device_automation/<unique id>/config and its retained message.
std::string triggerConfigTopic(const Identity& id, const Trigger& t);
std::string triggerPayload(const Identity& id, const Trigger& t);

}  // namespace varnel::bridge

#pragma once
// Topics and Home Assistant discovery payloads of the entities.
#include <optional>
#include <string>

#include "bridge/entities.h"

namespace varnel::bridge {

struct Identity {
    std::string base;    // base topic, "varnel"
    std::string prefix;  // discovery prefix, "homeassistant"
    std::string version;

    // The base topic made fit for ids: unique ids are "<node>_<entity key>".
    [[nodiscard]] std::string node() const;
    [[nodiscard]] std::string uniqueId(const Entity& e) const { return node() + "_" + e.key; }
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

}  // namespace varnel::bridge

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
    std::string installation;  // the host directory's own id (installation.h)
    bool legacyIds = false;    // a host directory of an earlier varnel keeps its unique ids

    // The base topic made fit for ids.
    [[nodiscard]] std::string node() const;
    // Every name that must differ between installations on one broker goes through here:
    // unique ids (and so the config topics) and device identifiers. "varnel_<installation>_<key>";
    // with legacy ids "<node>_<key>" as before, so that Home Assistant keeps its entities.
    [[nodiscard]] std::string globalId(std::string_view key) const;
    [[nodiscard]] std::string uniqueId(std::string_view key) const { return globalId(key); }
    [[nodiscard]] std::string uniqueId(const Entity& e) const { return globalId(e.key); }
    // A device's identifier, which its entities and triggers share.
    [[nodiscard]] std::string deviceId(std::string_view deviceKey) const { return globalId(deviceKey); }
    // Bridge availability, with the last will on it.
    [[nodiscard]] std::string statusTopic() const { return base + "/status"; }
    // The installation that publishes below the base topic (retained).
    [[nodiscard]] std::string installationTopic() const { return base + "/bridge/installation"; }
    // The holder's installation id now and then, never retained: a status left online by
    // one that died while the broker was away is told from a live one by its silence.
    [[nodiscard]] std::string aliveTopic() const { return base + "/bridge/alive"; }
    // Follows the controller link.
    [[nodiscard]] std::string availabilityTopic() const { return base + "/controller/availability"; }
    [[nodiscard]] std::string homeAssistantStatus() const { return prefix + "/status"; }
};

// The key of every config that names the installation it belongs to.
inline constexpr const char* kInstallationKey = "varnel_installation";

// Below the base topic; nothing when the entity has none.
std::optional<std::string> stateTopicOf(const Entity& e);
std::optional<std::string> commandTopicOf(const Entity& e);

// <prefix>/<component>/<unique id>/config; empty for entities that are not announced.
std::string configTopic(const Identity& id, const Entity& e);
// The retained config message.
std::string configPayload(const Identity& id, const Entity& e);

// Whether a config found on the broker is this installation's: it carries our mark, or,
// for a host directory of an earlier varnel, it carries no mark and has our base topic
// and a unique id of ours as that varnel made them.
bool ownConfig(const Identity& id, const nlohmann::json& config);

// The "device" of every config: the controller is the hub, the others hang on it.
nlohmann::json deviceBlock(const Identity& id, const Device& d);

// <prefix>/device_automation/<unique id>/config and its retained message.
std::string triggerConfigTopic(const Identity& id, const Trigger& t);
std::string triggerPayload(const Identity& id, const Trigger& t);

}  // namespace varnel::bridge

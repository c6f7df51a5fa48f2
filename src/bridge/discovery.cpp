#include "bridge/discovery.h"

#include <nlohmann/json.hpp>

#include "bridge/text.h"

namespace varnel::bridge {

using nlohmann::json;

json deviceBlock(const Identity& id, const Device& d) {
    json block{{"identifiers", json::array({id.deviceId(d.key)})}, {"name", d.name}};
    if (!d.model.empty()) block["model"] = d.model;
    if (!d.manufacturer.empty()) block["manufacturer"] = d.manufacturer;
    if (d.key != kControllerKey) block["via_device"] = id.deviceId(kControllerKey);
    return block;
}

namespace {

json origin(const Identity& id) { return json{{"name", "varnel"}, {"sw_version", id.version}}; }

// Names are UTF-8 already; replace rather than throw should anything slip through.
std::string dumped(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

std::string Identity::node() const { return idSafe(base); }

std::string Identity::globalId(std::string_view key) const {
    return (legacyIds ? node() : "varnel_" + installation) + "_" + std::string(key);
}

std::optional<std::string> stateTopicOf(const Entity& e) {
    if (!e.kind->state && e.kind->component != "event") return std::nullopt;
    return e.kind->stateTopic.empty() ? e.path : e.path + "/" + std::string(e.kind->stateTopic);
}

std::optional<std::string> commandTopicOf(const Entity& e) {
    if (e.kind->commandTopic.empty()) return std::nullopt;
    return e.path + "/" + std::string(e.kind->commandTopic);
}

std::string configTopic(const Identity& id, const Entity& e) {
    if (e.kind->component.empty()) return {};
    return id.prefix + "/" + std::string(e.kind->component) + "/" + id.uniqueId(e) + "/config";
}

std::string configPayload(const Identity& id, const Entity& e) {
    const EntityKind& k = *e.kind;
    json c;
    c["~"] = id.base;
    c["name"] = e.name ? json(*e.name) : json(nullptr);
    c["unique_id"] = id.uniqueId(e);
    // Entity ids are what people see: they stay the base topic's, and Home Assistant
    // numbers a second installation's on its own.
    c["default_entity_id"] =
        std::string(k.component) + "." + id.node() + "_" + (e.objectId.empty() ? e.key : e.objectId);
    if (auto t = stateTopicOf(e)) c["state_topic"] = "~/" + *t;
    if (auto t = commandTopicOf(e)) c["command_topic"] = "~/" + *t;
    if (k.followsLink) {
        c["availability"] = json::array({json{{"topic", "~/status"}}, json{{"topic", "~/controller/availability"}}});
        c["availability_mode"] = "all";
    } else {
        c["availability_topic"] = "~/status";
    }
    if (!k.entityCategory.empty()) c["entity_category"] = k.entityCategory;
    if (!k.deviceClass.empty()) c["device_class"] = k.deviceClass;
    if (!k.stateClass.empty()) c["state_class"] = k.stateClass;
    if (!k.icon.empty()) c["icon"] = k.icon;
    if (k.keys) k.keys(c, e);
    c["device"] = deviceBlock(id, e.device);
    c["origin"] = origin(id);
    // Whose it is: the leftover scan of another installation leaves it alone.
    c[kInstallationKey] = id.installation;
    return dumped(c);
}

std::string triggerConfigTopic(const Identity& id, const Trigger& t) {
    return id.prefix + "/device_automation/" + id.uniqueId(t.key) + "/config";
}

// The base and the unique id are not a trigger's keys (Home Assistant drops them); they
// mark the config as this bridge's for the leftover scan.
std::string triggerPayload(const Identity& id, const Trigger& t) {
    const json c{{"~", id.base},
                 {"unique_id", id.uniqueId(t.key)},
                 {"automation_type", "trigger"},
                 {"topic", id.base + "/" + t.path},
                 {"type", t.type},
                 {"subtype", t.subtype},
                 {"payload", t.payload},
                 {"qos", 0},
                 {"device", deviceBlock(id, t.device)},
                 {"origin", origin(id)},
                 {kInstallationKey, id.installation}};
    return dumped(c);
}

bool ownConfig(const Identity& id, const json& config) {
    if (!config.is_object()) return false;
    if (const auto mark = config.find(kInstallationKey); mark != config.end())
        return mark->is_string() && *mark == id.installation;
    if (!id.legacyIds) return false;
    const auto base = config.find("~");
    const auto uid = config.find("unique_id");
    return base != config.end() && uid != config.end() && *base == id.base && uid->is_string() &&
           uid->get<std::string>().starts_with(id.node() + "_");
}

}  // namespace varnel::bridge

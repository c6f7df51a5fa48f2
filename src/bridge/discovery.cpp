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
    c["default_entity_id"] =
        std::string(k.component) + "." + (e.objectId.empty() ? id.uniqueId(e) : id.node() + "_" + e.objectId);
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
                 {"origin", origin(id)}};
    return dumped(c);
}

}  // namespace varnel::bridge

#include "bridge/entities.h"

#include <algorithm>
#include <set>

#include "bridge/text.h"
#include "console/selection.h"
#include "console/x10_functions.h"
#include "entities/host_entity.h"
#include "support/text.h"

namespace varnel::bridge {

namespace {

constexpr const char* kManufacturer = "Applied Digital";

const Device& controllerDevice() {
    static const Device d{
        .key = kControllerKey, .name = "Ocelot", .model = "Ocelot / CPU-XA", .manufacturer = kManufacturer};
    return d;
}

// The variables and the IR codes are the controller's, but each set is a device of
// its own so that the controller's page keeps to the link and its counts.
const Device& variablesDevice() {
    static const Device d{
        .key = "variables", .name = "Ocelot variables", .model = "Ocelot variables", .manufacturer = kManufacturer};
    return d;
}

const Device& irDevice() {
    static const Device d{
        .key = "ir", .name = "Ocelot IR codes", .model = "Ocelot IR codes", .manufacturer = kManufacturer};
    return d;
}

const Device& leopardDevice() {
    static const Device d{
        .key = "leopard", .name = "Leopard", .model = "Leopard touch screen", .manufacturer = kManufacturer};
    return d;
}

std::optional<int> number(std::string_view text, int lo, int hi) {
    const auto n = console::parseInteger(text);
    if (!n || *n < lo || *n > hi || text.front() == '+' || text.front() == '-') return std::nullopt;
    return static_cast<int>(*n);
}

// Topics and ids count module points as the host names them: "Input 3", "Relay Output
// 1". The key keeps the older count of the points from 0.
Entity pointEntity(const entities::Entity& p) {
    const bool output = p.kind == entities::Kind::Output;
    const std::string u = std::to_string(p.unit);
    const std::string n = std::to_string(p.pointNumber);
    return Entity{
        .kind = output ? &kOutput : &kInput,
        .key = "unit" + u + "_point" + std::to_string(p.point),
        .path = "unit/" + u + (output ? "/output/" : "/input/") + n,
        .name = p.name,
        .objectId = "unit" + u + (output ? "_output" : "_input") + n,
        .device = {.key = "unit" + u,
                   .name = std::string(p.model) + " unit " + u,
                   .model = p.model,
                   .manufacturer = kManufacturer},
        .code = p.code,
    };
}

Entity entityOf(const entities::Entity& e) {
    using entities::Kind;
    switch (e.kind) {
        case Kind::Touch:
            return Entity{.kind = &kTouch,
                          .key = kLeopardTouchKey,
                          .path = "leopard/touch",
                          .name = e.name,
                          .device = leopardDevice(),
                          .code = e.code};
        case Kind::Input:
        case Kind::Output: return pointEntity(e);
        case Kind::Variable:
            return Entity{.kind = &kVariable,
                          .key = "var" + std::to_string(e.number),
                          .path = "var/" + std::to_string(e.number),
                          .name = e.name,
                          .device = variablesDevice(),
                          .code = e.code,
                          .number = e.number};
        case Kind::X10: break;
    }
    const std::string key = "x10_" + lower(e.code);
    return Entity{
        .kind = e.appliance ? &kX10Switch : &kX10Light,
        .key = key,
        .path = "x10/" + e.code,
        .name = std::nullopt,
        .device = {.key = key, .name = e.name, .model = e.appliance ? "X10 appliance module" : "X10 lamp module"},
        .code = e.code,
    };
}

std::vector<Entity> fixedEntities() {
    auto on = [](const EntityKind& kind, std::string key, std::string path, std::optional<std::string> name,
                 const Device& device) {
        return Entity{
            .kind = &kind, .key = std::move(key), .path = std::move(path), .name = std::move(name), .device = device};
    };
    const Device& c = controllerDevice();
    return {
        on(kLink, "link", "controller/link", "Link", c),
        on(kTimeouts, "timeouts", "controller/timeouts", "Time-outs", c),
        on(kChecksumErrors, "checksum_errors", "controller/checksum_errors", "Checksum errors", c),
        on(kRefused, "refused", "bridge/refused", "Refused MQTT messages", c),
        on(kDropped, "dropped", "bridge/dropped", "Dropped MQTT commands", c),
        on(kX10Heard, "x10_heard", "x10", "X10 heard", c),
        on(kIrHeard, "ir_heard", "ir", "IR received", irDevice()),
        on(kX10Send, "x10_send", "x10", std::nullopt, c),
        on(kIrPlay, "ir_play", "ir", std::nullopt, c),
    };
}

std::string screenTopic(const EntityKind& kind) {
    return std::string(kScreenPath) + "/" + std::string(kind.commandTopic);
}

const Entity* findEntity(const std::vector<Entity>& entities, auto&& wanted) {
    const auto it = std::find_if(entities.begin(), entities.end(), wanted);
    return it == entities.end() ? nullptr : &*it;
}

// "A1 on", "A all-units-off": an address or a house, and the function heard.
std::optional<Trigger> x10Trigger(std::string_view payload, const std::vector<Entity>& entities) {
    const auto space = payload.find(' ');
    if (space == std::string_view::npos || space < 1 || space > 3) return std::nullopt;
    const std::string_view address = payload.substr(0, space);
    const std::string_view function = payload.substr(space + 1);
    if (address[0] < 'A' || address[0] > 'P') return std::nullopt;
    if (address.size() > 1 && !number(address.substr(1), 1, 16)) return std::nullopt;
    const bool known = std::any_of(std::begin(console::kX10Functions), std::end(console::kX10Functions),
                                   [&](const auto& f) { return function == f.name; });
    if (!known) return std::nullopt;
    const std::string code(address);
    const Entity* module = findEntity(
        entities, [&](const Entity& e) { return (e.kind == &kX10Light || e.kind == &kX10Switch) && e.code == code; });
    return Trigger{.key = "heard_x10_" + lower(code) + "_" + idSafe(function),
                   .path = kX10HeardPath,
                   .type = std::string(function),
                   .subtype = code,
                   .payload = std::string(payload),
                   .device = module ? module->device : controllerDevice()};
}

// A named code by its name, any other as "code 12".
std::optional<Trigger> irTrigger(std::string_view payload, const std::vector<Entity>& entities) {
    Trigger t{.path = kIrHeardPath,
              .type = "received",
              .subtype = std::string(payload),
              .payload = std::string(payload),
              .device = irDevice()};
    if (payload.starts_with("code ")) {
        const auto code = number(payload.substr(5), 0, 65535);
        if (!code) return std::nullopt;
        t.key = "heard_ir_code" + std::to_string(*code);
        return t;
    }
    const Entity* named =
        findEntity(entities, [&](const Entity& e) { return e.kind == &kIrButton && e.name == payload; });
    if (!named) return std::nullopt;
    t.key = "heard_" + named->key;
    return t;
}

// The value a key of the screen stores: "5".
std::optional<Trigger> touchTrigger(std::string_view payload, const std::vector<Entity>& entities) {
    const auto key = number(payload, 0, 255);
    const Entity* touch = findEntity(entities, [](const Entity& e) { return e.kind == &kTouch; });
    if (!key || !touch) return std::nullopt;
    return Trigger{.key = "heard_touch" + std::to_string(*key),
                   .path = kTouchHeardPath,
                   .type = "touched",
                   .subtype = "key " + std::to_string(*key),
                   .payload = std::string(payload),
                   .device = touch->device};
}

}  // namespace

std::optional<Trigger> heardTrigger(std::string_view path, std::string_view payload,
                                    const std::vector<Entity>& entities) {
    if (payload.empty() || payload.size() > 200) return std::nullopt;
    if (path == kX10HeardPath) return x10Trigger(payload, entities);
    if (path == kIrHeardPath) return irTrigger(payload, entities);
    if (path == kTouchHeardPath) return touchTrigger(payload, entities);
    return std::nullopt;
}

std::vector<Trigger> namedTriggers(const std::vector<Entity>& entities) {
    std::vector<Trigger> out;
    for (const auto& e : entities)
        if (e.kind == &kIrButton && e.name)
            if (auto t = irTrigger(*e.name, entities)) out.push_back(std::move(*t));
    return out;
}

bool screenCommandTopic(std::string_view relative) {
    return relative == screenTopic(kScreen) || relative == screenTopic(kScreenWrite);
}

std::vector<Entity> entitiesOf(const std::vector<host::DeviceRecord>& devices, const entities::PluginFacts& facts,
                               const std::vector<entities::IrName>& irNames) {
    std::vector<Entity> out = fixedEntities();
    std::set<std::string> keys;
    for (const auto& e : out) keys.insert(e.key);
    auto add = [&](std::optional<Entity> e) {
        if (e && keys.insert(e->key).second) out.push_back(std::move(*e));
    };
    for (const auto& e : entities::entitiesOf(devices, facts)) add(entityOf(e));
    // The controller cannot tell whether a screen hangs on its bus; its host device
    // (made in the configuration window) is the user's word that one does.
    if (keys.contains(kLeopardTouchKey)) {
        add(Entity{
            .kind = &kScreen, .key = "screen", .path = kScreenPath, .name = "Screen", .device = leopardDevice()});
        add(Entity{.kind = &kScreenWrite, .key = "screen_write", .path = kScreenPath, .device = leopardDevice()});
    }
    for (const auto& ir : irNames) {
        add(Entity{.kind = &kIrButton,
                   .key = "ir" + std::to_string(ir.index),
                   .path = "ir/" + std::to_string(ir.index),
                   .name = toUtf8(ir.name),
                   .device = irDevice(),
                   .target = ir.playName});
    }
    return out;
}

}  // namespace varnel::bridge

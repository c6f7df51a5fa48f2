#include "bridge/entities.h"

#include <algorithm>
#include <set>

#include "bridge/text.h"
#include "console/selection.h"
#include "console/x10_functions.h"
#include "devices/device_model.h"
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

const char* moduleModel(int type) {
    switch (type) {
        case kSecu16: return "SECU16";
        case kSecu16I: return "SECU16I";
        case kRelay08: return "RELAY-08";
        default: return nullptr;
    }
}

// A module point: "unit!type!index!invert" in iomisc, the point number in dc. Topics
// and ids count as the host names the point: "Input 3", "Relay Output 1" (the SECU16's
// outputs come after its 8 inputs). The key keeps the older count of the points from 0.
std::optional<Entity> pointEntity(const host::DeviceRecord& d) {
    const auto unit = number(field(d.iomisc, '!', 1), 1, 128);
    const auto type = number(field(d.iomisc, '!', 2), 0, 255);
    const auto devNumber = number(d.dc, 1, 16);
    if (!unit || !type || !devNumber) return std::nullopt;
    const char* model = moduleModel(*type);
    if (!model) return std::nullopt;
    const int point = *devNumber - 1;
    const bool output = d.iotype == kIoOutput;
    const int named = output && *type == kSecu16 ? *devNumber - 8 : *devNumber;
    if (named < 1) return std::nullopt;
    const std::string u = std::to_string(*unit);
    const std::string n = std::to_string(named);
    const std::string name = displayName(d);
    return Entity{
        .kind = output ? &kOutput : &kInput,
        .key = "unit" + u + "_point" + std::to_string(point),
        .path = "unit/" + u + (output ? "/output/" : "/input/") + n,
        .name = name.empty() ? (output ? "Relay Output " : "Input ") + n : name,
        .objectId = "unit" + u + (output ? "_output" : "_input") + n,
        .device = {.key = "unit" + std::to_string(*unit),
                   .name = std::string(model) + " unit " + std::to_string(*unit),
                   .model = model,
                   .manufacturer = kManufacturer},
        .code = d.code(),
    };
}

std::optional<Entity> ownEntity(const host::DeviceRecord& d, const PluginFacts& facts) {
    if (d.iomisc == "leopard") {
        return Entity{.kind = &kTouch,
                      .key = kLeopardTouchKey,
                      .path = "leopard/touch",
                      .name = "Touch",
                      .device = leopardDevice(),
                      .code = d.code()};
    }
    if (d.iotype == kIoInput || d.iotype == kIoOutput) return pointEntity(d);
    if (d.iotype != kIoVariable || facts.varsHouseCode == 0 || d.hc.size() != 1) return std::nullopt;
    const int house = static_cast<unsigned char>(d.hc[0]);
    if (house != facts.varsHouseCode && house != facts.varsHouseCode + 1) return std::nullopt;
    const auto devNumber = number(d.dc, 1, 64);
    if (!devNumber) return std::nullopt;
    const int var = *devNumber - 1 + (house == facts.varsHouseCode ? 0 : 64);
    const std::string name = displayName(d);
    return Entity{.kind = &kVariable,
                  .key = "var" + std::to_string(var),
                  .path = "var/" + std::to_string(var),
                  .name = name.empty() ? "Variable " + std::to_string(var) : name,
                  .device = variablesDevice(),
                  .code = d.code(),
                  .number = var};
}

// An appliance module only switches; a lamp module, and whatever the host does not
// say, dims.
bool applianceModule(const host::DeviceRecord& d) {
    std::string_view type = d.dev_type_string;
    while (!type.empty() && type.front() == ' ') type.remove_prefix(1);
    while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
    return equalsNoCase(type, "Appliance Module");
}

// The host's own X10 devices: no interface, house A to P, unit 1 to 16.
std::optional<Entity> x10Entity(const host::DeviceRecord& d) {
    if (!d.interface_.empty() || d.hc.size() != 1 || d.hc[0] < 'A' || d.hc[0] > 'P') return std::nullopt;
    const auto unit = number(d.dc, 1, 16);
    if (!unit) return std::nullopt;
    const std::string code = d.hc + std::to_string(*unit);
    const std::string key = "x10_" + lower(code);
    const std::string name = displayName(d);
    const bool appliance = applianceModule(d);
    return Entity{
        .kind = appliance ? &kX10Switch : &kX10Light,
        .key = key,
        .path = "x10/" + code,
        .name = std::nullopt,
        .device = {.key = key,
                   .name = name.empty() ? "X10 " + code : name,
                   .model = appliance ? "X10 appliance module" : "X10 lamp module"},
        .code = code,
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

std::string displayName(const host::DeviceRecord& d) {
    const std::string& loc = d.location;
    const bool given = loc == "Ocelot" || loc == "Leopard" || loc.starts_with("Secu16 Unit ") ||
                       loc.starts_with("Secu16i Unit ") || loc.starts_with("Rly08 Unit ");
    std::string name = loc.empty() || given ? d.name : d.name.empty() ? loc : loc + " " + d.name;
    return toUtf8(name);
}

std::vector<Entity> entitiesOf(const std::vector<host::DeviceRecord>& devices, const PluginFacts& facts,
                               const std::vector<IrName>& irNames) {
    std::vector<Entity> out = fixedEntities();
    std::set<std::string> keys;
    for (const auto& e : out) keys.insert(e.key);
    auto add = [&](std::optional<Entity> e) {
        if (e && keys.insert(e->key).second) out.push_back(std::move(*e));
    };
    for (const auto& d : devices) {
        if (!facts.interfaceName.empty() && equalsNoCase(d.interface_, facts.interfaceName))
            add(ownEntity(d, facts));
        else
            add(x10Entity(d));
    }
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

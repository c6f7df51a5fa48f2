#include "entities/host_entity.h"

#include <set>

#include "console/selection.h"
#include "devices/device_model.h"
#include "support/codepage.h"
#include "support/text.h"

namespace varnel::entities {

namespace {

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

// A module point: "unit!type!index!invert" in iomisc, the point number in dc. The host
// names the SECU16's outputs after its 8 inputs: its point 8 is "Relay Output 1".
std::optional<Entity> pointEntity(const host::DeviceRecord& d) {
    const auto unit = number(field(d.iomisc, '!', 1), 1, 128);
    const auto type = number(field(d.iomisc, '!', 2), 0, 255);
    const auto devNumber = number(d.dc, 1, 16);
    if (!unit || !type || !devNumber) return std::nullopt;
    const char* model = moduleModel(*type);
    if (!model) return std::nullopt;
    const bool output = d.iotype == kIoOutput;
    const int named = output && *type == kSecu16 ? *devNumber - 8 : *devNumber;
    if (named < 1) return std::nullopt;
    std::string name = displayName(d);
    const bool own = !name.empty();
    if (!own) name = (output ? "Relay Output " : "Input ") + std::to_string(named);
    return Entity{.kind = output ? Kind::Output : Kind::Input,
                  .code = d.code(),
                  .name = std::move(name),
                  .named = own,
                  .unit = *unit,
                  .point = *devNumber - 1,
                  .pointNumber = named,
                  .model = model};
}

std::optional<Entity> ownEntity(const host::DeviceRecord& d, const PluginFacts& facts) {
    if (d.iomisc == "leopard") return Entity{.kind = Kind::Touch, .code = d.code(), .name = "Touch"};
    if (d.iotype == kIoInput || d.iotype == kIoOutput) return pointEntity(d);
    if (d.iotype != kIoVariable || facts.varsHouseCode == 0 || d.hc.size() != 1) return std::nullopt;
    const int house = static_cast<unsigned char>(d.hc[0]);
    if (house != facts.varsHouseCode && house != facts.varsHouseCode + 1) return std::nullopt;
    const auto devNumber = number(d.dc, 1, 64);
    if (!devNumber) return std::nullopt;
    const int var = *devNumber - 1 + (house == facts.varsHouseCode ? 0 : 64);
    std::string name = displayName(d);
    const bool own = !name.empty();
    if (!own) name = "Variable " + std::to_string(var);
    return Entity{.kind = Kind::Variable, .code = d.code(), .name = std::move(name), .named = own, .number = var};
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
    std::string name = displayName(d);
    const bool own = !name.empty();
    if (!own) name = "X10 " + code;
    return Entity{
        .kind = Kind::X10, .code = code, .name = std::move(name), .named = own, .appliance = applianceModule(d)};
}

}  // namespace

std::optional<Entity> entityOf(const host::DeviceRecord& d, const PluginFacts& facts) {
    if (!facts.interfaceName.empty() && equalsNoCase(d.interface_, facts.interfaceName)) return ownEntity(d, facts);
    return x10Entity(d);
}

std::vector<Entity> entitiesOf(const std::vector<host::DeviceRecord>& devices, const PluginFacts& facts) {
    std::vector<Entity> out;
    std::set<std::string> seen;
    for (const auto& d : devices) {
        auto e = entityOf(d, facts);
        if (!e) continue;
        std::string same;
        switch (e->kind) {
            case Kind::Variable: same = "v" + std::to_string(e->number); break;
            case Kind::Input:
            case Kind::Output: same = "p" + std::to_string(e->unit) + "." + std::to_string(e->point); break;
            case Kind::Touch: same = "t"; break;
            case Kind::X10: same = "x" + e->code; break;
        }
        if (seen.insert(same).second) out.push_back(std::move(*e));
    }
    return out;
}

std::string displayName(const host::DeviceRecord& d) {
    const std::string& loc = d.location;
    const bool given = loc == "Ocelot" || loc == "Leopard" || loc.starts_with("Secu16 Unit ") ||
                       loc.starts_with("Secu16i Unit ") || loc.starts_with("Rly08 Unit ");
    std::string name = loc.empty() || given ? d.name : d.name.empty() ? loc : loc + " " + d.name;
    return toUtf8(name);
}

}  // namespace varnel::entities

#include "sysmap/to_host.h"

#include <stdexcept>

#include "commands/ir_files.h"
#include "devices/device_model.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/host_access.h"
#include "support/text.h"

namespace varnel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHouseLetters = "ABCDEFGHIJKLMNOP";
constexpr int kVariableCount = 128;
constexpr int kX10Addresses = 256;
constexpr int kZoneLines = 16;

std::string quotedLine(std::string_view s) { return "\"" + std::string(s) + "\"\r\n"; }

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Every "IR Zone " removed in one left-to-right pass.
std::string withoutZoneWord(std::string_view s) {
    constexpr std::string_view word = "IR Zone ";
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (s.substr(i, word.size()) == word) {
            i += word.size();
        } else {
            out.push_back(s[i++]);
        }
    }
    return out;
}

// A name as CMAX shows it: the line without tabs, and without the stray CR of a line
// ended CR CR LF, which would otherwise end up inside a host name.
std::string nameText(std::string_view line) {
    std::string out = withoutTabs(line);
    std::erase(out, '\r');
    return out;
}

// The entry's name text; nothing when the line is not an entry of the current section.
std::optional<std::string> entryText(SystemMap& sm, std::int64_t id) {
    const MapRecord* r = sm.entry(id);
    if (!r) return std::nullopt;
    return nameText(sm.image.Line(*r));
}

fs::path synchronizedPath(const fs::path& live) {
    return live.parent_path() / ("Synchronized " + live.filename().string());
}

// Reading the old name is only for the record of changes; a host that fails it must
// not stop the renaming.
LocationName currentName(const Device& dv) {
    LocationName n;
    try {
        n.location = dv.location();
        n.name = dv.name();
    } catch (const std::exception&) {
    }
    return n;
}

void setName(SystemMap& sm, Device& dv, const std::string& code, std::string_view text, bool created) {
    const LocationName before = created ? LocationName{} : currentName(dv);
    // The project file holds the Windows code page, the host UTF-8.
    const LocationName after = splitLocationName(toUtf8(text));
    dv.set_location(after.location);
    dv.set_name(after.name);
    if (created || before.location != after.location || before.name != after.name)
        sm.log.devices.push_back({code, created, before.location, before.name, after.location, after.name});
}

void writeFile(DeviceLayer& ctx, SystemMap& sm, const fs::path& target, const std::string& bytes) {
    files::replaceFile(target, bytes, {.faults = &sm.faults});
    ctx.ir.filesPending = true;
    sm.log.filesWritten.push_back(target);
}

// The zone names of the current SECU16IR section, then 16 zones of "1".
void writeSynchronizedZones(DeviceLayer& ctx, SystemMap& sm) {
    if (!files::isRegularFile(sm.irZoneFile)) return;
    std::string out;
    for (int z = 0; z < kZoneLines; ++z) {
        const auto text = entryText(sm, std::int64_t{sm.sectionBase} + 1 + z);
        out += text && !startsWith(*text, "IR Zone #") ? quotedLine(withoutZoneWord(*text)) : quotedLine("");
    }
    for (int z = 0; z < kZoneLines; ++z) out += quotedLine("1");
    writeFile(ctx, sm, synchronizedPath(sm.irZoneFile), out);
}

using PointCreator = std::int32_t (*)(DeviceLayer&, const std::string&, std::int16_t, std::int16_t);

struct PointRun {
    int first, last;
    PointCreator create;
};

void namePoints(DeviceLayer& ctx, SystemMap& sm, const umap& m, std::initializer_list<PointRun> runs) {
    for (const PointRun& run : runs) {
        for (int p = run.first; p <= run.last; ++p) {
            if (!pointSelected(ctx, m.unit(), p - 1)) continue;
            const std::int32_t ref = run.create(ctx, m.hc() + std::to_string(p), m.unit(), m.invert());
            // The creator has reported why the host has no device; the name is dropped.
            if (ref < 0) {
                sm.noteFailure("DefineHSIO");
                continue;
            }
            PointNameToHS(ctx, sm, GetHSDevice(ctx, ref), m.unit());
        }
    }
}

}  // namespace

std::string StripPrefix(std::string_view text, std::string_view prefix) {
    const std::size_t n = prefix.size() + 1;
    if (text.size() > n && text.substr(0, prefix.size()) == prefix && (text[n - 1] == ' ' || text[n - 1] == '-'))
        return std::string(text.substr(n));
    return std::string(text);
}

LocationName splitLocationName(std::string_view text) {
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return {"Ocelot", std::string(text)};
    return {std::string(text.substr(0, blank)), std::string(text.substr(blank + 1))};
}

void SystemMapToHS(DeviceLayer& ctx, SystemMap& sm, const SyncIncludes& includes) {
    syncStep(ctx, sm, "SystemMapToHS", 1, [&] {
        if (includes.variables) DefineHSVariables(ctx, sm);
        if (includes.x10) DefineHSX10(ctx, sm);
        if (includes.io) DefineHSIO(ctx, sm);
        if (includes.ir) DefineHSIR(ctx, sm);
    });
}

void DefineHSVariables(DeviceLayer& ctx, SystemMap& sm) {
    syncStep(ctx, sm, "DefineHSVariables", 1, [&] {
        const auto header = sm.image.findLocalSection("Variables");
        if (!header) return;
        sm.enterSection(*header, *header);
        // Without a variables house code there are no variable devices to name.
        if (ctx.devices.varsHouseCode == 0) return;
        for (int k = 0; k < kVariableCount; ++k) {
            if (ctx.devices.varSelected[static_cast<std::size_t>(k)] == kFalse) continue;
            const auto text = entryText(sm, std::int64_t{sm.sectionBase} + 1 + k);
            if (text) CreateNamedDevice(ctx, sm, variableCode(ctx, k), *text, ctx.devices.interfaceName);
        }
        reportSectionWithoutEntries(ctx, sm);
    });
}

void DefineHSX10(DeviceLayer& ctx, SystemMap& sm) {
    syncStep(ctx, sm, "DefineHSX10", 1, [&] {
        const auto header = sm.image.findLocalSection("X-10");
        if (!header) return;
        sm.enterSection(*header, *header);
        for (int n = 0; n < kX10Addresses; ++n) {
            const MapRecord* r = sm.entry(std::int64_t{sm.sectionBase} + 1 + n);
            if (!r) continue;
            const std::string line = sm.image.Line(*r);
            // An address CMAX leaves unnamed; the bare 13 characters are taken as a name.
            if (line.size() > 13 && startsWith(line, "\t\t\tX-10 House")) continue;
            const std::string code = kHouseLetters[static_cast<std::size_t>(n / 16)] + std::to_string(n % 16 + 1);
            CreateNamedDevice(ctx, sm, code, nameText(line), "");
        }
        reportSectionWithoutEntries(ctx, sm);
    });
}

void DefineHSIO(DeviceLayer& ctx, SystemMap& sm) {
    // One failing module ends the whole step, so the copy keeps the walk safe too.
    syncStep(ctx, sm, "DefineHSIO", 1, [&] {
        const std::vector<umap> mappings = ctx.devices.mappings;
        for (const umap& m : mappings) {
            const auto header = sm.image.findModuleSection(std::to_string(m.unit()));
            if (!header) continue;
            sm.enterSection(*header, *header);
            switch (m.utype()) {
                case kSecu16: namePoints(ctx, sm, m, {{1, 8, &CreateInput16}, {9, 16, &CreateOutput16}}); break;
                case kSecu16I: namePoints(ctx, sm, m, {{1, 16, &CreateInput16i}}); break;
                case kRelay08: namePoints(ctx, sm, m, {{1, 8, &CreateOutputRly}}); break;
                case kSecu16IR: writeSynchronizedZones(ctx, sm); break;
                default: break;
            }
            reportSectionWithoutEntries(ctx, sm);
        }
    });
}

void PointNameToHS(DeviceLayer& ctx, SystemMap& sm, const std::shared_ptr<Device>& dv, std::int16_t /*unit*/) {
    syncStep(ctx, sm, "PointNameToHS", 1, [&] {
        if (!dv) return;
        const std::string hc = dv->hc();
        const std::string dc = dv->dc();
        const auto number = parseNumber(dc);
        if (!number) throw std::invalid_argument("Type mismatch");
        const auto text = entryText(sm, std::int64_t{sm.sectionBase} + toInt32(*number));
        if (!text) return;
        setName(sm, *dv, hc + dc, StripPrefix(*text, hc + dc), false);
    });
}

void CreateNamedDevice(DeviceLayer& ctx, SystemMap& sm, const std::string& code, const std::string& name,
                       const std::string& interfaceName) {
    syncStep(ctx, sm, "CreateNamedDevice", 1, [&] {
        const std::string text = StripPrefix(name, code);
        std::int32_t ref = hsDeviceExists(ctx, code);
        const bool created = ref < 0;
        if (created) ref = NewHSDevice(ctx, "New");
        if (ref < 0) return;
        const auto dv = GetHSDevice(ctx, ref);
        requireObject(dv);
        if (!interfaceName.empty()) {
            dv->set_interface(interfaceName);
            dv->set_iotype(kIoVariable);
            dv->set_Status(kStatusNew);
            dv->set_dev_type_string("Interface Variable");
        }
        dv->set_hc(code.substr(0, 1));
        dv->set_dc(code.size() > 1 ? code.substr(1) : std::string{});
        setName(sm, *dv, code, text, created);
    });
}

void DefineHSIR(DeviceLayer& ctx, SystemMap& sm) {
    syncStep(ctx, sm, "DefineHSIR", 1, [&] {
        if (!files::isRegularFile(sm.irLabelFile)) return;
        const auto header = sm.image.findLocalSection("Infra-Red");
        if (!header) return;
        sm.enterSection(*header, *header + 1);

        std::string out;
        for (const std::string& group : ctx.ir.groups) out += quotedLine(group);
        for (int i = 0; i < kIrLabelCount; ++i) {
            const std::string& group = ctx.ir.groups[static_cast<std::size_t>(i / kIrLabelsPerGroup)];
            const auto found = entryText(sm, std::int64_t{sm.sectionBase} + ctx.ir.lookup[static_cast<std::size_t>(i)]);
            std::string t;
            if (!found) {
                skipStep(ctx, 2, [&] {
                    ReportError(
                        ctx, kSourceVarnel,
                        "IR Record " + std::to_string(i) + " not in system map image, label deleted from irlbl.cfg");
                });
                clearPending(ctx);
            } else if (found->size() > 4 && startsWith(*found, "IR #")) {
                t.clear();  // a record CMAX leaves unnamed
            } else {
                t = StripPrefix(*found, group);
            }
            out += quotedLine(t);
        }
        reportSectionWithoutEntries(ctx, sm);
        writeFile(ctx, sm, synchronizedPath(sm.irLabelFile), out);
    });
}

}  // namespace varnel

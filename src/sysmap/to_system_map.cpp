#include "sysmap/to_system_map.h"

#include "commands/ir_files.h"
#include "devices/device_model.h"
#include "support/errors.h"

namespace varnel {

namespace {

constexpr std::string_view kHouseLetters = "ABCDEFGHIJKLMNOP";
constexpr int kVariableCount = 128;
constexpr int kZoneLines = 16;
// The zone file names 16 zones; anything bigger is not a zone file.
constexpr std::size_t kMaxZoneFileBytes = 1u << 20;

void setLine(SystemMap& sm, std::int64_t id, const std::string& line) {
    sm.image.setEntryLine(sm.sectionHeader, id, line);
}

// The first 16 lines of the zone file, double quotes removed.
std::vector<std::string> zoneNames(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    const auto bytes = readWholeFile(file, kMaxZoneFileBytes);
    if (!bytes) return lines;
    std::string_view rest = *bytes;
    while (!rest.empty() && lines.size() < kZoneLines) {
        const std::size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string name;
        for (char c : line)
            if (c != '"') name.push_back(c);
        lines.push_back(std::move(name));
    }
    return lines;
}

void saveZoneNames(SystemMap& sm) {
    if (!regularFileExists(sm.irZoneFile)) return;
    const auto names = zoneNames(sm.irZoneFile);
    for (std::size_t z = 0; z < names.size(); ++z) {
        // An empty line leaves its zone's name in the System Map as it is.
        if (names[z].empty()) continue;
        setLine(sm, std::int64_t{sm.sectionBase} + 1 + static_cast<std::int64_t>(z), "\t\tIR Zone " + names[z]);
    }
}

void savePoints(Context& ctx, SystemMap& sm, const umap& m, int lastFirstList, int lastSecondList) {
    for (int p = 1; p <= lastFirstList; ++p) SavePointName(ctx, sm, m.hc(), static_cast<std::int16_t>(p), m.unit());
    if (lastSecondList == 0) return;
    // The second list repeats the names of the first, 16 lines further on.
    sm.sectionBase += 16;
    for (int p = 1; p <= lastSecondList; ++p) SavePointName(ctx, sm, m.hc(), static_cast<std::int16_t>(p), m.unit());
}

}  // namespace

void HSToSystemMap(Context& ctx, SystemMap& sm, const SyncIncludes& includes) {
    reportStep(ctx, "HSToSystemMap", 1, [&] {
        if (includes.variables) MakeSystemMapVariables(ctx, sm);
        if (includes.x10) MakeSystemMapX10(ctx, sm);
        if (includes.io) MakeSystemMapIO(ctx, sm);
        if (includes.ir) MakeSystemMapIR(ctx, sm);
    });
    WriteSystemMap(ctx, sm);
}

void MakeSystemMapVariables(Context& ctx, SystemMap& sm) {
    reportStep(ctx, "MakeSystemMapVariables", 1, [&] {
        const auto header = sm.image.findLocalSection("Variables");
        if (!header) return;
        sm.enterSection(*header, *header);
        if (ctx.devices.varsHouseCode == 0) return;
        for (int k = 0; k < kVariableCount; ++k) {
            if (ctx.devices.varSelected[static_cast<std::size_t>(k)] == kFalse) continue;
            const std::string t = MakeSystemMap(ctx, variableCode(ctx, k));
            if (!t.empty()) setLine(sm, std::int64_t{sm.sectionBase} + 1 + k, "\t\t\t" + t);
        }
    });
}

void MakeSystemMapX10(Context& ctx, SystemMap& sm) {
    reportStep(ctx, "MakeSystemMapX10", 1, [&] {
        const auto header = sm.image.findLocalSection("X-10");
        if (!header) return;
        sm.enterSection(*header, *header);
        for (char letter : kHouseLetters) {
            for (int u = 1; u <= 16; ++u) {
                const std::string code = letter + std::to_string(u);
                const std::string t = MakeSystemMap(ctx, code);
                if (!t.empty()) setLine(sm, std::int64_t{sm.sectionBase} + u, "\t\t\t" + code + " " + t);
            }
            sm.sectionBase += 16;
        }
    });
}

void MakeSystemMapIR(Context& ctx, SystemMap& sm) {
    reportStep(ctx, "MakeSystemMapIR", 1, [&] {
        const auto header = sm.image.findLocalSection("Infra-Red");
        if (!header) return;
        sm.enterSection(*header, *header + 1);
        for (int i = 0; i < kIrLabelCount; ++i) {
            const std::string& group = ctx.ir.groups[static_cast<std::size_t>(i / kIrLabelsPerGroup)];
            const std::string& label = ctx.ir.labels.at(static_cast<std::size_t>(i));
            if (group.empty() || label.empty()) continue;
            setLine(sm, std::int64_t{sm.sectionBase} + ctx.ir.lookup[static_cast<std::size_t>(i)],
                    "\t\t\t" + group + " " + label);
        }
    });
}

void MakeSystemMapIO(Context& ctx, SystemMap& sm) {
    // One failing module ends the step for the modules after it.
    reportStep(ctx, "MakeSystemMapIO", 1, [&] {
        const std::vector<umap> mappings = ctx.devices.mappings;
        for (const umap& m : mappings) {
            const auto header = sm.image.findModuleSection(std::to_string(m.unit()));
            if (!header) continue;
            sm.enterSection(*header, *header);
            switch (m.utype()) {
                case kSecu16IR: saveZoneNames(sm); break;
                case kSecu16: savePoints(ctx, sm, m, 16, 8); break;
                case kSecu16I: savePoints(ctx, sm, m, 16, 16); break;
                case kRelay08: savePoints(ctx, sm, m, 8, 0); break;
                default: break;
            }
        }
    });
}

std::string MakeSystemMap(Context& ctx, const std::string& code) {
    std::string text;
    reportStep(ctx, "MakeSystemMap", 1, [&] {
        const std::int32_t ref = hsDeviceExists(ctx, code);
        if (ref < 0) return;
        const auto dv = GetHSDevice(ctx, ref);
        if (!dv) throw HostError("Object variable not set");
        // Both parts are written even when empty: a device with neither gives one blank.
        text = dv->location() + " " + dv->name();
    });
    return text;
}

void SavePointName(Context& ctx, SystemMap& sm, const std::string& hc, std::int16_t point, std::int16_t unit) {
    reportStep(ctx, "SavePointName", 1, [&] {
        if (!pointSelected(ctx, unit, point - 1)) return;
        const std::int64_t id = std::int64_t{sm.sectionBase} + point;
        if (!sm.image.entry(sm.sectionHeader, id)) return;
        const std::string code = hc + std::to_string(point);
        const std::string t = MakeSystemMap(ctx, code);
        if (!t.empty()) setLine(sm, id, "\t\t" + code + " " + t);
    });
}

}  // namespace varnel

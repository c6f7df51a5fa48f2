#include "sysmap/to_system_map.h"

#include <algorithm>

#include "commands/ir_files.h"
#include "devices/device_model.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/host_access.h"

namespace varnel {

namespace {

constexpr std::string_view kHouseLetters = "ABCDEFGHIJKLMNOP";
constexpr int kVariableCount = 128;
constexpr int kZoneLines = 16;

// A host name as the project file holds it.
struct MapText {
    std::string text;      // in the code page; "" when the host has no such device
    std::string lostFrom;  // the host's text, when a character of it had to become "?"
};

// Sets the line of entry `id` of the current section. A line that cannot be stored (a
// line break in a host name, more than 255 characters) is reported and skipped alone,
// so the entries after it are still written.
void setLine(DeviceLayer& ctx, SystemMap& sm, const std::string& procedure, std::int64_t id, const std::string& line,
             const std::string& lostFrom = {}) {
    if (!sm.entry(id)) return;
    const bool set = syncStep(ctx, sm, procedure, 2, [&] {
        try {
            sm.image.setEntryLine(sm.sectionHeader, id, line);
        } catch (const std::exception& e) {
            throw std::runtime_error("line " + std::to_string(id) + " not written: " + e.what());
        }
    });
    auto& lost = sm.log.namesOutsideCodePage;
    if (set && !lostFrom.empty() && std::find(lost.begin(), lost.end(), lostFrom) == lost.end())
        lost.push_back(lostFrom);
}

// The first 16 lines of the zone file, double quotes removed.
std::vector<std::string> zoneNames(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    files::LineReader in(file, kIrFileLimits);
    std::string line;
    while (lines.size() < kZoneLines && in.next(line)) {
        std::erase(line, '"');
        lines.push_back(line);
    }
    return lines;
}

void saveZoneNames(DeviceLayer& ctx, SystemMap& sm) {
    if (!files::isRegularFile(sm.irZoneFile)) return;
    const auto names = zoneNames(sm.irZoneFile);
    for (std::size_t z = 0; z < names.size(); ++z) {
        // An empty line leaves its zone's name in the System Map as it is.
        if (names[z].empty()) continue;
        setLine(ctx, sm, "MakeSystemMapIO", std::int64_t{sm.sectionBase} + 1 + static_cast<std::int64_t>(z),
                "\t\tIR Zone " + names[z]);
    }
}

// MakeSystemMap, with a failure noted in the synchronisation's log.
MapText textOf(DeviceLayer& ctx, SystemMap& sm, const std::string& code) {
    MapText out;
    syncStep(ctx, sm, "MakeSystemMap", 1, [&] {
        const std::int32_t ref = hsDeviceExists(ctx, code);
        if (ref < 0) return;
        const auto dv = GetHSDevice(ctx, ref);
        requireObject(dv);
        // Both parts are written even when empty: a device with neither gives one blank.
        std::string text = dv->location() + " " + dv->name();
        // Tabs give a project line its level and are dropped when it is read back.
        std::replace(text.begin(), text.end(), '\t', ' ');
        // The host speaks UTF-8, CMAX its Windows code page.
        CodePageText converted = toCodePage(text, '?');
        if (!converted.complete) out.lostFrom = text;
        out.text = std::move(converted.bytes);
    });
    return out;
}

void savePoints(DeviceLayer& ctx, SystemMap& sm, const umap& m, int lastFirstList, int lastSecondList) {
    for (int p = 1; p <= lastFirstList; ++p) SavePointName(ctx, sm, m.hc(), static_cast<std::int16_t>(p), m.unit());
    if (lastSecondList == 0) return;
    // The second list repeats the names of the first, 16 lines further on.
    sm.sectionBase += 16;
    for (int p = 1; p <= lastSecondList; ++p) SavePointName(ctx, sm, m.hc(), static_cast<std::int16_t>(p), m.unit());
}

}  // namespace

void HSToSystemMap(DeviceLayer& ctx, SystemMap& sm, const SyncIncludes& includes) {
    syncStep(ctx, sm, "HSToSystemMap", 1, [&] {
        if (includes.variables) MakeSystemMapVariables(ctx, sm);
        if (includes.x10) MakeSystemMapX10(ctx, sm);
        if (includes.io) MakeSystemMapIO(ctx, sm);
        if (includes.ir) MakeSystemMapIR(ctx, sm);
    });
    WriteSystemMap(ctx, sm);
}

void MakeSystemMapVariables(DeviceLayer& ctx, SystemMap& sm) {
    syncStep(ctx, sm, "MakeSystemMapVariables", 1, [&] {
        const auto header = sm.image.findLocalSection("Variables");
        if (!header) return;
        sm.enterSection(*header, *header);
        if (ctx.devices.varsHouseCode == 0) return;
        for (int k = 0; k < kVariableCount; ++k) {
            if (ctx.devices.varSelected[static_cast<std::size_t>(k)] == kFalse) continue;
            const MapText t = textOf(ctx, sm, variableCode(ctx, k));
            if (!t.text.empty())
                setLine(ctx, sm, "MakeSystemMapVariables", std::int64_t{sm.sectionBase} + 1 + k, "\t\t\t" + t.text,
                        t.lostFrom);
        }
        reportSectionWithoutEntries(ctx, sm);
    });
}

void MakeSystemMapX10(DeviceLayer& ctx, SystemMap& sm) {
    syncStep(ctx, sm, "MakeSystemMapX10", 1, [&] {
        const auto header = sm.image.findLocalSection("X-10");
        if (!header) return;
        sm.enterSection(*header, *header);
        for (char letter : kHouseLetters) {
            for (int u = 1; u <= 16; ++u) {
                const std::string code = letter + std::to_string(u);
                const MapText t = textOf(ctx, sm, code);
                if (t.text.empty()) continue;
                std::string line = "\t\t\t" + code;
                line += ' ';
                line += t.text;
                setLine(ctx, sm, "MakeSystemMapX10", std::int64_t{sm.sectionBase} + u, line, t.lostFrom);
            }
            sm.sectionBase += 16;
        }
        reportSectionWithoutEntries(ctx, sm);
    });
}

void MakeSystemMapIR(DeviceLayer& ctx, SystemMap& sm) {
    syncStep(ctx, sm, "MakeSystemMapIR", 1, [&] {
        const auto header = sm.image.findLocalSection("Infra-Red");
        if (!header) return;
        sm.enterSection(*header, *header + 1);
        for (int i = 0; i < kIrLabelCount; ++i) {
            const std::string& group = ctx.ir.groups[static_cast<std::size_t>(i / kIrLabelsPerGroup)];
            const std::string& label = ctx.ir.labels.at(static_cast<std::size_t>(i));
            if (group.empty() || label.empty()) continue;
            std::string line = "\t\t\t" + group;
            line += ' ';
            line += label;
            setLine(ctx, sm, "MakeSystemMapIR",
                    std::int64_t{sm.sectionBase} + ctx.ir.lookup[static_cast<std::size_t>(i)], line);
        }
        reportSectionWithoutEntries(ctx, sm);
    });
}

void MakeSystemMapIO(DeviceLayer& ctx, SystemMap& sm) {
    // One failing module ends the step for the modules after it.
    syncStep(ctx, sm, "MakeSystemMapIO", 1, [&] {
        const std::vector<umap> mappings = ctx.devices.mappings;
        for (const umap& m : mappings) {
            const auto header = sm.image.findModuleSection(std::to_string(m.unit()));
            if (!header) continue;
            sm.enterSection(*header, *header);
            switch (m.utype()) {
                case kSecu16IR: saveZoneNames(ctx, sm); break;
                case kSecu16: savePoints(ctx, sm, m, 16, 8); break;
                case kSecu16I: savePoints(ctx, sm, m, 16, 16); break;
                case kRelay08: savePoints(ctx, sm, m, 8, 0); break;
                default: break;
            }
            reportSectionWithoutEntries(ctx, sm);
        }
    });
}

std::string MakeSystemMap(DeviceLayer& ctx, const std::string& code) {
    SystemMap unused;
    return textOf(ctx, unused, code).text;
}

void SavePointName(DeviceLayer& ctx, SystemMap& sm, const std::string& hc, std::int16_t point, std::int16_t unit) {
    syncStep(ctx, sm, "SavePointName", 1, [&] {
        if (!pointSelected(ctx, unit, point - 1)) return;
        const std::int64_t id = std::int64_t{sm.sectionBase} + point;
        if (!sm.entry(id)) return;
        const std::string code = hc + std::to_string(point);
        const MapText t = textOf(ctx, sm, code);
        if (!t.text.empty()) setLine(ctx, sm, "SavePointName", id, "\t\t" + code + " " + t.text, t.lostFrom);
    });
}

}  // namespace varnel

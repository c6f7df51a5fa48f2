#include "devices/mappings.h"

#include <cmath>
#include <cstdio>

#include "support/errors.h"
#include "support/text.h"

namespace varnel {

std::string numText(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) return std::to_string(static_cast<long long>(v));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

std::string mappingEntry(std::string_view unit, std::string_view type, std::string_view hc, std::string_view invert) {
    std::string e;
    e.append(unit).append("!").append(type).append("!").append(hc).append("!").append(invert).append(",");
    return e;
}

bool hasMappingEntry(std::string_view text, std::string_view unit, std::string_view type) {
    for (const auto& entry : split(text, ',')) {
        if (entry.empty()) continue;
        const auto f = split(entry, '!');
        if (f.size() >= 2 && f[0] == unit && f[1] == type) return true;
    }
    return false;
}

void addDeviceMapping(std::string& text, std::string_view iomisc, std::string_view hc, std::string_view defaultInvert) {
    if (iomisc.empty()) return;
    const auto f = split(iomisc, '!');
    if (f.size() < 2) return;
    const std::string invert = f.size() >= 4 ? f[3] : std::string(defaultInvert);
    // A separator inside a field would shift every later entry of the text.
    for (std::string_view part : {std::string_view(f[0]), std::string_view(f[1]), std::string_view(invert), hc})
        if (part.find(',') != std::string_view::npos) return;
    if (hc.find('!') != std::string_view::npos) return;
    if (hasMappingEntry(text, f[0], f[1])) return;
    text += mappingEntry(f[0], f[1], hc, invert);
}

void buildMappings(DeviceLayer& ctx, std::string_view text) {
    auto& dm = ctx.devices;
    dm.mappings.clear();
    dm.mappingIndex.clear();
    for (const auto& entry : split(text, ',')) {
        if (entry.empty()) continue;
        umap m;
        skipStep(ctx, 1, [&] { m.set_unit(toInt16(numericValue(field(entry, '!', 1)))); });
        skipStep(ctx, 2, [&] { m.set_utype(toInt16(numericValue(field(entry, '!', 2)))); });
        m.set_hc(field(entry, '!', 3));
        skipStep(ctx, 3, [&] { m.set_invert(toInt16(numericValue(field(entry, '!', 4)))); });
        // A second mapping with the same house code keeps the first one's position.
        dm.mappingIndex.emplace(m.hc(), static_cast<int>(dm.mappings.size()));
        dm.mappings.push_back(std::move(m));
    }
    clearPending(ctx);
}

const umap* mappingOfUnit(const DeviceLayer& ctx, int unit) {
    for (const auto& m : ctx.devices.mappings)
        if (m.unit() == unit) return &m;
    return nullptr;
}

}  // namespace varnel

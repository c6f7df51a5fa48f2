#include "devices/events.h"

#include <optional>
#include <string>

#include "commands/block_reads.h"
#include "commands/x10_commands.h"
#include "devices/device_model.h"
#include "devices/mappings.h"
#include "support/errors.h"
#include "support/host_access.h"
#include "support/logging.h"

namespace varnel {

namespace {

constexpr int kPresetDimLow = 26;   // levels 0..15
constexpr int kPresetDimHigh = 31;  // levels 16..31

// Host command of an X10 function key code (16..30, preset dims apart).
std::optional<std::int16_t> functionCommand(int k) {
    if (k >= 16 && k <= 25) return static_cast<std::int16_t>(k - 16);
    if (k >= 27 && k <= 30) return static_cast<std::int16_t>(k - 15);
    return std::nullopt;
}

void deliver(DeviceLayer& ctx, const std::string& house, std::int16_t command, const std::string& level) {
    const std::string addresses = ctx.x10.addressList;
    ctx.x10.addressList.clear();
    requireCallback(ctx.host).X10Event(addresses, house, command, level, "");
}

}  // namespace

void x10Handler(DeviceLayer& ctx, const std::array<std::uint8_t, 4>& report) {
    if (!ctx.controller.x10Interface) return;
    const int h = report[1];
    const int k = report[2];
    // Only a house index that still makes a one-byte letter can be delivered.
    if (65 + h > 255) return;
    const std::string letter(1, static_cast<char>(65 + h));

    skipStep(ctx, 1, [&] {
        if (k < 16) {
            const std::string address = letter + std::to_string(k + 1);
            auto& list = ctx.x10.addressList;
            list = list.empty() ? address : list + "+" + address;
            return;
        }
        if (k == kPresetDimLow || k == kPresetDimHigh) {
            const auto& table = ctx.controller.presetDim;
            for (int i = 0; i < 16; ++i) {
                if (table[static_cast<std::size_t>(i)] != h) continue;
                const int level = k == kPresetDimLow ? i : i + 16;
                const std::string house = ctx.x10.addressList.substr(0, 1);
                deliver(ctx, house, k == kPresetDimLow ? kX10Preset : kX10PresetHigh, std::to_string(level));
                return;
            }
            return;  // a level code outside the table names no level
        }
        if (const auto command = functionCommand(k)) deliver(ctx, letter, *command, "");
    });
    clearPending(ctx);
}

void HandleIOPointChange(DeviceLayer& ctx, const std::array<std::uint8_t, 4>& report) {
    const int m = report[1];
    const int p = report[2];
    const int v = report[3];
    reportStep(ctx, "HandleIOPointChange", 1, [&] {
        commLog(ctx, "IO point change mod= " + std::to_string(m) + " point= " + std::to_string(p) +
                         " newval= " + std::to_string(v));
    });
    ioPointStore(ctx, m, p, v);

    const umap* map = mappingOfUnit(ctx, m);
    if (!map || map->hc().empty()) return;
    if (p + 1 < 1 || p + 1 > 16) return;
    const PointShown shown = pointShown(map->utype(), p, map->invert(), ioPointLookup(ctx, m, p));

    const std::string code = map->hc() + std::to_string(p + 1);
    bool foreign = false;
    reportStep(ctx, "HandleIOPointChange", 7, [&] { foreign = foreignDeviceAt(ctx, code); });
    if (foreign) return;
    reportStep(ctx, "HandleIOPointChange", 7, [&] {
        Host& hs = requireHost(ctx.host);
        Callback& callback = requireCallback(ctx.host);
        hs.SetDeviceStatus(code, shown.status);
        callback.ValueChangeEvent(code, shown.value);
    });
    reportStep(ctx, "HandleIOPointChange", 8,
               [&] { commLog(ctx, "Set HS device: " + code + " to " + (shown.status == kStatusOn ? "ON" : "OFF")); });
}

}  // namespace varnel

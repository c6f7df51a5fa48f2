#include "entities/plugin_view.h"

#include <algorithm>
#include <map>

#include "commands/ir_files.h"
#include "plugin/hspi.h"
#include "support/text.h"

namespace varnel::entities {

PluginFacts PluginView::facts() const {
    const DeviceLayer& ctx = plugin_.context();
    const bool found = ctx.controller.irSize != 0 || ctx.controller.varSelector != std::array<std::uint8_t, 2>{};
    return PluginFacts{
        .interfaceName = ctx.devices.interfaceName,
        .varsHouseCode = ctx.devices.varsHouseCode,
        .linkUp = found && ctx.link.commStarted && ctx.controller.linkFailure == 0,
        .varsRead = ctx.timers.varsCached,
        .timeouts = ctx.images.timeoutTotal,
        .checksumErrors = ctx.images.checksumTotal,
        .queueFull = ctx.queue.count >= CommandQueue::kSize,
    };
}

bool PluginView::controllerPending() const {
    const PluginState& ctx = plugin_.context();
    const bool found = ctx.controller.irSize != 0 || ctx.controller.varSelector != std::array<std::uint8_t, 2>{};
    return ctx.health.startupRunning || (!found && ctx.health.startup.empty());
}

LineShare PluginView::lineShare() const {
    const DeviceLayer& ctx = plugin_.context();
    LineShare share{.queued = ctx.queue.count, .nextPollMs = std::nullopt};
    const Timer* t = ctx.timers.timer2.get();
    if (t && t->enabled() && ctx.timers.timer2TickMs >= 0) share.nextPollMs = ctx.timers.timer2TickMs + t->interval();
    return share;
}

std::vector<IrName> PluginView::irNames() const {
    const DeviceLayer& ctx = plugin_.context();
    std::map<int, IrName> byIndex;
    for (const auto& [key, value] : ctx.ir.dictionary) {
        const auto index = parseNumber(field(value, ',', 1));
        if (!index || *index < 0 || *index >= kIrNamedGroups * kIrLabelsPerGroup) continue;
        const int i = static_cast<int>(*index);
        const std::string& group = ctx.ir.groups[static_cast<std::size_t>(i / kIrLabelsPerGroup)];
        const std::string& label = ctx.ir.labels[static_cast<std::size_t>(i)];
        // The dictionary keeps its names in capitals; the label tables, once a System Map
        // sync has read them, have them as the user wrote them.
        std::string written = group;
        written += ' ';
        written += label;
        std::string name = upper(written) == key ? written : key;
        byIndex.try_emplace(i, IrName{.index = i, .name = std::move(name), .playName = key});
    }
    std::vector<IrName> out;
    out.reserve(byIndex.size());
    for (auto& [i, n] : byIndex) out.push_back(std::move(n));
    return out;
}

std::optional<std::string> PluginView::irLabelOf(int code) const {
    const DeviceLayer& ctx = plugin_.context();
    for (const auto& n : irNames())
        if (ctx.ir.lookup[static_cast<std::size_t>(n.index)] == code) return n.name;
    return std::nullopt;
}

}  // namespace varnel::entities

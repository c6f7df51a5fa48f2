#include "web/state_view.h"

#include "console/console_parts.h"
#include "devices/device_model.h"
#include "plugin/health.h"
#include "plugin/hspi.h"

namespace varnel::web {

namespace {

LinkView linkOf(const PluginState& ctx) {
    LinkView v;
    v.text = linkStateText(ctx);
    if (ctx.timers.disconnectRequest && !ctx.link.commStarted) {
        v.state = "disconnected";
        v.disconnectedBy = ctx.timers.cmaxLaunch ? "cmax" : "user";
        return v;
    }
    switch (ctx.health.state) {
        case LinkHealth::State::Starting:
            if (ctx.health.startupRunning && !ctx.ending) {
                v.state = "starting";
                return v;
            }
            break;
        case LinkHealth::State::Reconnecting:
            v.state = "reconnecting";
            v.since = ctx.health.downSince;
            return v;
        case LinkHealth::State::Up: break;
    }
    // Stopped or a closed port: nothing answers, and the text says why.
    v.state = ctx.ending || !ctx.link.portOpen ? "disconnected" : "up";
    return v;
}

}  // namespace

PluginStateView readPluginState(const HSPI& plugin) {
    const PluginState& ctx = plugin.context();
    PluginStateView v;
    v.link = linkOf(ctx);
    if (!ctx.health.startup.empty()) {
        v.startup = ctx.health.startup;
        v.startupEnded = ctx.health.startupEnded;
    }
    for (int unit = 1; unit <= 128; ++unit) {
        const int type = moduleTypeOf(ctx, unit);
        if (type != 0) v.modules.push_back({.unit = unit, .type = type, .typeName = console::detail::moduleName(type)});
    }
    if (ctx.link.lastReplyMs >= 0) v.lastReplyAgoMs = ctx.platform.loop.tickMs() - ctx.link.lastReplyMs;
    v.timeouts = ctx.images.timeoutTotal;
    v.checksumErrors = ctx.images.checksumTotal;
    v.reportsHandled = ctx.link.reportsHandled;
    v.queued = ctx.queue.count;
    return v;
}

std::vector<PointKind> modulePoints(int type) {
    switch (type) {
        case kSecu16: {
            std::vector<PointKind> out(8, PointKind::Input);
            out.resize(16, PointKind::Output);
            return out;
        }
        case kSecu16I: return std::vector<PointKind>(16, PointKind::Input);
        case kRelay08: return std::vector<PointKind>(8, PointKind::Output);
        default: return {};
    }
}

}  // namespace varnel::web

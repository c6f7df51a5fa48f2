#include "plugin/health.h"

#include <chrono>
#include <cstdio>

#include "link/serial_link.h"

namespace varnel {

namespace {

std::string seconds(std::int64_t ms) {
    char buf[32];
    if (ms < 100'000)
        std::snprintf(buf, sizeof buf, "%.1f s", static_cast<double>(ms) / 1000.0);
    else
        std::snprintf(buf, sizeof buf, "%lld s", static_cast<long long>(ms / 1000));
    return buf;
}

std::string clockTime(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto day = floor<days>(t);
    const hh_mm_ss hms{floor<std::chrono::seconds>(t - day)};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", static_cast<long>(hms.hours().count()),
                  static_cast<long>(hms.minutes().count()), static_cast<long>(hms.seconds().count()));
    return buf;
}

int modulesFound(const PluginState& ctx) {
    int n = 0;
    for (std::size_t i = 0; i < 128; ++i) n += ctx.controller.moduleTypes[i] != 0 ? 1 : 0;
    return n;
}

std::string startupText(const PluginState& ctx) {
    if (ctx.health.startupRunning)
        return "running for " + seconds(ctx.platform.loop.tickMs() - ctx.health.startupBeganMs);
    return ctx.health.startup.empty() ? "not run" : ctx.health.startup;
}

}  // namespace

void startupBegins(PluginState& ctx) {
    ctx.health.startupRunning = true;
    ctx.link.lastStep.clear();
    ctx.health.startupBeganMs = ctx.platform.loop.tickMs();
}

void startupEnds(PluginState& ctx) {
    auto& h = ctx.health;
    h.startupRunning = false;
    if (h.state == LinkHealth::State::Starting) h.state = LinkHealth::State::Up;
    const std::string took = seconds(ctx.platform.loop.tickMs() - h.startupBeganMs);
    std::string result;
    if (!ctx.link.portOpen) {
        result = "failed, the port is not open";
    } else if (ctx.controller.linkFailure != 0) {
        result = "failed, no answer from the controller";
    } else {
        const int modules = modulesFound(ctx);
        result = "ok, " + std::to_string(modules) + (modules == 1 ? " module" : " modules");
    }
    h.startup = result + " (" + took + ")";
    h.startupEnded = ctx.platform.loop.wallClock();
    startupStep(ctx, "done in " + took + ": " + result);
}

std::string linkStateText(const PluginState& ctx) {
    const auto now = ctx.platform.loop.tickMs();
    if (ctx.timers.disconnectRequest && !ctx.link.commStarted)
        return ctx.timers.cmaxLaunch ? "disconnected for CMAX" : "disconnected by the user";
    switch (ctx.health.state) {
        case LinkHealth::State::Starting:
            if (ctx.health.startupRunning && !ctx.ending) return "starting";
            break;
        case LinkHealth::State::Reconnecting:
            return "reconnecting since " + clockTime(ctx.health.downSince) + " (" +
                   seconds(now - ctx.health.downSinceMs) + ")";
        case LinkHealth::State::Up: break;
    }
    if (ctx.ending) return "stopped";
    if (!ctx.link.portOpen) return "down, the port is closed";
    return ctx.controller.linkFailure != 0 ? "up, the controller does not answer" : "up";
}

std::string lastReplyText(const PluginState& ctx) {
    if (ctx.link.lastReplyMs < 0) return "never";
    return seconds(ctx.platform.loop.tickMs() - ctx.link.lastReplyMs) + " ago";
}

std::vector<std::string> healthLines(const PluginState& ctx) {
    return {
        "link: " + linkStateText(ctx) + "; last good reply " + lastReplyText(ctx),
        "counts: " + std::to_string(ctx.images.timeoutTotal) + " time-outs, " +
            std::to_string(ctx.images.checksumTotal) + " checksum errors, " + std::to_string(ctx.link.reportsHandled) +
            " reports handled, " + std::to_string(ctx.queue.count) + " commands queued",
        "start-up: " + startupText(ctx),
    };
}

std::string healthSummary(const PluginState& ctx) { return "link " + linkStateText(ctx) + ", " + healthDetails(ctx); }

std::string healthDetails(const PluginState& ctx) {
    return "last reply " + lastReplyText(ctx) + ", " + std::to_string(ctx.images.timeoutTotal) + " time-outs, " +
           std::to_string(ctx.images.checksumTotal) + " checksum errors, " + std::to_string(ctx.link.reportsHandled) +
           " reports, " + std::to_string(ctx.queue.count) + " queued, start-up " + startupText(ctx);
}

}  // namespace varnel

#include "service_status.h"

#include "plugin/health.h"

namespace varnel::app {

std::string serviceStatus(const PluginState& ctx, std::size_t devices) {
    std::string controller;
    if (!ctx.link.portOpen) {
        controller = "port closed";
    } else if (ctx.controller.linkFailure != 0) {
        controller = "controller not answering";
    } else {
        // Discovery fills these in; they stay empty when nothing answered.
        const bool found = ctx.controller.irSize != 0 || ctx.controller.varSelector != std::array<std::uint8_t, 2>{};
        controller = found ? "controller ok" : "controller not found";
    }
    return controller + ", " + std::to_string(devices) + (devices == 1 ? " device" : " devices") + ", " +
           healthSummary(ctx);
}

}  // namespace varnel::app

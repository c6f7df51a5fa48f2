#include "service_status.h"

#include "plugin/health.h"

namespace varnel::app {

std::string serviceStatus(const PluginState& ctx, std::size_t devices) {
    // The link's own words when something is wrong with it, so that nothing is said twice.
    const std::string link = linkStateText(ctx);
    std::string lead = "link " + link;
    if (link == "up") {
        // Discovery fills these in; they stay empty when nothing answered.
        const bool found = ctx.controller.irSize != 0 || ctx.controller.varSelector != std::array<std::uint8_t, 2>{};
        lead = found ? "controller ok" : "controller not found";
    }
    return lead + ", " + std::to_string(devices) + (devices == 1 ? " device" : " devices") + ", " + healthDetails(ctx);
}

}  // namespace varnel::app

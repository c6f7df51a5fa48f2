#pragma once
// The one-line state of a run, for systemd's STATUS= (what `systemctl status` shows).
#include <cstddef>
#include <string>

#include "plugin/plugin_state.h"

namespace varnel::app {

[[nodiscard]] std::string serviceStatus(const PluginState& ctx, std::size_t devices);

}  // namespace varnel::app

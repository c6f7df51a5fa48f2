#pragma once
// How the controller link is doing, in words: the start-up's summary, the link state,
// the time since the last good reply and the counts, for `status` and the service manager.
#include <string>
#include <vector>

#include "plugin/plugin_state.h"

namespace varnel {

// Around a start-up (the first one and each one after a reconnect): the summary line
// goes to the start-up hook and stays as the start-up result.
void startupBegins(PluginState& ctx);
void startupEnds(PluginState& ctx);

// "up", "reconnecting since 14:02:11 (35 s)", "disconnected by the user", ...
[[nodiscard]] std::string linkStateText(const PluginState& ctx);
// "0.4 s ago", "never"
[[nodiscard]] std::string lastReplyText(const PluginState& ctx);
// The console's lines.
[[nodiscard]] std::vector<std::string> healthLines(const PluginState& ctx);
// One line for the service manager's status.
[[nodiscard]] std::string healthSummary(const PluginState& ctx);
// The same without the link's state: last reply, counts, start-up.
[[nodiscard]] std::string healthDetails(const PluginState& ctx);

}  // namespace varnel

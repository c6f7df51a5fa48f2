#pragma once
// The console's `history`: the series a device's code or name, `var N` or a series id
// names, and its kept changes as lines.
#include <cstdint>
#include <string>
#include <variant>

#include "console/console.h"
#include "entities/plugin_view.h"
#include "history/store.h"

namespace varnel {
class EmbeddedHost;
}

namespace varnel::history {

// A series id as the routes take it ("var:12", "unit:1:point:5", "link", ...).
[[nodiscard]] bool isSeriesId(std::string_view id);

struct Refusal {
    std::string text;
};
// The series `target` names: a series id as it is, else a host device by code (in any
// case) or by name.
[[nodiscard]] std::variant<std::string, Refusal> seriesNamed(const std::string& target, const EmbeddedHost& host,
                                                             const entities::PluginView& view);

// A stored value as the console and the history CSV show it: whole numbers without a
// fraction, others to six significant digits.
[[nodiscard]] std::string valueText(double v);

// "2026-12-08 19:20:05" in local time.
[[nodiscard]] std::string localTime(std::int64_t ms);

// "history: 1234567 changes since 2026-11-09 10:00:00, 120 MiB of 512 MiB (every change 7 days, intervals 365)"
[[nodiscard]] std::string statusLine(Store& store);

[[nodiscard]] console::Reply historyReply(Store& store, const EmbeddedHost& host, const entities::PluginView& view,
                                          const console::cmd::History& h, std::int64_t nowMs);

}  // namespace varnel::history

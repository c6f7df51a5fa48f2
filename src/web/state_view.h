#pragma once
// What the page shows of the plug-in itself rather than of the host: every such read
// is in state_view.cpp and nowhere else.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnel {
class HSPI;
}

namespace varnel::web {

struct LinkView {
    std::string state;  // "up", "reconnecting", "disconnected", "starting"
    std::string text;   // the console's words, "reconnecting since 14:02:11 (35 s)"
    std::optional<std::chrono::system_clock::time_point> since;
    std::optional<std::string> disconnectedBy;  // "user", "cmax"
    bool operator==(const LinkView&) const = default;
};

struct ModuleView {
    int unit = 0;
    int type = 0;
    std::string typeName;  // "SECU16", "RELAY-08", "type 9"
    bool operator==(const ModuleView&) const = default;
};

enum class PointKind : std::uint8_t { Input, Output };

struct PluginStateView {
    LinkView link;
    std::optional<std::string> startup;  // the last start-up's result
    std::chrono::system_clock::time_point startupEnded;
    std::vector<ModuleView> modules;
    std::optional<std::int64_t> lastReplyAgoMs;
    std::uint64_t timeouts = 0;
    std::uint64_t checksumErrors = 0;
    std::uint64_t reportsHandled = 0;
    int queued = 0;
};

[[nodiscard]] PluginStateView readPluginState(const HSPI& plugin);

// The points a module type has, in order 0..15, with their kind; none for a module
// without points the plug-in mirrors.
[[nodiscard]] std::vector<PointKind> modulePoints(int type);

}  // namespace varnel::web

#include "history/settings.h"

#include <charconv>

namespace varnel::history {

std::optional<std::string> applyNumber(Settings& s, std::string_view key, std::string_view text) {
    for (const Range& r : kRanges) {
        if (r.key != key) continue;
        int n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || n < r.low || n > r.high)
            return "needs a whole number from " + std::to_string(r.low) + " to " + std::to_string(r.high);
        s.*r.field = n;
        return std::nullopt;
    }
    return "is not a history setting";
}

std::optional<std::string> settingsProblem(const Settings& s) {
    if (s.keepDays < s.rawDays)
        return "history_days (" + std::to_string(s.keepDays) + ") is shorter than history_raw_days (" +
               std::to_string(s.rawDays) + ")";
    return std::nullopt;
}

}  // namespace varnel::history

#pragma once
// How long history is kept and how large it may grow: the `history*` keys of [varnel].
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnel::history {

struct Settings {
    bool enabled = true;
    // Every change is kept this long; after that only the per-interval minimum, maximum
    // and last value.
    int rawDays = 7;
    // The per-interval rows go after this; never shorter than rawDays.
    int keepDays = 365;
    int foldMinutes = 5;
    // The database's pages in use; past it the oldest changes go first (folded early),
    // then the oldest intervals. An SD card of a few GB keeps room for the rest.
    int maxMb = 512;
};

// One numeric key: its range, for the check and the messages.
struct Range {
    std::string_view key;
    int low, high;
    int Settings::*field;
};
inline constexpr Range kRanges[] = {
    {.key = "history_raw_days", .low = 1, .high = 3650, .field = &Settings::rawDays},
    {.key = "history_days", .low = 1, .high = 36500, .field = &Settings::keepDays},
    {.key = "history_fold_minutes", .low = 1, .high = 1440, .field = &Settings::foldMinutes},
    {.key = "history_max_mb", .low = 1, .high = 1'000'000, .field = &Settings::maxMb},
};

// Reads `text` into the key's field; what is wrong with it otherwise (without the text,
// which the caller shows escaped).
[[nodiscard]] std::optional<std::string> applyNumber(Settings& s, std::string_view key, std::string_view text);
// What does not fit together once every key is read.
[[nodiscard]] std::optional<std::string> settingsProblem(const Settings& s);

}  // namespace varnel::history

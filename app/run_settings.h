#pragma once
// The options of `varnel run`, one row each. Every option can be given on the command
// line and as a key of the section "varnel" in the host directory's
// config/settings.ini (the plug-in keeps its own section there); the command line
// wins, then the environment (for the rows that name a variable), then the file.
// Rows without a flag (credentials) come from the file or the environment only.
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli.h"

namespace varnel::app {

struct RunSetting {
    std::string_view key;               // in the section "varnel"
    std::string_view flag = {};         // "--port"; empty: not on the command line
    std::string_view arg = {};          // the value's name in the help ("DEVICE"); empty: a switch
    std::string_view switchValue = {};  // the value a switch stands for ("1", "0")
    // A row of a group given on the command line hides the file's rows of that group
    // (--simulate on the command line overrides port= in the file).
    std::string_view group = {};
    std::string_view env = {};  // environment variable
    bool repeatable = false;    // each value adds to the others (the file repeats the key)
    bool appOption = false;     // one of the Home Assistant app's options (ha_app.h)
    // Takes one value into the options; says what is wrong with it otherwise.
    std::optional<std::string> (*apply)(RunOptions&, std::string_view value) = nullptr;
    std::string_view help = {};
};

inline constexpr std::string_view kRunSection = "varnel";

[[nodiscard]] std::span<const RunSetting> runSettings();

// A time in seconds above 0 (and below ten years); nothing for anything else.
[[nodiscard]] std::optional<double> parseSeconds(std::string_view text);

// The option lines of `varnel run --help`.
[[nodiscard]] std::string runSettingsHelp(std::span<const RunSetting> table = runSettings());

using EnvLookup = std::function<const char*(const char* name)>;

// Adds the file's and the environment's settings to `o`, which holds the command
// line's (their keys in o.fromCommandLine). `fileName` is only for messages.
// Returns one line naming the file (or variable) and key when a value is bad.
[[nodiscard]] std::optional<std::string> addHostSettings(RunOptions& o, std::string_view fileText,
                                                         const std::string& fileName, const EnvLookup& env,
                                                         std::span<const RunSetting> table = runSettings());

// The same with the host directory's file (none there: nothing from it).
[[nodiscard]] std::optional<std::string> addHostSettings(RunOptions& o, const EnvLookup& env);

// Demo options are for the simulator: from the command line without it they are a
// usage error (returned); from the file they are dropped.
[[nodiscard]] std::optional<std::string> settleDemoOptions(RunOptions& o);

[[nodiscard]] std::filesystem::path hostSettingsFile(const std::filesystem::path& hostDir);

}  // namespace varnel::app

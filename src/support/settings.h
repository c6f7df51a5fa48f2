#pragma once
// Settings live in the host's settings file (section "hspi_tarnwick") when the
// host has one, else in the per-user store. Values are text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/core.h"

namespace varnel {

inline constexpr const char* kSection = "hspi_tarnwick";

// Stored text or `fallback`; empty when the host call fails.
std::string ReadSetting(Core& ctx, const std::string& section, const std::string& key, const std::string& fallback);
// Reads from the chosen store section (the store name).
inline std::string ReadSetting(Core& ctx, const std::string& key, const std::string& fallback) {
    return ReadSetting(ctx, ctx.settings.storeName, key, fallback);
}
// Writes at once; a failing host call writes nothing.
void WriteSetting(Core& ctx, const std::string& key, const std::string& value);
// Decides the ini mode and moves older per-user settings into the host file once.
void MoveSettingsToIni(Core& ctx);
// Store name from the iniFile setting (registration, after the move).
void ChooseStoreName(Core& ctx);

// How a setting's text is read. A key has one kind, one default and one spelling
// (stored in users' files: never respelled), so every reader agrees on it.
enum class SettingKind : std::uint8_t {
    Text,    // as stored
    Switch,  // on only for the text "1"
    Number,  // the leading number, 0 for text that starts with none
};

struct SettingKey {
    const char* key;
    const char* fallback;
    SettingKind kind;
    // A setting people type in: the name of its field in messages, and the whole
    // numbers it takes (min..max). Without a field the text is stored as given.
    const char* field = nullptr;
    std::int32_t min = 0;
    std::int32_t max = 0;
};

namespace setting {
// COM1 is the first serial device; a number past the last one opens nothing.
inline constexpr SettingKey kComport{
    .key = "comport", .fallback = "1", .kind = SettingKind::Number, .field = "Com port", .min = 1, .max = 256};
// Timer milliseconds by pollIntervalMs (devices/var_timer.h); kept as text. Each variable
// poll holds the line for a block read (about 0.3 s at 9600 baud), so a shorter interval
// only starves the host's own commands; a minute is the slowest that still mirrors.
inline constexpr SettingKey kPollInterval{.key = "poll_interval",
                                          .fallback = "500",
                                          .kind = SettingKind::Text,
                                          .field = "Poll interval",
                                          .min = 100,
                                          .max = 60'000};
inline constexpr SettingKey kLogErrors{"log_errors", "1", SettingKind::Number};
inline constexpr SettingKey kLogComms{"log_comms", "0", SettingKind::Number};
inline constexpr SettingKey kX10Xmit{"X10Xmit", "0", SettingKind::Number};
inline constexpr SettingKey kInvert{"invert", "0", SettingKind::Number};
inline constexpr SettingKey kUpdateStrings{"UpdateStrings", "0", SettingKind::Number};
inline constexpr SettingKey kLeopardVar{"leopard_var", "-1", SettingKind::Text};
inline constexpr SettingKey kInterfaceName{"InterfaceName", "0", SettingKind::Number};
inline constexpr SettingKey kRunAsXapNode{"RunAsXapNode", "0", SettingKind::Number};
inline constexpr SettingKey kShowInMenu{"showInMenu", "1", SettingKind::Switch};
inline constexpr SettingKey kRecognition{"Recognition", "0", SettingKind::Number};
inline constexpr SettingKey kSyncMaster{"SyncMaster", "0", SettingKind::Switch};
inline constexpr SettingKey kIncludeVariables{"IncludeVariables", "0", SettingKind::Number};
inline constexpr SettingKey kIncludeX10{"IncludeX10", "0", SettingKind::Number};
inline constexpr SettingKey kIncludeIO{"IncludeIO", "0", SettingKind::Number};
inline constexpr SettingKey kIncludeIR{"IncludeIR", "0", SettingKind::Number};
inline constexpr SettingKey kIncludeMessages{"IncludeMessages", "0", SettingKind::Number};
inline constexpr SettingKey kProjectFile{"ProjectFile", "", SettingKind::Text};
inline constexpr SettingKey kCmaxFile{"CMAXFile", "", SettingKind::Text};
inline constexpr SettingKey kIrMaxFile{"IRMAXFile", "", SettingKind::Text};
inline constexpr SettingKey kMappings{"mappings", "", SettingKind::Text};
inline constexpr SettingKey kBaseVar{"base_var", "", SettingKind::Text};
// Always in the "settings" section: it names the section the others live in.
inline constexpr SettingKey kIniFile{"iniFile", "0", SettingKind::Number};
// In the host's file only: the per-user settings were moved there.
inline constexpr SettingKey kRegMoved{"reg_moved", "0", SettingKind::Number};
}  // namespace setting

// The stored text, whatever the kind (the default when there is none).
std::string readText(Core& ctx, const SettingKey& s);
// A Number setting's value.
double readNumber(Core& ctx, const SettingKey& s);
// A Number setting narrowed to 16 bits; std::overflow_error when it does not fit.
std::int16_t readInt16(Core& ctx, const SettingKey& s);
// Whether a Switch setting is "1", or a Number setting is not 0.
bool readSwitch(Core& ctx, const SettingKey& s);
void writeSetting(Core& ctx, const SettingKey& s, const std::string& value);

// Field checks: text typed for a setting (in the window, on the web page), checked before
// anything is stored. A field's text is a whole number in the setting's range, blanks
// around it allowed.
// The number the text holds, nothing when it is not one in range.
[[nodiscard]] std::optional<std::int32_t> fieldValue(const SettingKey& s, std::string_view text);
// Nothing when the text is fine, else a message that names the field.
[[nodiscard]] std::optional<std::string> checkField(const SettingKey& s, std::string_view text);
[[nodiscard]] inline std::optional<std::string> checkComPort(std::string_view text) {
    return checkField(setting::kComport, text);
}
[[nodiscard]] inline std::optional<std::string> checkPollInterval(std::string_view text) {
    return checkField(setting::kPollInterval, text);
}
// Digits only, blanks around them allowed; nothing for a sign, a point, letters, an
// empty text, or more than nine digits (shown to people, so never past int32).
[[nodiscard]] std::optional<std::int32_t> wholeNumberIn(std::string_view text, std::int32_t min, std::int32_t max);

}  // namespace varnel

#pragma once
// Settings live in the host's settings file (section "hspi_tarnwick") when the
// host has one, else in the per-user store. Values are text.
#include <cstdint>
#include <string>

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
};

namespace setting {
inline constexpr SettingKey kComport{"comport", "1", SettingKind::Number};
// Timer milliseconds by pollIntervalMs (devices/var_timer.h); kept as text.
inline constexpr SettingKey kPollInterval{"poll_interval", "500", SettingKind::Text};
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

}  // namespace varnel

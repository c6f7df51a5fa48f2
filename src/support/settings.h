#pragma once
// Settings live in the host's settings file (section "hspi_tarnwick") when the
// host has one, else in the per-user store. Values are text.
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
// Numeric reading of a setting (0 for text that is not a number).
double settingNumber(Core& ctx, const std::string& key, const std::string& fallback);

}  // namespace varnel

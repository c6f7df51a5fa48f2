#include "support/settings.h"

#include <filesystem>

#include "support/errors.h"
#include "support/host_access.h"
#include "support/text.h"

namespace varnel {

std::string ReadSetting(Core& ctx, const std::string& section, const std::string& key, const std::string& fallback) {
    std::string value;
    skipStep(ctx, 1, [&] {
        if (ctx.settings.iniMode) {
            value = requireHost(ctx.host).GetIniSetting(kSection, key, fallback);
        } else {
            value = ctx.platform.userSettings.get(kSection, section, key, fallback);
        }
    });
    clearPending(ctx);
    return value;
}

void WriteSetting(Core& ctx, const std::string& key, const std::string& value) {
    skipStep(ctx, 1, [&] {
        if (ctx.settings.iniMode) {
            requireHost(ctx.host).SaveIniSetting(kSection, key, value);
        } else {
            ctx.platform.userSettings.set(kSection, "settings", key, value);
        }
    });
    clearPending(ctx);
}

void MoveSettingsToIni(Core& ctx) {
    const bool ok = skipStep(ctx, 1, [&] {
        Host& hs = requireHost(ctx.host);
        const std::filesystem::path path = std::filesystem::path(hs.GetAppPath()) / "config" / "settings.ini";
        if (!std::filesystem::exists(path)) {
            ctx.settings.iniMode = false;
            return;
        }
        const auto moved =
            toInt16(numericValue(hs.GetIniSetting(kSection, setting::kRegMoved.key, setting::kRegMoved.fallback)));
        if (moved == 0) {
            hs.MoveSettings("Software\\VB and VBA Program Settings\\hspi_tarnwick\\Settings", "settings");
            hs.SaveIniSetting(kSection, setting::kRegMoved.key, "1");
        }
        ctx.settings.iniMode = true;
    });
    if (!ok) {
        ctx.settings.iniMode = false;
        clearPending(ctx);
    }
}

void ChooseStoreName(Core& ctx) {
    const SettingKey& iniFile = setting::kIniFile;
    ctx.settings.storeName =
        numericValue(ReadSetting(ctx, "settings", iniFile.key, iniFile.fallback)) == 0 ? "settings" : "Varnel.ini";
}

std::string readText(Core& ctx, const SettingKey& s) { return ReadSetting(ctx, s.key, s.fallback); }

double readNumber(Core& ctx, const SettingKey& s) { return numericValue(readText(ctx, s)); }

std::int16_t readInt16(Core& ctx, const SettingKey& s) { return toInt16(readNumber(ctx, s)); }

bool readSwitch(Core& ctx, const SettingKey& s) {
    if (s.kind == SettingKind::Switch) return readText(ctx, s) == "1";
    return readNumber(ctx, s) != 0;
}

void writeSetting(Core& ctx, const SettingKey& s, const std::string& value) { WriteSetting(ctx, s.key, value); }

std::optional<std::int32_t> wholeNumberIn(std::string_view text, std::int32_t min, std::int32_t max) {
    constexpr std::size_t kMaxDigits = 9;
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (text.size() > kMaxDigits) return std::nullopt;
    std::int32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<std::int32_t> fieldValue(const SettingKey& s, std::string_view text) {
    return wholeNumberIn(text, s.min, s.max);
}

std::optional<std::string> checkField(const SettingKey& s, std::string_view text) {
    if (fieldValue(s, text)) return std::nullopt;
    const std::string field = s.field != nullptr ? s.field : s.key;
    return field + " must be a whole number from " + std::to_string(s.min) + " to " + std::to_string(s.max);
}

}  // namespace varnel

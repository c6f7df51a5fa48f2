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

}  // namespace varnel

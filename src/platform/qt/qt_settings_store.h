#pragma once
// The per-user settings store on QSettings: one INI file per application under
// the organisation "varnel" (~/.config/varnel/<app>.conf), sections as groups.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"

namespace varnel {

class QtSettingsStore final : public SettingsStore {
public:
    // The user's configuration directory; tests give a directory of their own.
    QtSettingsStore() = default;
    explicit QtSettingsStore(std::filesystem::path dir) : dir_(std::move(dir)) {}

    [[nodiscard]] std::string get(const std::string& app, const std::string& section, const std::string& key,
                                  const std::string& fallback) const override;
    // Written through at once, as every setting change is.
    void set(const std::string& app, const std::string& section, const std::string& key,
             const std::string& value) override;
    // Names with path separators in them come back with '_' in their place.
    [[nodiscard]] std::vector<std::string> keys(const std::string& app, const std::string& section) const override;

    // Where the application's file lives.
    [[nodiscard]] std::filesystem::path fileOf(const std::string& app) const;

private:
    std::optional<std::filesystem::path> dir_;
};

}  // namespace varnel

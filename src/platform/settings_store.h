#pragma once
// Per-user key-value store (application, section, key) for hosts without a settings file.
#include <string>

namespace varnel {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    [[nodiscard]] virtual std::string get(const std::string& app, const std::string& section,
                                          const std::string& key, const std::string& fallback) const = 0;
    virtual void set(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) = 0;
};

}  // namespace varnel

#pragma once
// Per-user key-value store (application, section, key) for hosts without a settings file.
#include <string>
#include <vector>

namespace varnel {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    [[nodiscard]] virtual std::string get(const std::string& app, const std::string& section, const std::string& key,
                                          const std::string& fallback) const = 0;
    virtual void set(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) = 0;
    // The keys stored under (app, section), for moving them elsewhere.
    [[nodiscard]] virtual std::vector<std::string> keys(const std::string& app, const std::string& section) const = 0;
};

}  // namespace varnel

#pragma once
#include <map>
#include <string>
#include <tuple>

#include "platform/settings_store.h"

namespace varnel {

class MemorySettings final : public SettingsStore {
public:
    [[nodiscard]] std::string get(const std::string& app, const std::string& section, const std::string& key,
                                  const std::string& fallback) const override {
        auto it = values.find({app, section, key});
        return it == values.end() ? fallback : it->second;
    }
    void set(const std::string& app, const std::string& section, const std::string& key,
             const std::string& value) override {
        values[{app, section, key}] = value;
    }
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
};

}  // namespace varnel

#pragma once
#include <map>
#include <string>
#include <tuple>
#include <vector>

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
    [[nodiscard]] std::vector<std::string> keys(const std::string& app, const std::string& section) const override {
        std::vector<std::string> out;
        for (const auto& [k, v] : values)
            if (std::get<0>(k) == app && std::get<1>(k) == section) out.push_back(std::get<2>(k));
        return out;
    }
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
};

}  // namespace varnel

#include "bridge/installation.h"

#include <random>

#include "bridge/settings.h"
#include "support/text.h"

namespace varnel::bridge {

namespace {

constexpr std::size_t kMinIdentity = 4;
// "varnel-" and the id stay within the 23 bytes every MQTT 3.1.1 broker takes as a client id.
constexpr std::size_t kMaxIdentity = 16;
constexpr int kNewIdentityDigits = 12;

bool lowerAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::optional<std::string> identityProblem(std::string_view id) {
    if (id.size() < kMinIdentity || id.size() > kMaxIdentity)
        return "needs " + std::to_string(kMinIdentity) + " to " + std::to_string(kMaxIdentity) +
               " lowercase letters and digits";
    for (char c : id)
        if (!lowerAlnum(c)) return std::string("needs lowercase letters and digits only");
    return std::nullopt;
}

std::string newIdentity() {
    std::random_device random;
    std::uniform_int_distribution<int> digit(0, 15);
    std::string id;
    for (int i = 0; i < kNewIdentityDigits; ++i) id += "0123456789abcdef"[digit(random)];
    return id;
}

Installation settleInstallation(const std::optional<std::string>& storedId, bool storedLegacy, bool usedBefore,
                                const std::function<void(std::string_view key, const std::string& value)>& save,
                                const std::function<std::string()>& make) {
    if (storedId) return Installation{.id = *storedId, .legacyIds = storedLegacy};
    Installation made{.id = make(), .legacyIds = storedLegacy || usedBefore};
    if (made.legacyIds && !storedLegacy) save(kLegacyIdsKey, "1");
    save(kIdentityKey, made.id);
    return made;
}

bool holdsPluginSettings(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
        if (!equalsNoCase(trimmed(line.substr(1, line.size() - 2)), kSettingsSection)) return true;
    }
    return false;
}

}  // namespace varnel::bridge

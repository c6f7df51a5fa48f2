#pragma once
// Each host directory is an installation with an id of its own, made once and kept in
// its settings (section "varnel"). It goes into every name outside that must differ
// between installations on one broker: the MQTT client id, the unique ids and device
// identifiers of Home Assistant, and the mark that tells whose a retained config is.
// People never see it as a name.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace varnel::bridge {

inline constexpr std::string_view kIdentityKey = "identity";
inline constexpr std::string_view kLegacyIdsKey = "legacy_ids";

struct Installation {
    std::string id;  // "3f9a1c2b7e4d"
    // Unique ids as before installations had ids: Home Assistant keys its users'
    // settings of an entity by its unique id, so a host directory that ran an earlier
    // varnel keeps the ones it had.
    bool legacyIds = false;
    bool operator==(const Installation&) const = default;
};

// Why `id` cannot be an installation's id; nothing when it can.
std::optional<std::string> identityProblem(std::string_view id);

// Twelve random lowercase hex digits.
std::string newIdentity();

// The installation as the settings hold it, or, with no id there yet, a new one saved
// through `save` (key, value). `usedBefore`: the host directory already held devices
// or plug-in settings, so an earlier varnel ran there and kept the old unique ids. The
// legacy mark is saved before the id, so that a run stopped between the two writes
// still decides the same the next time.
Installation settleInstallation(const std::optional<std::string>& storedId, bool storedLegacy, bool usedBefore,
                                const std::function<void(std::string_view key, const std::string& value)>& save,
                                const std::function<std::string()>& make = newIdentity);

// Whether settings text holds a section other than "varnel": the plug-in's own.
bool holdsPluginSettings(std::string_view settingsText);

}  // namespace varnel::bridge

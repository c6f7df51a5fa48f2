#pragma once
// The host directory's installation id (bridge/installation.h), made at the run that
// finds none and kept in the settings file.
#include <cstddef>
#include <exception>
#include <string>

#include "bridge/installation.h"
#include "cli.h"
#include "files/files.h"
#include "host/embedded_host.h"
#include "run_settings.h"

namespace varnel::app {

inline constexpr std::size_t kMaxSettingsText = std::size_t{4} * 1024 * 1024;  // as the host takes it

// Before the plug-in starts: its settings or devices here mean an earlier varnel ran
// in this host directory. Throws HostError when the id cannot be saved.
inline bridge::Installation installationOf(const RunOptions& o, EmbeddedHost& host) {
    bool usedBefore = !host.devices().empty();
    if (!o.identity && !usedBefore) {
        try {
            usedBefore = bridge::holdsPluginSettings(
                files::readFile(host.settingsFile(), {.maxBytes = kMaxSettingsText}).value_or(""));
        } catch (const std::exception&) {
            usedBefore = true;  // the ids as they were are the safe choice
        }
    }
    return bridge::settleInstallation(o.identity, o.legacyIds, usedBefore,
                                      [&host](std::string_view key, const std::string& value) {
                                          host.SaveIniSetting(std::string(kRunSection), std::string(key), value);
                                      });
}

}  // namespace varnel::app

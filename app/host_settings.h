#pragma once
// After registration the plug-in keeps its settings in the host directory's own
// settings file. When it could not decide so, it would fall back to the per-user
// store, which every host directory shares: a run stops instead.
#include <optional>
#include <string>

#include "host/embedded_host.h"
#include "plugin/hspi.h"

namespace varnel::app {

// Why the run cannot go on, or nothing.
inline std::optional<std::string> settingsElsewhere(HSPI& hspi, const EmbeddedHost& host) {
    if (hspi.context().settings.iniMode) return std::nullopt;
    return "the settings file " + host.settingsFile().string() + " cannot be used";
}

}  // namespace varnel::app

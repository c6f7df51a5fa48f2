#pragma once
// The host's objects as the plug-in calls them. A missing one fails the call
// with the error the host's runtime raises for an unset object, so every
// caller's trap sees the same text.
#include <memory>

#include "platform/host_api.h"
#include "support/core.h"

namespace varnel {

inline constexpr const char* kObjectNotSet = "Object variable not set";

template <class T>
T& requireObject(const std::shared_ptr<T>& object) {
    if (!object) throw HostError(kObjectNotSet);
    return *object;
}

inline Host& requireHost(const HostState& host) { return requireObject(host.hs); }
inline Callback& requireCallback(const HostState& host) { return requireObject(host.callback); }

}  // namespace varnel

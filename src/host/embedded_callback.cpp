#include "host/embedded_callback.h"

namespace varnel {

using host::HostEvent;

void EmbeddedCallback::X10Event(const std::string& addresses, const std::string& house, std::int16_t command,
                                const std::string& level, const std::string& extra) {
    host_->record({.kind = HostEvent::Kind::X10,
                   .code = house,
                   .value = command,
                   .addresses = addresses,
                   .level = level,
                   .extra = extra});
}

void EmbeddedCallback::IREvent(std::int16_t code) { host_->record({.kind = HostEvent::Kind::IR, .value = code}); }

void EmbeddedCallback::ValueChangeEvent(const std::string& code, std::int32_t value) {
    // A value-change trigger carries the device's new value: the host keeps it, so a
    // later DeviceValue (the plug-in's first variable pass after a restart) sees it.
    host_->storeValue(code, value);
    host_->record({.kind = HostEvent::Kind::ValueChange, .code = code, .value = value});
}

}  // namespace varnel

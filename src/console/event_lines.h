#pragma once
// One readable console line per thing the host saw, for the live display of
// `varnel run`: wire EmbeddedHost::onEvent to print describeEvent(event, &host).
#include <string>

#include "host/device_table.h"
#include "host/host_events.h"

namespace varnel {
class EmbeddedHost;
}

namespace varnel::console {

// "X10 received: A1+A3 on", "IR received: code 5",
// "#5 (Variable 4, Ocelot) value changed to 42", "[6 (Input 6, Secu16 Unit 1) set on".
// With `host`, device codes are named after their device.
std::string describeEvent(const host::HostEvent& event, const EmbeddedHost* host = nullptr);
// "#5 (Variable 4, Ocelot): on, value 42"
std::string describeDevice(const host::DeviceRecord& device);

}  // namespace varnel::console

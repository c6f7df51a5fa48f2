#pragma once
// Host requests to change a point or a variable: they go to the host device
// when one mirrors the target, otherwise to the command queue.
#include <cstdint>
#include <memory>
#include <string>

#include "devices/device_state.h"

namespace varnel {

// A mapped unit's point changes only its host device; an unmapped unit gets a
// queued point write.
void SetPoint(DeviceLayer& ctx, std::int16_t unit, std::int16_t point, std::int16_t value);
// A device under the variables' house codes becomes a queued variable write;
// an own output device is set in the host; a mapped point device becomes a
// queued point write. Commands 2 and 3 on a variable are rewritten to 19.
void SetIO(DeviceLayer& ctx, const std::shared_ptr<Device>& dv, const std::string& housecode,
           const std::string& devicecode, std::int16_t& command, std::int16_t& brightness, std::int16_t data1,
           std::int16_t data2);

}  // namespace varnel

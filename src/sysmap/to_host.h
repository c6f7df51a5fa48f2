#pragma once
// System Map to host: the names that CMAX holds become the host devices' locations and
// names, and the System Map's IR record and zone names go into "Synchronized " copies
// of the IR label and zone files, swapped in when the host shuts down.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "devices/device_state.h"
#include "sysmap/system_map.h"

namespace varnel {

// Runs the steps whose box is ticked, in this order: variables, X10, I/O units, IR labels.
void SystemMapToHS(DeviceLayer& ctx, SystemMap& sm, const SyncIncludes& includes);
void DefineHSVariables(DeviceLayer& ctx, SystemMap& sm);
void DefineHSX10(DeviceLayer& ctx, SystemMap& sm);
void DefineHSIO(DeviceLayer& ctx, SystemMap& sm);
void DefineHSIR(DeviceLayer& ctx, SystemMap& sm);

// Names a module point's device from its entry in the current module section.
// `unit` is not needed; it is kept for the callers' symmetry.
void PointNameToHS(DeviceLayer& ctx, SystemMap& sm, const std::shared_ptr<Device>& dv, std::int16_t unit);
// Gives the device with `code` the location and name in `name` (its code in front
// removed), creating it when the host has none. A non-empty interface name also stamps
// the device as one of the plug-in's variables.
void CreateNamedDevice(DeviceLayer& ctx, SystemMap& sm, const std::string& code, const std::string& name,
                       const std::string& interfaceName);

// `text` without a leading `prefix` and the one blank or "-" after it; unchanged when
// it is not longer than that.
std::string StripPrefix(std::string_view text, std::string_view prefix);

struct LocationName {
    std::string location, name;
};
// "Hall Motion Sensor" -> "Hall" / "Motion Sensor"; a text without a blank -> "Ocelot" / text.
LocationName splitLocationName(std::string_view text);

}  // namespace varnel

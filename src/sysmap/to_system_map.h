#pragma once
// Host to System Map: the host locations and names of the mirrored variables, the X10
// addresses and the mirrored I/O points, the IR labels and the live IR zone names are
// written into the matching lines of the image, and the image goes back to the
// project file. Only lines inside their own section are ever changed.
#include <cstdint>
#include <string>

#include "devices/device_state.h"
#include "sysmap/system_map.h"

namespace varnel {

// Runs the steps whose box is ticked (variables, X10, I/O units, IR labels), then always
// writes the project file back.
void HSToSystemMap(DeviceLayer& ctx, SystemMap& sm, const SyncIncludes& includes);
void MakeSystemMapVariables(DeviceLayer& ctx, SystemMap& sm);
void MakeSystemMapX10(DeviceLayer& ctx, SystemMap& sm);
void MakeSystemMapIR(DeviceLayer& ctx, SystemMap& sm);
void MakeSystemMapIO(DeviceLayer& ctx, SystemMap& sm);

// "location name" of the host device with `code`, in the project file's code page; ""
// when the host has none.
std::string MakeSystemMap(DeviceLayer& ctx, const std::string& code);
// Writes point `point` of the module with house code `hc` into the current module section.
void SavePointName(DeviceLayer& ctx, SystemMap& sm, const std::string& hc, std::int16_t point, std::int16_t unit);

}  // namespace varnel

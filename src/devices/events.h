#pragma once
// The controller's own X10 and I/O change reports, turned into host events.
#include <array>
#include <cstdint>

#include "devices/device_state.h"
#include "link/reports.h"

namespace varnel {

// Bytes 1 and 2: house index (0 = A) and key code. Unit addresses gather in
// the address list until a function arrives and is delivered with them.
void x10Handler(DeviceLayer& ctx, const std::array<std::uint8_t, 4>& report);
// Bytes 1 to 3: module, point, raw value. Updates the I/O image and the
// point's host device (when its module has a mapping).
void HandleIOPointChange(DeviceLayer& ctx, const std::array<std::uint8_t, 4>& report);

// What a mirrored point's host device shows for the point's image value
// (ioPointLookup). Outputs show "on" for the opposite value from inputs and
// ignore the unit's invert flag; the report handler and the point check both
// go by this, so a write the host made is not undone and redone.
struct PointShown {
    HostStatus status;  // on or off
    int value;          // for the value-change event
};
bool isOutputPoint(std::int16_t moduleType, int index);
PointShown pointShown(std::int16_t moduleType, int index, std::int16_t invert, int value);

// Which reader heard a report: its comms-log lines and error reports say so.
enum class ReportPath : std::uint8_t { ResponseLoop, Timer };
// Turns one report into host calls. A failing host call is reported under the
// reader's procedure text and stops only this report.
void dispatchReport(DeviceLayer& ctx, const ControllerReport& report, ReportPath path);

}  // namespace varnel

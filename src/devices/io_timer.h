#pragma once
// The I/O and event timer: reads the reports the controller sent while no
// command was waiting, works off the command queue, brings the host devices of
// the mirrored points in step when asked, and carries out a disconnection or
// CMAX run. The port's receive event and QExec run the same tick.
#include "devices/device_state.h"

namespace varnel {

void Timer3_Timer(DeviceLayer& ctx);

// The parts of a tick, in the order the tick runs them.
void readReports(DeviceLayer& ctx);
void runQueuedCommand(DeviceLayer& ctx, const QueueRecord& rec);
void runQueueAndChecks(DeviceLayer& ctx);
void compareIOPoints(DeviceLayer& ctx);
void disconnectAndRunCmax(DeviceLayer& ctx);

// Procedure text of the tick's error reports.
inline constexpr const char* kTimer3Procedure = "Timer3 Line ";
// More reports than this in one tick wait for the next tick.
inline constexpr int kMaxReportsPerTick = 256;

}  // namespace varnel

#pragma once
// The I/O and event timer: reads the reports the controller sent while no
// command was waiting, works off the command queue, brings the host devices of
// the mirrored points in step when asked, and carries out a disconnection or
// CMAX run. The port's receive event and QExec run the same tick.
#include <string>

#include "devices/device_state.h"

namespace varnel {

void Timer3_Timer(DeviceLayer& ctx);

// The parts of a tick, in the order the tick runs them.
void readReports(DeviceLayer& ctx);
void runQueuedCommand(DeviceLayer& ctx, const QueueRecord& rec);
void runQueueAndChecks(DeviceLayer& ctx);
void compareIOPoints(DeviceLayer& ctx);
void disconnectAndRunCmax(DeviceLayer& ctx);
// CMAX has ended (or could not start): a failure is reported, the link taken up again
// and the host's "AfterCMAX" script run.
void cmaxEnded(DeviceLayer& ctx, const ProgramEnd& end);

// A program started from the window that failed: the host log under `procedure`, and
// the window while it is open.
void reportProgramFailure(DeviceLayer& ctx, const std::string& procedure, const std::string& text);
// At a stop: CMAX and IR_MAX are asked to end (killed after a grace), then their
// handles dropped, which kills what still runs.
void stopStartedPrograms(DeviceLayer& ctx);
void endStartedPrograms(DeviceLayer& ctx);

// Procedure text of the tick's error reports.
inline constexpr const char* kTimer3Procedure = "Timer3 Line ";
// CMAX and IR_MAX failures are reported under the window's button procedures.
inline constexpr const char* kCmaxProcedure = "aCMAX_Click";
inline constexpr const char* kIrMaxProcedure = "aIRMax_Click";
// More reports than this in one tick wait for the next tick.
inline constexpr int kMaxReportsPerTick = 256;

}  // namespace varnel

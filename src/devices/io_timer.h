#pragma once
// The I/O and event timer: reads the reports the controller sent while no
// command was waiting, works off the command queue, brings the host devices of
// the mirrored points in step when asked, and carries out a disconnection or
// CMAX run. The port's receive event and QExec run the same tick.
#include "support/context.h"

namespace varnel {

void Timer3_Timer(Context& ctx);

// The parts of a tick, in the order the tick runs them.
void readReports(Context& ctx);
void runQueuedCommand(Context& ctx, const QueueRecord& rec);
void runQueueAndChecks(Context& ctx);
void compareIOPoints(Context& ctx);
void disconnectAndRunCmax(Context& ctx);

// Procedure text of the tick's error reports.
inline constexpr const char* kTimer3Procedure = "Timer3 Line ";
// More reports than this in one tick wait for the next tick.
inline constexpr int kMaxReportsPerTick = 256;

}  // namespace varnel

#include "devices/io_timer.h"

#include <stdexcept>
#include <string>

#include "commands/block_reads.h"
#include "commands/ir.h"
#include "commands/queue.h"
#include "commands/writes.h"
#include "commands/x10_send.h"
#include "link/serial_link.h"
#include "support/errors.h"
#include "support/text.h"

namespace varnel {

namespace {

struct TimerBusyScope {
    explicit TimerBusyScope(DeviceLayer& c) : ctx(c) { ctx.gate.timerBusy = true; }
    ~TimerBusyScope() { ctx.gate.timerBusy = false; }
    TimerBusyScope(const TimerBusyScope&) = delete;
    TimerBusyScope& operator=(const TimerBusyScope&) = delete;
    DeviceLayer& ctx;
};

// Executes the record at the read index, then moves past it. The record
// stays in place while it runs, so QExec calls made meanwhile cannot pass 50.
void runHeadOfQueue(DeviceLayer& ctx) {
    auto& q = ctx.queue;
    const QueueRecord rec = q.ring[static_cast<std::size_t>(q.readIndex)];
    reportStep(ctx, kTimer3Procedure, 5, [&] { runQueuedCommand(ctx, rec); });
    if (q.count > 0) {
        q.readIndex = (q.readIndex + 1) % CommandQueue::kSize;
        --q.count;
    }
}

}  // namespace

void runQueuedCommand(DeviceLayer& ctx, const QueueRecord& rec) {
    if (rec.command < kQueueSetVariable) {
        std::int16_t command = rec.command;
        std::int16_t brightness = toInt16(rec.brightness);
        x10Send(ctx, rec.housecode, rec.devicecode, command, brightness, rec.data1, rec.data2);
        return;
    }
    switch (rec.command) {
        case kQueueSetVariable: SetVar(ctx, toInt32(numericValue(rec.devicecode)), rec.brightness); break;
        case kQueuePlayZone: playQueuedZone(ctx, rec.brightness, rec.data1); break;
        case kQueuePointWrite: pointWrite(ctx, rec.data1, rec.data2, rec.brightness); break;
        case kQueuePlayRemote: remotePlay(ctx, toInt16(rec.brightness), rec.data1, rec.data2); break;
        case kQueueLearn: learnIRPrompt(ctx, rec.brightness); break;
        default: break;
    }
}

void runQueueAndChecks(DeviceLayer& ctx) {
    auto& timers = ctx.timers;
    for (;;) {
        while (ctx.queue.count > 0) runHeadOfQueue(ctx);
        if (!timers.ioCheckRequest && !ctx.controller.startupIOCheck) return;
        timers.ioCheckRequest = false;
        ctx.controller.startupIOCheck = false;
        bool polled = false;
        reportStep(ctx, kTimer3Procedure, 5, [&] { polled = PollIO(ctx); });
        if (!polled) return;
        // Queued work goes first; the comparison waits for the next request.
        if (ctx.queue.count > 0) continue;
        compareIOPoints(ctx);
        if (ctx.queue.count == 0) return;
    }
}

void disconnectAndRunCmax(DeviceLayer& ctx) {
    auto& timers = ctx.timers;
    if (!timers.disconnectRequest) return;
    reportStep(ctx, kTimer3Procedure, 6, [&] {
        if (timers.timer2) timers.timer2->setEnabled(false);
        if (timers.timer3) timers.timer3->setEnabled(false);
    });
    reportStep(ctx, kTimer3Procedure, 6, [&] { ClosePort(ctx); });
    ctx.link.commStarted = false;
    reportStep(ctx, kTimer3Procedure, 6, [&] { ctx.timerEvents->portClosed(); });
    if (!timers.cmaxLaunch || (timers.cmaxRun && timers.cmaxRun->running())) return;

    // CMAX runs beside the plug-in: the window and the console stay usable, and a stop
    // of the plug-in ends it.
    reportStep(ctx, kTimer3Procedure, 7, [&] {
        timers.cmaxRun =
            ctx.platform.launcher.start(timers.cmaxExe, "", [&ctx](const ProgramEnd& end) { cmaxEnded(ctx, end); });
    });
    if (!timers.cmaxRun) {
        ProgramEnd none;
        none.started = false;
        cmaxEnded(ctx, none);
    }
}

void cmaxEnded(DeviceLayer& ctx, const ProgramEnd& end) {
    auto& timers = ctx.timers;
    timers.cmaxLaunch = false;
    if (ctx.ending) return;
    if (!end.ok()) reportProgramFailure(ctx, kCmaxProcedure, "CMAX " + end.describe());
    reportStep(ctx, kTimer3Procedure, 7, [&] { ctx.timerEvents->reconnectAfterCmax(); });
    // The host script is optional: a host without it must not see an error.
    skipStep(ctx, 7, [&] {
        if (ctx.host.hs) ctx.host.hs->RunEx("Varnel_CMAXSync.txt", "AfterCMAX", "");
    });
    clearPending(ctx);
}

void reportProgramFailure(DeviceLayer& ctx, const std::string& procedure, const std::string& text) {
    reportStep(ctx, procedure, 1, [&] { throw std::runtime_error(text); });
    skipStep(ctx, 1, [&] { ctx.timerEvents->programFailed(text); });
    clearPending(ctx);
}

void stopStartedPrograms(DeviceLayer& ctx) {
    if (ctx.timers.cmaxRun) ctx.timers.cmaxRun->stop();
    for (auto& p : ctx.timers.irMaxRuns) p->stop();
}

void endStartedPrograms(DeviceLayer& ctx) {
    ctx.timers.cmaxRun.reset();
    ctx.timers.irMaxRuns.clear();
}

void Timer3_Timer(DeviceLayer& ctx) {
    if (ctx.gate.x10Sending == 1 || ctx.gate.lineInUse() || ctx.gate.timerBusy) return;
    TimerBusyScope scope(ctx);
    if (!ctx.link.commStarted) {
        clearQueue(ctx);
        return;
    }
    readReports(ctx);
    runQueueAndChecks(ctx);
    disconnectAndRunCmax(ctx);
}

}  // namespace varnel

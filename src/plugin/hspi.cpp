// Creating the plug-in object: its timers, the port's events and the calls
// that lower layers make upwards.
#include "plugin/hspi.h"

#include "devices/events.h"
#include "devices/io_timer.h"
#include "devices/var_timer.h"
#include "link/serial_link.h"
#include "plugin/startup.h"
#include "support/errors.h"
#include "support/logging.h"

namespace varnel {

HSPI::HSPI(Platform platform, std::function<void()> endProcess)
    : ctx_(std::move(platform)), watch_(std::make_unique<LinkWatch>(ctx_)), endProcess_(std::move(endProcess)) {
    auto& loop = ctx_.platform.loop;
    auto& timers = ctx_.timers;
    timers.timer2 = loop.createTimer();
    timers.timer3 = loop.createTimer();
    timers.clockSync = loop.createTimer();
    timers.timer2->setInterval(500);
    timers.timer3->setInterval(200);

    auto& hooks = ctx_.hooks;
    hooks.ioTick = [this] { Timer3_Timer(ctx_); };
    hooks.varTick = [this] { Timer2_Timer(ctx_); };
    hooks.syncClock = [this] { SyncClock(ctx_); };
    hooks.startCommunications = [this] { StartCommunications(ctx_); };
    hooks.report = [this](const ControllerReport& r) { dispatchReport(ctx_, r, ReportPath::ResponseLoop); };
    hooks.replyTimedOut = [this] { watch_->replyTimedOut(); };

    timers.timer2->onTick = [this] { ctx_.hooks.varTick(); };
    timers.timer3->onTick = [this] { ctx_.hooks.ioTick(); };
    timers.clockSync->onTick = [this] { ClockSync_Timer(ctx_); };

    auto& port = ctx_.platform.port;
    port.onDataReceived = [this] { MSComm1_OnComm(ctx_, 2); };
    port.onError = [this](const std::string& why) {
        // The device went away: said once (by the link watch when it is armed, as it
        // opens the port again). The port is already closed, and the flags follow it.
        if (!watch_->armed()) {
            ctx_.error = {true, 0, why};
            reportPending(ctx_, "Comm Port " + std::to_string(ctx_.link.comport));
        }
        ctx_.link.portOpen = false;
        ctx_.link.commStarted = false;
        watch_->portFailed(why);
    };
}

HSPI::~HSPI() {
    auto& port = ctx_.platform.port;
    port.onDataReceived = nullptr;
    port.onError = nullptr;
    for (auto* t : {ctx_.timers.timer2.get(), ctx_.timers.timer3.get(), ctx_.timers.clockSync.get()})
        if (t) {
            t->setEnabled(false);
            t->onTick = nullptr;
        }
}

}  // namespace varnel

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

// What the lower layers ask of the plug-in: the composition root's answers.
class HSPI::Wiring final : public LinkEvents, public QueueEvents, public TimerEvents {
public:
    explicit Wiring(HSPI& hspi) : hspi_(hspi), ctx_(hspi.ctx_) {}

    void report(const ControllerReport& r) override { dispatchReport(ctx_, r, ReportPath::ResponseLoop); }
    void dataArrived() override { Timer3_Timer(ctx_); }
    void portOpened() override {
        if (ctx_.window.open && ctx_.configWindow) ctx_.configWindow->showPortOpen(true);
    }
    void startupStep(const std::string& text) override {
        if (ctx_.showStartupStep) ctx_.showStartupStep(text);
    }
    void replyTimedOut() override { hspi_.watch_->replyTimedOut(); }

    void queued() override { Timer3_Timer(ctx_); }

    void portClosed() override {
        if (ctx_.window.open && ctx_.configWindow) ctx_.configWindow->showPortOpen(false);
    }
    void reconnectAfterCmax() override {
        // With the window open, its Disconnect button does it, as a click would.
        if (ctx_.window.open) {
            if (ctx_.configWindow) ctx_.configWindow->clickDisconnect();
            return;
        }
        ctx_.timers.disconnectRequest = false;
        ctx_.link.portOpen = false;
        StartCommunications(ctx_);
    }
    void syncClock() override { SyncClock(ctx_); }
    void programFailed(const std::string& text) override {
        if (ctx_.window.open && ctx_.configWindow) ctx_.configWindow->programFailed(text);
    }

private:
    HSPI& hspi_;
    PluginState& ctx_;
};

HSPI::HSPI(Platform platform, std::function<void()> endProcess)
    : ctx_(std::move(platform)),
      wiring_(std::make_unique<Wiring>(*this)),
      watch_(std::make_unique<LinkWatch>(ctx_)),
      endProcess_(std::move(endProcess)) {
    auto& loop = ctx_.platform.loop;
    auto& timers = ctx_.timers;
    timers.timer2 = loop.createTimer();
    timers.timer3 = loop.createTimer();
    timers.clockSync = loop.createTimer();
    timers.timer2->setInterval(500);
    timers.timer3->setInterval(200);

    ctx_.linkEvents = wiring_.get();
    ctx_.queueEvents = wiring_.get();
    ctx_.timerEvents = wiring_.get();
    timers.timer2->onTick = [this] { Timer2_Timer(ctx_); };
    timers.timer3->onTick = [this] { Timer3_Timer(ctx_); };
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
    // A serial server that did something odd but kept the line (a telnet option refused).
    port.onNotice = [this](const std::string& what) {
        skipStep(ctx_, 0, [&] { warn(ctx_, what); });
        clearPending(ctx_);
    };
}

HSPI::~HSPI() {
    auto& port = ctx_.platform.port;
    port.onDataReceived = nullptr;
    port.onError = nullptr;
    port.onNotice = nullptr;
    for (auto* t : {ctx_.timers.timer2.get(), ctx_.timers.timer3.get(), ctx_.timers.clockSync.get()})
        if (t) {
            t->setEnabled(false);
            t->onTick = nullptr;
        }
}

}  // namespace varnel

#include "plugin/link_watch.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "link/serial_link.h"
#include "plugin/health.h"
#include "plugin/startup.h"
#include "support/errors.h"
#include "support/logging.h"

namespace varnel {

namespace {

// While an exchange runs, the next try waits this long rather than share the line.
constexpr int kBusyRetryMs = 250;
// From a change where the device lives to the try. A node udev has not yet given its
// group may still refuse the open: the try after it comes a second later, not after
// the whole pause.
constexpr int kSettleMs = 100;

void say(PluginState& ctx, const std::string& text) {
    skipStep(ctx, 0, [&] { ReportError(ctx, kSourceVarnel, text); });
    clearPending(ctx);
}

// A summary without its duration, to tell one failure from another.
std::string failureText(const std::string& summary) {
    const auto colon = summary.find(": ");
    return colon == std::string::npos ? summary : summary.substr(colon);
}

}  // namespace

LinkWatch::LinkWatch(PluginState& ctx) : ctx_(ctx), timer_(ctx.platform.loop.createTimer()) {
    timer_->onTick = [this] {
        timer_->setEnabled(false);
        tryAgain();
    };
}

LinkWatch::~LinkWatch() {
    timer_->setEnabled(false);
    timer_->onTick = nullptr;
}

void LinkWatch::arm() {
    armed_ = true;
    if (ctx_.health.state == LinkHealth::State::Starting) ctx_.health.state = LinkHealth::State::Up;
    if (!ctx_.link.portOpen || !ctx_.platform.port.isOpen()) lose("the port is not open");
}

void LinkWatch::portFailed(const std::string& why) { lose(why); }

void LinkWatch::replyTimedOut() {
    const auto since = ctx_.link.silentSinceMs;
    if (since >= 0 && ctx_.platform.loop.tickMs() - since >= kSilenceMs)
        lose("no answer from the controller for " + std::to_string(kSilenceMs / 1000) + " s");
}

void LinkWatch::deviceMayHaveAppeared() {
    if (!restarting_ && !ctx_.ending && ctx_.health.state == LinkHealth::State::Reconnecting &&
        (!timer_->enabled() || timer_->interval() > kSettleMs)) {
        woken_ = true;
        schedule(kSettleMs);
    }
}

void LinkWatch::lose(const std::string& why) {
    auto& health = ctx_.health;
    if (!armed_ || restarting_ || ctx_.ending || health.state == LinkHealth::State::Reconnecting) return;
    if (ctx_.timers.disconnectRequest) return;  // the user's or CMAX's own disconnect
    health.state = LinkHealth::State::Reconnecting;
    health.downSinceMs = ctx_.platform.loop.tickMs();
    health.downSince = ctx_.platform.loop.wallClock();
    say(ctx_,
        "Controller link lost: " + why + "; trying again every 1 to " + std::to_string(kLongestPauseMs / 1000) + " s");
    reminder_.begin(health.downSinceMs);
    takeDown();
    pauseMs_ = kFirstPauseMs;
    schedule(pauseMs_);
}

void LinkWatch::remind() {
    const auto now = ctx_.platform.loop.tickMs();
    if (reminder_.due(now))
        say(ctx_, "Controller link lost " + reminder_.lasted(now) + " ago; still trying every " +
                      std::to_string(pauseMs_ / 1000) + " s");
}

// Port closed, polling stopped: a waiting exchange ends at once and nothing is sent.
void LinkWatch::takeDown() {
    for (auto* t : {ctx_.timers.timer2.get(), ctx_.timers.timer3.get(), ctx_.timers.clockSync.get()})
        if (t) t->setEnabled(false);
    ClosePort(ctx_);
    ctx_.link.portOpen = false;
    ctx_.link.commStarted = false;
}

void LinkWatch::schedule(int ms) {
    timer_->setInterval(ms);
    timer_->setEnabled(true);
}

void LinkWatch::tryAgain() {
    if (ctx_.ending || ctx_.health.state != LinkHealth::State::Reconnecting) return;
    if (ctx_.timers.disconnectRequest) {
        ctx_.health.state = LinkHealth::State::Up;  // the user's disconnect takes over
        return;
    }
    if (!ctx_.gate.idle()) {
        schedule(kBusyRetryMs);
        return;
    }
    const auto grow = [this] { pauseMs_ = std::min(pauseMs_ * 2, kLongestPauseMs); };
    auto& port = ctx_.platform.port;
    std::string device;
    skipStep(ctx_, 1, [&] {
        if (ctx_.platform.portDevice) device = ctx_.platform.portDevice(ctx_.link.comport);
    });
    clearPending(ctx_);
    if (port.isOpen()) port.close();
    // A quiet look first: the start-up's own open reports every failure.
    if (device.empty() || port.open(device)) {
        if (std::exchange(woken_, false)) {
            schedule(kFirstPauseMs);
        } else {
            grow();
            schedule(pauseMs_);
        }
        remind();
        return;
    }
    woken_ = false;
    port.close();

    // A try that worked is told by the one line that the link is back; a try that failed
    // shows its summary only when it differs from the one before.
    std::vector<std::string> steps;
    auto show = std::exchange(ctx_.showStartupStep, [&steps](const std::string& s) { steps.push_back(s); });
    restarting_ = true;
    startupBegins(ctx_);
    ctx_.timers.varsCached = false;  // the host's values are read again and compared
    ctx_.link.silentSinceMs = -1;
    skipStep(ctx_, 2, [&] { StartCommunications(ctx_); });
    clearPending(ctx_);
    restarting_ = false;
    if (ctx_.ending) {
        ctx_.showStartupStep = std::move(show);
        return;
    }
    startupEnds(ctx_);
    ctx_.showStartupStep = std::move(show);
    const bool up = ctx_.link.portOpen && port.isOpen() && ctx_.controller.linkFailure == 0;
    if (ctx_.showStartupStep && !up && !steps.empty() && failureText(steps.back()) != lastFailure_)
        ctx_.showStartupStep(steps.back());
    if (!up && !steps.empty()) lastFailure_ = failureText(steps.back());
    if (up) {
        lastFailure_.clear();
        ctx_.health.state = LinkHealth::State::Up;
        say(ctx_, "Controller link back after " +
                      std::to_string((ctx_.platform.loop.tickMs() - ctx_.health.downSinceMs) / 1000) + " s");
        pauseMs_ = kFirstPauseMs;
        return;
    }
    takeDown();
    grow();
    schedule(pauseMs_);
    remind();
}

}  // namespace varnel

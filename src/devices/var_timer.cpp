#include "devices/var_timer.h"

#include <chrono>
#include <string>

#include "commands/block_reads.h"
#include "devices/device_model.h"
#include "link/serial_link.h"
#include "support/errors.h"
#include "support/host_access.h"
#include "support/logging.h"
#include "support/settings.h"
#include "support/text.h"

namespace varnel {

namespace {

// Returns false when a queued command cut the pass short.
bool variablePass(DeviceLayer& ctx) {
    auto& timers = ctx.timers;
    for (int n = 0; n < 128; ++n) {
        const auto index = static_cast<std::size_t>(n);
        if (ctx.devices.varSelected[index] != kFalse) {
            const std::string code = variableCode(ctx, n);
            auto& cached = timers.hostValueCache[index + 1];
            bool known = true;
            if (!timers.varsCached) {
                known = skipStep(ctx, 1, [&] { cached = requireHost(ctx.host).DeviceValue(code); });
                clearPending(ctx);
                if (!known) commLog(ctx, "Error attempting to call hs.DeviceValue, skipping this var");
            }
            const std::int32_t newValue = ctx.images.vars[index];
            if (known && cached != newValue) {
                commLog(ctx, "Setting Var: " + code + " to " + std::to_string(newValue));
                cached = newValue;
                if (ctx.host.hs) {
                    Host& hs = *ctx.host.hs;
                    skipStep(ctx, 2, [&] {
                        if (newValue != 0 && !hs.ison(code)) hs.SetDeviceStatus(code, kStatusOn);
                    });
                    skipStep(ctx, 2, [&] {
                        if (newValue == 0 && !hs.isoff(code)) hs.SetDeviceStatus(code, kStatusOff);
                    });
                }
                skipStep(ctx, 2, [&] {
                    if (ctx.host.callback) ctx.host.callback->ValueChangeEvent(code, newValue);
                });
                clearPending(ctx);
            }
        }
        // A host command waits: let the I/O timer send it first.
        if (ctx.queue.count != 0) return false;
    }
    return true;
}

void followPollInterval(DeviceLayer& ctx) {
    auto* timer = ctx.timers.timer2.get();
    if (!timer) return;
    const int ms = pollIntervalMs(ctx.timers.pollInterval);
    if (timer->interval() == ms) return;
    timer->setEnabled(false);
    timer->setInterval(ms);
    timer->setEnabled(true);
}

int localHour(const DeviceLayer& ctx) {
    using namespace std::chrono;
    const auto t = ctx.platform.loop.wallClock();
    return static_cast<int>(floor<hours>(t - floor<days>(t)).count());
}

}  // namespace

int pollIntervalMs(const std::string& text) {
    // What the window refuses to store is not taken from a hand-edited file either.
    constexpr int kDefault = 500;
    return fieldValue(setting::kPollInterval, text).value_or(kDefault);
}

void Timer2_Timer(DeviceLayer& ctx) {
    auto& timers = ctx.timers;
    timers.timer2TickMs = ctx.platform.loop.tickMs();
    if (ctx.gate.x10Sending == 1 || ctx.gate.lineInUse() || ctx.gate.timerBusy || ctx.queue.count != 0) return;
    ctx.gate.timerBusy = true;

    bool polled = false;
    skipStep(ctx, 3, [&] { polled = PollVars(ctx); });
    clearPending(ctx);
    if (!polled || ctx.devices.varsHouseCode == 0) {
        timers.ioCheckRequest = true;
    } else if (variablePass(ctx)) {
        timers.varsCached = true;
        timers.ioCheckRequest = true;
    }

    skipStep(ctx, 6, [&] { followPollInterval(ctx); });
    clearPending(ctx);
    ctx.gate.timerBusy = false;

    if (localHour(ctx) == 1 && timers.clockSynced != 1) {
        timers.clockSynced = 1;
        skipStep(ctx, 8, [&] { ctx.timerEvents->syncClock(); });
        clearPending(ctx);
    }
}

}  // namespace varnel

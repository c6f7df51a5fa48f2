#pragma once
// Stands in for the plug-in above the lower layers: records what they tell it,
// and runs what a test hands it.
#include <functional>
#include <string>
#include <vector>

#include "devices/device_state.h"

namespace varnel::test {

struct TestEvents final : LinkEvents, QueueEvents, TimerEvents {
    explicit TestEvents(DeviceLayer& ctx) {
        ctx.linkEvents = this;
        ctx.queueEvents = this;
        ctx.timerEvents = this;
    }

    std::function<void(const ControllerReport&)> onReport;
    // Port data and queued work; a test of the I/O timer runs its pass here.
    std::function<void()> onWork;
    std::vector<std::string> calls;  // everything else, in order

    void report(const ControllerReport& r) override {
        if (onReport) onReport(r);
    }
    void dataArrived() override {
        calls.emplace_back("data");
        if (onWork) onWork();
    }
    void queued() override {
        calls.emplace_back("queued");
        if (onWork) onWork();
    }
    void portOpened() override { calls.emplace_back("port opened"); }
    void startupStep(const std::string& text) override { calls.push_back("step " + text); }
    void replyTimedOut() override { calls.emplace_back("reply timed out"); }
    void portClosed() override { calls.emplace_back("port closed"); }
    void reconnectAfterCmax() override { calls.emplace_back("reconnect"); }
    void syncClock() override { calls.emplace_back("sync clock"); }
};

}  // namespace varnel::test

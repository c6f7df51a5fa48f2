#pragma once
// What the device mirror owns: the plug-in's host devices (interface name,
// house codes, selections, unit mappings), the timers that keep them in step
// with the controller, and the X10 addresses heard.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands/command_state.h"

namespace varnel {

// One expansion module that has host devices.
class umap {
public:
    [[nodiscard]] std::int16_t utype() const { return utype_; }
    void set_utype(std::int16_t v) { utype_ = v; }
    [[nodiscard]] std::int16_t invert() const { return invert_; }
    void set_invert(std::int16_t v) { invert_ = v; }
    [[nodiscard]] const std::string& hc() const { return hc_; }
    void set_hc(std::string v) { hc_ = std::move(v); }
    [[nodiscard]] std::int16_t unit() const { return unit_; }
    void set_unit(std::int16_t v) { unit_ = v; }

private:
    std::int16_t utype_ = 0;
    std::int16_t invert_ = 0;
    std::string hc_;
    std::int16_t unit_ = 0;
};

struct DeviceModel {
    std::string interfaceName;
    std::int16_t varsHouseCode = 0;  // character code; 0 = no variable devices
    std::array<Bool16, 128> varSelected{};
    std::array<std::array<Bool16, 16>, 129> pointSelected{};  // by unit 1..128
    std::vector<umap> mappings;
    std::map<std::string, int> mappingIndex;  // house code -> position in mappings
    bool discovered = false;
};

struct TimerState {
    std::unique_ptr<Timer> timer2;  // variable timer
    std::unique_ptr<Timer> timer3;  // I/O and event timer
    std::unique_ptr<Timer> clockSync;
    bool ioCheckRequest = false;
    // When the variable timer last ticked (loop ms, -1 before any): others who share the
    // line can tell when its next poll is due and leave the line free for it.
    std::int64_t timer2TickMs = -1;
    bool disconnectRequest = false;
    bool cmaxLaunch = false;                  // a CMAX run is pending or running
    std::string cmaxExe;                      // the window's CMAX program path
    std::unique_ptr<RunningProgram> cmaxRun;  // the programs the window started
    std::vector<std::unique_ptr<RunningProgram>> irMaxRuns;
    std::string pollInterval = "500";                // milliseconds, as text
    std::array<std::int32_t, 129> hostValueCache{};  // indexes 1..128
    bool varsCached = false;
    std::int32_t clockSynced = 0;
};

struct X10State {
    std::string addressList;
};

// What the timers ask of the plug-in above them.
class TimerEvents {
public:
    TimerEvents() = default;
    TimerEvents(const TimerEvents&) = delete;
    TimerEvents& operator=(const TimerEvents&) = delete;
    virtual ~TimerEvents() = default;

    // The port was closed for CMAX.
    virtual void portClosed() {}
    // CMAX has ended: take the link up again.
    virtual void reconnectAfterCmax() {}
    // The variable timer's nightly turn to set the controller's clock.
    virtual void syncClock() {}
    // CMAX or IR_MAX failed; already in the host log.
    virtual void programFailed(const std::string& /*text*/) {}
};

struct DeviceLayer : CommandLayer {
    explicit DeviceLayer(Platform p) : CommandLayer(std::move(p)) {}

    DeviceModel devices;
    TimerState timers;
    X10State x10;
    TimerEvents* timerEvents = &noTimerEvents;

private:
    TimerEvents noTimerEvents;
};

}  // namespace varnel

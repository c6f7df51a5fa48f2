#pragma once
// The object the host creates and calls. One per plug-in; it owns the
// plug-in's whole state (PluginState) and its timers, and binds the serial port's
// receive event and the timers to their handlers.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "plugin/link_watch.h"
#include "plugin/plugin_state.h"

namespace varnel {

// A host-visible variant result: empty, a number or a text.
using Variant = std::variant<std::monostate, std::int32_t, std::string>;

class HSPI {
public:
    // `endProcess` is what ends the plug-in process (release or any shutdown).
    HSPI(Platform platform, std::function<void()> endProcess);
    ~HSPI();
    HSPI(const HSPI&) = delete;
    HSPI& operator=(const HSPI&) = delete;

    // Identity and capabilities.
    std::int16_t AccessLevel() const { return 1; }
    std::int32_t Capabilities() const { return 7; }
    std::string name() const { return "Varnel"; }
    std::int16_t InterfaceStatus() const { return ctx_.controller.linkFailure; }
    std::int32_t IRPortType() const { return 1; }
    std::int16_t MaxKeys() const { return 36; }
    std::int16_t MaxDevices() const;
    Bool16 HasOptions() const { return kFalse; }
    Bool16 SupportsIRMatch() const { return kTrue; }
    std::int16_t MaxZones() const;
    bool IsMatchable(std::int32_t loc) const { return loc < 80; }
    std::int32_t KeyColor(std::int32_t) const { return 0; }
    Bool16 KeyLearnable(std::int32_t) const { return kTrue; }

    // Registration and life cycle.
    Variant RegisterCallback(std::shared_ptr<Callback> frm);
    Variant SelectMenu(const std::string& strMenu);
    std::string InitX10(std::int32_t port);
    std::string InitIO(std::int32_t port);
    std::string InitIR(std::int32_t port);
    Variant ShutDownX10();
    Variant ShutDownIR();
    void ShutdownIO();
    // The host releasing the object: the process ends.
    void Release();

    // Queued X10, IR learning, configuration.
    void Exec(const Variant& dv, const std::string& housecode, const std::string& devicecode, std::int16_t command,
              std::int16_t brightness, std::int16_t data1, std::int16_t data2);
    Variant ExecWait(const Variant& dv, const std::string& housecode, const std::string& devicecode,
                     std::int16_t command, std::int16_t brightness, std::int16_t data1, std::int16_t data2);
    void QExec(const Variant& dv, const std::string& housecode, const std::string& devicecode, std::int16_t command,
               std::int16_t brightness, std::int16_t data1, std::int16_t data2);
    std::int16_t GetDeviceStatus(const std::string& housecode, const std::string& devicecode);
    void SetZone(std::int32_t zone);
    Variant LearnIR(std::int32_t loc);
    void ConfigX10() { configure("ConfigX10"); }
    void ConfigIR() { configure("ConfigIR"); }
    void ConfigIO() { configure("ConfigIO"); }

    // Controller commands.
    void SetPoint(std::int16_t unit, std::int16_t point, std::int16_t value);
    void SetIO(const std::shared_ptr<Device>& dv, const std::string& housecode, const std::string& devicecode,
               std::int16_t& command, std::int16_t& brightness, std::int16_t data1, std::int16_t data2);
    std::optional<std::int16_t> GetUnit(std::int16_t unitnum);
    Bool16 PollIO();
    std::int32_t GetVar(std::int16_t varnum);
    Bool16 PollVars();
    std::int16_t StartGetAnalog(std::int16_t unit, std::int16_t point);
    std::int16_t GetAnalogInputValue(std::int16_t unit, std::int16_t point);
    Bool16 IsBusy() const;
    std::int16_t GetAnalogInput(std::int16_t unit, std::int16_t point);
    std::int16_t GetPoint(std::int16_t unit, std::int16_t point, bool digital);
    std::int32_t GetParameter(std::int16_t unit, std::int16_t pnum);
    std::string InitCPUXA();
    Variant EnableTouch(std::int16_t mode);
    Variant PlayIR(std::int32_t loc);
    std::int16_t PlayIREx(const std::string& loc);
    std::int16_t PlayZonedIR(const std::string& iZone, const std::string& loc);
    Variant PlayRemoteIR(std::int16_t addr, std::int16_t zone, std::int16_t loc);
    Variant LearnIRStart(std::int32_t loc);
    void LearnIREnd();
    std::int16_t SetVar(std::int32_t vnum, std::int32_t data);
    std::int16_t WriteScreen(std::int16_t x, std::int16_t y, const std::string& txt, bool backlight, std::int16_t font,
                             bool clear, bool beep);
    std::int16_t xasend(std::span<const std::uint8_t> buf);
    void SetTimeOut(std::int16_t timeout);

    // The reconnecting link watch; the embedding program arms it after the start-up.
    LinkWatch& linkWatch() { return *watch_; }
    // A stop is on its way: every wait returns at once and nothing more is sent, so a
    // start-up or command that is waiting unwinds; the shutdown follows.
    void endWaits() {
        ctx_.ending = true;
        ctx_.platform.port.cancelOpen();
    }

    // A stop has begun (the shutdown runs or waits are being ended): nothing new starts.
    [[nodiscard]] bool stopping() const { return ended_ || ctx_.ending; }

    // The plug-in's state, for the embedding program, the window and tests.
    PluginState& context() { return ctx_; }
    const PluginState& context() const { return ctx_; }

private:
    void ShutdownPlugin();
    void configure(const std::string& member);
    bool startsInterfaces() const { return ctx_.host.hostMode || ctx_.host.setupHost; }

    class Wiring;

    PluginState ctx_;
    std::unique_ptr<Wiring> wiring_;  // before the watch: it calls the watch
    std::unique_ptr<LinkWatch> watch_;
    std::function<void()> endProcess_;
    bool ended_ = false;
};

}  // namespace varnel

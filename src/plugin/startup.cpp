#include "plugin/startup.h"

#include <chrono>

#include "commands/ir_files.h"
#include "devices/device_model.h"
#include "devices/var_timer.h"
#include "link/frames.h"
#include "link/serial_link.h"
#include "support/errors.h"
#include "support/logging.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/waits.h"

namespace varnel {

namespace {

constexpr std::array<std::int16_t, 16> kPresetDim{12, 13, 14, 15, 2, 3, 0, 1, 4, 5, 6, 7, 10, 11, 8, 9};
constexpr std::uint8_t kSettingsCode = 0x28;
constexpr std::uint8_t kClockCode = 0x3D;

struct ModuleKind {
    ModuleType code;
    const char* hostLog;
    const char* commsLog;
};
constexpr std::array<ModuleKind, 4> kModuleKinds{{
    {.code = kSecu16IR, .hostLog = "Unit found: SECU16IR Addr: ", .commsLog = "UNIT SECU16IR "},
    {.code = kSecu16, .hostLog = "Unit found: SECU16 Addr: ", .commsLog = "UNIT SECU16"},
    {.code = kSecu16I, .hostLog = "Unit found: SECU16I Addr: ", .commsLog = "UNIT SECU16I"},
    {.code = kRelay08, .hostLog = "Unit found: RELAY-08 Addr: ", .commsLog = "UNIT RLY08"},
}};

void say(DeviceLayer& ctx, const std::string& text) {
    skipStep(ctx, 0, [&] { ReportError(ctx, kSourceVarnel, text); });
    clearPending(ctx);
}

bool blockExchange(DeviceLayer& ctx, std::uint8_t sel0, std::uint8_t sel1, std::int16_t timeout) {
    SendBytes(ctx, blockReadFrame(sel0, sel1));
    return ReadResponse(ctx, timeout, kBlockReplyLength, kBlockRead);
}

// One controller-settings frame and its 3-byte reply wait.
void sendSetting(DeviceLayer& ctx, std::uint8_t selector, std::uint8_t value, std::int16_t timeout) {
    SendBytes(ctx, commandFrame(kSettingsCode, selector, 0x00, value, 0x00, 0x00));
    ReadResponse(ctx, timeout, kAckLength, 0);
}

}  // namespace

std::string InitController(DeviceLayer& ctx) {
    if (ctx.link.portOpen) return {};
    std::string result;
    reportStep(ctx, "cpuxaInitCPUXA Error", 2, [&] {
        ctx.link.responseTimeout = 4;
        ctx.controller.presetDim = kPresetDim;
    });
    reportStep(ctx, "cpuxaInitCPUXA Error", 3, [&] { OpenCommPort(ctx); });
    reportStep(ctx, "cpuxaInitCPUXA Error", 4, [&] { result = FindController(ctx); });
    startupStep(ctx, "setting the controller's reports");
    reportStep(ctx, "cpuxaInitCPUXA Error", 5, [&] {
        SetParameter16(ctx, kFalse);
        SetAutoX10(ctx, kFalse);
        SetParameter17(ctx, kFalse);
        ResetParameter7(ctx);
    });
    ctx.controller.startupIOCheck = true;
    return result;
}

std::string FindController(DeviceLayer& ctx) {
    BusyGuard busy(ctx.gate);
    auto& c = ctx.controller;
    std::string result;
    int attempts = 0;
    startupStep(ctx, "looking for the controller");
    while (attempts < 2 && !ctx.ending) {
        if (!blockExchange(ctx, 0x8F, 0xB7, 3)) {
            c.linkFailure = 1;
            say(ctx, "Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot");
            result = kTimeoutResult;
            ++attempts;
            continue;
        }
        c.varSelector = {ctx.link.rx[18], ctx.link.rx[19]};
        say(ctx, "Found CPU-XA/Ocelot");
        startupStep(ctx, "reading the controller's parameters");
        if (!blockExchange(ctx, 0x00, 0x7F, 3)) {
            c.linkFailure = 1;
            say(ctx, "Ocelot Plug-in Error, Timeout getting controller parameters");
            result = kTimeoutResult;
            ++attempts;
            continue;
        }
        c.irSize = ctx.link.rx[251] * 256 + ctx.link.rx[250];
        say(ctx, "Ocelot IR size: " + blankNum(c.irSize));
        c.linkFailure = 0;
        break;
    }

    startupStep(ctx, "scanning the bus modules");
    SendBytes(ctx, blockReadFrame(0x01, 0xB0));
    Pause(ctx, 2000);
    if (ReadResponse(ctx, ctx.link.responseTimeout, kBlockReplyLength, kBlockRead)) {
        for (std::size_t i = 0; i < 128; ++i) c.moduleTypes[i] = ctx.link.rx[i + 6];
        c.irModuleCount = 0;
        c.irModules.clear();
        for (int i = 0; i < 128; ++i) {
            const auto code = c.moduleTypes[static_cast<std::size_t>(i)];
            for (const ModuleKind& kind : kModuleKinds) {
                if (kind.code != code) continue;
                say(ctx, kind.hostLog + blankNum(i + 1));
                std::string comms = kind.commsLog;
                if (code == kSecu16IR) {
                    c.irModuleFlag = true;
                    c.irModules.push_back(static_cast<std::int16_t>(i + 1));
                    ++c.irModuleCount;
                    comms += std::to_string(c.irModuleCount);
                }
                if (ctx.switches.logComms != 0) skipStep(ctx, 6, [&] { WriteCommLog(ctx, comms); });
            }
        }
    }
    clearPending(ctx);
    return result;
}

void SetParameter16(DeviceLayer& ctx, Bool16 on) {
    BusyGuard busy(ctx.gate);
    sendSetting(ctx, 0x10, on != 0 ? 2 : 0, ctx.link.responseTimeout);
}

void SetAutoX10(DeviceLayer& ctx, Bool16 on) {
    BusyGuard busy(ctx.gate);
    if (!ctx.link.portOpen) return;
    skipStep(ctx, 1, [&] { sendSetting(ctx, 0x0F, on == kTrue ? 1 : 0, ctx.link.responseTimeout); });
    reportPending(ctx, "SetAutoX10");
}

void SetParameter17(DeviceLayer& ctx, Bool16 on) {
    BusyGuard busy(ctx.gate);
    if (!ctx.link.portOpen) return;
    sendSetting(ctx, 0x11, on != 0 ? 1 : 0, ctx.link.responseTimeout);
    sendSetting(ctx, 0x12, 0, ctx.link.responseTimeout);
}

void ResetParameter7(DeviceLayer& ctx) {
    BusyGuard busy(ctx.gate);
    if (!ctx.link.portOpen) return;
    sendSetting(ctx, 0x07, 0, 4);
}

std::string cpuxaInitX10(DeviceLayer& ctx, std::int32_t port) {
    std::string result;
    reportStep(ctx, "cpuxaInitX10", 1, [&] { ctx.link.comport = toInt16(port); });
    reportStep(ctx, "cpuxaInitX10", 2, [&] { result = InitController(ctx); });
    InitDevices(ctx);
    reportStep(ctx, "cpuxaInitX10", 4, [&] { SetAutoX10(ctx, kTrue); });
    ctx.controller.x10Interface = true;
    return result;
}

std::string InitIOStart(DeviceLayer& ctx, std::int32_t /*port*/) {
    auto* timer2 = ctx.timers.timer2.get();
    if (timer2) timer2->setEnabled(false);
    std::string result = InitController(ctx);
    ctx.controller.ioStarted = true;
    InitDevices(ctx);
    SetParameter16(ctx, kTrue);
    if (timer2) {
        timer2->setEnabled(false);
        timer2->setInterval(pollIntervalMs(ctx.timers.pollInterval));
        timer2->setEnabled(true);
    }
    return result;
}

std::string Recognition(DeviceLayer& ctx, std::int32_t /*port*/) {
    std::string result = InitController(ctx);
    InitDevices(ctx);
    ctx.controller.irStarted = true;
    const bool on = readSwitch(ctx, setting::kRecognition);
    SetParameter17(ctx, toBool16(!on));
    ReadIRMap(ctx);
    BuildIRLookup(ctx);
    return result;
}

void InitDevices(DeviceLayer& ctx) {
    const std::string proc = "InitDevices";
    startupStep(ctx, "reading the host's devices");
    reportStep(ctx, proc, 1, [&] { ctx.timers.pollInterval = readText(ctx, setting::kPollInterval); });
    reportStep(ctx, proc, 2, [&] { ctx.devices.interfaceName = FindInterface(ctx); });
    reportStep(ctx, proc, 3, [&] {
        const std::string letter = FindVarsHouseCode(ctx);
        ctx.devices.varsHouseCode =
            static_cast<std::int16_t>(letter.empty() ? 0 : static_cast<std::uint8_t>(letter[0]));
    });
    reportStep(ctx, proc, 4, [&] {
        ReadDeviceSettings(ctx);
        DiscoverDevices(ctx);
    });
    reportStep(ctx, proc, 5, [&] {
        if (auto* t2 = ctx.timers.timer2.get()) {
            t2->setInterval(pollIntervalMs(ctx.timers.pollInterval));
            t2->setEnabled(true);
        }
        if (auto* t3 = ctx.timers.timer3.get()) {
            t3->setEnabled(true);
            t3->setInterval(200);
        }
    });
    ctx.timers.ioCheckRequest = true;
}

void StartCommunications(DeviceLayer& ctx) {
    const std::string proc = "StartCommunications Error";
    if (ctx.link.recognition) reportStep(ctx, proc, 1, [&] { Recognition(ctx, ctx.link.comport); });
    if (ctx.controller.connected) reportStep(ctx, proc, 2, [&] { InitIOStart(ctx, ctx.link.comport); });
    if (ctx.controller.x10Interface) reportStep(ctx, proc, 3, [&] { cpuxaInitX10(ctx, ctx.link.comport); });
}

void SyncClock(DeviceLayer& ctx) {
    reportStep(ctx, "SyncClock", 1, [&] {
        auto* t = ctx.timers.clockSync.get();
        if (t && !t->enabled()) {
            t->setInterval(2000);
            t->setEnabled(true);
        }
    });
}

void ClockSync_Timer(DeviceLayer& ctx) {
    if (auto* t = ctx.timers.clockSync.get()) t->setEnabled(false);
    SetClock(ctx);
}

namespace {
// Long frame 0x3D: the 14 digits yyyymmddhhnnss from the last back to the
// third, then the weekday (Sunday 0).
LongFrame clockFrame(std::chrono::system_clock::time_point local) {
    using namespace std::chrono;
    const auto day = floor<days>(local);
    const year_month_day ymd{day};
    const hh_mm_ss hms{floor<seconds>(local - day)};
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04d%02u%02u%02ld%02ld%02ld", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
                  static_cast<long>(hms.seconds().count()));
    LongFrame f{};
    f[0] = kLongFrame;
    f[1] = kClockCode;
    for (int i = 0; i < 12; ++i) f[2 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(digits[13 - i] - '0');
    f[14] = static_cast<std::uint8_t>(weekday{day}.c_encoding());
    sealLong(f);
    return f;
}
}  // namespace

void SetClock(DeviceLayer& ctx) {
    if (ctx.gate.lineInUse()) {
        SyncClock(ctx);
        return;
    }
    ctx.gate.busy = 1;
    if (ctx.link.portOpen) {
        reportStep(ctx, "SetClock", 3, [&] { SendBytes(ctx, clockFrame(ctx.platform.loop.wallClock())); });
        reportStep(ctx, "SetClock", 6, [&] { ReadResponse(ctx, ctx.link.responseTimeout, kAckLength, kAck); });
    }
    ctx.gate.busy = 0;
}

}  // namespace varnel

// Identity answers, registration, the interface starts and the shutdowns.
#include <filesystem>

#include "commands/ir_files.h"
#include "commands/queue.h"
#include "devices/io_timer.h"
#include "devices/var_timer.h"
#include "link/serial_link.h"
#include "plugin/hspi.h"
#include "plugin/startup.h"
#include "support/errors.h"
#include "support/host_access.h"
#include "support/logging.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/waits.h"

namespace varnel {

std::int16_t HSPI::MaxDevices() const {
    if (ctx_.controller.irSize == 0) return 14;
    return static_cast<std::int16_t>(roundEven(ctx_.controller.irSize / 36.0));
}

std::int16_t HSPI::MaxZones() const {
    return ctx_.controller.irModuleFlag ? static_cast<std::int16_t>(ctx_.controller.irModuleCount * 16 + 1)
                                        : std::int16_t{0};
}

Variant HSPI::RegisterCallback(std::shared_ptr<Callback> frm) {
    auto& host = ctx_.host;
    skipStep(ctx_, 1, [&] {
        host.callback = std::move(frm);
        host.setupHost = host.callback && host.callback->typeName() == "Setup";
    });
    skipStep(ctx_, 2, [&] { host.hs = host.callback ? host.callback->GetHSIface() : nullptr; });
    skipStep(ctx_, 3, [&] {
        if (!host.hs) {
            ctx_.platform.prompts.message("Unable to access HS interface", PromptStyle::Information);
            return;
        }
        ReportError(ctx_, kSourceVarnel,
                    "Version " + std::to_string(VARNEL_VERSION_MAJOR) + "." + std::to_string(VARNEL_VERSION_MINOR) +
                        "." + std::to_string(VARNEL_VERSION_PATCH) + " Registered with " + host.callback->name());
    });
    skipStep(ctx_, 4, [&] {
        const std::string version = requireHost(host).Version();
        host.newGeneration = !version.empty() && numericValue(version.substr(0, 1)) > 1;
        host.miscBase = host.newGeneration ? 32768 : 0;
    });
    ctx_.devices.discovered = false;
    skipStep(ctx_, 6, [&] {
        MoveSettingsToIni(ctx_);
        ChooseStoreName(ctx_);
    });
    skipStep(ctx_, 7, [&] { host.hostMode = readNumber(ctx_, setting::kRunAsXapNode) != 1; });
    skipStep(ctx_, 8, [&] {
        if (readSwitch(ctx_, setting::kShowInMenu) && host.callback) host.callback->RegisterMenu("Varnel", "Setup");
    });
    ctx_.timers.disconnectRequest = false;
    ctx_.timers.cmaxLaunch = false;
    ctx_.ir.filesPending = false;
    clearPending(ctx_);
    return {};
}

Variant HSPI::SelectMenu(const std::string& strMenu) {
    if (startsInterfaces() && strMenu == "Setup")
        reportStep(ctx_, "Select Menu ", 1, [&] {
            if (!ctx_.configWindow) throw std::runtime_error("The configuration window is not available");
            ctx_.configWindow->show(ctx_.host.newGeneration);
        });
    return {};
}

std::string HSPI::InitX10(std::int32_t port) {
    if (!startsInterfaces()) return {};
    skipStep(ctx_, 1,
             [&] { ReportError(ctx_, kSourceVarnel, "Initializing X10 Interface on port " + std::to_string(port)); });
    clearPending(ctx_);
    return cpuxaInitX10(ctx_, port);
}

std::string HSPI::InitIO(std::int32_t /*port*/) {
    if (ctx_.controller.ioStarted) return {};
    if (!ctx_.link.portOpen)
        // Reported at once: the port's own messages that follow must not carry it.
        reportStep(ctx_, "InitIO", 1, [&] { ctx_.link.comport = readInt16(ctx_, setting::kComport); });
    if (startsInterfaces()) {
        skipStep(ctx_, 2, [&] { InitIOStart(ctx_, ctx_.link.comport); });
        ctx_.controller.connected = true;
        Pause(ctx_, 2000);
        skipStep(ctx_, 4, [&] { Timer2_Timer(ctx_); });
    } else {
        ctx_.controller.connected = true;
    }
    reportPending(ctx_, "InitIO");
    return {};
}

std::string HSPI::InitIR(std::int32_t port) {
    if (ctx_.controller.irStarted) return {};
    std::string result;
    if (startsInterfaces()) {
        ctx_.link.comport = toInt16(port);
        result = Recognition(ctx_, port);
        SetupIRDictionary(ctx_);
    }
    ctx_.link.recognition = true;
    return result;
}

Variant HSPI::ShutDownX10() {
    ShutdownPlugin();
    return {};
}

Variant HSPI::ShutDownIR() {
    ShutdownPlugin();
    return {};
}

void HSPI::ShutdownIO() { ShutdownPlugin(); }

void HSPI::Release() { ShutdownPlugin(); }

void HSPI::ShutdownPlugin() {
    if (ended_) return;
    ended_ = true;
    // CMAX and IR_MAX get the pause to end; what still runs after it is killed.
    stopStartedPrograms(ctx_);
    skipStep(ctx_, 1, [&] {
        if (ctx_.timers.timer2) ctx_.timers.timer2->setEnabled(false);
    });
    skipStep(ctx_, 2, [&] { Pause(ctx_, 2000); });
    endStartedPrograms(ctx_);
    skipStep(ctx_, 3, [&] { ClosePort(ctx_); });
    // From here no wait keeps the process and nothing reaches the closed port.
    ctx_.ending = true;
    ctx_.link.portOpen = false;
    ctx_.link.commStarted = false;
    ctx_.ir.dictionary.clear();
    skipStep(ctx_, 5, [&] {
        if (!ctx_.ir.filesPending) return;
        Host& hs = requireHost(ctx_.host);
        const std::string dir = hs.GetAppPath();
        const auto script = std::filesystem::path(dir) / "Scripts" / "Varnel_RenameFiles.vbs";
        hs.Launch(script.string(), "\"" + dir + "\"");
    });
    ctx_.devices.mappings.clear();
    ctx_.devices.mappingIndex.clear();
    for (auto* t : {ctx_.timers.timer2.get(), ctx_.timers.timer3.get(), ctx_.timers.clockSync.get()})
        if (t) t->setEnabled(false);
    ctx_.host.hs.reset();
    clearPending(ctx_);
    if (endProcess_) endProcess_();
}

// Host entry points that only queue work or answer from state.

namespace {
QueueRecord record(const std::string& housecode, const std::string& devicecode, std::int16_t command,
                   std::int32_t brightness, std::int16_t data1, std::int16_t data2) {
    return {housecode, devicecode, command, brightness, data1, data2};
}
}  // namespace

void HSPI::QExec(const Variant&, const std::string& housecode, const std::string& devicecode, std::int16_t command,
                 std::int16_t brightness, std::int16_t data1, std::int16_t data2) {
    varnel::QExec(ctx_, record(housecode, devicecode, command, brightness, data1, data2));
}

void HSPI::Exec(const Variant& dv, const std::string& housecode, const std::string& devicecode, std::int16_t command,
                std::int16_t brightness, std::int16_t data1, std::int16_t data2) {
    QExec(dv, housecode, devicecode, command, brightness, data1, data2);
}

Variant HSPI::ExecWait(const Variant& dv, const std::string& housecode, const std::string& devicecode,
                       std::int16_t command, std::int16_t brightness, std::int16_t data1, std::int16_t data2) {
    QExec(dv, housecode, devicecode, command, brightness, data1, data2);
    return {};
}

std::int16_t HSPI::GetDeviceStatus(const std::string& housecode, const std::string& devicecode) {
    skipStep(ctx_, 1, [&] { ReportError(ctx_, kSourceVarnel, "GetDeviceStatus " + housecode + devicecode); });
    clearPending(ctx_);
    return 0;
}

void HSPI::SetZone(std::int32_t zone) { ctx_.ir.zone = toInt16(zone); }

Variant HSPI::LearnIR(std::int32_t loc) {
    varnel::QExec(ctx_, record("", "", kQueueLearn, toInt16(loc), 0, 0));
    return {};
}

void HSPI::configure(const std::string& member) {
    if (startsInterfaces()) {
        reportStep(ctx_, member, 1, [&] {
            if (!ctx_.configWindow) throw std::runtime_error("The configuration window is not available");
            ctx_.configWindow->show(ctx_.host.newGeneration);
        });
        return;
    }
    // An xAP node's user interface: the companion application takes the call;
    // when it is not installed nothing happens.
    skipStep(ctx_, 2, [&] {
        if (ctx_.xapCompanion) ctx_.xapCompanion(member);
    });
    clearPending(ctx_);
}

}  // namespace varnel

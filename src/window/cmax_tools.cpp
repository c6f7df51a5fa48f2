// The CMAX tab (path pickers, CMAX and IR_MAX, synchronisation), the Disconnect
// button and the prompts shown when the window closes.
#include <algorithm>

#include "files/files.h"
#include "plugin/startup.h"
#include "support/errors.h"
#include "support/settings.h"
#include "sysmap/synchronize.h"
#include "window/frm_config.h"

namespace varnel {

namespace {

constexpr const char* kCmaxScript = "Varnel_CMAXSync.txt";

}  // namespace

bool FrmConfig::pick(const std::string& control) {
    if (pickerBusy_) return false;
    const auto it = std::find_if(std::begin(kPathFields), std::end(kPathFields),
                                 [&](const PathField& p) { return control == p.control; });
    if (it == std::end(kPathFields)) return false;
    const std::string chosen = picker_.openFile(it->filter);
    if (chosen.empty()) return false;
    pickerBusy_ = true;
    view_.setText(it->control, chosen);
    writeSetting(ctx_, *it->setting, chosen);
    pickerBusy_ = false;
    return true;
}

void FrmConfig::aCMAX_Click() {
    reportStep(ctx_, "aCMAX_Click", 1, [&] {
        if (!files::isRegularFile(view_.text("aCMAXexe")) && !pick("aCMAXexe")) return;
        if (ctx_.host.hs) ctx_.host.hs->RunEx(kCmaxScript, "BeforeCMAX", "");
        ctx_.timers.cmaxExe = view_.text("aCMAXexe");
        ctx_.timers.disconnectRequest = true;
        ctx_.timers.cmaxLaunch = true;
        disconnectCaption();
    });
}

void FrmConfig::aIRMax_Click() {
    reportStep(ctx_, "aIRMax_Click", 1, [&] {
        if (!files::isRegularFile(view_.text("aIRMaxExe")) && !pick("aIRMaxExe")) return;
        // The controller link stays up while IR_MAX runs.
        ctx_.platform.launcher.run(view_.text("aIRMaxExe"), "", false);
    });
}

void FrmConfig::disconnectCaption() {
    view_.setText("Disconnect", ctx_.timers.disconnectRequest ? "Reconnect to Ocelot" : "Disconnect from Ocelot");
    view_.setEnabled("Disconnect", !ctx_.timers.cmaxLaunch);
}

void FrmConfig::Disconnect_Click() {
    ctx_.timers.disconnectRequest = !ctx_.timers.disconnectRequest;
    if (!unloaded_) disconnectCaption();
    if (ctx_.timers.disconnectRequest) return;
    ctx_.link.portOpen = false;
    StartCommunications(ctx_);
}

void FrmConfig::aSynchronize_Click() {
    reportStep(ctx_, "aSynchronize_Click", 1, [&] {
        for (const SettingKey* s : {&setting::kIncludeVariables, &setting::kIncludeIO, &setting::kIncludeIR,
                                    &setting::kIncludeX10, &setting::kIncludeMessages})
            writeSetting(ctx_, *s, view_.checked(std::string("a") + s->key) ? "1" : "0");
        const bool cmaxMaster = view_.checked(controlName("aSyncMaster", 1));
        writeSetting(ctx_, setting::kSyncMaster, cmaxMaster ? "1" : "0");
        writeSetting(ctx_, setting::kProjectFile, view_.text("aProjectFile"));
        if (!files::isRegularFile(view_.text("aProjectFile")) && !pick("aProjectFile")) return;

        SyncRequest request;
        request.direction = cmaxMaster;
        request.projectFile = view_.text("aProjectFile");
        request.includes = {.variables = view_.checked("aIncludeVariables"),
                            .x10 = view_.checked("aIncludeX10"),
                            .io = view_.checked("aIncludeIO"),
                            .ir = view_.checked("aIncludeIR")};
        runSync(ctx_, request);
    });
}

void FrmConfig::aIncludeMessages_Click() {
    if (pickerBusy_) return;
    ctx_.platform.prompts.message("Not Implemented", PromptStyle::Information);
    pickerBusy_ = true;
    view_.setChecked("aIncludeMessages", false);
    pickerBusy_ = false;
}

void FrmConfig::closingPrompts() {
    auto& prompts = ctx_.platform.prompts;
    if (matricesLoaded_ && (variablesChanged_ || remapChanged_) &&
        prompts.question("Changes were made to Variables or IO Point Devices.  Should these changes be acted upon?"))
        CreateVariablesAndIO(kCreateVariables | kCreateIO);
    if (ctx_.timers.cmaxLaunch)
        prompts.message("Reminder...comm port to ocelot was disconnected and will be reconnected when CMAX is closed",
                        PromptStyle::Information);
    else if (ctx_.timers.disconnectRequest)
        prompts.message("Reminder...comm port to ocelot was disconnected", PromptStyle::Information);
    if (ctx_.ir.filesPending && !prompts.question(kReplaceIrFilesQuestion)) ctx_.ir.filesPending = false;
}

}  // namespace varnel

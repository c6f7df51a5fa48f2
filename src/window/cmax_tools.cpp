// The CMAX tab (path pickers, CMAX and IR_MAX, synchronisation), the Disconnect
// button and the prompts shown when the window closes.
#include <algorithm>
#include <functional>

#include "devices/io_timer.h"
#include "files/files.h"
#include "plugin/startup.h"
#include "support/errors.h"
#include "support/settings.h"
#include "sysmap/synchronize.h"
#include "window/frm_config.h"

namespace varnel {

namespace {

constexpr const char* kCmaxScript = "Varnel_CMAXSync.txt";
// A synchronisation's result lines shown at most; a big one says how many more.
constexpr std::size_t kSyncLinesShown = 25;

SyncIncludes includesShown(const WindowView& view) {
    return {.variables = view.checked("aIncludeVariables"),
            .x10 = view.checked("aIncludeX10"),
            .io = view.checked("aIncludeIO"),
            .ir = view.checked("aIncludeIR")};
}

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

void FrmConfig::toolStep(const char* procedure, const std::function<void()>& step) {
    if (skipStep(ctx_, 1, step)) return;
    const std::string what = ctx_.error.description;
    reportPending(ctx_, procedure);
    ctx_.platform.prompts.message(what, PromptStyle::Exclamation);
}

void FrmConfig::aCMAX_Click() {
    // One run at a time: the button is disabled while one is pending.
    if (ctx_.timers.cmaxLaunch) return;
    toolStep(kCmaxProcedure, [&] {
        if (!files::isRegularFile(view_.text("aCMAXexe")) && !pick("aCMAXexe")) return;
        // A failing script stops the run here, with the link still up.
        if (ctx_.host.hs) ctx_.host.hs->RunEx(kCmaxScript, "BeforeCMAX", "");
        ctx_.timers.cmaxExe = view_.text("aCMAXexe");
        ctx_.timers.disconnectRequest = true;
        ctx_.timers.cmaxLaunch = true;
        disconnectCaption();
    });
}

void FrmConfig::aIRMax_Click() {
    toolStep(kIrMaxProcedure, [&] {
        if (!files::isRegularFile(view_.text("aIRMaxExe")) && !pick("aIRMaxExe")) return;
        auto& runs = ctx_.timers.irMaxRuns;
        std::erase_if(runs, [](const auto& r) { return !r || !r->running(); });
        // The controller link stays up while IR_MAX runs; its failure is told when it ends.
        DeviceLayer& ctx = ctx_;
        runs.push_back(ctx_.platform.launcher.start(view_.text("aIRMaxExe"), "", [&ctx](const ProgramEnd& end) {
            if (!end.ok()) reportProgramFailure(ctx, kIrMaxProcedure, "IR_MAX " + end.describe());
        }));
    });
}

void FrmConfig::programFailed(const std::string& text) {
    if (!unloaded_) ctx_.platform.prompts.message(text, PromptStyle::Exclamation);
}

void FrmConfig::disconnectCaption() {
    view_.setText("Disconnect", ctx_.timers.disconnectRequest ? "Reconnect to Ocelot" : "Disconnect from Ocelot");
    view_.setEnabled("Disconnect", !ctx_.timers.cmaxLaunch);
    view_.setEnabled("aCMAX", !ctx_.timers.cmaxLaunch);
}

void FrmConfig::Disconnect_Click() {
    // From the I/O timer after CMAX: clicks made meanwhile wait for the reconnect, as they
    // wait for a handler of the window.
    if (handling_) return toggleDisconnect();
    handling_ = true;
    toggleDisconnect();
    handling_ = false;
    runHeld();
}

void FrmConfig::toggleDisconnect() {
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
        request.includes = includesShown(view_);
        const SyncSummary summary = runSync(ctx_, request);
        if (summary.outcome == SyncSummary::Outcome::Declined) return;
        // What `varnel sync` prints, so that a run that changed nothing or failed says so.
        const auto lines = describeSync(summary);
        std::string text;
        for (std::size_t i = 0; i < lines.size() && i < kSyncLinesShown; ++i) {
            if (i != 0) text += '\n';
            text += lines[i];
        }
        if (lines.size() > kSyncLinesShown)
            text += "\n... and " + std::to_string(lines.size() - kSyncLinesShown) + " more";
        const bool ok = summary.outcome == SyncSummary::Outcome::Done;
        ctx_.platform.prompts.message(text, ok ? PromptStyle::Information : PromptStyle::Exclamation);
    });
}

void FrmConfig::aIncludeMessages_Click() {
    if (pickerBusy_) return;
    ctx_.platform.prompts.message("Not Implemented", PromptStyle::Information);
    pickerBusy_ = true;
    view_.setChecked("aIncludeMessages", false);
    pickerBusy_ = false;
}

std::vector<std::string> FrmConfig::closingQuestions() const {
    std::vector<std::string> out;
    if (matricesLoaded_ && variablesChanged_) out.emplace_back(kActOnChangesQuestion);
    if (ctx_.ir.filesPending) out.emplace_back(kReplaceIrFilesQuestion);
    return out;
}

std::vector<std::string> FrmConfig::questionsFor(const std::string& control) const {
    if (unloaded_) return {};
    if (control == "CancelButton") return closingQuestions();
    if (control == "OKButton") {
        // Fields in error: Update says so and asks nothing.
        int firstBad = -1;
        if (!checkFields(firstBad).empty()) return {};
        return closingQuestions();
    }
    if (control == "aSynchronize")
        return {syncQuestion(view_.checked(controlName("aSyncMaster", 1)), includesShown(view_))};
    return {};
}

void FrmConfig::closingPrompts() {
    auto& prompts = ctx_.platform.prompts;
    // The question names the variables and points, and Yes creates their devices: remap
    // edits, like every other edit, are stored by Update alone.
    if (matricesLoaded_ && variablesChanged_ && prompts.question(kActOnChangesQuestion))
        CreateVariablesAndIO(kCreateVariables | kCreateIO);
    if (ctx_.timers.cmaxLaunch)
        prompts.message("Reminder...comm port to ocelot was disconnected and will be reconnected when CMAX is closed",
                        PromptStyle::Information);
    else if (ctx_.timers.disconnectRequest)
        prompts.message("Reminder...comm port to ocelot was disconnected", PromptStyle::Information);
    if (ctx_.ir.filesPending && !prompts.question(kReplaceIrFilesQuestion)) ctx_.ir.filesPending = false;
}

}  // namespace varnel

// Loading, Update, Cancel, the IR remap page and the interface name.
#include "window/frm_config.h"

#include <algorithm>
#include <string_view>

#include "commands/ir_files.h"
#include "devices/device_model.h"
#include "plugin/startup.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/settings.h"
#include "support/text.h"

namespace varnel {

namespace {

constexpr const char* kLoadProcedure = "formConfig Load ";
constexpr const char* kUpdateProcedure = "OKButton_Click";
// How often a click held for a busy line tries again.
constexpr int kHeldRetryMs = 20;

// Check boxes that show a stored switch and store 0 or 1.
struct CheckSetting {
    const char* control;
    const SettingKey* setting;
};
constexpr CheckSetting kCheckSettings[] = {
    {.control = "showInMenu", .setting = &setting::kShowInMenu},
    {.control = "ChkInvert", .setting = &setting::kInvert},
    {.control = "aIRRecognitionForward", .setting = &setting::kRecognition},
    {.control = "aX10Xmit", .setting = &setting::kX10Xmit},
    {.control = "aUpdateStrings", .setting = &setting::kUpdateStrings},
    {.control = "aRunAsXapNode", .setting = &setting::kRunAsXapNode},
    {.control = "aIncludeVariables", .setting = &setting::kIncludeVariables},
    {.control = "aIncludeX10", .setting = &setting::kIncludeX10},
    {.control = "aIncludeIO", .setting = &setting::kIncludeIO},
    {.control = "aIncludeIR", .setting = &setting::kIncludeIR},
    {.control = "aIncludeMessages", .setting = &setting::kIncludeMessages},
};

const char* typeName(int type) {
    switch (type) {
        case kSecu16IR: return " SECU16IR";
        case kSecu16: return " SECU16";
        case kSecu16I: return " SECU16I";
        case kRelay08: return " RELAY-08";
        default: return nullptr;
    }
}

// "Check1_5" -> {"Check1", 5}; a name without a numeric suffix keeps index -1.
std::pair<std::string_view, int> splitName(std::string_view name) {
    const auto sep = name.rfind('_');
    if (sep == std::string_view::npos || sep + 1 >= name.size() || name.size() - sep > 5) return {name, -1};
    int index = 0;
    for (char c : name.substr(sep + 1)) {
        if (c < '0' || c > '9') return {name, -1};
        index = index * 10 + (c - '0');
    }
    return {name.substr(0, sep), index};
}

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

}  // namespace

std::vector<std::string> unitList(const DeviceLayer& ctx) {
    std::vector<std::string> lines{"Unit 0 Ocelot/CPU-XA/Leopard"};
    for (int u = 0; u < 128; ++u)
        if (const char* name = typeName(ctx.controller.moduleTypes[static_cast<std::size_t>(u)]))
            lines.push_back("Unit " + std::to_string(u + 1) + name);
    return lines;
}

std::string irLabelCaption(const DeviceLayer& ctx, int index) {
    std::string label;
    if (index >= 0 && index < static_cast<int>(ctx.ir.labels.size()))
        label = ctx.ir.labels[static_cast<std::size_t>(index)];
    // The label file holds the Windows code page; the window shows UTF-8, cut by characters.
    std::string caption = toUtf8(std::to_string(index) + " : " + label);
    std::size_t chars = 0;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(caption[i]) & 0xC0u) == 0x80u;
        if (!continuation && ++chars > kIrCaptionLength) {
            caption.resize(i);
            break;
        }
    }
    return caption;
}

FrmConfig::FrmConfig(DeviceLayer& ctx, WindowState& window, WindowView& view, FilePicker& picker)
    : ctx_(ctx), window_(window), view_(view), picker_(picker) {}

int FrmConfig::rowOfUnit(int unit) const {
    const auto it = rowOfUnit_.find(unit);
    return it == rowOfUnit_.end() ? -1 : it->second;
}

void FrmConfig::Form_Load() {
    window_.open = true;
    reportStep(ctx_, kLoadProcedure, 1, [&] {
        view_.setText("lblver", "Version " + std::to_string(VARNEL_VERSION_MAJOR) + "." +
                                    std::to_string(VARNEL_VERSION_MINOR) + "." + std::to_string(VARNEL_VERSION_PATCH));
        view_.setChecked("PortOpen", ctx_.link.commStarted);
    });
    reportStep(ctx_, kLoadProcedure, 2, [&] { fillSettings(); });
    reportStep(ctx_, kLoadProcedure, 3, [&] {
        units_ = unitList(ctx_);
        view_.setItems("List1", units_);
    });
    reportStep(ctx_, kLoadProcedure, 4, [&] { DiscoverDevices(ctx_); });
    bool irRead = false;
    reportStep(ctx_, kLoadProcedure, 5, [&] { irRead = ReadIRCfg(ctx_); });
    clearPending(ctx_);
    if (irRead) {
        reportStep(ctx_, kLoadProcedure, 6, [&] { fillIrPage(); });
        matricesLoaded_ = LoadVariablesMatrix();
    }
    reportStep(ctx_, kLoadProcedure, 9, [&] { view_.bringToFront(); });
    skipStep(ctx_, 9, [&] {
        if (ctx_.host.callback) ctx_.host.callback->ForceFront(view_.handle());
    });
    clearPending(ctx_);
    disconnectCaption();
    variablesChanged_ = false;
    remapChanged_ = false;
    pickerBusy_ = false;
}

void FrmConfig::fillSettings() {
    for (const auto& s : kCheckSettings) view_.setChecked(s.control, readSwitch(ctx_, *s.setting));
    for (const auto& s : kPathFields) view_.setText(s.control, readText(ctx_, *s.setting));
    const bool cmaxMaster = readSwitch(ctx_, setting::kSyncMaster);
    view_.setChecked(controlName("aSyncMaster", 1), cmaxMaster);
    view_.setChecked(controlName("aSyncMaster", 0), !cmaxMaster);
    interfaceFlag_ = readNumber(ctx_, setting::kInterfaceName) == 1;
    view_.setChecked(controlName("aInterfaceChange", 1), interfaceFlag_);
    view_.setChecked(controlName("aInterfaceChange", 0), !interfaceFlag_);
    // A device given on the command line is the port in use: the number setting is then not used.
    const bool portFixed = !ctx_.link.fixedDevice.empty();
    view_.setText("TxtComPort", portFixed ? ctx_.link.fixedDevice : std::to_string(ctx_.link.comport));
    view_.setEnabled("TxtComPort", !portFixed);
    if (portFixed) view_.setToolTip("TxtComPort", "Given on the command line; the Com port setting is not used");
    view_.setText("TxtPoll", trimmed(readText(ctx_, setting::kPollInterval)));
    view_.setChecked("ChkLogErrors", ctx_.switches.logErrors == 1);
    view_.setChecked("ChkLogComms", ctx_.switches.logComms != 0);
}

void FrmConfig::fillIrPage() {
    workingMap_ = ctx_.ir.map;
    workingMap_.resize(kIrLabelCount);
    std::vector<std::string> groups;
    for (const std::string& g : ctx_.ir.groups) groups.push_back(toUtf8(g));
    view_.setItems("aIRDevice", groups);
    view_.setCurrentIndex("aIRDevice", 0);
    groupBase_ = 0;
    for (int i = 0; i < kIrLabelsPerGroup; ++i) {
        view_.setText(controlName("aIRLabel", i), irLabelCaption(ctx_, i));
        view_.setText(controlName("aRemap", i), workingMap_[static_cast<std::size_t>(i)]);
    }
}

std::vector<std::string> FrmConfig::remapsShown() const {
    std::vector<std::string> map = workingMap_;
    for (int i = 0; i < kIrLabelsPerGroup; ++i) {
        const int label = groupBase_ + i;
        if (const auto at = static_cast<std::size_t>(label); at < map.size())
            map[at] = view_.text(controlName("aRemap", i));
    }
    return map;
}

void FrmConfig::keepVisibleRemaps() { workingMap_ = remapsShown(); }

void FrmConfig::aIRDevice_Click(int index) {
    // The page is empty when the IR files could not be read.
    if (workingMap_.empty() || index < 0 || index >= kIrGroupCount) return;
    keepVisibleRemaps();
    groupBase_ = kIrLabelsPerGroup * index;
    for (int i = 0; i < kIrLabelsPerGroup; ++i) {
        // The last four groups reach past the 1008 labels: those boxes have nothing to remap.
        const int label = groupBase_ + i;
        const auto at = static_cast<std::size_t>(label);
        const bool inTable = at < workingMap_.size();
        view_.setText(controlName("aIRLabel", i), irLabelCaption(ctx_, label));
        view_.setText(controlName("aRemap", i), inTable ? workingMap_[at] : std::string());
        view_.setEnabled(controlName("aRemap", i), inTable);
    }
}

std::vector<std::string> FrmConfig::checkFields(int& firstBadRemap) const {
    std::vector<std::string> problems;
    auto check = [&](std::optional<std::string> problem) {
        if (problem) problems.push_back(std::move(*problem));
    };
    firstBadRemap = -1;
    if (ctx_.link.fixedDevice.empty()) check(checkComPort(view_.text("TxtComPort")));
    check(checkPollInterval(view_.text("TxtPoll")));
    if (!remapChanged_) return problems;
    const auto map = remapsShown();
    for (std::size_t i = 0; i < map.size(); ++i) {
        // A remap the user did not touch is saved as the file had it.
        if (i < ctx_.ir.map.size() && map[i] == ctx_.ir.map[i]) continue;
        auto problem = checkIrRemap(map[i], static_cast<int>(i));
        if (!problem) continue;
        if (firstBadRemap < 0) firstBadRemap = static_cast<int>(i);
        check(std::move(problem));
    }
    return problems;
}

std::vector<std::string> FrmConfig::fieldProblems() {
    int firstBad = -1;
    auto problems = checkFields(firstBad);
    // The first box in error is shown, whichever group it belongs to.
    if (firstBad >= 0 && firstBad / kIrLabelsPerGroup != groupBase_ / kIrLabelsPerGroup) {
        view_.setCurrentIndex("aIRDevice", firstBad / kIrLabelsPerGroup);
        aIRDevice_Click(firstBad / kIrLabelsPerGroup);
    }
    return problems;
}

void FrmConfig::storeSettings() {
    auto& sw = ctx_.switches;
    if (ctx_.link.fixedDevice.empty())
        ctx_.link.comport = static_cast<std::int16_t>(*fieldValue(setting::kComport, view_.text("TxtComPort")));
    ctx_.timers.pollInterval = std::to_string(*fieldValue(setting::kPollInterval, view_.text("TxtPoll")));
    sw.invert = view_.checked("ChkInvert") ? 1 : 0;
    sw.logErrors = view_.checked("ChkLogErrors") ? 1 : 0;
    sw.logComms = view_.checked("ChkLogComms") ? 1 : 0;
    sw.x10Xmit = view_.checked("aX10Xmit") ? 1 : 0;
    sw.updateStrings = view_.checked("aUpdateStrings") ? "1" : "0";

    const bool varnel = view_.checked(controlName("aInterfaceChange", 1));
    if (varnel != interfaceFlag_) {
        ChangeInterface(varnel);
        ctx_.devices.interfaceName = varnel ? kInterfaceVarnel : kInterfaceOcelot;
        interfaceFlag_ = varnel;
        writeSetting(ctx_, setting::kInterfaceName, varnel ? "1" : "0");
    }

    if (ctx_.link.fixedDevice.empty()) writeSetting(ctx_, setting::kComport, std::to_string(ctx_.link.comport));
    writeSetting(ctx_, setting::kPollInterval, ctx_.timers.pollInterval);
    writeSetting(ctx_, setting::kLogErrors, std::to_string(sw.logErrors));
    writeSetting(ctx_, setting::kLogComms, std::to_string(sw.logComms));
    for (const auto& s : kCheckSettings) writeSetting(ctx_, *s.setting, view_.checked(s.control) ? "1" : "0");
    writeSetting(ctx_, setting::kSyncMaster, view_.checked(controlName("aSyncMaster", 1)) ? "1" : "0");
    for (const auto& s : kPathFields) writeSetting(ctx_, *s.setting, view_.text(s.control));

    if (remapChanged_) {
        keepVisibleRemaps();
        for (std::size_t i = 0; i < workingMap_.size(); ++i)
            if (i >= ctx_.ir.map.size() || workingMap_[i] != ctx_.ir.map[i])
                workingMap_[i] = irRemapValue(workingMap_[i]);
        ctx_.ir.map = workingMap_;
        SaveIRMap(ctx_);
        BuildIRLookup(ctx_);
        remapChanged_ = false;
    }
}

void FrmConfig::OKButton_Click() {
    // A field in error stores nothing at all: the window stays open with every edit.
    if (const auto problems = fieldProblems(); !problems.empty()) {
        std::string text;
        for (const auto& p : problems) {
            if (!text.empty()) text += '\n';
            text += p;
        }
        ctx_.platform.prompts.message(text, PromptStyle::Exclamation);
        return;
    }
    reportStep(ctx_, kUpdateProcedure, 1, [&] { storeSettings(); });
    Form_Unload();
}

void FrmConfig::ChangeInterface(bool varnel) {
    const std::string oldName = lower(varnel ? kInterfaceOcelot : kInterfaceVarnel);
    const std::string newName = varnel ? kInterfaceVarnel : kInterfaceOcelot;
    reportStep(ctx_, "ChangeInterface", 1, [&] {
        forEachHostDevice(ctx_, [&](Device& dev) {
            if (lower(dev.interface_()) == oldName) {
                dev.set_interface(newName);
                dev.set_misc(dev.misc() | ctx_.host.miscBase);
            }
            return true;
        });
    });
}

namespace {
struct HandlingScope {
    explicit HandlingScope(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~HandlingScope() { flag_ = was_; }
    HandlingScope(const HandlingScope&) = delete;
    HandlingScope& operator=(const HandlingScope&) = delete;
    bool& flag_;
    bool was_;
};
}  // namespace

bool FrmConfig::readyForClick() const { return !handling_ && ctx_.gate.idle(); }

void FrmConfig::chosen(const std::string& control, int index) {
    input({.control = control, .index = index, .choice = true});
}

void FrmConfig::clicked(const std::string& control) { input({.control = control, .index = -1, .choice = false}); }

void FrmConfig::input(Input in) {
    if (unloaded_) return;
    held_.push_back(std::move(in));
    // Inside a running handler: its end runs the held clicks.
    if (!handling_) runHeld();
}

void FrmConfig::runHeld() {
    while (!held_.empty() && !unloaded_) {
        if (!readyForClick()) {
            // The line is in use: try again shortly. The view already shows the click.
            if (!heldRetry_) {
                heldRetry_ = ctx_.platform.loop.createTimer();
                heldRetry_->setInterval(kHeldRetryMs);
                heldRetry_->onTick = [this] {
                    heldRetry_->setEnabled(false);
                    runHeld();
                };
            }
            heldRetry_->setEnabled(true);
            return;
        }
        const Input in = std::move(held_.front());
        held_.pop_front();
        HandlingScope scope(handling_);
        dispatch(in);
    }
    held_.clear();
}

void FrmConfig::dispatch(const Input& in) {
    if (in.choice) {
        if (in.control == "aIRDevice") aIRDevice_Click(in.index);
        return;
    }
    click(in.control);
}

void FrmConfig::click(const std::string& control) {
    using Handler = void (FrmConfig::*)();
    static const std::map<std::string_view, Handler> buttons = {
        {"OKButton", &FrmConfig::OKButton_Click},
        {"CancelButton", &FrmConfig::Form_Unload},
        {"Disconnect", &FrmConfig::toggleDisconnect},
        {"aCMAX", &FrmConfig::aCMAX_Click},
        {"aIRMax", &FrmConfig::aIRMax_Click},
        {"aSynchronize", &FrmConfig::aSynchronize_Click},
        {"aIncludeMessages", &FrmConfig::aIncludeMessages_Click},
    };
    if (const auto it = buttons.find(control); it != buttons.end()) {
        (this->*it->second)();
        return;
    }
    for (const auto& f : kPathFields)
        if (control == f.control) {
            pick(control);
            return;
        }
    if (control == "aCreateVariables") return createButton(kCreateVariables);
    if (control == "ButCreate") return createButton(kCreateIO);
    if (control == "aClock") {
        reportStep(ctx_, "aClock_Click", 1, [&] { SyncClock(ctx_); });
        return;
    }
    if (control == "Command1") {
        CreateLeopardDevice(ctx_);
        return;
    }
    const auto [array, index] = splitName(control);
    if (index < 0) return;
    if (array == "Check1" || array == "IOPoint" || array == "aInvert") variablesChanged_ = true;
    if (array == "aRemap") remapChanged_ = true;
}

void FrmConfig::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    closingPrompts();
    window_.open = false;
    view_.closeWindow();
    if (onUnloaded) onUnloaded();
}

void FrmConfig::showPortOpen(bool on) {
    if (!unloaded_) view_.setChecked("PortOpen", on);
}

}  // namespace varnel

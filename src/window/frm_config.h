#pragma once
// The configuration window's behaviour, without a toolkit: it owns the window
// state, fills a WindowView from the plug-in's state and settings, and acts on
// the user's clicks. The view only shows controls and reports clicks.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_picker.h"
#include "plugin/plugin_state.h"
#include "support/settings.h"
#include "window/window_view.h"

namespace varnel {

inline constexpr const char* kInterfaceVarnel = "Varnel";
inline constexpr const char* kInterfaceOcelot = "Applied Digital Ocelot";
// Asked when the window closes with edited variable or point ticks.
inline constexpr const char* kActOnChangesQuestion =
    "Changes were made to Variables or IO Point Devices.  Should these changes be acted upon?";

// The flags of CreateVariablesAndIO.
enum CreateFlags : std::uint8_t { kCreateVariables = 1, kCreateIO = 2 };

// The unit list: the controller first, then every module of a known type.
std::vector<std::string> unitList(const DeviceLayer& ctx);
// An IR label caption ("12 : Power") is cut to this many characters.
inline constexpr std::size_t kIrCaptionLength = 19;
std::string irLabelCaption(const DeviceLayer& ctx, int index);
// The three-character tag of a module type in the I/O grid.
std::string typeTag(int moduleType);

// The three path boxes of the CMAX tab: the setting each keeps and its picker's filter.
struct PathField {
    const char* control;
    const SettingKey* setting;
    const char* filter;
};
inline constexpr PathField kPathFields[] = {
    {.control = "aProjectFile", .setting = &setting::kProjectFile, .filter = "Project (*.prj)|*.prj"},
    {.control = "aCMAXexe", .setting = &setting::kCmaxFile, .filter = "cpuxa.exe|cpuxa.exe"},
    {.control = "aIRMaxExe", .setting = &setting::kIrMaxFile, .filter = "IR_MAX.exe|IR_MAX.exe"},
};

class FrmConfig {
public:
    FrmConfig(DeviceLayer& ctx, WindowState& window, WindowView& view, FilePicker& picker);
    FrmConfig(const FrmConfig&) = delete;
    FrmConfig& operator=(const FrmConfig&) = delete;

    void Form_Load();
    // A click on a control, by its name (see WindowView). The close box is a click on
    // "CancelButton". A click that cannot run now (see readyForClick) is held and runs,
    // in the order it came, once it can; none is dropped while the window is open.
    void clicked(const std::string& control);
    // A choice in a drop-down list (the IR group list); held like a click.
    void chosen(const std::string& control, int index);
    // Update and Cancel end here: the closing prompts, then the view closes.
    void Form_Unload();
    [[nodiscard]] bool unloaded() const { return unloaded_; }
    // A click may run now: no exchange with the controller under way (two must never share
    // the line) and no handler of this window running.
    [[nodiscard]] bool readyForClick() const;
    // A handler of this window is running (its waits keep the window painted).
    [[nodiscard]] bool handling() const { return handling_; }
    // Clicks waiting for the running handler or the line.
    [[nodiscard]] std::size_t heldClicks() const { return held_.size(); }
    // The questions a click on `control` would ask if it ran now, in the order it asks
    // them; a picker it opens is taken to choose a file. Lets a view without modal
    // dialogs get the answers first, so that nothing runs half way and stops to ask.
    [[nodiscard]] std::vector<std::string> questionsFor(const std::string& control) const;
    // Runs once the window is gone.
    std::function<void()> onUnloaded;

    // Called by the I/O timer: the port lamp, and the reconnect after CMAX.
    void showPortOpen(bool on);
    void Disconnect_Click();
    // CMAX or IR_MAX failed (already in the host log): told in a message box.
    void programFailed(const std::string& text);

    bool LoadVariablesMatrix();
    void CreateVariablesAndIO(std::uint8_t flags);
    void ChangeInterface(bool varnel);

    // Window state, for the view and for tests.
    [[nodiscard]] bool variablesChanged() const { return variablesChanged_; }
    [[nodiscard]] bool remapChanged() const { return remapChanged_; }
    [[nodiscard]] bool matricesLoaded() const { return matricesLoaded_; }
    [[nodiscard]] int irGroupBase() const { return groupBase_; }
    [[nodiscard]] const std::vector<std::string>& workingMap() const { return workingMap_; }
    // Grid row that showed `unit`, -1 when it had none.
    [[nodiscard]] int rowOfUnit(int unit) const;

private:
    // Loading and Update.
    void fillSettings();
    void fillIrPage();
    // Every typed field's message, checked before anything is stored; empty when all are
    // fine. `firstBadRemap` is the first remap in error, -1 when none is.
    std::vector<std::string> checkFields(int& firstBadRemap) const;
    // The same, and the IR page turned to the first remap in error.
    std::vector<std::string> fieldProblems();
    // The remap table with the boxes on show taken in.
    [[nodiscard]] std::vector<std::string> remapsShown() const;
    void storeSettings();
    void OKButton_Click();
    void aIRDevice_Click(int index);
    void keepVisibleRemaps();

    // Variables and I/O matrix.
    void houseCodeLabels();
    void fillVariables();
    void fillIoGrid();
    void fillModuleRow(int row, int unit, const umap& m);
    void hideRow(int row);
    void createButton(std::uint8_t flags);
    std::array<bool, 16> rowTicks(int unit, bool& invert) const;

    // Held clicks and choices, run in order once clicks may run.
    struct Input {
        std::string control;
        int index = -1;
        bool choice = false;
    };
    void input(Input in);
    void runHeld();
    void dispatch(const Input& in);
    void click(const std::string& control);

    // CMAX tools and the closing prompts.
    bool pick(const std::string& control);
    // Runs a tool's step; a failure goes to the host log under `procedure` and to a message box.
    void toolStep(const char* procedure, const std::function<void()>& step);
    void aCMAX_Click();
    void aIRMax_Click();
    void aSynchronize_Click();
    void aIncludeMessages_Click();
    void toggleDisconnect();
    void disconnectCaption();
    void closingPrompts();
    [[nodiscard]] std::vector<std::string> closingQuestions() const;

    DeviceLayer& ctx_;
    WindowState& window_;
    WindowView& view_;
    FilePicker& picker_;

    bool variablesChanged_ = false;
    bool remapChanged_ = false;
    bool matricesLoaded_ = false;
    bool pickerBusy_ = false;
    bool unloaded_ = false;
    bool handling_ = false;
    bool interfaceFlag_ = false;  // the interface choice at load, to see a change at Update
    int groupBase_ = 0;
    std::vector<std::string> workingMap_;
    std::vector<std::string> units_;
    std::map<int, int> rowOfUnit_;
    std::deque<Input> held_;
    std::unique_ptr<Timer> heldRetry_;  // while the line is busy
};

}  // namespace varnel

#pragma once
// What the configuration window's model needs of a view. Controls are found by
// name: a single control by its own name ("TxtComPort"), a member of a control
// array by name, "_" and index ("Check1_5", "IOPoint_37", "aSyncMaster_1").
#include <cstdint>
#include <string>
#include <vector>

namespace varnel {

class FrmConfig;

inline std::string controlName(const std::string& array, int index) { return array + "_" + std::to_string(index); }

class WindowView {
public:
    virtual ~WindowView() = default;
    // Caption of a label, button or frame; text of a text box.
    virtual void setText(const std::string& control, const std::string& text) = 0;
    [[nodiscard]] virtual std::string text(const std::string& control) const = 0;
    // Check boxes, and option buttons (one member of an option pair at a time).
    virtual void setChecked(const std::string& control, bool on) = 0;
    [[nodiscard]] virtual bool checked(const std::string& control) const = 0;
    virtual void setToolTip(const std::string& control, const std::string& tip) = 0;
    virtual void setEnabled(const std::string& control, bool on) = 0;
    virtual void setVisible(const std::string& control, bool on) = 0;
    // Lists and drop-down lists.
    virtual void setItems(const std::string& control, const std::vector<std::string>& items) = 0;
    virtual void setCurrentIndex(const std::string& control, int index) = 0;

    // The window as a whole.
    virtual void bringToFront() = 0;
    // The wait cursor, on while devices are being made (that can take seconds).
    virtual void setBusy(bool busy) = 0;
    // Native handle for the host's ForceFront; 0 when there is none.
    [[nodiscard]] virtual std::intptr_t handle() const = 0;
    // Takes the window off the screen; the model has run its closing steps.
    virtual void closeWindow() = 0;
    // The model the view reports clicks to; set before loading.
    virtual void attach(FrmConfig& model) = 0;
};

}  // namespace varnel

#pragma once
// Message boxes and the Open dialog of a session with a display.
#include "platform/file_picker.h"
#include "platform/prompts.h"

namespace varnel {

class QtPrompts final : public Prompts {
public:
    void message(const std::string& text, PromptStyle style) override;
    bool question(const std::string& text) override;
    void beep() override;
};

class QtFilePicker final : public FilePicker {
public:
    std::string openFile(const std::string& filter) override;
};

// "Project (*.prj)|*.prj" as a Qt name filter list, with "All files" after it:
// a program may well be a wrapper script under another name.
std::string qtNameFilters(const std::string& filter);

}  // namespace varnel

#pragma once
// The platform's prompts, turned to another audience for a while: the web page's
// configuration session takes them while its form is open, as the desktop window
// takes them for its dialogs. The platform holds its prompts by reference, so the
// turn happens here rather than by swapping the reference.
#include <string>

#include "platform/prompts.h"

namespace varnel {

class PromptsSwitch final : public Prompts {
public:
    explicit PromptsSwitch(Prompts& usual) : usual_(usual) {}

    // Every prompt goes to `to` until divert(nullptr).
    void divert(Prompts* to) { to_ = to; }
    [[nodiscard]] bool diverted() const { return to_ != nullptr; }

    void message(const std::string& text, PromptStyle style) override { pick().message(text, style); }
    bool question(const std::string& text) override { return pick().question(text); }
    void beep() override { pick().beep(); }

private:
    Prompts& pick() { return to_ != nullptr ? *to_ : usual_; }
    Prompts& usual_;
    Prompts* to_ = nullptr;
};

}  // namespace varnel

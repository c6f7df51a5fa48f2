#pragma once
// Prompts without a display: every text goes to a sink (the host log in a
// headless run) and each question gets the configured answer.
#include <functional>
#include <string>
#include <utility>

#include "platform/prompts.h"

namespace varnel {

class HeadlessPrompts final : public Prompts {
public:
    using Sink = std::function<void(const std::string&)>;
    // No means "leave things as they are", the safe answer when nobody is there to ask.
    explicit HeadlessPrompts(Sink sink, bool answer = false) : sink_(std::move(sink)), answer_(answer) {}

    void message(const std::string& text, PromptStyle style) override {
        const char* tag = style == PromptStyle::Critical      ? "Error: "
                          : style == PromptStyle::Exclamation ? "Warning: "
                                                              : "";
        send(tag + text);
    }
    bool question(const std::string& text) override {
        send(text + (answer_ ? " (answered Yes: no display)" : " (answered No: no display)"));
        return answer_;
    }
    void beep() override {}

private:
    void send(const std::string& line) {
        if (sink_) sink_(line);
    }
    Sink sink_;
    bool answer_;
};

}  // namespace varnel

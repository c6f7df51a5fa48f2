#pragma once
// Prompts for tests and headless runs: remembers what was shown, answers
// questions with a preset answer, and forwards each text to an optional sink.
#include <functional>
#include <string>
#include <vector>

#include "platform/prompts.h"

namespace varnel {

class RecordingPrompts final : public Prompts {
public:
    struct Shown {
        std::string text;
        PromptStyle style;
    };
    void message(const std::string& text, PromptStyle style) override {
        shown.push_back({text, style});
        if (sink) sink(text);
    }
    bool question(const std::string& text) override {
        questions.push_back(text);
        if (sink) sink(text);
        return answer;
    }
    void beep() override { ++beeps; }

    std::vector<Shown> shown;
    std::vector<std::string> questions;
    bool answer = true;
    int beeps = 0;
    std::function<void(const std::string&)> sink;
};

}  // namespace varnel

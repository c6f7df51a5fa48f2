#pragma once
// Message boxes and questions. Without a display the text goes to the host log.
#include <string>

namespace varnel {

enum class PromptStyle { Information, Exclamation, Critical };

class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void message(const std::string& text, PromptStyle style) = 0;
    // Yes/no question; a headless implementation answers with its configured default.
    virtual bool question(const std::string& text) = 0;
    virtual void beep() = 0;
};

}  // namespace varnel

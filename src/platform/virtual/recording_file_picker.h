#pragma once
// A file picker for tests: answers from a list (then "", as if cancelled) and
// remembers the filters it was shown with.
#include <deque>
#include <string>
#include <vector>

#include "platform/file_picker.h"

namespace varnel {

class RecordingFilePicker final : public FilePicker {
public:
    std::string openFile(const std::string& filter) override {
        filters.push_back(filter);
        if (answers.empty()) return {};
        std::string chosen = answers.front();
        answers.pop_front();
        return chosen;
    }
    std::deque<std::string> answers;
    std::vector<std::string> filters;
};

}  // namespace varnel

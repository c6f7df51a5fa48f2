#pragma once
// The Open dialog the window's path pickers use.
#include <string>

namespace varnel {

class FilePicker {
public:
    virtual ~FilePicker() = default;
    // `filter` is "Description|pattern" (for example "Project (*.prj)|*.prj"); only
    // existing files can be chosen. Returns the chosen path, "" when cancelled.
    virtual std::string openFile(const std::string& filter) = 0;
};

}  // namespace varnel

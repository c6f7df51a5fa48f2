#pragma once
// One synchronisation's System Map state: the image of the project file, the paths of
// the project and IR files, the section being worked on, and a record of what changed.
// It lives for one Synchronize call; nothing of it is kept between synchronisations.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/context.h"
#include "sysmap/project_file.h"
#include "sysmap/safe_file.h"

namespace varnel {

// Which kinds of names a synchronisation copies (the window's four "Include" boxes).
struct SyncIncludes {
    bool variables = false;
    bool x10 = false;
    bool io = false;
    bool ir = false;
};

// What one synchronisation changed, for the caller to show.
struct SyncLog {
    struct DeviceChange {
        std::string code;
        bool created = false;
        std::string oldLocation, oldName;  // empty for a created device
        std::string location, name;
    };
    struct LineChange {
        std::int32_t id = 0;        // line number in the project file
        std::string before, after;  // without line ends
    };
    std::vector<DeviceChange> devices;
    std::vector<std::filesystem::path> filesWritten;  // synchronized IR files
    std::vector<LineChange> lines;                    // project file lines written, in file order
    std::filesystem::path backup;                     // "Copy of " file, once made
    bool projectWritten = false;
    bool readFailed = false;
    std::string writeError;  // why the project file was not written
};

struct SystemMap {
    SystemMapImage image;
    std::filesystem::path projectFile;
    std::filesystem::path irLabelFile;
    std::filesystem::path irZoneFile;
    std::int32_t sectionHeader = 0;  // ID of the header of the section being worked on
    std::int32_t sectionBase = 0;    // where that section's entries are counted from
    FileFaults faults;
    SyncLog log;

    // Points the section at a header record; entries are counted from `base`.
    void enterSection(std::int32_t header, std::int32_t base) {
        sectionHeader = header;
        sectionBase = base;
    }
};

// Sets the IR file paths and reads the project file. False when the read failed.
bool InitSystemMap(Context& ctx, SystemMap& sm);
// Fills the image from the project file. A missing or unnamed file is shown to the user
// and leaves the image empty (true); an unreadable or malformed one is reported (false).
bool ReadSystemMap(Context& ctx, SystemMap& sm);
// Backs the project file up as "Copy of <name>" and replaces it with the image; unchanged
// lines keep their bytes. An empty image writes nothing. Any failure leaves the project
// file as it was and is reported as "WriteSystemMap".
void WriteSystemMap(Context& ctx, SystemMap& sm);

// "Copy of " followed by the file's name, in the file's directory.
std::filesystem::path backupPathFor(const std::filesystem::path& projectFile);

}  // namespace varnel

#pragma once
// One synchronisation's System Map state: the image of the project file, the paths of
// the project and IR files, the section being worked on, and a record of what changed.
// It lives for one Synchronize call; nothing of it is kept between synchronisations.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "devices/device_state.h"
#include "files/files.h"
#include "support/errors.h"
#include "sysmap/project_file.h"

namespace varnel {

// Stand-ins for the writes and renames of the files a synchronisation writes (tests).
using FileFaults = files::WriteFaults;

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
    bool projectDamaged = false;           // a failed write left the project file unlike what was read
    bool noSection = false;                // the file holds no System Map section: nothing was done
    std::string writeError;                // why the project file was not written
    std::vector<std::string> failedSteps;  // procedures that reported an error, each once, in order
    // Host texts written with "?" for characters the project file's code page lacks, each once.
    std::vector<std::string> namesOutsideCodePage;
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
    // Entries of the current section asked for and found, to tell a section that has none.
    int entriesAsked = 0;
    int entriesFound = 0;

    // Points the section at a header record; entries are counted from `base`.
    void enterSection(std::int32_t header, std::int32_t base) {
        sectionHeader = header;
        sectionBase = base;
        entriesAsked = entriesFound = 0;
    }
    // The content record `id` of the current section, or null: a short section never
    // lends its neighbour's lines or a header line.
    const MapRecord* entry(std::int64_t id) {
        ++entriesAsked;
        const MapRecord* r = image.entry(sectionHeader, id);
        if (r) ++entriesFound;
        return r;
    }
    void noteFailure(const std::string& procedure) {
        auto& steps = log.failedSteps;
        if (std::find(steps.begin(), steps.end(), procedure) == steps.end()) steps.push_back(procedure);
    }
};

// reportStep that also notes the failing procedure in the synchronisation's log, so
// that the caller can tell an incomplete synchronisation from a complete one.
template <class F>
bool syncStep(DeviceLayer& ctx, SystemMap& sm, const std::string& procedure, int step, F&& fn) noexcept {
    if (reportStep(ctx, procedure, step, std::forward<F>(fn))) return true;
    sm.noteFailure(procedure);
    return false;
}

// Says once, when the current section had entries asked for and none of them was
// there (a header right below the section header), that its names are left alone.
void reportSectionWithoutEntries(DeviceLayer& ctx, SystemMap& sm);

// Sets the IR file paths and reads the project file. False when the read failed.
bool InitSystemMap(DeviceLayer& ctx, SystemMap& sm);
// Fills the image from the project file. A missing or unnamed file is shown to the user
// and leaves the image empty (true); an unreadable or malformed one is reported (false).
bool ReadSystemMap(DeviceLayer& ctx, SystemMap& sm);
// Backs the project file up as "Copy of <name>" and replaces it with the image; unchanged
// lines keep their bytes. An image without a changed line writes nothing, not even the
// backup. Any failure leaves the project file as it was and is reported as "WriteSystemMap".
void WriteSystemMap(DeviceLayer& ctx, SystemMap& sm);

// "Copy of " followed by the file's name, in the file's directory.
std::filesystem::path backupPathFor(const std::filesystem::path& projectFile);

}  // namespace varnel

#pragma once
// The single entry point of the System Map synchronisation, for both directions, and a
// headless runner around it that asks the window's confirmation and reports what changed.
#include <functional>
#include <string>
#include <vector>

#include "devices/device_state.h"
#include "sysmap/system_map.h"

namespace varnel {

// direction true: System Map to host; false: host to System Map (the project file is
// backed up and rewritten). Returns what changed; nothing of the image is kept.
SyncLog Synchronize(DeviceLayer& ctx, bool direction, const std::string& projectFile, const SyncIncludes& includes,
                    const FileFaults& faults = {});

// The confirmation the window asks before a synchronisation.
std::string syncQuestion(bool direction, const SyncIncludes& includes);

// Asked once IR label files were made from the System Map: the live ones are swapped only on yes.
inline constexpr const char* kReplaceIrFilesQuestion =
    "IR Label Files have been created from CMAX System Map.  Their use requires a host restart.  Do you want them "
    "to replace existing ones after the host shuts down?";

struct SyncRequest {
    bool direction = false;  // as Synchronize: true = System Map to host
    std::string projectFile;
    SyncIncludes includes;
    bool assumeYes = false;  // skip the confirmation
    // Asks the confirmation; unset = ctx.platform.prompts.question.
    std::function<bool(const std::string& question)> confirm;
    // Before syncing, find the plug-in's devices as start-up does (interface name,
    // variables house code, unit mappings, selection tables). A running plug-in has done
    // this already; a standalone run needs it.
    bool discoverDevices = false;
    // Read the IR label and map files first when IR labels are included. A standalone
    // run needs it; a running plug-in has the tables loaded already.
    bool loadIrTables = false;
    FileFaults faults;
};

struct SyncSummary {
    enum class Outcome {
        Done,           // ran; see log for what changed
        Declined,       // the confirmation was answered No
        NoProjectFile,  // no project file at the given path: nothing asked, nothing done
        ReadFailed,     // the project file could not be read (reported to the host log)
        NoSection,      // the file holds no System Map section: nothing done, nothing written
        WriteFailed,    // the project file was not written; log.projectDamaged when a failed write changed it
        StepFailed,     // ran, but a step reported an error (see log.failedSteps)
    };
    Outcome outcome = Outcome::Done;
    std::string question;
    SyncLog log;
};

SyncSummary runSync(DeviceLayer& ctx, const SyncRequest& request);

// One line per change and per file written, then the outcome, for a console.
std::vector<std::string> describeSync(const SyncSummary& summary);

}  // namespace varnel

#include "sysmap/system_map.h"

#include <stdexcept>

#include "commands/ir_files.h"
#include "support/errors.h"

namespace varnel {

namespace fs = std::filesystem;

namespace {

void reportAs(Context& ctx, const std::string& procedure, int step, const std::string& description) {
    ctx.error = {true, step, description};
    reportPending(ctx, procedure);
}

}  // namespace

fs::path backupPathFor(const fs::path& projectFile) {
    return projectFile.parent_path() / ("Copy of " + projectFile.filename().string());
}

bool InitSystemMap(Context& ctx, SystemMap& sm) {
    const bool pathsSet = reportStep(ctx, "InitSystemMap", 1, [&] {
        sm.irZoneFile = irFilePath(ctx, "irZones.cfg");
        sm.irLabelFile = irFilePath(ctx, "irLbl.cfg");
    });
    if (!pathsSet) return false;
    sm.image.clear();
    return ReadSystemMap(ctx, sm);
}

bool ReadSystemMap(Context& ctx, SystemMap& sm) {
    if (sm.projectFile.empty()) {
        reportStep(ctx, "ReadSystemMap", 1, [&] {
            ctx.platform.prompts.message("No Project File has been specified", PromptStyle::Information);
        });
        return true;
    }
    if (!regularFileExists(sm.projectFile)) {
        reportStep(ctx, "ReadSystemMap", 2, [&] {
            ctx.platform.prompts.message("Specified Project File does not exist", PromptStyle::Information);
        });
        return true;
    }
    std::string bytes;
    const bool read = reportStep(ctx, "ReadSystemMap", 3, [&] {
        auto content = readWholeFile(sm.projectFile, kMaxProjectBytes);
        if (!content) throw std::runtime_error("File not found");
        bytes = std::move(*content);
    });
    if (!read) {
        sm.log.readFailed = true;
        return false;
    }
    if (auto err = sm.image.parse(bytes)) {
        // The step names the offending line of the file, which is what the user must fix.
        reportAs(ctx, "ReadSystemMap", err->line, err->description);
        sm.log.readFailed = true;
        return false;
    }
    return true;
}

void WriteSystemMap(Context& ctx, SystemMap& sm) {
    if (sm.image.empty()) return;

    std::string original;
    const fs::path backup = backupPathFor(sm.projectFile);
    auto fail = [&](const char* what) { sm.log.writeError = what + (": " + ctx.error.description); };
    bool ok = skipStep(ctx, 1, [&] {
        auto content = readWholeFile(sm.projectFile, kMaxProjectBytes);
        if (!content) throw std::runtime_error("File not found: " + sm.projectFile.string());
        original = std::move(*content);
    });
    if (ok) ok = skipStep(ctx, 2, [&] { replaceFile(backup, original, sm.faults); });
    if (ok) sm.log.backup = backup;
    if (ok) ok = skipStep(ctx, 3, [&] { replaceFile(sm.projectFile, sm.image.render(), sm.faults); });
    if (ok) {
        sm.log.projectWritten = true;
        sm.log.lines.clear();
        for (const MapRecord* r : sm.image.changedRecords()) sm.log.lines.push_back({r->ID, r->raw, sm.image.Line(*r)});
        return;
    }
    fail(ctx.error.step == 3 ? "Project file not written" : "Project file not backed up, so not written");
    reportPending(ctx, "WriteSystemMap");
}

}  // namespace varnel

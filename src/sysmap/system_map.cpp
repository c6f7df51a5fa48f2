#include "sysmap/system_map.h"

#include <sys/stat.h>

#include <stdexcept>

#include "commands/ir_files.h"
#include "support/codepage.h"
#include "support/errors.h"

namespace varnel {

namespace fs = std::filesystem;

namespace {

constexpr files::Limits kProjectLimits{.maxBytes = kMaxProjectBytes, .maxLines = kMaxProjectLines};

// A plain message to the host log; a host that cannot take it loses only the note.
void note(DeviceLayer& ctx, const std::string& text) noexcept {
    try {
        ReportError(ctx, kSourceVarnel, text);
    } catch (...) {
    }
}

void reportAs(DeviceLayer& ctx, const std::string& procedure, int step, const std::string& description) {
    ctx.error = {true, step, description};
    reportPending(ctx, procedure);
}

// The file a write of the project replaces: a link is followed to the file it names.
fs::path projectTarget(const fs::path& project) {
    std::error_code ec;
    const fs::path target = fs::is_symlink(project, ec) ? fs::weakly_canonical(project, ec) : project;
    return ec ? project : target;
}

// Temporary files that a killed write of the project or its backup left behind.
void cleanLeftovers(DeviceLayer& ctx, const fs::path& project, const fs::path& backup) {
    for (const fs::path& file : {projectTarget(project), backup}) {
        const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
        const files::Leftovers left = files::cleanLeftovers(dir, file.filename().string());
        for (const fs::path& f : left.removed) note(ctx, "Removed " + f.string() + ", left by an interrupted write");
    }
}

// True when writing the backup would replace the very file the project write replaces:
// the project is then a link to its own backup, and its content would exist nowhere.
bool backupIsProject(const fs::path& project, const fs::path& backup) {
    struct stat p {};
    struct stat b {};
    return ::stat(project.c_str(), &p) == 0 && ::lstat(backup.c_str(), &b) == 0 && p.st_dev == b.st_dev &&
           p.st_ino == b.st_ino;
}

}  // namespace

fs::path backupPathFor(const fs::path& projectFile) {
    return projectFile.parent_path() / ("Copy of " + projectFile.filename().string());
}

void reportSectionWithoutEntries(DeviceLayer& ctx, SystemMap& sm) {
    if (sm.entriesAsked == 0 || sm.entriesFound > 0) return;
    sm.entriesAsked = 0;
    const MapRecord* header = sm.image.record(sm.sectionHeader);
    const std::string name = header ? toUtf8(withoutTabs(header->raw)) : std::string{};
    note(ctx, "System Map section " + name + " (line " + std::to_string(sm.sectionHeader) +
                  ") has no entry lines below its header; its names are left as they are");
}

bool InitSystemMap(DeviceLayer& ctx, SystemMap& sm) {
    const bool pathsSet = syncStep(ctx, sm, "InitSystemMap", 1, [&] {
        sm.irZoneFile = irFilePath(ctx, "irZones.cfg");
        sm.irLabelFile = irFilePath(ctx, "irLbl.cfg");
    });
    if (!pathsSet) return false;
    sm.image.clear();
    return ReadSystemMap(ctx, sm);
}

bool ReadSystemMap(DeviceLayer& ctx, SystemMap& sm) {
    if (sm.projectFile.empty()) {
        reportStep(ctx, "ReadSystemMap", 1, [&] {
            ctx.platform.prompts.message("No Project File has been specified", PromptStyle::Information);
        });
        return true;
    }
    if (!files::isRegularFile(sm.projectFile)) {
        reportStep(ctx, "ReadSystemMap", 2, [&] {
            ctx.platform.prompts.message("Specified Project File does not exist", PromptStyle::Information);
        });
        return true;
    }
    std::string bytes;
    const bool read = reportStep(ctx, "ReadSystemMap", 3, [&] {
        auto content = files::readFile(sm.projectFile, kProjectLimits);
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

void WriteSystemMap(DeviceLayer& ctx, SystemMap& sm) {
    // A file that would come out as it is stays untouched, and its last backup with it.
    if (sm.image.empty() || sm.image.changedRecords().empty()) return;

    const fs::path backup = backupPathFor(sm.projectFile);
    // The project keeps its links, hard and symbolic; the backup is a file of its own
    // (a link in its place is replaced, never followed) that only the project's
    // readers may read.
    files::ReplaceOptions projectWrite{.followLink = true, .keepHardLinks = true, .faults = &sm.faults};
    // A new file would lose the project's owner or group (and with it the group's access).
    projectWrite.inPlace = !files::newFileKeepsOwner(sm.projectFile);
    const files::ReplaceOptions backupWrite{.permissionsFrom = sm.projectFile, .faults = &sm.faults};
    cleanLeftovers(ctx, sm.projectFile, backup);

    std::string original;
    bool ok = skipStep(ctx, 1, [&] {
        auto content = files::readFile(sm.projectFile, kProjectLimits);
        if (!content) throw std::runtime_error("File not found: " + sm.projectFile.string());
        original = std::move(*content);
        // Refused before the backup is touched: nothing changes when either cannot be written.
        files::checkReplaceable(sm.projectFile, projectWrite);
        files::checkReplaceable(backup, backupWrite);
        if (backupIsProject(sm.projectFile, backup))
            throw std::runtime_error(sm.projectFile.string() + " and its backup " + backup.string() +
                                     " are the same file");
    });
    if (ok) ok = skipStep(ctx, 2, [&] { files::replaceFile(backup, original, backupWrite); });
    if (ok) sm.log.backup = backup;
    if (ok) ok = skipStep(ctx, 3, [&] { files::replaceFile(sm.projectFile, sm.image.render(), projectWrite); });
    if (ok) {
        if (projectWrite.inPlace)
            note(ctx, "The project file was rewritten in place: a new file could not keep its owner and group");
        sm.log.projectWritten = true;
        sm.log.lines.clear();
        for (const MapRecord* r : sm.image.changedRecords()) sm.log.lines.push_back({r->ID, r->raw, sm.image.Line(*r)});
        return;
    }
    std::string why = ctx.error.step == 2 ? "Project file not backed up, so not written" : "Project file not written";
    // Said only after looking: a rewrite in place that failed midway may have been unable to put the old bytes back.
    if (ctx.error.step == 3) {
        std::optional<std::string> now;
        try {
            now = files::readFile(sm.projectFile, kProjectLimits);
        } catch (const std::exception&) {
        }
        if (now != original) {
            sm.log.projectDamaged = true;
            why = "Project file damaged by a failed write; its previous content is in " + backup.string();
        }
    }
    sm.log.writeError = why + ": " + ctx.error.description;
    reportPending(ctx, "WriteSystemMap");
}

}  // namespace varnel

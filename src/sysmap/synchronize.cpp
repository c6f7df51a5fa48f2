#include "sysmap/synchronize.h"

#include <algorithm>

#include "commands/ir_files.h"
#include "devices/device_model.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "sysmap/to_host.h"
#include "sysmap/to_system_map.h"

namespace varnel {

namespace {

// What start-up does to know the plug-in's devices, without the controller.
void discoverDevices(DeviceLayer& ctx) {
    const std::string proc = "runSync";
    reportStep(ctx, proc, 1, [&] { ctx.devices.interfaceName = FindInterface(ctx); });
    reportStep(ctx, proc, 2, [&] {
        const std::string letter = FindVarsHouseCode(ctx);
        ctx.devices.varsHouseCode =
            static_cast<std::int16_t>(letter.empty() ? 0 : static_cast<std::uint8_t>(letter[0]));
    });
    reportStep(ctx, proc, 3, [&] {
        ReadDeviceSettings(ctx);
        DiscoverDevices(ctx);
    });
}

std::string leadingTabsRemoved(const std::string& s) { return s.substr(std::min(s.find_first_not_of('\t'), s.size())); }

std::string q(const std::string& s) { return "\"" + s + "\""; }

// A project file line as the user reads it: the file holds the Windows code page.
std::string shownLine(const std::string& s) { return q(toUtf8(leadingTabsRemoved(s))); }

}  // namespace

SyncLog Synchronize(DeviceLayer& ctx, bool direction, const std::string& projectFile, const SyncIncludes& includes,
                    const FileFaults& faults) {
    SystemMap sm;
    sm.projectFile = projectFile;
    sm.faults = faults;
    syncStep(ctx, sm, "Synchronize", 1, [&] {
        if (!InitSystemMap(ctx, sm)) return;
        // Missing or unnamed, the file was shown to the user already.
        if (!sm.projectFile.empty() && files::isRegularFile(sm.projectFile) && !sm.image.hasSystemMapSection()) {
            sm.log.noSection = true;
            return;
        }
        if (direction)
            SystemMapToHS(ctx, sm, includes);
        else
            HSToSystemMap(ctx, sm, includes);
    });
    return std::move(sm.log);
}

std::string syncQuestion(bool direction, const SyncIncludes& includes) {
    if (!direction) return "Are you certain you want to overwrite CMAX System Map definitions?";
    std::string text = "Are you certain you want to overwrite host definitions?";
    if (includes.ir) text += "  Note that IR Label changes will not take effect until the host restarts.";
    return text;
}

SyncSummary runSync(DeviceLayer& ctx, const SyncRequest& request) {
    SyncSummary summary;
    summary.question = syncQuestion(request.direction, request.includes);
    if (!files::isRegularFile(request.projectFile)) {
        summary.outcome = SyncSummary::Outcome::NoProjectFile;
        return summary;
    }
    if (!request.assumeYes) {
        const bool yes =
            request.confirm ? request.confirm(summary.question) : ctx.platform.prompts.question(summary.question);
        if (!yes) {
            summary.outcome = SyncSummary::Outcome::Declined;
            return summary;
        }
    }
    if (request.discoverDevices) discoverDevices(ctx);
    SyncIncludes includes = request.includes;
    bool irTablesRead = true;
    if (request.loadIrTables && includes.ir) {
        // Group names half read would go into the synchronized label file as they are.
        irTablesRead = ReadIRCfg(ctx);
        includes.ir = irTablesRead;
        ReadIRMap(ctx);
        BuildIRLookup(ctx);
    }
    summary.log = Synchronize(ctx, request.direction, request.projectFile, includes, request.faults);
    if (!irTablesRead) summary.log.failedSteps.insert(summary.log.failedSteps.begin(), "ReadIRCfg");
    if (summary.log.readFailed)
        summary.outcome = SyncSummary::Outcome::ReadFailed;
    else if (summary.log.noSection)
        summary.outcome = SyncSummary::Outcome::NoSection;
    else if (!summary.log.writeError.empty())
        summary.outcome = SyncSummary::Outcome::WriteFailed;
    else if (!summary.log.failedSteps.empty())
        summary.outcome = SyncSummary::Outcome::StepFailed;
    return summary;
}

std::vector<std::string> describeSync(const SyncSummary& s) {
    using Outcome = SyncSummary::Outcome;
    std::vector<std::string> out;
    switch (s.outcome) {
        case Outcome::NoProjectFile: out.push_back("Specified Project File does not exist"); return out;
        case Outcome::Declined: out.push_back("Not synchronized: the confirmation was declined"); return out;
        case Outcome::ReadFailed:
            out.push_back("Not synchronized: the project file could not be read (see the host log)");
            return out;
        case Outcome::NoSection:
            out.push_back("Not synchronized: no System Map section found in the project file");
            return out;
        default: break;
    }
    for (const auto& d : s.log.devices) {
        if (d.created)
            out.push_back("Device " + d.code + " created: location " + q(d.location) + ", name " + q(d.name));
        else
            out.push_back("Device " + d.code + ": location " + q(d.oldLocation) + " -> " + q(d.location) + ", name " +
                          q(d.oldName) + " -> " + q(d.name));
    }
    for (const auto& f : s.log.filesWritten) out.push_back("Wrote " + f.string());
    for (const auto& l : s.log.lines)
        out.push_back("Line " + std::to_string(l.id) + ": " + shownLine(l.before) + " -> " + shownLine(l.after));
    if (!s.log.backup.empty()) out.push_back("Backed up the project file to " + s.log.backup.string());
    if (s.log.projectWritten) out.push_back("Wrote the project file");
    if (s.outcome == Outcome::WriteFailed) {
        out.push_back((s.log.projectDamaged ? "" : "Project file left unchanged: ") + s.log.writeError);
        return out;
    }
    if (!s.log.namesOutsideCodePage.empty()) {
        std::string names;
        for (const auto& n : s.log.namesOutsideCodePage) names += (names.empty() ? "" : ", ") + q(n);
        out.push_back("Characters outside the Windows-1252 code page written as \"?\": " + names);
    }
    if (s.log.devices.empty() && s.log.filesWritten.empty() && s.log.lines.empty()) out.push_back("No names changed");
    if (s.outcome == Outcome::StepFailed) {
        std::string steps;
        for (const auto& step : s.log.failedSteps) steps += (steps.empty() ? "" : ", ") + step;
        out.push_back("Not fully synchronized: " + steps + " failed (see the host log)");
    }
    return out;
}

}  // namespace varnel

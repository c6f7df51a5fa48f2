// `varnel sync`: names between the System Map of a CMAX project file and the
// host's devices, without the controller.
//
// What it takes of the plug-in: the registration only (the host object, the host
// generation, where settings live) and the device model as start-up finds it in the
// host's devices: the interface name, the variables house code, the unit mappings
// (the modules' types come from the devices' descriptors, not from a module scan)
// and the selection tables; the IR tables come from the host's IR files. The port
// is never opened.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "confirm.h"
#include "files/files.h"
#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "host_dir_lock.h"
#include "host_settings.h"
#include "platform/headless_prompts.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_process_launcher.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_settings_store.h"
#include "plugin/hspi.h"
#include "support/escape.h"
#include "support/settings.h"
#include "sysmap/project_file.h"
#include "sysmap/synchronize.h"

namespace varnel::app {

namespace {

namespace fs = std::filesystem;

int fail(const std::string& message, int code = kExitFailure) {
    std::cerr << "varnel sync: " << escaped(message) << '\n';
    return code;
}

// Why the project file cannot be used, or nothing. It is read and parsed here once
// so that a bad file is refused in one line before anything is asked or changed.
std::optional<std::string> projectProblem(const std::string& project, bool fromOption) {
    if (project.empty())
        return fromOption ? "--project needs a file"
                          : "no project file: give --project FILE or set ProjectFile in the settings";
    std::error_code ec;
    const auto st = fs::status(project, ec);
    if (!fs::exists(st)) return "the project file " + project + " does not exist";
    if (!fs::is_regular_file(st)) return project + " is not a file";
    try {
        const auto bytes = files::readFile(project, {.maxBytes = kMaxProjectBytes, .maxLines = kMaxProjectLines});
        if (!bytes) return "the project file " + project + " does not exist";
        SystemMapImage image;
        if (auto err = image.parse(*bytes))
            return "cannot read the project file " + project + ": " +
                   (err->line > 0 ? "line " + std::to_string(err->line) + ": " : std::string()) + err->description;
        if (!image.hasSystemMapSection())
            return "no System Map section found in " + project + ": not a CMAX project file";
    } catch (const files::TooLarge& e) {
        return std::string("cannot use the project file: ") + e.what();
    } catch (const std::exception& e) {
        return e.what();
    }
    return std::nullopt;
}

struct Said {
    std::string line;
    bool failed = false;
};

// What the plug-in's shutdown does when synchronized IR files wait: hand the
// host's rename script the host directory. This process is the host, and it ends now.
Said replaceIrFiles(EmbeddedHost& host) {
    const std::string dir = host.GetAppPath();
    const auto script = fs::path(dir) / "Scripts" / "Varnel_RenameFiles.vbs";
    host.Launch(script.string(), "\"" + dir + "\"");
    const host::HostRun* run = host.runs().empty() ? nullptr : &host.runs().back();
    if (run && run->started && run->result == 0) return {"Started the rename script " + script.string()};
    const std::string why = run && run->started ? " could not be started" : " is not there";
    return {"IR files not replaced: the rename script " + script.string() + why +
                "; the synchronized IR files stay beside the live ones",
            true};
}

}  // namespace

int runSyncCommand(const SyncOptions& o) {
    std::error_code ec;
    if (!fs::is_directory(o.hostDir, ec))
        return fail("no host directory at " + o.hostDir.string() + "; give --host-dir DIR");
    HostDirLock lock;
    if (auto busy = lock.take(o.hostDir)) return fail(*busy);

    QtEventLoop loop;
    QtSettingsStore userSettings;
    QtProcessLauncher launcher(loop);
    bool echo = false;
    std::shared_ptr<EmbeddedHost> host;
    try {
        EmbeddedHostOptions options;
        options.loop = &loop;
        options.console = [&echo](const std::string& line) {
            if (echo) std::cerr << line << '\n';
        };
        host = std::make_shared<EmbeddedHost>(o.hostDir, userSettings, launcher, std::move(options));
    } catch (const HostDirError& e) {
        return fail(e.what());
    }
    auto callback = std::make_shared<EmbeddedCallback>(host);
    HeadlessPrompts prompts([&host](const std::string& text) { host->WriteLog("Message", text); });
    QtSerialPort port;
    HSPI hspi(Platform{loop, port, userSettings, prompts, launcher, o.hostDir, {}}, [] {});
    hspi.RegisterCallback(callback);
    if (auto why = settingsElsewhere(hspi, *host)) return fail(*why);
    PluginState& ctx = hspi.context();

    const std::string project = o.project ? *o.project : readText(ctx, setting::kProjectFile);
    if (auto problem = projectProblem(project, o.project.has_value())) return fail(*problem);

    auto ask = [&](const std::string& question) { return o.yes || askYesNo(question, std::cin, std::cerr); };
    // --yes answers the overwrite question only: live IR files are replaced when asked for
    // by name or confirmed by somebody at the terminal.
    auto replaceIr = [&] {
        return o.replaceIrFiles || (stdinIsTerminal() && askYesNo(kReplaceIrFilesQuestion, std::cin, std::cerr));
    };
    if (!o.yes && !stdinIsTerminal())
        return fail("nobody to confirm (standard input is not a terminal); add --yes to synchronise without asking",
                    kExitUsage);

    SyncRequest request;
    request.direction = o.fromProject;
    request.projectFile = project;
    request.includes = SyncIncludes{.variables = o.variables, .x10 = o.x10, .io = o.io, .ir = o.ir};
    request.assumeYes = o.yes;
    request.discoverDevices = true;
    request.loadIrTables = true;
    // From here on the host log's lines are the synchronisation's own warnings.
    request.confirm = [&](const std::string& question) {
        const bool yes = ask(question);
        echo = yes;
        return yes;
    };
    echo = o.yes;
    const SyncSummary summary = runSync(ctx, request);
    echo = false;
    using Outcome = SyncSummary::Outcome;
    // What failed is said last, after what the IR files' replacement says.
    std::vector<std::string> lines = describeSync(summary);
    std::vector<std::string> failures;
    if (summary.outcome != Outcome::Done && !lines.empty()) {
        failures.push_back(lines.back());
        lines.pop_back();
    }
    // Lines name devices and project entries: escaped, so that a name never splits a line.
    for (const auto& line : lines) std::cout << escaped(line) << '\n';

    bool replaceFailed = false;
    if (ctx.ir.filesPending) {
        if (replaceIr()) {
            const Said said = replaceIrFiles(*host);
            replaceFailed = said.failed;
            if (said.failed)
                failures.push_back(said.line);
            else
                std::cout << said.line << '\n';
        } else {
            std::cout << "The synchronized IR files stay beside the live ones and are not used\n";
        }
        ctx.ir.filesPending = false;
    }
    for (const auto& line : failures) std::cout << line << '\n';
    try {
        host->flush();
    } catch (const std::exception& e) {
        return fail(std::string("the host's devices could not be saved: ") + e.what());
    }
    std::cout << std::flush;

    if (replaceFailed) return kExitFailure;
    switch (summary.outcome) {
        case Outcome::Done: return kExitOk;
        case Outcome::NoProjectFile: return fail("the project file " + project + " does not exist");
        case Outcome::ReadFailed:
        case Outcome::NoSection:
        case Outcome::WriteFailed:
        case Outcome::StepFailed:
        case Outcome::Declined: return kExitFailure;
    }
    return kExitFailure;
}

}  // namespace varnel::app

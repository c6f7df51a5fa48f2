#include "cli.h"

#include "health.h"
#include "run_settings.h"

namespace varnel::app {

namespace {

// "--name value" or "--name=value"; advances `i` past what it used.
std::optional<std::string> valueOf(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                                   std::string& error) {
    const std::string& a = args[i];
    if (a.size() > name.size() && a.compare(0, name.size() + 1, name + "=") == 0) return a.substr(name.size() + 1);
    if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
    }
    return args[++i];
}

bool isOption(const std::string& a, const std::string& name) {
    return a == name || (a.size() > name.size() && a.compare(0, name.size() + 1, name + "=") == 0);
}

// The value of an option that must not be empty; `error` says "NAME needs WHAT" otherwise.
std::optional<std::string> nonEmptyValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                                         const std::string& what, std::string& error) {
    auto v = valueOf(args, i, name, error);
    if (v && v->empty()) {
        error = name + " needs " + what;
        return std::nullopt;
    }
    return v;
}

// --demo-script FILE and --no-demo of sim. True when `args[i]` was one.
bool demoOption(const std::vector<std::string>& args, std::size_t& i, SimOptions& o, std::string& error) {
    const std::string& a = args[i];
    if (a == "--no-demo") {
        o.demo = false;
        return true;
    }
    if (!isOption(a, "--demo-script")) return false;
    if (auto v = nonEmptyValue(args, i, "--demo-script", "a file", error)) o.demoScript = *v;
    return true;
}

// --for SECONDS of sim. True when `args[i]` was it; `error` set when its value is bad.
bool forOption(const std::vector<std::string>& args, std::size_t& i, SimOptions& o, std::string& error) {
    if (!isOption(args[i], "--for")) return false;
    auto v = valueOf(args, i, "--for", error);
    if (!v) return true;
    o.forSeconds = parseSeconds(*v);
    if (!o.forSeconds) error = "--for needs a number of seconds above 0, not \"" + *v + "\"";
    return true;
}

// The row whose flag `a` is ("--port" or "--port=...").
// What every subcommand says of an option it does not know.
UsageError unknownOption(std::string_view command, const std::string& option) {
    std::string text = "varnel ";
    text += command;
    text += ": unknown option \"";
    text += option;
    text += '"';
    return UsageError{text};
}

const RunSetting* rowOfFlag(const std::string& a) {
    const std::string_view flag = std::string_view(a).substr(0, a.find('='));
    for (const auto& row : runSettings())
        if (!row.flag.empty() && row.flag == flag) return &row;
    return nullptr;
}

Command parseRun(const std::vector<std::string>& args, std::size_t i, const std::filesystem::path& hostDir) {
    RunOptions o;
    o.hostDir = hostDir;
    std::string error;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") return HelpRequest{usage()};
        // Not a setting: the settings file is in it.
        if (isOption(a, "--host-dir")) {
            auto v = nonEmptyValue(args, i, "--host-dir", "a directory", error);
            if (!v) return UsageError{error};
            o.hostDir = *v;
            continue;
        }
        const RunSetting* row = rowOfFlag(a);
        if (!row) return unknownOption("run", a);
        const std::string flag(row->flag);
        std::string value;
        if (row->arg.empty()) {
            if (a != flag) return UsageError{"varnel run: " + flag + " takes no value"};
            value = row->switchValue;
        } else {
            auto v = valueOf(args, i, flag, error);
            if (!v) return UsageError{"varnel run: " + error};
            value = *v;
        }
        if (auto bad = row->apply(o, value)) return UsageError{"varnel run: " + flag + ": " + *bad};
        o.fromCommandLine.push_back(row->key);
    }
    if (o.mqttCaFile && o.mqtt && !o.mqtt->starts_with("mqtts://"))
        return UsageError{"varnel run: --mqtt-ca needs an mqtts:// broker"};
    if (o.simulate && o.device) return UsageError{"varnel run: --port and --simulate exclude each other"};
    if (o.demoScript && !o.demo) return UsageError{"varnel run: --demo-script and --no-demo exclude each other"};
    return o;
}

Command parseSim(const std::vector<std::string>& args, std::size_t i) {
    SimOptions o;
    std::string error;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") return HelpRequest{usage()};
        if (demoOption(args, i, o, error) || forOption(args, i, o, error)) {
            if (!error.empty()) return UsageError{error};
        } else if (isOption(a, "--link")) {
            auto v = nonEmptyValue(args, i, "--link", "a path", error);
            if (!v) return UsageError{error};
            o.link = *v;
        } else if (isOption(a, "--pace")) {
            auto v = valueOf(args, i, "--pace", error);
            if (!v) return UsageError{error};
            if (*v != "fifo" && *v != "byte") return UsageError{"--pace needs fifo or byte, not \"" + *v + "\""};
            o.byteByByte = *v == "byte";
        } else {
            return unknownOption("sim", a);
        }
    }
    if (o.demoScript && !o.demo) return UsageError{"varnel sim: --demo-script and --no-demo exclude each other"};
    return o;
}

Command parseSync(const std::vector<std::string>& args, std::size_t i, const std::filesystem::path& hostDir) {
    SyncOptions o;
    o.hostDir = hostDir;
    std::string error;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") return HelpRequest{usage()};
        if (a == "--from-project") {
            o.fromProject = true;
        } else if (a == "--to-project") {
            o.toProject = true;
        } else if (a == "--variables") {
            o.variables = true;
        } else if (a == "--x10") {
            o.x10 = true;
        } else if (a == "--io") {
            o.io = true;
        } else if (a == "--ir") {
            o.ir = true;
        } else if (a == "--all") {
            o.variables = o.x10 = o.io = o.ir = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--replace-ir-files") {
            o.replaceIrFiles = true;
        } else if (isOption(a, "--project")) {
            auto v = nonEmptyValue(args, i, "--project", "a file", error);
            if (!v) return UsageError{error};
            o.project = *v;
        } else if (isOption(a, "--host-dir")) {
            auto v = nonEmptyValue(args, i, "--host-dir", "a directory", error);
            if (!v) return UsageError{error};
            o.hostDir = *v;
        } else {
            return unknownOption("sync", a);
        }
    }
    if (o.fromProject == o.toProject)
        return UsageError{"varnel sync: say which side is master: --from-project or --to-project"};
    if (!(o.variables || o.x10 || o.io || o.ir))
        return UsageError{"varnel sync: say what to synchronise: --variables, --x10, --io, --ir or --all"};
    return o;
}

Command parsePorts(const std::vector<std::string>& args, std::size_t i) {
    PortsOptions o;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") return HelpRequest{usage()};
        if (a.starts_with("-")) return unknownOption("ports", a);
        if (a.empty()) return UsageError{"varnel ports: an empty device name"};
        o.devices.push_back(a);
    }
    return o;
}

// A subcommand whose only option is --host-dir.
template <typename Options>
Command parseHostDirOnly(const std::vector<std::string>& args, std::size_t i, const std::filesystem::path& hostDir,
                         const std::string& name) {
    Options o;
    o.hostDir = hostDir;
    std::string error;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") return HelpRequest{usage()};
        if (!isOption(a, "--host-dir")) return unknownOption(name, a);
        auto v = nonEmptyValue(args, i, "--host-dir", "a directory", error);
        if (!v) return UsageError{error};
        o.hostDir = *v;
    }
    return o;
}

Command parseHistoryBackup(const std::vector<std::string>& args, std::size_t i, const std::filesystem::path& hostDir) {
    HistoryBackupOptions o;
    o.hostDir = hostDir;
    std::string error;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") return HelpRequest{usage()};
        if (isOption(a, "--host-dir")) {
            auto v = nonEmptyValue(args, i, "--host-dir", "a directory", error);
            if (!v) return UsageError{error};
            o.hostDir = *v;
        } else if (isOption(a, "--to")) {
            auto v = nonEmptyValue(args, i, "--to", "a file", error);
            if (!v) return UsageError{error};
            o.to = *v;
        } else {
            return unknownOption("history-backup", a);
        }
    }
    return o;
}

}  // namespace

std::string usage() {
    return "Usage:\n"
           "  varnel run [--host-dir DIR] [OPTION]...\n"
           "      Runs the plug-in in the embedded host until Ctrl-C, SIGTERM or \"quit\".\n"
           "      Console commands are read from standard input, one per line (\"help\" lists\n"
           "      them); host events are printed as they happen.\n"
           "      --host-dir DIR: where the host keeps settings, devices and its log\n"
           "      (default $XDG_DATA_HOME/varnel or ~/.local/share/varnel). Each option below\n"
           "      can also be set in DIR/config/settings.ini, section [varnel], as KEY=VALUE;\n"
           "      the command line wins.\n" +
           runSettingsHelp() +
           "  varnel sim [--link PATH] [--for SECONDS] [--pace fifo|byte]\n"
           "             [--demo-script FILE | --no-demo]\n"
           "      Runs the controller simulator on a pseudo-terminal and prints its device path\n"
           "      (or PATH, a symbolic link to it). Demo options as for run. --pace: how the\n"
           "      bytes for the program reach it, eight at a time as from a PC's receive FIFO\n"
           "      (fifo, the default) or each on its own as from a port without one (byte).\n"
           "  varnel sync --from-project | --to-project [--project FILE]\n"
           "              [--variables] [--x10] [--io] [--ir] [--all] [--yes] [--replace-ir-files]\n"
           "              [--host-dir DIR]\n"
           "      Copies names between the System Map of a CMAX project file and the host's\n"
           "      devices, without the controller. --from-project: the System Map is master\n"
           "      (names go to the host devices and to \"Synchronized \" IR files);\n"
           "      --to-project: the host is master (names go into the project file, which is\n"
           "      backed up first). FILE defaults to the \"ProjectFile\" setting. Asks first\n"
           "      on the terminal; --yes does not ask. The synchronized IR files replace the\n"
           "      live ones only when confirmed on the terminal or with --replace-ir-files.\n"
           "  varnel ports [DEVICE]...\n"
           "      Lists the serial devices (or the ones named) with their stable\n"
           "      /dev/serial/by-id names, whether this user may open them and who holds them.\n"
           "  varnel web-password [--host-dir DIR]\n"
           "      Sets the web page's password (asked twice on a terminal, else read once\n"
           "      from standard input) and keeps only a salted hash of it in the host\n"
           "      directory's settings (http_password); a run reads it when it starts.\n"
           "  varnel history-backup [--host-dir DIR] [--to FILE]\n"
           "      Copies the history database (history.sqlite) as it stands at one moment,\n"
           "      also while a run writes it, to FILE (default history-backup.sqlite in the\n"
           "      host directory). A run that finds no history.sqlite, or a damaged one,\n"
           "      starts from history-backup.sqlite.\n"
           "  varnel health [--host-dir DIR]\n"
           "      Exits 0 while the run in DIR is well and 1 otherwise (none, stopped, or\n"
           "      silent for " +
           std::to_string(kHealthStaleSeconds) +
           " s: hung or killed), saying why in one line; for a\n"
           "      container's health check.\n"
           "  varnel --version | --help\n";
}

std::filesystem::path defaultHostDir(const char* xdgDataHome, const char* home) {
    if (xdgDataHome && *xdgDataHome == '/') return std::filesystem::path(xdgDataHome) / "varnel";
    if (home && *home) return std::filesystem::path(home) / ".local" / "share" / "varnel";
    return "varnel-host";
}

Command parseCommandLine(const std::vector<std::string>& args, const std::filesystem::path& hostDir) {
    if (args.empty()) return UsageError{"varnel: say what to do\n" + usage()};
    const std::string& sub = args[0];
    if (sub == "-h" || sub == "--help" || sub == "help") return HelpRequest{usage()};
    if (sub == "--version" || sub == "version") return VersionRequest{};
    if (sub == "run") return parseRun(args, 1, hostDir);
    if (sub == "sim") return parseSim(args, 1);
    if (sub == "sync") return parseSync(args, 1, hostDir);
    if (sub == "ports") return parsePorts(args, 1);
    if (sub == "web-password") return parseHostDirOnly<WebPasswordOptions>(args, 1, hostDir, sub);
    if (sub == "health") return parseHostDirOnly<HealthOptions>(args, 1, hostDir, sub);
    if (sub == "history-backup") return parseHistoryBackup(args, 1, hostDir);
    return UsageError{"varnel: unknown command \"" + sub + "\"\n" + usage()};
}

}  // namespace varnel::app

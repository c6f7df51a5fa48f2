#include "cli.h"

#include "bridge/settings.h"
#include "console/command.h"

#include <charconv>
#include <cmath>

namespace varnel::app {

namespace {

constexpr double kMaxSeconds = 10.0 * 365 * 24 * 3600;

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

std::optional<double> seconds(const std::string& text) {
    double v = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || !std::isfinite(v) || v <= 0 || v > kMaxSeconds) return std::nullopt;
    return v;
}

// --demo-script FILE and --no-demo, shared by run and sim. True when `args[i]` was one.
template <class Options>
bool demoOption(const std::vector<std::string>& args, std::size_t& i, Options& o, std::string& error) {
    const std::string& a = args[i];
    if (a == "--no-demo") {
        o.demo = false;
        return true;
    }
    if (!isOption(a, "--demo-script")) return false;
    if (auto v = nonEmptyValue(args, i, "--demo-script", "a file", error)) o.demoScript = *v;
    return true;
}

// --for SECONDS, shared by run and sim. True when `args[i]` was it; `error` set when its value is bad.
template <class Options>
bool forOption(const std::vector<std::string>& args, std::size_t& i, Options& o, std::string& error) {
    if (!isOption(args[i], "--for")) return false;
    auto v = valueOf(args, i, "--for", error);
    if (!v) return true;
    o.forSeconds = seconds(*v);
    if (!o.forSeconds) error = "--for needs a number of seconds above 0, not \"" + *v + "\"";
    return true;
}

// The --mqtt options of `run`: where `a` goes, null when it is none of them.
std::optional<std::string>* mqttOption(const std::string& a, RunOptions& o) {
    const std::pair<const char*, std::optional<std::string>*> options[] = {
        {"--mqtt", &o.mqtt},
        {"--mqtt-ca", &o.mqttCaFile},
        {"--mqtt-base-topic", &o.mqttBaseTopic},
        {"--mqtt-discovery-prefix", &o.mqttDiscoveryPrefix},
    };
    for (const auto& [name, into] : options)
        if (isOption(a, name)) return into;
    return nullptr;
}

Command parseRun(const std::vector<std::string>& args, std::size_t i, const std::filesystem::path& hostDir) {
    RunOptions o;
    o.hostDir = hostDir;
    std::string error;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") return HelpRequest{usage()};
        if (demoOption(args, i, o, error) || forOption(args, i, o, error)) {
            if (!error.empty()) return UsageError{error};
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (isOption(a, "--port")) {
            auto v = nonEmptyValue(args, i, "--port", "a device name", error);
            if (!v) return UsageError{error};
            o.device = *v;
        } else if (isOption(a, "--host-dir")) {
            auto v = nonEmptyValue(args, i, "--host-dir", "a directory", error);
            if (!v) return UsageError{error};
            o.hostDir = *v;
        } else if (isOption(a, "--exec")) {
            auto v = valueOf(args, i, "--exec", error);
            if (!v) return UsageError{error};
            const auto parsed = console::parseCommand(*v);
            if (const auto* bad = std::get_if<console::ParseError>(&parsed))
                return UsageError{"varnel run: --exec \"" + *v + "\": " + bad->message};
            if (std::holds_alternative<console::cmd::Empty>(std::get<console::Command>(parsed)))
                return UsageError{"--exec needs a console command (--exec help lists them)"};
            o.exec.push_back(*v);
        } else if (isOption(a, "--mirror-vars") || isOption(a, "--mirror-points")) {
            const std::string name = isOption(a, "--mirror-vars") ? "--mirror-vars" : "--mirror-points";
            auto v = valueOf(args, i, name, error);
            if (!v) return UsageError{error};
            if (auto bad = console::addMirrorOption(o.mirror, name, *v)) return UsageError{"varnel run: " + *bad};
        } else if (auto* mqtt = mqttOption(a, o)) {
            auto v = nonEmptyValue(args, i, a.substr(0, a.find('=')), "a value", error);
            if (!v) return UsageError{error};
            *mqtt = *v;
        } else {
            return UsageError{"varnel run: unknown option \"" + a + "\""};
        }
    }
    if (o.mqtt) {
        const auto broker = bridge::parseBrokerUrl(*o.mqtt);
        if (const auto* bad = std::get_if<std::string>(&broker)) return UsageError{"varnel run: --mqtt: " + *bad};
        if (o.mqttCaFile && !std::get<bridge::BrokerAddress>(broker).tls)
            return UsageError{"varnel run: --mqtt-ca needs an mqtts:// broker"};
    }
    for (const auto& [name, topic] : {std::pair{"--mqtt-base-topic", &o.mqttBaseTopic},
                                      std::pair{"--mqtt-discovery-prefix", &o.mqttDiscoveryPrefix}}) {
        if (!*topic) continue;
        if (auto bad = bridge::topicRootProblem(**topic))
            return UsageError{"varnel run: " + std::string(name) + " " + *bad};
    }
    if (o.simulate && o.device) return UsageError{"varnel run: --port and --simulate exclude each other"};
    if (!o.simulate && (o.demoScript || !o.demo)) return UsageError{"varnel run: demo options need --simulate"};
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
        } else {
            return UsageError{"varnel sim: unknown option \"" + a + "\""};
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
        } else if (isOption(a, "--project")) {
            auto v = nonEmptyValue(args, i, "--project", "a file", error);
            if (!v) return UsageError{error};
            o.project = *v;
        } else if (isOption(a, "--host-dir")) {
            auto v = nonEmptyValue(args, i, "--host-dir", "a directory", error);
            if (!v) return UsageError{error};
            o.hostDir = *v;
        } else {
            return UsageError{"varnel sync: unknown option \"" + a + "\""};
        }
    }
    if (o.fromProject == o.toProject)
        return UsageError{"varnel sync: say which side is master: --from-project or --to-project"};
    if (!(o.variables || o.x10 || o.io || o.ir))
        return UsageError{"varnel sync: say what to synchronise: --variables, --x10, --io, --ir or --all"};
    return o;
}

}  // namespace

std::string usage() {
    return "Usage:\n"
           "  varnel run [--port DEVICE | --simulate] [--host-dir DIR] [--for SECONDS]\n"
           "             [--mirror-vars LIST] [--mirror-points UNIT:POINTS,...] [--exec LINE]...\n"
           "             [--mqtt URL [--mqtt-ca FILE] [--mqtt-base-topic T] [--mqtt-discovery-prefix P]]\n"
           "      Runs the plug-in in the embedded host. --port opens a serial device; without\n"
           "      it the port number setting \"comport\" n picks /dev/ttyS<n-1>. --simulate runs\n"
           "      the controller simulator on a pseudo-terminal instead. Ctrl-C ends the run.\n"
           "      --for SECONDS: end cleanly after that time.\n"
           "      --host-dir: where the host keeps settings, devices and its log\n"
           "      (default $XDG_DATA_HOME/varnel or ~/.local/share/varnel).\n"
           "      --mirror-vars 0-9,64 / --mirror-points 1:0-7,3:0-3:invert: the variables and\n"
           "      module points to mirror into host devices, chosen once the modules are known.\n"
           "      --exec LINE: a console command run after start-up (repeatable, in order).\n"
           "      --mqtt mqtt://HOST[:PORT] (or mqtts://, with --mqtt-ca FILE): mirror to an MQTT\n"
           "      broker with Home Assistant discovery; --mqtt-base-topic (default varnel),\n"
           "      --mqtt-discovery-prefix (default homeassistant). The same can be set in the\n"
           "      host directory's config/settings.ini, section [varnel]: mqtt, mqtt_ca_file,\n"
           "      mqtt_base_topic, mqtt_discovery_prefix, and the credentials mqtt_username and\n"
           "      mqtt_password (or VARNEL_MQTT_USERNAME, VARNEL_MQTT_PASSWORD), never here.\n"
           "      Console commands are also read from standard input, one per line; \"help\"\n"
           "      lists them, \"quit\" ends the run. Host events are printed as they happen.\n"
           "  varnel sim [--link PATH] [--for SECONDS]\n"
           "      Runs the controller simulator on a pseudo-terminal and prints its device path\n"
           "      (or PATH, a symbolic link to it).\n"
           "  varnel sync --from-project | --to-project [--project FILE]\n"
           "              [--variables] [--x10] [--io] [--ir] [--all] [--yes] [--host-dir DIR]\n"
           "      Copies names between the System Map of a CMAX project file and the host's\n"
           "      devices, without the controller. --from-project: the System Map is master\n"
           "      (names go to the host devices and to \"Synchronized \" IR files);\n"
           "      --to-project: the host is master (names go into the project file, which is\n"
           "      backed up first). FILE defaults to the \"ProjectFile\" setting. Asks first\n"
           "      on the terminal; --yes does not ask.\n"
           "  With the simulator: --demo-script FILE plays scripted activity (variables,\n"
           "  inputs, X10, IR, touches); --no-demo turns the default random activity off.\n"
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
    return UsageError{"varnel: unknown command \"" + sub + "\"\n" + usage()};
}

}  // namespace varnel::app

#include "run_settings.h"

#include <charconv>
#include <cmath>
#include <map>

#include "bridge/installation.h"
#include "bridge/settings.h"
#include "console/command.h"
#include "console/selection.h"
#include "files/files.h"
#include "history/settings.h"
#include "host/ini_text.h"
#include "platform/net/endpoint.h"
#include "web/password.h"

namespace varnel::app {

namespace {

namespace fs = std::filesystem;

constexpr double kMaxSeconds = 10.0 * 365 * 24 * 3600;
constexpr std::size_t kMaxFileBytes = std::size_t{4} * 1024 * 1024;

using Problem = std::optional<std::string>;

Problem needsValue(std::string_view value, const char* what) {
    if (value.empty()) return std::string("needs ") + what;
    return std::nullopt;
}

std::optional<bool> boolean(std::string_view v) {
    for (const char* yes : {"1", "yes", "true", "on"})
        if (files::equalsNoCase(v, yes)) return true;
    for (const char* no : {"0", "no", "false", "off"})
        if (files::equalsNoCase(v, no)) return false;
    return std::nullopt;
}

Problem setSwitch(bool& into, std::string_view v) {
    const auto b = boolean(v);
    if (!b) return "needs 1 or 0 (yes or no), not " + console::quoted(v);
    into = *b;
    return std::nullopt;
}

Problem applyPort(RunOptions& o, std::string_view v) {
    if (auto p = needsValue(v, "a device name")) return p;
    if (net::isUrl(v)) {
        const auto endpoint = net::parseEndpoint(v);
        if (const auto* bad = std::get_if<std::string>(&endpoint)) return console::quoted(v) + ": " + *bad;
    }
    o.device = std::string(v);
    return std::nullopt;
}

Problem applySimulate(RunOptions& o, std::string_view v) { return setSwitch(o.simulate, v); }
Problem applyDemo(RunOptions& o, std::string_view v) { return setSwitch(o.demo, v); }
Problem applyWindow(RunOptions& o, std::string_view v) { return setSwitch(o.window, v); }
Problem applyWindowScreenshots(RunOptions& o, std::string_view v) {
    if (auto p = needsValue(v, "a directory")) return p;
    o.windowScreenshots = std::string(v);
    return std::nullopt;
}

Problem applyDemoScript(RunOptions& o, std::string_view v) {
    if (auto p = needsValue(v, "a file")) return p;
    o.demoScript = std::string(v);
    return std::nullopt;
}

constexpr int kMinSimBaud = 300;
constexpr int kMaxSimBaud = 1'000'000;

Problem applySimBaud(RunOptions& o, std::string_view v) {
    int baud = 0;
    const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), baud);
    if (ec != std::errc() || ptr != v.data() + v.size() || baud < kMinSimBaud || baud > kMaxSimBaud)
        return "needs bits per second from " + std::to_string(kMinSimBaud) + " to " + std::to_string(kMaxSimBaud) +
               ", not " + console::quoted(v);
    o.simBaud = baud;
    return std::nullopt;
}

Problem applyFor(RunOptions& o, std::string_view v) {
    o.forSeconds = parseSeconds(v);
    if (!o.forSeconds) return "needs a number of seconds above 0, not " + console::quoted(v);
    return std::nullopt;
}

Problem applyExec(RunOptions& o, std::string_view v) {
    const auto parsed = console::parseCommand(std::string(v));
    if (const auto* bad = std::get_if<console::ParseError>(&parsed)) return console::quoted(v) + ": " + bad->message;
    if (std::holds_alternative<console::cmd::Empty>(std::get<console::Command>(parsed)))
        return std::string("needs a console command (the command help lists them)");
    o.exec.emplace_back(v);
    return std::nullopt;
}

Problem mirror(RunOptions& o, std::string_view option, std::string_view v) {
    auto bad = console::addMirrorOption(o.mirror, option, v);
    // The message starts with the option's name, which the caller puts in front itself.
    if (bad && bad->starts_with(std::string(option) + ": ")) bad->erase(0, option.size() + 2);
    return bad;
}
Problem applyMirrorVars(RunOptions& o, std::string_view v) { return mirror(o, "--mirror-vars", v); }
Problem applyMirrorPoints(RunOptions& o, std::string_view v) { return mirror(o, "--mirror-points", v); }

Problem applyLogLevel(RunOptions& o, std::string_view v) {
    const auto level = parseLogLevel(v);
    if (!level) return "needs error, warning or info, not " + console::quoted(v);
    o.logLevel = *level;
    return std::nullopt;
}

// An empty broker turns the bridge off: the command line can so override the file's.
Problem applyMqtt(RunOptions& o, std::string_view v) {
    if (v.empty()) {
        o.mqtt.reset();
        return std::nullopt;
    }
    const auto broker = bridge::parseBrokerUrl(v);
    if (const auto* bad = std::get_if<std::string>(&broker)) return *bad;
    o.mqtt = std::string(v);
    return std::nullopt;
}

Problem setText(std::optional<std::string>& into, std::string_view v, const char* what) {
    if (auto p = needsValue(v, what)) return p;
    into = std::string(v);
    return std::nullopt;
}

Problem setTopicRoot(std::optional<std::string>& into, std::string_view v) {
    if (auto p = needsValue(v, "a value")) return p;
    if (auto p = bridge::topicRootProblem(v)) return p;
    into = std::string(v);
    return std::nullopt;
}

Problem applyMqttCa(RunOptions& o, std::string_view v) { return setText(o.mqttCaFile, v, "a file"); }
Problem applyMqttBase(RunOptions& o, std::string_view v) { return setTopicRoot(o.mqttBaseTopic, v); }
Problem applyMqttPrefix(RunOptions& o, std::string_view v) { return setTopicRoot(o.mqttDiscoveryPrefix, v); }
Problem applyMqttUser(RunOptions& o, std::string_view v) { return setText(o.mqttUsername, v, "a user name"); }
Problem applyMqttPassword(RunOptions& o, std::string_view v) { return setText(o.mqttPassword, v, "a password"); }
Problem applyIdentity(RunOptions& o, std::string_view v) {
    if (auto p = bridge::identityProblem(v)) return *p + ", not " + console::quoted(v);
    o.identity = std::string(v);
    return std::nullopt;
}
Problem applyLegacyIds(RunOptions& o, std::string_view v) { return setSwitch(o.legacyIds, v); }

// An empty value turns the page off, so the command line can override the file's.
Problem applyHttp(RunOptions& o, std::string_view v) {
    if (v.empty()) {
        o.http.reset();
        return std::nullopt;
    }
    auto bind = web::parseBindAddress(v);
    if (const auto* bad = std::get_if<std::string>(&bind)) return *bad;
    o.http = std::get<web::BindAddress>(bind);
    return std::nullopt;
}

Problem applyHttpPasswordHash(RunOptions& o, std::string_view v) {
    if (auto p = needsValue(v, "a hash (varnel web-password writes it)")) return p;
    if (auto p = web::hashProblem(v)) return p;
    o.httpPasswordHash = std::string(v);
    return std::nullopt;
}

Problem applyHistory(RunOptions& o, std::string_view v) { return setSwitch(o.history.enabled, v); }
template <int history::Settings::*Field>
Problem applyHistoryNumber(RunOptions& o, std::string_view v) {
    for (const auto& r : history::kRanges)
        if (r.field == Field) {
            if (auto bad = history::applyNumber(o.history, r.key, v)) return *bad + ", not " + console::quoted(v);
            return std::nullopt;
        }
    return std::string("is not a history setting");
}

constexpr std::string_view kHttpPasswordEnv = "VARNEL_HTTP_PASSWORD";

constexpr RunSetting kRunSettings[] = {
    {.key = "port",
     .flag = "--port",
     .arg = "DEVICE",
     .group = "controller",
     .appOption = true,
     .apply = applyPort,
     .help = "the controller's serial device; a /dev/serial/by-id/ name stays right\n"
             "when USB adapters are plugged in another order (varnel ports lists\n"
             "them). tcp://HOST:PORT or rfc2217://HOST:PORT reach a serial server\n"
             "(ser2net and the like). Without it the plug-in's port number setting\n"
             "\"comport\" n picks /dev/ttyS<n-1>"},
    {.key = "simulate",
     .flag = "--simulate",
     .switchValue = "1",
     .group = "controller",
     .appOption = true,
     .apply = applySimulate,
     .help = "the controller simulator on a pseudo-terminal instead"},
    {.key = "demo_script",
     .flag = "--demo-script",
     .arg = "FILE",
     .group = "demo",
     .apply = applyDemoScript,
     .help = "with the simulator: scripted activity (variables, inputs, X10, IR,\n"
             "touches)"},
    {.key = "demo",
     .flag = "--no-demo",
     .switchValue = "0",
     .group = "demo",
     .apply = applyDemo,
     .help = "with the simulator: no random activity"},
    {.key = "sim_baud",
     .flag = "--sim-baud",
     .arg = "BAUD",
     .apply = applySimBaud,
     .help = "with the simulator: its line's speed in bits per second (default\n"
             "9600, the controller's); a faster line shortens the start-up"},
    {.key = "window",
     .flag = "--window",
     .switchValue = "1",
     .apply = applyWindow,
     .help = "open the configuration window once started (needs a display; the\n"
             "console command config opens it too)"},
    {.key = "window_screenshots",
     .flag = "--window-screenshots",
     .arg = "DIR",
     .apply = applyWindowScreenshots,
     .help = "write a PNG of each tab of the configuration window into DIR once\n"
             "started, then stop (without a display it draws off screen)"},
    {.key = "for", .flag = "--for", .arg = "SECONDS", .apply = applyFor, .help = "end cleanly after that time"},
    {.key = "mirror_vars",
     .flag = "--mirror-vars",
     .arg = "LIST",
     .repeatable = true,
     .appOption = true,
     .apply = applyMirrorVars,
     .help = "variables to mirror into host devices once the controller is known,\n"
             "e.g. 0-9,64"},
    {.key = "mirror_points",
     .flag = "--mirror-points",
     .arg = "UNIT:POINTS,...",
     .repeatable = true,
     .appOption = true,
     .apply = applyMirrorPoints,
     .help = "module points to mirror, e.g. 1:0-7,3:0-3:invert"},
    {.key = "exec",
     .flag = "--exec",
     .arg = "LINE",
     .repeatable = true,
     .apply = applyExec,
     .help = "a console command run after start-up (repeatable, in order)"},
    {.key = "log_level",
     .flag = "--log-level",
     .arg = "LEVEL",
     .appOption = true,
     .apply = applyLogLevel,
     .help = "error, warning or info (the default): what is printed, or sent to\n"
             "the journal; the host log file keeps everything"},
    {.key = "mqtt",
     .flag = "--mqtt",
     .arg = "URL",
     .appOption = true,
     .apply = applyMqtt,
     .help = "mqtt://HOST[:PORT] or mqtts://HOST[:PORT]: mirror to an MQTT broker\n"
             "with Home Assistant discovery (empty: no bridge)"},
    {.key = "mqtt_ca_file",
     .flag = "--mqtt-ca",
     .arg = "FILE",
     .appOption = true,
     .apply = applyMqttCa,
     .help = "for mqtts://: the certificate authorities to trust (default: the\n"
             "system's)"},
    {.key = "mqtt_base_topic",
     .flag = "--mqtt-base-topic",
     .arg = "TOPIC",
     .appOption = true,
     .apply = applyMqttBase,
     .help = "where varnel's topics live (default varnel)"},
    {.key = "mqtt_discovery_prefix",
     .flag = "--mqtt-discovery-prefix",
     .arg = "PREFIX",
     .appOption = true,
     .apply = applyMqttPrefix,
     .help = "Home Assistant's discovery prefix (default homeassistant)"},
    {.key = "mqtt_username",
     .arg = "NAME",
     .env = "VARNEL_MQTT_USERNAME",
     .appOption = true,
     .apply = applyMqttUser,
     .help = "the broker's user name; never on the command line, where every user\n"
             "of the machine can read it"},
    {.key = "mqtt_password",
     .arg = "PASSWORD",
     .env = "VARNEL_MQTT_PASSWORD",
     .appOption = true,
     .apply = applyMqttPassword,
     .help = "the broker's password (file or environment only)"},
    {.key = "identity",
     .arg = "ID",
     .apply = applyIdentity,
     .help = "this host directory's own id, made at its first run (file only): MQTT\n"
             "client id and Home Assistant's unique ids. A copy of the host directory\n"
             "run beside the original needs its own: delete the line in the copy"},
    {.key = "legacy_ids",
     .switchValue = "1",
     .apply = applyLegacyIds,
     .help = "Home Assistant's unique ids as an earlier varnel made them (file only;\n"
             "set at the first run of a host directory that an earlier varnel used)"},
    {.key = "http",
     .flag = "--http",
     .arg = "[ADDR:]PORT",
     .appOption = true,
     .apply = applyHttp,
     .help = "serve the web page there (ADDR defaults to 127.0.0.1; empty: no page).\n"
             "Any address but a loopback one needs a password: varnel web-password\n"
             "sets it, or $VARNEL_HTTP_PASSWORD gives it"},
    {.key = "http_password",
     .arg = "HASH",
     .apply = applyHttpPasswordHash,
     .help = "the web page's password as a salted hash, as varnel web-password\n"
             "writes it (file only)"},
    {.key = "history",
     .flag = "--no-history",
     .switchValue = "0",
     .appOption = true,
     .apply = applyHistory,
     .help = "keep no history of the values and events (history.sqlite in the host\n"
             "directory, the web page's History tab, the console's history)"},
    {.key = "history_raw_days",
     .arg = "DAYS",
     .appOption = true,
     .apply = applyHistoryNumber<&history::Settings::rawDays>,
     .help = "every change is kept this long (default 7), then only the minimum,\n"
             "maximum and last value of each interval (file only)"},
    {.key = "history_days",
     .arg = "DAYS",
     .appOption = true,
     .apply = applyHistoryNumber<&history::Settings::keepDays>,
     .help = "the intervals are kept this long (default 365; file only)"},
    {.key = "history_fold_minutes",
     .arg = "MINUTES",
     .appOption = true,
     .apply = applyHistoryNumber<&history::Settings::foldMinutes>,
     .help = "the length of an interval (default 5; file only)"},
    {.key = "history_max_mb",
     .arg = "MB",
     .appOption = true,
     .apply = applyHistoryNumber<&history::Settings::maxMb>,
     .help = "the history's size cap (default 512): past it the oldest changes go\n"
             "first (file only)"},
};

bool given(const RunOptions& o, std::string_view key) {
    return std::find(o.fromCommandLine.begin(), o.fromCommandLine.end(), key) != o.fromCommandLine.end();
}

// Whether the command line already decided this row (itself or a row of its group).
bool decided(const RunOptions& o, const RunSetting& row, std::span<const RunSetting> table) {
    if (given(o, row.key)) return true;
    if (row.group.empty()) return false;
    return std::any_of(table.begin(), table.end(),
                       [&](const RunSetting& r) { return r.group == row.group && given(o, r.key); });
}

std::string keyList(std::span<const RunSetting> table) {
    std::string out;
    for (const auto& r : table) out += (out.empty() ? "" : ", ") + std::string(r.key);
    return out;
}

}  // namespace

std::span<const RunSetting> runSettings() { return kRunSettings; }

std::optional<double> parseSeconds(std::string_view text) {
    double v = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || !std::isfinite(v) || v <= 0 || v > kMaxSeconds) return std::nullopt;
    return v;
}

std::string runSettingsHelp(std::span<const RunSetting> table) {
    std::string out;
    for (const auto& r : table) {
        std::string head = "      ";
        if (!r.flag.empty()) head += std::string(r.flag) + (r.arg.empty() ? "" : " " + std::string(r.arg)) + "  ";
        head += "(" + std::string(r.key) + "=" + std::string(r.arg.empty() ? r.switchValue : r.arg);
        if (!r.env.empty()) head += ", or $" + std::string(r.env);
        out += head + ")\n";
        std::string_view help = r.help;
        while (!help.empty()) {
            const auto nl = help.find('\n');
            out += "          " + std::string(help.substr(0, nl)) + "\n";
            help = nl == std::string_view::npos ? std::string_view() : help.substr(nl + 1);
        }
    }
    return out;
}

fs::path hostSettingsFile(const fs::path& hostDir) { return hostDir / "config" / "settings.ini"; }

std::optional<std::string> addHostSettings(RunOptions& o, std::string_view fileText, const std::string& fileName,
                                           const EnvLookup& env, std::span<const RunSetting> table) {
    const std::string where = fileName + ": [" + std::string(kRunSection) + "] ";
    std::vector<std::string_view> fromEnv;
    for (const auto& row : table) {
        if (row.env.empty() || decided(o, row, table)) continue;
        const char* value = env ? env(std::string(row.env).c_str()) : nullptr;
        if (!value) continue;
        if (auto bad = row.apply(o, value)) return "$" + std::string(row.env) + ": " + *bad;
        fromEnv.push_back(row.key);
    }

    // The password itself, never stored: it is hashed in memory when the page starts.
    if (const char* pw = env ? env(std::string(kHttpPasswordEnv).c_str()) : nullptr) {
        const std::string_view v(pw);
        if (v.empty()) return "$" + std::string(kHttpPasswordEnv) + ": needs a password (or leave it unset)";
        if (v.size() > web::kMaxPasswordBytes)
            return "$" + std::string(kHttpPasswordEnv) + ": longer than " + std::to_string(web::kMaxPasswordBytes) +
                   " bytes";
        o.httpPassword = std::string(v);
    }

    std::map<std::string_view, int> seen;
    for (const auto& [key, value] : host::iniEntries(fileText, kRunSection)) {
        const RunSetting* row = nullptr;
        for (const auto& r : table)
            if (files::equalsNoCase(r.key, key)) row = &r;
        if (!row) return where + "unknown key " + console::quoted(key) + " (known: " + keyList(table) + ")";
        if (++seen[row->key] > 1 && !row->repeatable) return where + std::string(row->key) + ": given twice";
        if (decided(o, *row, table) || std::find(fromEnv.begin(), fromEnv.end(), row->key) != fromEnv.end()) continue;
        if (auto bad = row->apply(o, value)) return where + std::string(row->key) + ": " + *bad;
    }

    // Only the file's own values can clash here: the command line's were checked, and a
    // group given there hides the file's rows of that group.
    if (o.simulate && o.device) return where + "port and simulate exclude each other";
    if (o.simulate && o.demoScript && !o.demo) return where + "demo_script and demo=0 exclude each other";
    if (auto bad = history::settingsProblem(o.history)) return where + *bad;
    return std::nullopt;
}

std::optional<std::string> settleDemoOptions(RunOptions& o) {
    if (o.simulate) return std::nullopt;
    if (given(o, "demo") || given(o, "demo_script")) return std::string("varnel run: demo options need --simulate");
    if (given(o, "sim_baud")) return std::string("varnel run: --sim-baud needs --simulate");
    // A file may keep demo settings for its next simulated run.
    o.demo = true;
    o.demoScript.reset();
    o.simBaud.reset();
    return std::nullopt;
}

std::optional<std::string> addHostSettings(RunOptions& o, const EnvLookup& env) {
    const fs::path file = hostSettingsFile(o.hostDir);
    std::optional<std::string> text;
    try {
        text = files::readFile(file, {.maxBytes = kMaxFileBytes});
    } catch (const std::exception& e) {
        // Worded as the host words it, whichever of the two reads the file first.
        return "cannot use the settings: " + std::string(e.what());
    }
    return addHostSettings(o, text.value_or(""), file.string(), env);
}

}  // namespace varnel::app

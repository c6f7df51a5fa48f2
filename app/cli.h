#pragma once
// The varnel command line: a subcommand and its options, parsed into plain
// values so that the subcommands never see argv.
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "console/selection.h"
#include "history/settings.h"
#include "log_output.h"
#include "web/bind_address.h"

namespace varnel::app {

struct RunOptions {
    std::optional<std::string> device;             // --port DEVICE: wins over the port number setting
    bool simulate = false;                         // --simulate: the controller simulator in process
    std::filesystem::path hostDir;                 // --host-dir, or the default
    std::optional<double> forSeconds;              // --for SECONDS: a clean end after that time
    std::optional<std::string> demoScript;         // --demo-script FILE: scripted controller activity
    bool demo = true;                              // --no-demo: a simulator that only answers
    std::optional<int> simBaud;                    // --sim-baud BAUD: the simulated line's speed
    bool window = false;                           // --window: open the configuration window once started
    std::optional<std::string> windowScreenshots;  // --window-screenshots DIR: a PNG per tab, then stop
    std::vector<std::string> exec;                 // --exec LINE, repeatable: console lines run after start-up
    console::MirrorChoice mirror;                  // --mirror-vars / --mirror-points: applied after start-up
    LogLevel logLevel = LogLevel::Info;            // --log-level
    // The MQTT bridge (mqtt_bridge.h); credentials come from the file or the environment only.
    std::optional<std::string> mqtt;                 // --mqtt mqtt://HOST[:PORT] | mqtts://HOST[:PORT]
    std::optional<std::string> mqttCaFile;           // --mqtt-ca FILE
    std::optional<std::string> mqttBaseTopic;        // --mqtt-base-topic TOPIC
    std::optional<std::string> mqttDiscoveryPrefix;  // --mqtt-discovery-prefix PREFIX
    std::optional<std::string> mqttUsername, mqttPassword;
    // The host directory's own id and whether it keeps the unique ids of an earlier
    // varnel (bridge/installation.h); from the file only, written there at the first run.
    std::optional<std::string> identity;
    bool legacyIds = false;
    // The web page (web/web_server.h): where it listens, and its password as the settings
    // keep it (a salted hash) or as $VARNEL_HTTP_PASSWORD gives it.
    std::optional<web::BindAddress> http;  // --http [ADDR:]PORT
    std::optional<std::string> httpPasswordHash;
    std::optional<std::string> httpPassword;
    // As a Home Assistant app (ha_app.h): the page for the ingress, served to that peer only.
    std::optional<web::BindAddress> ingress;
    std::string ingressPeer;
    // What is kept of the values and events in history.sqlite (history/settings.h).
    history::Settings history;
    // Keys of the options the command line gave (run_settings.h); the file's give way to them.
    std::vector<std::string_view> fromCommandLine;
};

struct SimOptions {
    std::optional<std::string> link;  // --link PATH: a symbolic link to the pseudo-terminal
    std::optional<double> forSeconds;
    std::optional<std::string> demoScript;
    bool demo = true;
    bool byteByByte = false;  // --pace byte: each byte handed over on its own
};

// `varnel sync`: names between the System Map of a project file and the host's devices.
struct SyncOptions {
    bool fromProject = false;            // --from-project: the System Map is master (names go to the host)
    bool toProject = false;              // --to-project: the host is master (names go into the project file)
    std::optional<std::string> project;  // --project FILE; else the ProjectFile setting
    bool variables = false;              // --variables, --x10, --io, --ir (or --all)
    bool x10 = false;
    bool io = false;
    bool ir = false;
    bool yes = false;             // --yes: do not ask before synchronising
    bool replaceIrFiles = false;  // --replace-ir-files: put synchronized IR files in place without asking
    std::filesystem::path hostDir;
};

// `varnel ports [DEVICE]...`: the serial devices, or the ones named.
struct PortsOptions {
    std::vector<std::string> devices;
};

// `varnel history-backup`: a copy of the history database as it stands, taken while a run writes it.
struct HistoryBackupOptions {
    std::filesystem::path hostDir;
    std::optional<std::filesystem::path> to;  // default: history-backup.sqlite in the host directory
};

// `varnel web-password`: the web page's password, stored as a salted hash.
struct WebPasswordOptions {
    std::filesystem::path hostDir;
};

// `varnel health`: whether the run in that host directory is well (exit 0) or not (1).
struct HealthOptions {
    std::filesystem::path hostDir;
};

struct HelpRequest {
    std::string text;
};

struct VersionRequest {};

struct UsageError {
    std::string message;
};

using Command = std::variant<RunOptions, SimOptions, SyncOptions, PortsOptions, WebPasswordOptions,
                             HistoryBackupOptions, HealthOptions, HelpRequest, VersionRequest, UsageError>;

// `args` without the program name. `defaultHostDir` is used when --host-dir is absent.
[[nodiscard]] Command parseCommandLine(const std::vector<std::string>& args,
                                       const std::filesystem::path& defaultHostDir);

// $XDG_DATA_HOME/varnel, else $HOME/.local/share/varnel, else ./varnel-host.
[[nodiscard]] std::filesystem::path defaultHostDir(const char* xdgDataHome, const char* home);

[[nodiscard]] std::string usage();

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a device or directory that cannot be used
inline constexpr int kExitUsage = 2;
// The host directory's settings are wrong: starting again will not help (EX_CONFIG).
inline constexpr int kExitConfig = 78;

}  // namespace varnel::app

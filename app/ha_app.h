#pragma once
// Running as a Home Assistant app: the Supervisor starts varnel with SUPERVISOR_TOKEN in
// its environment and the user's options in /data/options.json, and keeps /data (backed
// up with the rest of Home Assistant). The options are the settings file's rows marked
// appOption, checked by the same code; a broker nobody named comes from the Supervisor's
// MQTT service.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "cli.h"
#include "run_settings.h"

namespace varnel::app {

inline constexpr std::string_view kAppDataDir = "/data";
inline constexpr std::string_view kServicesUrl = "http://supervisor/services/mqtt";
// Home Assistant's ingress proxy connects from there, to the app's ingress port (8099 unless
// config.yaml says otherwise).
inline constexpr std::string_view kIngressPeer = "172.30.32.2";
inline constexpr std::uint16_t kIngressPort = 8099;

// The Supervisor's token when `dataDir`/options.json is there too; nothing otherwise.
[[nodiscard]] std::optional<std::string> appToken(const EnvLookup& env,
                                                  const std::filesystem::path& dataDir = kAppDataDir);

// The options' JSON into `o` where the command line left them open; the settings file
// and the environment then give way to them. An unset option (null, "") is left to the
// file. Besides the settings rows: serial_server (the port as a serial server's address)
// and web_password (the direct page's password itself). One line naming `fileName` and
// the option when one is wrong.
[[nodiscard]] std::optional<std::string> addAppOptions(RunOptions& o, std::string_view json,
                                                       const std::string& fileName,
                                                       std::span<const RunSetting> table = runSettings());

// The same from `dataDir`/options.json.
[[nodiscard]] std::optional<std::string> addAppOptions(RunOptions& o,
                                                       const std::filesystem::path& dataDir = kAppDataDir);

// The Supervisor's answer to GET /services/mqtt: the broker as a URL and its credentials.
struct ServiceBroker {
    std::string url;
    std::optional<std::string> username, password;
    std::string provider;  // the app that offers it ("core_mosquitto"); may be empty
};
[[nodiscard]] std::variant<ServiceBroker, std::string> parseMqttService(std::string_view body);

struct HttpAnswer {
    int status = 0;     // 0: no answer
    std::string body;   // bounded
    std::string error;  // why there was no answer
};

// GET `url` with the bearer `token`, waiting at most `timeoutMs` on a local event loop.
[[nodiscard]] HttpAnswer supervisorGet(const std::string& url, const std::string& token, int timeoutMs = 5000);

// Where the broker comes from when no broker was set: `ask` fetches the services
// answer. Without a broker the bridge is off (its other settings dropped), so that
// the page and the controller run. Returns the one line saying which broker and where
// it came from; never a credential.
[[nodiscard]] std::string settleAppBroker(RunOptions& o, const std::function<HttpAnswer()>& ask);

}  // namespace varnel::app

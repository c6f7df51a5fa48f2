#pragma once
// Where the bridge connects and what it calls its topics: from the command line, the
// host directory's settings (section "varnel") and, for the credentials, the
// environment. Credentials never come from the command line, where every user of the
// machine can read them.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace varnel::bridge {

inline constexpr std::string_view kSettingsSection = "varnel";
inline constexpr std::string_view kDefaultBaseTopic = "varnel";
inline constexpr std::string_view kDefaultDiscoveryPrefix = "homeassistant";

struct BrokerAddress {
    bool tls = false;
    std::string host;
    int port = 1883;
    bool operator==(const BrokerAddress&) const = default;
};

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (an IPv6 address in brackets), an optional
// trailing "/". Ports default to 1883 and 8883. An error text for anything else, a
// user name or password in it included.
std::variant<BrokerAddress, std::string> parseBrokerUrl(std::string_view url);

// Why `topic` cannot be a base topic or discovery prefix; nothing when it can.
std::optional<std::string> topicRootProblem(std::string_view topic);

// The --mqtt options as given; unset ones fall back to the settings file.
struct CommandLineMqtt {
    std::optional<std::string> url{}, caFile{}, baseTopic{}, discoveryPrefix{};
};

struct MqttSettings {
    BrokerAddress broker;
    std::string caFile;  // mqtts only; empty: the system's certificate authorities
    std::string username, password;
    std::string baseTopic{kDefaultBaseTopic};
    std::string discoveryPrefix{kDefaultDiscoveryPrefix};
    std::string clientId;  // "varnel-" and the installation's id
};

// A value by name, nothing when unset. The file's keys are "mqtt", "mqtt_ca_file",
// "mqtt_base_topic", "mqtt_discovery_prefix", "mqtt_username" and "mqtt_password";
// the environment's VARNEL_MQTT_USERNAME and VARNEL_MQTT_PASSWORD win over the file.
using Lookup = std::function<std::optional<std::string>(const std::string& name)>;

// Nothing when no broker is named anywhere (no bridge); an error text for settings
// that cannot work. `installation`: the host directory's id (installation.h).
std::variant<std::optional<MqttSettings>, std::string> resolveMqttSettings(const CommandLineMqtt& cli,
                                                                           const Lookup& file, const Lookup& env,
                                                                           std::string_view installation);

}  // namespace varnel::bridge

#include "bridge/settings.h"

#include <charconv>

#include "bridge/text.h"

namespace varnel::bridge {

namespace {

constexpr std::size_t kMaxTopicRoot = 100;
constexpr std::size_t kMaxHost = 253;

std::optional<int> portNumber(std::string_view text) {
    int port = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

bool hostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

// True when one topic is the other or lies below it, level by level.
bool nested(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    return b.substr(0, a.size()) == a && (b.size() == a.size() || b[a.size()] == '/');
}

}  // namespace

std::variant<BrokerAddress, std::string> parseBrokerUrl(std::string_view url) {
    const std::string shown = "\"" + toUtf8(url.substr(0, 200)) + "\"";
    BrokerAddress a;
    if (url.starts_with("mqtt://")) {
        url.remove_prefix(7);
    } else if (url.starts_with("mqtts://")) {
        url.remove_prefix(8);
        a.tls = true;
        a.port = 8883;
    } else {
        return "the broker must be mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not " + shown;
    }
    if (url.ends_with('/')) url.remove_suffix(1);
    if (url.find('@') != std::string_view::npos)
        return "the broker address " + shown +
               " holds credentials; put them in settings.ini (mqtt_username, mqtt_password) or the environment";
    std::string_view host = url;
    std::string_view port;
    if (url.starts_with('[')) {
        const auto close = url.find(']');
        if (close == std::string_view::npos) return "the broker address " + shown + " has an unclosed '['";
        host = url.substr(1, close - 1);
        const auto rest = url.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return "the broker address " + shown + " has something after ']' that is not a port";
            port = rest.substr(1);
        }
        for (char c : host)
            if (!(c == ':' || c == '.' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
                return "the broker address " + shown + " is not an IPv6 address in brackets";
    } else {
        const auto colon = url.rfind(':');
        if (colon != std::string_view::npos) {
            host = url.substr(0, colon);
            port = url.substr(colon + 1);
        }
        for (char c : host)
            if (!hostChar(c)) return "the broker address " + shown + " is not a host name or address";
    }
    if (host.empty() || host.size() > kMaxHost) return "the broker address " + shown + " names no host";
    if (!port.empty() || url.ends_with(':')) {
        const auto n = portNumber(port);
        if (!n) return "the broker address " + shown + " has a port that is not 1 to 65535";
        a.port = *n;
    }
    a.host = std::string(host);
    return a;
}

std::optional<std::string> topicRootProblem(std::string_view topic) {
    if (topic.empty()) return "is empty";
    if (topic.size() > kMaxTopicRoot) return "is longer than " + std::to_string(kMaxTopicRoot) + " characters";
    if (topic.front() == '/' || topic.back() == '/') return "must not begin or end with '/'";
    if (topic.front() == '$') return "must not begin with '$' (the broker's own topics)";
    if (topic.find("//") != std::string_view::npos) return "must not have an empty level (\"//\")";
    for (char c : topic) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '+' || c == '#') return "must not hold the wildcards '+' or '#'";
        if (u <= 0x20 || u >= 0x7F) return "must be printable ASCII without blanks";
    }
    return std::nullopt;
}

std::variant<std::optional<MqttSettings>, std::string> resolveMqttSettings(const CommandLineMqtt& cli,
                                                                           const Lookup& file, const Lookup& env,
                                                                           std::string_view installation) {
    // An empty value in the file counts as unset, as the ini file gives no other way to unset.
    auto pick = [&](const std::optional<std::string>& given, const std::string& key) -> std::optional<std::string> {
        if (given) return given;
        auto v = file ? file(key) : std::nullopt;
        if (v && v->empty()) return std::nullopt;
        return v;
    };
    const auto url = pick(cli.url, "mqtt");
    const auto caFile = pick(cli.caFile, "mqtt_ca_file");
    const auto base = pick(cli.baseTopic, "mqtt_base_topic");
    const auto prefix = pick(cli.discoveryPrefix, "mqtt_discovery_prefix");
    if (!url) {
        if (cli.caFile || cli.baseTopic || cli.discoveryPrefix)
            return std::string("the MQTT options need a broker: --mqtt or the setting mqtt");
        return std::optional<MqttSettings>{};
    }

    MqttSettings s;
    auto broker = parseBrokerUrl(*url);
    if (auto* err = std::get_if<std::string>(&broker)) return *err;
    s.broker = std::get<BrokerAddress>(broker);
    if (caFile) {
        if (!s.broker.tls) return std::string("a CA file needs an mqtts:// broker");
        s.caFile = *caFile;
    }
    if (base) s.baseTopic = *base;
    if (prefix) s.discoveryPrefix = *prefix;
    if (auto p = topicRootProblem(s.baseTopic)) return "the MQTT base topic " + *p;
    if (auto p = topicRootProblem(s.discoveryPrefix)) return "the discovery prefix " + *p;
    if (nested(s.baseTopic, s.discoveryPrefix))
        return "the MQTT base topic and the discovery prefix must not lie one inside the other";

    auto credential = [&](const std::string& envName, const std::string& key) {
        if (auto v = env ? env(envName) : std::nullopt) return *v;
        return pick(std::nullopt, key).value_or("");
    };
    s.username = credential("VARNEL_MQTT_USERNAME", "mqtt_username");
    s.password = credential("VARNEL_MQTT_PASSWORD", "mqtt_password");
    if (s.username.empty() && !s.password.empty()) return std::string("an MQTT password needs a user name too");
    // A broker drops a client when another connects with its id: one per installation.
    s.clientId = "varnel-" + std::string(installation);
    return std::optional<MqttSettings>(std::move(s));
}

}  // namespace varnel::bridge

#include "ha_app.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string_view>

#include "bridge/settings.h"
#include "console/command.h"
#include "files/files.h"
#include "web/password.h"

namespace varnel::app {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxOptionsBytes = std::size_t{1024} * 1024;
constexpr qint64 kMaxAnswerBytes = qint64{64} * 1024;
constexpr std::size_t kMaxFieldBytes = 1024;

// One option's value as the settings file would spell it; nothing for an unset one.
std::variant<std::vector<std::string>, std::string> spelled(const json& v, bool repeatable) {
    std::vector<std::string> out;
    const auto one = [&out](const json& item) -> std::optional<std::string> {
        if (item.is_null()) return std::nullopt;
        if (item.is_string()) {
            if (!item.get_ref<const std::string&>().empty()) out.push_back(item.get<std::string>());
        } else if (item.is_boolean()) {
            out.emplace_back(item.get<bool>() ? "1" : "0");
        } else if (item.is_number_integer() || item.is_number_unsigned()) {
            out.push_back(item.dump());
        } else {
            return std::string("needs a text, a whole number or true/false");
        }
        return std::nullopt;
    };
    if (v.is_array()) {
        if (!repeatable && v.size() > 1) return std::string("takes one value, not a list");
        for (const auto& item : v)
            if (auto bad = one(item)) return *bad;
    } else if (auto bad = one(v)) {
        return *bad;
    }
    return out;
}

std::optional<std::string> stringField(const json& data, const char* name, bool required, std::string& into) {
    const auto it = data.find(name);
    if (it == data.end() || it->is_null()) {
        if (required) return std::string(name) + ": missing";
        return std::nullopt;
    }
    if (!it->is_string()) return std::string(name) + ": needs a text";
    into = it->get<std::string>();
    if (into.size() > kMaxFieldBytes) return std::string(name) + ": longer than " + std::to_string(kMaxFieldBytes);
    if (std::any_of(into.begin(), into.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
        return std::string(name) + ": holds control characters";
    return std::nullopt;
}

// The port's picker in Home Assistant offers only the devices it lists, so a serial
// server's address (tcp://, rfc2217://) comes under a name of its own.
constexpr std::pair<std::string_view, std::string_view> kOptionAliases[] = {{"serial_server", "port"}};

// The direct page's password as typed in the form: the settings file keeps only a hash,
// which nobody can make from Home Assistant. Hashed in memory when the page starts.
std::optional<std::string> applyWebPassword(RunOptions& o, std::string_view v) {
    if (v.size() > web::kMaxPasswordBytes) return "longer than " + std::to_string(web::kMaxPasswordBytes) + " bytes";
    o.httpPassword = std::string(v);
    return std::nullopt;
}
constexpr RunSetting kAppOnlyOptions[] = {{.key = "web_password", .appOption = true, .apply = applyWebPassword}};

}  // namespace

std::optional<std::string> appToken(const EnvLookup& env, const std::filesystem::path& dataDir) {
    const char* token = env ? env("SUPERVISOR_TOKEN") : nullptr;
    if (!token || !*token) return std::nullopt;
    std::error_code ec;
    if (!std::filesystem::exists(dataDir / "options.json", ec)) return std::nullopt;
    return std::string(token);
}

// "FILE: " and the pieces of what is wrong, appended.
std::string refusal(const std::string& fileName, std::initializer_list<std::string_view> parts) {
    std::string text = fileName + ": ";
    for (const auto part : parts) text += part;
    return text;
}

std::optional<std::string> addAppOptions(RunOptions& o, std::string_view text, const std::string& fileName,
                                         std::span<const RunSetting> table) {
    const json options = json::parse(text, nullptr, false);
    if (options.is_discarded() || !options.is_object()) return fileName + ": not a JSON object";
    const auto commandLine = o.fromCommandLine;
    std::vector<std::pair<std::string_view, std::string>> applied;  // row key, option
    for (const auto& [key, value] : options.items()) {
        std::string_view target = key;
        for (const auto& [alias, rowKey] : kOptionAliases)
            if (key == alias) target = rowKey;
        const RunSetting* row = nullptr;
        for (const auto& r : table)
            if (r.appOption && r.key == target) row = &r;
        for (const auto& r : kAppOnlyOptions)
            if (r.key == target) row = &r;
        if (!row) return fileName + ": unknown option " + console::quoted(key);
        if (std::find(commandLine.begin(), commandLine.end(), row->key) != commandLine.end()) continue;
        auto values = spelled(value, row->repeatable);
        if (const auto* bad = std::get_if<std::string>(&values)) return refusal(fileName, {key, ": ", *bad});
        const auto& list = std::get<std::vector<std::string>>(values);
        if (list.empty()) continue;
        for (const auto& [rowKey, option] : applied)
            if (rowKey == row->key) return refusal(fileName, {option, " and ", key, " exclude each other"});
        applied.emplace_back(row->key, key);
        for (const auto& v : list)
            if (auto bad = row->apply(o, v)) return refusal(fileName, {key, ": ", *bad});
        o.fromCommandLine.push_back(row->key);
    }
    if (o.simulate && o.device) return fileName + ": port and simulate exclude each other";
    return std::nullopt;
}

std::optional<std::string> addAppOptions(RunOptions& o, const std::filesystem::path& dataDir) {
    const auto file = dataDir / "options.json";
    std::optional<std::string> text;
    try {
        text = files::readFile(file, {.maxBytes = kMaxOptionsBytes});
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    return addAppOptions(o, text.value_or("{}"), file.string());
}

std::variant<ServiceBroker, std::string> parseMqttService(std::string_view body) {
    const json answer = json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) return std::string("the answer is not a JSON object");
    const auto data = answer.find("data");
    if (data == answer.end() || !data->is_object()) return std::string("data: missing");
    ServiceBroker b;
    std::string host;
    if (auto bad = stringField(*data, "host", true, host)) return *bad;
    if (host.empty() || host.find_first_of("/@[]? ") != std::string::npos)
        return "host: not a host name: " + console::quoted(host);
    const auto port = data->find("port");
    if (port == data->end() || !port->is_number_integer() || port->get<std::int64_t>() < 1 ||
        port->get<std::int64_t>() > 65535)
        return std::string("port: needs a number from 1 to 65535");
    bool ssl = false;
    if (const auto it = data->find("ssl"); it != data->end() && !it->is_null()) {
        if (!it->is_boolean()) return std::string("ssl: needs true or false");
        ssl = it->get<bool>();
    }
    std::string user, password;
    if (auto bad = stringField(*data, "username", false, user)) return *bad;
    if (auto bad = stringField(*data, "password", false, password)) return *bad;
    if (auto bad = stringField(*data, "addon", false, b.provider)) return *bad;
    b.url = std::string(ssl ? "mqtts://" : "mqtt://") + host + ":" + std::to_string(port->get<std::int64_t>());
    if (const auto parsed = bridge::parseBrokerUrl(b.url); std::holds_alternative<std::string>(parsed))
        return "host: " + std::get<std::string>(parsed);
    if (!user.empty()) b.username = user;
    if (!password.empty()) b.password = password;
    return b;
}

HttpAnswer supervisorGet(const std::string& url, const std::string& token, int timeoutMs) {
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setRawHeader("Authorization", "Bearer " + QByteArray::fromStdString(token));
    request.setTransferTimeout(timeoutMs);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    HttpAnswer answer;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        answer.body += reply->read(kMaxAnswerBytes - static_cast<qint64>(answer.body.size())).toStdString();
        if (static_cast<qint64>(answer.body.size()) >= kMaxAnswerBytes) reply->abort();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    answer.body += reply->read(kMaxAnswerBytes - static_cast<qint64>(answer.body.size())).toStdString();
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer.status == 0) answer.error = reply->errorString().toStdString();
    return answer;
}

std::string settleAppBroker(RunOptions& o, const std::function<HttpAnswer()>& ask) {
    if (o.mqtt) {
        const bool fromOptions =
            std::find(o.fromCommandLine.begin(), o.fromCommandLine.end(), "mqtt") != o.fromCommandLine.end();
        return "MQTT broker " + *o.mqtt + (fromOptions ? " from the app's options" : " from the settings file");
    }
    const HttpAnswer a = ask();
    std::string why;
    if (a.status == 200) {
        auto parsed = parseMqttService(a.body);
        if (auto* b = std::get_if<ServiceBroker>(&parsed)) {
            o.mqtt = b->url;
            // The options' user and password override the service's.
            if (!o.mqttUsername) o.mqttUsername = b->username;
            if (!o.mqttPassword) o.mqttPassword = b->password;
            return "MQTT broker " + b->url + " from the Supervisor's MQTT service" +
                   (b->provider.empty() ? std::string() : " (" + b->provider + ")");
        }
        why = "its answer is refused: " + std::get<std::string>(parsed);
    } else if (a.status == 0) {
        why = "the Supervisor did not answer: " + a.error;
    } else {
        why = "the Supervisor has no MQTT service (HTTP " + std::to_string(a.status) + ")";
    }
    // An option left at its default must not end the run: the bridge is simply off.
    o.mqttBaseTopic.reset();
    o.mqttDiscoveryPrefix.reset();
    o.mqttCaFile.reset();
    o.mqttUsername.reset();
    o.mqttPassword.reset();
    return "no MQTT broker: none in the app's options and " + why + "; the page and the controller run without it";
}

}  // namespace varnel::app

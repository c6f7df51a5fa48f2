// Running as a Home Assistant app: the options as settings and the Supervisor's MQTT
// service as the broker nobody named (the request that asks for it is in tests/integration).
#include <gtest/gtest.h>

#include "ha_app.h"

namespace varnel::app {
namespace {

RunOptions optionsFrom(const std::string& json, std::optional<std::string>* bad = nullptr) {
    RunOptions o;
    o.hostDir = "/data";
    auto problem = addAppOptions(o, json, "/data/options.json");
    if (bad) *bad = problem;
    return o;
}

TEST(HaApp, the_options_are_settings_checked_as_the_file_is_and_the_file_gives_way_to_them) {
    std::optional<std::string> bad;
    auto o = optionsFrom(R"({"port":"/dev/serial/by-id/usb-FTDI-if00","mirror_vars":["0-3","64"],
        "mirror_points":"1:0-1","mqtt":"","mqtt_username":null,"mqtt_base_topic":"house","history_days":30,
        "simulate":false,"log_level":"warning"})",
                         &bad);
    ASSERT_EQ(bad, std::nullopt);
    ASSERT_EQ(addHostSettings(o, "[varnel]\nport=/dev/ttyS0\nmqtt_base_topic=other\nmqtt_username=u\n", "f", {}),
              std::nullopt);
    EXPECT_EQ(o.device, "/dev/serial/by-id/usb-FTDI-if00");
    EXPECT_EQ(o.mirror.variables, (std::vector<int>{0, 1, 2, 3, 64}));
    EXPECT_EQ(o.mqttBaseTopic, "house");
    EXPECT_EQ(o.mqttUsername, "u") << "an unset option is left to the file";
    EXPECT_EQ(o.mqtt, std::nullopt) << "an empty broker is unset, not off";
    EXPECT_EQ(o.history.keepDays, 30);
    EXPECT_EQ(o.logLevel, LogLevel::Warning);
    // A serial server's address under its own name; an empty picker beside it is unset.
    EXPECT_EQ(optionsFrom(R"({"port":null,"serial_server":"rfc2217://ser2net.lan:2001"})", &bad).device,
              "rfc2217://ser2net.lan:2001");
    EXPECT_EQ(bad, std::nullopt);
    EXPECT_EQ(optionsFrom(R"({"web_password":"pa ss"})").httpPassword, "pa ss");

    const std::pair<std::string, const char*> refused[] = {
        {R"([1])", "/data/options.json: not a JSON object"},
        {R"({"prot":"/dev/ttyS0"})", "/data/options.json: unknown option 'prot'"},
        {R"({"identity":"abc"})", "unknown option 'identity'"},
        {R"({"mirror_vars":"0-200"})", "/data/options.json: mirror_vars: variables: "},
        {R"({"port":{"a":1}})", "port: needs a text, a whole number or true/false"},
        {R"({"history_days":1.5})", "history_days: needs a text, a whole number"},
        {R"({"log_level":["info","error"]})", "log_level: takes one value, not a list"},
        {R"({"http":"0.0.0.0:0"})", "http: needs"},
        {R"({"mqtt_base_topic":"a/#"})", "mqtt_base_topic: must not hold the wildcards"},
        {R"({"port":"/dev/a","simulate":true})", "port and simulate exclude each other"},
        {R"({"port":"/dev/a","serial_server":"tcp://ser2net.lan:2000"})", "port and serial_server exclude each other"},
        {R"({"serial_server":"http://x"})", "serial_server: "},
        {R"({"web_password":")" + std::string(2000, 'p') + R"("})", "web_password: longer than"},
    };
    for (const auto& [json, says] : refused) {
        optionsFrom(json, &bad);
        ASSERT_TRUE(bad) << json;
        EXPECT_NE(bad->find(says), std::string::npos) << *bad;
    }
}

TEST(HaApp, the_services_answer_gives_the_broker_or_is_refused_naming_the_field) {
    const auto answer = [](const std::string& data) { return R"({"result":"ok","data":{)" + data + "}}"; };
    const auto full = answer(R"("host":"core-mosquitto","port":1883,"ssl":false,"username":"addons",)"
                             R"("password":"s3cret","protocol":"3.1.1","addon":"core_mosquitto")");
    const auto b = std::get<ServiceBroker>(parseMqttService(full));
    EXPECT_EQ(std::tuple(b.url, b.username, b.password, b.provider),
              std::tuple("mqtt://core-mosquitto:1883", "addons", "s3cret", "core_mosquitto"));
    EXPECT_EQ(std::get<ServiceBroker>(parseMqttService(answer(R"("host":"10.0.0.2","port":8883,"ssl":true)"))).url,
              "mqtts://10.0.0.2:8883");
    const std::pair<std::string, const char*> refused[] = {
        {"<html>", "the answer is not a JSON object"},
        {R"({"result":"ok"})", "data: missing"},
        {answer(R"("port":1883)"), "host: missing"},
        {answer(R"("host":5,"port":1883)"), "host: needs a text"},
        {answer(R"("host":"a/b","port":1883)"), "host: not a host name: 'a/b'"},
        {answer(R"("host":"h\ninjected","port":1883)"), "host: holds control characters"},
        {answer(R"("host":"h","port":"1883")"), "port: needs a number from 1 to 65535"},
        {answer(R"("host":"h","port":70000)"), "port: needs a number from 1 to 65535"},
        {answer(R"("host":"h","port":1883,"ssl":"yes")"), "ssl: needs true or false"},
        {answer(R"("host":"h","port":1883,"password":5)"), "password: needs a text"},
        {answer(R"("host":"h","port":1883,"username":")" + std::string(2000, 'u') + "\""), "username: longer than"},
    };
    for (const auto& [body, says] : refused) {
        const auto r = parseMqttService(body);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << body;
        EXPECT_EQ(std::get<std::string>(r).find(says), 0u) << std::get<std::string>(r);
    }
}

TEST(HaApp, a_broker_nobody_named_comes_from_the_service_else_the_bridge_is_off_and_the_run_goes_on) {
    const std::string service =
        R"({"data":{"host":"core-mosquitto","port":1883,"username":"addons","password":"s3cret","addon":"core_mosquitto"}})";
    const struct {
        const char* options;
        HttpAnswer answer;
        const char* says;
        std::optional<std::string> mqtt, user, password, baseTopic;
    } cases[] = {
        {R"({"mqtt":"mqtt://broker.lan"})",
         {},
         "MQTT broker mqtt://broker.lan from the app's options",
         "mqtt://broker.lan",
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {R"({"mqtt_base_topic":"house"})",
         {.status = 200, .body = service, .error = {}},
         "MQTT broker mqtt://core-mosquitto:1883 from the Supervisor's MQTT service (core_mosquitto)",
         "mqtt://core-mosquitto:1883",
         "addons",
         "s3cret",
         "house"},
        {R"({"mqtt_username":"me","mqtt_password":"mine"})",
         {.status = 200, .body = service, .error = {}},
         "from the Supervisor's MQTT service",
         "mqtt://core-mosquitto:1883",
         "me",
         "mine",
         std::nullopt},
        {R"({"mqtt_base_topic":"house","mqtt_password":"mine"})",
         {.status = 400, .body = "{}", .error = {}},
         "no MQTT broker: none in the app's options and the Supervisor has no MQTT service (HTTP 400); the page "
         "and the controller run without it",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"{}",
         {.status = 0, .body = {}, .error = "Host supervisor not found"},
         "the Supervisor did not answer: Host supervisor not found",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"{}",
         {.status = 200, .body = R"({"data":{"host":"h","port":0,"password":"s3cret"}})", .error = {}},
         "its answer is refused: port: needs a number",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         std::nullopt},
    };
    for (const auto& c : cases) {
        auto o = optionsFrom(c.options);
        const std::string line = settleAppBroker(o, [&c] { return c.answer; });
        EXPECT_NE(line.find(c.says), std::string::npos) << line;
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
        EXPECT_EQ(line.find("mine"), std::string::npos) << line;
        EXPECT_EQ(std::tuple(o.mqtt, o.mqttUsername, o.mqttPassword, o.mqttBaseTopic),
                  std::tuple(c.mqtt, c.user, c.password, c.baseTopic))
            << c.options;
    }
}

}  // namespace
}  // namespace varnel::app

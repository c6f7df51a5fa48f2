// The MQTT bridge against a real broker: discovery as Home Assistant reads it, states
// and commands both ways, hostile messages, a broker restart, TLS, and the varnel
// program killed outright.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <set>

#include "cli.h"
#include "mqtt_broker.h"
#include "mqtt_client.h"
#include "mqtt_live.h"
#include "pty_pair.h"
#include "varnel_process.h"

namespace varnel {
namespace {

using nlohmann::json;
using test::TestClient;

std::size_t countPrefix(const TestClient& c, const std::string& prefix, bool nonEmpty = true) {
    std::set<std::string> topics;
    for (const auto& m : c.received())
        if (m.topic.starts_with(prefix) && (!nonEmpty || !m.payload.empty())) topics.insert(m.topic);
    return topics.size();
}

std::size_t countMessages(const TestClient& c, const std::string& topic) {
    std::size_t n = 0;
    for (const auto& m : c.received()) n += m.topic == topic;
    return n;
}

// A broker, the plug-in with its bridge connected to it, and a client in Home Assistant's place.
struct Live {
    explicit Live(std::initializer_list<const char*> filters) {
        for (const char* f : filters) ha.subscribe(f);
        live.connect(broker.url());
    }
    test::TestBroker broker;
    test::LiveBridge live;
    TestClient ha{broker.port(), "ha"};
};

TEST(MqttBridgeLive, discovery_states_and_commands_go_through_a_real_broker) {
    Live l({"homeassistant/#", "varnel/#"});
    auto& [broker, live, ha] = l;
    ASSERT_TRUE(live.waitFor(10'000, [&] {
        return ha.latest("varnel/status") == "online" && ha.latest("varnel/controller/availability") == "online" &&
               countPrefix(ha, "homeassistant/") >= 30;
    })) << ::testing::PrintToString(live.log);

    std::set<std::string> ids;
    for (const auto& m : ha.received()) {
        if (!m.topic.starts_with("homeassistant/") || !m.topic.ends_with("/config")) continue;
        const json c = json::parse(m.payload, nullptr, false);
        ASSERT_FALSE(c.is_discarded()) << m.topic;
        ASSERT_TRUE(c.contains("unique_id") && c.contains("device") && c.contains("origin")) << m.topic;
        ids.insert(c["unique_id"].get<std::string>());
    }
    EXPECT_EQ(ids.size(), countPrefix(ha, "homeassistant/"));

    // An input changes on the controller (once the plug-in's first comparison gave it a state).
    std::optional<std::string> before;
    ASSERT_TRUE(live.waitFor(3000, [&] {
        before = ha.latest("varnel/unit/1/point/4/state");
        return before == "ON" || before == "OFF";
    }));
    const std::string after = before == "ON" ? "OFF" : "ON";
    live.controller.changeInput(1, 4, before == "ON");
    EXPECT_TRUE(live.waitFor(3000, [&] { return ha.latest("varnel/unit/1/point/4/state") == after; }));

    // A switch is commanded.
    const auto writes = live.controller.countOf(sim::FrameKind::Command, 0x33);
    ha.publish("varnel/unit/3/point/1/set", "ON");
    EXPECT_TRUE(live.waitFor(3000, [&] {
        return live.controller.countOf(sim::FrameKind::Command, 0x33) == writes + 1 &&
               ha.latest("varnel/unit/3/point/1/state") == "ON";
    }));

    // Home Assistant restarts.
    const std::string config = "homeassistant/switch/varnel_unit3_point1/config";
    const std::size_t configs = countMessages(ha, config);
    ha.publish("homeassistant/status", "online");
    EXPECT_TRUE(live.waitFor(5000, [&] { return countMessages(ha, config) == configs + 1; }));
}

TEST(MqttBridgeLive, hostile_messages_are_refused_and_counted_and_the_bridge_keeps_working) {
    Live l({"varnel/bridge/#", "varnel/var/#"});
    auto& [broker, live, ha] = l;
    ASSERT_TRUE(live.waitFor(10'000, [&] { return live.bridge->connected(); }));

    TestClient attacker(broker.port(), "attacker");
    attacker.publish("varnel/var/1/set", std::string(1024 * 1024, '7'), false, 1);
    attacker.publish("varnel/var/1/set", "{\"value\":", false, 1);
    attacker.publish("varnel/var/1/set", "70000", false, 1);
    attacker.publish("varnel/screen/write", "{\"text\":[", false, 1);
    constexpr int kFlood = 3000;
    for (int i = 0; i < kFlood; ++i) attacker.publish("varnel/nowhere/" + std::to_string(i), "x");
    const std::string total = std::to_string(kFlood + 4);
    EXPECT_TRUE(live.waitFor(20'000, [&] { return ha.latest("varnel/bridge/refused") == total; }))
        << ha.latest("varnel/bridge/refused").value_or("none");
    EXPECT_LE(live.log.size(), 15u);

    attacker.publish("varnel/var/1/set", "4321");
    EXPECT_TRUE(live.waitFor(5000, [&] { return ha.latest("varnel/var/1/state") == "4321"; }));
    EXPECT_EQ(live.controller.variable(1), 4321);
}

TEST(MqttBridgeLive, a_broker_restart_is_survived_and_everything_is_published_again) {
    test::TestBroker broker;
    test::LiveBridge live;
    live.connect(broker.url());
    ASSERT_TRUE(live.waitFor(10'000, [&] { return live.bridge->connected(); }));
    broker.stop();
    ASSERT_TRUE(live.waitFor(5000, [&] { return !live.bridge->connected(); }));
    EXPECT_TRUE(live.logged("lost the connection to"));
    broker.start();
    ASSERT_TRUE(live.waitFor(15'000, [&] { return live.bridge->connected(); })) << ::testing::PrintToString(live.log);

    TestClient ha(broker.port(), "ha");
    ha.subscribe("homeassistant/#");
    ha.subscribe("varnel/status");
    EXPECT_TRUE(live.waitFor(
        5000, [&] { return ha.latest("varnel/status") == "online" && countPrefix(ha, "homeassistant/") >= 30; }));
}

TEST(MqttBridgeLive, tls_with_the_brokers_ca_connects_and_another_ca_does_not) {
    test::TestBroker broker(true);
    test::LiveBridge live;
    live.connect(broker.url(), broker.caFile().string());
    EXPECT_TRUE(live.waitFor(10'000, [&] { return live.bridge->connected(); })) << ::testing::PrintToString(live.log);

    EXPECT_NE(bridge::MosquittoTransport::caFileProblem((broker.dir() / "broker.conf").string()), std::nullopt);
    EXPECT_NE(bridge::MosquittoTransport::caFileProblem((broker.dir() / "none.pem").string()), std::nullopt);
}

TEST(MqttBridgeLive, a_tls_failure_says_what_failed) {
    using test::BrokerCert;
    struct Case {
        const char* what;
        test::BrokerOptions broker;
        bool ownCa;  // the broker's own authority, or its certificate standing in for one
        std::string said;
    };
    const Case cases[] = {
        {"unknown CA",
         {.tls = true},
         false,
         "TLS: the broker's certificate is signed by an unknown certificate authority (not the one in "},
        {"name mismatch",
         {.tls = true, .cert = BrokerCert::OtherName},
         true,
         "TLS: the broker's certificate is not made out to localhost (name mismatch)"},
        {"expired", {.tls = true, .cert = BrokerCert::Expired}, true, "TLS: the broker's certificate has expired on "},
        {"no TLS on the port", {}, true, "TLS: the broker hung up during the handshake (does it speak TLS on port "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TestBroker broker(c.broker);
        // A plain broker has no authority of its own: any PEM certificate file will do.
        test::TestBroker other(true);
        const auto ca = c.broker.tls ? (c.ownCa ? broker.caFile() : broker.dir() / "server.crt") : other.caFile();
        std::string url = broker.url();
        if (!c.broker.tls) url = "mqtts://localhost:" + std::to_string(broker.port());
        test::LiveBridge live;
        live.connect(url, ca.string());
        // The first attempt may meet the certificate before the verdict is noted (the
        // library makes its TLS context with that attempt's socket): it may say only
        // that the certificate was not accepted; the next says why.
        EXPECT_TRUE(live.waitFor(8000, [&] { return live.logged(c.said); })) << ::testing::PrintToString(live.log);
        EXPECT_FALSE(live.bridge->connected());
        EXPECT_NE(live.bridge->stateText().find(c.said), std::string::npos) << live.bridge->stateText();
    }
}

// With MQTT 5 the broker says whether a command was published retained also while the
// bridge is subscribed, and it is refused; a 3.1.1 broker says so only when it replays one.
TEST(MqttBridgeLive, a_retained_command_published_while_connected_is_refused_where_the_broker_speaks_mqtt_5) {
    struct Case {
        const char* what;
        bool mqtt311Only;
        std::string protocol;
        bool refused;
    };
    for (const auto& c : {Case{"MQTT 5", false, "(MQTT 5)", true}, Case{"MQTT 3.1.1", true, "(MQTT 3.1.1)", false}}) {
        SCOPED_TRACE(c.what);
        test::TestBroker broker({.mqtt311Only = c.mqtt311Only});
        test::LiveBridge live;
        live.connect(broker.url());
        ASSERT_TRUE(live.waitFor(10'000, [&] { return live.bridge->connected(); }))
            << ::testing::PrintToString(live.log);
        EXPECT_TRUE(live.logged("connected to " + broker.url() + " " + c.protocol))
            << ::testing::PrintToString(live.log);

        TestClient someone(broker.port(), "someone");
        const auto refusedBefore = live.bridge->counters().refused;
        someone.publish("varnel/var/2/set", "2345", true, 1);
        someone.publish("varnel/var/1/set", "1234", false, 1);  // comes after it, and always runs
        ASSERT_TRUE(live.waitFor(5000, [&] { return live.controller.variable(1) == 1234; }));
        EXPECT_EQ(live.bridge->counters().refused, refusedBefore + (c.refused ? 1 : 0));
        EXPECT_EQ(live.controller.variable(2) == 2345, !c.refused);
        EXPECT_EQ(live.logged("a retained command is not carried out"), c.refused);
        someone.publish("varnel/var/2/set", "", true, 1);  // the broker forgets it
    }
}

TEST(MqttBridgeProcess, a_simulated_run_shows_a_whole_device_and_a_killed_run_goes_offline) {
    test::TestBroker broker;
    test::TempDir dir;
    TestClient ha(broker.port(), "ha");
    ha.subscribe("homeassistant/#");
    ha.subscribe("varnel/#");
    test::LiveVarnel varnel({"run", "--simulate", "--host-dir", test::q(dir.path() / "host"), "--mqtt",
                             QString::fromStdString(broker.url())});
    QtEventLoop loop;
    auto waitFor = [&](int ms, const std::function<bool()>& done) {
        const auto until = loop.tickMs() + ms;
        while (!done() && loop.tickMs() < until) loop.waitUntil(20, done);
        return done();
    };
    // The demo's host directory mirrors variables and the points of three units.
    ASSERT_TRUE(waitFor(30'000, [&] {
        return ha.latest("varnel/status") == "online" && countPrefix(ha, "homeassistant/number/") >= 8 &&
               countPrefix(ha, "homeassistant/binary_sensor/") >= 9;
    })) << varnel.said();
    EXPECT_EQ(ha.latest("varnel/controller/link"), "ON");
    // The console's status tells the broker connection.
    varnel.type("status\n");
    EXPECT_NE(varnel.waitFor("mqtt: connected to " + broker.url() + " (MQTT 5) since ", 0, 5000), std::string::npos)
        << varnel.said();

    ::kill(static_cast<pid_t>(varnel.pid()), SIGKILL);
    EXPECT_TRUE(waitFor(10'000, [&] { return ha.latest("varnel/status") == "offline"; }));
}

TEST(MqttBridgeProcess, the_bridge_is_online_at_once_while_the_controller_stays_silent) {
    test::TestBroker broker;
    test::TempDir dir;
    test::PtyPair silent;  // nobody answers: the start-up waits out every step
    TestClient ha(broker.port(), "ha");
    ha.subscribe("varnel/#");
    ha.subscribe("homeassistant/#");
    const auto began = TestClient::Clock::now();
    test::LiveVarnel varnel({"run", "--port", test::q(silent.slaveName()), "--host-dir", test::q(dir.path() / "host"),
                             "--mqtt", QString::fromStdString(broker.url())});
    ASSERT_TRUE(varnel.waitUntil(10'000, [&] {
        return ha.latest("varnel/status") == "online" && ha.latest("varnel/controller/availability") == "offline" &&
               ha.latest("varnel/controller/link") == "OFF";
    })) << varnel.said();
    TestClient::Clock::time_point online{};
    for (const auto& m : ha.received())
        if (m.topic == "varnel/status" && m.payload == "online") online = m.at;
    EXPECT_LT(online - began, std::chrono::seconds(2)) << varnel.said();
    EXPECT_EQ(varnel.out().find("Start-up: done in"), std::string::npos) << "the start-up should still run";
    // The link sensor is announced; nothing of the controller's own is known yet.
    bool linkAnnounced = false;
    for (const auto& m : ha.received())
        linkAnnounced |= m.topic.starts_with("homeassistant/binary_sensor/") && m.topic.ends_with("link/config");
    EXPECT_TRUE(linkAnnounced);
    EXPECT_EQ(countPrefix(ha, "homeassistant/number/"), 0u);

    // A command meanwhile is refused with the reason, and nothing reaches the line for it.
    ha.publish("varnel/x10/send", "A1 on");
    EXPECT_NE(varnel.waitFor("the controller is not found yet (its start-up runs); nothing was done", 0, 5000),
              std::string::npos)
        << varnel.said();
    EXPECT_TRUE(varnel.waitUntil(5000, [&] { return ha.latest("varnel/bridge/refused") == "1"; })) << varnel.said();
}

TEST(MqttBridgeProcess, unusable_mqtt_settings_end_the_run_with_one_line) {
    test::TempDir dir;
    const auto host = dir.path() / "host";
    test::writeFile(dir.path() / "notpem", "hello");
    struct Case {
        std::string ini;
        QStringList args;
        std::string err;
    };
    const Case cases[] = {
        {"[varnel]\r\nmqtt=ftp://x\r\n", {}, "settings.ini: [varnel] mqtt: the broker must be mqtt://HOST[:PORT]"},
        {"[varnel]\r\nmqtt=mqtt://x\r\nmqtt_password=pw\r\n", {}, "varnel: an MQTT password needs a user name too"},
        {"", {"--mqtt", "mqtts://x", "--mqtt-ca", test::q(dir.path() / "notpem")}, "varnel: the CA file "},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(host);
        std::filesystem::create_directories(host / "config");
        test::writeFile(host / "config" / "settings.ini", c.ini);
        const auto r = test::runVarnel(QStringList{"run", "--simulate", "--host-dir", test::q(host)} + c.args);
        EXPECT_EQ(r.exitCode, app::kExitConfig) << r.err;
        EXPECT_TRUE(r.err.starts_with("varnel: ") && r.err.find(c.err) != std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace varnel

// The MQTT bridge against a real broker: discovery as Home Assistant reads it, states
// and commands both ways, hostile messages, a broker restart, TLS, and the varnel
// program killed outright.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <set>

#include "cli.h"
#include "host/ini_text.h"
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
        before = ha.latest("varnel/unit/1/input/5/state");
        return before == "ON" || before == "OFF";
    }));
    const std::string after = before == "ON" ? "OFF" : "ON";
    live.controller.changeInput(1, 4, before == "ON");
    EXPECT_TRUE(live.waitFor(3000, [&] { return ha.latest("varnel/unit/1/input/5/state") == after; }));

    // A switch is commanded.
    const auto writes = live.controller.countOf(sim::FrameKind::Command, 0x33);
    ha.publish("varnel/unit/3/output/2/set", "ON");
    EXPECT_TRUE(live.waitFor(3000, [&] {
        return live.controller.countOf(sim::FrameKind::Command, 0x33) == writes + 1 &&
               ha.latest("varnel/unit/3/output/2/state") == "ON";
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
    ASSERT_TRUE(live.waitFor(10'000, [&] { return live.bridge->holding(); }));

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
        ASSERT_TRUE(live.waitFor(10'000, [&] { return live.bridge->holding(); })) << ::testing::PrintToString(live.log);
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

// Two host directories, the default base topic, one broker. The first holds the base;
// the second says so in one line and publishes nothing there, and takes over once the
// first has gone. Neither empties a config of the other or marks it offline.
TEST(MqttBridgeProcess, two_installations_on_one_broker_leave_each_other_alone) {
    test::TestBroker broker;
    test::TempDir dir;
    const auto hostA = dir.path() / "a";
    const auto hostB = dir.path() / "b";
    // The second is a host directory an earlier varnel ran in: it keeps that one's unique ids.
    test::writeFile(hostB / "config" / "settings.ini", "[hspi_tarnwick]\r\nregmoved=1\r\n");
    TestClient ha(broker.port(), "ha");
    ha.subscribe("homeassistant/#");
    ha.subscribe("varnel/#");
    auto run = [&](const std::filesystem::path& host) {
        return std::make_unique<test::LiveVarnel>(QStringList{"run", "--simulate", "--host-dir", test::q(host),
                                                              "--mqtt", QString::fromStdString(broker.url())});
    };
    QtEventLoop loop;
    auto waitFor = [&](int ms, const std::function<bool()>& done) {
        const auto until = loop.tickMs() + ms;
        while (!done() && loop.tickMs() < until) loop.waitUntil(20, done);
        return done();
    };
    auto a = run(hostA);
    ASSERT_TRUE(waitFor(30'000, [&] {
        return ha.latest("varnel/status") == "online" && countPrefix(ha, "homeassistant/number/") >= 8;
    })) << a->said();
    const auto idA = host::iniGet(test::readFile(hostA / "config" / "settings.ini"), "varnel", "identity");
    ASSERT_TRUE(idA);
    EXPECT_EQ(ha.latest("varnel/bridge/installation"), *idA);

    auto b = run(hostB);
    const std::string held =
        "MQTT: the base topic \"varnel\" is held by installation \"" + *idA + "\", which is online";
    ASSERT_TRUE(b->waitUntil(30'000, [&] { return b->said().find(held) != std::string::npos; })) << b->said();
    const std::string settingsB = test::readFile(hostB / "config" / "settings.ini");
    const auto idB = host::iniGet(settingsB, "varnel", "identity");
    ASSERT_TRUE(idB);
    EXPECT_NE(*idA, *idB);
    EXPECT_EQ(host::iniGet(settingsB, "varnel", "legacy_ids"), "1");
    EXPECT_EQ(host::iniGet(test::readFile(hostA / "config" / "settings.ini"), "varnel", "legacy_ids"), std::nullopt);

    // Side by side for a while.
    const std::size_t configs = countPrefix(ha, "homeassistant/");
    waitFor(12'000, [] { return false; });
    a->waitUntil(10, [] { return false; });
    b->waitUntil(10, [] { return false; });
    const auto emptied = [&] {
        std::vector<std::string> out;
        for (const auto& m : ha.received())
            if (m.topic.starts_with("homeassistant/") && m.topic.ends_with("/config") && m.payload.empty())
                out.push_back(m.topic);
        return out;
    };
    EXPECT_EQ(emptied(), std::vector<std::string>{});
    // More only: what the simulator's traffic makes heard gets its device trigger.
    EXPECT_GE(countPrefix(ha, "homeassistant/"), configs);
    EXPECT_EQ(countMessages(ha, "varnel/status"), 1u) << "online once, never offline";
    EXPECT_EQ(a->said().find("lost the connection"), std::string::npos) << a->said();
    const std::string saidB = b->said();
    std::size_t lines = 0;
    for (auto at = saidB.find(held); at != std::string::npos; at = saidB.find(held, at + 1)) ++lines;
    EXPECT_EQ(lines, 1u);
    for (const auto& m : ha.received()) {
        if (!m.topic.starts_with("homeassistant/") || m.payload.empty()) continue;
        const json c = json::parse(m.payload);
        EXPECT_EQ(c["varnel_installation"], *idA) << m.topic;
        EXPECT_TRUE(c["unique_id"].get<std::string>().starts_with("varnel_" + *idA + "_")) << m.topic;
    }

    // The first ends cleanly; the second takes the base over, with the unique ids of its
    // earlier varnel, and leaves the first one's configs alone.
    a->terminate();
    ASSERT_TRUE(a->waitForExit());
    ASSERT_TRUE(waitFor(20'000, [&] {
        return ha.latest("varnel/bridge/installation") == *idB && ha.latest("varnel/status") == "online";
    })) << b->said();
    b->waitUntil(10, [] { return false; });
    EXPECT_NE(b->said().find("MQTT: the base topic \"varnel\" is free: taking it over"), std::string::npos);
    waitFor(7000, [] { return false; });  // the leftover scan is over
    EXPECT_EQ(emptied(), std::vector<std::string>{});
    EXPECT_TRUE(ha.latest("homeassistant/number/varnel_var0/config").has_value());
    EXPECT_TRUE(ha.latest("homeassistant/number/varnel_" + *idA + "_var0/config").has_value());
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

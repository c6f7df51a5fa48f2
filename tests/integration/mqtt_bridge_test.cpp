// The MQTT bridge against a real broker: states and commands both ways, a broker
// restart, TLS and MQTT 5's retain flag. What the bridge makes of each message, a
// silent controller and Home Assistant's restart are in tests/bridge.
#include <gtest/gtest.h>

#include <set>

#include "mqtt_broker.h"
#include "mqtt_client.h"
#include "mqtt_live.h"

namespace varnel {
namespace {

using test::TestClient;

std::size_t countPrefix(const TestClient& c, const std::string& prefix) {
    std::set<std::string> topics;
    for (const auto& m : c.received())
        if (m.topic.starts_with(prefix) && !m.payload.empty()) topics.insert(m.topic);
    return topics.size();
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

TEST(MqttBridgeLive, states_and_commands_go_through_a_real_broker_and_survive_its_restart) {
    Live l({"homeassistant/#", "varnel/#"});
    auto& [broker, live, ha] = l;
    ASSERT_TRUE(live.waitFor(10'000, [&] {
        return ha.latest("varnel/status") == "online" && ha.latest("varnel/controller/availability") == "online" &&
               countPrefix(ha, "homeassistant/") >= 30;
    })) << ::testing::PrintToString(live.log);

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

    // The broker restarts: the bridge comes back and publishes everything again.
    broker.stop();
    ASSERT_TRUE(live.waitFor(5000, [&] { return !live.bridge->connected(); }));
    EXPECT_TRUE(live.logged("lost the connection to"));
    broker.start();
    ASSERT_TRUE(live.waitFor(15'000, [&] { return live.bridge->connected(); })) << ::testing::PrintToString(live.log);
    TestClient again(broker.port(), "ha-again");
    again.subscribe("homeassistant/#");
    again.subscribe("varnel/status");
    EXPECT_TRUE(live.waitFor(
        5000, [&] { return again.latest("varnel/status") == "online" && countPrefix(again, "homeassistant/") >= 30; }));
}

// TLS connects with the broker's authority, and a failure says what failed.
void tlsCases(test::LiveBridge& live) {
    using test::BrokerCert;
    struct Case {
        const char* what;
        test::BrokerOptions broker;
        bool ownCa;        // the broker's own authority, or its certificate standing in for one
        std::string said;  // empty: connects
    };
    const Case cases[] = {
        {"own CA", {.tls = true}, true, ""},
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
        live.connect(url, ca.string());
        if (c.said.empty()) {
            EXPECT_TRUE(live.waitFor(10'000, [&] { return live.bridge->connected(); }))
                << ::testing::PrintToString(live.log);
            EXPECT_NE(bridge::MosquittoTransport::caFileProblem((broker.dir() / "broker.conf").string()), std::nullopt);
            EXPECT_NE(bridge::MosquittoTransport::caFileProblem((broker.dir() / "none.pem").string()), std::nullopt);
            continue;
        }
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
void retainCases(test::LiveBridge& live) {
    struct Case {
        const char* what;
        bool mqtt311Only;
        std::string protocol;
        bool refused;
    };
    for (const auto& c : {Case{"MQTT 5", false, "(MQTT 5)", true}, Case{"MQTT 3.1.1", true, "(MQTT 3.1.1)", false}}) {
        SCOPED_TRACE(c.what);
        test::TestBroker broker({.mqtt311Only = c.mqtt311Only});
        for (int v : {1, 2, 3}) live.controller.setVariable(v, 0);  // as the case before left them
        live.connect(broker.url());
        ASSERT_TRUE(live.waitFor(10'000, [&] { return live.bridge->holding(); })) << ::testing::PrintToString(live.log);
        EXPECT_TRUE(live.logged("connected to " + broker.url() + " " + c.protocol))
            << ::testing::PrintToString(live.log);

        TestClient someone(broker.port(), "someone");
        // The bridge's subscription is in place once a command sent now reaches the
        // controller: what comes before that is lost, or replayed as retained.
        for (int tries = 0; live.controller.variable(3) != 77 && tries < 30; ++tries) {
            someone.publish("varnel/var/3/set", "77", false, 1);
            live.waitFor(500, [&] { return live.controller.variable(3) == 77; });
        }
        ASSERT_EQ(live.controller.variable(3), 77);
        const auto refusedBefore = live.bridge->counters().refused;
        someone.publish("varnel/var/2/set", "2345", true, 1);
        someone.publish("varnel/var/1/set", "1234", false, 1);  // comes after it, and always runs
        ASSERT_TRUE(live.waitFor(15'000, [&] { return live.controller.variable(1) == 1234; }));
        EXPECT_EQ(live.bridge->counters().refused, refusedBefore + (c.refused ? 1 : 0));
        EXPECT_EQ(live.controller.variable(2) == 2345, !c.refused);
        EXPECT_EQ(live.logged("a retained command is not carried out"), c.refused);
        someone.publish("varnel/var/2/set", "", true, 1);  // the broker forgets it
    }
}

// One plug-in, a bridge made again for each broker.
TEST(MqttBridgeLive, tls_failures_say_what_failed_and_mqtt_5_refuses_a_retained_command_while_connected) {
    test::LiveBridge live;
    {
        SCOPED_TRACE("TLS");
        tlsCases(live);
    }
    SCOPED_TRACE("retain");
    retainCases(live);
}

}  // namespace
}  // namespace varnel

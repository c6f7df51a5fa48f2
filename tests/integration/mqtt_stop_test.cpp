// A stopped varnel says "offline" itself, once, and ends its session as a clean client
// does, so that the broker keeps the last will for a death: by `quit` and by SIGTERM,
// over MQTT 5 and over 3.1.1.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mqtt_broker.h"
#include "mqtt_client.h"
#include "varnel_process.h"

namespace varnel {
namespace {

// The broker's lines about varnel's session ending ("Client varnel-... disconnected.").
std::vector<std::string> sessionEnds(const test::TestBroker& broker) {
    std::istringstream log(test::readFile(broker.dir() / "broker.log"));
    std::vector<std::string> out;
    for (std::string line; std::getline(log, line);)
        if (line.find("Client varnel-") != std::string::npos) out.push_back(line.substr(line.find("Client ")));
    return out;
}

// The four runs go side by side: each waits mostly for its simulated start-up.
TEST(MqttStop, a_stopped_run_says_offline_once_and_the_broker_keeps_the_will) {
    struct Run {
        const char* what;
        bool mqtt311Only, signal;
        test::TestBroker broker{test::BrokerOptions{.mqtt311Only = mqtt311Only}};
        test::TempDir dir{};
        test::TestClient ha{broker.port(), "ha"};
        std::unique_ptr<test::LiveVarnel> varnel{};
    };
    Run runs[] = {{"quit, MQTT 5", false, false},
                  {"SIGTERM, MQTT 5", false, true},
                  {"quit, MQTT 3.1.1", true, false},
                  {"SIGTERM, MQTT 3.1.1", true, true}};
    for (auto& r : runs) {
        r.ha.subscribe("varnel/status");
        r.ha.subscribe("mark");
        r.varnel = std::make_unique<test::LiveVarnel>(
            QStringList{"run", "--simulate", "--sim-baud", "1000000", "--no-demo", "--host-dir",
                        test::q(r.dir.path() / "host"), "--mqtt", QString::fromStdString(r.broker.url())});
    }
    for (auto& r : runs) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(r.varnel->waitUntil(30'000, [&] { return r.ha.latest("varnel/status") == "online"; }))
            << r.varnel->said();
        if (r.signal)
            r.varnel->terminate();
        else
            r.varnel->type("quit\n");
    }
    for (auto& r : runs) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(r.varnel->waitForExit()) << r.varnel->said();
        EXPECT_EQ(r.varnel->exitCode(), 0) << r.varnel->said();
        // A will goes out as the broker ends the session; a message sent after that
        // comes back behind it.
        ASSERT_TRUE(r.varnel->waitUntil(5000, [&] { return !sessionEnds(r.broker).empty(); }));
        r.ha.publish("mark", "1");
        ASSERT_TRUE(r.varnel->waitUntil(5000, [&] { return r.ha.latest("mark").has_value(); }));

        std::size_t offline = 0;
        for (const auto& m : r.ha.received()) offline += m.topic == "varnel/status" && m.payload == "offline";
        EXPECT_EQ(offline, 1u);
        EXPECT_EQ(r.ha.latest("varnel/status"), "offline");
        const auto ends = sessionEnds(r.broker);
        ASSERT_EQ(ends.size(), 1u) << ::testing::PrintToString(ends);
        EXPECT_TRUE(ends[0].ends_with(" disconnected.")) << ends[0];
    }
}

}  // namespace
}  // namespace varnel

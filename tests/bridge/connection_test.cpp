// The broker connection: a last will, pauses that grow between attempts, everything
// published again after a reconnect or when Home Assistant comes back.
#include <gtest/gtest.h>

#include <gmock/gmock.h>

#include <algorithm>

#include "bridge_rig.h"
#include "plugin/health.h"

namespace varnel {
namespace {

// Virtual milliseconds from now until the next connection attempt, to a tenth of a second.
int untilNextAttempt(test::BridgeRig& b, int limitMs = 120'000) {
    const int before = b.transport.attempts;
    const auto start = b.c.rig.loop.tickMs();
    while (b.transport.attempts == before && b.c.rig.loop.tickMs() - start < limitMs) b.run(100);
    return static_cast<int>((b.c.rig.loop.tickMs() - start + 50) / 100 * 100);
}

TEST(Connection, pauses_between_attempts_grow_to_a_minute_and_start_over_after_a_steady_connection) {
    test::BridgeRig b;
    b.c.start();
    b.transport.refuseNext = true;
    b.makeBridge();
    EXPECT_TRUE(b.logged("cannot connect to mqtt://broker:1883 (refused at once); trying again in 1 s"));
    std::vector<int> pauses{untilNextAttempt(b)};
    for (int i = 0; i < 8; ++i) {
        b.transport.drop("connection refused");
        pauses.push_back(untilNextAttempt(b));
    }
    // The last: an attempt the broker never answers is given up after a while.
    pauses.push_back(untilNextAttempt(b));
    EXPECT_EQ(pauses, (std::vector<int>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000, 75000}));
    EXPECT_GE(b.transport.disconnects, 1);

    b.transport.accept();
    EXPECT_TRUE(b.bridge->connected());
    b.transport.drop();  // at once: still the long pause
    EXPECT_EQ(untilNextAttempt(b), 60000);
    b.transport.accept();
    b.run(61'000);
    b.transport.drop();
    EXPECT_EQ(untilNextAttempt(b), 1000);
    EXPECT_TRUE(b.logged("lost the connection to mqtt://broker:1883 (connection reset); trying again in 1 s"));
}

TEST(Connection, a_broker_that_stays_away_is_a_line_when_it_goes_then_reminders_ever_further_apart) {
    test::BridgeRig b;
    b.c.start();
    b.makeBridge();  // the broker never answers
    b.run(3 * 60 * 60'000);
    const auto lines = [&](const std::string& start) {
        return std::count_if(b.log.begin(), b.log.end(), [&](const std::string& l) { return l.starts_with(start); });
    };
    EXPECT_GT(b.transport.attempts, 100);
    EXPECT_EQ(lines("cannot connect to mqtt://broker:1883 (no answer in 15 s)"), 1);
    // 10, 30, 70 and 150 min after it went.
    EXPECT_EQ(lines("still no connection to mqtt://broker:1883 after "), 4) << testing::PrintToString(b.log);
    EXPECT_EQ(lines("still no connection to mqtt://broker:1883 after 10 min (no answer in 15 s)"), 1);

    b.transport.accept();
    b.transport.drop();
    b.run(1000);
    EXPECT_EQ(lines("lost the connection to mqtt://broker:1883 (connection reset)"), 1);
    b.transport.drop("connection refused");
    b.run(60'000);
    EXPECT_EQ(lines("cannot connect to"), 1) << "the same outage goes on";
}

TEST(Connection, its_state_says_where_since_when_and_the_last_error) {
    test::BridgeRig b;
    b.c.start();
    b.makeBridge();
    const std::string since = R"( since [0-9][0-9]:[0-9][0-9]:[0-9][0-9] )";
    EXPECT_EQ(b.bridge->stateText(), "connecting to mqtt://broker:1883");
    b.transport.drop("connection refused");
    b.run(3000);
    EXPECT_THAT(b.bridge->stateText(), testing::MatchesRegex("not connected to mqtt://broker:1883" + since +
                                                             R"(\(3 s\): connection refused)"));
    b.run(200'000);  // attempts come and go; the outage goes on
    EXPECT_THAT(b.bridge->stateText(), testing::MatchesRegex(".*" + since + R"(\(3 min\): .+)"));
    b.transport.accept();
    b.run(1000);
    b.transport.drop("connection reset");
    b.transport.accept();
    b.run(2000);
    EXPECT_THAT(b.bridge->stateText(),
                testing::MatchesRegex("connected to mqtt://broker:1883" + since +
                                      R"(\(2 s\); last error at [0-9][0-9]:[0-9][0-9]:[0-9][0-9]: connection reset)"));
}

TEST(Connection, a_broker_that_lost_everything_gets_it_all_again_and_home_assistant_coming_back_too) {
    test::BridgeRig b;
    b.start();
    const auto before = b.transport.retained;
    ASSERT_GT(before.size(), 50u);
    b.transport.retained.clear();  // a broker restarted without persistence
    b.transport.drop();
    b.run(1000);
    b.transport.accept();
    b.run(1000);  // the base found free and claimed again
    EXPECT_EQ(b.transport.retained, before);
    const std::vector<std::string> each{"varnel/status", "varnel/bridge/installation", "varnel/#",
                                        "homeassistant/status", "homeassistant/+/+/config"};
    std::vector<std::string> twice = each;
    twice.insert(twice.end(), each.begin(), each.end());
    EXPECT_EQ(b.transport.subscriptions, twice);

    const std::string config = "homeassistant/switch/varnel_unit3_point0/config";
    const std::size_t configs = b.transport.count(config);
    const std::size_t states = b.transport.count("varnel/unit/3/output/1/state");
    const std::size_t available = b.transport.count("varnel/controller/availability");
    b.transport.send("homeassistant/status", "offline");
    b.transport.send("homeassistant/status", "online");
    b.run(500);
    EXPECT_EQ(b.transport.count(config), configs) << "after a moment";
    b.run(600);
    EXPECT_EQ(b.transport.count(config), configs + 1);
    EXPECT_EQ(b.transport.count("varnel/unit/3/output/1/state"), states + 1);
    EXPECT_EQ(b.transport.count("varnel/controller/availability"), available + 1);

    const int disconnects = b.transport.disconnects;
    b.bridge.reset();  // a clean end says offline before it disconnects
    EXPECT_EQ(b.transport.retained.at("varnel/status"), "offline");
    EXPECT_EQ(b.transport.disconnects, disconnects + 1);
    b.c.rig.controller.changeInput(1, 1, true);  // the host has its own event handler back
    b.run(300);
}

// Configs an earlier run left for devices deleted since are removed while looking for
// them; what is ours now, and what belongs to other programs, stays; later, none is looked at.
TEST(Connection, retained_configs_left_by_an_earlier_run_are_removed_while_looking_for_them) {
    test::BridgeRig b;
    b.start();
    auto config = [](const std::string& base, const std::string& id) {
        return nlohmann::json{{"~", base}, {"unique_id", id}, {"name", "x"}, {"state_topic", "~/var/99/state"}}.dump();
    };
    b.transport.send("homeassistant/number/other_var98/config", config("other", "other_var98"), true);
    EXPECT_EQ(b.transport.count("homeassistant/number/other_var98/config"), 0u);
    b.run(6000);
    EXPECT_EQ(b.transport.unsubscribed, std::vector<std::string>{"homeassistant/+/+/config"});
    b.transport.send("homeassistant/number/varnel_var97/config", config("varnel", "varnel_var97"), true);
    EXPECT_EQ(b.transport.count("homeassistant/number/varnel_var97/config"), 0u);
}

// The bridge starts with the run, before the start-up looks for the controller.
TEST(Connection, until_the_controller_is_found_the_bridge_is_online_the_controller_unavailable_and_commands_refused) {
    test::BridgeRig b;
    b.addX10Device("A", "1", "Lamp");  // kept in the host directory by an earlier run
    b.makeBridge();
    b.transport.accept();
    b.run(2000);
    EXPECT_EQ(b.transport.retained.at("varnel/status"), "online");
    EXPECT_EQ(b.transport.retained.at("varnel/controller/availability"), "offline");
    EXPECT_EQ(b.transport.retained.at("varnel/controller/link"), "OFF");
    const std::string lampConfig = "homeassistant/light/varnel_x10_a1/config";
    EXPECT_TRUE(b.kept("homeassistant/binary_sensor/varnel_link/config"));
    EXPECT_FALSE(b.kept(lampConfig)) << "host devices wait for the start-up";
    EXPECT_EQ(b.transport.subscriptions, (std::vector<std::string>{"varnel/status", "varnel/bridge/installation",
                                                                   "varnel/#", "homeassistant/status"}));
    EXPECT_EQ(b.transport.asPublished, std::vector<std::string>{"varnel/#"});

    // The earlier run's configs are not taken for leftovers meanwhile.
    b.transport.retained[lampConfig] = "earlier";
    b.transport.send(lampConfig, nlohmann::json{{"~", "varnel"}, {"unique_id", "varnel_x10_a1"}}.dump(), true);
    EXPECT_EQ(b.transport.retained[lampConfig], "earlier");

    for (const auto& [topic, payload] : {std::pair{"x10/send", "A1 on"}, std::pair{"x10/A1/set", "{\"state\":\"ON\"}"},
                                         std::pair{"var/1/set", "5"}, std::pair{"ir/play", "TV Power"}}) {
        const auto refused = b.refused();
        b.send(topic, payload);
        b.run(100);
        EXPECT_EQ(b.refused(), refused + 1) << topic;
        EXPECT_TRUE(b.logged(std::string("refused a message on \"varnel/") + topic +
                             "\": the controller is not found yet (its start-up runs); nothing was done"))
            << testing::PrintToString(b.log);
    }
    EXPECT_EQ(b.bridge->counters().executed, 0u);
    EXPECT_EQ(b.bridge->waiting(), 0u);

    // The start-up, as the run brackets it, finds the controller.
    startupBegins(b.c.rig.ctx());
    b.c.start();
    startupEnds(b.c.rig.ctx());
    b.bridge->scan();
    EXPECT_EQ(b.transport.retained.at("varnel/controller/availability"), "online");
    EXPECT_EQ(b.transport.retained.at("varnel/controller/link"), "ON");
    EXPECT_NE(b.transport.retained[lampConfig], "earlier");
    EXPECT_EQ(b.transport.subscriptions.back(), "homeassistant/+/+/config");
    b.send("x10/send", "A1 on");
    b.run(2000);
    EXPECT_EQ(b.bridge->counters().executed, 1u) << testing::PrintToString(b.log);

    // A reconnect's start-up refuses them too, in its own words.
    b.c.rig.ctx().health.startupRunning = true;
    b.send("var/1/set", "6");
    b.c.rig.ctx().health.startupRunning = false;
    EXPECT_TRUE(b.logged("\"varnel/var/1/set\": the controller link is starting again; nothing was done"));
}

}  // namespace
}  // namespace varnel

// Whatever comes from the broker: refused with a reason, counted, logged without
// flooding the log, and nothing of it reaches the controller.
#include <gtest/gtest.h>

#include "bridge_rig.h"

namespace varnel {
namespace {

TEST(HostileMessages, are_refused_counted_and_never_reach_the_line) {
    bridge::BridgeOptions o;
    o.logLines = 100;  // every reason shows
    test::BridgeRig b(o);
    std::vector<std::string> labels(33);
    labels[0] = "TV";
    labels[32] = "Power";
    b.c.configFile("irlbl.cfg", labels);
    b.start();
    b.addLeopard();
    const std::size_t framesBefore = b.c.rig.controller.frames().size();
    const std::string big(1024 * 1024, 'x');
    const std::tuple<std::string, std::string, bool, const char*> cases[] = {
        // retained, why
        {"varnel/nothing/here", "1", false, "no such command topic"},
        {"varnel/var/128/set", "1", false, "no such command topic"},
        {"varnel/var/5/set", "1", false, "no such command topic"},            // not mirrored
        {"varnel/unit/1/input/3/set", "ON", false, "no such command topic"},  // an input
        {"varnel/var/1/set", "65536", false, "whole number 0 to 65535"},
        {"varnel/var/1/set", "-1", false, "whole number 0 to 65535"},
        {"varnel/var/1/set", "1.5", false, "whole number 0 to 65535"},
        {"varnel/var/1/set", "nan", false, "whole number 0 to 65535"},
        {"varnel/var/1/set", "", false, "whole number 0 to 65535"},
        {"varnel/var/1/set", big, false, "1048576 bytes"},
        {"varnel/var/1/set", "7", true, "retained command"},
        {"varnel/unit/1/output/1/set", "TOGGLE", false, "ON or OFF"},
        {"varnel/ir/0/play", "press", false, "PRESS"},
        {"varnel/x10/send", "Q1 on", false, "house"},
        {"varnel/x10/send", "A1 on\nx10 A2 on", false, "control character"},
        {"varnel/ir/play", "--zone", false, "ir:"},
        {"varnel/screen/set", std::string(300, 'a'), false, "at most 255"},
        {"varnel/screen/set", "bell\a", false, "control character"},
        {"varnel/screen/write", "{\"text\":", false, "JSON object"},
        {"varnel/screen/write", R"({"text":"x","font":2})", false, "font must be"},
        {"varnel/screen/write", R"({"text":"x","clear":"yes"})", false, "clear must be"},
        {"varnel/screen/write", R"(["text"])", false, "JSON object"},
    };
    std::uint64_t refused = 0;
    for (const auto& [topic, payload, retained, why] : cases) {
        b.log.clear();
        b.transport.send(topic, payload, retained);
        EXPECT_EQ(b.refused(), ++refused) << topic;
        ASSERT_EQ(b.log.size(), 1u) << topic;
        EXPECT_NE(b.log[0].find(why), std::string::npos) << b.log[0];
        EXPECT_LT(b.log[0].size(), 400u);
    }
    b.run(1000);
    EXPECT_EQ(b.bridge->waiting(), 0u);
    EXPECT_EQ(b.bridge->counters().executed, 0u);
    for (std::size_t i = framesBefore; i < b.c.rig.controller.frames().size(); ++i)
        EXPECT_EQ(b.c.rig.controller.frames()[i].kind, sim::FrameKind::BlockRead);  // only the polls went out
    EXPECT_EQ(b.state("bridge/refused"), std::to_string(refused));
}

TEST(HostileMessages, light_commands_that_make_no_sense_are_refused) {
    test::BridgeRig b;
    b.c.start();
    b.addX10Device("C", "2", "Lamp");
    b.start(false);
    for (const char* payload : {"ON", "{", "{}", R"({"state":"on"})", R"({"state":1})", R"({"brightness":256})",
                                R"({"brightness":-1})", R"({"brightness":12.5})", R"({"brightness":"50"})", "[1,2]",
                                "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]"}) {
        const auto before = b.refused();
        b.send("x10/C2/set", payload);
        EXPECT_EQ(b.refused(), before + 1) << payload;
    }
    b.run(500);
    EXPECT_TRUE(b.c.rig.controller.x10Sent().empty());
}

TEST(HostileMessages, a_flood_is_logged_ten_times_a_minute_then_summed_up) {
    test::BridgeRig b;
    b.start();
    b.log.clear();
    for (int i = 0; i < 500; ++i) b.send("flood/" + std::to_string(i), "x");
    EXPECT_EQ(b.bridge->counters().refused, 500u);
    EXPECT_EQ(b.log.size(), 10u);
    b.run(61'000);
    ASSERT_EQ(b.log.size(), 11u);
    EXPECT_EQ(b.log.back(), "490 more like these in 60 s were not logged");
    EXPECT_EQ(b.state("bridge/refused"), "500");
}

TEST(HostileMessages, the_bridges_own_messages_and_replays_are_not_refused) {
    test::BridgeRig b;
    b.start();
    b.send("var/1/state", "5");
    b.send("status", "online");
    b.transport.send("varnel/var/42/state", "1", true);  // left from another time
    b.transport.send("homeassistant/status", "online", true);
    EXPECT_EQ(b.bridge->counters().refused, 0u);
}

}  // namespace
}  // namespace varnel

// MQTT commands do what the console's commands do: the frames on the line, the
// states that come back, the order kept when many come at once.
#include <gtest/gtest.h>

#include "bridge_rig.h"

namespace varnel {
namespace {

using test::x10Address;
using test::x10Function;

using sim::FrameKind;
using X = sim::X10Transmission;
using Bytes = std::vector<std::uint8_t>;

struct Commands : ::testing::Test {
    test::BridgeRig b;
    void SetUp() override { b.start(); }
    std::vector<sim::ReceivedFrame> pointWrites() { return b.sim().framesOf(FrameKind::Command, 0x33); }
};

TEST_F(Commands, switches_and_variables_are_written_and_their_states_come_back) {
    const std::tuple<const char*, const char*, int, int, int> cases[] = {
        {"unit/1/output/1", "ON", 1, 0, 1},
        {"unit/3/output/2", "OFF", 3, 1, 0},
    };
    for (const auto& [target, payload, module, point, value] : cases) {
        const std::size_t before = pointWrites().size();
        b.send(std::string(target) + "/set", payload);
        b.run(100);
        const auto writes = pointWrites();
        ASSERT_EQ(writes.size(), before + 1) << target;
        EXPECT_EQ(Bytes(writes.back().bytes.begin() + 2, writes.back().bytes.begin() + 5),
                  (Bytes{std::uint8_t(module), std::uint8_t(point), std::uint8_t(value)}));
        EXPECT_EQ(b.state(std::string(target) + "/state"), payload);
    }
    EXPECT_EQ(b.bridge->counters().executed, 2u);
    b.send("var/2/set", "1234");
    b.run(1500);
    EXPECT_EQ(b.sim().variable(2), 1234);
    EXPECT_EQ(b.state("var/2/state"), "1234");
    b.send("var/2/set", "65535.0");  // how a number entity may send it
    b.run(1500);
    EXPECT_EQ(b.sim().variable(2), 65535);
}

TEST_F(Commands, text_topics_take_what_the_console_takes) {
    b.send("x10/send", "A1+A3 on");
    b.send("ir/play", "7");
    b.run(500);
    EXPECT_EQ(b.x10Since(0), (std::vector<X>{x10Address(0, 1), x10Address(0, 3), x10Function(0, 0x12, 1)}));
    ASSERT_EQ(b.sim().irPlays().size(), 1u);
    EXPECT_EQ(b.sim().irPlays().back().location, 7);

    // A notification's lines go on the screen's rows; more lines than the screen has are refused.
    b.addLeopard();
    b.send("screen/set", "Hello");
    b.send("screen/write", R"({"text":"World","x":3,"y":1,"beep":true})");
    b.send("screen/set", "Front door\r\n\nopen\n");
    std::string tooMany;
    for (int i = 0; i < 17; ++i) tooMany += "line\n";
    b.send("screen/set", tooMany + "last");
    b.send("screen/set", "ok\nbell\a");
    b.send("screen/set", std::string(45, 'x'));
    b.run(1000);
    EXPECT_EQ(b.screen(),
              "Hello@0,0+clear World@3,1+beep Front door@0,0+clear open@0,2 " + std::string(40, 'x') + "@0,0+clear");
    for (const char* why :
         {"18 lines, the screen shows 16", "line 2 holds a control character", "only the first 40 of 45 characters"})
        EXPECT_TRUE(b.logged(why)) << why << ::testing::PrintToString(b.log);
}

// A write the controller never acknowledged: the state shows what it was before, and
// the failure is counted.
TEST_F(Commands, a_value_the_controller_never_took_goes_back) {
    ASSERT_EQ(b.state("unit/1/output/1/state"), "OFF");
    b.sim().faults().silent = true;
    b.send("unit/1/output/1/set", "ON");
    b.run(100);
    for (int i = 0; i < 100 && b.bridge->counters().dropped == 0; ++i) b.run(100);
    EXPECT_EQ(b.bridge->counters().dropped, 1u);
    EXPECT_EQ(b.state("unit/1/output/1/state"), "OFF");
    EXPECT_EQ(b.c.rig.host->DeviceStatus(b.code("Relay Output 1", "Secu16 Unit 1")), kStatusOff);
    EXPECT_TRUE(b.logged("no answer from the controller")) << ::testing::PrintToString(b.log);
    b.sim().faults().silent = false;
    b.run(3000);
    EXPECT_EQ(b.state("unit/1/output/1/state"), "OFF");
    EXPECT_EQ(b.state("bridge/dropped"), "1");
}

// A host X10 device as a light: on, off and brightness as X10 on, off, dim and bright.
TEST(CommandsX10Light, brightness_goes_out_as_dims_from_where_the_lamp_is) {
    test::BridgeRig b;
    b.c.start();
    b.addX10Device("B", "5", "Lamp", "Hall");
    b.start(false);
    const X b5 = x10Address(1, 5);
    const std::tuple<const char*, std::vector<X>, const char*> steps[] = {
        {R"({"state":"ON"})", {b5, x10Function(1, 0x12, 1)}, R"({"brightness":255,"state":"ON"})"},
        // 255 -> 128: 50 % down, 11 steps of 22.
        {R"({"state":"ON","brightness":128})", {b5, x10Function(1, 0x14, 11)}, R"({"brightness":128,"state":"ON"})"},
        {R"({"brightness":255})", {b5, x10Function(1, 0x15, 11)}, R"({"brightness":255,"state":"ON"})"},
        {R"({"state":"OFF"})", {b5, x10Function(1, 0x13, 1)}, R"({"brightness":255,"state":"OFF"})"},
        // From off: on (full), then down to the brightness asked for.
        {R"({"state":"ON","brightness":51})",
         {b5, x10Function(1, 0x12, 1), b5, x10Function(1, 0x14, 18)},
         R"({"brightness":51,"state":"ON"})"},
        {R"({"state":"ON","brightness":0})", {b5, x10Function(1, 0x13, 1)}, R"({"brightness":51,"state":"OFF"})"},
    };
    for (const auto& [payload, sent, state] : steps) {
        const std::size_t before = b.sim().x10Sent().size();
        b.send("x10/B5/set", payload);
        b.run(1000);
        EXPECT_EQ(b.x10Since(before), sent) << payload;
        EXPECT_EQ(b.state("x10/B5/state"), state) << payload;
    }

    // Heard on the power line: B5 off, then B5 on; all lights of house C stay as they are.
    b.sim().emitX10Received(1, 4);
    b.sim().emitX10Received(1, 19);
    b.run(500);
    EXPECT_EQ(b.state("x10/B5/state"), R"({"brightness":51,"state":"OFF"})");
    const auto event = nlohmann::json::parse(b.state("x10/event").value_or("{}"));
    EXPECT_EQ(event["event_type"], "off");
    EXPECT_EQ(event["units"], "B5");
    b.sim().emitX10Received(1, 17);  // all lights on, house B
    b.run(500);
    EXPECT_EQ(b.state("x10/B5/state"), R"({"brightness":51,"state":"ON"})");
}

// What x10/send switched the lights' states show, reckoned as their own topics reckon.
TEST(CommandsX10Light, a_send_updates_the_lights_it_switched) {
    test::BridgeRig b;
    b.c.start();
    for (const char* unit : {"1", "3", "5"}) b.addX10Device("A", unit, std::string("Lamp ") + unit);
    b.addX10Device("B", "1", "Lamp");
    b.start(false);
    const std::string on = R"({"brightness":255,"state":"ON"})";
    const std::string off = R"({"brightness":255,"state":"OFF"})";
    const std::string a3 = R"({"brightness":178,"state":"ON"})";
    const std::string a5 = R"({"brightness":82,"state":"ON"})";
    const std::tuple<const char*, std::optional<std::string>, std::optional<std::string>, std::optional<std::string>>
        steps[] = {
            {"A1+A3 on", on, on, std::nullopt},
            {"A3 dim 50", on, R"({"brightness":127,"state":"ON"})", std::nullopt},
            {"A1+A3 bright 20", on, a3, std::nullopt},
            {"A1 off", off, a3, std::nullopt},
            {"A5 preset 10", off, a3, a5},
            {"A on", off, a3, a5},  // no unit named
            {"A all-units-off", off, R"({"brightness":178,"state":"OFF"})", R"({"brightness":82,"state":"OFF"})"},
        };
    for (const auto& [payload, s1, s3, s5] : steps) {
        b.send("x10/send", payload);
        b.run(1000);
        EXPECT_EQ(b.state("x10/A1/state"), s1) << payload;
        EXPECT_EQ(b.state("x10/A3/state"), s3) << payload;
        EXPECT_EQ(b.state("x10/A5/state"), s5) << payload;
    }
    EXPECT_EQ(b.state("x10/B1/state"), std::nullopt);
    EXPECT_EQ(b.bridge->counters().executed, std::size(steps));
}

TEST_F(Commands, many_commands_at_once_all_run_in_the_order_they_came) {
    const std::size_t before = pointWrites().size();
    std::vector<std::pair<int, int>> sent, written;  // (point on the line, value)
    for (int i = 0; i < 40; ++i) {
        sent.emplace_back(i % 8, (i / 8) % 2 == 0 ? 1 : 0);
        b.send("unit/1/output/" + std::to_string(1 + i % 8) + "/set", sent.back().second ? "ON" : "OFF");
    }
    b.run(3000);
    const auto writes = pointWrites();
    for (std::size_t i = before; i < writes.size(); ++i) written.emplace_back(writes[i].bytes[3], writes[i].bytes[4]);
    EXPECT_EQ(written, sent);
    EXPECT_EQ(b.bridge->counters().dropped + b.bridge->waiting(), 0u);

    b.c.rig.ctx().link.commStarted = false;
    b.send("unit/1/output/1/set", "ON");
    b.run(100);
    EXPECT_EQ(b.bridge->counters().dropped, 1u);
    EXPECT_TRUE(b.logged("the controller link is not started")) << ::testing::PrintToString(b.log);
}

// Actions are never merged, so past the bridge's queue they are dropped; a value set
// merges into its waiting command only while no action waits behind it.
TEST(CommandsFlood, past_the_bridge_queue_commands_are_dropped_logged_and_counted) {
    bridge::BridgeOptions o;
    o.maxWaiting = 100;
    test::BridgeRig b(o);
    b.start();
    b.c.rig.ctx().gate.busy = 1;
    b.send("var/3/set", "1");
    b.send("var/3/set", "2");
    EXPECT_EQ(b.bridge->waiting(), 1u);
    for (int i = 0; i < 150; ++i) b.send("ir/play", "7");
    b.send("var/3/set", "3");
    EXPECT_EQ(b.bridge->waiting(), 100u);
    EXPECT_EQ(b.bridge->counters().dropped, 52u);
    b.c.rig.ctx().gate.busy = 0;
    b.run(5000);
    EXPECT_EQ(b.sim().irPlays().size(), 99u);
    EXPECT_EQ(b.sim().variable(3), 2);
    EXPECT_EQ(b.state("bridge/dropped"), "52");
    EXPECT_TRUE(b.logged("100 commands are waiting already"));
    EXPECT_LE(b.log.size(), 20u);
}

}  // namespace
}  // namespace varnel

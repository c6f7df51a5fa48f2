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

struct Commands : ::testing::Test {
    test::BridgeRig b;
    sim::Controller& sim() { return b.c.rig.controller; }
    void SetUp() override { b.start(); }
    std::vector<sim::ReceivedFrame> pointWrites() { return sim().framesOf(FrameKind::Command, 0x33); }
};

TEST_F(Commands, switch_command_writes_the_point_and_its_state_comes_back) {
    const std::size_t before = pointWrites().size();
    b.send("unit/1/output/1/set", "ON");
    b.run(100);
    auto writes = pointWrites();
    ASSERT_EQ(writes.size(), before + 1);
    EXPECT_EQ(writes.back().bytes[2], 1);  // module
    EXPECT_EQ(writes.back().bytes[4], 1);  // value
    EXPECT_EQ(b.state("unit/1/output/1/state"), "ON");

    b.send("unit/3/output/2/set", "OFF");
    b.run(100);
    writes = pointWrites();
    ASSERT_EQ(writes.size(), before + 2);
    EXPECT_EQ(writes.back().bytes[2], 3);
    EXPECT_EQ(writes.back().bytes[4], 0);
    EXPECT_EQ(b.state("unit/3/output/2/state"), "OFF");
    EXPECT_EQ(b.bridge->counters().executed, 2u);
}

TEST_F(Commands, variable_command_writes_the_variable_and_the_poll_brings_the_value_back) {
    b.send("var/2/set", "1234");
    b.run(1500);
    EXPECT_EQ(sim().variable(2), 1234);
    EXPECT_EQ(b.state("var/2/state"), "1234");
    b.send("var/2/set", "65535.0");  // how a number entity may send it
    b.run(1500);
    EXPECT_EQ(sim().variable(2), 65535);
}

TEST_F(Commands, text_topics_take_what_the_console_takes) {
    const std::size_t x10Before = sim().x10Sent().size();
    b.send("x10/send", "A1+A3 on");
    b.run(500);
    const auto& sent = sim().x10Sent();
    EXPECT_EQ(std::vector<X>(sent.begin() + static_cast<std::ptrdiff_t>(x10Before), sent.end()),
              (std::vector<X>{x10Address(0, 1), x10Address(0, 3), x10Function(0, 0x12, 1)}));

    b.send("ir/play", "7");
    b.run(500);
    ASSERT_FALSE(sim().irPlays().empty());
    EXPECT_EQ(sim().irPlays().back().location, 7);

    b.addLeopard();
    b.send("screen/set", "Hello");
    b.send("screen/write", R"({"text":"World","x":3,"y":1,"beep":true})");
    b.run(1000);
    const auto& writes = sim().screenWrites();
    ASSERT_GE(writes.size(), 2u);
    const auto& hello = writes[writes.size() - 2];
    const auto& world = writes.back();
    EXPECT_EQ(hello.text, "Hello");
    EXPECT_TRUE(hello.clear());
    EXPECT_EQ(world.text, "World");
    EXPECT_EQ(world.x, 3);
    EXPECT_EQ(world.y, 1);
    EXPECT_TRUE(world.beep());
    EXPECT_FALSE(world.clear());
}

// A notification's lines go on the screen's rows; more lines than the screen has are refused.
TEST_F(Commands, a_notification_with_line_breaks_writes_one_row_a_line) {
    b.addLeopard();
    const std::size_t before = sim().screenWrites().size();
    b.send("screen/set", "Front door\r\n\nopen\n");
    b.run(1000);
    const auto& writes = sim().screenWrites();
    ASSERT_EQ(writes.size(), before + 2);
    EXPECT_EQ(writes[before].text, "Front door");
    EXPECT_EQ(writes[before].y, 0);
    EXPECT_TRUE(writes[before].clear());
    EXPECT_EQ(writes[before + 1].text, "open");
    EXPECT_EQ(writes[before + 1].y, 2);
    EXPECT_FALSE(writes[before + 1].clear());

    std::string tooMany;
    for (int i = 0; i < 17; ++i) tooMany += "line\n";
    tooMany += "last";
    b.send("screen/set", tooMany);
    b.send("screen/set", "ok\nbell\a");
    b.run(1000);
    EXPECT_EQ(sim().screenWrites().size(), before + 2);
    EXPECT_TRUE(b.logged("18 lines, the screen shows 16")) << ::testing::PrintToString(b.log);
    EXPECT_TRUE(b.logged("line 2 holds a control character")) << ::testing::PrintToString(b.log);

    b.send("screen/set", std::string(45, 'x'));
    b.run(1000);
    EXPECT_TRUE(b.logged("only the first 40 of 45 characters")) << ::testing::PrintToString(b.log);
}

// A write the controller never acknowledged: the state shows what it was before, and
// the failure is counted.
TEST_F(Commands, a_value_the_controller_never_took_goes_back) {
    ASSERT_EQ(b.state("unit/1/output/1/state"), "OFF");
    const auto dropped = b.bridge->counters().dropped;
    sim().faults().silent = true;
    b.send("unit/1/output/1/set", "ON");
    b.run(100);
    for (int i = 0; i < 100 && b.bridge->counters().dropped == dropped; ++i) b.run(100);
    EXPECT_EQ(b.bridge->counters().dropped, dropped + 1);
    EXPECT_EQ(b.state("unit/1/output/1/state"), "OFF");
    EXPECT_EQ(b.c.rig.host->DeviceStatus(b.code("Relay Output 1", "Secu16 Unit 1")), kStatusOff);
    EXPECT_TRUE(b.logged("no answer from the controller")) << ::testing::PrintToString(b.log);
    sim().faults().silent = false;
    b.run(3000);
    EXPECT_EQ(b.state("unit/1/output/1/state"), "OFF");
    EXPECT_EQ(b.state("bridge/dropped"), std::to_string(dropped + 1));
}

// A host X10 device as a light: on, off and brightness as X10 on, off, dim and bright.
TEST(CommandsX10Light, brightness_goes_out_as_dims_from_where_the_lamp_is) {
    test::BridgeRig b;
    b.c.start();
    b.addX10Device("B", "5", "Lamp", "Hall");
    b.start(false);

    struct Step {
        const char* payload;
        std::vector<X> sent;
        const char* state;
    };
    const Step steps[] = {
        {R"({"state":"ON"})", {x10Address(1, 5), x10Function(1, 0x12, 1)}, R"({"brightness":255,"state":"ON"})"},
        // 255 -> 128: 50 % down, 11 steps of 22.
        {R"({"state":"ON","brightness":128})",
         {x10Address(1, 5), x10Function(1, 0x14, 11)},
         R"({"brightness":128,"state":"ON"})"},
        {R"({"brightness":255})", {x10Address(1, 5), x10Function(1, 0x15, 11)}, R"({"brightness":255,"state":"ON"})"},
        {R"({"state":"ON"})", {x10Address(1, 5), x10Function(1, 0x12, 1)}, R"({"brightness":255,"state":"ON"})"},
        {R"({"state":"OFF"})", {x10Address(1, 5), x10Function(1, 0x13, 1)}, R"({"brightness":255,"state":"OFF"})"},
        // From off: on (full), then down to the brightness asked for.
        {R"({"state":"ON","brightness":51})",
         {x10Address(1, 5), x10Function(1, 0x12, 1), x10Address(1, 5), x10Function(1, 0x14, 18)},
         R"({"brightness":51,"state":"ON"})"},
        {R"({"state":"ON","brightness":0})",
         {x10Address(1, 5), x10Function(1, 0x13, 1)},
         R"({"brightness":51,"state":"OFF"})"},
    };
    for (const auto& s : steps) {
        const std::size_t before = b.c.rig.controller.x10Sent().size();
        b.send("x10/B5/set", s.payload);
        b.run(1000);
        const auto& sent = b.c.rig.controller.x10Sent();
        EXPECT_EQ(std::vector<X>(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()), s.sent) << s.payload;
        EXPECT_EQ(b.state("x10/B5/state"), s.state) << s.payload;
    }

    // Heard on the power line: B5 off, then B5 on; all lights of house C stay as they are.
    b.c.rig.controller.emitX10Received(1, 4);
    b.c.rig.controller.emitX10Received(1, 19);
    b.run(500);
    EXPECT_EQ(b.state("x10/B5/state"), R"({"brightness":51,"state":"OFF"})");
    const auto event = nlohmann::json::parse(b.state("x10/event").value_or("{}"));
    EXPECT_EQ(event["event_type"], "off");
    EXPECT_EQ(event["units"], "B5");
    b.c.rig.controller.emitX10Received(1, 17);  // all lights on, house B
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
    struct Step {
        const char* payload;
        std::optional<std::string> a1, a3, a5;
    };
    const Step steps[] = {
        {"A1+A3 on", on, on, std::nullopt},
        {"A3 dim 50", on, R"({"brightness":127,"state":"ON"})", std::nullopt},
        {"A1+A3 bright 20", on, R"({"brightness":178,"state":"ON"})", std::nullopt},
        {"A1 off", off, R"({"brightness":178,"state":"ON"})", std::nullopt},
        {"A5 preset 10", off, R"({"brightness":178,"state":"ON"})", R"({"brightness":82,"state":"ON"})"},
        {"A on", off, R"({"brightness":178,"state":"ON"})", R"({"brightness":82,"state":"ON"})"},  // no unit named
        {"A all-units-off", off, R"({"brightness":178,"state":"OFF"})", R"({"brightness":82,"state":"OFF"})"},
    };
    for (const auto& s : steps) {
        b.send("x10/send", s.payload);
        b.run(1000);
        EXPECT_EQ(b.state("x10/A1/state"), s.a1) << s.payload;
        EXPECT_EQ(b.state("x10/A3/state"), s.a3) << s.payload;
        EXPECT_EQ(b.state("x10/A5/state"), s.a5) << s.payload;
    }
    EXPECT_EQ(b.state("x10/B1/state"), std::nullopt);
    EXPECT_EQ(b.bridge->counters().executed, std::size(steps));
}

TEST_F(Commands, many_commands_at_once_all_run_in_the_order_they_came) {
    const std::size_t before = pointWrites().size();
    constexpr int kCommands = 200;
    for (int i = 0; i < kCommands; ++i)
        b.send("unit/1/output/" + std::to_string(1 + i % 8) + "/set", (i / 8) % 2 == 0 ? "ON" : "OFF");
    b.run(10'000);
    const auto writes = pointWrites();
    ASSERT_EQ(writes.size(), before + kCommands);
    for (int i = 0; i < kCommands; ++i) {
        const auto& w = writes[before + static_cast<std::size_t>(i)].bytes;
        EXPECT_EQ(w[3], i % 8) << i;  // the outputs count from 0
        EXPECT_EQ(w[4], (i / 8) % 2 == 0 ? 1 : 0) << i;
    }
    EXPECT_EQ(b.bridge->counters().dropped, 0u);
    EXPECT_EQ(b.bridge->waiting(), 0u);
}

TEST_F(Commands, commands_wait_while_the_plugin_talks_to_the_controller) {
    const std::size_t before = pointWrites().size();
    b.c.rig.ctx().gate.busy = 1;  // a host call waits for its reply
    b.send("unit/1/output/2/set", "ON");
    b.run(200);
    EXPECT_EQ(pointWrites().size(), before);
    EXPECT_EQ(b.bridge->waiting(), 1u);
    b.c.rig.ctx().gate.busy = 0;
    b.run(200);
    EXPECT_EQ(pointWrites().size(), before + 1);
    EXPECT_EQ(b.bridge->waiting(), 0u);
}

// Actions are never merged, so past the bridge's queue they are dropped; a value set
// merges into its waiting command only while no action waits behind it.
TEST(CommandsFlood, past_the_bridge_queue_commands_are_dropped_logged_and_counted) {
    bridge::BridgeOptions o;
    o.maxWaiting = 100;
    test::BridgeRig b(o);
    b.start();
    const std::size_t before = b.c.rig.controller.irPlays().size();
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
    EXPECT_EQ(b.c.rig.controller.irPlays().size(), before + 99);
    EXPECT_EQ(b.c.rig.controller.variable(3), 2);
    EXPECT_EQ(b.state("bridge/dropped"), "52");
    EXPECT_TRUE(b.logged("100 commands are waiting already"));
    EXPECT_LE(b.log.size(), 20u);
}

TEST_F(Commands, a_command_the_plugin_refuses_is_dropped_and_said) {
    b.c.rig.ctx().link.commStarted = false;
    b.send("unit/1/output/1/set", "ON");
    b.run(100);
    EXPECT_EQ(b.bridge->counters().dropped, 1u);
    EXPECT_TRUE(b.logged("the controller link is not started")) << ::testing::PrintToString(b.log);
}

}  // namespace
}  // namespace varnel

// The demo: scripted and random changes, deterministic on virtual time.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "sim/demo.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

DemoScript parsed(std::string_view text) {
    auto r = parseDemoScript(text);
    if (auto* err = std::get_if<std::string>(&r)) ADD_FAILURE() << *err;
    return std::get<DemoScript>(r);
}

TEST(DemoScriptText, parses_every_action_and_sorts_by_time) {
    const auto s = parsed(
        "# a comment\n"
        "2000 input 1 4 1\n"
        "0 var 3 120   # trailing comment\r\n"
        "\n"
        "2500 x10 C 18\n"
        "2500 x10 2 19\n"
        "3000 ir 5\n"
        "3500 touch 12\n"
        "repeat 5000\n");
    using A = DemoStep::Action;
    std::vector<std::tuple<std::int64_t, A, int, int, int>> steps;
    for (const auto& st : s.steps) steps.emplace_back(st.atMs, st.action, st.a, st.b, st.c);
    EXPECT_EQ(steps, (decltype(steps){{0, A::Variable, 3, 120, 0},
                                      {2000, A::Input, 1, 4, 1},
                                      {2500, A::X10, 2, 18, 0},  // house letter C is index 2
                                      {2500, A::X10, 2, 19, 0},
                                      {3000, A::IrMatch, 5, 0, 0},
                                      {3500, A::Touch, 12, 0, 0}}));
    EXPECT_EQ(s.repeatMs, 5000);
}

TEST(DemoScriptText, bad_lines_are_named) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"abc var 1 2", "line 1: bad time"},
        {"0 var 1 2\n-5 var 1 2", "line 2: bad time"},
        {"0 jump 1", "unknown action"},
        {"0 var 1", "takes 2 values"},
        {"0 var 128 1", "out of range"},
        {"0 var 1 65536", "out of range"},
        {"0 input 1 16 1", "out of range"},
        {"0 x10 Q 1", "out of range"},
        {"0 ir 256", "out of range"},
        {"0 var 1 2x", "out of range"},
        {"99999999999999999999 var 1 2", "bad time"},
        {"repeat 0", "repeat takes"},
        {"0 var 1 2\n6000 var 1 3\nrepeat 5000", "never runs"},
        {"5", "missing action"},
    };
    for (const auto& [text, expected] : cases) {
        const auto r = parseDemoScript(text);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << text;
        EXPECT_NE(std::get<std::string>(r).find(expected), std::string::npos)
            << text << " -> " << std::get<std::string>(r);
    }
}

TEST(DemoRun, script_steps_happen_at_their_times_and_repeat) {
    Tap t;
    Demo demo(t.sim);
    std::vector<std::string> said;
    demo.onStep = [&](const std::string& s) { said.push_back(s); };
    demo.runScript(parsed("100 var 3 7\n200 input 1 0 1\n300 input 1 0 0\nrepeat 1000"));
    auto& clock = t.sim.manualClock();
    clock.advanceUs(99'999);
    EXPECT_EQ(t.sim.variable(3), 0);
    clock.advanceUs(1);
    EXPECT_EQ(t.sim.variable(3), 7);
    clock.advanceUs(100'000);
    EXPECT_EQ(toHex(t.take()), "F0 01 00 01");
    clock.advanceUs(100'000);
    EXPECT_EQ(toHex(t.take()), "F0 01 00 00");
    t.sim.setVariable(3, 0);
    clock.advanceUs(800'000);
    EXPECT_EQ(t.sim.variable(3), 7) << "second round at 1100 ms";
    EXPECT_EQ(demo.stepsRun(), 4u);
    EXPECT_EQ(said.front(), "variable 3 = 7") << "steps are told in words";
    demo.stop();
    clock.advanceUs(5'000'000);
    EXPECT_EQ(demo.stepsRun(), 4u);
}

// What a random demo sends in a minute, and how many of variables 0..7 it left non-zero.
std::pair<std::vector<std::vector<std::uint8_t>>, int> randomRun(std::uint64_t seed) {
    Tap t(ControllerConfig::typical());
    Demo demo(t.sim);
    demo.runRandom(RandomDemo{.seed = seed, .x10 = true, .ir = true});
    t.sim.manualClock().advanceUs(60'000'000);
    std::pair<std::vector<std::vector<std::uint8_t>>, int> out{{}, 0};
    for (const auto& e : t.pieces) out.first.push_back(e.bytes);
    for (int v = 0; v < 8; ++v) out.second += t.sim.variable(v) != 0;
    return out;
}

TEST(DemoRun, random_demo_is_repeatable_by_seed) {
    const auto a = randomRun(7);
    EXPECT_FALSE(a.first.empty());
    EXPECT_GT(a.second, 0) << "variables change too";
    EXPECT_EQ(a, randomRun(7));
    EXPECT_NE(a.first, randomRun(8).first);
}

TEST(DemoRun, random_inputs_change_only_input_points_of_input_modules) {
    ControllerConfig cfg;
    cfg.modules = {{1, ModuleType::Secu16}, {2, ModuleType::Relay08}, {3, ModuleType::Secu16I}};
    Tap t(cfg);
    Demo demo(t.sim);
    RandomDemo r;
    r.variables = false;
    r.minGapMs = 10;
    r.maxGapMs = 20;
    demo.runRandom(r);
    t.sim.manualClock().advanceUs(5'000'000);
    ASSERT_GT(t.pieces.size(), 100u);
    bool sawSecu16I = false;
    std::map<std::pair<int, int>, int> bits;
    for (const auto& e : t.pieces) {
        ASSERT_EQ(e.bytes.size(), 4u);
        const int module = e.bytes[1], point = e.bytes[2];
        EXPECT_TRUE(e.bytes[0] == 0xF0 && (module == 3 || (module == 1 && point < 8))) << toHex(e.bytes);
        sawSecu16I = sawSecu16I || (module == 3 && point >= 8);
        EXPECT_NE(e.bytes[3], std::exchange(bits[{module, point}], e.bytes[3])) << "every report is a change";
    }
    for (const auto& [key, bit] : bits) EXPECT_EQ(t.sim.memory().rawPoint(key.first, key.second), bit == 1);
    EXPECT_TRUE(sawSecu16I);
}

TEST(DemoRun, demo_destroyed_before_its_steps_is_safe) {
    Tap t;
    {
        Demo demo(t.sim);
        demo.runScript(parsed("100 var 1 1"));
    }
    t.sim.manualClock().advanceUs(1'000'000);
    EXPECT_EQ(t.sim.variable(1), 0);
}

TEST(DemoRun, demo_started_before_the_transport_moves_to_its_clock) {
    Tap t;
    Demo demo(t.sim);
    demo.runScript(parsed("100 var 2 9"));
    ManualScheduler transport;
    transport.advanceUs(5'000'000);  // the transport's clock is elsewhere
    t.sim.attachScheduler(transport);
    EXPECT_EQ(t.sim.manualClock().pending(), 0u);
    transport.advanceUs(99'000);
    EXPECT_EQ(t.sim.variable(2), 0);
    transport.advanceUs(1'000);
    EXPECT_EQ(t.sim.variable(2), 9);
}

}  // namespace
}  // namespace varnel::sim::test

// The demo: scripted and random changes, deterministic on virtual time.
#include <gtest/gtest.h>

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

TEST(DemoScriptText, parses_every_action_sorted_by_time_and_names_a_bad_line) {
    const auto s = parsed(
        "# a comment\n2000 input 1 4 1\n0 var 3 120   # trailing\r\n\n2500 x10 C 18\n"
        "3000 ir 5\n3500 touch 12\nrepeat 5000\n");
    using A = DemoStep::Action;
    std::vector<std::tuple<std::int64_t, A, int, int, int>> steps;
    for (const auto& st : s.steps) steps.emplace_back(st.atMs, st.action, st.a, st.b, st.c);
    EXPECT_EQ(steps, (decltype(steps){{0, A::Variable, 3, 120, 0},
                                      {2000, A::Input, 1, 4, 1},
                                      {2500, A::X10, 2, 18, 0},
                                      {3000, A::IrMatch, 5, 0, 0},
                                      {3500, A::Touch, 12, 0, 0}}));
    EXPECT_EQ(s.repeatMs, 5000);
    const std::pair<std::string, std::string> bad[] = {
        {"0 var 1 2\n-5 var 1 2", "line 2: bad time"},
        {"0 jump 1", "unknown action"},
        {"0 var 1", "takes 2 values"},
        {"0 var 128 1", "out of range"},
        {"repeat 0", "repeat takes"},
        {"0 var 1 2\n6000 var 1 3\nrepeat 5000", "never runs"},
        {"5", "missing action"},
    };
    for (const auto& [text, expected] : bad) {
        const auto r = parseDemoScript(text);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << text;
        EXPECT_NE(std::get<std::string>(r).find(expected), std::string::npos) << std::get<std::string>(r);
    }
}

TEST(DemoRun, script_steps_happen_at_their_times_and_repeat_until_stopped) {
    Tap t;
    Demo demo(t.sim);
    demo.runScript(parsed("100 var 3 7\n200 input 1 0 1\nrepeat 1000"));
    auto& clock = t.sim.manualClock();
    clock.advanceUs(99'999);
    EXPECT_EQ(t.sim.variable(3), 0);
    clock.advanceUs(1);
    EXPECT_EQ(t.sim.variable(3), 7);
    clock.advanceUs(100'000);
    EXPECT_EQ(toHex(t.take()), "F0 01 00 01");
    t.sim.setVariable(3, 0);
    clock.advanceUs(900'000);
    EXPECT_EQ(t.sim.variable(3), 7) << "second round at 1100 ms";
    demo.stop();
    clock.advanceUs(5'000'000);
    EXPECT_EQ(demo.stepsRun(), 3u);
}

// What a random demo sends in a minute.
std::vector<std::vector<std::uint8_t>> randomRun(std::uint64_t seed) {
    Tap t(ControllerConfig::typical());
    Demo demo(t.sim);
    demo.runRandom(RandomDemo{.seed = seed, .x10 = true, .ir = true});
    t.sim.manualClock().advanceUs(60'000'000);
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& e : t.pieces) out.push_back(e.bytes);
    return out;
}

TEST(DemoRun, random_demo_is_repeatable_by_seed) {
    const auto a = randomRun(7);
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, randomRun(7));
    EXPECT_NE(a, randomRun(8));
}

}  // namespace
}  // namespace varnel::sim::test

// What each console command does to the simulated controller and the host, and
// host events as the live display prints them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "console/event_lines.h"
#include "console_rig.h"

namespace varnel {
namespace {

using test::x10Address;
using test::x10Function;

using console::Reply;
using sim::FrameKind;
using X = sim::X10Transmission;

std::vector<X> x10Since(const sim::Controller& c, std::size_t from) {
    const auto& all = c.x10Sent();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
}

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

struct ConsoleCommands : ::testing::Test {
    test::ConsoleRig c;
    void SetUp() override { c.start(); }
};

TEST_F(ConsoleCommands, x10_lines_put_the_expected_frames_on_the_power_line) {
    struct Case {
        const char* line;
        std::vector<X> sent;
    };
    const Case cases[] = {
        {"x10 A1+A3 on", {x10Address(0, 1), x10Address(0, 3), x10Function(0, 0x12, 1)}},
        {"x10 B1+3 off", {x10Address(1, 1), x10Address(1, 3), x10Function(1, 0x13, 1)}},
        {"x10 B dim 50", {x10Function(1, 0x14, 11)}},
        {"x10 C5 bright 20", {x10Address(2, 5), x10Function(2, 0x15, 4)}},
        {"x10 D all-units-off", {x10Function(3, 0x10, 1)}},
        {"x10 D1 all-lights-on", {x10Address(3, 1), x10Function(3, 0x11, 1)}},
        {"x10 E all-lights-off", {x10Function(4, 0x16, 1)}},
        {"x10 F2 hail", {x10Address(5, 2), x10Function(5, 0x18, 1)}},
        {"x10 A1 preset 20",
         {x10Address(0, 1), x10Function(2, 31, 1)}},  // level 20: preset-dim entry 4 in the high half
        {"x10 A2 preset 3", {x10Address(0, 2), x10Function(15, 26, 1)}},
        {"x10 H4 status-request", {x10Address(7, 4), x10Function(7, 0x1E, 1)}},
        {"x10 P16 extended 49 255",
         {X{.kind = X::Kind::Extended, .house = 15, .key = 15, .value = 0, .data1 = 49, .data2 = 255}}},
    };
    for (const auto& k : cases) {
        const std::size_t before = c.rig.controller.x10Sent().size();
        const std::string said = c.ok(k.line);
        EXPECT_NE(said.find(": sent"), std::string::npos) << said;
        EXPECT_EQ(x10Since(c.rig.controller, before), k.sent) << k.line;
    }
    EXPECT_EQ(c.rig.ctx().queue.count, 0);
}

TEST_F(ConsoleCommands, set_writes_a_variable_as_the_host_buttons_do) {
    c.ok("mirror vars 4,70");
    const std::string v4 = c.codeOf("Variable 4", "Ocelot");
    const std::string v70 = c.codeOf("Variable 70", "Ocelot");

    struct Step {
        std::string line;
        int var;
        std::uint16_t value;
    };
    const Step steps[] = {{"set " + v4 + " 300", 4, 300},
                          {"set " + v4 + " on", 4, 1},
                          {"set " + v4 + " off", 4, 0},
                          {"set " + v70 + " 32767", 70, 32767},
                          {"set " + lower(v70) + " on", 70, 1}};  // codes are found in either case
    for (const auto& s : steps) {
        c.rig.controller.setVariable(s.var, 12345);
        const std::string said = c.ok(s.line);
        EXPECT_NE(said.find("variable " + std::to_string(s.var) + " <- " + std::to_string(s.value)), std::string::npos)
            << said;
        EXPECT_EQ(c.rig.controller.variable(s.var), s.value) << s.line;
    }
}

TEST_F(ConsoleCommands, set_switches_an_output_point_on_the_controller) {
    c.ok("mirror points 3 0-1");  // RELAY-08 at address 3
    const std::string relay2 = c.codeOf("Relay Output 2", "Rly08 Unit 3");
    struct Step {
        const char* action;
        std::uint8_t value;
    };
    for (const Step& s : {Step{"on", 1}, Step{"off", 0}, Step{"200", 200}}) {
        const auto before = c.rig.controller.countOf(FrameKind::Command, 0x33);
        const std::string said = c.ok("set " + relay2 + " " + s.action);
        EXPECT_NE(said.find("unit 3 point 1 <- " + std::to_string(s.value)), std::string::npos) << said;
        const auto writes = c.rig.controller.framesOf(FrameKind::Command, 0x33);
        ASSERT_EQ(writes.size(), before + 1) << s.action;
        EXPECT_EQ(std::vector<std::uint8_t>(writes.back().bytes.begin() + 2, writes.back().bytes.begin() + 5),
                  (std::vector<std::uint8_t>{3, 1, s.value}));
    }
    EXPECT_EQ(c.rig.host->DeviceStatus(relay2), 2);  // 200 is not 0
}

TEST_F(ConsoleCommands, set_refuses_what_the_host_could_not_set_and_sends_nothing) {
    c.ok("mirror points 1 0");
    c.ok("mirror points 3 0");
    c.ok("mirror vars 1");
    const std::string input = c.codeOf("Input 1", "Secu16 Unit 1");
    const std::string relay = c.codeOf("Relay Output 1", "Rly08 Unit 3");
    c.addDevice("Y1", "Lamp", "", "Someone Else", 1);
    const auto frames = c.rig.controller.frames().size();

    struct Case {
        std::string line;
        std::string says;
    };
    const Case cases[] = {
        {"set Z9 on", "set: no device with code 'Z9'"},
        {"set " + input + " on", "is an input; inputs follow the controller"},
        {"set " + relay + " 256", "an output takes on, off or a value 0 to 255, not 256"},
        {"set Y1 on", "Y1 (Lamp) belongs to another interface"},
    };
    for (const auto& k : cases) EXPECT_NE(c.refused(k.line).find(k.says), std::string::npos) << c.last;
    EXPECT_EQ(c.rig.controller.frames().size(), frames);
    EXPECT_EQ(c.rig.controller.variable(1), 0);
}

TEST(ConsoleReads, analog_and_param_answer_with_the_module_value) {
    auto cfg = sim::ControllerConfig::typical();
    cfg.analog[{2, 0}] = 117;
    cfg.parameters[{2, 1}] = 513;
    test::ConsoleRig c(test::withController(cfg));
    c.start();
    EXPECT_EQ(c.ok("analog 2 0"), "analog 2 0: 117");
    EXPECT_EQ(c.ok("param 2 1"), "param 2 1: 513");
}

TEST_F(ConsoleCommands, a_silent_controller_is_reported_not_taken_for_success) {
    c.ok("mirror vars 0");  // Q1
    c.rig.controller.faults().silent = true;
    struct Case {
        const char* line;
        const char* says;
    };
    const Case cases[] = {
        {"analog 2 0", "analog: no answer from the controller (analog 2 0 waited 4 s for it)"},
        {"param 2 1", "param: no answer from the controller after three attempts"},
        {"var 1 5", "var: no answer from the controller (var 1 5 waited 4 s for it)"},
        {"screen 0 0 hi", "screen: no answer from the controller (screen 0 0 hi waited 4 s for it)"},
        {"x10 A1 on", "x10: no answer from the controller (x10 A1 on waited 4 s for it)"},
        {"set Q1 5", "set: no answer from the controller (set Q1 5 waited 4 s for it)"},
    };
    for (const auto& k : cases) EXPECT_EQ(c.refused(k.line), k.says) << k.line;
}

// A controller that falls silent in the middle of a reply leaves its first bytes behind;
// they are no answer to the commands that follow.
TEST_F(ConsoleCommands, bytes_left_of_a_cut_reply_never_pass_for_a_later_answer) {
    bool cut = false;
    c.rig.controller.overrideFrame = [&](const sim::ReceivedFrame& f) {
        if (cut || f.kind != FrameKind::BlockRead) return false;
        cut = true;
        std::vector<std::uint8_t> part(100, 0x00);
        part[0] = 0x2A;
        c.rig.controller.sendRaw(part, true);
        c.rig.controller.faults().silent = true;
        return true;
    };
    // Lines typed meanwhile run the moment the plug-in is free, as the run's feed hands them over.
    const std::vector<std::string> lines{"var 1 5", "screen 0 0 hi", "x10 A1 on"};
    std::vector<std::string> said;
    auto feed = c.rig.loop.createTimer();
    feed->setInterval(20);
    feed->onTick = [&] {
        if (cut && said.size() < lines.size() && c.console.ready())
            said.push_back(c.run(lines[said.size()]).lines.at(0));
    };
    feed->setEnabled(true);
    c.rig.run(40'000);
    ASSERT_TRUE(cut);
    EXPECT_EQ(said, (std::vector<std::string>{
                        "var: no answer from the controller (var 1 5 waited 4 s for it)",
                        "screen: no answer from the controller (screen 0 0 hi waited 4 s for it)",
                        "x10: no answer from the controller (x10 A1 on waited 4 s for it)",
                    }));
}

TEST_F(ConsoleCommands, names_from_outside_are_printed_escaped) {
    c.addDevice("Z9", "Caf\xe9\nfake: line", "Küche\t\x1b[2J");
    const auto r = c.run("devices");
    ASSERT_EQ(r.outcome, Reply::Outcome::Done);
    std::string all;
    for (const auto& line : c.printed) all += line + "\n";
    EXPECT_NE(all.find("Caf\\xe9\\nfake: line  Küche\\t\\x1b[2J"), std::string::npos) << all;
    EXPECT_EQ(all.find_first_of("\t\x1b\xe9"), std::string::npos) << all;
}

TEST_F(ConsoleCommands, screen_writes_text_with_its_options) {
    c.ok("screen --backlight --beep 0 1 Hi");
    ASSERT_EQ(c.rig.controller.screenWrites().size(), 1u);
    const auto w = c.rig.controller.screenWrites().back();
    EXPECT_EQ(std::to_string(w.flags) + " " + std::to_string(w.x) + " " + std::to_string(w.y) + " " + w.text,
              "9 0 1 Hi");

    const std::string said = c.ok("screen 0 0 " + std::string(60, 'x'));
    EXPECT_NE(said.find("only the first 40 of 60 characters are shown"), std::string::npos) << said;
    EXPECT_EQ(c.rig.controller.screenWrites().back().length, 60);
}

TEST_F(ConsoleCommands, commands_refused_before_the_link_starts_send_nothing) {
    test::ConsoleRig fresh;
    fresh.rig.registerPlugin();
    for (const char* line :
         {"x10 A1 on", "var 1 2", "analog 1 0", "param 1 1", "screen 0 0 hi", "ir play 1", "ir learn 1"}) {
        const std::string said = fresh.refused(line);
        EXPECT_NE(said.find("the controller link is not started"), std::string::npos) << line << " -> " << said;
    }
    EXPECT_TRUE(fresh.rig.controller.frames().empty());
    EXPECT_EQ(fresh.rig.ctx().queue.count, 0);

    EXPECT_NE(fresh.refused("mirror vars 1").find("the host has not started an interface"), std::string::npos);
    EXPECT_EQ(fresh.deviceCount(), 0u);

    test::ConsoleRig unregistered;
    EXPECT_NE(unregistered.refused("mirror vars 1").find("not registered with the host"), std::string::npos);
    EXPECT_NE(unregistered.refused("x10 A1 on").find("not registered with the host"), std::string::npos);
}

TEST_F(ConsoleCommands, a_full_queue_refuses_instead_of_dropping_silently) {
    // Forced: while ready() holds the tick empties the queue, but a full one must
    // still be said, never dropped in silence as QExec would.
    c.rig.ctx().queue.count = CommandQueue::kSize;
    const auto frames = c.rig.controller.frames().size();
    EXPECT_NE(c.refused("x10 A1 on").find("the command queue is full (50 waiting)"), std::string::npos);
    EXPECT_NE(c.refused("ir play 3").find("the command queue is full"), std::string::npos);
    EXPECT_EQ(c.rig.controller.frames().size(), frames);
    c.rig.ctx().queue = CommandQueue{};
}

TEST_F(ConsoleCommands, status_follows_the_port_and_the_link_and_devices_list_the_host) {
    c.ok("mirror vars 3");
    const struct {
        const char* when;
        std::function<void()> act;
        std::vector<std::string> parts;
    } steps[] = {
        {"running",
         [] {},
         {"port: 1 (COM1), open, started", "controller: found, link ok", "interfaces started: io x10 ir",
          "modules: 1 SECU16, 2 SECU16I, 3 RELAY-08, 4 SECU16IR", "IR: size 1024, zones 0 to 17, current zone 0",
          "queue: 0 waiting; plug-in idle", "variables house codes: Q and R", "link: up; last good reply ",
          "counts: 0 time-outs, 0 checksum errors, ", " commands queued"}},
        {"after a report", [&] { c.rig.controller.emitX10Received(0, 0); }, {"1 reports handled"}},
        {"the port failed",
         [&] { c.rig.port.fail("Serial port COM1 failed on read (device removed or far end closed); port closed"); },
         {"closed, not started", "link: down, the port is closed"}},
    };
    for (const auto& step : steps) {
        step.act();
        c.rig.run(1000);
        c.printed.clear();
        const auto status = c.run("status");
        EXPECT_EQ(c.printed, status.lines) << "every reply line reaches the sink, in order";
        std::string all;
        for (const auto& l : status.lines) all += l + "\n";
        for (const auto& part : step.parts)
            EXPECT_NE(all.find(part), std::string::npos) << step.when << ": " << part << "\n" << all;
    }

    const auto devices = c.run("devices");
    ASSERT_EQ(devices.outcome, Reply::Outcome::Done);
    ASSERT_EQ(devices.lines.size(), 1 + c.deviceCount());
    EXPECT_EQ(devices.lines[0].rfind("Code", 0), 0u);
    const std::string code = c.codeOf("Variable 3", "Ocelot");
    EXPECT_TRUE(std::any_of(devices.lines.begin(), devices.lines.end(), [&](const std::string& l) {
        return l.rfind(code + " ", 0) == 0 && l.find("Variable 3") != std::string::npos;
    }));
    c.printed.clear();
    c.run("x10 Q1 on");
    EXPECT_EQ(c.printed, std::vector<std::string>{c.last}) << "a refusal reaches the sink too";
}

TEST(ConsoleConfig, opens_the_window_or_names_the_headless_ways) {
    for (const bool display : {false, true}) {
        test::ConsoleRig c;
        c.start();
        struct CountingWindow final : ConfigWindow {
            int opened = 0;
            void show(bool) override { ++opened; }
            void showPortOpen(bool) override {}
            void clickDisconnect() override {}
        } window;
        if (display) c.rig.ctx().configWindow = &window;
        const std::string line = c.ok("config");
        EXPECT_EQ(window.opened, display ? 1 : 0);
        if (!display) {
            EXPECT_NE(line.find("mirror"), std::string::npos) << line;
            EXPECT_NE(line.find("varnel sync"), std::string::npos) << line;
        }
    }
}

using host::HostEvent;
using K = HostEvent::Kind;

TEST(EventLines, each_event_kind_reads_as_one_line) {
    struct Case {
        HostEvent event;
        const char* line;
    };
    const Case cases[] = {
        {{.kind = K::X10, .code = "A", .value = 2, .addresses = "A1+A3"}, "X10 received: A1+A3 on"},
        {{.kind = K::X10, .code = "B", .value = 0}, "X10 received: house B all-units-off"},
        {{.kind = K::X10, .code = "A", .value = 11, .addresses = "A1", .level = "20"}, "X10 received: A1 preset 20"},
        {{.kind = K::X10, .code = "C", .value = 4, .addresses = "C5"}, "X10 received: C5 dim"},
        // Levels come from outside: eight characters at most.
        {{.kind = K::X10, .code = "A", .value = 11, .addresses = "A1", .level = "123456789"},
         "X10 received: A1 preset 12345678..."},
        {{.kind = K::X10, .code = "C", .value = 4, .addresses = "C5", .level = "123456789"},
         "X10 received: C5 dim level 12345678..."},
        {{.kind = K::X10, .code = "D", .value = 99, .addresses = "D1"}, "X10 received: D1 command 99"},
        {{.kind = K::X10, .code = "E", .value = 7, .extra = "x"}, "X10 received: house E extended (x)"},
        {{.kind = K::IR, .value = 5}, "IR received: code 5"},
        {{.kind = K::ValueChange, .code = "#5", .value = 42}, "#5 value changed to 42"},
        {{.kind = K::StatusSet, .code = "[6", .value = 2}, "[6 set on"},
        {{.kind = K::StatusSet, .code = "[6", .value = 3}, "[6 set off"},
        {{.kind = K::StatusSet, .code = "[6", .value = 17}, "[6 set to status 17 (new)"},
        {{.kind = K::StatusSet, .code = "[6", .value = 5}, "[6 set to status 5"},
        {{.kind = K::StatusSet, .code = "Q1", .value = 2, .known = false}, "Q1 (no such device) set on"},
        {{.kind = K::ValueSet, .code = "#5", .value = 7}, "#5 value set to 7"},
        {{.kind = K::X10, .code = "A", .value = 2, .addresses = "A1\x1b[2J"}, "X10 received: A1\\x1b[2J on"},
    };
    for (const auto& k : cases) EXPECT_EQ(console::describeEvent(k.event), k.line);
}

TEST(EventLines, device_codes_are_named_after_their_host_device) {
    test::ConsoleRig c;
    c.start();
    c.ok("mirror vars 4");
    const auto* dev = c.device("Variable 4", "Ocelot");
    ASSERT_NE(dev, nullptr);
    const std::string code = dev->code();
    EXPECT_EQ(console::describeEvent({.kind = K::ValueChange, .code = code, .value = 9}, c.rig.host.get()),
              code + " (Variable 4, Ocelot) value changed to 9");
    EXPECT_EQ(console::describeEvent({.kind = K::ValueChange, .code = "~9", .value = 9}, c.rig.host.get()),
              "~9 (no such device) value changed to 9");
    EXPECT_EQ(console::describeDevice(*dev), code + " (Variable 4, Ocelot): new, value 0");
}

}  // namespace
}  // namespace varnel

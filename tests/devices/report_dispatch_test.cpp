// One dispatcher for the reports both readers hear: the same host calls
// whichever reader heard a report; only the comms-log wording and the
// procedure named in an error report tell them apart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/events.h"
#include "devices/io_timer.h"
#include "devices/mappings.h"
#include "link/serial_link.h"
#include "rig.h"
#include "scripted_controller.h"
#include "test_events.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

struct Setting {
    bool x10Xmit = false;
    bool recognition = true;
    std::string leopardVar = "-1";
    bool callback = true;
};

struct DispatchCase {
    const char* name;
    Bytes report;
    Setting setting;
    Strings seen;          // "X ..." X10 events, "I n" IR events, "V code=n" values, "S code=n" statuses
    std::string loopLog;   // the response loop's "Ocelot says" line without "**** Ocelot says ", "" for none
    std::string timerLog;  // the timer's, without "*** Ocelot says "
    std::string error;     // host log line after the procedure text, "" for none
};

const DispatchCase kCases[] = {
    {"x10_received", {0xFE, 0, 18}, {}, {"X |A|2|"}, "X10 rec (1) 0,18", "x10 rec 0,18", ""},
    {"x10_xmit_passed", {0xFB, 1, 19}, {.x10Xmit = true}, {"X |B|3|"}, "X10 xmit (1) 1,19", "x10 xmit 1,19", ""},
    {"x10_xmit_dropped", {0xFB, 1, 19}, {}, {}, "", "", ""},
    {"ir_match_code_from_byte_2", {0xFD, 9, 42}, {}, {"I 42"}, "IR Match (1) 42", "IR Match 42", ""},
    {"ir_match_without_recognition", {0xFD, 9, 42}, {.recognition = false}, {}, "", "", ""},
    {"ir_no_callback",
     {0xFD, 9, 42},
     {.callback = false},
     {},
     "IR Match (1) 42",
     "IR Match 42",
     "Object variable not set"},
    {"leopard", {0xF3, 1, 77, 3, 4}, {.leopardVar = "["}, {"V [1=77"}, "Leopard Touch (1) 77", "Leopard Touch 77", ""},
    {"leopard_touch_without_screen", {0xF2, 1, 77, 3, 4}, {}, {}, "", "", ""},
    {"io_change_sets_the_mapped_input", {0xF0, 3, 5, 0}, {}, {"S [6=2"}, "I0 Change (1) 240,3,5", "", ""},
    {"ignored_and_filler", {0xFF, 0xFC, 1, 2}, {}, {}, "", "", ""}};

struct Heard {
    Strings seen, said, errors;
};

Heard hear(const DispatchCase& c, ReportPath path) {
    test::Rig rig;
    (void)rig.port.open("COM1");
    auto& ctx = rig.ctx;
    ctx.link.portOpen = true;
    ctx.link.commStarted = true;
    ctx.switches.logComms = 1;
    ctx.controller.x10Interface = true;
    ctx.switches.x10Xmit = c.setting.x10Xmit ? 1 : 0;
    ctx.link.recognition = c.setting.recognition;
    ctx.switches.leopardVar = c.setting.leopardVar;
    if (!c.setting.callback) ctx.host.callback.reset();
    buildMappings(ctx, "3!11![!0,");
    test::TestEvents events(ctx);
    events.onReport = [&](const ControllerReport& r) { dispatchReport(ctx, r, ReportPath::ResponseLoop); };

    if (path == ReportPath::ResponseLoop) {
        Bytes bytes = c.report;
        bytes.insert(bytes.end(), {0x06, 0x00, 0x06});
        rig.port.deliver(bytes);
        EXPECT_TRUE(ReadResponse(ctx, 4, 3, 0)) << c.name;
    } else {
        rig.port.deliver(c.report);
        rig.loop.processEvents();
        Timer3_Timer(ctx);
    }
    EXPECT_EQ(rig.port.bytesWaiting(), 0u) << c.name;

    Heard h;
    for (const auto& x : rig.callback->x10) h.seen.push_back("X " + x);
    for (auto i : rig.callback->ir) h.seen.push_back("I " + std::to_string(i));
    for (const auto& [code, v] : rig.host->values) h.seen.push_back("V " + code + "=" + std::to_string(v));
    for (const auto& [code, s] : rig.host->statuses) h.seen.push_back("S " + code + "=" + std::to_string(s));
    for (const auto& line : test::commsLogLines(rig))
        if (line.find("Ocelot says") != std::string::npos) h.said.push_back(line);
    for (const auto& [source, message] : rig.host->log) h.errors.push_back(message);
    return h;
}

Strings oneOrNone(const std::string& s, const std::string& prefix = "") {
    return s.empty() ? Strings{} : Strings{prefix + s};
}

TEST(ReportDispatch, both_readers_make_the_same_host_calls) {
    for (const DispatchCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Heard loop = hear(c, ReportPath::ResponseLoop);
        const Heard timer = hear(c, ReportPath::Timer);
        EXPECT_EQ(loop.seen, c.seen);
        EXPECT_EQ(timer.seen, c.seen);
        EXPECT_EQ(loop.said, oneOrNone(c.loopLog, "**** Ocelot says "));
        EXPECT_EQ(timer.said, oneOrNone(c.timerLog, "*** Ocelot says "));
        EXPECT_EQ(loop.errors, oneOrNone(c.error, "ReadResponse 4 "));
        EXPECT_EQ(timer.errors, oneOrNone(c.error, "Timer3 Line  4 "));
    }
}

}  // namespace
}  // namespace varnel

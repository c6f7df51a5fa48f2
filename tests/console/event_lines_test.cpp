// Host events as the live display prints them.
#include <gtest/gtest.h>

#include "console/event_lines.h"
#include "console_rig.h"

namespace varnel {
namespace {

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

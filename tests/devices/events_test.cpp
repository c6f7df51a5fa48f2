// X10 reports to X10Event, I/O change reports to the image and the point's device.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "commands/block_reads.h"
#include "devices/events.h"
#include "devices/mappings.h"
#include "rig.h"

namespace varnel {
namespace {

TEST(X10Handler, delivers_functions_with_the_addresses_gathered_before) {
    struct Case {
        std::vector<std::pair<int, int>> reports;  // house index, key code
        std::vector<std::string> events;           // "addresses|house|command|level"
        std::string listAfter;
        bool started = true;  // the X10 side has started
    };
    const Case cases[] = {// two addresses then on
                          {{{0, 0}, {0, 2}, {0, 18}}, {"A1+A3|A|2|"}, ""},
                          // function without address
                          {{{0, 18}}, {"|A|2|"}, ""},
                          // addresses without function stay
                          {{{2, 15}, {3, 0}}, {}, "C16+D1"},
                          // function keys
                          {{{1, 16}, {1, 25}, {1, 27}, {1, 30}}, {"|B|0|", "|B|9|", "|B|12|", "|B|15|"}, ""},
                          // preset dim low without list
                          {{{12, 26}}, {"||10|0"}, ""},
                          // preset dim high takes list letter
                          {{{1, 4}, {9, 31}}, {"B5|B|11|31"}, ""},
                          // unknown key leaves list
                          {{{0, 0}, {0, 40}}, {}, "A1"},
                          // level code outside table dropped
                          {{{0, 0}, {16, 26}}, {}, "A1"},
                          // dropped before the x10 side starts
                          {{{0, 2}, {0, 18}}, {}, "", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        test::Rig rig;
        rig.ctx.controller.x10Interface = c.started;
        rig.ctx.controller.presetDim = {12, 13, 14, 15, 2, 3, 0, 1, 4, 5, 6, 7, 10, 11, 8, 9};
        for (auto [h, k] : c.reports)
            x10Handler(rig.ctx, {0xFE, static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(k), 0});
        EXPECT_EQ(rig.callback->x10, c.events);
        EXPECT_EQ(rig.ctx.x10.addressList, c.listAfter);
    }
}

TEST(IoChange, stores_the_value_and_sets_the_mapped_device) {
    struct Case {
        std::string mappings;
        std::array<std::uint8_t, 3> report;  // module, point, raw value
        std::string event;                   // "code status value", "" for none
        std::int16_t lookupAfter;
    };
    const Case cases[] = {// closed input is on
                          {"3!11![!0,", {3, 5, 0}, "[6 2 1", 1},
                          // open input is off
                          {"3!11![!0,", {3, 5, 1}, "[6 3 0", 0},
                          // inverted closed is off
                          {"3!11![!1,", {3, 5, 0}, "[6 3 0", 1},
                          // inverted open is on
                          {"3!11![!1,", {3, 5, 1}, "[6 2 1", 0},
                          // first mapping of the module
                          {"3!12!Q!0,3!13!]!0,", {3, 15, 0}, "Q16 2 1", 1},
                          // no mapping only the image
                          {"4!11![!0,", {3, 5, 1}, "", 0},
                          // mapping without house code
                          {"3!11!!0,", {3, 5, 1}, "", 0},
                          // point beyond sixteen
                          {"3!11![!0,", {3, 16, 1}, "", 1},
                          // secu16 output set bit is on
                          {"3!11![!0,", {3, 8, 1}, "[9 2 0", 0},
                          // secu16 output ignores invert
                          {"3!11![!1,", {3, 15, 0}, "[16 3 1", 1},
                          // relay clear bit is off
                          {"3!13![!0,", {3, 2, 0}, "[3 3 1", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        test::Rig rig;
        buildMappings(rig.ctx, c.mappings);
        const auto [m, p, v] = c.report;
        HandleIOPointChange(rig.ctx, {0xF0, m, p, v});
        std::string event;
        if (!rig.host->statuses.empty()) {
            ASSERT_EQ(rig.host->statuses.size(), 1u);
            ASSERT_EQ(rig.callback->changes.size(), 1u);
            EXPECT_EQ(rig.callback->changes[0].first, rig.host->statuses[0].first);
            event = rig.host->statuses[0].first + " " + std::to_string(rig.host->statuses[0].second) + " " +
                    std::to_string(rig.callback->changes[0].second);
        }
        EXPECT_EQ(event, c.event);
        EXPECT_EQ(ioPointLookup(rig.ctx, m, p), c.lookupAfter);
    }
}

}  // namespace
}  // namespace varnel

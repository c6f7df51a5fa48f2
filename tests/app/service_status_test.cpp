// The one-line status systemd shows: the link's state said once, in its own words.
#include <gtest/gtest.h>

#include "rig.h"
#include "service_status.h"
#include "text_files.h"

namespace varnel::app {
namespace {

TEST(ServiceStatus, leads_with_the_controller_or_the_link_and_says_it_once) {
    const struct {
        const char* what;
        LinkHealth::State state;
        bool portOpen;
        int linkFailure;
        std::uint16_t irSize;
        std::size_t devices;
        std::string starts;
    } cases[] = {
        {"ok", LinkHealth::State::Up, true, 0, 1024, 1, "controller ok, 1 device, last reply never, 0 time-outs, "},
        {"nothing found", LinkHealth::State::Up, true, 0, 0, 2, "controller not found, 2 devices, last reply "},
        {"silent", LinkHealth::State::Up, true, 1, 0, 0,
         "link up, the controller does not answer, 0 devices, last reply never, "},
        {"port closed", LinkHealth::State::Up, false, 0, 0, 0, "link down, the port is closed, 0 devices, "},
        {"reconnecting", LinkHealth::State::Reconnecting, false, 1, 1024, 3, "link reconnecting since "},
    };
    for (const auto& c : cases) {
        test::Rig rig;
        rig.ctx.health.state = c.state;
        rig.ctx.link.portOpen = c.portOpen;
        rig.ctx.controller.linkFailure = c.linkFailure;
        rig.ctx.controller.irSize = c.irSize;
        const std::string status = serviceStatus(rig.ctx, c.devices);
        EXPECT_EQ(status.rfind(c.starts, 0), 0u) << c.what << ": " << status;
        EXPECT_LE(test::occurrences(status, "link "), 1u) << c.what << ": " << status;
        EXPECT_LE(test::occurrences(status, "answer"), 1u) << c.what << ": " << status;
        EXPECT_LE(test::occurrences(status, "port "), 1u) << c.what << ": " << status;
    }
}

}  // namespace
}  // namespace varnel::app

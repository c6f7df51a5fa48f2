// SetPoint and SetIO: what goes to the host device and what to the queue.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/device_model.h"
#include "devices/host_writes.h"
#include "devices/mappings.h"
#include "devices_rig.h"

namespace varnel {
namespace {

using Strings = std::vector<std::string>;

// Queue records as "command|house|device|brightness|data1|data2".
Strings queued(const PluginState& ctx) {
    Strings out;
    for (int i = 0; i < ctx.queue.count; ++i) {
        const auto& r = ctx.queue.ring[static_cast<std::size_t>((ctx.queue.readIndex + i) % CommandQueue::kSize)];
        out.push_back(std::to_string(r.command) + "|" + r.housecode + "|" + r.devicecode + "|" +
                      std::to_string(r.brightness) + "|" + std::to_string(r.data1) + "|" + std::to_string(r.data2));
    }
    return out;
}

TEST(SetPoint, mapped_unit_changes_only_the_host_device_unmapped_only_queues) {
    test::DevicesRig rig;
    buildMappings(rig.ctx, "3!13!]!0,");
    SetPoint(rig.ctx, 3, 0, 1);
    EXPECT_EQ(rig.events(), (Strings{"V ]1=1"}));
    EXPECT_EQ(queued(rig.ctx), (Strings{}));
    SetPoint(rig.ctx, 4, 7, 1);
    EXPECT_EQ(rig.events(), (Strings{"V ]1=1"}));
    EXPECT_EQ(queued(rig.ctx), (Strings{"101|||1|4|7"}));
}

TEST(SetIO, routes_the_request_by_house_code) {
    struct Case {
        std::string house, device;
        std::int16_t command, brightness;
        bool withDevice;  // pass the host device of the code as `dv`
        Strings queue;
        Strings events;
        std::int16_t commandAfter, brightnessAfter;
    };
    const Case cases[] = {// on under first vars letter
                          {"R", "5", 2, 0, false, {"19|82|4|1|7|8"}, {}, 19, 1},
                          // on under second vars letter
                          {"S", "5", 2, 0, false, {"19|83|68|1|7|8"}, {}, 19, 1},
                          // off writes zero
                          {"R", "1", 3, 55, false, {"19|82|0|0|7|8"}, {}, 19, 0},
                          // other command on a variable ignored
                          {"R", "5", 4, 50, false, {}, {}, 4, 50},
                          // variable code not a number
                          {"R", "x", 2, 0, false, {}, {}, 19, 1},
                          // own output on sets only its value
                          {"]", "3", 2, 0, true, {}, {"V ]3=1"}, 2, 0},
                          // foreign output left alone
                          {"Y", "1", 2, 0, true, {}, {}, 2, 0},
                          // mapped output value queues point write
                          {"]", "3", 19, 1, true, {"101|82|2|1|3|2"}, {"S ]3=2"}, 19, 1},
                          // mapped output zero sets off
                          {"]", "3", 19, 0, false, {"101|82|2|0|3|2"}, {"S ]3=3"}, 19, 0},
                          // mapped input is not written
                          {"[", "2", 19, 1, true, {}, {}, 19, 1},
                          // unmapped house code ignored
                          {"Z", "1", 19, 1, false, {}, {}, 19, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        test::DevicesRig rig;
        rig.ctx.devices.varsHouseCode = 'R';
        buildMappings(rig.ctx, "3!13!]!0,4!11![!0,");
        rig.addDevice("]3", 1, "3!13!2!0");
        rig.addDevice("[2", 0, "4!11!1!0");
        rig.addDevice("Y1", 1, "9!13!0!0", "Another interface");
        std::shared_ptr<Device> dv;
        if (c.withDevice) dv = rig.ehost->GetDeviceByRef(rig.ehost->DeviceExistsRef(c.house + c.device));
        std::int16_t command = c.command, brightness = c.brightness;
        SetIO(rig.ctx, dv, c.house, c.device, command, brightness, 7, 8);
        EXPECT_EQ(queued(rig.ctx), c.queue);
        EXPECT_EQ(rig.events(), c.events);
        EXPECT_EQ(command, c.commandAfter);
        EXPECT_EQ(brightness, c.brightnessAfter);
    }
}

TEST(SetIO, does_nothing_for_an_xap_front_end_nor_for_an_empty_house_code) {
    test::DevicesRig rig;
    std::int16_t command = 2, brightness = 0;
    SetIO(rig.ctx, nullptr, "", "5", command, brightness, 0, 0);  // no variables house code yet
    rig.ctx.devices.varsHouseCode = 'R';
    rig.ctx.host.hostMode = false;
    SetIO(rig.ctx, nullptr, "R", "5", command, brightness, 0, 0);
    EXPECT_EQ(queued(rig.ctx), (Strings{}));
    EXPECT_EQ(command, 2);
}

}  // namespace
}  // namespace varnel

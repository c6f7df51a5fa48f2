// The plug-in's main job end to end: controller variables and points mirrored
// into host devices, host commands written to the controller, X10 both ways.
#include <gtest/gtest.h>

#include "devices/device_model.h"
#include "devices/host_writes.h"
#include "engine_rig.h"

namespace varnel {
namespace {

using sim::FrameKind;

struct Mirroring : ::testing::Test {
    test::EngineRig rig;
    Mirroring() {
        rig.startAll();
        rig.run(1000);
    }
    const host::DeviceRecord* device(const std::string& name, const std::string& location) {
        for (const auto& d : rig.host->devices())
            if (d.name == name && d.location == location) return &d;
        return nullptr;
    }
    std::vector<host::HostEvent> eventsFor(const std::string& code, host::HostEvent::Kind kind) {
        std::vector<host::HostEvent> out;
        for (const auto& e : rig.host->events())
            if (e.code == code && e.kind == kind) out.push_back(e);
        return out;
    }
    void mirrorVariables(std::initializer_list<int> vars) {
        std::array<bool, 128> ticked{};
        for (int v : vars) ticked[static_cast<std::size_t>(v)] = true;
        CreateVariableDevices(rig.ctx(), ticked);
    }
    void mirrorPoints(std::int16_t unit, std::initializer_list<int> points, bool invert = false) {
        std::array<bool, 16> ticked{};
        for (int p : points) ticked[static_cast<std::size_t>(p)] = true;
        CreateModuleDevices(rig.ctx(), unit, ticked, invert);
        ReadDeviceSettings(rig.ctx());
    }
};

TEST_F(Mirroring, controller_variables_and_inputs_reach_host_devices) {
    mirrorVariables({5});
    mirrorPoints(1, {0, 1});  // SECU16 at address 1: inputs 1 and 2
    const std::string var = device("Variable 5", "Ocelot")->code(), input = device("Input 1", "Secu16 Unit 1")->code();
    for (const std::uint16_t value : {42, 7, 0}) {
        rig.controller.setVariable(5, value);
        rig.run(1500);
        EXPECT_EQ(device("Variable 5", "Ocelot")->value, value);
        EXPECT_EQ(device("Variable 5", "Ocelot")->Status, value == 0 ? 3 : 2) << value;
    }
    std::vector<std::int32_t> changes;
    for (const auto& e : eventsFor(var, host::HostEvent::Kind::ValueChange)) changes.push_back(e.value);
    EXPECT_EQ(changes, (std::vector<std::int32_t>{42, 7, 0}));

    // The input closes: the controller stores a clear bit (reads 1) and reports value 0.
    rig.controller.changeInput(1, 0, false);
    rig.controller.changeInput(1, 0, true);
    rig.run(50);
    EXPECT_EQ(device("Input 1", "Secu16 Unit 1")->Status, 3);
    rig.controller.changeInput(1, 0, false);
    rig.run(50);
    EXPECT_EQ(device("Input 1", "Secu16 Unit 1")->Status, 2);
    EXPECT_EQ(eventsFor(input, host::HostEvent::Kind::ValueChange).back().value, 1);
}

TEST_F(Mirroring, host_writes_reach_controller) {
    mirrorVariables({4});
    mirrorPoints(3, {0});  // RELAY-08 at address 3: relay 1
    const auto* relay = device("Relay Output 1", "Rly08 Unit 3");
    ASSERT_NE(relay, nullptr);
    const std::string vletter = rig.host->devices().front().hc;
    rig.controller.clearRecords();

    auto dv = rig.host->GetDeviceByRef(relay->ref);
    std::int16_t command = 19, brightness = 1;  // "set value": the controller's output is written
    SetIO(rig.ctx(), dv, relay->hc, relay->dc, command, brightness, 0, 0);
    const auto variableDevice = rig.host->GetDeviceByRef(rig.host->devices().front().ref);
    command = 2;
    brightness = 0;
    SetIO(rig.ctx(), variableDevice, vletter, "5", command, brightness, 0, 0);
    rig.run(500);

    const auto points = rig.controller.framesOf(FrameKind::Command, 0x33);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ((std::vector<std::uint8_t>(points[0].bytes.begin() + 2, points[0].bytes.begin() + 5)),
              (std::vector<std::uint8_t>{3, 0, 1}));
    EXPECT_EQ(rig.controller.variable(4), 1);
}

TEST_F(Mirroring, secu16_output_written_by_host_stays_on_after_comparisons) {
    mirrorPoints(1, {8});  // SECU16 at address 1: its first output, device number 9
    const auto* out = device("Relay Output 1", "Secu16 Unit 1");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->dc, "9");
    auto dv = rig.host->GetDeviceByRef(out->ref);
    std::int16_t command = 19, brightness = 1;
    SetIO(rig.ctx(), dv, out->hc, out->dc, command, brightness, 0, 0);
    rig.run(3000);  // several variable passes, each followed by an I/O comparison
    EXPECT_TRUE(rig.controller.memory().rawPoint(1, 8));
    EXPECT_EQ(device("Relay Output 1", "Secu16 Unit 1")->Status, 2);
}

TEST_F(Mirroring, x10_traffic_both_ways) {
    rig.controller.emitX10Received(0, 0);   // A1
    rig.controller.emitX10Received(0, 2);   // A3
    rig.controller.emitX10Received(0, 18);  // On
    rig.run(100);
    std::vector<host::HostEvent> x10;
    for (const auto& e : rig.host->events())
        if (e.kind == host::HostEvent::Kind::X10) x10.push_back(e);
    ASSERT_EQ(x10.size(), 1u);
    EXPECT_EQ(x10[0].addresses + " " + x10[0].code + " " + std::to_string(x10[0].value), "A1+A3 A 2");

    rig.controller.clearRecords();
    rig.plugin->Exec(std::int32_t{5}, "B", "1+3", 3, 0, 0, 0);
    rig.run(200);
    const auto& sent = rig.controller.x10Sent();
    std::vector<std::pair<int, int>> houseKeys;
    for (const auto& t : sent) houseKeys.emplace_back(t.house, t.key);
    EXPECT_EQ(houseKeys, (std::vector<std::pair<int, int>>{{1, 0}, {1, 2}, {1, 0x13}}));
}

}  // namespace
}  // namespace varnel

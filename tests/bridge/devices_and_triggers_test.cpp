// X10 modules as the kind of entity their host device says they are, and the device
// triggers of what the controller hears: announced the first time each is heard (IR
// codes with names at once), on the device they concern, and kept over a restart.
#include <gtest/gtest.h>

#include "bridge_rig.h"

namespace varnel {
namespace {

using test::x10Address;
using test::x10Function;

using nlohmann::json;
using X = sim::X10Transmission;

void setType(test::BridgeRig& b, const std::string& code, const std::string& type) {
    auto& host = *b.c.rig.host;
    host.GetDeviceByRef(host.DeviceExistsRef(code))->set_dev_type_string(type);
}

TEST(X10Modules, an_appliance_module_is_a_switch_and_any_other_a_light) {
    test::BridgeRig b;
    b.c.start();
    b.addX10Device("B", "5", "Fan", "Hall");
    b.addX10Device("B", "6", "Lamp", "Hall");
    b.addX10Device("B", "7", "Thing", "Hall");
    setType(b, "B5", "Appliance Module");
    setType(b, "B6", "Lamp Module");
    setType(b, "B7", "Motion Sensor");
    b.start(false);
    const auto configs = b.configs();
    const json& fan = configs.at("homeassistant/switch/varnel_x10_b5/config");
    EXPECT_EQ(fan["command_topic"], "~/x10/B5/set");
    EXPECT_EQ(fan["device"]["model"], "X10 appliance module");
    EXPECT_FALSE(fan.contains("schema"));
    EXPECT_FALSE(configs.contains("homeassistant/light/varnel_x10_b5/config"));
    for (const char* light : {"b6", "b7"}) {
        const json& c = configs.at("homeassistant/light/varnel_x10_" + std::string(light) + "/config");
        EXPECT_EQ(c["supported_color_modes"], json::array({"brightness"})) << light;
        EXPECT_EQ(c["device"]["model"], "X10 lamp module") << light;
    }

    struct Step {
        const char* payload;
        std::vector<X> sent;
        const char* state;
    };
    const Step steps[] = {
        {"ON", {x10Address(1, 5), x10Function(1, 0x12)}, "ON"},
        {"OFF", {x10Address(1, 5), x10Function(1, 0x13)}, "OFF"},
        {"on", {x10Address(1, 5), x10Function(1, 0x12)}, "ON"},
    };
    for (const auto& s : steps) {
        const std::size_t before = b.c.rig.controller.x10Sent().size();
        b.send("x10/B5/set", s.payload);
        b.run(1000);
        const auto& sent = b.c.rig.controller.x10Sent();
        EXPECT_EQ(std::vector<X>(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()), s.sent) << s.payload;
        EXPECT_EQ(b.state("x10/B5/state"), s.state) << s.payload;
    }
    const auto refused = b.bridge->counters().refused;
    b.send("x10/B5/set", R"({"state":"ON","brightness":20})");
    EXPECT_EQ(b.bridge->counters().refused, refused + 1);
    // Heard on the power line: B5 off.
    b.c.rig.controller.emitX10Received(1, 4);
    b.c.rig.controller.emitX10Received(1, 19);
    b.run(500);
    EXPECT_EQ(b.state("x10/B5/state"), "OFF");
}

// Home Assistant keeps an entity's settings by platform and unique id: the id stays,
// the config under the old component goes, the state topic stays with the new one.
TEST(X10Modules, a_module_whose_type_changes_moves_to_the_other_component) {
    test::BridgeRig b;
    b.c.start();
    b.addX10Device("B", "5", "Fan", "Hall");
    b.start(false);
    b.send("x10/B5/set", R"({"state":"ON"})");
    b.run(1000);
    ASSERT_TRUE(b.transport.retained.contains("homeassistant/light/varnel_x10_b5/config"));
    setType(b, "B5", "Appliance Module");
    b.run(1500);
    EXPECT_FALSE(b.transport.retained.contains("homeassistant/light/varnel_x10_b5/config"));
    const auto configs = b.configs();
    ASSERT_TRUE(configs.contains("homeassistant/switch/varnel_x10_b5/config"));
    EXPECT_EQ(configs.at("homeassistant/switch/varnel_x10_b5/config")["unique_id"], "varnel_x10_b5");
    EXPECT_EQ(b.transport.retained.at("varnel/x10/B5/state"), "ON");

    // A later run finds the light's config an earlier one left, and removes it alone.
    const std::string old = "homeassistant/light/varnel_x10_b5/config";
    const std::string config =
        json{{"~", "varnel"}, {"unique_id", "varnel_x10_b5"}, {"state_topic", "~/x10/B5/state"}}.dump();
    b.transport.retained[old] = config;
    b.transport.drop();
    b.run(2000);
    b.transport.accept();
    b.transport.send(old, config, true);
    b.run(1000);  // the scan starts once the base topic is known to be ours
    EXPECT_FALSE(b.transport.retained.contains(old));
    EXPECT_EQ(b.transport.retained.at("varnel/x10/B5/state"), "ON");
}

struct Triggers : ::testing::Test {
    test::BridgeRig b;
    void SetUp() override {
        std::vector<std::string> labels(69);
        labels[0] = "TV";
        labels[32] = "Power";
        b.c.configFile("irlbl.cfg", labels);
        b.c.start();
        b.addX10Device("B", "5", "Lamp", "Hall");
        b.start(false);
    }
    std::optional<json> trigger(const std::string& key) const {
        const auto it = b.transport.retained.find("homeassistant/device_automation/varnel_" + key + "/config");
        if (it == b.transport.retained.end()) return std::nullopt;
        return json::parse(it->second);
    }
    // The messages published on a heard topic.
    std::vector<std::string> heard(const std::string& relative) const {
        std::vector<std::string> out;
        for (const auto& p : b.transport.published)
            if (p.topic == b.topic(relative)) {
                EXPECT_FALSE(p.retain) << p.topic;
                out.push_back(p.payload);
            }
        return out;
    }
};

TEST_F(Triggers, ir_codes_with_names_have_theirs_from_the_start_and_others_once_heard) {
    const auto power = trigger("heard_ir0");
    ASSERT_TRUE(power);
    EXPECT_EQ((*power)["topic"], "varnel/ir/heard");
    EXPECT_EQ((*power)["type"], "received");
    EXPECT_EQ((*power)["subtype"], "TV POWER");
    EXPECT_EQ((*power)["payload"], "TV POWER");
    EXPECT_EQ((*power)["device"]["name"], "Ocelot IR codes");

    b.c.rig.controller.emitIrMatch(0);
    b.c.rig.controller.emitIrMatch(77);
    b.c.rig.controller.emitIrMatch(77);
    b.run(500);
    EXPECT_EQ(heard("ir/heard"), (std::vector<std::string>{"TV POWER", "code 77", "code 77"}));
    const auto other = trigger("heard_ir_code77");
    ASSERT_TRUE(other);
    EXPECT_EQ((*other)["subtype"], "code 77");
    EXPECT_EQ((*other)["payload"], "code 77");
}

TEST_F(Triggers, x10_heard_gives_one_per_address_and_function_on_the_module_or_the_controller) {
    b.c.rig.controller.emitX10Received(1, 4);   // B5
    b.c.rig.controller.emitX10Received(1, 19);  // off
    b.c.rig.controller.emitX10Received(0, 6);   // A7
    b.c.rig.controller.emitX10Received(0, 18);  // on
    b.c.rig.controller.emitX10Received(2, 16);  // all units off, house C
    b.run(500);
    EXPECT_EQ(heard("x10/heard"), (std::vector<std::string>{"B5 off", "A7 on", "C all-units-off"}));
    struct Expect {
        const char* key;
        const char* type;
        const char* subtype;
        const char* device;
    };
    const Expect expected[] = {
        {"heard_x10_b5_off", "off", "B5", "Hall Lamp"},
        {"heard_x10_a7_on", "on", "A7", "Ocelot"},
        {"heard_x10_c_all-units-off", "all-units-off", "C", "Ocelot"},
    };
    for (const auto& e : expected) {
        const auto t = trigger(e.key);
        ASSERT_TRUE(t) << e.key;
        EXPECT_EQ((*t)["type"], e.type) << e.key;
        EXPECT_EQ((*t)["subtype"], e.subtype) << e.key;
        EXPECT_EQ((*t)["payload"], std::string(e.subtype) + " " + e.type) << e.key;
        EXPECT_EQ((*t)["device"]["name"], e.device) << e.key;
    }
    // Heard again: the config is not sent again.
    const auto sent = b.transport.count("homeassistant/device_automation/varnel_heard_x10_b5_off/config");
    b.c.rig.controller.emitX10Received(1, 4);
    b.c.rig.controller.emitX10Received(1, 19);
    b.run(500);
    EXPECT_EQ(b.transport.count("homeassistant/device_automation/varnel_heard_x10_b5_off/config"), sent);
}

TEST_F(Triggers, each_touch_of_a_key_is_heard_and_the_key_has_a_trigger_on_the_screen) {
    b.c.rig.controller.emitTouch(5);
    b.run(300);
    EXPECT_TRUE(heard("leopard/touch/heard").empty());  // no screen, no trigger
    b.addLeopard();
    b.c.rig.controller.emitTouch(5);
    b.c.rig.controller.emitTouch(5);
    b.run(300);
    EXPECT_EQ(heard("leopard/touch/heard"), (std::vector<std::string>{"5", "5"}));
    const auto t = trigger("heard_touch5");
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)["type"], "touched");
    EXPECT_EQ((*t)["subtype"], "key 5");
    EXPECT_EQ((*t)["device"]["name"], "Leopard");
}

// The broker keeps the configs of what an earlier run heard: the next run takes them
// over (they come again when Home Assistant restarts) rather than removing them, and
// removes one that names no such thing.
TEST_F(Triggers, an_earlier_runs_triggers_are_kept_and_strange_ones_removed) {
    const std::string kept = "homeassistant/device_automation/varnel_heard_x10_a7_on/config";
    const std::string strange = "homeassistant/device_automation/varnel_heard_x10_z9_on/config";
    auto config = [](const std::string& key, const std::string& payload) {
        return json{{"~", "varnel"},
                    {"unique_id", "varnel_" + key},
                    {"automation_type", "trigger"},
                    {"topic", "varnel/x10/heard"},
                    {"payload", payload}}
            .dump();
    };
    b.transport.retained[kept] = config("heard_x10_a7_on", "A7 on");
    b.transport.retained[strange] = config("heard_x10_z9_on", "Z9 on");
    b.transport.drop();
    b.run(2000);
    b.transport.accept();
    b.transport.send(kept, b.transport.retained[kept], true);
    b.transport.send(strange, b.transport.retained[strange], true);
    b.run(1000);  // the scan starts once the base topic is known to be ours
    EXPECT_FALSE(b.transport.retained.contains(strange));
    ASSERT_TRUE(b.transport.retained.contains(kept));

    const auto before = b.transport.count(kept);
    b.transport.send("homeassistant/status", "online");
    b.run(2000);
    EXPECT_EQ(b.transport.count(kept), before + 1);
    EXPECT_EQ(json::parse(b.transport.retained.at(kept))["device"]["name"], "Ocelot");
}

}  // namespace
}  // namespace varnel

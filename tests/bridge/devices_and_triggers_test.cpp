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
    for (const auto& [payload, function, state] :
         {std::tuple{"ON", 0x12, "ON"}, std::tuple{"OFF", 0x13, "OFF"}, std::tuple{"on", 0x12, "ON"}}) {
        const std::size_t before = b.sim().x10Sent().size();
        b.send("x10/B5/set", payload);
        b.run(1000);
        EXPECT_EQ(b.x10Since(before), (std::vector<X>{x10Address(1, 5), x10Function(1, function)})) << payload;
        EXPECT_EQ(b.state("x10/B5/state"), state) << payload;
    }
    b.send("x10/B5/set", R"({"state":"ON","brightness":20})");
    EXPECT_EQ(b.refused(), 1u);
    // Heard on the power line: B5 off.
    b.sim().emitX10Received(1, 4);
    b.sim().emitX10Received(1, 19);
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
    const std::string old = "homeassistant/light/varnel_x10_b5/config";
    ASSERT_TRUE(b.kept(old));
    setType(b, "B5", "Appliance Module");
    b.run(1500);
    EXPECT_FALSE(b.kept(old));
    EXPECT_EQ(b.configs().at("homeassistant/switch/varnel_x10_b5/config")["unique_id"], "varnel_x10_b5");
    EXPECT_EQ(b.transport.retained.at("varnel/x10/B5/state"), "ON");

    // A later run finds the light's config an earlier one left, and removes it alone.
    const std::string config =
        json{{"~", "varnel"}, {"unique_id", "varnel_x10_b5"}, {"state_topic", "~/x10/B5/state"}}.dump();
    b.transport.retained[old] = config;
    b.transport.drop();
    b.run(2000);
    b.transport.accept();
    b.transport.send(old, config, true);
    b.run(1000);  // the scan starts once the base topic is known to be ours
    EXPECT_FALSE(b.kept(old));
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
    // A trigger's config as "topic type/subtype/payload/device", empty when there is none.
    std::string trigger(const std::string& key) const {
        const auto it = b.transport.retained.find("homeassistant/device_automation/varnel_" + key + "/config");
        if (it == b.transport.retained.end()) return {};
        const json t = json::parse(it->second);
        EXPECT_EQ(t["automation_type"], "trigger");
        return t["topic"].get<std::string>() + " " + t["type"].get<std::string>() + "/" +
               t["subtype"].get<std::string>() + "/" + t["payload"].get<std::string>() + "/" +
               t["device"]["name"].get<std::string>();
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

TEST_F(Triggers, what_is_heard_is_published_and_has_a_trigger_on_the_device_it_concerns) {
    EXPECT_EQ(trigger("heard_ir0"), "varnel/ir/heard received/TV POWER/TV POWER/Ocelot IR codes")
        << "named: there from the start";
    EXPECT_EQ(trigger("heard_ir_code77"), "");
    b.sim().emitIrMatch(0);
    b.sim().emitIrMatch(77);
    b.sim().emitIrMatch(77);
    b.sim().emitX10Received(1, 4);   // B5
    b.sim().emitX10Received(1, 19);  // off
    b.sim().emitX10Received(0, 6);   // A7
    b.sim().emitX10Received(0, 18);  // on
    b.sim().emitX10Received(2, 16);  // all units off, house C
    b.sim().emitTouch(5);            // no screen, no trigger
    b.run(500);
    EXPECT_EQ(heard("ir/heard"), (std::vector<std::string>{"TV POWER", "code 77", "code 77"}));
    EXPECT_EQ(heard("x10/heard"), (std::vector<std::string>{"B5 off", "A7 on", "C all-units-off"}));
    EXPECT_TRUE(heard("leopard/touch/heard").empty());
    b.addLeopard();
    b.sim().emitTouch(5);
    b.sim().emitTouch(5);
    b.run(300);
    EXPECT_EQ(heard("leopard/touch/heard"), (std::vector<std::string>{"5", "5"}));
    const std::pair<const char*, const char*> expected[] = {
        {"heard_ir_code77", "varnel/ir/heard received/code 77/code 77/Ocelot IR codes"},
        {"heard_x10_b5_off", "varnel/x10/heard off/B5/B5 off/Hall Lamp"},
        {"heard_x10_a7_on", "varnel/x10/heard on/A7/A7 on/Ocelot"},
        {"heard_x10_c_all-units-off", "varnel/x10/heard all-units-off/C/C all-units-off/Ocelot"},
        {"heard_touch5", "varnel/leopard/touch/heard touched/key 5/5/Leopard"},
    };
    for (const auto& [key, config] : expected) EXPECT_EQ(trigger(key), config) << key;
    // Heard again: the config is not sent again.
    const auto sent = b.transport.count("homeassistant/device_automation/varnel_heard_x10_b5_off/config");
    b.sim().emitX10Received(1, 4);
    b.sim().emitX10Received(1, 19);
    b.run(500);
    EXPECT_EQ(b.transport.count("homeassistant/device_automation/varnel_heard_x10_b5_off/config"), sent);
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
    EXPECT_FALSE(b.kept(strange));
    ASSERT_TRUE(b.kept(kept));

    const auto before = b.transport.count(kept);
    b.transport.send("homeassistant/status", "online");
    b.run(2000);
    EXPECT_EQ(b.transport.count(kept), before + 1);
    EXPECT_EQ(trigger("heard_x10_a7_on"), "varnel/x10/heard on/A7/A7 on/Ocelot");
}

}  // namespace
}  // namespace varnel

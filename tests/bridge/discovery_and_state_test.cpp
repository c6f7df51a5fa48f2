// What Home Assistant is told: one entity per host device with the keys its
// component needs, states that follow the controller, and entities that follow the
// host's devices as they are renamed and deleted.
#include <gtest/gtest.h>

#include <set>

#include "bridge_rig.h"
#include "devices/device_model.h"

namespace varnel {
namespace {

using nlohmann::json;

struct Discovery : ::testing::Test {
    test::BridgeRig b;
    void SetUp() override {
        std::vector<std::string> labels(69);
        labels[0] = "TV";
        labels[32] = "Power";
        labels[33] = "Mute";
        b.c.configFile("irlbl.cfg", labels);
        b.start();
    }
};

TEST_F(Discovery, every_config_is_json_with_a_unique_id_and_the_keys_its_component_needs) {
    const std::map<std::string, std::vector<std::string>> required = {
        {"binary_sensor", {"state_topic"}},
        {"sensor", {"state_topic"}},
        {"switch", {"command_topic", "state_topic"}},
        {"number", {"command_topic", "state_topic", "min", "max"}},
        {"event", {"state_topic", "event_types"}},
        {"button", {"command_topic"}},
        {"notify", {"command_topic"}},
        {"light", {"command_topic", "state_topic", "schema", "supported_color_modes"}},
        {"device_automation", {"automation_type", "topic", "type", "subtype", "device"}},
    };
    const auto configs = b.configs();
    ASSERT_GT(configs.size(), 30u);
    std::set<std::string> ids;
    std::map<std::string, int> counts;
    for (const auto& [topic, c] : configs) {
        const std::string component = topic.substr(14, topic.find('/', 14) - 14);
        ++counts[component];
        ASSERT_TRUE(required.contains(component)) << topic;
        for (const auto& key : required.at(component)) EXPECT_TRUE(c.contains(key)) << topic << " lacks " << key;
        ASSERT_TRUE(c["unique_id"].is_string()) << topic;
        const std::string id = c["unique_id"];
        EXPECT_TRUE(ids.insert(id).second) << "twice: " << id;
        EXPECT_EQ(topic, "homeassistant/" + component + "/" + id + "/config");
        EXPECT_EQ(c["~"], "varnel");
        EXPECT_TRUE(c["device"]["identifiers"].is_array()) << topic;
        EXPECT_EQ(c["origin"]["name"], "varnel");
        if (component == "device_automation") {
            // Strings all; the topic whole, since the base is not applied to it everywhere.
            EXPECT_EQ(c["automation_type"], "trigger") << topic;
            for (const auto& key : {"topic", "type", "subtype", "payload"}) EXPECT_TRUE(c[key].is_string()) << topic;
            EXPECT_TRUE(c["topic"].get<std::string>().starts_with("varnel/")) << topic;
            continue;
        }
        EXPECT_TRUE(c.contains("availability") != c.contains("availability_topic")) << topic;
        if (c.contains("icon")) {
            EXPECT_TRUE(c["icon"].get<std::string>().starts_with("mdi:")) << topic;
        }
        if (c.contains("entity_category")) {
            EXPECT_NE(c["entity_category"], "config") << topic;  // none writable
        }
        EXPECT_EQ(c["default_entity_id"].get<std::string>().find(component + "."), 0u) << topic;
        for (const auto& key : {"state_topic", "command_topic"}) {
            if (c.contains(key)) {
                EXPECT_TRUE(c[key].get<std::string>().starts_with("~/")) << topic;
            }
        }
    }
    // Variables 0-3 and 127 that keeps the second house code; 8 inputs and the link; 8 outputs
    // of the SECU16 and 2 relays; TV Power and TV Mute as buttons and as triggers; no Leopard.
    EXPECT_EQ(counts, (std::map<std::string, int>{{"binary_sensor", 9},
                                                  {"button", 2},
                                                  {"device_automation", 2},
                                                  {"event", 2},
                                                  {"number", 5},
                                                  {"sensor", 4},
                                                  {"switch", 10}}));
    EXPECT_EQ(b.transport.will.topic + " " + b.transport.will.payload, "varnel/status offline");
    EXPECT_EQ(
        b.transport.retained.at("varnel/status") + " " + b.transport.retained.at("varnel/controller/availability"),
        "online online");
}

// Each module, the variables and the IR codes a device of its own under the controller;
// the controller keeps the link and the counts. Every config of a device says the same
// of it.
TEST_F(Discovery, modules_variables_and_ir_codes_are_devices_under_the_controller) {
    const std::tuple<const char*, const char*, const char*> where[] = {
        {"binary_sensor/varnel_unit1_point2", "SECU16 unit 1", "SECU16"},
        {"switch/varnel_unit1_point8", "SECU16 unit 1", "SECU16"},
        {"switch/varnel_unit3_point0", "RELAY-08 unit 3", "RELAY-08"},
        {"number/varnel_var2", "Ocelot variables", "Ocelot variables"},
        {"button/varnel_ir0", "Ocelot IR codes", "Ocelot IR codes"},
        {"event/varnel_ir_heard", "Ocelot IR codes", "Ocelot IR codes"},
        {"binary_sensor/varnel_link", "Ocelot", "Ocelot / CPU-XA"},
        {"sensor/varnel_timeouts", "Ocelot", "Ocelot / CPU-XA"},
        {"sensor/varnel_refused", "Ocelot", "Ocelot / CPU-XA"},
        {"event/varnel_x10_heard", "Ocelot", "Ocelot / CPU-XA"},
    };
    const auto configs = b.configs();
    for (const auto& [config, name, model] : where) {
        const json& device = configs.at("homeassistant/" + std::string(config) + "/config")["device"];
        EXPECT_EQ(device["name"], name) << config;
        EXPECT_EQ(device["model"], model) << config;
        EXPECT_EQ(device["manufacturer"], "Applied Digital") << config;
        EXPECT_EQ(device.value("via_device", "none"), std::string(name) == "Ocelot" ? "none" : "varnel_controller")
            << config;
    }
    std::map<std::string, json> devices;
    for (const auto& [topic, c] : configs) {
        const auto [it, added] = devices.try_emplace(c["device"]["identifiers"][0], c["device"]);
        EXPECT_EQ(it->second, c["device"]) << topic;
    }
    EXPECT_EQ(devices.size(), 5u);  // controller, SECU16 unit 1, RELAY-08 unit 3, variables, IR codes
}

// Topics, entity ids and names count a point as the host names it; the unique id keeps
// the count from 0 it had, so Home Assistant keeps the user's settings of the entity.
TEST_F(Discovery, names_topics_and_entity_ids_count_points_alike) {
    const std::tuple<const char*, const char*, const char*, const char*, const char*> points[] = {
        {"binary_sensor/varnel_unit1_point2", "Input 3", "~/unit/1/input/3/state", "",
         "binary_sensor.varnel_unit1_input3"},
        {"switch/varnel_unit1_point8", "Relay Output 1", "~/unit/1/output/1/state", "~/unit/1/output/1/set",
         "switch.varnel_unit1_output1"},
        {"switch/varnel_unit1_point15", "Relay Output 8", "~/unit/1/output/8/state", "~/unit/1/output/8/set",
         "switch.varnel_unit1_output8"},
        {"switch/varnel_unit3_point1", "Relay Output 2", "~/unit/3/output/2/state", "~/unit/3/output/2/set",
         "switch.varnel_unit3_output2"},
    };
    const auto configs = b.configs();
    for (const auto& [config, name, topic, command, entityId] : points) {
        const json& c = configs.at("homeassistant/" + std::string(config) + "/config");
        EXPECT_EQ(c["name"], name) << config;
        EXPECT_EQ(c["state_topic"], topic) << config;
        EXPECT_EQ(c.value("command_topic", ""), command) << config;
        EXPECT_EQ(c["default_entity_id"], entityId) << config;
    }
}

// An earlier version's config of the same entity kept its state on the older topic:
// that retained state goes, the config and the new state stay.
TEST_F(Discovery, the_state_an_earlier_version_kept_on_an_older_topic_is_removed) {
    const std::string config = "homeassistant/binary_sensor/varnel_unit1_point2/config";
    b.transport.retained["varnel/unit/1/point/2/state"] = "ON";
    b.transport.drop();
    b.run(2000);
    // What the broker kept from the earlier version, passed on when the scan subscribes.
    b.transport.retained[config] =
        json{{"~", "varnel"}, {"unique_id", "varnel_unit1_point2"}, {"state_topic", "~/unit/1/point/2/state"}}.dump();
    b.transport.accept();
    b.run(1000);
    EXPECT_FALSE(b.kept("varnel/unit/1/point/2/state"));
    EXPECT_TRUE(b.kept(config) && b.kept("varnel/unit/1/input/3/state"));
}

TEST_F(Discovery, the_controller_entities_are_diagnostic_and_the_names_come_from_the_host) {
    const auto configs = b.configs();
    EXPECT_EQ(configs.at("homeassistant/binary_sensor/varnel_unit1_point2/config")["availability_mode"], "all");
    const json& link = configs.at("homeassistant/binary_sensor/varnel_link/config");
    EXPECT_EQ(link["device_class"].get<std::string>() + " " + link["entity_category"].get<std::string>() + " " +
                  link["availability_topic"].get<std::string>(),
              "connectivity diagnostic ~/status");
    const json& power = configs.at("homeassistant/button/varnel_ir0/config");
    EXPECT_EQ(power["name"].get<std::string>() + " " + power["command_topic"].get<std::string>(),
              "TV POWER ~/ir/0/play");  // named as the plug-in plays it
}

// A System Map sync renames devices and may give them names in the Windows code page.
TEST_F(Discovery, renames_and_deletions_reach_home_assistant) {
    const std::string code = b.code("Input 3", "Secu16 Unit 1");
    auto dev = b.c.rig.host->GetDeviceByRef(b.c.rig.host->DeviceExistsRef(code));
    dev->set_location(
        "K\xFC"
        "che");
    dev->set_name("Door");
    b.run(1500);
    EXPECT_EQ(b.configs().at("homeassistant/binary_sensor/varnel_unit1_point2/config")["name"], "K\u00fcche Door");

    ASSERT_TRUE(b.kept("homeassistant/number/varnel_var3/config") && b.kept("varnel/var/3/state"));
    b.c.ok("mirror vars 0-2");
    b.run(1500);
    EXPECT_FALSE(b.kept("homeassistant/number/varnel_var3/config"));
    EXPECT_FALSE(b.kept("varnel/var/3/state"));
    EXPECT_TRUE(b.kept("homeassistant/number/varnel_var2/config"));
}

TEST_F(Discovery, an_input_change_on_the_line_reaches_its_state_topic) {
    const auto before = b.state("unit/1/input/5/state");
    ASSERT_TRUE(before == "ON" || before == "OFF") << before.value_or("none");
    const bool wasOn = before == "ON";
    // A stored bit that is set reads as 0: off.
    b.c.rig.controller.changeInput(1, 4, wasOn);
    b.run(300);
    EXPECT_EQ(b.state("unit/1/input/5/state"), wasOn ? "OFF" : "ON");
    EXPECT_EQ(b.transport.retained.at("varnel/unit/1/input/5/state"), wasOn ? "OFF" : "ON");

    b.c.rig.controller.setVariable(1, 77);
    b.run(1500);
    EXPECT_EQ(b.state("var/1/state"), "77");

    b.c.rig.controller.emitIrMatch(0);
    b.run(300);
    const auto ir = json::parse(b.state("ir/event").value_or("{}"));
    EXPECT_EQ(ir["event_type"], "received");
    EXPECT_EQ(ir["code"], 0);
    EXPECT_EQ(ir["label"], "TV POWER");
    EXPECT_FALSE(b.kept("varnel/ir/event"));

    CreateLeopardDevice(b.c.rig.ctx());
    b.run(1500);
    EXPECT_EQ(b.configs().at("homeassistant/sensor/varnel_leopard_touch/config")["device"]["name"], "Leopard");
    b.c.rig.controller.emitTouch(42);
    b.run(300);
    EXPECT_EQ(b.state("leopard/touch/state"), "42");
}

// A variable the controller was not asked for yet has no state (Home Assistant shows
// unknown) rather than the 0 of a new host device.
TEST(Variables, have_no_state_until_the_controller_was_read) {
    test::BridgeRig b;
    b.c.rig.controller.faults().badCrcBlocks = 1'000'000;  // every poll's reply is refused
    b.c.rig.controller.setVariable(1, 77);
    b.start();
    b.run(3000);
    ASSERT_TRUE(b.configs().contains("homeassistant/number/varnel_var1/config"));
    for (const char* v : {"var/0/state", "var/1/state"}) EXPECT_EQ(b.transport.count(b.topic(v)), 0u) << v;
    b.c.rig.controller.faults().badCrcBlocks = 0;
    b.run(3000);
    EXPECT_EQ(b.state("var/0/state"), "0");
    EXPECT_EQ(b.state("var/1/state"), "77");
}

// The screen's entities come with its host device: without one nothing is announced,
// a config an earlier run left is removed, and a write is refused with the reason.
TEST(Screen, is_there_only_with_a_leopard_device) {
    test::BridgeRig b;
    b.start();
    const std::string notify = "homeassistant/notify/varnel_screen/config";
    for (const auto& [topic, c] : b.configs()) EXPECT_NE(c["device"]["name"], "Leopard") << topic;
    b.transport.retained[notify] = "left";
    b.transport.send(
        notify, json{{"~", "varnel"}, {"unique_id", "varnel_screen"}, {"command_topic", "~/screen/set"}}.dump(), true);
    EXPECT_FALSE(b.kept(notify));

    for (const char* topic : {"screen/set", "screen/write"}) b.send(topic, R"({"text":"Hello"})");
    EXPECT_EQ(b.refused(), 2u);
    EXPECT_TRUE(b.logged("no Leopard screen")) << ::testing::PrintToString(b.log);
    b.addLeopard();
    EXPECT_EQ(b.configs().at(notify)["device"]["name"], "Leopard");
    b.send("screen/set", "Hello");
    b.run(1000);
    EXPECT_EQ(b.screen(), "Hello@0,0+clear");
}

TEST_F(Discovery, a_silent_controller_makes_its_entities_unavailable_and_counts_the_timeouts) {
    EXPECT_EQ(b.state("controller/link"), "ON");
    b.c.rig.controller.faults().silent = true;
    b.run(30'000);
    EXPECT_EQ(b.state("controller/link"), "OFF");
    EXPECT_EQ(b.state("controller/availability"), "offline");
    EXPECT_NE(b.state("controller/timeouts"), "0");
    b.c.rig.controller.faults().silent = false;
    b.run(30'000);
    EXPECT_EQ(b.state("controller/availability"), "online");
}

}  // namespace
}  // namespace varnel

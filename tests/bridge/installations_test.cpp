// Several installations on one broker: each names its own ids, empties only its own
// retained configs, and leaves a base topic that another one holds alone.
#include <gtest/gtest.h>

#include <algorithm>

#include "bridge/installation.h"
#include "bridge_rig.h"

namespace varnel {
namespace {

using nlohmann::json;

constexpr const char* kOther = "0th3r1n5ta11";

bridge::BridgeOptions installation(bool legacyIds, int logLines = 10) {
    bridge::BridgeOptions o;
    o.installation = "a1b2c3d4e5f6";
    o.legacyIds = legacyIds;
    o.logLines = logLines;
    return o;
}

// Published below the base topic since the `from`th message.
std::vector<std::string> belowBase(const test::FakeTransport& t, std::size_t from = 0) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < t.published.size(); ++i)
        if (t.published[i].topic.starts_with("varnel/")) out.push_back(t.published[i].topic);
    return out;
}

TEST(Installations, ids_outside_carry_the_installation_and_a_host_directory_of_an_earlier_varnel_keeps_its_own) {
    for (const auto& [legacy, id] : {std::pair{false, "varnel_a1b2c3d4e5f6_"}, std::pair{true, "varnel_"}}) {
        SCOPED_TRACE(id);
        test::BridgeRig b(installation(legacy));
        b.start();
        const auto configs = b.configs();
        const json& input = configs.at("homeassistant/binary_sensor/" + std::string(id) + "unit1_point2/config");
        EXPECT_EQ(input["unique_id"], std::string(id) + "unit1_point2");
        EXPECT_EQ(input["device"]["identifiers"], json::array({std::string(id) + "unit1"}));
        EXPECT_EQ(input["device"]["via_device"], std::string(id) + "controller");
        // What people see stays the same either way.
        EXPECT_EQ(input["default_entity_id"].get<std::string>() + " " + input["name"].get<std::string>() + " " +
                      input["device"]["name"].get<std::string>(),
                  "binary_sensor.varnel_unit1_input3 Input 3 SECU16 unit 1");
        for (const auto& [topic, config] : configs) {
            EXPECT_EQ(config["varnel_installation"], "a1b2c3d4e5f6") << topic;
            EXPECT_TRUE(config["unique_id"].get<std::string>().starts_with(id)) << topic;
        }
        EXPECT_EQ(b.transport.retained.at("varnel/bridge/installation"), "a1b2c3d4e5f6");
    }
}

TEST(Installations, the_leftover_scan_empties_only_this_installations_configs) {
    auto config = [](json extra) {
        json c{{"~", "varnel"}, {"name", "x"}, {"state_topic", "~/var/99/state"}};
        c.update(extra);
        return c.dump();
    };
    const std::tuple<const char*, std::string, bool, bool> cases[] = {
        // removed: new installation, legacy ids
        {"ours, for a device deleted since",
         config({{"unique_id", "varnel_a1b2c3d4e5f6_var99"}, {"varnel_installation", "a1b2c3d4e5f6"}}), true, true},
        {"ours, made under another base topic",
         config({{"~", "house"}, {"unique_id", "varnel_x"}, {"varnel_installation", "a1b2c3d4e5f6"}}), true, true},
        {"another installation's", config({{"unique_id", "varnel_var99"}, {"varnel_installation", kOther}}), false,
         false},
        {"an earlier varnel's on our base", config({{"unique_id", "varnel_var99"}}), false, true},
        {"an earlier varnel's on another base", config({{"~", "house"}, {"unique_id", "house_var99"}}), false, false},
        {"an earlier varnel's of another unique id", config({{"unique_id", "other_var99"}}), false, false},
        {"a mark that is no text", config({{"unique_id", "varnel_var99"}, {"varnel_installation", 7}}), false, false},
        {"not JSON", "{not json", false, false},
        {"a JSON list", "[1]", false, false},
    };
    for (const bool legacy : {false, true}) {
        test::BridgeRig b(installation(legacy));
        b.start();
        for (const auto& [what, payload, removedNew, removedLegacy] : cases) {
            SCOPED_TRACE(std::string(what) + (legacy ? ", legacy ids" : ", new installation"));
            const std::string topic = "homeassistant/number/left/config";
            b.transport.retained[topic] = payload;
            b.transport.retained["varnel/var/99/state"] = "12";
            b.transport.send(topic, payload, true);
            const bool removed = legacy ? removedLegacy : removedNew;
            EXPECT_EQ(!b.kept(topic), removed);
            // The state goes with it, where it lies below our base.
            EXPECT_EQ(!b.kept("varnel/var/99/state"), removed && json::parse(payload)["~"] == "varnel");
        }
        // One of ours today, and the state one of ours uses now, stay.
        const std::string current =
            legacy ? "homeassistant/number/varnel_var1/config" : "homeassistant/number/varnel_a1b2c3d4e5f6_var1/config";
        const std::size_t before = b.transport.count(current);
        b.transport.send(current, config({{"unique_id", "old"}, {"varnel_installation", "a1b2c3d4e5f6"}}), true);
        b.transport.retained["homeassistant/switch/varnel_gone/config"] = "x";
        b.transport.send("homeassistant/switch/varnel_gone/config",
                         config({{"unique_id", "varnel_gone"},
                                 {"varnel_installation", "a1b2c3d4e5f6"},
                                 {"state_topic", "~/var/1/state"}}),
                         true);
        EXPECT_EQ(b.transport.count(current), before);
        EXPECT_FALSE(b.kept("homeassistant/switch/varnel_gone/config"));
        EXPECT_TRUE(std::none_of(b.transport.published.begin(), b.transport.published.end(), [](const auto& p) {
            return p.topic == "varnel/var/1/state" && p.payload.empty();
        })) << "a state in use is never emptied";
        EXPECT_EQ(b.refused(), 0u);
    }
}

// What the broker kept on the base's status and installation topics when the bridge connects.
TEST(Installations, a_base_topic_that_another_live_installation_holds_is_watched_not_taken) {
    const std::tuple<std::optional<std::string>, std::optional<std::string>, bool, const char*> cases[] = {
        {std::nullopt, std::nullopt, true, nullptr},
        {"offline", kOther, true, nullptr},
        {"online", "a1b2c3d4e5f6", true, nullptr},  // our own run that was killed a moment ago
        {"online", kOther, false,
         "the base topic \"varnel\" is held by installation \"0th3r1n5ta11\", which is online; this installation "
         "(a1b2c3d4e5f6) publishes nothing there and takes over when it goes offline. To run both, give this one "
         "another base topic (--mqtt-base-topic)"},
        {"online", std::nullopt, false, "is held by an installation that names none (an earlier varnel)"},
        {"online", "x\n\x1b[2J", false, "is held by installation \"x??[2J\""},
    };
    for (const auto& [status, holder, holds, line] : cases) {
        SCOPED_TRACE(status.value_or("-") + " " + holder.value_or("-"));
        test::BridgeRig b(installation(false));
        if (status) b.transport.retained["varnel/status"] = *status;
        if (holder) b.transport.retained["varnel/bridge/installation"] = *holder;
        b.start();
        if (b.transport.pending) b.transport.accept();  // the watcher's connection
        b.run(3000);
        EXPECT_EQ(b.bridge->holding(), holds);
        if (holds) {
            EXPECT_EQ(b.transport.retained.at("varnel/status"), "online");
            EXPECT_EQ(b.transport.will.topic, "varnel/status");
            continue;
        }
        EXPECT_TRUE(b.bridge->connected());
        EXPECT_EQ(belowBase(b.transport), std::vector<std::string>{}) << "nothing published below the base";
        EXPECT_EQ(b.transport.will.topic, "") << "no last will that would mark the other one offline";
        EXPECT_TRUE(b.logged(line)) << testing::PrintToString(b.log);
        // The holder stays online: nothing changes, and no second line.
        b.run(60'000);
        EXPECT_FALSE(b.bridge->holding());
        EXPECT_EQ(b.log.size(), 2u) << testing::PrintToString(b.log);

        // Commands on the base are the holder's.
        b.send("var/1/set", "5");
        b.run(1000);
        EXPECT_EQ(b.refused(), 0u);
        EXPECT_NE(b.sim().variable(1), 5);

        // The holder goes (its last will), and this one takes the base over.
        b.transport.retained["varnel/status"] = "offline";
        b.transport.send("varnel/status", "offline");
        EXPECT_TRUE(b.logged("the base topic \"varnel\" is free: taking it over"));
        b.transport.accept();
        b.run(1000);
        EXPECT_TRUE(b.bridge->holding());
        EXPECT_EQ(b.transport.will.topic, "varnel/status");
        EXPECT_EQ(b.transport.retained.at("varnel/status") + b.transport.retained.at("varnel/bridge/installation"),
                  "onlinea1b2c3d4e5f6");
        EXPECT_GE(b.configs().size(), 30u);
    }
}

// A status left online by a holder that died while the broker was away: the holder's
// silence gives the base away; a holder that says it is alive keeps it.
TEST(Installations, a_holder_that_falls_silent_is_taken_over_one_that_says_it_is_alive_is_not) {
    const std::tuple<const char*, std::optional<std::string>, bool, bool> cases[] = {
        // says alive, taken over
        {"silent", kOther, false, true},
        {"alive", kOther, true, false},
        {"an earlier varnel, which never says it is alive", std::nullopt, false, false},
    };
    for (const auto& [what, holder, saysAlive, takesOver] : cases) {
        SCOPED_TRACE(what);
        auto o = installation(false);
        o.aliveMs = 10'000;
        test::BridgeRig b(o);
        b.transport.retained["varnel/status"] = "online";
        if (holder) b.transport.retained["varnel/bridge/installation"] = *holder;
        b.start();
        if (b.transport.pending) b.transport.accept();  // the watcher's connection
        b.run(1000);
        ASSERT_FALSE(b.bridge->holding());
        EXPECT_TRUE(b.transport.subscribed("varnel/bridge/alive"));
        for (int i = 0; i < 10; ++i) {  // ten of the holder's periods
            if (saysAlive) b.transport.send("varnel/bridge/alive", kOther);
            b.run(10'000);
            if (b.transport.pending) b.transport.accept();
        }
        b.run(1000);
        EXPECT_EQ(b.bridge->holding(), takesOver);
        EXPECT_EQ(b.logged("installation \"0th3r1n5ta11\", which has not said it is alive for 30 s: taking it over"),
                  takesOver)
            << testing::PrintToString(b.log);
        if (!takesOver) {
            EXPECT_EQ(belowBase(b.transport), std::vector<std::string>{});
            continue;
        }
        EXPECT_EQ(b.transport.retained.at("varnel/status") + b.transport.retained.at("varnel/bridge/installation"),
                  "onlinea1b2c3d4e5f6");
        // Now this one says it is alive, and hearing itself is no command to refuse.
        const std::size_t said = b.transport.count("varnel/bridge/alive");
        b.run(20'000);
        EXPECT_EQ(b.transport.count("varnel/bridge/alive"), said + 2);
        EXPECT_EQ(b.refused(), 0u);
    }
}

// Two that found the base free claim it at once: the broker passes one claim on first,
// and both go by that.
TEST(Installations, of_two_claims_at_once_the_one_the_broker_passed_on_first_holds) {
    // The claims as the broker passes them on after ours went out.
    const std::tuple<const char*, std::vector<std::string>, bool> cases[] = {
        {"ours first", {"a1b2c3d4e5f6", kOther}, true},
        {"theirs first", {kOther, "a1b2c3d4e5f6"}, false},
        {"ours never comes back", {}, true},
    };
    for (const auto& [what, claims, holds] : cases) {
        SCOPED_TRACE(what);
        test::BridgeRig b(installation(false));
        b.connect(false);
        b.transport.loop = nullptr;  // the broker's messages come by hand now
        b.run(600);
        ASSERT_EQ(b.transport.last("varnel/bridge/installation"), "a1b2c3d4e5f6");
        ASSERT_FALSE(b.bridge->holding());
        for (const auto& claim : claims) b.transport.send("varnel/bridge/installation", claim);
        b.run(1000);
        EXPECT_EQ(b.bridge->holding(), holds);
        EXPECT_EQ(b.logged("is held by installation \"0th3r1n5ta11\""), !holds);
        EXPECT_EQ(b.kept("varnel/status"), holds);
        if (holds && !claims.empty()) {
            // What the broker keeps names the holder again.
            EXPECT_EQ(b.transport.count("varnel/bridge/installation"), 2u);
            // A will of one that looked while it had one: the holder says online again.
            const std::size_t said = b.transport.count("varnel/status");
            b.transport.send("varnel/status", "offline");
            EXPECT_EQ(b.transport.count("varnel/status"), said + 1);
            EXPECT_EQ(b.transport.last("varnel/status"), "online");
        }
    }
}

// Another installation's claim while this one still looks: it stands back at once.
TEST(Installations, a_claim_seen_while_looking_is_respected) {
    test::BridgeRig b(installation(false));
    b.connect(false);
    b.run(100);
    b.transport.send("varnel/bridge/installation", kOther);
    b.run(1000);
    EXPECT_FALSE(b.bridge->holding());
    EXPECT_EQ(belowBase(b.transport), std::vector<std::string>{});
}

TEST(Installations, an_id_is_made_once_and_a_host_directory_of_an_earlier_varnel_keeps_its_unique_ids) {
    // What is stored: the id and legacy ids; whether an earlier varnel used the directory.
    using Id = std::optional<std::string>;
    using Saved = std::vector<std::string>;
    const std::tuple<const char*, Id, bool, bool, bridge::Installation, Saved> cases[] = {
        {"a new host directory", std::nullopt, false, false, {"made1", false}, {"identity=made1"}},
        {"one an earlier varnel used", std::nullopt, false, true, {"made1", true}, {"legacy_ids=1", "identity=made1"}},
        {"stopped between the two writes", std::nullopt, true, true, {"made1", true}, {"identity=made1"}},
        {"one with its id", "keep1", false, true, {"keep1", false}, {}},
        {"one with its id and legacy ids", "keep1", true, false, {"keep1", true}, {}},
    };
    for (const auto& [what, storedId, storedLegacy, usedBefore, result, written] : cases) {
        Saved saved;
        const auto got = bridge::settleInstallation(
            storedId, storedLegacy, usedBefore,
            [&](std::string_view key, const std::string& value) { saved.push_back(std::string(key) + "=" + value); },
            [] { return std::string("made1"); });
        EXPECT_EQ(got, result) << what;
        EXPECT_EQ(saved, written) << what;
    }
    const std::string a = bridge::newIdentity();
    EXPECT_EQ(a.size(), 12u);
    EXPECT_EQ(bridge::identityProblem(a), std::nullopt);
    EXPECT_NE(a, bridge::newIdentity());
}

TEST(Installations, ids_and_settings_texts_are_checked) {
    for (const char* good : {"abcd", "3f9a1c2b7e4d", "0123456789abcdef"})
        EXPECT_EQ(bridge::identityProblem(good), std::nullopt) << good;
    for (const char* bad : {"", "abc", "0123456789abcdef0", "ABCD1234", "a1b2-c3d4", "a1b2 c3d4", "a1b2/#"})
        EXPECT_NE(bridge::identityProblem(bad), std::nullopt) << bad;

    const std::pair<const char*, bool> cases[] = {
        {"", false},
        {"[varnel]\r\nmqtt=mqtt://x\r\n", false},
        {"[Varnel]\nidentity=abcd\n", false},
        {"[varnel]\r\nmqtt=mqtt://x\r\n[Tarnwick]\r\nregmoved=1\r\n", true},
        {"\xEF\xBB\xBF[Tarnwick]\nregmoved=1\n", true},
        {"; [Tarnwick]\n", false},
        {"  [tarnwick]  \n", true},
    };
    for (const auto& [text, plugin] : cases) EXPECT_EQ(bridge::holdsPluginSettings(text), plugin) << text;
}

}  // namespace
}  // namespace varnel

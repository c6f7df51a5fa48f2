// The host's device calls as the plug-in uses them, its event receivers and its free codes.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "host/device_table.h"
#include "host_fixture.h"

namespace varnel::test {
namespace {

// The two call sets of the host: by 16-bit index (hosts 1.x) and by 32-bit reference.
struct Generation {
    const char* version;
    std::function<std::int32_t(Host&, const std::string&)> create;
    std::function<std::int32_t(const Host&, const std::string&)> exists;
    std::function<std::shared_ptr<Device>(Host&, std::int32_t)> get;
};
const Generation kGenerations[] = {
    {"1.7.44", [](Host& h, const std::string& n) { return std::int32_t{h.NewDevice(n)}; },
     [](const Host& h, const std::string& c) { return std::int32_t{h.DeviceExists(c)}; },
     [](Host& h, std::int32_t i) { return h.GetDevice(static_cast<std::int16_t>(i)); }},
    {"2.5.0.81", [](Host& h, const std::string& n) { return h.NewDeviceRef(n); },
     [](const Host& h, const std::string& c) { return h.DeviceExistsRef(c); },
     [](Host& h, std::int32_t r) { return h.GetDeviceByRef(r); }},
};

TEST(DeviceCalls, a_code_names_a_device_whole_and_a_deleted_one_is_gone_on_both_call_sets) {
    for (const Generation& gen : kGenerations) {
        SCOPED_TRACE(gen.version);
        HostFixture fx(EmbeddedHostOptions{.version = gen.version});
        EmbeddedHost& hs = *fx.host;
        const std::int32_t id = gen.create(hs, "Variable 0");
        auto d = gen.get(hs, id);
        EXPECT_EQ(gen.exists(hs, ""), -1) << "an empty code never names a device";
        d->set_hc("Q");
        d->set_dc("1");
        EXPECT_EQ(gen.exists(hs, "Q1"), id);
        for (const char* other : {"Q", "Q10", "q1"}) EXPECT_EQ(gen.exists(hs, other), -1) << other;
        const std::int32_t ref = addDevice(hs, "b", "Q", "2");
        auto b = hs.GetDeviceByRef(ref);
        hs.DeleteDevice(ref);
        EXPECT_EQ(gen.exists(hs, "Q2"), -1);
        EXPECT_THROW((void)b->name(), HostError);
        EXPECT_THROW(b->set_Status(2), HostError);
        hs.DeleteDevice(ref);  // a second delete is harmless
        EXPECT_EQ(hs.DeviceCount(), 1) << "a write on a dead object must not bring it back";
        for (const std::int32_t bad : {0, -1, ref}) EXPECT_THROW(gen.get(hs, bad), HostError) << bad;
    }
}

TEST(DeviceCalls, indexes_close_up_after_a_delete_references_are_never_reused_and_twins_find_the_first) {
    HostFixture fx({.version = "1.7"});
    EmbeddedHost& hs = *fx.host;
    for (const char* dc : {"1", "2", "3"}) addDevice(hs, "dev", "R", dc);
    const std::int32_t ref2 = hs.GetDevice(2)->ref(), ref3 = hs.GetDevice(3)->ref();
    EXPECT_GT(ref2, 32767) << "references lie above the 16-bit range";
    hs.DeleteDevice(ref2);
    EXPECT_EQ(hs.DeviceExists("R3"), 2);
    hs.DeleteDevice(ref3);
    EXPECT_EQ(hs.NewDevice("dev 4"), 2);
    EXPECT_EQ(hs.GetDevice(2)->ref(), ref3 + 1);

    const std::int32_t twins[2] = {addDevice(hs, "twin", "S", "4"), addDevice(hs, "twin", "S", "4")};
    hs.SetDeviceStatus("S4", 2);
    EXPECT_EQ(hs.GetDeviceByRef(twins[0])->Status(), 2);
    EXPECT_EQ(hs.GetDeviceByRef(twins[1])->Status(), 0);
}

TEST(DeviceCalls, an_enumeration_meets_devices_added_during_it_and_passes_over_deleted_ones) {
    HostFixture fx;
    EmbeddedHost& hs = *fx.host;
    hs.NewDeviceRef("a");
    const std::int32_t b = hs.NewDeviceRef("b");
    hs.NewDeviceRef("c");
    auto e = hs.GetDeviceEnumerator();
    EXPECT_EQ(e->GetNext()->name(), "a");
    hs.GetDeviceByRef(b)->set_name("x");
    EXPECT_FALSE(e->CountChanged()) << "a member write is no change of the count";
    hs.DeleteDevice(b);
    hs.NewDeviceRef("d");
    std::vector<std::string> names;
    while (!e->Finished())
        if (auto d = e->GetNext()) names.push_back(d->name());
    EXPECT_EQ(names, (std::vector<std::string>{"c", "d"}));
    EXPECT_TRUE(e->CountChanged());
    EXPECT_EQ(e->GetNext(), nullptr);
}

TEST(DeviceCalls, on_and_off_follow_status_2_and_3_and_unknown_codes_change_nothing) {
    HostFixture fx;
    EmbeddedHost& hs = *fx.host;
    auto d = hs.GetDeviceByRef(addDevice(hs, "v", "Q", "12"));
    for (const auto& [status, on, off] : {std::tuple{2, true, false}, std::tuple{3, false, true},
                                          std::tuple{17, false, false}, std::tuple{0, false, false}}) {
        hs.SetDeviceStatus("Q12", static_cast<std::int16_t>(status));
        EXPECT_EQ((std::tuple{d->Status(), hs.ison("Q12"), hs.isoff("Q12")}), (std::tuple{status, on, off}));
    }
    for (const std::string& code : {std::string("Z9"), std::string(), std::string(5000, 'x')}) {
        hs.SetDeviceStatus(code, 2);
        hs.SetDeviceValue(code, 7);
        EXPECT_EQ(hs.DeviceStatus(code) + hs.DeviceValue(code), 0);
        EXPECT_FALSE(hs.ison(code) || hs.events().back().known);
    }
    EXPECT_EQ(hs.DeviceCount(), 1);
}

TEST(HostEvents, every_receiver_hears_every_event_while_its_handle_lives) {
    HostFixture fx;
    EmbeddedCallback cb(fx.host);
    std::vector<std::string> first, second, observer;
    fx.host->onEvent = [&](const host::HostEvent& e) { observer.push_back(host::describe(e)); };
    auto a = fx.host->subscribe([&](const host::HostEvent& e) { first.push_back(host::describe(e)); });
    std::optional<EmbeddedHost::Subscription> b =
        fx.host->subscribe([&](const host::HostEvent& e) { second.push_back(host::describe(e)); });
    cb.X10Event("A1", "A", 2, "0", "");
    b.reset();
    cb.ValueChangeEvent("#12", 70000);
    fx.host->SetDeviceStatus("#12", 3);
    EXPECT_EQ(observer, (std::vector<std::string>{"X10 A1 house A command 2 level 0", "ValueChange #12 = 70000",
                                                  "Status #12 = 3 (no such device)"}));
    EXPECT_EQ(first, observer);
    EXPECT_EQ(second.size(), 1u);
    EmbeddedHost::Subscription moved = std::move(a);
    cb.IREvent(3);
    EXPECT_EQ(first.size(), 4u) << "a moved handle keeps the receiver";
    moved.reset();
    cb.IREvent(4);
    EXPECT_EQ(first.size(), 4u);

    // One dropped by another during an event is not called; one added then hears the next.
    std::optional<EmbeddedHost::Subscription> victim, late;
    int victimCalls = 0, added = 0;
    auto killer = fx.host->subscribe([&](const host::HostEvent&) {
        victim.reset();
        if (!late) late = fx.host->subscribe([&](const host::HostEvent&) { ++added; });
    });
    victim = fx.host->subscribe([&](const host::HostEvent&) { ++victimCalls; });
    cb.IREvent(1);
    cb.IREvent(2);
    EXPECT_EQ(std::pair(victimCalls, added), std::pair(0, 1));
    EmbeddedHost::Subscription outliving;
    {
        HostFixture gone;
        outliving = gone.host->subscribe([](const host::HostEvent&) {});
    }
    outliving.reset();  // a handle outliving the host is harmless
}

TEST(FreeHouseCodes, the_first_code_of_the_order_no_device_uses_and_never_an_x10_letter) {
    HostFixture fx;
    EmbeddedHost& hs = *fx.host;
    EmbeddedCallback cb(fx.host);
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'Q');
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'Q') << "offering a code does not take it";
    addDevice(hs, "d", "Q");
    addDevice(hs, "d", "R", "12");
    addDevice(hs, "d", "A");
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'S');
    hs.DeleteDevice(hs.DeviceExistsRef("R12"));
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'R') << "a code is free again once its last device is gone";
    std::size_t taken = 0;
    for (std::int32_t c = cb.GetNextFreeIOCode(); c != -1; c = cb.GetNextFreeIOCode()) {
        EXPECT_FALSE((c >= 'A' && c <= 'P') || (c >= '0' && c <= '9') || c == '!' || c == ',' || c <= ' ') << c;
        addDevice(hs, "d", std::string(1, static_cast<char>(c)));
        ASSERT_LE(++taken, 256u) << "offered a used code again";
    }
    EXPECT_EQ(taken + 1, host::defaultFreeCodeOrder().size());

    const std::tuple<std::vector<int>, std::vector<char>, std::int32_t> orders[] = {
        {{96, 35}, {'`'}, 35}, {{'A', 'P', 'Z'}, {}, 'Z'}, {{'[', ']'}, {'[', ']'}, -1}, {{0, -3, 300, 'x'}, {}, 'x'}};
    for (const auto& [order, used, offered] : orders) {
        HostFixture other;
        other.host->setFreeCodeOrder(order);
        for (char hc : used) addDevice(*other.host, "d", std::string(1, hc));
        EXPECT_EQ(EmbeddedCallback(other.host).GetNextFreeIOCode(), offered);
    }
}

}  // namespace
}  // namespace varnel::test

namespace varnel::host {
namespace {

TEST(DeviceTable, stops_at_the_16_bit_count_and_never_hands_out_a_reference_at_or_below_a_loaded_one) {
    DeviceTable full(1);
    for (std::size_t i = 0; i < DeviceTable::kMaxDevices; ++i) full.add("d");
    EXPECT_THROW(full.add("one too many"), std::length_error);
    const std::tuple<std::vector<std::int32_t>, std::int32_t, std::int32_t> cases[] = {
        {{40001, 40005}, 40003, 40006}, {{40003}, 40003, 40004}, {{40001}, 50000, 50000}, {{7}, 0, 40001}};
    for (const auto& [loaded, savedNext, expected] : cases) {
        DeviceTable t(40001);
        std::vector<DeviceRecord> records;
        for (auto r : loaded) records.push_back({.ref = r});
        t.load(records, savedNext);
        EXPECT_EQ(t.add("new"), expected);
    }
    DeviceTable last(1);
    last.load({{.ref = std::numeric_limits<std::int32_t>::max()}}, 0);
    EXPECT_THROW(last.add("x"), std::length_error) << "the last reference is never given twice";
}

TEST(DeviceTable, loads_in_reference_order_and_finds_a_code_whole_and_a_house_code_by_its_first_character) {
    DeviceTable t(1);
    t.load({{.ref = 9, .hc = "R1", .dc = "2"}, {.ref = 1, .hc = "Q", .dc = "12"}, {.ref = 5, .hc = "", .dc = ""}}, 0);
    EXPECT_EQ(t.records()[1].ref, 5);
    EXPECT_EQ(t.indexOfCode("Q12"), 0u);
    EXPECT_EQ(t.indexOfCode("R12"), 2u) << "a code is hc and dc joined, however they were split";
    EXPECT_EQ(t.indexOfCode("Q1"), std::nullopt);
    EXPECT_EQ(t.indexOfCode(""), std::nullopt);
    EXPECT_TRUE(t.houseCodeUsed('R'));
    EXPECT_FALSE(t.houseCodeUsed('1'));
}

}  // namespace
}  // namespace varnel::host

#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "host_fixture.h"

namespace varnel::test {
namespace {

// The two call sets of the host: by 16-bit index (hosts 1.x) and by 32-bit reference.
struct Generation {
    const char* label;
    const char* version;
    std::function<std::int32_t(Host&, const std::string&)> create;
    std::function<std::int32_t(const Host&, const std::string&)> exists;
    std::function<std::shared_ptr<Device>(Host&, std::int32_t)> get;
};

const Generation kGenerations[] = {
    {.label = "index",
     .version = "1.7.44",
     .create = [](Host& h, const std::string& n) { return std::int32_t{h.NewDevice(n)}; },
     .exists = [](const Host& h, const std::string& c) { return std::int32_t{h.DeviceExists(c)}; },
     .get = [](Host& h, std::int32_t i) { return h.GetDevice(static_cast<std::int16_t>(i)); }},
    {.label = "reference",
     .version = "2.5.0.81",
     .create = [](Host& h, const std::string& n) { return h.NewDeviceRef(n); },
     .exists = [](const Host& h, const std::string& c) { return h.DeviceExistsRef(c); },
     .get = [](Host& h, std::int32_t r) { return h.GetDeviceByRef(r); }},
};

// Each test runs once per call set, on a host of that generation.
template <typename Body>
void onBothGenerations(Body body) {
    for (const Generation& gen : kGenerations) {
        SCOPED_TRACE(gen.label);
        HostFixture fx(EmbeddedHostOptions{.version = gen.version});
        body(gen, *fx.host);
    }
}

TEST(BothGenerations, a_code_names_a_device_only_whole_and_once_written) {
    onBothGenerations([](const Generation& gen, EmbeddedHost& hs) {
        const std::int32_t id = gen.create(hs, "Variable 0");
        auto d = gen.get(hs, id);
        EXPECT_EQ(d->name() + "|" + d->hc() + "|" + d->dc(), "Variable 0||");
        EXPECT_EQ(gen.exists(hs, ""), -1) << "an empty code never names a device";
        EXPECT_EQ(gen.exists(hs, "Q1"), -1);
        d->set_hc("Q");
        d->set_dc("1");
        EXPECT_EQ(gen.exists(hs, "Q1"), id);
        for (const char* other : {"Q", "Q10", "q1"}) EXPECT_EQ(gen.exists(hs, other), -1) << other;
    });
}

TEST(BothGenerations, delete_removes_device_and_code_and_unknown_ids_or_dead_objects_are_host_errors) {
    onBothGenerations([](const Generation& gen, EmbeddedHost& hs) {
        addDevice(hs, "a", "Q", "1");
        const std::int32_t ref = addDevice(hs, "b", "Q", "2");
        auto d = hs.GetDeviceByRef(ref);
        hs.DeleteDevice(ref);
        EXPECT_EQ(gen.exists(hs, "Q2"), -1);
        EXPECT_EQ(hs.DeviceCount(), 1);
        EXPECT_THROW(hs.GetDeviceByRef(ref), HostError);
        EXPECT_THROW((void)d->name(), HostError);
        EXPECT_THROW(d->set_Status(2), HostError);
        hs.DeleteDevice(ref);  // a second delete is harmless
        EXPECT_EQ(hs.DeviceCount(), 1) << "a write on a dead object must not bring it back";
        EXPECT_THROW(gen.get(hs, 0), HostError);
        EXPECT_THROW(gen.get(hs, -1), HostError);
        EXPECT_THROW(hs.GetDevice(2), HostError);
        EXPECT_THROW(hs.GetDeviceByRef(1), HostError);
    });
}

TEST(DeviceCalls, indexes_count_from_one_and_close_up_after_a_delete_references_are_never_reused) {
    HostFixture fx({.version = "1.7"});
    EmbeddedHost& hs = *fx.host;
    for (const char* dc : {"1", "2", "3"}) addDevice(hs, "dev", "R", dc);
    EXPECT_EQ(hs.DeviceExists("R2"), 2);
    EXPECT_EQ(hs.DeviceExists("R3"), 3);
    const std::int32_t ref2 = hs.GetDevice(2)->ref(), ref3 = hs.GetDevice(3)->ref();
    EXPECT_GT(ref2, 32767) << "references lie above the 16-bit range";
    hs.DeleteDevice(ref2);
    EXPECT_EQ(hs.DeviceExists("R3"), 2);
    hs.DeleteDevice(ref3);
    EXPECT_EQ(hs.NewDevice("dev 4"), 2);
    EXPECT_EQ(hs.GetDevice(2)->ref(), ref3 + 1);
}

TEST(DeviceCalls, the_first_of_two_devices_with_one_code_is_the_one_found) {
    HostFixture fx;
    EmbeddedHost& hs = *fx.host;
    const std::int32_t refs[2] = {addDevice(hs, "twin", "S", "4"), addDevice(hs, "twin", "S", "4")};
    EXPECT_EQ(hs.DeviceExistsRef("S4"), refs[0]);
    hs.SetDeviceStatus("S4", 2);
    EXPECT_EQ(hs.GetDeviceByRef(refs[0])->Status(), 2);
    EXPECT_EQ(hs.GetDeviceByRef(refs[1])->Status(), 0);
}

// ---- enumerator

std::vector<std::string> walk(DeviceEnumerator& e) {
    std::vector<std::string> names;
    while (!e.Finished())
        if (auto d = e.GetNext()) names.push_back(d->name());
    return names;
}

TEST(DeviceEnumeration, count_changed_reports_additions_and_removals_but_not_member_writes) {
    struct Case {
        const char* what;
        std::function<void(EmbeddedHost&, std::int32_t)> act;
        bool changed;
    };
    const Case cases[] = {
        {"nothing", [](EmbeddedHost&, std::int32_t) {}, false},
        {"member write", [](EmbeddedHost& h, std::int32_t r) { h.GetDeviceByRef(r)->set_name("x"); }, false},
        {"status write", [](EmbeddedHost& h, std::int32_t) { h.SetDeviceStatus("Q1", 2); }, false},
        {"addition", [](EmbeddedHost& h, std::int32_t) { h.NewDeviceRef("new"); }, true},
        {"removal", [](EmbeddedHost& h, std::int32_t r) { h.DeleteDevice(r); }, true},
    };
    for (const Case& c : cases) {
        HostFixture fx;
        const std::int32_t ref = addDevice(*fx.host, "a", "Q", "1");
        auto e = fx.host->GetDeviceEnumerator();
        c.act(*fx.host, ref);
        EXPECT_EQ(e->CountChanged(), c.changed) << c.what;
    }
}

TEST(DeviceEnumeration, devices_added_during_a_walk_are_met_and_deleted_ones_passed_over) {
    HostFixture fx;
    EmbeddedHost& hs = *fx.host;
    hs.NewDeviceRef("a");
    const std::int32_t b = hs.NewDeviceRef("b");
    hs.NewDeviceRef("c");
    EXPECT_EQ(walk(*hs.GetDeviceEnumerator()), (std::vector<std::string>{"a", "b", "c"})) << "in creation order";
    auto e = hs.GetDeviceEnumerator();
    EXPECT_EQ(e->GetNext()->name(), "a");
    hs.DeleteDevice(b);
    hs.NewDeviceRef("d");
    EXPECT_EQ(walk(*e), (std::vector<std::string>{"c", "d"}));
    EXPECT_TRUE(e->CountChanged());
    EXPECT_EQ(e->GetNext(), nullptr);
}

// ---- status and value by device code

TEST(DeviceStatus, on_and_off_follow_status_2_and_3_only) {
    struct Case {
        std::int16_t status;
        bool on, off;
    };
    HostFixture fx;
    EmbeddedHost& hs = *fx.host;
    auto d = hs.GetDeviceByRef(addDevice(hs, "v", "Q", "12"));
    for (const Case c : {Case{2, true, false}, Case{3, false, true}, Case{17, false, false}, Case{0, false, false}}) {
        hs.SetDeviceStatus("Q12", c.status);
        // One status, whichever call reads it.
        EXPECT_EQ((std::tuple{d->Status(), hs.ison("Q12"), hs.isoff("Q12")}), (std::tuple{c.status, c.on, c.off}));
    }
    d->set_Status(17);
    EXPECT_EQ(hs.DeviceStatus("Q12"), 17);
    EXPECT_EQ(host::describe(hs.events().back()), "Status Q12 = 17") << "recorded like one set by code";
}

TEST(DeviceStatus, unknown_codes_read_as_zero_and_writes_change_nothing_but_are_recorded) {
    HostFixture fx;
    EmbeddedHost& hs = *fx.host;
    for (const std::string& code :
         {std::string("Z9"), std::string(), std::string("\x01\xff"), std::string(5000, 'x')}) {
        EXPECT_EQ(hs.DeviceStatus(code) + hs.DeviceValue(code), 0);
        EXPECT_FALSE(hs.ison(code) || hs.isoff(code));
        hs.SetDeviceStatus(code, 2);
        hs.SetDeviceValue(code, 7);
        EXPECT_FALSE(hs.events().back().known || hs.events().at(hs.events().size() - 2).known);
    }
    EXPECT_EQ(hs.DeviceCount(), 0);
}

// ---- callback object and events

TEST(HostCallback, events_are_recorded_in_order_and_shown_to_the_observer_as_they_happen) {
    HostFixture fx;
    EmbeddedCallback cb(fx.host);
    std::vector<std::string> seen;
    fx.host->onEvent = [&](const host::HostEvent& e) { seen.push_back(host::describe(e)); };
    cb.X10Event("A1", "A", 2, "0", "");
    cb.IREvent(-5);
    cb.ValueChangeEvent("#12", 70000);
    fx.host->SetDeviceStatus("#12", 3);
    EXPECT_EQ(seen, (std::vector<std::string>{"X10 A1 house A command 2 level 0", "IR -5", "ValueChange #12 = 70000",
                                              "Status #12 = 3 (no such device)"}));
    ASSERT_EQ(fx.host->events().size(), 4u);
    EXPECT_EQ(fx.host->events()[2],
              (host::HostEvent{.kind = host::HostEvent::Kind::ValueChange, .code = "#12", .value = 70000}));
}

}  // namespace
}  // namespace varnel::test

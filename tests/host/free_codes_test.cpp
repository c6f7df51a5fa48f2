#include <gtest/gtest.h>

#include "host_fixture.h"

namespace varnel::test {
namespace {

void addDevice(EmbeddedHost& hs, char hc, const std::string& dc = "1") {
    test::addDevice(hs, "d", std::string(1, hc), dc);
}

TEST(FreeHouseCodes, default_order_starts_after_the_x10_letters_and_never_offers_them) {
    const std::vector<int> order = host::defaultFreeCodeOrder();
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), 'Q');
    for (int c : order) {
        EXPECT_FALSE((c >= 'A' && c <= 'P') || (c >= '0' && c <= '9')) << c;
        EXPECT_TRUE(c != '!' && c != ',' && c > ' ') << c << ": separators and blanks are never codes";
    }
}

TEST(FreeHouseCodes, offers_the_first_code_in_order_that_no_device_uses) {
    HostFixture fx;
    EmbeddedHost& hs = *fx.host;
    EmbeddedCallback cb(fx.host);
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'Q');
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'Q') << "offering a code does not take it";
    addDevice(hs, 'Q');
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'R');
    addDevice(hs, 'S', "64");
    addDevice(hs, 'R', "12");
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'T');
    hs.DeleteDevice(hs.DeviceExistsRef("R12"));
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'R') << "a code is free again once its last device is gone";
    addDevice(hs, 'A');
    EXPECT_EQ(cb.GetNextFreeIOCode(), 'R') << "a device on an X10 letter changes nothing";
}

TEST(FreeHouseCodes, a_set_order_is_followed_and_x10_letters_in_it_skipped) {
    struct Case {
        std::vector<int> order;
        std::vector<char> used;
        std::int32_t offered;
    };
    const Case cases[] = {
        {{96, 35}, {}, 96},           {{96, 35}, {'`'}, 35}, {{'A', 'P', 'Z'}, {}, 'Z'},
        {{'[', ']'}, {'[', ']'}, -1}, {{}, {}, -1},          {{0, -3, 300, 'x'}, {}, 'x'},
    };
    for (const Case& c : cases) {
        HostFixture fx;
        fx.host->setFreeCodeOrder(c.order);
        for (char hc : c.used) addDevice(*fx.host, hc);
        EXPECT_EQ(EmbeddedCallback(fx.host).GetNextFreeIOCode(), c.offered);
    }
}

TEST(FreeHouseCodes, minus_one_once_every_code_of_the_default_order_is_used) {
    HostFixture fx;
    EmbeddedCallback cb(fx.host);
    std::size_t taken = 0;
    for (std::int32_t c = cb.GetNextFreeIOCode(); c != -1; c = cb.GetNextFreeIOCode()) {
        addDevice(*fx.host, static_cast<char>(c));
        ASSERT_LE(++taken, 256u) << "offered a used code again";
    }
    EXPECT_EQ(taken, host::defaultFreeCodeOrder().size());
}

}  // namespace
}  // namespace varnel::test

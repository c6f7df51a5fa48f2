// Several receivers of the host's events beside onEvent: each gets every event while
// its handle lives, one dropped meanwhile is not called, and a handle may outlive the host.
#include <gtest/gtest.h>

#include <optional>

#include "host/embedded_callback.h"
#include "host_fixture.h"

namespace varnel::test {
namespace {

TEST(HostEventReceivers, every_receiver_hears_every_event_while_its_handle_lives) {
    HostFixture fx;
    EmbeddedCallback cb(fx.host);
    std::vector<std::string> first, second, observer;
    fx.host->onEvent = [&](const host::HostEvent& e) { observer.push_back(host::describe(e)); };
    auto a = fx.host->subscribe([&](const host::HostEvent& e) { first.push_back(host::describe(e)); });
    std::optional<EmbeddedHost::Subscription> b =
        fx.host->subscribe([&](const host::HostEvent& e) { second.push_back(host::describe(e)); });
    cb.IREvent(1);
    b.reset();
    cb.IREvent(2);
    EXPECT_EQ(observer, (std::vector<std::string>{"IR 1", "IR 2"})) << "onEvent keeps its place";
    EXPECT_EQ(first, (std::vector<std::string>{"IR 1", "IR 2"}));
    EXPECT_EQ(second, (std::vector<std::string>{"IR 1"}));

    EmbeddedHost::Subscription moved = std::move(a);
    cb.IREvent(3);
    EXPECT_EQ(first.size(), 3u) << "a moved handle keeps the receiver";
    moved.reset();
    cb.IREvent(4);
    EXPECT_EQ(first.size(), 3u);
}

TEST(HostEventReceivers, a_receiver_dropped_by_another_during_an_event_is_not_called) {
    HostFixture fx;
    EmbeddedCallback cb(fx.host);
    std::optional<EmbeddedHost::Subscription> victim;
    int victimCalls = 0;
    int added = 0;
    std::optional<EmbeddedHost::Subscription> late;
    auto killer = fx.host->subscribe([&](const host::HostEvent&) {
        victim.reset();
        if (!late) late = fx.host->subscribe([&](const host::HostEvent&) { ++added; });
    });
    victim = fx.host->subscribe([&](const host::HostEvent&) { ++victimCalls; });
    cb.IREvent(1);
    EXPECT_EQ(victimCalls, 0);
    EXPECT_EQ(added, 0) << "one added during an event hears the next";
    cb.IREvent(2);
    EXPECT_EQ(added, 1);
}

TEST(HostEventReceivers, a_handle_outliving_the_host_is_harmless) {
    EmbeddedHost::Subscription s;
    {
        HostFixture fx;
        s = fx.host->subscribe([](const host::HostEvent&) {});
    }
    s.reset();
}

}  // namespace
}  // namespace varnel::test

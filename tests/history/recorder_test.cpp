// The recorder on the whole plug-in on virtual time: what the host sees reaches the
// store, in one batch per flush interval, commands with where they came from.
#include <gtest/gtest.h>

#include "console_rig.h"
#include "entities/plugin_view.h"
#include "history/console_history.h"
#include "history/recorder.h"

namespace varnel::history {
namespace {

constexpr std::int64_t kNow = 1'800'000'000'000;

TEST(HistoryRecorder, changes_reach_the_store_in_one_batch_each_flush_interval) {
    test::ConsoleRig c;
    c.start();
    c.ok("mirror vars 0-3");
    Store store(StoreOptions{.file = c.rig.hostDir / "history.sqlite"});
    entities::PluginView view(*c.rig.plugin);
    Recorder rec(store, c.rig.loop, *c.rig.host, view,
                 {.flushMs = 5000, .clock = [&c] { return kNow + c.rig.loop.tickMs(); }});
    c.console.onCommand = [&rec](const std::string& line, const console::Reply& r, std::string_view origin) {
        rec.command(line, r.lines.empty() ? "" : r.lines.front(), origin);
    };
    c.rig.run(5000);  // the first batch: the link, the variables' values
    c.rig.controller.setVariable(2, 77);
    c.ok("var 3 100");
    c.rig.run(2000);
    EXPECT_GT(store.pending(), 0u);
    EXPECT_TRUE(store.changes("var:2", 0, kNow * 2, 10).empty() ||
                store.changes("var:2", 0, kNow * 2, 10).back().value != 77);
    c.rig.run(3000);
    EXPECT_EQ(store.pending(), 0u);
    EXPECT_EQ(store.changes("var:2", 0, kNow * 2, 10).back().value, 77);
    EXPECT_EQ(store.changes("var:3", 0, kNow * 2, 10).back().value, 100);
    const auto link = store.changes("link", 0, kNow * 2, 10);
    ASSERT_FALSE(link.empty());
    EXPECT_EQ(link.back().text, "up");
    const auto commands = store.changes("command", 0, kNow * 2, 10);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].text.substr(0, 21), "var 3 100 (console) -");

    c.console.setHistory(
        [&](const console::cmd::History& h) { return historyReply(store, *c.rig.host, view, h, rec.now()); });
    const auto reply = c.run("history var 2 --since 1h");
    ASSERT_EQ(reply.outcome, console::Reply::Outcome::Done);
    EXPECT_EQ(reply.lines.back().substr(reply.lines.back().size() - 2), "77");
    EXPECT_EQ(c.refused("history nothing-like-this"),
              "history: no device, variable or series \"nothing-like-this\" (devices lists them)");
}

}  // namespace
}  // namespace varnel::history

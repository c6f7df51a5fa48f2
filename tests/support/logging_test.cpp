#include <gtest/gtest.h>

#include <fstream>

#include "rig.h"
#include "support/errors.h"
#include "support/logging.h"
#include "text_files.h"

namespace varnel {
namespace {

using test::readFile;

TEST(ReportError, a_plain_message_never_carries_a_pending_error) {
    test::Rig rig;
    rig.ctx.error = {true, 1, "Overflow"};
    ReportError(rig.ctx, "Varnel", "Using Comm Port 1");
    EXPECT_TRUE(rig.ctx.error.pending);
    EXPECT_TRUE(reportPending(rig.ctx, "InitIO"));
    ASSERT_EQ(rig.host->log.size(), 2u);
    EXPECT_EQ(rig.host->log[0].second, "Using Comm Port 1 0 ");
    EXPECT_EQ(rig.host->log[1].second, "InitIO 1 Overflow");
    EXPECT_FALSE(rig.ctx.error.pending);
}

TEST(ErrorTraps, skip_keeps_error_pending_report_clears_it) {
    test::Rig rig;
    EXPECT_FALSE(skipStep(rig.ctx, 3, [] { throw std::overflow_error("Overflow"); }));
    EXPECT_TRUE(rig.ctx.error.pending);
    EXPECT_EQ(rig.ctx.error.step, 3);
    EXPECT_TRUE(rig.host->log.empty());

    EXPECT_FALSE(reportStep(rig.ctx, "SetClock", 4, [] { throw std::runtime_error("boom"); }));
    ASSERT_EQ(rig.host->log.size(), 1u);
    EXPECT_EQ(rig.host->log[0].second, "SetClock 4 boom");
    EXPECT_FALSE(rig.ctx.error.pending);
}

TEST(CommLog, not_created_until_written_then_one_stamped_line_each) {
    test::Rig rig;
    const auto path = rig.dir.path() / "ocelot.log";
    commLog(rig.ctx, "quiet");
    EXPECT_FALSE(std::filesystem::exists(path));

    rig.ctx.switches.logComms = 1;
    rig.loop.setWallClock(std::chrono::sys_days{std::chrono::year{2009} / 3 / 15} + std::chrono::hours{21} +
                          std::chrono::minutes{47} + std::chrono::seconds{8});
    commLog(rig.ctx, "MSCOMM");
    WriteCommLog(rig.ctx, "second");
    EXPECT_EQ(readFile(path), "2009-03-15 21:47:08 MSCOMM\r\n2009-03-15 21:47:08 second\r\n");
}

TEST(Warnings, follow_log_errors) {
    test::Rig rig;
    rig.ctx.switches.logErrors = 0;
    warn(rig.ctx, "quiet");
    rig.ctx.switches.logErrors = 1;
    warn(rig.ctx, "loud");
    ASSERT_EQ(rig.host->log.size(), 1u);
    EXPECT_EQ(rig.host->log[0], (std::pair<std::string, std::string>{"Warning", "loud 0 "}));
}

}  // namespace
}  // namespace varnel

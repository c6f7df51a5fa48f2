// `varnel health`: the run's health file judged as a container's health check sees it.
#include <gtest/gtest.h>

#include <filesystem>

#include "files/files.h"
#include "health.h"

namespace varnel::app {
namespace {

TEST(Health, a_fresh_file_of_a_run_that_is_up_is_well_anything_else_says_why) {
    constexpr std::int64_t now = 1'800'000'000;
    const auto file = [](std::int64_t written, const char* state, const char* status = "linked") {
        return "[health]\nwritten=" + std::to_string(written) + "\nstate=" + state + "\nstatus=" + status + "\n";
    };
    const struct {
        std::optional<std::string> text;
        bool well;
        const char* says;
    } cases[] = {
        {file(now - 3, "running"), true, "varnel: well: linked"},
        {file(now - 30, "starting", ""), true, "varnel: well: starting"},
        {file(now + 90, "running"), true, "well"},  // a clock set back
        {file(now - 31, "running"), false, "last wrote 31 s ago: it hangs or has ended"},
        {file(now, "stopping"), false, "the run in /h is stopping"},
        {file(now, "stopped"), false, "the run in /h is stopped"},
        {file(now, "dancing"), false, "/h/varnel.health: state: needs starting, running"},
        {"[health]\nwritten=soon\nstate=running\n", false, "/h/varnel.health: written: needs a time"},
        {"", false, "written: needs a time"},
        {std::nullopt, false, "no run in /h (no /h/varnel.health)"},
        {file(now, "running", "a\x1b[2Jb"), true, "well: a\\x1b[2Jb"},
    };
    for (const auto& c : cases) {
        const auto v = judgeHealth(c.text, now, "/h");
        EXPECT_EQ(v.well, c.well) << v.line;
        EXPECT_NE(v.line.find(c.says), std::string::npos) << v.line;
    }
}

TEST(Health, what_the_run_writes_is_what_the_check_reads) {
    const auto dir = std::filesystem::path(::testing::TempDir()) / "health_roundtrip";
    std::filesystem::create_directories(dir);
    const HealthRecord r{.writtenSeconds = 1'800'000'000, .state = RunState::Running, .status = "up\nnext"};
    ASSERT_EQ(writeHealth(dir, r), std::nullopt);
    const auto v = judgeHealth(files::readFile(dir / kHealthFile, {}), r.writtenSeconds + 1, dir);
    EXPECT_EQ(v.line, "varnel: well: up\\nnext");
    EXPECT_NE(writeHealth(dir / "missing", r), std::nullopt);
}

}  // namespace
}  // namespace varnel::app

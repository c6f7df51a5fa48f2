// One run per host directory: whatever stands at the lock path either is locked by
// this run or refuses it; never "not locked".
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "host_dir_lock.h"
#include "rig.h"
#include "text_files.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

TEST(HostDirLock, anything_at_the_lock_path_that_cannot_be_locked_refuses_and_is_left_alone) {
    const struct {
        const char* what;
        std::function<void(const fs::path& lock)> put;
        fs::file_type left;
    } cases[] = {
        {"a directory", [](const fs::path& lock) { fs::create_directory(lock); }, fs::file_type::directory},
        {"a symbolic link",
         [](const fs::path& lock) {
             test::writeFile(lock.parent_path() / "elsewhere", "");
             fs::create_symlink("elsewhere", lock);
         },
         fs::file_type::symlink},
        {"a FIFO", [](const fs::path& lock) { ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0); }, fs::file_type::fifo},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const auto lock = dir.path() / "varnel.lock";
        c.put(lock);
        app::HostDirLock l;
        EXPECT_EQ(l.take(dir.path()), "host directory " + dir.path().string() + " cannot be locked: " + lock.string() +
                                          " is " + c.what + " (remove it when no varnel process uses the directory)");
        EXPECT_FALSE(l.held()) << c.what;
        EXPECT_EQ(fs::symlink_status(lock).type(), c.left) << c.what;
        EXPECT_FALSE(fs::exists(dir.path() / "gone")) << "a dangling link's target was made";
    }
}

TEST(HostDirLock, a_lock_file_left_by_a_process_that_is_gone_is_taken_over_and_a_held_one_refuses) {
    test::TempDir dir;
    test::writeFile(dir.path() / "varnel.lock", "999999999\n");
    app::HostDirLock first;
    EXPECT_EQ(first.take(dir.path()), std::nullopt);
    EXPECT_TRUE(first.held());
    EXPECT_EQ(test::readFile(dir.path() / "varnel.lock"), std::to_string(::getpid()) + "\n");

    app::HostDirLock second;
    EXPECT_EQ(second.take(dir.path()), "host directory " + dir.path().string() +
                                           " is in use by another varnel process (" + std::to_string(::getpid()) + ")");
    EXPECT_FALSE(second.held());
}

}  // namespace
}  // namespace varnel

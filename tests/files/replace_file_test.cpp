// Replacing a file: what the new file keeps of the old one, what is refused, and
// what a failure or a killed writer leaves behind.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>

#include "files/files.h"
#include "rig.h"
#include "syscall_filter.h"
#include "text_files.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

struct stat statOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st;
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The exit status of `body` run in a child process (-signal if killed).
int inChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// chown calls do what `errorNumber` says (0: kill the process, as a service's filter does).
bool chownFilter(int errorNumber) {
    return !test::installSyscallFilter({false, test::expandSyscallGroup("@chown"), errorNumber});
}

class ReplaceFile : public ::testing::Test {
protected:
    fs::path at(const std::string& name) const { return dir.path() / name; }
    test::TempDir dir;
};

TEST_F(ReplaceFile, keeps_the_mode_it_replaces_or_is_told_and_gives_a_new_file_the_umask) {
    for (const mode_t mode : {0600, 02750}) {
        writeFile(at("f"), "old");
        ::chmod(at("f").c_str(), mode);
        files::replaceFile(at("f"), "new");
        EXPECT_EQ(readFile(at("f")), "new");
        EXPECT_EQ(statOf(at("f")).st_mode & 07777, mode) << std::oct << mode;
    }
    const mode_t old = ::umask(027);
    files::replaceFile(at("fresh"), "x");
    ::umask(old);
    EXPECT_EQ(statOf(at("fresh")).st_mode & 0777, 0640u);
    ::chmod(at("f").c_str(), 0600);
    files::replaceFile(at("copy"), "p", {.permissionsFrom = at("f")});
    EXPECT_EQ(statOf(at("copy")).st_mode & 0777, 0600u);
}

TEST_F(ReplaceFile, calls_chown_only_when_the_owner_must_change_and_reports_an_owner_it_could_not_keep) {
    writeFile(at("mine"), "old");
    EXPECT_EQ(inChild([&] {
                  if (!chownFilter(0)) return 100;
                  files::replaceFile(at("mine"), "new", {.note = [](const std::string&) { ::_exit(3); }});
                  return 0;
              }),
              0);
    EXPECT_EQ(readFile(at("mine")), "new");

    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to somebody else";
    writeFile(at("theirs"), "old");
    ASSERT_EQ(::chown(at("theirs").c_str(), 65534, 65534), 0);
    files::replaceFile(at("theirs"), "kept");
    EXPECT_EQ(statOf(at("theirs")).st_uid, 65534u);
    EXPECT_EQ(statOf(at("theirs")).st_gid, 65534u);
    EXPECT_EQ(inChild([&] {
                  if (!chownFilter(EPERM)) return 100;
                  files::replaceFile(at("theirs"), "new",
                                     {.note = [&](const std::string& text) { writeFile(at("note"), text); }});
                  return 0;
              }),
              0);
    EXPECT_EQ(readFile(at("theirs")), "new");
    EXPECT_EQ(readFile(at("note")),
              "could not keep the owner 65534:65534 of " + at("theirs").string() + "; it now belongs to 0:0");
}

TEST_F(ReplaceFile, refusals_and_failures_leave_the_old_file_and_no_temporary) {
    files::WriteFaults fullDisk, refusedRename;
    fullDisk.write = [](int, const char*, std::size_t) -> long {
        errno = ENOSPC;
        return -1;
    };
    refusedRename.rename = [](const char*, const char*) {
        errno = EXDEV;
        return -1;
    };
    const struct Case {
        const char* what;
        mode_t mode;  // 0: a directory, 1: a fifo
        const files::WriteFaults* faults;
        std::string says;  // "" : any message
    } cases[] = {
        // Mode bits decide, for root too: a file without any write bit was made read-only on purpose.
        {"read-only", 0444, nullptr, "cannot write " + at("f").string() + ": no write permission (mode 0444)"},
        {"directory", 0, nullptr, "cannot replace " + at("f").string() + ": Is a directory"},
        {"fifo", 1, nullptr, "cannot replace " + at("f").string() + ": not a regular file"},
        {"full disk", 0644, &fullDisk, "cannot write " + at("f").string() + ": No space left on device"},
        {"rename", 0644, &refusedRename, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(at("f"));
        if (c.mode == 0) fs::create_directory(at("f"));
        if (c.mode == 1) {
            ASSERT_EQ(::mkfifo(at("f").c_str(), 0644), 0);
        }
        if (c.mode > 1) {
            writeFile(at("f"), "old");
            ::chmod(at("f").c_str(), c.mode);
        }
        const struct stat before = statOf(at("f"));
        try {
            files::replaceFile(at("f"), "new", {.faults = c.faults});
            ADD_FAILURE() << "replaced";
        } catch (const files::FileError& e) {
            if (!c.says.empty()) {
                EXPECT_EQ(std::string(e.what()), c.says);
            }
        }
        if (c.faults == nullptr) {
            EXPECT_THROW(files::checkReplaceable(at("f")), files::FileError);
        }
        if (c.mode > 1) {
            EXPECT_EQ(readFile(at("f")), "old");
        }
        EXPECT_EQ(statOf(at("f")).st_ino, before.st_ino);
        EXPECT_EQ(statOf(at("f")).st_mode, before.st_mode);
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"f"});
    }
}

TEST_F(ReplaceFile, another_users_file_its_mode_does_not_let_us_write_is_refused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    writeFile(at("f"), "old");
    ::chmod(at("f").c_str(), 0644);
    EXPECT_EQ(inChild([&] {
                  if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) return 100;
                  try {
                      files::checkReplaceable(at("f"));
                  } catch (const files::FileError& e) {
                      return std::string(e.what()).ends_with("(mode 0644)") ? 0 : 2;
                  }
                  return 1;
              }),
              0);
}

TEST_F(ReplaceFile, a_link_is_replaced_itself_unless_it_is_to_be_followed) {
    writeFile(at("target"), "target");
    fs::create_symlink(at("target"), at("link"));
    files::replaceFile(at("link"), "own file");
    EXPECT_FALSE(fs::is_symlink(at("link")));
    EXPECT_EQ(readFile(at("link")), "own file");
    EXPECT_EQ(readFile(at("target")), "target") << "a link in the way never redirects the write";

    fs::remove(at("link"));
    fs::create_symlink("target", at("link"));
    ::chmod(at("target").c_str(), 0640);
    files::replaceFile(at("link"), "through", {.followLink = true});
    EXPECT_TRUE(fs::is_symlink(at("link")));
    EXPECT_EQ(readFile(at("target")), "through");
    EXPECT_EQ(statOf(at("target")).st_mode & 0777, 0640u);
}

TEST_F(ReplaceFile, hard_links_are_kept_only_when_asked_for) {
    writeFile(at("a"), "old");
    fs::create_hard_link(at("a"), at("b"));
    files::replaceFile(at("a"), "longer new text", {.keepHardLinks = true});
    EXPECT_EQ(readFile(at("b")), "longer new text");
    files::replaceFile(at("a"), "short", {.keepHardLinks = true});
    EXPECT_EQ(readFile(at("b")), "short") << "the rest of the longer text is cut off";
    files::replaceFile(at("a"), "split");
    EXPECT_EQ(readFile(at("a")) + readFile(at("b")), "splitshort");
}

TEST_F(ReplaceFile, a_hard_linked_file_whose_rewrite_fails_midway_gets_its_old_bytes_back) {
    const std::string old(100, 'o');
    // Past 20 bytes the disk is full, and a size limit then stops the old bytes from going back.
    files::WriteFaults fullThenLimited;
    fullThenLimited.write = [](int fd, const char* data, std::size_t size) -> long {
        const long n = static_cast<long>(::write(fd, data, std::min<std::size_t>(size, 20)));
        const struct rlimit tight { 10, RLIM_INFINITY };
        ::setrlimit(RLIMIT_FSIZE, &tight);
        errno = ENOSPC;
        return n < 0 ? n : -1;
    };
    const struct {
        rlim_t limit;  // a size limit stops a write at a byte of our choosing, as a full disk would
        const files::WriteFaults* faults;
        std::string says;  // the end of the error
        bool restored;
    } cases[] = {
        {50, nullptr, "File too large; the file is as it was", true},
        {RLIM_INFINITY, &fullThenLimited, "No space left on device; the old content could not be put back either",
         false},
    };
    const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit before {};
    ::getrlimit(RLIMIT_FSIZE, &before);
    for (const auto& c : cases) {
        writeFile(at("a"), old);
        fs::create_hard_link(at("a"), at("b"));
        std::string error;
        const struct rlimit limit { c.limit, before.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            files::replaceFile(at("a"), std::string(300, 'n'), {.keepHardLinks = true, .faults = c.faults});
        } catch (const files::FileError& e) {
            error = e.what();
        }
        ::setrlimit(RLIMIT_FSIZE, &before);
        EXPECT_TRUE(error.ends_with(c.says)) << error;
        EXPECT_EQ(readFile(at("b")) == old, c.restored) << c.limit;
        EXPECT_EQ(statOf(at("a")).st_ino, statOf(at("b")).st_ino);
        fs::remove(at("a"));
        fs::remove(at("b"));
    }
    ::signal(SIGXFSZ, oldSignal);
}

TEST_F(ReplaceFile, leftovers_of_a_killed_writer_are_removed_and_a_running_writers_kept) {
    // A writer that died: no process has a number this high. PID 1 always runs.
    for (const char* name :
         {".devices.txt.2147483646.abc123.varnel-tmp", ".irmap.cfg.2147483646.zz9zz9.varnel-tmp",
          ".devices.txt.1.abc123.varnel-tmp", "devices.txt.varnel-tmp", ".devices.txt.x1.abc123.varnel-tmp"})
        writeFile(at(name), "half");
    EXPECT_EQ(files::cleanLeftovers(dir.path(), "irmap.cfg").removed,
              std::vector<fs::path>{at(".irmap.cfg.2147483646.zz9zz9.varnel-tmp")});
    const files::Leftovers all = files::cleanLeftovers(dir.path());
    EXPECT_EQ(all.removed, std::vector<fs::path>{at(".devices.txt.2147483646.abc123.varnel-tmp")});
    EXPECT_EQ(all.kept, std::vector<fs::path>{at(".devices.txt.1.abc123.varnel-tmp")});
    EXPECT_EQ(entries(dir.path()),
              (std::vector<std::string>{".devices.txt.1.abc123.varnel-tmp", ".devices.txt.x1.abc123.varnel-tmp",
                                        "devices.txt.varnel-tmp"}));
}

TEST_F(ReplaceFile, set_aside_copies_never_overwrite_an_earlier_one) {
    writeFile(at("devices.txt"), "first");
    ::chmod(at("devices.txt").c_str(), 0600);
    EXPECT_EQ(files::setAsideCopy(at("devices.txt"), ".bad", "first"), at("devices.txt.bad"));
    writeFile(at("devices.txt"), "second");
    EXPECT_EQ(files::setAsideMove(at("devices.txt"), ".bad"), at("devices.txt.bad.2"));
    writeFile(at("devices.txt"), "third");
    EXPECT_EQ(files::setAsideCopy(at("devices.txt"), ".bad", "third"), at("devices.txt.bad.3"));
    EXPECT_EQ(readFile(at("devices.txt.bad")) + readFile(at("devices.txt.bad.2")) + readFile(at("devices.txt.bad.3")),
              "firstsecondthird");
    EXPECT_EQ(statOf(at("devices.txt.bad")).st_mode & 0777, 0600u) << "no more readers than the original";
}

}  // namespace
}  // namespace varnel

// Replacing a file: what the new file keeps of the old one, what is refused, and
// what a failure or a killed writer leaves behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>

#include "files/files.h"
#include "rig.h"
#include "syscall_filter.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

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

class ReplaceFile : public ::testing::Test {
protected:
    fs::path at(const std::string& name) const { return dir.path() / name; }
    test::TempDir dir;
};

TEST_F(ReplaceFile, keeps_the_mode_of_the_file_it_replaces_and_gives_a_new_file_the_umask) {
    for (const mode_t mode : {0600, 0640, 0755, 02750}) {
        spit(at("f"), "old");
        ::chmod(at("f").c_str(), mode);
        files::replaceFile(at("f"), "new");
        EXPECT_EQ(slurp(at("f")), "new");
        EXPECT_EQ(statOf(at("f")).st_mode & 07777, mode) << std::oct << mode;
    }
    const mode_t old = ::umask(027);
    files::replaceFile(at("fresh"), "x");
    ::umask(old);
    EXPECT_EQ(statOf(at("fresh")).st_mode & 0777, 0640u);
}

TEST_F(ReplaceFile, keeps_the_owner_where_the_writer_may) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to somebody else";
    spit(at("f"), "old");
    ASSERT_EQ(::chown(at("f").c_str(), 65534, 65534), 0);
    files::replaceFile(at("f"), "new");
    EXPECT_EQ(statOf(at("f")).st_uid, 65534u);
    EXPECT_EQ(statOf(at("f")).st_gid, 65534u);
}

// Runs `body` in a child process whose chown calls do what `errorNumber` says (0: kill
// it, as a service's system-call filter does); the child's exit status, -signal if killed.
int underChownFilter(int errorNumber, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        test::SyscallFilter filter{false, test::expandSyscallGroup("@chown"), errorNumber};
        if (test::installSyscallFilter(filter)) ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST_F(ReplaceFile, calls_chown_only_when_the_owner_must_change_and_reports_an_owner_it_could_not_keep) {
    spit(at("mine"), "old");
    EXPECT_EQ(underChownFilter(0,
                               [&] {
                                   files::replaceFile(at("mine"), "new",
                                                      {.note = [](const std::string&) { ::_exit(3); }});
                                   return 0;
                               }),
              0);
    EXPECT_EQ(slurp(at("mine")), "new");

    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to somebody else";
    spit(at("theirs"), "old");
    ASSERT_EQ(::chown(at("theirs").c_str(), 65534, 65534), 0);
    const fs::path noteFile = at("note");
    EXPECT_EQ(underChownFilter(EPERM,
                               [&] {
                                   files::replaceFile(at("theirs"), "new",
                                                      {.note = [&](const std::string& text) { spit(noteFile, text); }});
                                   return 0;
                               }),
              0);
    EXPECT_EQ(slurp(at("theirs")), "new");
    EXPECT_EQ(slurp(noteFile),
              "could not keep the owner 65534:65534 of " + at("theirs").string() + "; it now belongs to 0:0");
}

TEST_F(ReplaceFile, a_file_without_write_permission_is_refused_and_left_as_it_was) {
    // Mode bits decide, for root too: a file without any write bit was made read-only on purpose.
    spit(at("f"), "old");
    ::chmod(at("f").c_str(), 0444);
    const ino_t inode = statOf(at("f")).st_ino;
    try {
        files::replaceFile(at("f"), "new");
        FAIL() << "replaced a read-only file";
    } catch (const files::FileError& e) {
        EXPECT_EQ(std::string(e.what()), "cannot write " + at("f").string() + ": no write permission (mode 0444)");
    }
    EXPECT_THROW(files::checkReplaceable(at("f")), files::FileError);
    EXPECT_EQ(slurp(at("f")), "old");
    EXPECT_EQ(statOf(at("f")).st_ino, inode);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"f"});
}

TEST_F(ReplaceFile, a_link_is_replaced_itself_unless_it_is_to_be_followed) {
    spit(at("target"), "target");
    fs::create_symlink(at("target"), at("link"));
    files::replaceFile(at("link"), "own file");
    EXPECT_FALSE(fs::is_symlink(at("link")));
    EXPECT_EQ(slurp(at("link")), "own file");
    EXPECT_EQ(slurp(at("target")), "target") << "a link in the way never redirects the write";

    fs::remove(at("link"));
    fs::create_symlink("target", at("link"));
    ::chmod(at("target").c_str(), 0640);
    files::replaceFile(at("link"), "through", {.followLink = true});
    EXPECT_TRUE(fs::is_symlink(at("link")));
    EXPECT_EQ(slurp(at("target")), "through");
    EXPECT_EQ(statOf(at("target")).st_mode & 0777, 0640u);
}

TEST_F(ReplaceFile, hard_links_are_kept_only_when_asked_for) {
    spit(at("a"), "old");
    fs::create_hard_link(at("a"), at("b"));
    files::replaceFile(at("a"), "longer new text", {.keepHardLinks = true});
    EXPECT_EQ(slurp(at("b")), "longer new text");
    files::replaceFile(at("a"), "short", {.keepHardLinks = true});
    EXPECT_EQ(slurp(at("b")), "short") << "the rest of the longer text is cut off";

    files::replaceFile(at("a"), "split");
    EXPECT_EQ(slurp(at("a")), "split");
    EXPECT_EQ(slurp(at("b")), "short");
}

// A file size limit stops a write at a byte of our choosing, as a full disk would.
struct SizeLimit {
    explicit SizeLimit(rlim_t bytes) : oldSignal(::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &before);
        const struct rlimit limit { bytes, before.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~SizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before);
        ::signal(SIGXFSZ, oldSignal);
    }
    SizeLimit(const SizeLimit&) = delete;
    SizeLimit& operator=(const SizeLimit&) = delete;
    struct rlimit before {};
    sighandler_t oldSignal;
};

TEST_F(ReplaceFile, a_hard_linked_file_whose_rewrite_fails_midway_gets_its_old_bytes_back) {
    const std::string old(100, 'o');
    const std::string fresh(300, 'n');
    // Past 20 bytes the disk is full, and a size limit then stops the old bytes from going back.
    files::WriteFaults fullThenLimited;
    fullThenLimited.write = [](int fd, const char* data, std::size_t size) -> long {
        const long n = static_cast<long>(::write(fd, data, std::min<std::size_t>(size, 20)));
        const struct rlimit tight { 10, RLIM_INFINITY };
        ::setrlimit(RLIMIT_FSIZE, &tight);
        errno = ENOSPC;
        return n < 0 ? n : -1;
    };
    struct Case {
        rlim_t limit;
        const files::WriteFaults* faults;
        std::string says;  // the end of the error
        bool restored;
    };
    const Case cases[] = {
        {200, nullptr, "File too large; the file is as it was", true},
        {50, nullptr, "File too large; the file is as it was", true},
        {RLIM_INFINITY, &fullThenLimited, "No space left on device; the old content could not be put back either",
         false},
    };
    for (const Case& c : cases) {
        spit(at("a"), old);
        fs::create_hard_link(at("a"), at("b"));
        std::string error;
        {
            const SizeLimit limit(c.limit);
            try {
                files::replaceFile(at("a"), fresh, {.keepHardLinks = true, .faults = c.faults});
            } catch (const files::FileError& e) {
                error = e.what();
            }
        }
        EXPECT_TRUE(error.ends_with(c.says)) << error;
        EXPECT_EQ(slurp(at("b")) == old, c.restored) << c.limit;
        EXPECT_EQ(statOf(at("a")).st_ino, statOf(at("b")).st_ino);
        fs::remove(at("a"));
        fs::remove(at("b"));
    }
}

TEST_F(ReplaceFile, mode_and_owner_can_come_from_another_file) {
    spit(at("project"), "p");
    ::chmod(at("project").c_str(), 0600);
    files::replaceFile(at("copy"), "p", {.permissionsFrom = at("project")});
    EXPECT_EQ(statOf(at("copy")).st_mode & 0777, 0600u);
}

TEST_F(ReplaceFile, what_is_not_a_regular_file_is_refused) {
    fs::create_directory(at("dir"));
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0644), 0);
    for (const char* name : {"dir", "fifo"}) {
        EXPECT_THROW(files::replaceFile(at(name), "x"), files::FileError) << name;
        EXPECT_EQ(statOf(at(name)).st_mode & S_IFMT, std::string(name) == "dir" ? S_IFDIR : S_IFIFO);
    }
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"dir", "fifo"}));
}

TEST_F(ReplaceFile, a_failing_write_or_rename_leaves_the_old_file_and_no_temporary) {
    files::WriteFaults fullDisk, refusedRename;
    fullDisk.write = [](int, const char*, std::size_t) -> long {
        errno = ENOSPC;
        return -1;
    };
    refusedRename.rename = [](const char*, const char*) {
        errno = EXDEV;
        return -1;
    };
    for (const auto* faults : {&fullDisk, &refusedRename}) {
        spit(at("f"), "old");
        EXPECT_THROW(files::replaceFile(at("f"), "new", {.faults = faults}), files::FileError);
        EXPECT_EQ(slurp(at("f")), "old");
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"f"});
    }
}

TEST_F(ReplaceFile, leftovers_of_a_killed_writer_are_removed_and_a_running_writers_kept) {
    // A writer that died: no process has a number this high. PID 1 always runs.
    spit(at(".devices.txt.2147483646.abc123.varnel-tmp"), "half");
    spit(at(".irmap.cfg.2147483646.zz9zz9.varnel-tmp"), "half");
    spit(at(".devices.txt.1.abc123.varnel-tmp"), "busy");
    spit(at("devices.txt.varnel-tmp"), "not one of ours");
    spit(at(".devices.txt.x1.abc123.varnel-tmp"), "not one of ours");

    const files::Leftovers one = files::cleanLeftovers(dir.path(), "irmap.cfg");
    EXPECT_EQ(one.removed, std::vector<fs::path>{at(".irmap.cfg.2147483646.zz9zz9.varnel-tmp")});
    const files::Leftovers all = files::cleanLeftovers(dir.path());
    EXPECT_EQ(all.removed, std::vector<fs::path>{at(".devices.txt.2147483646.abc123.varnel-tmp")});
    EXPECT_EQ(all.kept, std::vector<fs::path>{at(".devices.txt.1.abc123.varnel-tmp")});
    EXPECT_EQ(entries(dir.path()),
              (std::vector<std::string>{".devices.txt.1.abc123.varnel-tmp", ".devices.txt.x1.abc123.varnel-tmp",
                                        "devices.txt.varnel-tmp"}));
}

TEST_F(ReplaceFile, set_aside_copies_never_overwrite_an_earlier_one) {
    spit(at("devices.txt"), "first");
    ::chmod(at("devices.txt").c_str(), 0600);
    EXPECT_EQ(files::setAsideCopy(at("devices.txt"), ".bad", "first"), at("devices.txt.bad"));
    spit(at("devices.txt"), "second");
    EXPECT_EQ(files::setAsideMove(at("devices.txt"), ".bad"), at("devices.txt.bad.2"));
    spit(at("devices.txt"), "third");
    EXPECT_EQ(files::setAsideCopy(at("devices.txt"), ".bad", "third"), at("devices.txt.bad.3"));
    EXPECT_EQ(slurp(at("devices.txt.bad")) + slurp(at("devices.txt.bad.2")) + slurp(at("devices.txt.bad.3")),
              "firstsecondthird");
    EXPECT_EQ(statOf(at("devices.txt.bad")).st_mode & 0777, 0600u) << "no more readers than the original";
    EXPECT_FALSE(fs::exists(at("devices.txt.bad.4")));
}

}  // namespace
}  // namespace varnel

// Reading the project file into the image and writing it back safely.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>

#include "sync_fixture.h"
#include "sysmap/synchronize.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Log = std::vector<std::pair<std::string, std::string>>;

const std::string kProject =
    "CMAX\tV2\r\n\tLocal\r\n\t\tVariables\r\n\t\t\tVariable #0\r\n\t\t\tVariable #1\r\n"
    "\t\t12\r\n\tModule #5 Kitchen\r\n\t\tLamp\r\n\r\n  indented\r\nlast";

std::string changed() {
    std::string s = kProject;
    return s.replace(s.find("\t\t\tVariable #1\r\n"), 16, "\t\t\tHall Temperature\r\n");
}

// A writer that stores the first `allow` bytes it is given, then reports a full disk.
FileFaults fullDiskAfter(std::size_t allow) {
    auto left = std::make_shared<std::size_t>(allow);
    FileFaults f;
    f.write = [left](int fd, const char* data, std::size_t size) -> long {
        if (*left == 0) {
            errno = ENOSPC;
            return -1;
        }
        const std::size_t n = std::min(size, *left);
        *left -= n;
        return static_cast<long>(::write(fd, data, n));
    };
    return f;
}

class WriteBack : public ::testing::Test {
protected:
    void SetUp() override {
        project = rig.dir.path() / "house.prj";
        writeFile(project, kProject);
        sm.projectFile = project;
    }
    fs::path at(const std::string& name) const { return rig.dir.path() / name; }

    // Reads the project file and changes variable 1's line.
    void readAndChange() {
        sm = SystemMap{};
        sm.projectFile = project;
        ASSERT_TRUE(InitSystemMap(rig.ctx, sm));
        const std::int32_t h = *sm.image.findLocalSection("Variables");
        ASSERT_TRUE(sm.image.setEntryLine(h, h + 2, "\t\t\tHall Temperature"));
    }

    std::vector<std::string> dirEntries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(rig.dir.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::Rig rig;
    fs::path project;
    SystemMap sm;
};

TEST_F(WriteBack, the_changed_line_is_written_after_a_backup_or_nothing_is) {
    const fs::path backup = backupPathFor(project);
    const std::string said = "Project file not written: ";
    const std::string same = project.string() + " and its backup " + backup.string() + " are the same file";
    const std::string leftover = ".house.prj.2147483646.abcdef.varnel-tmp";
    const struct Case {
        const char* what;
        std::function<void()> before;  // after the read
        FileFaults faults;
        bool written;
        std::string writeError, logged;  // logged: the start of the one host log line
        std::vector<std::string> dir;
    } cases[] = {
        {"plain", [] {}, {}, true, "", "", {"Copy of house.prj", "house.prj"}},
        // The backup takes the whole file; the new project file gets 20 bytes, then the disk is full.
        {"disk full in the project",
         [] {},
         fullDiskAfter(kProject.size() + 20),
         false,
         "",
         "WriteSystemMap 3 cannot write ",
         {"Copy of house.prj", "house.prj"}},
        {"disk full in a hard-linked project",
         [&] { fs::create_hard_link(project, at("alias.prj")); },
         fullDiskAfter(kProject.size() + 20),
         false,
         said + "cannot write " + project.string() + ": No space left on device; the file is as it was",
         "WriteSystemMap 3 ",
         {"Copy of house.prj", "alias.prj", "house.prj"}},
        {"disk full in the backup",
         [&] { writeFile(backup, "older backup"); },
         fullDiskAfter(10),
         false,
         "",
         "WriteSystemMap 2 ",
         {"Copy of house.prj", "house.prj"}},
        {"project deleted after the read", [&] { fs::remove(project); }, {}, false, "", "WriteSystemMap 1 ", {}},
        // Written, the backup would replace the project's only copy of its content.
        {"a link to the backup",
         [&] {
             fs::rename(project, backup);
             fs::create_symlink(backup.filename(), project);
         },
         {},
         false,
         said + same,
         "WriteSystemMap 1 " + same,
         {"Copy of house.prj", "house.prj"}},
        {"a hard link of the backup",
         [&] { fs::create_hard_link(project, backup); },
         {},
         false,
         said + same,
         "WriteSystemMap 1 " + same,
         {"Copy of house.prj", "house.prj"}},
        // Mode bits decide, for root too, whom the rename alone would let through; no backup either.
        {"read-only",
         [&] { ::chmod(project.c_str(), 0444); },
         {},
         false,
         said + "cannot write " + project.string() + ": no write permission (mode 0444)",
         "WriteSystemMap 1 cannot write ",
         {"house.prj"}},
        // Followed, a link at the backup path would overwrite whatever it names.
        {"a link at the backup path",
         [&] {
             writeFile(at("other.txt"), "someone else's file");
             fs::create_symlink(at("other.txt"), backup);
         },
         {},
         true,
         "",
         "",
         {"Copy of house.prj", "house.prj", "other.txt"}},
        {"leftovers of a killed write",
         [&] { writeFile(at(leftover), "half"); },
         {},
         true,
         "",
         "Removed " + at(leftover).string() + ", left by an interrupted write 0 ",
         {"Copy of house.prj", "house.prj"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& e : fs::directory_iterator(rig.dir.path())) fs::remove(e.path());
        writeFile(project, kProject);
        rig.host->log.clear();
        readAndChange();
        c.before();
        sm.faults = c.faults;
        WriteSystemMap(rig.ctx, sm);
        EXPECT_EQ(sm.log.projectWritten, c.written);
        EXPECT_EQ(dirEntries(), c.dir);
        if (fs::exists(project)) {
            EXPECT_EQ(readFile(project), c.written ? changed() : kProject);
        }
        if (!c.writeError.empty()) {
            EXPECT_EQ(sm.log.writeError, c.writeError);
        }
        EXPECT_EQ(sm.log.lines.size(), c.written ? 1u : 0u);
        if (c.logged.empty()) {
            EXPECT_TRUE(rig.host->log.empty());
        } else {
            ASSERT_EQ(rig.host->log.size(), 1u);
            EXPECT_EQ(rig.host->log[0].first, "Varnel");
            EXPECT_EQ(rig.host->log[0].second.rfind(c.logged, 0), 0u) << rig.host->log[0].second;
        }
        if (c.written) {
            EXPECT_FALSE(fs::is_symlink(backup));
            EXPECT_EQ(readFile(backup), kProject);
            EXPECT_EQ(sm.log.lines[0].id, 5);
            EXPECT_EQ(sm.log.lines[0].before + "|" + sm.log.lines[0].after, "\t\t\tVariable #1|\t\t\tHall Temperature");
        }
        if (fs::exists(at("other.txt"))) {
            EXPECT_EQ(readFile(at("other.txt")), "someone else's file");
        }
        if (fs::exists(at("alias.prj"))) {
            EXPECT_EQ(readFile(at("alias.prj")), kProject);
        }
        if (std::string(c.what) == "disk full in the backup") {
            EXPECT_EQ(readFile(backup), "older backup");
        }
        if (!c.written && c.logged.starts_with("WriteSystemMap 1 ")) {
            EXPECT_TRUE(sm.log.backup.empty());
        }
    }
}

TEST_F(WriteBack, a_linked_project_stays_a_link_keeps_its_hard_links_mode_and_owner_and_so_does_the_backup) {
    const bool root = ::geteuid() == 0;
    fs::rename(project, at("real.prj"));
    ::chmod(at("real.prj").c_str(), 0600);
    if (root) {
        ASSERT_EQ(::chown(at("real.prj").c_str(), 65534, 65534), 0);
    }
    fs::create_hard_link(at("real.prj"), at("alias.prj"));
    fs::create_symlink(at("real.prj"), project);
    readAndChange();
    WriteSystemMap(rig.ctx, sm);
    ASSERT_TRUE(sm.log.projectWritten) << sm.log.writeError;
    EXPECT_TRUE(fs::is_symlink(project));
    EXPECT_EQ(readFile(at("alias.prj")), changed()) << "the other name sees the new file";
    for (const fs::path& f : {at("real.prj"), backupPathFor(project)}) {
        struct stat st {};
        ::stat(f.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << f << ": a private project gets no world-readable copy";
        if (root) {
            EXPECT_EQ(st.st_uid, 65534u) << f;
        }
    }
}

TEST_F(WriteBack, a_project_that_could_not_be_put_back_is_reported_damaged_never_unchanged) {
    // The disk fills past the changed line, and a file size limit then stops the
    // old bytes from going back as well.
    fs::create_hard_link(project, at("alias.prj"));
    readAndChange();
    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
    auto calls = std::make_shared<int>(0);
    sm.faults.write = [calls](int fd, const char* data, std::size_t size) -> long {
        if (++*calls == 1) return static_cast<long>(::write(fd, data, size));                  // the backup
        const long n = static_cast<long>(::write(fd, data, std::min<std::size_t>(size, 60)));  // past the change
        const struct rlimit tight { 10, RLIM_INFINITY };
        ::setrlimit(RLIMIT_FSIZE, &tight);
        errno = ENOSPC;
        return n < 0 ? n : -1;
    };
    WriteSystemMap(rig.ctx, sm);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldSignal);
    EXPECT_TRUE(sm.log.projectDamaged);
    EXPECT_EQ(readFile(backupPathFor(project)), kProject) << "the backup holds what was read";
    SyncSummary summary;
    summary.outcome = SyncSummary::Outcome::WriteFailed;
    summary.log = sm.log;
    EXPECT_EQ(describeSync(summary).back(),
              "Project file damaged by a failed write; its previous content is in " + backupPathFor(project).string() +
                  ": cannot write " + project.string() +
                  ": No space left on device; the old content could not be put back either");
}

TEST_F(WriteBack, an_empty_missing_or_oversized_project_gives_an_image_that_writes_nothing) {
    const struct {
        std::string content;
        fs::path path;
        bool read;
        std::string shown, logged;
    } cases[] = {
        {"", project, true, "", ""},
        {kProject, fs::path(), true, "No Project File has been specified", ""},
        {kProject, rig.dir.path() / "nowhere.prj", true, "Specified Project File does not exist", ""},
        {kProject, rig.dir.path(), true, "Specified Project File does not exist", ""},  // a directory
        {"A\r\n\t" + std::string(300, 'x') + "\r\n", project, false, "",
         "ReadSystemMap 2 Line longer than 255 characters"},
        {std::string(600'000, '\n'), project, false, "",
         "ReadSystemMap 3 " + project.string() + " has more than 500000 lines"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string() + c.shown + c.logged);
        rig.prompts.shown.clear();
        rig.host->log.clear();
        writeFile(project, c.content);
        sm = SystemMap{};
        sm.projectFile = c.path;
        EXPECT_EQ(InitSystemMap(rig.ctx, sm), c.read);
        EXPECT_EQ(sm.log.readFailed, !c.read);
        EXPECT_TRUE(sm.image.empty() || !c.read);
        EXPECT_EQ(rig.prompts.shown.size(), c.shown.empty() ? 0u : 1u);
        if (!c.shown.empty()) {
            EXPECT_EQ(rig.prompts.shown[0].text, c.shown);
        }
        EXPECT_EQ(rig.host->log, c.logged.empty() ? Log() : Log(1, {"Varnel", c.logged}));
        if (c.read) WriteSystemMap(rig.ctx, sm);
        EXPECT_EQ(dirEntries(), std::vector<std::string>{"house.prj"});
        EXPECT_FALSE(sm.log.projectWritten);
        EXPECT_EQ(readFile(project), c.content);
    }
}

}  // namespace
}  // namespace varnel

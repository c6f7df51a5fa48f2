// Reading the project file into the image and writing it back safely.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>

#include <gtest/gtest.h>

#include "rig.h"
#include "sysmap/synchronize.h"
#include "sysmap/system_map.h"
#include "text_files.h"

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
    using Dir = std::vector<std::string>;
    const fs::path backup = backupPathFor(project);
    const Dir both{"Copy of house.prj", "house.prj"};
    const std::string same = project.string() + " and its backup " + backup.string() + " are the same file";
    const std::string readOnly = "cannot write " + project.string() + ": no write permission (mode 0444)";
    const std::string cannotBackUp = "cannot replace " + backup.string() + ": Is a directory";
    const std::string leftover = at(".house.prj.2147483646.abcdef.varnel-tmp").string();
    const auto full = [] { return fullDiskAfter(kProject.size() + 20); };  // the backup, then 20 bytes of the project
    const auto hardLink = [&] { fs::create_hard_link(project, at("alias.prj")); };
    const struct Case {
        const char* what;
        std::function<void()> before;  // after the read
        FileFaults faults;
        std::string logged;  // after "WriteSystemMap ": the start of the one host log line, "" when written
        Dir dir;
    } cases[] = {
        {"plain", [] {}, {}, "", both},
        {"disk full in the project", [] {}, full(), "3 cannot write " + project.string() + ": No space", both},
        {"disk full in a hard-linked project", hardLink, full(), "3 cannot write", {both[0], "alias.prj", both[1]}},
        {"disk full in the backup", [&] { writeFile(backup, "older backup"); }, fullDiskAfter(10), "2 ", both},
        {"project deleted after the read", [&] { fs::remove(project); }, {}, "1 ", {}},
        // Written, the backup would replace the project's only copy of its content.
        {"a hard link of the backup", [&] { fs::create_hard_link(project, backup); }, {}, "1 " + same, both},
        {"a link to the backup",
         [&] { fs::rename(project, backup), fs::create_symlink(backup, project); },
         {},
         "1 " + same,
         both},
        // Mode bits decide, for root too, whom the rename alone would let through.
        {"read-only", [&] { ::chmod(project.c_str(), 0444); }, {}, "1 " + readOnly, {"house.prj"}},
        // Refused before the backup is touched, as the project is.
        {"a directory at the backup path", [&] { fs::create_directory(backup); }, {}, "1 " + cannotBackUp, both},
        {"leftovers of a killed write", [&] { writeFile(leftover, "half"); }, {}, "", both},
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
        const bool written = c.logged.empty();
        EXPECT_EQ(sm.log.projectWritten, written);
        EXPECT_EQ(dirEntries(), c.dir);
        if (fs::exists(project)) {
            EXPECT_EQ(readFile(project), written ? changed() : kProject);
        }
        if (fs::exists(at("alias.prj"))) {
            EXPECT_EQ(readFile(at("alias.prj")), kProject);
        }
        EXPECT_EQ(sm.log.lines.size(), written ? 1u : 0u);
        if (fs::is_regular_file(backup) && !written) {
            EXPECT_EQ(readFile(backup), c.logged == "2 " ? "older backup" : kProject);
        }
        if (c.logged.starts_with("1 ")) {
            EXPECT_TRUE(sm.log.backup.empty());
        }
        if (c.logged.size() > 2) {
            EXPECT_EQ(sm.log.writeError.rfind("Project file not written: " + c.logged.substr(2), 0), 0u);
        }
        const std::string leftoverSaid = "Removed " + leftover + ", left by an interrupted write 0 ";
        const Log logged =
            c.what == std::string("leftovers of a killed write") ? Log(1, {"Varnel", leftoverSaid}) : Log();
        if (written) {
            EXPECT_EQ(rig.host->log, logged);
            EXPECT_FALSE(fs::is_symlink(backup));
            EXPECT_EQ(readFile(backup), kProject);
            EXPECT_EQ(sm.log.lines[0].id, 5);
            EXPECT_EQ(sm.log.lines[0].before + "|" + sm.log.lines[0].after, "\t\t\tVariable #1|\t\t\tHall Temperature");
        } else {
            ASSERT_EQ(rig.host->log.size(), 1u);
            EXPECT_EQ(rig.host->log[0].first, "Varnel");
            EXPECT_EQ(rig.host->log[0].second.rfind("WriteSystemMap " + c.logged, 0), 0u) << rig.host->log[0].second;
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

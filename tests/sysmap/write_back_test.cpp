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
using test::slurp;
using test::spit;

const std::string kProject =
    "CMAX\tV2\r\n\tLocal\r\n\t\tVariables\r\n\t\t\tVariable #0\r\n\t\t\tVariable #1\r\n"
    "\t\t12\r\n\tModule #5 Kitchen\r\n\t\tLamp\r\n\r\n  indented\r\nlast";

class WriteBack : public ::testing::Test {
protected:
    void SetUp() override {
        project = rig.dir.path() / "house.prj";
        spit(project, kProject);
        sm.projectFile = project;
    }

    // Reads the project file and changes variable 1's line.
    void readAndChange() {
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

TEST_F(WriteBack, changed_line_is_written_and_backup_holds_the_previous_file) {
    readAndChange();
    WriteSystemMap(rig.ctx, sm);
    std::string expected = kProject;
    expected.replace(expected.find("\t\t\tVariable #1\r\n"), 16, "\t\t\tHall Temperature\r\n");
    EXPECT_EQ(slurp(project), expected);
    EXPECT_EQ(slurp(backupPathFor(project)), kProject);
    ASSERT_EQ(sm.log.lines.size(), 1u);
    EXPECT_EQ(sm.log.lines[0].id, 5);
    EXPECT_EQ(sm.log.lines[0].before + "|" + sm.log.lines[0].after, "\t\t\tVariable #1|\t\t\tHall Temperature");
    EXPECT_EQ(dirEntries(), (std::vector<std::string>{"Copy of house.prj", "house.prj"}));
}

TEST_F(WriteBack, empty_project_file_is_neither_copied_nor_written) {
    spit(project, "");
    ASSERT_TRUE(InitSystemMap(rig.ctx, sm));
    EXPECT_TRUE(sm.image.empty());
    WriteSystemMap(rig.ctx, sm);
    EXPECT_FALSE(fs::exists(backupPathFor(project)));
    EXPECT_FALSE(sm.log.projectWritten);
    EXPECT_EQ(fs::file_size(project), 0u);
}

TEST_F(WriteBack, missing_project_is_shown_and_leaves_an_empty_image_that_writes_nothing) {
    const std::pair<fs::path, std::string> cases[] = {
        {fs::path(), "No Project File has been specified"},
        {rig.dir.path() / "nowhere.prj", "Specified Project File does not exist"},
        {rig.dir.path(), "Specified Project File does not exist"},  // a directory
    };
    for (const auto& [path, message] : cases) {
        rig.prompts.shown.clear();
        sm.projectFile = path;
        EXPECT_TRUE(InitSystemMap(rig.ctx, sm));
        EXPECT_TRUE(sm.image.empty());
        ASSERT_EQ(rig.prompts.shown.size(), 1u);
        EXPECT_EQ(rig.prompts.shown[0].text, message);
        WriteSystemMap(rig.ctx, sm);
        EXPECT_EQ(dirEntries(), (std::vector<std::string>{"house.prj"}));
    }
}

TEST_F(WriteBack, a_project_past_a_limit_fails_the_read_and_names_the_limit) {
    const std::pair<std::string, std::string> cases[] = {
        {"A\r\n\t" + std::string(300, 'x') + "\r\n", "ReadSystemMap 2 Line longer than 255 characters"},
        {std::string(600'000, '\n'), "ReadSystemMap 3 " + project.string() + " has more than 500000 lines"},
    };
    for (const auto& [content, says] : cases) {
        rig.host->log.clear();
        sm = SystemMap{};
        sm.projectFile = project;
        spit(project, content);
        EXPECT_FALSE(InitSystemMap(rig.ctx, sm));
        EXPECT_EQ(rig.host->log, (std::vector<std::pair<std::string, std::string>>{{"Varnel", says}}));
        EXPECT_TRUE(sm.log.readFailed) << says;
    }
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

TEST_F(WriteBack, disk_full_midway_through_the_project_leaves_it_unchanged) {
    readAndChange();
    // The backup takes the whole file; the new project file gets 20 bytes, then the disk is full.
    sm.faults = fullDiskAfter(kProject.size() + 20);
    WriteSystemMap(rig.ctx, sm);
    EXPECT_EQ(slurp(project), kProject);
    EXPECT_FALSE(sm.log.projectWritten);
    EXPECT_NE(sm.log.writeError.find("No space left on device"), std::string::npos);
    EXPECT_TRUE(sm.log.lines.empty());
    ASSERT_EQ(rig.host->log.size(), 1u);
    EXPECT_EQ(rig.host->log[0].second.rfind("WriteSystemMap 3 cannot write ", 0), 0u) << rig.host->log[0].second;
    EXPECT_EQ(dirEntries(), (std::vector<std::string>{"Copy of house.prj", "house.prj"}));
}

TEST_F(WriteBack, disk_full_midway_through_a_hard_linked_project_puts_the_old_bytes_back) {
    fs::create_hard_link(project, rig.dir.path() / "alias.prj");
    readAndChange();
    sm.faults = fullDiskAfter(kProject.size() + 20);
    WriteSystemMap(rig.ctx, sm);
    EXPECT_EQ(slurp(project), kProject);
    EXPECT_EQ(slurp(rig.dir.path() / "alias.prj"), kProject);
    EXPECT_FALSE(sm.log.projectWritten);
    EXPECT_FALSE(sm.log.projectDamaged);
    EXPECT_EQ(sm.log.writeError, "Project file not written: cannot write " + project.string() +
                                     ": No space left on device; the file is as it was");
}

TEST_F(WriteBack, a_project_that_could_not_be_put_back_is_reported_damaged_never_unchanged) {
    // The disk fills past the changed line, and a file size limit then stops the
    // old bytes from going back as well.
    fs::create_hard_link(project, rig.dir.path() / "alias.prj");
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
    EXPECT_EQ(slurp(backupPathFor(project)), kProject) << "the backup holds what was read";
    SyncSummary summary;
    summary.outcome = SyncSummary::Outcome::WriteFailed;
    summary.log = sm.log;
    const std::vector<std::string> said = describeSync(summary);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.back(), "Project file damaged by a failed write; its previous content is in " +
                               backupPathFor(project).string() + ": cannot write " + project.string() +
                               ": No space left on device; the old content could not be put back either");
}

TEST_F(WriteBack, disk_full_during_the_backup_stops_before_the_project_is_touched) {
    readAndChange();
    spit(backupPathFor(project), "older backup");
    sm.faults = fullDiskAfter(10);
    WriteSystemMap(rig.ctx, sm);
    EXPECT_EQ(slurp(project), kProject);
    EXPECT_EQ(slurp(backupPathFor(project)), "older backup");
    EXPECT_FALSE(sm.log.projectWritten);
    ASSERT_EQ(rig.host->log.size(), 1u);
    EXPECT_EQ(rig.host->log[0].second.rfind("WriteSystemMap 2 ", 0), 0u);
    EXPECT_EQ(dirEntries(), (std::vector<std::string>{"Copy of house.prj", "house.prj"}));
}

TEST_F(WriteBack, project_deleted_after_the_read_is_not_recreated) {
    readAndChange();
    fs::remove(project);
    WriteSystemMap(rig.ctx, sm);
    EXPECT_FALSE(fs::exists(project));
    EXPECT_FALSE(sm.log.projectWritten);
    ASSERT_EQ(rig.host->log.size(), 1u);
    EXPECT_EQ(rig.host->log[0].second.rfind("WriteSystemMap 1 ", 0), 0u);
}

TEST_F(WriteBack, symlinked_project_stays_a_link_and_keeps_its_permissions) {
    const fs::path real = rig.dir.path() / "real.prj";
    fs::rename(project, real);
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, project);
    readAndChange();
    WriteSystemMap(rig.ctx, sm);
    EXPECT_TRUE(fs::is_symlink(project));
    EXPECT_NE(slurp(real).find("Hall Temperature"), std::string::npos);
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(WriteBack, a_link_at_the_backup_path_is_replaced_by_the_backup_never_followed) {
    // Followed, a link to the project itself would leave no copy of the original, and a
    // link elsewhere would overwrite whatever it names.
    spit(rig.dir.path() / "other.txt", "someone else's file");
    for (const fs::path& to : {project, rig.dir.path() / "other.txt"}) {
        spit(project, kProject);
        fs::remove(backupPathFor(project));
        fs::create_symlink(to, backupPathFor(project));
        sm = SystemMap{};
        sm.projectFile = project;
        readAndChange();
        WriteSystemMap(rig.ctx, sm);
        EXPECT_FALSE(fs::is_symlink(backupPathFor(project)));
        EXPECT_EQ(slurp(backupPathFor(project)), kProject);
        EXPECT_NE(slurp(project).find("Hall Temperature"), std::string::npos);
        EXPECT_EQ(slurp(rig.dir.path() / "other.txt"), "someone else's file");
    }
}

TEST_F(WriteBack, a_project_that_is_its_own_backup_is_refused_and_nothing_is_touched) {
    // Written, the backup would replace the project's only copy of its content.
    const fs::path backup = backupPathFor(project);
    const std::pair<std::string, std::function<void()>> cases[] = {
        {"a link to the backup",
         [&] {
             fs::rename(project, backup);
             fs::create_symlink(backup.filename(), project);
         }},
        {"a hard link of the backup", [&] { fs::create_hard_link(project, backup); }},
    };
    for (const auto& [what, make] : cases) {
        for (const auto& e : fs::directory_iterator(rig.dir.path())) fs::remove(e.path());
        spit(project, kProject);
        make();
        rig.host->log.clear();
        sm = SystemMap{};
        sm.projectFile = project;
        readAndChange();
        WriteSystemMap(rig.ctx, sm);
        EXPECT_EQ(slurp(project), kProject) << what;
        EXPECT_EQ(slurp(backup), kProject) << what;
        EXPECT_FALSE(sm.log.projectWritten) << what;
        EXPECT_TRUE(sm.log.backup.empty()) << what;
        const std::string says = project.string() + " and its backup " + backup.string() + " are the same file";
        EXPECT_EQ(sm.log.writeError, "Project file not written: " + says) << what;
        EXPECT_EQ(rig.host->log,
                  (std::vector<std::pair<std::string, std::string>>{{"Varnel", "WriteSystemMap 1 " + says}}))
            << what;
        EXPECT_EQ(dirEntries(), (std::vector<std::string>{"Copy of house.prj", "house.prj"})) << what;
    }
}

TEST_F(WriteBack, a_read_only_project_is_refused_before_anything_is_written) {
    // Mode bits decide, for root too, whom the rename alone would let through.
    ::chmod(project.c_str(), 0444);
    struct stat before {};
    ::stat(project.c_str(), &before);
    readAndChange();
    WriteSystemMap(rig.ctx, sm);
    struct stat after {};
    ::stat(project.c_str(), &after);
    EXPECT_EQ(slurp(project), kProject);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0444u);
    EXPECT_EQ(dirEntries(), std::vector<std::string>{"house.prj"}) << "no backup either";
    EXPECT_FALSE(sm.log.projectWritten);
    const std::string says = "cannot write " + project.string() + ": no write permission (mode 0444)";
    EXPECT_EQ(sm.log.writeError, "Project file not written: " + says);
    EXPECT_EQ(rig.host->log,
              (std::vector<std::pair<std::string, std::string>>{{"Varnel", "WriteSystemMap 1 " + says}}));
}

TEST_F(WriteBack, project_keeps_its_hard_links_and_owner_and_the_backup_gets_its_mode_and_owner) {
    ::chmod(project.c_str(), 0600);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(project.c_str(), 65534, 65534), 0);
    }
    fs::create_hard_link(project, rig.dir.path() / "alias.prj");
    readAndChange();
    WriteSystemMap(rig.ctx, sm);
    ASSERT_TRUE(sm.log.projectWritten) << sm.log.writeError;
    EXPECT_EQ(slurp(rig.dir.path() / "alias.prj"), slurp(project)) << "the other name sees the new file";
    EXPECT_NE(slurp(project).find("Hall Temperature"), std::string::npos);
    for (const fs::path& f : {project, backupPathFor(project)}) {
        struct stat st {};
        ::stat(f.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << f << ": a private project gets no world-readable copy";
        if (root) {
            EXPECT_EQ(st.st_uid, 65534u) << f;
        }
    }
}

TEST_F(WriteBack, leftovers_of_a_killed_write_are_removed_and_reported_at_the_next_one) {
    const fs::path leftover = rig.dir.path() / ".house.prj.2147483646.abcdef.varnel-tmp";
    spit(leftover, "half a project");
    readAndChange();
    WriteSystemMap(rig.ctx, sm);
    EXPECT_TRUE(sm.log.projectWritten);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_EQ(rig.host->log, (std::vector<std::pair<std::string, std::string>>{
                                 {"Varnel", "Removed " + leftover.string() + ", left by an interrupted write 0 "}}));
}

}  // namespace
}  // namespace varnel

// The headless runner: confirmation, outcomes, and a whole round on the sample project.
#include "sysmap/synchronize.h"

#include <algorithm>

#include "project_builder.h"
#include "sync_fixture.h"

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSample = fs::path(VARNEL_SAMPLES_DIR) / "house.prj";

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

class RunSync : public SyncFixture {
protected:
    RunSync() { fs::copy_file(kSample, project); }

    SyncRequest request(bool direction,
                        SyncIncludes includes = {.variables = true, .x10 = true, .io = true, .ir = true}) {
        SyncRequest r;
        r.direction = direction, r.projectFile = project.string(), r.includes = includes;
        return r;
    }
};

TEST_F(RunSync, a_declined_question_changes_nothing) {
    addDevice("A1", "Ocelot", "Lamp");
    rig.prompts.answer = false;
    for (bool direction : {true, false}) {
        const SyncSummary s = runSync(ctx(), request(direction));
        EXPECT_EQ(s.outcome, SyncSummary::Outcome::Declined);
    }
    EXPECT_EQ(rig.prompts.questions,
              (std::vector<std::string>{"Are you certain you want to overwrite host definitions?  Note that IR Label "
                                        "changes will not take effect until the host restarts.",
                                        "Are you certain you want to overwrite CMAX System Map definitions?"}));
    EXPECT_EQ(readFile(project), readFile(kSample));
    EXPECT_FALSE(fs::exists(backupPathFor(project)));
    EXPECT_EQ(device("A1")->name, "Lamp");
}

TEST_F(RunSync, missing_project_file_asks_nothing_and_an_unreadable_one_is_a_failed_read) {
    SyncRequest r = request(false);
    r.projectFile = (hostDir.path() / "none.prj").string();
    const SyncSummary s = runSync(ctx(), r);
    EXPECT_EQ(s.outcome, SyncSummary::Outcome::NoProjectFile);
    EXPECT_TRUE(rig.prompts.questions.empty());
    EXPECT_EQ(describeSync(s), std::vector<std::string>{"Specified Project File does not exist"});

    writeFile(project, "System Map\r\n\t" + std::string(300, 'x') + "\r\n");
    r.projectFile = project.string();
    r.assumeYes = true;
    EXPECT_EQ(runSync(ctx(), r).outcome, SyncSummary::Outcome::ReadFailed);
    EXPECT_FALSE(fs::exists(backupPathFor(project)));
}

TEST_F(RunSync, a_file_without_a_system_map_section_is_said_and_left_alone_in_both_directions) {
    // Bytes of no project file, in lines short enough to be read.
    std::string junk;
    std::uint32_t x = 12345;
    for (int i = 0; i < 4000; ++i) {
        x = x * 1103515245u + 12345u;
        junk += i % 60 == 59 ? '\n' : static_cast<char>(x >> 24);
    }
    const std::string files[] = {junk, "System Map\r\n\tRemote\r\n\t\tVariables\r\n\t\t\tVariable #0\r\n"};
    addDevice("A1", "Kitchen", "Ceiling");
    for (const std::string& bytes : files) {
        for (const bool direction : {false, true}) {
            writeFile(project, bytes);
            SyncRequest r = request(direction);
            r.assumeYes = true;
            const SyncSummary s = runSync(ctx(), r);
            EXPECT_EQ(s.outcome, SyncSummary::Outcome::NoSection) << direction << bytes.substr(0, 40);
            EXPECT_EQ(describeSync(s),
                      std::vector<std::string>{"Not synchronized: no System Map section found in the project file"});
            EXPECT_EQ(readFile(project), bytes);
            EXPECT_FALSE(fs::exists(backupPathFor(project)));
        }
    }
    EXPECT_EQ(host->devices().size(), 1u);
    EXPECT_EQ(device("A1")->location, "Kitchen");
}

TEST_F(RunSync, failed_write_is_an_outcome_and_the_project_is_unchanged) {
    addDevice("A1", "Kitchen", "Ceiling");
    SyncRequest r = request(false, {.x10 = true});
    r.assumeYes = true;
    r.faults.rename = [](const char*, const char*) {
        errno = EACCES;
        return -1;
    };
    const SyncSummary s = runSync(ctx(), r);
    EXPECT_EQ(s.outcome, SyncSummary::Outcome::WriteFailed);
    EXPECT_EQ(readFile(project), readFile(kSample));
    const auto text = describeSync(s);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back().rfind("Project file left unchanged: ", 0), 0u) << text.back();
}

TEST_F(RunSync, a_step_that_fails_makes_the_outcome_a_failure_named_on_the_last_line) {
    // A directory where the synchronized label file goes: the IR step fails, the others run.
    writeFile(configFile("irlbl.cfg"), "\"TV\"\r\n");
    fs::create_directories(configFile("Synchronized irlbl.cfg"));
    addDevice("A1", "Ocelot", "Lamp");
    SyncRequest r = request(true, {.x10 = true, .ir = true});
    r.assumeYes = true;
    const SyncSummary s = runSync(ctx(), r);
    EXPECT_EQ(s.outcome, SyncSummary::Outcome::StepFailed);
    EXPECT_EQ(s.log.failedSteps, std::vector<std::string>{"DefineHSIR"});
    EXPECT_EQ(device("A1")->location, "Kitchen") << "the X10 step ran";
    const auto text = describeSync(s);
    EXPECT_EQ(text.back(), "Not fully synchronized: DefineHSIR failed (see the host log)");
    EXPECT_FALSE(ctx().ir.filesPending);
}

TEST_F(RunSync, an_unreadable_label_file_skips_the_ir_step_instead_of_writing_half_the_groups) {
    fs::create_directories(configFile("irlbl.cfg"));
    SyncRequest r = request(true, {.ir = true});
    r.assumeYes = r.loadIrTables = true;
    const SyncSummary s = runSync(ctx(), r);
    EXPECT_EQ(s.outcome, SyncSummary::Outcome::StepFailed);
    EXPECT_EQ(s.log.failedSteps, std::vector<std::string>{"ReadIRCfg"});
    EXPECT_FALSE(fs::exists(configFile("Synchronized irlbl.cfg")));
}

// A standalone run on the sample: the plug-in's devices are found as start-up finds
// them, the IR tables are read from the host's files, and names go both ways.
class SampleRound : public RunSync {
protected:
    SampleRound() {
        ctx().devices.interfaceName = "Applied Digital Ocelot";
        CreateDevice(ctx(), "#1", 0);
        CreateDevice(ctx(), "$64", 127);
        CreateInput16(ctx(), "[1", 1, 0);
        CreateOutput16(ctx(), "[9", 1, 0);
        CreateOutputRly(ctx(), "]3", 3, 1);
        addDevice("A1", "Ocelot", "Lamp");
        writeFile(configFile("irlbl.cfg"), "\"TV\"\r\n\"Amp\"\r\n\"DVD\"\r\n");
        writeFile(configFile("irzones.cfg"), "\"1\"\r\n\"2\"\r\n");
        // A fresh process: nothing known but what the host holds.
        ctx().devices = DeviceModel{};
        ctx().ir = IrState{};
    }
    SyncRequest standalone(bool direction) {
        SyncRequest r = request(direction);
        r.assumeYes = r.discoverDevices = r.loadIrTables = true;
        return r;
    }
};

TEST_F(SampleRound, names_go_to_the_devices_and_ir_files_and_back_into_only_their_lines) {
    const SyncSummary in = runSync(ctx(), standalone(true));
    ASSERT_EQ(in.outcome, SyncSummary::Outcome::Done);
    // X10 addresses CMAX names create devices; B3's single-byte text reaches the host as UTF-8.
    EXPECT_EQ(named({"#1", "$64", "A1", "[1", "[9", "]3", "B3"}),
              "#1=Hall|Thermostat Setpoint $64=Last|Keypad Code A1=Kitchen|Ceiling [1=Front|Door Contact "
              "[9=Garage|Door Relay ]3=Hot|Water B3=Café|Lamp ");
    const std::string labels = readFile(configFile("Synchronized irlbl.cfg"));
    EXPECT_EQ(lineAt(labels, 33) + lineAt(labels, 33 + 36) + lineAt(labels, 33 + 72), "\"Power\"\"Power\"\"Play\"");
    // A SECU16IR has no devices, so no unit mapping, so its zones are not synchronized.
    EXPECT_FALSE(fs::exists(configFile("Synchronized irzones.cfg")));
    EXPECT_TRUE(ctx().ir.filesPending);
    EXPECT_TRUE(contains(describeSync(in), "Device B3 created: location \"Café\", name \"Lamp\""));
    EXPECT_EQ(readFile(project), readFile(kSample));
    EXPECT_FALSE(fs::exists(backupPathFor(project)));

    // Back: the lines gain their codes, a SECU16's in both of its lists.
    const SyncSummary out = runSync(ctx(), standalone(false));
    ASSERT_EQ(out.outcome, SyncSummary::Outcome::Done);
    const std::string before = readFile(kSample);
    const std::string after = readFile(project);
    EXPECT_EQ(readFile(backupPathFor(project)), before);
    std::vector<int> changed;
    for (const auto& l : out.log.lines) changed.push_back(l.id);
    EXPECT_EQ(lineAt(after, 8), "\t\t\tHall Thermostat Setpoint");
    EXPECT_EQ(lineAt(after, 137), "\t\t\tA1 Kitchen Ceiling");
    EXPECT_EQ(lineAt(after, 1427 + 1) + "|" + lineAt(after, 1427 + 17),
              "\t\t[1 Front Door Contact|\t\t[1 Front Door Contact");
    expectOnlyChanged(before, after, changed);
    EXPECT_TRUE(contains(describeSync(out), "Line 137: \"Kitchen Ceiling\" -> \"A1 Kitchen Ceiling\""));
}

}  // namespace
}  // namespace varnel::test

// Host to System Map: host names into the project file's lines.
#include "sysmap/to_system_map.h"

#include <algorithm>
#include <map>

#include "project_builder.h"
#include "sync_fixture.h"
#include "sysmap/synchronize.h"

namespace varnel::test {
namespace {

class ToMap : public SyncFixture {
protected:
    std::string sync(const SyncIncludes& includes) {
        original = layout.text();
        writeFile(project, original);
        last = Synchronize(ctx(), false, project.string(), includes);
        return readFile(project);
    }
    // Line number of a module section's header in the layout.
    int moduleHeader(int unit) const {
        const auto lines = layout.lines();
        const auto it = std::find(lines.begin(), lines.end(), "\tModule #" + std::to_string(unit));
        return it == lines.end() ? -1 : static_cast<int>(it - lines.begin()) + 1;
    }
    void setDevice(const std::string& code, const std::string& location, const std::string& name) {
        addDevice(code, location, name, "Varnel");
    }
    // The lines written, by number; every other line as it was.
    void expectWritten(const std::string& file, const std::map<int, std::string>& written) {
        std::vector<int> ids;
        for (const auto& [id, text] : written) {
            EXPECT_EQ(lineAt(file, id), text) << "line " << id;
            ids.push_back(id);
        }
        test::expectOnlyChanged(original, file, ids);
    }

    ProjectBuilder layout;
    std::string original;
    SyncLog last;
};

TEST_F(ToMap, variables_x10_codes_and_ir_labels_are_written_only_where_the_host_names_them) {
    mirrorVariables('#', {0, 1, 2});
    setDevice("#1", "Hall", "Temperature");
    setDevice("#3", "", "Setpoint");
    setDevice("#4", "Not", "Mirrored");
    addDevice("A1", "Ocelot", "Lamp");
    addDevice("C5", "Garden", "Floods");
    addDevice("P16", "", "");
    setDevice("Q1", "Not", "X10");
    ctx().ir.groups[0] = "TV";
    ctx().ir.labels[0] = "Power";
    ctx().ir.labels[2] = "Mute";
    ctx().ir.lookup[2] = 700;
    ctx().ir.labels[36] = "Orphan";  // group 2 has no name
    ctx().ir.groups[27] = "Last";
    ctx().ir.labels[1007] = "Label";
    const std::string file = sync({.variables = true, .x10 = true, .ir = true});
    const int x10 = layout.x10Header(), ir = layout.irHeader() + 1;
    const std::map<int, std::string> changed = {{5, "\t\t\tHall Temperature"},     {7, "\t\t\t Setpoint"},
                                                {x10 + 1, "\t\t\tA1 Ocelot Lamp"}, {x10 + 37, "\t\t\tC5 Garden Floods"},
                                                {x10 + 256, "\t\t\tP16  "},        {ir, "\t\t\tTV Power"},
                                                {ir + 700, "\t\t\tTV Mute"},       {ir + 1007, "\t\t\tLast Label"}};
    expectWritten(file, changed);
    EXPECT_EQ(readFile(backupPathFor(project)), original);
    ASSERT_EQ(last.lines.size(), changed.size());
    EXPECT_EQ(last.lines[1].before, "\t\t\tVariable #2");
}

TEST_F(ToMap, secu16_points_go_to_both_lists_secu16i_takes_all_sixteen_and_unselected_ones_stay) {
    layout.module(1, 24, "Input ");
    layout.module(2, 32, "Window ");
    addModule(1, kSecu16, "[", {1, 9});
    addModule(2, kSecu16I, "]", {16});
    setDevice("[1", "Front", "Door");
    setDevice("[2", "Back", "Door");
    setDevice("[9", "Hall", "Siren");
    setDevice("]16", "Water", "Leak");
    const std::string file = sync({.io = true});
    const int h = moduleHeader(1), h2 = moduleHeader(2);
    expectWritten(file, {{h + 1, "\t\t[1 Front Door"},
                         {h + 9, "\t\t[9 Hall Siren"},
                         {h + 17, "\t\t[1 Front Door"},
                         {h2 + 16, "\t\t]16 Water Leak"},
                         {h2 + 32, "\t\t]16 Water Leak"}});
}

TEST_F(ToMap, short_module_sections_never_write_into_the_next_section) {
    layout.module(3, 3, "Relay ");   // a RELAY-08 with 3 of its 8 lines
    layout.module(1, 16, "Input ");  // a SECU16 without its second list
    layout.module(4, 16, "IR Zone #");
    addModule(3, kRelay08, "_", {2, 5});
    addModule(1, kSecu16, "[", {1});
    setDevice("_2", "Hot", "Water");
    setDevice("_5", "Garden", "Lights");
    setDevice("[1", "Front", "Door");
    const std::string file = sync({.io = true});
    expectWritten(file, {{moduleHeader(3) + 2, "\t\t_2 Hot Water"}, {moduleHeader(1) + 1, "\t\t[1 Front Door"}});
}

TEST_F(ToMap, zone_file_shorter_than_sixteen_lines_changes_only_its_named_zones) {
    writeFile(configFile("irzones.cfg"), "\"Living Room\"\r\n\"\"\r\nCinema\n");
    layout.module(4, 16, "IR Zone #");
    addModule(4, kSecu16IR, "");
    const std::string file = sync({.io = true});
    expectWritten(file,
                  {{moduleHeader(4) + 1, "\t\tIR Zone Living Room"}, {moduleHeader(4) + 3, "\t\tIR Zone Cinema"}});
}

TEST_F(ToMap, a_file_no_line_of_which_changes_is_not_written_and_its_last_backup_stays) {
    mirrorVariables('#', {0});
    setDevice("#1", "Hall", "Temperature");
    writeFile(backupPathFor(project), "an older backup");
    const struct {
        const char* why;
        SyncIncludes includes;
    } cases[] = {
        {"nothing ticked", {}},
        {"the line holds the name already", {.variables = true}},
    };
    layout.vars[0] = "Hall Temperature";
    for (const auto& c : cases) {
        const std::string file = sync(c.includes);
        EXPECT_EQ(file, original) << c.why;
        EXPECT_EQ(readFile(backupPathFor(project)), "an older backup") << c.why;
        EXPECT_FALSE(last.projectWritten) << c.why;
        EXPECT_TRUE(last.lines.empty()) << c.why;
    }
    EXPECT_TRUE(log().empty());
}

TEST_F(ToMap, name_that_would_break_the_file_is_skipped_alone_and_reported) {
    const std::pair<std::string, std::string> cases[] = {
        {"Kitchen\r\n\t\tVariables", "Line break in a System Map entry"},
        {"Kitchen\nX", "Line break in a System Map entry"},
        {std::string(250, 'k'), "Line longer than 255 characters"},
    };
    addDevice("A1", "Kitchen", "Lamp");
    addDevice("A3", "Hall", "Lamp");
    for (const auto& [location, description] : cases) {
        const auto logged = log().size();
        host->DeleteDevice(host->DeviceExistsRef("A2"));
        addDevice("A2", location, "Lamp");
        const std::string file = sync({.x10 = true});
        const int h = layout.x10Header();
        // The entries after the bad one are still written.
        expectWritten(file, {{h + 1, "\t\t\tA1 Kitchen Lamp"}, {h + 3, "\t\t\tA3 Hall Lamp"}});
        ASSERT_EQ(log().size(), logged + 1);
        EXPECT_EQ(log().back(),
                  "Varnel: MakeSystemMapX10 2 line " + std::to_string(h + 2) + " not written: " + description);
        EXPECT_EQ(last.failedSteps, std::vector<std::string>{"MakeSystemMapX10"});
    }
}

TEST_F(ToMap, a_tab_in_a_host_name_is_written_as_a_blank) {
    addDevice("A1", "Porch", "has\ta tab");
    addDevice("A2", "Back\tDoor", "Lamp");
    const std::string file = sync({.x10 = true});
    const int h = layout.x10Header();
    expectWritten(file, {{h + 1, "\t\t\tA1 Porch has a tab"}, {h + 2, "\t\t\tA2 Back Door Lamp"}});
}

}  // namespace
}  // namespace varnel::test

// Names between the UTF-8 host and the project file, which holds the Windows code page.
#include <algorithm>

#include "project_builder.h"
#include "sync_fixture.h"
#include "sysmap/synchronize.h"

namespace varnel::test {
namespace {

class CodePage : public SyncFixture {
protected:
    SyncSummary sync(bool direction, const SyncIncludes& includes) {
        SyncRequest r;
        r.direction = direction, r.projectFile = project.string(), r.includes = includes, r.assumeYes = true;
        return runSync(ctx(), r);
    }
    ProjectBuilder layout;
};

std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines, const std::string& start) {
    std::vector<std::string> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                 [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    return out;
}

TEST_F(CodePage, host_names_go_into_the_project_in_its_code_page_and_come_back_the_same) {
    const struct {
        const char *code, *location, *name;
        std::string line;                     // in the project, after the three tabs
        const char *backLocation, *backName;  // in the host after a sync from the project
    } cases[] = {
        {"A1", "Küche", "Lampe", "A1 K\374che Lampe", "Küche", "Lampe"},
        {"A2", "Hall", "€ Meter", "A2 Hall \x80 Meter", "Hall", "€ Meter"},
        // Single-byte text an earlier run stored in the host is already in the code page.
        {"A3", "Caf\xE9", "Lamp", "A3 Caf\xE9 Lamp", "Café", "Lamp"},
        {"A4", "日本", "Lamp ✓", "A4 ?? Lamp ?", "??", "Lamp ?"},
    };
    for (const auto& c : cases) addDevice(c.code, c.location, c.name);
    const std::string before = layout.text();
    writeFile(project, before);

    const SyncSummary out = sync(false, {.x10 = true});
    ASSERT_EQ(out.outcome, SyncSummary::Outcome::Done);
    const std::string file = readFile(project);
    std::vector<int> changed;
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
        EXPECT_EQ(lineAt(file, layout.x10Header() + 1 + i), "\t\t\t" + cases[i].line) << cases[i].code;
        changed.push_back(layout.x10Header() + 1 + i);
    }
    expectOnlyChanged(before, file, changed);
    const auto text = describeSync(out);
    EXPECT_EQ(linesStartingWith(text, "Characters outside"),
              std::vector<std::string>{"Characters outside the Windows-1252 code page written as \"?\": "
                                       "\"日本 Lamp ✓\""})
        << "said once a run";
    EXPECT_EQ(linesStartingWith(text, "Line " + std::to_string(layout.x10Header() + 1)),
              std::vector<std::string>{"Line " + std::to_string(layout.x10Header() + 1) +
                                       ": \"X-10 House A Unit 1\" -> \"A1 Küche Lampe\""})
        << "the report speaks UTF-8";

    ASSERT_EQ(sync(true, {.x10 = true}).outcome, SyncSummary::Outcome::Done);
    for (const auto& c : cases)
        EXPECT_EQ(named({c.code}), std::string(c.code) + "=" + c.backLocation + "|" + c.backName + " ");

    const SyncSummary again = sync(false, {.x10 = true});
    EXPECT_TRUE(again.log.lines.empty()) << "the round trip changes no line";
    EXPECT_TRUE(again.log.namesOutsideCodePage.empty());
    EXPECT_EQ(readFile(project), file);
}

}  // namespace
}  // namespace varnel::test

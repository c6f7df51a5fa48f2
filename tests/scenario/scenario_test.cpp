// Every script under fixtures/ against its transcript under golden/.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "scenario.h"
#include "text_files.h"

namespace varnel::test {
namespace {

const std::filesystem::path kHere{VARNEL_SCENARIO_DIR};

std::vector<std::string> scripts() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(kHere / "fixtures"))
        if (e.path().extension() == ".scn") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, transcript_is_the_recorded_one) {
    const auto golden = kHere / "golden" / (GetParam() + ".txt");
    const std::string got = runScenario(kHere / "fixtures" / (GetParam() + ".scn"));
    if (std::getenv("VARNEL_UPDATE_GOLDEN")) {
        writeFile(golden, got);
        GTEST_SKIP() << "recorded " << golden;
    }
    ASSERT_TRUE(std::filesystem::exists(golden)) << "no transcript yet: VARNEL_UPDATE_GOLDEN=1 ctest -R Golden";
    const auto want = lines(readFile(golden)), have = lines(got);
    const auto diff = std::mismatch(want.begin(), want.end(), have.begin(), have.end());
    if (diff.first == want.end() && diff.second == have.end()) return;
    const auto at = diff.first - want.begin();
    std::string context;
    for (auto i = std::max<std::ptrdiff_t>(0, at - 3); i < at; ++i) context += "    " + want[i] + "\n";
    ADD_FAILURE() << GetParam() << ": first difference at line " << at + 1 << ":\n"
                  << context << "  - " << (diff.first == want.end() ? "(end)" : *diff.first) << "\n  + "
                  << (diff.second == have.end() ? "(end)" : *diff.second)
                  << "\n(VARNEL_UPDATE_GOLDEN=1 ctest -R Golden records the new transcript; review its diff)";
}

INSTANTIATE_TEST_SUITE_P(Golden, Golden, ::testing::ValuesIn(scripts()), [](const auto& info) { return info.param; });

}  // namespace
}  // namespace varnel::test

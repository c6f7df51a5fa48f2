// The sample project under samples/ is what the demo and the runner tests rely on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sysmap/project_file.h"

namespace varnel {
namespace {

std::string sampleBytes() {
    std::ifstream in(std::filesystem::path(VARNEL_SAMPLES_DIR) / "house.prj", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SampleProject, reads_and_round_trips_byte_identical_with_crlf_lines) {
    const std::string bytes = sampleBytes();
    ASSERT_FALSE(bytes.empty());
    SystemMapImage img;
    ASSERT_FALSE(img.parse(bytes).has_value());
    EXPECT_EQ(img.render(), bytes);
    for (const MapRecord& r : img.records()) EXPECT_EQ(r.end, LineEnd::CrLf) << "line " << r.ID;
}

TEST(SampleProject, holds_every_section_at_full_size) {
    SystemMapImage img;
    ASSERT_FALSE(img.parse(sampleBytes()).has_value());
    struct Section {
        const char* name;
        std::optional<std::int32_t> header;
        int entries;
    };
    const Section sections[] = {
        {"Variables", img.findLocalSection("Variables"), 128},  {"X-10", img.findLocalSection("X-10"), 256},
        {"Infra-Red", img.findLocalSection("Infra-Red"), 1024}, {"SECU16 at 1", img.findModuleSection("1"), 24},
        {"SECU16I at 2", img.findModuleSection("2"), 32},       {"RELAY-08 at 3", img.findModuleSection("3"), 8},
        {"SECU16IR at 4", img.findModuleSection("4"), 16},
    };
    for (const Section& s : sections) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(s.header);
        EXPECT_NE(img.entry(*s.header, *s.header + s.entries), nullptr);
        EXPECT_EQ(img.entry(*s.header, *s.header + s.entries + 1), nullptr);
    }
}

}  // namespace
}  // namespace varnel

// The report reader: bytes in, typed reports and the awaited reply out, and
// what it had to drop counted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/reports.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Step = ReportReader::Step;

// "R<kind>:b0,b1,..." for a report, "P:b0,.." for the reply, "D" for a dropped byte.
std::string feedAll(ReportReader& reader, const Bytes& bytes) {
    std::string out;
    auto list = [](auto span) {
        std::string s;
        for (auto b : span) s += (s.empty() ? "" : ",") + std::to_string(b);
        return s;
    };
    for (auto b : bytes) {
        switch (reader.feed(b)) {
            case Step::More: break;
            case Step::Report: {
                const auto& r = reader.report();
                out += "R" + std::to_string(static_cast<int>(r.kind)) + ":" +
                       list(std::span(r.bytes.data(), r.length)) + " ";
                break;
            }
            case Step::Reply: out += "P:" + list(reader.reply()) + " "; break;
            case Step::Dropped: out += "D "; break;
            default: out += "? "; break;
        }
    }
    return out;
}

constexpr int kX10Rec = static_cast<int>(ReportKind::X10Received);
constexpr int kIo = static_cast<int>(ReportKind::IoChange);
constexpr int kTouch = static_cast<int>(ReportKind::LeopardTouch);
constexpr int kIr = static_cast<int>(ReportKind::IrMatch);

struct ReaderCase {
    const char* name;
    Bytes bytes;
    int replyLength;  // 0: no reply awaited
    int replyFirst;
    std::string steps;
    std::uint64_t stray;
    bool midRead;
};

class ReportReaderTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(ReportReaderTest, cuts_reports_and_the_reply_out_of_the_stream) {
    const auto& c = GetParam();
    ReportReader reader;
    if (c.replyLength > 0) reader.expectReply(static_cast<std::size_t>(c.replyLength), c.replyFirst);
    EXPECT_EQ(feedAll(reader, c.bytes), c.steps);
    EXPECT_EQ(reader.strayBytes(), c.stray);
    EXPECT_EQ(reader.midRead(), c.midRead);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ReportReaderTest,
    testing::Values(
        ReaderCase{"x10_and_io_back_to_back",
                   {0xFE, 0, 18, 0xF0, 3, 5, 1},
                   0,
                   0,
                   "R" + std::to_string(kX10Rec) + ":254,0,18 R" + std::to_string(kIo) + ":240,3,5,1 ",
                   0,
                   false},
        ReaderCase{"leopard_touch_is_five_bytes_and_its_value_is_byte_2",
                   {0xF2, 1, 77, 3, 4, 0xFD, 0, 5},
                   0,
                   0,
                   "R" + std::to_string(kTouch) + ":242,1,77,3,4 R" + std::to_string(kIr) + ":253,0,5 ",
                   0,
                   false},
        ReaderCase{"filler_is_a_report_of_one_byte", {0xFF, 0xFF}, 0, 0, "R6:255 R6:255 ", 0, false},
        ReaderCase{
            "stray_bytes_dropped_alone_without_a_reply", {0x41, 0x00, 0xFC, 1, 2}, 0, 0, "D D R5:252,1,2 ", 2, false},
        ReaderCase{"report_half_read_stays_pending", {0xF0, 3}, 0, 0, "", 0, true},
        ReaderCase{"any_first_byte_begins_the_reply", {0x06, 0, 6}, 3, 0, "P:6,0,6 ", 0, false},
        ReaderCase{"report_codes_win_over_any_first_byte",
                   {0xFE, 1, 2, 0x06, 0, 6},
                   3,
                   0,
                   "R" + std::to_string(kX10Rec) + ":254,1,2 P:6,0,6 ",
                   0,
                   false},
        ReaderCase{"wrong_first_byte_dropped_before_the_reply", {0x41, 0x2A, 9}, 2, 0x2A, "D P:42,9 ", 1, false},
        ReaderCase{
            "report_bytes_inside_a_reply_are_reply_bytes", {0x2A, 0xFE, 0xF0}, 3, 0x2A, "P:42,254,240 ", 0, false},
        ReaderCase{"reply_of_one_byte", {0x06}, 1, 6, "P:6 ", 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReportReader, abandoning_says_what_was_cut_and_counts_it_once) {
    struct Case {
        const char* name;
        Bytes bytes;
        Step cut;
        std::uint64_t broken;
    };
    for (const Case& c : {Case{"nothing begun", {}, Step::More, 0}, Case{"report", {0xF0, 1, 2}, Step::ReportCut, 1},
                          Case{"reply", {0x2A, 1}, Step::ReplyCut, 1}}) {
        ReportReader reader;
        reader.expectReply(264, 0x2A);
        feedAll(reader, c.bytes);
        EXPECT_EQ(reader.abandon(), c.cut) << c.name;
        EXPECT_EQ(reader.brokenReads(), c.broken) << c.name;
        EXPECT_FALSE(reader.midRead()) << c.name;
        // The reader starts afresh after the cut.
        EXPECT_EQ(feedAll(reader, {0xFE, 2, 3}), "R" + std::to_string(kX10Rec) + ":254,2,3 ") << c.name;
    }
}

TEST(ReportReader, reply_length_is_bounded_and_can_be_withdrawn) {
    ReportReader reader;
    reader.expectReply(100000, 0);
    Bytes big(ReportReader::kMaxReply, 0x11);
    EXPECT_EQ(feedAll(reader, big).substr(0, 2), "P:");
    EXPECT_EQ(reader.reply().size(), ReportReader::kMaxReply);
    reader.expectNoReply();
    EXPECT_EQ(feedAll(reader, {0x11}), "D ");
}

}  // namespace
}  // namespace varnel

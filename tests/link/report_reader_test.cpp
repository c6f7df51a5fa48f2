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

// "<kind letter>:b0,b1,.." for a report, "P:b0,.." for the reply, "D" for a dropped byte.
std::string feedAll(ReportReader& reader, const Bytes& bytes) {
    std::string out;
    auto list = [](auto span) {
        std::string s;
        for (auto b : span) s += (s.empty() ? "" : ",") + std::to_string(b);
        return s;
    };
    for (auto b : bytes) {
        const auto step = reader.feed(b);
        if (step == Step::Report) {
            const auto& r = reader.report();
            out += std::string(1, "xsiotgf"[static_cast<int>(r.kind)]) + ":" +
                   list(std::span(r.bytes.data(), r.length)) + " ";
        } else if (step == Step::Reply) {
            out += "P:" + list(reader.reply()) + " ";
        } else if (step != Step::More) {
            out += step == Step::Dropped ? "D " : "? ";
        }
    }
    return out;
}

TEST(ReportReader, cuts_reports_and_the_reply_out_of_the_stream) {
    struct Case {
        Bytes bytes;
        int replyLength;  // 0: no reply awaited
        std::uint8_t replyFirst;
        std::string steps;
        std::uint64_t stray;
        bool midRead;
    };
    const Case cases[] = {
        {{0xFE, 0, 18, 0xF0, 3, 5, 1, 0xFB, 1, 2}, 0, 0, "x:254,0,18 o:240,3,5,1 s:251,1,2 ", 0, false},
        {{0xF2, 1, 77, 3, 4, 0xFD, 0, 5, 0xF3, 1, 2, 3, 4}, 0, 0, "t:242,1,77,3,4 i:253,0,5 t:243,1,2,3,4 ", 0, false},
        {{0xFF, 0xFF}, 0, 0, "f:255 f:255 ", 0, false},
        {{0x41, 0x00, 0xFC, 1, 2}, 0, 0, "D D g:252,1,2 ", 2, false},
        {{0xF0, 3}, 0, 0, "", 0, true},
        {{0x06, 0, 6}, 3, 0, "P:6,0,6 ", 0, false},
        {{0xFE, 1, 2, 0x06, 0, 6}, 3, 0, "x:254,1,2 P:6,0,6 ", 0, false},  // report codes win over any first byte
        {{0x41, 0x2A, 9}, 2, 0x2A, "D P:42,9 ", 1, false},
        {{0x2A, 0xFE, 0xF0}, 3, 0x2A, "P:42,254,240 ", 0, false},  // report bytes inside a reply are the reply's
        {{0x06}, 1, 6, "P:6 ", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        ReportReader reader;
        if (c.replyLength > 0) reader.expectReply(static_cast<std::size_t>(c.replyLength), c.replyFirst);
        EXPECT_EQ(feedAll(reader, c.bytes), c.steps);
        EXPECT_EQ(reader.strayBytes(), c.stray);
        EXPECT_EQ(reader.midRead(), c.midRead);
    }
}

TEST(ReportReader, abandoning_says_what_was_cut_and_counts_it_once) {
    struct Case {
        Bytes bytes;
        Step cut;
        std::uint64_t broken;
    };
    for (const Case& c :
         {Case{{}, Step::More, 0}, Case{{0xF0, 1, 2}, Step::ReportCut, 1}, Case{{0x2A, 1}, Step::ReplyCut, 1}}) {
        SCOPED_TRACE(c.bytes.size());
        ReportReader reader;
        reader.expectReply(264, 0x2A);
        feedAll(reader, c.bytes);
        EXPECT_EQ(reader.abandon(), c.cut);
        EXPECT_EQ(reader.brokenReads(), c.broken);
        EXPECT_FALSE(reader.midRead());
        EXPECT_EQ(feedAll(reader, {0xFE, 2, 3}), "x:254,2,3 ") << "the reader starts afresh after the cut";
    }
}

TEST(ReportReader, reply_length_is_bounded_and_can_be_withdrawn) {
    ReportReader reader;
    reader.expectReply(100000, 0);
    EXPECT_EQ(feedAll(reader, Bytes(ReportReader::kMaxReply, 0x11)).substr(0, 2), "P:");
    EXPECT_EQ(reader.reply().size(), ReportReader::kMaxReply);
    reader.expectNoReply();
    EXPECT_EQ(feedAll(reader, {0x11}), "D ");
}

}  // namespace
}  // namespace varnel

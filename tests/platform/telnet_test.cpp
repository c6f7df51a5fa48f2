// The telnet / com-port codec: what varnel answers to each negotiation, how line
// bytes come out of the stream however it is split, the bound on subnegotiations,
// and when the far end's line counts as set to 9600 8N1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/net/telnet.h"

namespace varnel::net::telnet {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Line = Session::Line;

constexpr std::uint8_t kSgaOpt = kSuppressGoAhead;
constexpr std::uint8_t kNop = 241;
constexpr std::uint8_t kGa = 249;
constexpr std::uint8_t kTerminalType = 24;

Bytes cmd(std::uint8_t verb, std::uint8_t option) { return {kIac, verb, option}; }
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// IAC SB COM-PORT <command> <value> IAC SE, as sent (value not escaped here).
Bytes comPort(std::uint8_t command, const Bytes& value) {
    return Bytes{kIac, kSb, kComPort, command} + value + Bytes{kIac, kSe};
}

// The five settings varnel sends once the far end agrees to the com-port option.
const Bytes kSettings =
    comPort(1, {0, 0, 0x25, 0x80}) + comPort(2, {8}) + comPort(3, {1}) + comPort(4, {1}) + comPort(5, {1});
// A far end that runs the line as asked.
const Bytes kConfirmed =
    comPort(101, {0, 0, 0x25, 0x80}) + comPort(102, {8}) + comPort(103, {1}) + comPort(104, {1}) + comPort(105, {1});
// What a ser2net 4.3 telnet(rfc2217) port sends as a client connects.
const Bytes kSer2netOpening = cmd(kWill, kSgaOpt) + cmd(kDo, kSgaOpt) + cmd(kWill, kEcho) + cmd(kDont, kEcho) +
                              cmd(kDo, kBinary) + cmd(kWill, kBinary) + cmd(kDo, kComPort);

Session::Output feed(Session& s, const std::vector<Bytes>& segments) {
    Session::Output out;
    for (const auto& seg : segments) s.feed(seg, out);
    return out;
}

// A session through the opening of a far end that agreed to everything and set the line.
Session agreed() {
    Session s;
    (void)s.start();
    feed(s, {kSer2netOpening, kConfirmed});
    return s;
}

TEST(TelnetStart, asks_for_binary_both_ways_no_go_aheads_and_the_com_port_option) {
    Session s;
    EXPECT_EQ(s.start(),
              cmd(kWill, kBinary) + cmd(kWill, kSgaOpt) + cmd(kWill, kComPort) + cmd(kDo, kBinary) + cmd(kDo, kSgaOpt));
    EXPECT_EQ(s.line(), Line::Waiting);
}

struct NegotiationCase {
    const char* name;
    bool started;  // start() ran first (varnel asked)
    Bytes in;
    Bytes reply;
    Line line;
    std::uint64_t refused;
};

class TelnetNegotiation : public testing::TestWithParam<NegotiationCase> {};

TEST_P(TelnetNegotiation, answers_only_what_changes_a_state) {
    const auto& c = GetParam();
    Session s;
    if (c.started) (void)s.start();
    const auto out = feed(s, {c.in});
    EXPECT_EQ(out.reply, c.reply);
    EXPECT_EQ(s.line(), c.line);
    EXPECT_EQ(s.optionsRefused(), c.refused);
    EXPECT_TRUE(out.data.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetNegotiation,
    testing::Values(
        // Answers to what varnel asked need no answer; echo is refused, the settings follow DO COM-PORT.
        NegotiationCase{"ser2net_opening", true, kSer2netOpening, cmd(kDont, kEcho) + kSettings, Line::Waiting, 1},
        NegotiationCase{"unknown_do_is_refused_with_wont", true, cmd(kDo, kTerminalType), cmd(kWont, kTerminalType),
                        Line::Waiting, 1},
        NegotiationCase{"unknown_will_is_refused_with_dont", true, cmd(kWill, kTerminalType), cmd(kDont, kTerminalType),
                        Line::Waiting, 1},
        // An option already off is not acknowledged again: two ends never loop.
        NegotiationCase{"dont_and_wont_for_an_option_off_say_nothing",
                        true,
                        cmd(kDont, kTerminalType) + cmd(kWont, kTerminalType) + cmd(kDont, kEcho),
                        {},
                        Line::Waiting,
                        0},
        NegotiationCase{"a_repeated_yes_is_not_answered",
                        true,
                        cmd(kDo, kBinary) + cmd(kDo, kBinary) + cmd(kWill, kBinary) + cmd(kWill, kBinary),
                        {},
                        Line::Waiting,
                        0},
        NegotiationCase{"an_option_taken_back_is_acknowledged_once", true,
                        cmd(kDo, kBinary) + cmd(kDont, kBinary) + cmd(kDont, kBinary), cmd(kWont, kBinary),
                        Line::Waiting, 0},
        NegotiationCase{"a_far_end_that_will_not_take_the_com_port_option_refuses_the_line",
                        true,
                        cmd(kDont, kComPort),
                        {},
                        Line::Refused,
                        0},
        // Unasked, the far end's offers of what varnel does are accepted.
        NegotiationCase{"offers_accepted_without_start", false, cmd(kWill, kBinary) + cmd(kDo, kComPort),
                        cmd(kDo, kBinary) + cmd(kWill, kComPort) + kSettings, Line::Waiting, 0},
        NegotiationCase{"the_settings_go_once", true, cmd(kDo, kComPort) + cmd(kDont, kComPort) + cmd(kDo, kComPort),
                        kSettings + cmd(kWont, kComPort) + cmd(kWill, kComPort), Line::Refused, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct DataCase {
    const char* name;
    std::vector<Bytes> segments;
    Bytes data;
    Bytes reply;
};

class TelnetData : public testing::TestWithParam<DataCase> {};

TEST_P(TelnetData, line_bytes_come_out_whole_however_the_stream_is_split) {
    const auto& c = GetParam();
    Session s = agreed();
    const auto out = feed(s, c.segments);
    EXPECT_EQ(out.data, c.data);
    EXPECT_EQ(out.reply, c.reply);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetData,
    testing::Values(
        DataCase{"doubled_ff_is_one_data_byte", {{0x41, kIac, kIac, 0x42}}, {0x41, 0xFF, 0x42}, {}},
        DataCase{"an_iac_at_the_end_of_a_segment", {{0x41, kIac}, {kIac, 0x42}}, {0x41, 0xFF, 0x42}, {}},
        DataCase{"a_command_split_after_its_verb",
                 {{0x41, kIac, kWill}, {kTerminalType, 0x42}},
                 {0x41, 0x42},
                 cmd(kDont, kTerminalType)},
        DataCase{"a_report_of_ff_bytes_one_byte_a_segment",
                 {{kIac}, {kIac}, {0xFE}, {0x00}, {kIac}, {kIac}},
                 {0xFF, 0xFE, 0x00, 0xFF},
                 {}},
        DataCase{"no_operation_go_ahead_and_unknown_commands_are_dropped",
                 {{0x01, kIac, kNop, 0x02, kIac, kGa, 0x03, kIac, 0x10, 0x04}},
                 {0x01, 0x02, 0x03, 0x04},
                 {}},
        DataCase{"a_notice_between_line_bytes", {Bytes{0x41} + comPort(107, {0x30}) + Bytes{0x42}}, {0x41, 0x42}, {}},
        DataCase{"cr_nul_stays_in_binary_mode", {{0x0D, 0x00, 0x0D}}, {0x0D, 0x00, 0x0D}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TelnetData, without_binary_from_the_far_end_the_nul_after_a_cr_is_padding) {
    Session s;
    const auto out = feed(s, {{0x0D, 0x00, 0x0D, 0x0A, 0x00, 0x0D}, {0x00, 0x41}});
    EXPECT_EQ(out.data, (Bytes{0x0D, 0x0D, 0x0A, 0x00, 0x0D, 0x41}));
}

TEST(TelnetEncode, doubles_ff_and_pads_a_cr_only_while_binary_is_off) {
    const Bytes frame{0xC8, 0xFF, 0x0D, 0x00, 0xFF};
    Bytes wire;
    agreed().encode(frame, wire);
    EXPECT_EQ(wire, (Bytes{0xC8, 0xFF, 0xFF, 0x0D, 0x00, 0xFF, 0xFF}));
    wire.clear();
    Session plain;
    plain.encode(frame, wire);
    EXPECT_EQ(wire, (Bytes{0xC8, 0xFF, 0xFF, 0x0D, 0x00, 0x00, 0xFF, 0xFF}));
}

TEST(TelnetEncode, what_one_session_encodes_another_decodes_to_the_same_bytes) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(255 - i);
    for (const bool binary : {true, false}) {
        SCOPED_TRACE(binary);
        Session sender = binary ? agreed() : Session{};
        Session receiver = binary ? agreed() : Session{};
        Bytes wire;
        sender.encode(all, wire);
        Session::Output out;
        for (const auto b : wire) receiver.feed(std::span(&b, 1), out);
        EXPECT_EQ(out.data, all);
    }
}

struct SubnegotiationCase {
    const char* name;
    Bytes in;
    Bytes data;
    Bytes reply;
    std::uint64_t dropped;
};

class TelnetSubnegotiation : public testing::TestWithParam<SubnegotiationCase> {};

Bytes longSb(std::size_t n) { return Bytes{kIac, kSb, kComPort} + Bytes(n, 0x55) + Bytes{kIac, kSe}; }

TEST_P(TelnetSubnegotiation, is_bounded_and_never_swallows_what_follows_its_end) {
    const auto& c = GetParam();
    Session s = agreed();
    const auto out = feed(s, {c.in});
    EXPECT_EQ(out.data, c.data);
    EXPECT_EQ(out.reply, c.reply);
    EXPECT_EQ(s.subnegotiationsDropped(), c.dropped);
    EXPECT_EQ(out.notes.size(), c.dropped);
    EXPECT_EQ(s.line(), Line::Set);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetSubnegotiation,
    testing::Values(
        SubnegotiationCase{"at_the_limit_is_taken", longSb(Session::kMaxSubnegotiation) + Bytes{0x41}, {0x41}, {}, 0},
        SubnegotiationCase{
            "past_the_limit_is_dropped_whole", longSb(Session::kMaxSubnegotiation + 1) + Bytes{0x41}, {0x41}, {}, 1},
        SubnegotiationCase{
            "a_huge_one_is_dropped_and_the_line_goes_on", longSb(100'000) + Bytes{0x41, 0x42}, {0x41, 0x42}, {}, 1},
        SubnegotiationCase{"a_doubled_ff_inside_is_one_byte",
                           Bytes{kIac, kSb, kComPort, 107, kIac, kIac, kIac, kSe, 0x41},
                           {0x41},
                           {},
                           0},
        // A command where IAC SE belongs ends it broken; the command itself still counts.
        SubnegotiationCase{"ended_by_another_command",
                           Bytes{kIac, kSb, kComPort, 107, kIac, kDont, kBinary, 0x41},
                           {0x41},
                           cmd(kWont, kBinary),
                           1},
        SubnegotiationCase{
            "for_an_option_not_agreed_is_ignored", Bytes{kIac, kSb, kTerminalType, 1, kIac, kSe, 0x41}, {0x41}, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TelnetSubnegotiation, an_endless_one_passes_no_line_bytes_and_holds_no_more_than_the_limit) {
    Session s = agreed();
    Session::Output out;
    const Bytes chunk(4096, 0x41);
    for (int i = 0; i < 256; ++i) s.feed(i == 0 ? Bytes{kIac, kSb, kComPort} + chunk : chunk, out);
    EXPECT_TRUE(out.data.empty());
    EXPECT_TRUE(out.reply.empty());
    // Its end lets the line through again.
    s.feed(Bytes{kIac, kSe, 0x42}, out);
    EXPECT_EQ(out.data, Bytes{0x42});
    EXPECT_EQ(s.subnegotiationsDropped(), 1u);
}

struct LineCase {
    const char* name;
    Bytes answers;
    Line line;
    std::string refusal;
};

class TelnetLine : public testing::TestWithParam<LineCase> {};

TEST_P(TelnetLine, is_set_when_all_five_settings_come_back_as_asked) {
    const auto& c = GetParam();
    Session s;
    (void)s.start();
    feed(s, {kSer2netOpening, c.answers});
    EXPECT_EQ(s.line(), c.line);
    EXPECT_EQ(s.refusal(), c.refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetLine,
    testing::Values(
        LineCase{"all_confirmed", kConfirmed, Line::Set, ""},
        LineCase{"four_of_five_is_still_waiting",
                 comPort(101, {0, 0, 0x25, 0x80}) + comPort(102, {8}) + comPort(103, {1}) + comPort(104, {1}),
                 Line::Waiting, ""},
        LineCase{"another_baud_rate", comPort(101, {0, 0, 0x12, 0xC0}), Line::Refused,
                 "it set the baud rate to 4800, not 9600"},
        LineCase{"even_parity", comPort(101, {0, 0, 0x25, 0x80}) + comPort(103, {3}), Line::Refused,
                 "it set the parity to 3, not 1"},
        LineCase{"hardware_flow_control", comPort(105, {3}), Line::Refused, "it set the flow control to 3, not 1"},
        LineCase{"a_short_baud_answer", comPort(101, {0x25, 0x80}), Line::Refused,
                 "its answer for the baud rate has 2 bytes"},
        // A refusal stands; later good answers do not undo it.
        LineCase{"refused_then_confirmed", comPort(102, {7}) + kConfirmed, Line::Refused,
                 "it set the data bits to 7, not 8"},
        LineCase{"notices_and_purge_answers_change_nothing",
                 comPort(106, {0}) + comPort(107, {0}) + comPort(108, {}) + comPort(112, {3}), Line::Waiting, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TelnetLine, answers_before_varnel_asked_are_not_taken_for_a_confirmation) {
    Session s;
    (void)s.start();
    feed(s, {kConfirmed});
    EXPECT_EQ(s.line(), Line::Waiting);
}

TEST(TelnetSignature, an_empty_one_asks_for_varnels_which_is_given_once) {
    Session s = agreed();
    const Bytes ask = comPort(100, {});
    const auto out = feed(s, {ask, comPort(100, {'s', 'e', 'r'}), ask});
    EXPECT_EQ(out.reply, comPort(0, {'v', 'a', 'r', 'n', 'e', 'l'}));
}

TEST(TelnetNotes, each_refused_option_is_noted_once_and_echo_is_not_worth_a_note) {
    Session s;
    (void)s.start();
    const auto out = feed(s, {cmd(kWill, kEcho) + cmd(kDo, kTerminalType) + cmd(kDo, kTerminalType) + cmd(kWill, 200)});
    ASSERT_EQ(out.notes.size(), 2u);
    EXPECT_EQ(out.notes[0], "the far end asked for telnet option 24 (terminal type); refused");
    EXPECT_EQ(out.notes[1], "the far end offered telnet option 200; refused");
    EXPECT_EQ(s.optionsRefused(), 4u);
}

}  // namespace
}  // namespace varnel::net::telnet

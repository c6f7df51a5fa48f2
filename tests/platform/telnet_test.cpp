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

TEST(TelnetNegotiation, answers_only_what_changes_a_state) {
    struct Case {
        bool started;  // start() ran first (varnel asked)
        Bytes in;
        Bytes reply;
        Line line;
        std::uint64_t refused;
    };
    const Case cases[] = {
        // Answers to what varnel asked need no answer; echo is refused, the settings follow DO COM-PORT.
        // ser2net opening
        {true, kSer2netOpening, cmd(kDont, kEcho) + kSettings, Line::Waiting, 1},
        // unknown do is refused with wont
        {true, cmd(kDo, kTerminalType), cmd(kWont, kTerminalType), Line::Waiting, 1},
        // unknown will is refused with dont
        {true, cmd(kWill, kTerminalType), cmd(kDont, kTerminalType), Line::Waiting, 1},
        // An option already off is not acknowledged again: two ends never loop.
        // dont and wont for an option off say nothing
        {true, cmd(kDont, kTerminalType) + cmd(kWont, kTerminalType) + cmd(kDont, kEcho), {}, Line::Waiting, 0},
        // a repeated yes is not answered
        {true, cmd(kDo, kBinary) + cmd(kDo, kBinary) + cmd(kWill, kBinary) + cmd(kWill, kBinary), {}, Line::Waiting, 0},
        // an option taken back is acknowledged once
        {true, cmd(kDo, kBinary) + cmd(kDont, kBinary) + cmd(kDont, kBinary), cmd(kWont, kBinary), Line::Waiting, 0},
        // a far end that will not take the com port option refuses the line
        {true, cmd(kDont, kComPort), {}, Line::Refused, 0},
        // Unasked, the far end's offers of what varnel does are accepted.
        // offers accepted without start
        {false, cmd(kWill, kBinary) + cmd(kDo, kComPort), cmd(kDo, kBinary) + cmd(kWill, kComPort) + kSettings,
         Line::Waiting, 0},
        // the settings go once
        {true, cmd(kDo, kComPort) + cmd(kDont, kComPort) + cmd(kDo, kComPort),
         kSettings + cmd(kWont, kComPort) + cmd(kWill, kComPort), Line::Refused, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Session s;
        if (c.started) (void)s.start();
        const auto out = feed(s, {c.in});
        EXPECT_EQ(out.reply, c.reply);
        EXPECT_EQ(s.line(), c.line);
        EXPECT_EQ(s.optionsRefused(), c.refused);
        EXPECT_TRUE(out.data.empty());
    }
}

TEST(TelnetData, line_bytes_come_out_whole_however_the_stream_is_split) {
    struct Case {
        std::vector<Bytes> segments;
        Bytes data;
        Bytes reply;
    };
    const Case cases[] = {// doubled ff is one data byte
                          {{{0x41, kIac, kIac, 0x42}}, {0x41, 0xFF, 0x42}, {}},
                          // an iac at the end of a segment
                          {{{0x41, kIac}, {kIac, 0x42}}, {0x41, 0xFF, 0x42}, {}},
                          // a command split after its verb
                          {{{0x41, kIac, kWill}, {kTerminalType, 0x42}}, {0x41, 0x42}, cmd(kDont, kTerminalType)},
                          // a report of ff bytes one byte a segment
                          {{{kIac}, {kIac}, {0xFE}, {0x00}, {kIac}, {kIac}}, {0xFF, 0xFE, 0x00, 0xFF}, {}},
                          // no operation go ahead and unknown commands are dropped
                          {{{0x01, kIac, kNop, 0x02, kIac, kGa, 0x03, kIac, 0x10, 0x04}}, {0x01, 0x02, 0x03, 0x04}, {}},
                          // a notice between line bytes
                          {{Bytes{0x41} + comPort(107, {0x30}) + Bytes{0x42}}, {0x41, 0x42}, {}},
                          // cr nul stays in binary mode
                          {{{0x0D, 0x00, 0x0D}}, {0x0D, 0x00, 0x0D}, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Session s = agreed();
        const auto out = feed(s, c.segments);
        EXPECT_EQ(out.data, c.data);
        EXPECT_EQ(out.reply, c.reply);
    }
}

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

Bytes longSb(std::size_t n) { return Bytes{kIac, kSb, kComPort} + Bytes(n, 0x55) + Bytes{kIac, kSe}; }

TEST(TelnetSubnegotiation, is_bounded_and_never_swallows_what_follows_its_end) {
    struct Case {
        Bytes in;
        Bytes data;
        Bytes reply;
        std::uint64_t dropped;
    };
    const Case cases[] = {
        // at the limit is taken
        {longSb(Session::kMaxSubnegotiation) + Bytes{0x41}, {0x41}, {}, 0},
        // past the limit is dropped whole
        {longSb(Session::kMaxSubnegotiation + 1) + Bytes{0x41}, {0x41}, {}, 1},
        // a doubled ff inside is one byte
        {Bytes{kIac, kSb, kComPort, 107, kIac, kIac, kIac, kSe, 0x41}, {0x41}, {}, 0},
        // A command where IAC SE belongs ends it broken; the command itself still counts.
        // ended by another command
        {Bytes{kIac, kSb, kComPort, 107, kIac, kDont, kBinary, 0x41}, {0x41}, cmd(kWont, kBinary), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Session s = agreed();
        const auto out = feed(s, {c.in});
        EXPECT_EQ(out.data, c.data);
        EXPECT_EQ(out.reply, c.reply);
        EXPECT_EQ(s.subnegotiationsDropped(), c.dropped);
        EXPECT_EQ(out.notes.size(), c.dropped);
        EXPECT_EQ(s.line(), Line::Set);
    }
}

TEST(TelnetLine, is_set_when_all_five_settings_come_back_as_asked) {
    struct Case {
        Bytes answers;
        Line line;
        std::string refusal;
    };
    const Case cases[] = {
        // all confirmed
        {kConfirmed, Line::Set, ""},
        // four of five is still waiting
        {comPort(101, {0, 0, 0x25, 0x80}) + comPort(102, {8}) + comPort(103, {1}) + comPort(104, {1}), Line::Waiting,
         ""},
        // another baud rate
        {comPort(101, {0, 0, 0x12, 0xC0}), Line::Refused, "it set the baud rate to 4800, not 9600"},
        // a short baud answer
        {comPort(101, {0x25, 0x80}), Line::Refused, "its answer for the baud rate has 2 bytes"},
        // A refusal stands; later good answers do not undo it.
        // refused then confirmed
        {comPort(102, {7}) + kConfirmed, Line::Refused, "it set the data bits to 7, not 8"},
        // notices and purge answers change nothing
        {comPort(106, {0}) + comPort(107, {0}) + comPort(108, {}) + comPort(112, {3}), Line::Waiting, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Session s;
        (void)s.start();
        feed(s, {kSer2netOpening, c.answers});
        EXPECT_EQ(s.line(), c.line);
        EXPECT_EQ(s.refusal(), c.refusal);
    }
}

TEST(TelnetLine, answers_before_varnel_asked_are_not_taken_for_a_confirmation) {
    Session s;
    (void)s.start();
    feed(s, {kConfirmed});
    EXPECT_EQ(s.line(), Line::Waiting);
}

}  // namespace
}  // namespace varnel::net::telnet

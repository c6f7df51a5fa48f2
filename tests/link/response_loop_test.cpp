#include <gtest/gtest.h>

#include <vector>

#include "link/serial_link.h"
#include "rig.h"
#include "test_events.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ResponseLoop : ::testing::Test {
    test::Rig rig;
    test::TestEvents events{rig.ctx};
    std::vector<ControllerReport> heard;
    ResponseLoop() {
        rig.ctx.link.portOpen = true;
        (void)rig.port.open("COM1");
        events.onReport = [this](const ControllerReport& r) { heard.push_back(r); };
    }
    bool read(std::int16_t timeout, std::int16_t len, std::int16_t first) {
        return ReadResponse(rig.ctx, timeout, len, first);
    }
    Bytes rx(std::size_t n) const {
        return Bytes(rig.ctx.link.rx.begin(), rig.ctx.link.rx.begin() + static_cast<long>(n));
    }
};

TEST_F(ResponseLoop, timeout_lengths_keep_their_arithmetic) {
    struct Case {
        std::int16_t timeout;
        std::int64_t waitedMs;
    };
    for (const Case& c : {Case{0, 200}, Case{1, 1000}, Case{4, 4000}}) {
        const auto start = rig.loop.tickMs();
        EXPECT_FALSE(read(c.timeout, 3, 0));
        EXPECT_EQ(rig.loop.tickMs() - start, c.waitedMs) << c.timeout;
    }
}

TEST_F(ResponseLoop, returns_as_soon_as_reply_is_complete) {
    rig.port.deliver({0x06, 0x00, 0x06}, 15'000, 1042);
    EXPECT_TRUE(read(4, 3, 0));
    EXPECT_EQ(rx(3), (Bytes{0x06, 0x00, 0x06}));
    EXPECT_LT(rig.loop.nowUs(), 19'000);  // the last byte lands at ~18.1 ms; no 200 ms slice is slept out
}

TEST_F(ResponseLoop, expected_first_byte_drops_leading_garbage) {
    rig.port.deliver({0x41, 0x42, 0x43});
    EXPECT_TRUE(read(4, 3, 0));
    EXPECT_EQ(rx(3), (Bytes{0x41, 0x42, 0x43}));

    rig.port.deliver({0x41, 0x42, 0x43});
    const auto start = rig.loop.tickMs();
    EXPECT_FALSE(read(1, 3, 6));  // 0x41 dropped, then only two bytes wait
    EXPECT_EQ(rig.loop.tickMs() - start, 1000);
    EXPECT_EQ(rig.port.bytesWaiting(), 2u);
    EXPECT_EQ(rig.ctx.link.discarded, 1u);
}

TEST_F(ResponseLoop, every_report_kind_is_read_whole_and_handed_on_ahead_of_the_reply) {
    struct Case {
        Bytes report;
        ReportKind kind;
    };
    for (const Case& c : {Case{{0xFE, 1, 2}, ReportKind::X10Received}, Case{{0xF0, 3, 5, 0}, ReportKind::IoChange},
                          Case{{0xFF}, ReportKind::Filler}, Case{{0xF3, 1, 2, 3, 4}, ReportKind::LeopardTouch}}) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        heard.clear();
        Bytes bytes = c.report;
        bytes.insert(bytes.end(), {0x06, 0x00, 0x06});
        rig.port.deliver(bytes);
        EXPECT_TRUE(read(4, 3, 0));
        EXPECT_EQ(rx(3), (Bytes{0x06, 0x00, 0x06}));
        EXPECT_EQ(rig.port.bytesWaiting(), 0u);
        ASSERT_EQ(heard.size(), 1u);
        EXPECT_EQ(heard[0].kind, c.kind);
        EXPECT_EQ(Bytes(heard[0].bytes.begin(), heard[0].bytes.begin() + heard[0].length), c.report);
    }
}

TEST_F(ResponseLoop, ir_match_ends_wait_while_learning_without_touching_buffer) {
    rig.ctx.link.rx[0] = 0x99;
    rig.ctx.link.learning = kTrue;
    rig.port.deliver({0xFD, 0, 5}, 3'000'000);
    EXPECT_TRUE(read(15, 3, 0));
    EXPECT_EQ(rig.ctx.link.rx[0], 0x99);
    EXPECT_EQ(rig.loop.tickMs(), 3000);
}

TEST_F(ResponseLoop, report_split_over_two_deliveries_is_read_whole) {
    rig.port.deliver({0xF0, 3});
    rig.port.deliver({5, 1, 0x06, 0, 6}, 300'000);
    EXPECT_TRUE(read(4, 2, 0));  // two bytes wait: the report's first byte starts it
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].head(), (std::array<std::uint8_t, 4>{0xF0, 3, 5, 1}));
    EXPECT_EQ(rx(2), (Bytes{0x06, 0}));
}

TEST_F(ResponseLoop, report_ahead_of_a_long_reply_is_handed_on_when_complete) {
    std::int64_t handledAtUs = -1;
    events.onReport = [&](const ControllerReport& r) {
        heard.push_back(r);
        handledAtUs = rig.loop.nowUs();
    };
    rig.port.deliver({0xF0, 3, 5, 1}, 0, 1042);
    Bytes reply(264, 0);
    reply[0] = 0x2A;
    rig.port.deliver(reply, 0, 1042);
    EXPECT_TRUE(read(4, 264, 0x2A));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_LE(handledAtUs, 5 * 1042);  // not after the 264 reply bytes (about 280 ms)
    EXPECT_EQ(rx(1), Bytes{0x2A});
}

// The port may gather what the loop waits for; a report must never wait behind a reply.
TEST_F(ResponseLoop, tells_the_port_what_it_awaits_and_every_byte_once_done) {
    Bytes block(264, 0);
    block[0] = 0x2A;
    const Bytes cut(block.begin(), block.begin() + 100);
    struct Case {
        const char* name;
        Bytes bytes;  // one every 1042 us from 10 ms on
        std::int16_t length;
        std::int64_t probeUs;
        std::size_t awaited;
        bool answered;
    };
    for (const Case& c : {Case{"nothing came: a report may start", block, 264, 5'000, 1, true},
                          Case{"the reply has begun", block, 264, 100'000, 264, true},
                          Case{"a report has begun", Bytes{0xF3, 1, 2, 3, 4, 0x2A, 0, 0}, 3, 12'500, 5, true},
                          Case{"the reply stops half way", cut, 264, 100'000, 264, false}}) {
        rig.port.deliver(c.bytes, 10'000, 1042);
        std::size_t seen = 0;
        rig.loop.postUs(c.probeUs, [&] { seen = rig.port.readThreshold; });
        EXPECT_EQ(read(1, c.length, 0x2A), c.answered) << c.name;
        EXPECT_EQ(seen, c.awaited) << c.name;
        EXPECT_EQ(rig.port.readThreshold, 1u) << c.name;
        while (rig.port.readByte()) {
        }
    }
}

TEST_F(ResponseLoop, endless_filler_cannot_hold_the_loop) {
    // The controller babbles 0xFF for ever: the wait still ends.
    std::function<void()> babble = [&] {
        rig.port.deliver(Bytes(8, 0xFF));
        rig.loop.postUs(5'000, babble);
    };
    babble();
    EXPECT_FALSE(read(1, 3, 6));
    EXPECT_LE(rig.loop.tickMs(), 4500);
}

TEST_F(ResponseLoop, send_bytes_writes_only_while_port_open_flag_set) {
    const Bytes frame{0xC8, 0x28, 0x06, 0, 1, 0, 0, 0xF7};
    rig.ctx.link.portOpen = false;
    EXPECT_EQ(SendBytes(rig.ctx, frame), 0);
    rig.ctx.link.portOpen = true;
    EXPECT_EQ(SendBytes(rig.ctx, frame), 0);
    EXPECT_EQ(rig.port.written, std::vector<Bytes>{frame});
}

TEST(OpenCommPort, opens_waits_two_seconds_or_reports_each_failed_attempt_and_the_flags_follow_the_port) {
    for (const bool fails : {false, true}) {
        test::Rig rig;
        rig.ctx.link.comport = 7;
        if (fails) rig.port.failingDevices["COM7"] = "Serial port COM7 does not exist";
        OpenCommPort(rig.ctx);
        std::vector<std::string> log;
        for (const auto& [source, message] : rig.host->log) log.push_back(source + ": " + message);
        const std::string failed = "Varnel: Open Comm Port 7 2 Serial port COM7 does not exist";
        using Lines = std::vector<std::string>;
        const Lines want = fails ? Lines{failed, failed, failed, "Varnel: Using Comm Port 7 0 "}
                                 : Lines{"Varnel: Using Comm Port 7 0 "};
        EXPECT_EQ(log, want);
        EXPECT_EQ(rig.ctx.link.commStarted, !fails);
        EXPECT_EQ(rig.ctx.link.portOpen, !fails);
        EXPECT_EQ(rig.port.isOpen(), !fails);
        EXPECT_EQ(rig.port.device(), fails ? "" : "COM7");
        EXPECT_EQ(rig.loop.tickMs(), fails ? 4000 : 2000);
    }
}

}  // namespace
}  // namespace varnel

// QSerialPort behind the serial interface, on a pseudo-terminal: open errors that
// name the port, exchanges, a far end that goes away, how soon a byte wakes the loop,
// and a reply that comes byte by byte, as a 9600-baud line without a receive FIFO hands
// it over, gathered: it wakes the reader a few times, not once a byte; told 1 again,
// the port hears the next byte at once.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_serial_port.h"
#include "pty_pair.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes drain(QtSerialPort& port) {
    Bytes out;
    while (auto b = port.readByte()) out.push_back(*b);
    return out;
}

// A port open on the slave of a pseudo-terminal whose master is the far end.
struct PtyPort : ::testing::Test {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    void SetUp() override { ASSERT_EQ(port.open(pty.slaveName()), std::nullopt); }
};

TEST(QtSerialPortOpen, refusals_name_the_port_and_say_why) {
    QtEventLoop loop;
    test::PtyPair pty;
    const std::string pts = pty.slaveName();
    QtSerialPort holder;
    ASSERT_EQ(holder.open(pts), std::nullopt);
    const struct {
        std::string device, says;  // the whole text, or its start
    } cases[] = {
        {"/dev/ttyVARNEL-none", "Serial port /dev/ttyVARNEL-none not found (no such device)"},
        {pts, "Serial port " + pts + " is busy: locked by process " + std::to_string(::getpid()) + " ("},
        {"/dev/null", "Serial port /dev/null is not a serial device"},
        {"", "No serial port given"},
    };
    for (const auto& c : cases) {
        QtSerialPort port;
        const auto err = port.open(c.device);
        ASSERT_TRUE(err) << c.device;
        EXPECT_EQ(err->rfind(c.says, 0), 0u) << *err;
        EXPECT_FALSE(port.isOpen());
    }
    EXPECT_EQ(holder.open(pts), "Serial port " + pts + " is already open");
    // The busy device frees up once its holder closes it.
    holder.close();
    QtSerialPort next;
    EXPECT_EQ(next.open(pts), std::nullopt);
}

TEST_F(PtyPort, bytes_travel_both_ways_whole_and_in_order) {
    int events = 0;
    port.onDataReceived = [&] { ++events; };

    pty.write({0x06, 0x00, 0xFF});
    ASSERT_TRUE(loop.waitUntil(1000, [&] { return port.bytesWaiting() >= 3; }));
    EXPECT_GE(events, 1);
    EXPECT_EQ(drain(port), (Bytes{0x06, 0x00, 0xFF}));
    EXPECT_EQ(port.bytesWaiting(), 0u);

    // More than the line takes at once: the rest drains through the loop while the far end reads.
    Bytes big(3000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(port.write(big));
    Bytes got;
    std::atomic<bool> finished{false};
    std::thread reader([&] {
        got = pty.read(big.size(), 3000);
        finished = true;
    });
    // Polled: the reader thread has no way to wake the loop.
    while (!finished) loop.wait(5);
    reader.join();
    EXPECT_EQ(got, big);
}

// The I/O timer waits for the rest of a report inside the receive event.
TEST_F(PtyPort, bytes_arriving_during_a_wait_inside_the_receive_event_are_seen) {
    Bytes report;
    bool inHandler = false;
    port.onDataReceived = [&] {
        if (inHandler) return;
        inHandler = true;
        pty.write({0x02, 0x05, 0x01});  // the rest of the report comes while the handler waits
        loop.waitUntil(1000, [&] { return port.bytesWaiting() >= 4; });
        report = drain(port);
        inHandler = false;
    };
    pty.write({0xF0});
    loop.waitUntil(1000, [&] { return !report.empty(); });
    EXPECT_EQ(report, (Bytes{0xF0, 0x02, 0x05, 0x01}));
}

TEST_F(PtyPort, closed_far_end_closes_the_port_and_reports_once) {
    std::vector<std::string> errors;
    port.onError = [&](const std::string& text) {
        errors.push_back(text);
        EXPECT_FALSE(port.isOpen());
    };
    pty.closeMaster();
    loop.waitUntil(1000, [&] { return !errors.empty(); });
    loop.wait(100);  // a port left open would keep failing in a tight loop
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Serial port " + pty.slaveName()), std::string::npos) << errors[0];
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.write(Bytes{1, 2, 3}));
    EXPECT_EQ(port.readByte(), std::nullopt);
}

// Times this thread went to sleep (each wait in poll is one), and its CPU time.
struct Usage {
    long sleeps;
    std::chrono::microseconds cpu;
};
Usage usage() {
    rusage r{};
    ::getrusage(RUSAGE_THREAD, &r);
    const auto us = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return {r.ru_nvcsw, us(r.ru_utime) + us(r.ru_stime)};
}

TEST_F(PtyPort, the_rest_of_a_reply_gathers_and_a_byte_unawaited_comes_at_once) {
    constexpr std::size_t kReply = 120;
    Bytes sent(kReply);
    for (std::size_t i = 0; i < kReply; ++i) sent[i] = static_cast<std::uint8_t>(i * 7);
    // The far end: one byte per write at the line's pace.
    std::thread far([&] {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < kReply; ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(1042 * i));
            pty.write({sent[i]});
        }
    });
    ASSERT_TRUE(loop.waitUntil(1000, [&] { return port.bytesWaiting() > 0; }));
    const Usage before = usage();
    const bool whole = loop.waitUntil(2000, [&] {
        port.setReadThreshold(kReply);
        return port.bytesWaiting() >= kReply;
    });
    const Usage after = usage();
    far.join();
    ASSERT_TRUE(whole);
    EXPECT_LE(after.sleeps - before.sleeps, 12);  // about one a byte when every arrival wakes the loop
    // Not by spinning instead: the wait lasts about 125 ms, spinning would use all of it.
    EXPECT_LT(after.cpu - before.cpu, std::chrono::milliseconds(100));
    EXPECT_EQ(drain(port), sent);

    // Told a long reply is due after one byte, then that nothing is awaited: a
    // report that comes now is not kept for the half second the reply would take.
    pty.write({0x2A});
    ASSERT_TRUE(loop.waitUntil(1000, [&] { return port.bytesWaiting() > 0; }));
    port.setReadThreshold(480);
    port.setReadThreshold(1);
    pty.write({0xFF});
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(loop.waitUntil(2000, [&] { return port.bytesWaiting() == 2; }));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace varnel

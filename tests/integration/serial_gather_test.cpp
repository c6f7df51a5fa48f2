// The serial port told how many bytes the reader awaits: the rest of a reply that
// comes byte by byte, as a 9600-baud line without a receive FIFO hands it over,
// wakes the reader a few times, not once a byte; told 1 again, it hears the next
// byte at once.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_serial_port.h"
#include "pty_pair.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

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

TEST(QtSerialPortGather, the_rest_of_a_reply_gathers_and_a_byte_unawaited_comes_at_once) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);
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
    Bytes got;
    while (auto b = port.readByte()) got.push_back(*b);
    EXPECT_EQ(got, sent);

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

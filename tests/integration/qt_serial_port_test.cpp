// QSerialPort behind the serial interface: open errors that name the port,
// exchanges over a pseudo-terminal, and a far end that goes away.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
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

// Busy and no-permission share one Qt error code (root cannot provoke the latter).
TEST(QtSerialPortOpen, error_texts_tell_busy_from_no_permission) {
    const struct {
        QSerialPort::SerialPortError error;
        const char *qtText, *expected;
    } cases[] = {
        {QSerialPort::PermissionError, "Permission error while locking the device",
         "Serial port /dev/ttyUSB0 is busy (locked by another process)"},
        {QSerialPort::PermissionError, "Permission denied",
         "Serial port /dev/ttyUSB0: no permission to open it (is the user in the dialout group?)"},
        {QSerialPort::PermissionError, "Device or resource busy",
         "Serial port /dev/ttyUSB0 is busy (opened for itself alone by another program)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(openErrorText("/dev/ttyUSB0", c.error, QString::fromLatin1(c.qtText)), c.expected) << c.qtText;
}

TEST(QtSerialPortExchange, bytes_travel_both_ways_whole_and_in_order) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    int events = 0;
    port.onDataReceived = [&] { ++events; };
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);

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
TEST(QtSerialPortExchange, bytes_arriving_during_a_wait_inside_the_receive_event_are_seen) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);
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

TEST(QtSerialPortVanish, closed_far_end_closes_the_port_and_reports_once) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    std::vector<std::string> errors;
    port.onError = [&](const std::string& text) {
        errors.push_back(text);
        EXPECT_FALSE(port.isOpen());
    };
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);
    pty.closeMaster();
    loop.waitUntil(1000, [&] { return !errors.empty(); });
    loop.wait(100);  // a port left open would keep failing in a tight loop
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Serial port " + pty.slaveName()), std::string::npos) << errors[0];
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.write(Bytes{1, 2, 3}));
    EXPECT_EQ(port.readByte(), std::nullopt);
}

}  // namespace
}  // namespace varnel

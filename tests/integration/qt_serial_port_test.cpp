// QSerialPort behind the serial interface: open errors that name the port,
// exchanges over a pseudo-terminal, and a far end that goes away.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

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

TEST(QtSerialPortOpen, missing_device_names_the_port) {
    QtEventLoop loop;
    QtSerialPort port;
    const auto err = port.open("/dev/ttyVARNEL-none");
    ASSERT_TRUE(err);
    EXPECT_EQ(*err, "Serial port /dev/ttyVARNEL-none not found (no such device)");
    EXPECT_FALSE(port.isOpen());
}

TEST(QtSerialPortOpen, second_open_of_a_device_says_busy) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort first, second;
    ASSERT_EQ(first.open(pty.slaveName()), std::nullopt);
    const auto err = second.open(pty.slaveName());
    ASSERT_TRUE(err);
    EXPECT_EQ(*err, "Serial port " + pty.slaveName() + " is busy (locked by another process)");
    EXPECT_TRUE(first.isOpen());
    // The busy device frees up once its holder closes it.
    first.close();
    EXPECT_EQ(second.open(pty.slaveName()), std::nullopt);
}

TEST(QtSerialPortOpen, a_file_that_is_no_serial_device_is_refused) {
    QtEventLoop loop;
    QtSerialPort port;
    const auto err = port.open("/dev/null");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->rfind("Serial port /dev/null is not a serial device", 0), 0u) << *err;
}

TEST(QtSerialPortOpen, opening_an_open_port_again_is_refused_and_empty_name_too) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);
    EXPECT_EQ(port.open(pty.slaveName()), "Serial port " + pty.slaveName() + " is already open");
    QtSerialPort unnamed;
    EXPECT_EQ(unnamed.open(""), "No serial port given");
}

// Busy and no-permission share one Qt error code (root cannot provoke the latter).
TEST(QtSerialPortOpen, error_texts_tell_busy_from_no_permission) {
    struct Case {
        QSerialPort::SerialPortError error;
        const char* qtText;
        const char* expected;
    };
    const Case cases[] = {
        {QSerialPort::PermissionError, "Permission error while locking the device",
         "Serial port /dev/ttyUSB0 is busy (locked by another process)"},
        {QSerialPort::PermissionError, "Permission denied",
         "Serial port /dev/ttyUSB0: no permission to open it (is the user in the dialout group?)"},
        {QSerialPort::DeviceNotFoundError, "No such file or directory",
         "Serial port /dev/ttyUSB0 not found (no such device)"},
        {QSerialPort::UnknownError, "Something odd", "Serial port /dev/ttyUSB0 could not be opened (Something odd)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(openErrorText("/dev/ttyUSB0", c.error, QString::fromLatin1(c.qtText)), c.expected) << c.qtText;
}

TEST(QtSerialPortExchange, bytes_travel_both_ways_and_raise_the_receive_event) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    int events = 0;
    port.onDataReceived = [&] { ++events; };
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);

    const Bytes frame{0xC8, 0x28, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF1};
    ASSERT_TRUE(port.write(frame));
    EXPECT_EQ(pty.read(frame.size(), 1000), frame);

    pty.write({0x06, 0x00, 0xFF});
    ASSERT_TRUE(loop.waitUntil(1000, [&] { return port.bytesWaiting() >= 3; }));
    EXPECT_GE(events, 1);
    EXPECT_EQ(port.bytesWaiting(), 3u);
    EXPECT_EQ(drain(port), (Bytes{0x06, 0x00, 0xFF}));
    EXPECT_EQ(port.bytesWaiting(), 0u);
    EXPECT_EQ(port.readByte(), std::nullopt);
}

TEST(QtSerialPortExchange, a_long_write_arrives_whole_and_in_order) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);
    Bytes big(3000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(port.write(big));
    // The rest drains through the event loop while the far end reads.
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
        loop.waitUntil(1000, [&] { return port.bytesWaiting() >= 4; });
        report = drain(port);
        inHandler = false;
    };
    std::thread far([&] {
        pty.write({0xF0});
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.write({0x02, 0x05, 0x01});
    });
    loop.waitUntil(1000, [&] { return !report.empty(); });
    far.join();
    EXPECT_EQ(report, (Bytes{0xF0, 0x02, 0x05, 0x01}));
}

TEST(QtSerialPortVanish, closed_far_end_closes_the_port_and_reports_once) {
    QtEventLoop loop;
    auto pty = std::make_unique<test::PtyPair>();
    const std::string name = pty->slaveName();
    QtSerialPort port;
    std::vector<std::string> errors;
    port.onError = [&](const std::string& text) {
        errors.push_back(text);
        EXPECT_FALSE(port.isOpen());
    };
    ASSERT_EQ(port.open(name), std::nullopt);
    pty->closeMaster();
    loop.waitUntil(1000, [&] { return !errors.empty(); });
    loop.wait(100);  // a port left open would keep failing in a tight loop
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Serial port " + name), std::string::npos) << errors[0];
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.write(Bytes{1, 2, 3}));
    EXPECT_EQ(port.bytesWaiting(), 0u);
    EXPECT_EQ(port.readByte(), std::nullopt);
}

TEST(QtSerialPortVanish, a_closed_port_can_be_opened_again_on_a_new_far_end) {
    QtEventLoop loop;
    QtSerialPort port;
    {
        test::PtyPair pty;
        ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);
        port.close();
        EXPECT_FALSE(port.isOpen());
        EXPECT_FALSE(port.write(Bytes{1}));
    }
    test::PtyPair pty;
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);
    ASSERT_TRUE(port.write(Bytes{0x2A}));
    EXPECT_EQ(pty.read(1, 1000), Bytes{0x2A});
}

}  // namespace
}  // namespace varnel

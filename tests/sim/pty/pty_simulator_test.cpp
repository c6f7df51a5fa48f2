// The simulator on a pseudo-terminal, reached the way the plug-in reaches a
// real port: QSerialPort opening the device by name, in real time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

#include <functional>

#include "link/frames.h"
#include "sim/hex.h"
#include "sim/pty/pty_simulator.h"

namespace varnel::sim::pty {
namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "sim_pty_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

// Runs the event loop until `done` or `ms` pass.
bool pumpUntil(const std::function<bool()>& done, int ms) {
    app();
    QTimer wake;
    wake.start(2);
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QByteArray bytes(std::span<const std::uint8_t> b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

std::span<const std::uint8_t> view(const QByteArray& a) {
    return {reinterpret_cast<const std::uint8_t*>(a.constData()), static_cast<std::size_t>(a.size())};
}

struct PtyTest : ::testing::Test {
    void SetUp() override {
        app();
        auto err = pty.start();
        ASSERT_FALSE(err) << *err;
        ASSERT_FALSE(pty.path().empty());
    }
    bool openClient(QSerialPort& port) {
        port.setPortName(QString::fromStdString(pty.path()));
        if (!port.open(QIODevice::ReadWrite)) return false;
        port.setBaudRate(9600);
        return pumpUntil([&] { return pty.clientConnected(); }, 1000);
    }
    QByteArray readAtLeast(QSerialPort& port, int n, int ms) {
        QByteArray got;
        pumpUntil(
            [&] {
                got += port.readAll();
                return got.size() >= n;
            },
            ms);
        return got;
    }
    Controller sim;
    PtySimulator pty{sim};
};

// One client's life: nothing kept before it opens, a block read at line speed, reports, a
// close and a second open.
TEST_F(PtyTest, a_client_opens_reads_at_line_speed_gets_reports_and_opens_again) {
    sim.emitFiller();  // nobody has the device open yet
    EXPECT_EQ(pty.bytesLost(), 1u);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QSerialPort port;
        ASSERT_TRUE(openClient(port)) << port.errorString().toStdString();
        QElapsedTimer t;
        t.start();
        port.write(bytes(blockReadFrame(0x8D, 0xB5)));
        const auto got = readAtLeast(port, 264, 3000);
        const auto elapsed = t.elapsed();
        ASSERT_EQ(got.size(), 264);
        EXPECT_TRUE(blockReplyCrcOk(view(got)));
        // 272 bytes at 1.04 ms each; allow for timer slack upward only.
        EXPECT_GE(elapsed, 270);
        EXPECT_LT(elapsed, 2000);
        port.write(bytes(commandFrame(0x29, 5, 0x2C, 1)));
        EXPECT_EQ(toHex(view(readAtLeast(port, 3, 1000))), "06 00 06");
        sim.emitX10Received(0, 18);
        sim.emitIoChange(3, 4, 1);
        EXPECT_EQ(toHex(view(readAtLeast(port, 7, 1000))), "FE 00 12 F0 03 04 01");
        port.close();
        EXPECT_TRUE(pumpUntil([&] { return !pty.clientConnected(); }, 1000));
    }
    EXPECT_EQ(sim.variable(5), 300);
    EXPECT_EQ(sim.blockReadsOf(kIoBuffer).size(), 2u);
}

}  // namespace
}  // namespace varnel::sim::pty

// The network port against a far end of the test's own: what an open that fails
// says, line bytes both ways, and a far end that floods or closes mid-frame ending in
// a log line at most, never a hang. What the telnet session makes of odd options and
// of a stream cut anywhere is in tests/platform.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "net_far_end.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_port.h"
#include "ser2net.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::NetFarEnd;

std::string url(bool telnet, std::uint16_t port) {
    return std::string(telnet ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port);
}

// A port with short waits, and what it told.
struct Client {
    QtEventLoop loop;
    QtPort port{loop, NetTiming{.connectMs = 2000, .settingsMs = 1000}};
    std::vector<std::string> errors, notices;
    int arrivals = 0;
    Client() {
        port.onError = [this](const std::string& e) { errors.push_back(e); };
        port.onNotice = [this](const std::string& n) { notices.push_back(n); };
        port.onDataReceived = [this] { ++arrivals; };
    }
    Bytes take(std::size_t n, int ms = 3000) {
        loop.waitUntil(ms, [&] { return port.bytesWaiting() >= n; });
        Bytes out;
        while (auto b = port.readByte()) out.push_back(*b);
        return out;
    }
};

TEST(NetPortOpen, a_failed_open_names_the_endpoint_and_the_cause) {
    const std::uint16_t closed = test::freeTcpPort();
    NetFarEnd refusing({.telnet = true, .baudAnswer = 4800});
    NetFarEnd silentRaw({.telnet = false});
    NetFarEnd mute({.telnet = true, .answerSettings = false});
    const struct {
        std::string device;
        std::string error;
    } cases[] = {
        {url(false, closed), url(false, closed) + ": connection refused"},
        {url(true, closed), url(true, closed) + ": connection refused"},
        {url(true, refusing.port()),
         url(true, refusing.port()) + ": the far end refused to set 9600 8N1 (it set the baud rate to 4800, not 9600)"},
        {url(true, silentRaw.port()), url(true, silentRaw.port()) +
                                          ": the far end did not confirm 9600 8N1 within 1 s (is it a telnet port "
                                          "with RFC 2217, not a raw one?)"},
        {url(true, mute.port()), url(true, mute.port()) +
                                     ": the far end did not confirm 9600 8N1 within 1 s (is it a telnet port with "
                                     "RFC 2217, not a raw one?)"},
        {"tcp://box", "Port tcp://box: needs :PORT after the host, as in tcp://HOST:PORT or rfc2217://HOST:PORT"},
        {"tcp://bad\x01name:1", "Port tcp://bad?name:1: the host may hold letters, digits, '-', '.' and '_' only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        Client client;
        EXPECT_EQ(client.port.open(c.device), c.error);
        EXPECT_FALSE(client.port.isOpen());
    }
}

TEST(NetPortOpen, a_host_name_is_looked_up_and_a_stop_ends_an_open_that_waits) {
    NetFarEnd farEnd({.telnet = false});
    Client client;
    EXPECT_EQ(client.port.open("tcp://localhost:" + std::to_string(farEnd.port())), std::nullopt);
    EXPECT_TRUE(client.port.onNetwork());
    client.port.close();

    // A far end that never confirms the line: a stop arriving meanwhile ends the open at once.
    NetFarEnd mute({.telnet = true, .answerSettings = false});
    QTimer::singleShot(100, [&] { client.port.cancelOpen(); });
    QElapsedTimer took;
    took.start();
    const auto err = client.port.open(url(true, mute.port()));
    EXPECT_LT(took.elapsed(), 900);
    EXPECT_EQ(err, url(true, mute.port()) + ": the run is ending");
}

// Line bytes pass both ways whole (how the stream is cut is the telnet codec's, in
// tests/platform); a far end that goes away mid-report is a port that went away, once.
TEST(NetPortData, line_bytes_pass_both_ways_and_a_far_end_that_goes_away_is_lost_once) {
    for (const bool telnet : {false, true}) {
        SCOPED_TRACE(telnet ? "rfc2217" : "tcp");
        NetFarEnd farEnd({.telnet = telnet});
        Client client;
        ASSERT_EQ(client.port.open(url(telnet, farEnd.port())), std::nullopt);
        const Bytes frame{0xC8, 0xFF, 0x0D, 0x00, 0xFF, 0x2A};
        EXPECT_TRUE(client.port.write(frame));
        client.loop.waitUntil(2000, [&] { return farEnd.line().size() >= frame.size(); });
        EXPECT_EQ(farEnd.line(), frame);
        const Bytes reply{0xFF, 0xFE, 0x00, 0x0D, 0x00, 0xFF, 0xFF, 0x06};
        farEnd.sendLine(reply);
        EXPECT_EQ(client.take(reply.size()), reply);
        EXPECT_TRUE(client.loop.waitUntil(1000, [&] { return client.arrivals >= 1; }));
        EXPECT_TRUE(client.notices.empty());

        farEnd.sendLine({0xF0, 0x01});  // half an I/O change report, then gone
        client.loop.waitUntil(1000, [&] { return client.port.bytesWaiting() == 2; });
        farEnd.dropClient();
        client.loop.waitUntil(2000, [&] { return !client.errors.empty(); });
        EXPECT_EQ(client.errors,
                  std::vector<std::string>{url(telnet, farEnd.port()) + ": the far end closed the connection"});
        EXPECT_FALSE(client.port.isOpen());
        EXPECT_EQ(client.port.bytesWaiting(), 0u);
        EXPECT_FALSE(client.port.write(Bytes{0xC8}));
        // Opened again, it reaches the far end again.
        EXPECT_EQ(client.port.open(url(telnet, farEnd.port())), std::nullopt);
        EXPECT_EQ(farEnd.connections(), 2);
    }
}

TEST(NetPortLoss, a_far_end_that_floods_unread_bytes_is_cut_off) {
    NetFarEnd farEnd({.telnet = false});
    Client client;
    ASSERT_EQ(client.port.open(url(false, farEnd.port())), std::nullopt);
    client.loop.waitUntil(1000, [&] { return farEnd.connected(); });
    farEnd.sendLine(Bytes(QtNetPort::kMaxWaiting + 1024, 0x55));
    client.loop.waitUntil(3000, [&] { return !client.errors.empty(); });
    ASSERT_EQ(client.errors.size(), 1u);
    EXPECT_EQ(client.errors[0], url(false, farEnd.port()) + ": more than 64 KiB came unread from the far end");
}

}  // namespace
}  // namespace varnel

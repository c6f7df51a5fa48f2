// Whole runs of the varnel executable that each wait seconds for a start-up: they are
// all started first and checked one after another, so that the start-ups overlap.
// A service's run (systemd's notify socket, the unit's system-call filter, a host
// directory that alone configures it), the web page, MQTT, the configuration window,
// typed lines, a lock of another program, and a kill right after mirroring. What the
// page serves is in tests/web.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <csignal>
#include <fstream>
#include <set>
#include <sstream>

#include "cli.h"
#include "host/ini_text.h"
#include "mqtt_broker.h"
#include "mqtt_client.h"
#include "platform/qt/serial_devices.h"
#include "ser2net.h"
#include "sim/pty/pty_simulator.h"
#include "sim_demo.h"
#include "varnel_process.h"
#include "web/password.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;
using test::readFile;
using test::runVarnel;

// The service manager's end of NOTIFY_SOCKET: a datagram socket, one message each.
class NotifySocket {
public:
    explicit NotifySocket(const fs::path& path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("cannot bind " + path.string());
        // Read as they come: a full queue would block the sender.
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { messages(); });
    }
    ~NotifySocket() {
        notifier_.reset();
        ::close(fd_);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const std::vector<std::string>& messages() {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd_, buf, sizeof buf, 0)) > 0;) messages_.emplace_back(buf, static_cast<size_t>(n));
        return messages_;
    }
    std::size_t indexOf(const std::string& m) {
        const auto& all = messages();
        return static_cast<std::size_t>(std::find(all.begin(), all.end(), m) - all.begin());
    }
    std::ptrdiff_t count(const std::string& m) {
        const auto& all = messages();
        return std::count(all.begin(), all.end(), m);
    }

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<std::string> messages_;
};

// One GET, answered in full (the server closes after it).
std::string httpGet(std::uint16_t port, const std::string& path) {
    QTcpSocket s;
    s.connectToHost("127.0.0.1", port);
    QElapsedTimer t;
    t.start();
    while (s.state() != QAbstractSocket::ConnectedState && t.elapsed() < 5000) QCoreApplication::processEvents();
    s.write(QByteArray::fromStdString("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
    QByteArray got;
    while (s.state() != QAbstractSocket::UnconnectedState && t.elapsed() < 5000) {
        QCoreApplication::processEvents();
        got += s.readAll();
    }
    got += s.readAll();
    return got.toStdString();
}

std::size_t countPrefix(const test::TestClient& c, const std::string& prefix) {
    std::set<std::string> topics;
    for (const auto& m : c.received())
        if (m.topic.starts_with(prefix) && !m.payload.empty()) topics.insert(m.topic);
    return topics.size();
}

// The house codes that the "mappings" setting gives the modules ("unit!type!hc!invert,").
std::vector<std::string> mappedHouseCodes(const fs::path& hostDir) {
    const auto text = host::iniGet(readFile(hostDir / "config" / "settings.ini"), "hspi_tarnwick", "mappings");
    std::vector<std::string> out;
    for (std::size_t at = 0; text && at < text->size();) {
        const std::size_t end = std::min(text->find(',', at), text->size());
        const std::string entry = text->substr(at, end - at);
        const std::size_t first = entry.find('!'), second = entry.find('!', first + 1);
        if (second != std::string::npos) out.push_back(entry.substr(second + 1, 1));
        at = end + 1;
    }
    return out;
}

// A lock file in the place serial programs look for the device's.
class FakeLock {
public:
    FakeLock(const std::string& device, const std::string& text) : file_(*lockFileFor(device)) {
        test::writeFile(file_, text);
    }
    ~FakeLock() {
        std::error_code ec;
        fs::remove(file_, ec);
    }
    const fs::path& file() const { return file_; }

private:
    fs::path file_;
};

// The simulator's line runs fast where its pace is not what is looked at.
QStringList simulated(const fs::path& hostDir, QStringList more = {}) {
    return QStringList{"run", "--simulate", "--sim-baud", "1000000", "--host-dir", q(hostDir)} + more;
}

TEST(VarnelRuns, side_by_side_each_starts_works_and_ends_as_it_should) {
    test::TempDir dir;
    const fs::path root = dir.path();

    // --- Starts -------------------------------------------------------------------------
    // A service: the unit's system-call filter in force (a refused call would kill the run
    // with SIGSYS before it is ready), configured by its host directory alone.
    const fs::path jailHost = root / "jail";
    const std::string jailSettings = "[varnel]\r\nsimulate=1\r\ndemo=0\r\nsim_baud=1000000\r\n";
    test::writeFile(jailHost / "config" / "settings.ini", jailSettings);
    NotifySocket systemd(root / "notify");
    // The leak checker traces the process at its exit, which the filter forbids (ptrace).
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "detect_leaks=0";
    test::LiveVarnel jailed({VARNEL_UNIT_FILE, VARNEL_EXE, "run", "--host-dir", q(jailHost)},
                            {{"NOTIFY_SOCKET", q(root / "notify")},
                             {"WATCHDOG_USEC", "300000"},
                             {"INVOCATION_ID", "5e1c0f3a9b7d4c2e8f6a1b3c5d7e9f01"},
                             {"ASAN_OPTIONS", q(asanOptions)}},
                            VARNEL_SYSCALL_JAIL);

    const fs::path fileHost = root / "file";
    test::writeFile(fileHost / "config" / "settings.ini",
                    "[hspi_tarnwick]\r\npoll_interval=500\r\n\r\n[varnel]\r\nsimulate=1\r\ndemo=0\r\nfor=30\r\n"
                    "sim_baud=1000000\r\nlog_level=warning\r\nexec=var 20 77\r\nexec=quit\r\n");
    test::LiveVarnel fromFile({"run", "--host-dir", q(fileHost)});

    // The web page's password is kept as a hash, which the next run asks for.
    test::writeFile(root / "pw", "open sesame\n");
    const auto setPassword = runVarnel({"web-password", "--host-dir", q(root / "web")}, {}, (root / "pw").string());
    const std::uint16_t guardedPort = test::freeTcpPort();
    test::LiveVarnel guarded(
        simulated(root / "web", {"--no-demo", "--http", QString("0.0.0.0:%1").arg(guardedPort), "--exec", "status"}));

    test::TestBroker broker;
    test::TestClient ha(broker.port(), "ha");
    ha.subscribe("homeassistant/#");
    ha.subscribe("varnel/#");
    test::LiveVarnel mqtt(simulated(root / "mqtt", {"--mqtt", QString::fromStdString(broker.url())}));

    test::LiveVarnel typed(simulated(root / "typed"));
    typed.type("var 20 1234\nquit\nvar 21 1\n");
    // The command line's mirroring is done before the first --exec line.
    test::LiveVarnel mirrored(
        simulated(root / "mirrored", {"--no-demo", "--mirror-points", "1:0-15", "--exec", "var 30 5"}));
    test::LiveVarnel window(
        simulated(root / "window", {"--no-demo", "--window-screenshots", q(root / "pictures"), "--for", "60"}));

    // A port whose lock file names a process: a live one keeps it, a dead one's is taken over.
    sim::Controller controller(app::demoController());
    sim::pty::PtySimulator pty(controller, sim::WireTiming{.usPerByte = 10});
    ASSERT_EQ(pty.start(), std::nullopt);
    const std::string me = std::to_string(::getpid());
    std::optional<FakeLock> lock(std::in_place, pty.path(), "     " + me + "\n");
    const auto listedLive = runVarnel({"ports", q(pty.path())});
    const auto busy = runVarnel({"run", "--port", q(pty.path()), "--host-dir", q(root / "locked"), "--exec", "quit"});
    const std::string liveLock = readFile(lock->file());
    const std::string dead = std::to_string(test::deadProcess());
    lock.emplace(pty.path(), "  " + dead + " minicom ann\n");
    const auto listedDead = runVarnel({"ports", q(pty.path())});
    test::LiveVarnel takeOver({"run", "--port", q(pty.path()), "--host-dir", q(root / "locked"), "--exec", "quit"});

    // --- Checks. A run waited for to its end stops this process's loop, and with it the
    // simulator above: the run on it is checked before the bad settings' runs.
    [&] {
        SCOPED_TRACE("a run holds its host directory, runs typed lines and ends at quit");
        ASSERT_NE(typed.waitFor("Using Comm Port", 0, 40'000), std::string::npos) << typed.said();
        // A second host on the same directory would overwrite the first one's devices.
        const auto second = runVarnel(simulated(root / "typed"));
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_EQ(second.err, "varnel: host directory " + (root / "typed").string() +
                                  " is in use by another varnel process (" + std::to_string(typed.pid()) + ")\n");
        ASSERT_TRUE(typed.waitForExit());
        EXPECT_EQ(typed.exitCode(), 0) << typed.said();
        EXPECT_NE(typed.out().find("var 20 1234: written"), std::string::npos) << typed.out();
        EXPECT_NE(typed.out().find("quit: stopping"), std::string::npos) << typed.out();
        EXPECT_EQ(typed.out().find("var 21"), std::string::npos) << typed.out();
        EXPECT_EQ(readFile(root / "typed" / "logs" / "host.log").find("Timeout"), std::string::npos);
    }();

    [&] {
        SCOPED_TRACE("a service under the unit's filter tells systemd");
        ASSERT_TRUE(jailed.waitUntil(40'000, [&] { return systemd.count("READY=1") == 1; })) << jailed.said();
        const std::size_t ready = systemd.indexOf("READY=1");
        const auto before = systemd.messages();
        EXPECT_EQ(before.front(), "WATCHDOG=1");
        EXPECT_EQ(before[1], "STATUS=starting");
        // The start-up takes seconds; the watchdog hears from the loop all along.
        EXPECT_GE(std::count(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(ready), "WATCHDOG=1"), 4);
        const std::string status = before[ready - 1];
        EXPECT_EQ(status.rfind("STATUS=controller ok, 0 devices, last reply ", 0), 0u) << status;
        EXPECT_NE(status.find(" ago, 0 time-outs, 0 checksum errors, "), std::string::npos) << status;
        EXPECT_NE(status.find(", 0 queued, start-up ok, 4 modules ("), std::string::npos) << status;
        const std::string settings = readFile(jailHost / "config" / "settings.ini");
        EXPECT_NE(settings, jailSettings);
        EXPECT_EQ(settings.rfind(jailSettings, 0), 0u) << settings;

        const auto pings = systemd.count("WATCHDOG=1");
        jailed.waitUntil(1'000, [] { return false; });
        EXPECT_GE(systemd.count("WATCHDOG=1"), pings + 3);
        jailed.terminate();
        ASSERT_TRUE(jailed.waitForExit());
        EXPECT_EQ(jailed.exitCode(), 0) << jailed.said();
        const auto& all = systemd.messages();
        const std::size_t stopping = systemd.indexOf("STOPPING=1");
        ASSERT_LT(stopping, all.size());
        EXPECT_GT(stopping, ready);
        EXPECT_EQ(systemd.count("STOPPING=1"), 1);
        EXPECT_EQ(systemd.count("READY=1"), 1);
        EXPECT_TRUE(std::none_of(all.begin() + static_cast<std::ptrdiff_t>(stopping), all.end(),
                                 [](const std::string& m) { return m.starts_with("STATUS="); }))
            << "the stop is what systemd shows";
        // The journal dates the lines itself: the host log's come on standard error without a date.
        EXPECT_NE(jailed.err().find("\nVarnel: Using Comm Port 1 0 \n"), std::string::npos) << jailed.err();
        EXPECT_EQ(jailed.out().find("Varnel:"), std::string::npos) << jailed.out();
        std::istringstream lines(jailed.err());
        for (std::string line; std::getline(lines, line);) EXPECT_FALSE(std::isdigit(line[0])) << line;
        EXPECT_EQ(jailed.said().find("could not keep the owner"), std::string::npos) << jailed.said();
        for (const auto& e : fs::directory_iterator(jailHost / "config"))
            EXPECT_EQ(e.path().filename(), "settings.ini") << "nothing left behind";
    }();

    [&] {
        SCOPED_TRACE("a live program's lock is named and kept, a dead one's taken over");
        EXPECT_EQ(listedLive.exitCode, 0);
        EXPECT_NE(listedLive.out.find("  lock:   locked by process " + me + " ("), std::string::npos) << listedLive.out;
        EXPECT_EQ(busy.exitCode, 1);
        EXPECT_EQ(busy.err.rfind("varnel: Serial port " + pty.path() + " is busy: locked by process " + me + " (", 0),
                  0u)
            << busy.err;
        EXPECT_EQ(liveLock, "     " + me + "\n") << "a running program's lock stays";
        EXPECT_NE(listedDead.out.find("locked by process " + dead +
                                      " (minicom), which is no longer running; the next varnel run takes it over"),
                  std::string::npos)
            << listedDead.out;
        ASSERT_NE(takeOver.waitFor("quit: stopping", 0, 40'000), std::string::npos) << takeOver.said();
        ASSERT_TRUE(takeOver.waitForExit());
        EXPECT_EQ(takeOver.exitCode(), 0);
        EXPECT_NE(takeOver.out().find("varnel: Serial port " + pty.path() + ": took over the stale lock file " +
                                      lock->file().string() + " of process " + dead),
                  std::string::npos)
            << takeOver.out();
        EXPECT_FALSE(fs::exists(lock->file())) << "the run's own lock went with it";
    }();

    [&] {
        SCOPED_TRACE("the host directory alone configures a run");
        ASSERT_TRUE(fromFile.waitForExit(40'000)) << fromFile.said();
        EXPECT_EQ(fromFile.exitCode(), 0) << fromFile.said();
        EXPECT_NE(fromFile.out().find("var 20 77: written"), std::string::npos) << fromFile.out();
        EXPECT_EQ(fromFile.out().find("Varnel: Using Comm Port"), std::string::npos) << "log_level=warning";
        EXPECT_NE(readFile(fileHost / "logs" / "host.log").find("Using Comm Port"), std::string::npos);
        // The plug-in's own section is still its own.
        const std::string settings = readFile(fileHost / "config" / "settings.ini");
        EXPECT_NE(settings.find("[varnel]\r\nsimulate=1\r\n"), std::string::npos) << settings;
        EXPECT_NE(settings.find("poll_interval=500"), std::string::npos) << settings;

        // The broker's settings are checked before the run starts, the CA file among them,
        // and end it with the status of wrong settings (a bad value's is in VarnelService).
        const std::string file = (fileHost / "config" / "settings.ini").string();
        test::writeFile(file, "[varnel]\r\nsimulate=1\r\nmqtt=mqtts://broker\r\nmqtt_ca_file=" + file + "\r\n");
        const auto bad = runVarnel({"run", "--host-dir", q(fileHost)});
        EXPECT_EQ(bad.exitCode, app::kExitConfig) << bad.err;
        EXPECT_EQ(bad.err, "varnel: the CA file " + file + " holds no PEM certificate\n");
        // The unit does not restart on that status.
        std::istringstream unit(readFile(VARNEL_UNIT_FILE));
        std::vector<std::string> prevented;
        for (std::string line; std::getline(unit, line);)
            if (line.rfind("RestartPreventExitStatus=", 0) == 0) {
                std::istringstream codes(line.substr(line.find('=') + 1));
                for (std::string code; codes >> code;) prevented.push_back(code);
            }
        EXPECT_NE(std::find(prevented.begin(), prevented.end(), std::to_string(app::kExitConfig)), prevented.end());
    }();

    [&] {
        SCOPED_TRACE("a page with a password");
        ASSERT_EQ(setPassword.exitCode, 0) << setPassword.err;
        const std::string settings = readFile(root / "web" / "config" / "settings.ini");
        EXPECT_EQ(settings.find("open sesame"), std::string::npos);
        const auto hash = host::iniGet(settings, "varnel", "http_password");
        ASSERT_TRUE(hash) << settings;
        EXPECT_TRUE(web::passwordMatches("open sesame", *hash));
        const std::string url = "web page http://0.0.0.0:" + std::to_string(guardedPort) + "/";
        ASSERT_NE(guarded.waitFor(url, 0, 40'000), std::string::npos) << guarded.said();
        EXPECT_TRUE(httpGet(guardedPort, "/api/state").starts_with("HTTP/1.1 401"));
        const std::string session = httpGet(guardedPort, "/api/session");
        EXPECT_NE(session.find(R"("auth":"password")"), std::string::npos) << session;
        guarded.endInput();
        guarded.interrupt();
        EXPECT_TRUE(guarded.waitForExit());
    }();

    [&] {
        SCOPED_TRACE("a simulated run on MQTT shows a whole device and goes offline when killed");
        // The demo's host directory mirrors variables and the points of three units.
        ASSERT_TRUE(mqtt.waitUntil(40'000, [&] {
            return ha.latest("varnel/status") == "online" && countPrefix(ha, "homeassistant/number/") >= 8 &&
                   countPrefix(ha, "homeassistant/binary_sensor/") >= 9;
        })) << mqtt.said();
        EXPECT_EQ(ha.latest("varnel/controller/link"), "ON");
        // The installation's id is kept in the host directory's settings and told on the broker.
        const auto id = host::iniGet(readFile(root / "mqtt" / "config" / "settings.ini"), "varnel", "identity");
        ASSERT_TRUE(id);
        EXPECT_EQ(ha.latest("varnel/bridge/installation"), *id);
        mqtt.type("status\n");
        EXPECT_NE(mqtt.waitFor("mqtt: connected to " + broker.url() + " (MQTT 5) since ", 0, 5000), std::string::npos)
            << mqtt.said();
        ::kill(static_cast<pid_t>(mqtt.pid()), SIGKILL);
        EXPECT_TRUE(mqtt.waitUntil(10'000, [&] { return ha.latest("varnel/status") == "offline"; }));
    }();

    [&] {
        SCOPED_TRACE("killed right after mirroring, the devices the mappings name are on disk");
        ASSERT_NE(mirrored.waitFor("var 30 5: written", 0, 40'000), std::string::npos) << mirrored.said();
        ::kill(static_cast<pid_t>(mirrored.pid()), SIGKILL);
        ASSERT_TRUE(mirrored.waitForExit());
        const auto codes = mappedHouseCodes(root / "mirrored");
        ASSERT_FALSE(codes.empty()) << readFile(root / "mirrored" / "config" / "settings.ini");
        const auto devices = test::savedDevices(root / "mirrored");
        for (const std::string& hc : codes) {
            const auto n = std::count_if(devices.begin(), devices.end(), [&](const auto& d) { return d.hc == hc; });
            EXPECT_EQ(n, 16) << "house code " << hc << " of the mappings";
        }
    }();

    [&] {
        SCOPED_TRACE("screenshots of each tab of the window, drawn off screen, and the run ends");
        ASSERT_TRUE(window.waitForExit(60'000)) << window.said();
        EXPECT_EQ(window.exitCode(), 0) << window.said();
        for (const char* name : {"config-general.png", "config-io.png", "config-ir.png", "config-cmax.png"}) {
            std::ifstream in(root / "pictures" / name, std::ios::binary);
            char head[8] = {};
            in.read(head, sizeof head);
            EXPECT_EQ(std::string(head + 1, 3), "PNG") << name;
        }
    }();

    const auto timed = runVarnel(simulated(root / "typed", {"--for", "1"}));
    EXPECT_EQ(timed.exitCode, 0) << timed.err;
    EXPECT_NE(timed.out.find("Simulated controller on /dev/pts/"), std::string::npos) << timed.out;
}

}  // namespace
}  // namespace varnel

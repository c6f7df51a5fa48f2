// `varnel run` as a service: what systemd hears through its notify socket, a run
// configured by the host directory's settings file alone, and the serial port's
// lock, permission and busy cases as `varnel ports` and `varnel run` report them.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "cli.h"
#include "platform/qt/serial_devices.h"
#include "pty_pair.h"
#include "service_notifier.h"
#include "sim/pty/pty_simulator.h"
#include "sim_demo.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;

// The service manager's end of NOTIFY_SOCKET: a datagram socket, one message each.
class NotifySocket {
public:
    explicit NotifySocket(const fs::path& path) : path_(path) {
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

private:
    fs::path path_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<std::string> messages_;
};

TEST(VarnelService, tells_systemd_when_it_is_ready_how_it_is_and_that_it_stops) {
    test::TempDir dir;
    NotifySocket systemd(dir.path() / "notify");
    test::LiveVarnel run({"run", "--simulate", "--no-demo", "--host-dir", q(dir.path() / "host")},
                         {{"NOTIFY_SOCKET", q(dir.path() / "notify")},
                          {"WATCHDOG_USEC", "300000"},
                          {"INVOCATION_ID", "5e1c0f3a9b7d4c2e8f6a1b3c5d7e9f01"}});
    const auto count = [&](const std::string& m) {
        const auto& all = systemd.messages();
        return std::count(all.begin(), all.end(), m);
    };
    ASSERT_TRUE(run.waitUntil(40'000, [&] { return count("READY=1") == 1; })) << run.said();
    const std::size_t ready = systemd.indexOf("READY=1");
    const auto& before = systemd.messages();
    EXPECT_EQ(before.front(), "WATCHDOG=1");
    EXPECT_EQ(before[1], "STATUS=starting");
    // The start-up takes seconds; the watchdog hears from the loop all along.
    EXPECT_GE(std::count(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(ready), "WATCHDOG=1"), 4);
    const std::string status = before[ready - 1];
    EXPECT_EQ(status.rfind("STATUS=controller ok, 0 devices, last reply ", 0), 0u) << status;
    EXPECT_NE(status.find(" ago, 0 time-outs, 0 checksum errors, "), std::string::npos) << status;
    EXPECT_NE(status.find(", 0 queued, start-up ok, 4 modules ("), std::string::npos) << status;

    const auto pings = count("WATCHDOG=1");
    run.waitUntil(1'000, [] { return false; });
    EXPECT_GE(count("WATCHDOG=1"), pings + 3);
    run.terminate();
    ASSERT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), 0) << run.said();
    const auto& all = systemd.messages();
    const std::size_t stopping = systemd.indexOf("STOPPING=1");
    ASSERT_LT(stopping, all.size());
    EXPECT_GT(stopping, ready);
    EXPECT_EQ(std::count(all.begin(), all.end(), "STOPPING=1"), 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), "READY=1"), 1);
    EXPECT_TRUE(std::none_of(all.begin() + static_cast<std::ptrdiff_t>(stopping), all.end(), [](const std::string& m) {
        return m.starts_with("STATUS=");
    })) << "the stop is what systemd shows";

    // The journal dates the lines itself: the host log's come on standard error without a date.
    EXPECT_NE(run.err().find("\nVarnel: Using Comm Port 1 0 \n"), std::string::npos) << run.err();
    EXPECT_EQ(run.out().find("Varnel:"), std::string::npos) << run.out();
    std::istringstream lines(run.err());
    for (std::string line; std::getline(lines, line);) EXPECT_FALSE(std::isdigit(line[0])) << line;
}

TEST(ServiceNotifier, says_ready_and_stopping_once_each_and_no_status_after_stopping) {
    test::TempDir dir;
    NotifySocket systemd(dir.path() / "notify");
    ::setenv("NOTIFY_SOCKET", (dir.path() / "notify").c_str(), 1);
    {
        app::ServiceNotifier notifier;
        notifier.status("waiting for the port");
        notifier.status("waiting for the port");
        notifier.ready();
        notifier.status("controller ok");
        notifier.ready();
        notifier.stopping();
        notifier.status("link stopped");
        notifier.stopping();
    }
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_EQ(systemd.messages(), (std::vector<std::string>{"STATUS=waiting for the port", "READY=1",
                                                            "STATUS=controller ok", "STOPPING=1"}));
}

// systemd starts the service with the unit's system-call filter in force: a call the
// filter refuses would kill the run (SIGSYS) before it is ready.
TEST(VarnelService, runs_under_the_units_own_system_call_filter_and_rewrites_its_settings) {
    test::TempDir dir;
    const fs::path host = dir.path() / "host";
    const std::string before = "[varnel]\r\nsimulate=1\r\ndemo=0\r\n";
    test::writeFile(host / "config" / "settings.ini", before);
    NotifySocket systemd(dir.path() / "notify");
    // The leak checker traces the process at its exit, which the filter forbids (ptrace):
    // under the sanitizers the jailed run goes without it.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "detect_leaks=0";
    test::LiveVarnel run({VARNEL_UNIT_FILE, VARNEL_EXE, "run", "--host-dir", q(host)},
                         {{"NOTIFY_SOCKET", q(dir.path() / "notify")}, {"ASAN_OPTIONS", q(asanOptions)}},
                         VARNEL_SYSCALL_JAIL);
    ASSERT_TRUE(run.waitUntil(40'000, [&] { return systemd.indexOf("READY=1") < systemd.messages().size(); }))
        << run.said();
    const std::string settings = test::readFile(host / "config" / "settings.ini");
    EXPECT_NE(settings, before);
    EXPECT_EQ(settings.rfind(before, 0), 0u) << settings;
    run.terminate();
    ASSERT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), 0) << run.said();
    EXPECT_EQ(run.said().find("could not keep the owner"), std::string::npos) << run.said();
    for (const auto& e : fs::directory_iterator(host / "config"))
        EXPECT_EQ(e.path().filename(), "settings.ini") << "nothing left behind";
}

TEST(VarnelService, the_host_directory_alone_configures_a_run_and_a_bad_entry_stops_it) {
    test::TempDir dir;
    const fs::path host = dir.path() / "host";
    fs::create_directories(host / "config");
    test::writeFile(host / "config" / "settings.ini",
                    "[hspi_tarnwick]\r\npoll_interval=500\r\n\r\n[varnel]\r\nsimulate=1\r\ndemo=0\r\nfor=30\r\n"
                    "log_level=warning\r\nexec=var 20 77\r\nexec=quit\r\n");
    const auto r = test::runVarnel({"run", "--host-dir", q(host)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("var 20 77: written"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Varnel: Using Comm Port"), std::string::npos) << "log_level=warning leaves it out";
    EXPECT_NE(test::readFile(host / "logs" / "host.log").find("Using Comm Port"), std::string::npos);
    // The plug-in's own section is still its own.
    const std::string settings = test::readFile(host / "config" / "settings.ini");
    EXPECT_NE(settings.find("[varnel]\r\nsimulate=1\r\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("poll_interval=500"), std::string::npos) << settings;

    // Wrong settings end the run with their own status, one the unit does not restart on.
    const struct {
        std::string settings, err;
    } wrong[] = {
        {"[varnel]\r\nsimulate=1\r\nfor=soon\r\n",
         "varnel: " + (host / "config" / "settings.ini").string() +
             ": [varnel] for: needs a number of seconds above 0, not 'soon'\n"},
        // The broker's settings are checked before the run starts, the CA file among them.
        {"[varnel]\r\nsimulate=1\r\nmqtt=mqtts://broker\r\nmqtt_ca_file=" +
             (host / "config" / "settings.ini").string() + "\r\n",
         "varnel: the CA file " + (host / "config" / "settings.ini").string() + " holds no PEM certificate\n"},
    };
    for (const auto& w : wrong) {
        test::writeFile(host / "config" / "settings.ini", w.settings);
        const auto bad = test::runVarnel({"run", "--host-dir", q(host)});
        EXPECT_EQ(bad.exitCode, app::kExitConfig) << bad.err;
        EXPECT_EQ(w.err.ends_with('\n') ? bad.err : bad.err.substr(0, w.err.size()), w.err) << bad.err;
        EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
    }
    std::istringstream unit(test::readFile(VARNEL_UNIT_FILE));
    std::vector<std::string> prevented;
    for (std::string line; std::getline(unit, line);)
        if (line.rfind("RestartPreventExitStatus=", 0) == 0) {
            std::istringstream codes(line.substr(line.find('=') + 1));
            for (std::string code; codes >> code;) prevented.push_back(code);
        }
    EXPECT_NE(std::find(prevented.begin(), prevented.end(), std::to_string(app::kExitConfig)), prevented.end());
}

// What ends a run reaches the journal as an error, so `journalctl -p err` shows it.
TEST(VarnelService, a_run_that_cannot_start_says_why_at_error_priority_in_the_journal) {
    test::TempDir dir;
    const fs::path host = dir.path() / "host";
    test::writeFile(host / "config" / "settings.ini", "[varnel]\r\nsimulate=1\r\nfor=soon\r\n");
    // Standard error is the journal's stream when JOURNAL_STREAM names it.
    test::LiveVarnel run({"-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /dev/stderr) exec \"$0\" \"$@\"", VARNEL_EXE, "run",
                          "--host-dir", q(host)},
                         {}, "/bin/sh");
    ASSERT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), app::kExitConfig);
    EXPECT_EQ(run.err(), "<3>varnel: " + (host / "config" / "settings.ini").string() +
                             ": [varnel] for: needs a number of seconds above 0, not 'soon'\n");
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

pid_t deadProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST(VarnelPorts, names_the_holder_of_a_lock_and_a_run_takes_over_a_dead_ones_lock) {
    sim::Controller controller(app::demoController());
    sim::pty::PtySimulator pty(controller);
    ASSERT_EQ(pty.start(), std::nullopt);
    test::TempDir dir;
    const std::string me = std::to_string(::getpid());
    {
        // A program that keeps its lock the old way, its process number only, and runs.
        FakeLock lock(pty.path(), "     " + me + "\n");
        const auto listed = test::runVarnel({"ports", q(pty.path())});
        EXPECT_EQ(listed.exitCode, 0);
        EXPECT_NE(listed.out.find("  lock:   locked by process " + me + " ("), std::string::npos) << listed.out;
        const auto busy =
            test::runVarnel({"run", "--port", q(pty.path()), "--host-dir", q(dir.path()), "--exec", "quit"});
        EXPECT_EQ(busy.exitCode, 1);
        EXPECT_EQ(busy.err.rfind("varnel: Serial port " + pty.path() + " is busy: locked by process " + me + " (", 0),
                  0u)
            << busy.err;
        EXPECT_EQ(test::readFile(lock.file()), "     " + me + "\n") << "a running program's lock stays";
    }
    const std::string dead = std::to_string(deadProcess());
    FakeLock lock(pty.path(), "  " + dead + " minicom ann\n");
    const auto listed = test::runVarnel({"ports", q(pty.path())});
    EXPECT_NE(listed.out.find("locked by process " + dead +
                              " (minicom), which is no longer running; the next varnel "
                              "run takes it over"),
              std::string::npos)
        << listed.out;
    test::LiveVarnel run({"run", "--port", q(pty.path()), "--host-dir", q(dir.path()), "--exec", "quit"});
    ASSERT_NE(run.waitFor("quit: stopping", 0, 40'000), std::string::npos) << run.said();
    ASSERT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_NE(run.out().find("varnel: Serial port " + pty.path() + ": took over the stale lock file " +
                             lock.file().string() + " of process " + dead),
              std::string::npos)
        << run.out();
    EXPECT_FALSE(fs::exists(lock.file())) << "the run's own lock went with it";
}

TEST(VarnelPorts, a_port_this_user_may_not_open_says_which_group_may) {
    test::PtyPair pty;
    test::TempDir dir;
    const bool root = ::geteuid() == 0;
    if (root) {
        // Root opens anything: the commands run as nobody, the device belongs to dialout.
        ASSERT_EQ(::chown(pty.slaveName().c_str(), 0, 20), 0);
        ASSERT_EQ(::chmod(pty.slaveName().c_str(), 0660), 0);
        fs::permissions(dir.path(), fs::perms::all);
    } else {
        ASSERT_EQ(::chmod(pty.slaveName().c_str(), 0), 0);
    }
    const auto run = [&](const QStringList& args) {
        return root ? test::runVarnelAs(65534, args, dir.path() / "config") : test::runVarnel(args);
    };
    const auto listed = run({"ports", q(pty.slaveName())});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.out.find("  access: no, no permission to open it"), std::string::npos) << listed.out;
    const auto r = run({"run", "--port", q(pty.slaveName()), "--host-dir", q(dir.path() / "host"), "--for", "30"});
    EXPECT_EQ(r.exitCode, 1);
    const std::string said = r.out + r.err;
    EXPECT_NE(said.find("varnel: Serial port " + pty.slaveName() + ": no permission to open it"), std::string::npos)
        << said;
    if (root) {
        EXPECT_NE(said.find("add the user to the dialout group (sudo usermod -aG dialout nobody"), std::string::npos)
            << said;
    }
}

}  // namespace
}  // namespace varnel

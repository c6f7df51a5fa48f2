#include "varnel_process.h"

#include <QTimer>
#include <csignal>

#include "host/embedded_host.h"

namespace varnel::test {
namespace {

void startVarnel(QProcess& p, const QStringList& args, const std::filesystem::path& configHome,
                 const std::vector<std::pair<QString, QString>>& extra = {},
                 const QString& program = QStringLiteral(VARNEL_EXE)) {
    auto env = QProcessEnvironment::systemEnvironment();
    // A test run by a systemd service must not hand its own service's variables on.
    for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "INVOCATION_ID", "JOURNAL_STREAM"})
        env.remove(name);
    env.insert("XDG_CONFIG_HOME", q(configHome));
    for (const auto& [name, value] : extra) env.insert(name, value);
    p.setProcessEnvironment(env);
    p.start(program, args);
}

Outcome runToEnd(const QStringList& args, const std::filesystem::path& configHome,
                 const std::optional<std::string>& stdinFile, const QString& program) {
    TempDir ownConfig;
    QProcess p;
    if (stdinFile) p.setStandardInputFile(QString::fromStdString(*stdinFile));
    startVarnel(p, args, configHome.empty() ? ownConfig.path() : configHome, {}, program);
    if (!stdinFile) p.closeWriteChannel();
    const bool ended = p.waitForFinished(30'000);
    if (!ended) {
        p.kill();
        p.waitForFinished();
    }
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

}  // namespace

Outcome runVarnel(const QStringList& args, const std::filesystem::path& configHome,
                  const std::optional<std::string>& stdinFile) {
    return runToEnd(args, configHome, stdinFile, QStringLiteral(VARNEL_EXE));
}

Outcome runVarnelAs(unsigned id, const QStringList& args, const std::filesystem::path& configHome) {
    const QString who = QString::number(id);
    return runToEnd(
        QStringList{"--reuid=" + who, "--regid=" + who, "--clear-groups", QStringLiteral(VARNEL_EXE)} + args,
        configHome, std::nullopt, QStringLiteral("setpriv"));
}

LiveVarnel::LiveVarnel(const QStringList& args, const std::vector<std::pair<QString, QString>>& env,
                       const QString& program) {
    startVarnel(p_, args, user_.path(), env, program);
    if (!p_.waitForStarted()) throw std::runtime_error("varnel did not start");
}

LiveVarnel::~LiveVarnel() {
    if (p_.state() == QProcess::NotRunning) return;
    p_.kill();
    p_.waitForFinished();
}

void LiveVarnel::interrupt() { ::kill(static_cast<pid_t>(p_.processId()), SIGINT); }
void LiveVarnel::terminate() { ::kill(static_cast<pid_t>(p_.processId()), SIGTERM); }

void LiveVarnel::collect() {
    out_ += p_.readAllStandardOutput().toStdString();
    err_ += p_.readAllStandardError().toStdString();
}

std::size_t LiveVarnel::waitFor(const std::string& text, std::size_t from, int ms) {
    loop_.waitUntil(ms, [&] {
        collect();
        return out_.find(text, from) != std::string::npos || p_.state() == QProcess::NotRunning;
    });
    collect();
    return out_.find(text, from);
}

bool LiveVarnel::waitUntil(int ms, const std::function<bool()>& done) {
    // What a test waits for may change with no Qt event here (a file, a broker client's
    // thread): a timer wakes the loop to look again.
    QTimer look;
    look.start(20);
    const bool ok = loop_.waitUntil(ms, [&] {
        collect();
        return done();
    });
    collect();
    return ok;
}

bool LiveVarnel::waitForExit(int ms) {
    loop_.waitUntil(ms, [&] { return p_.state() == QProcess::NotRunning; });
    collect();
    return p_.state() == QProcess::NotRunning;
}

std::unique_ptr<LiveVarnel> startSimulator(const std::filesystem::path& link, const std::filesystem::path& script) {
    auto sim = std::make_unique<LiveVarnel>(QStringList{"sim", "--link", q(link), "--demo-script", q(script)});
    sim->waitUntil(20'000, [&] {
        std::error_code ec;
        return std::filesystem::exists(link, ec);
    });
    return sim;
}

std::vector<host::DeviceRecord> savedDevices(const std::filesystem::path& hostDir) {
    Rig rig;
    return EmbeddedHost(hostDir, rig.userSettings, rig.launcher).devices();
}

std::optional<host::DeviceRecord> savedDevice(const std::filesystem::path& hostDir, const std::string& code) {
    for (const auto& d : savedDevices(hostDir))
        if (d.code() == code) return d;
    return std::nullopt;
}

}  // namespace varnel::test

#pragma once
// The varnel executable from a test: run to the end, or kept running while the
// test turns its own event loop; and the host directory it leaves behind.
#include <QProcess>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/device_table.h"
#include "platform/qt/qt_event_loop.h"
#include "rig.h"
#include "text_files.h"

namespace varnel::test {

struct Outcome {
    int exitCode = -1;  // -1: crashed or did not end in time
    std::string out, err;
};

// Per-user settings go to `configHome` (a fresh folder when empty); standard input
// comes from `stdinFile` (a pty slave makes it a terminal) or is closed at once.
Outcome runVarnel(const QStringList& args, const std::filesystem::path& configHome = {},
                  const std::optional<std::string>& stdinFile = std::nullopt);

// As runVarnel, as the user and group `id` (setpriv), for a root test to see what
// another user's run meets.
Outcome runVarnelAs(unsigned id, const QStringList& args, const std::filesystem::path& configHome);

class LiveVarnel {
public:
    // `env`: variables added to the test's environment; `program` runs instead of varnel
    // (one that starts it, such as a sandbox).
    explicit LiveVarnel(const QStringList& args, const std::vector<std::pair<QString, QString>>& env = {},
                        const QString& program = QStringLiteral(VARNEL_EXE));
    ~LiveVarnel();
    void type(const std::string& lines) { p_.write(lines.c_str(), static_cast<qint64>(lines.size())); }
    void endInput() { p_.closeWriteChannel(); }
    void interrupt();
    void terminate();
    // Runs the event loop until `done` or `ms` passed, taking in the output meanwhile.
    bool waitUntil(int ms, const std::function<bool()>& done);
    // Position of `text` in the output from `from` on, once it shows (npos if it never did).
    std::size_t waitFor(const std::string& text, std::size_t from = 0, int ms = 20'000);
    bool waitForExit(int ms = 20'000);
    int exitCode() const { return p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -1; }
    qint64 pid() const { return p_.processId(); }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    std::string said() const { return out_ + "\n--- stderr ---\n" + err_; }

private:
    void collect();
    QtEventLoop loop_;
    TempDir user_;
    QProcess p_;
    std::string out_, err_;
};

// The devices a host finds in `hostDir` at its next start.
// `varnel sim --link LINK --demo-script SCRIPT`, once the link is there.
std::unique_ptr<LiveVarnel> startSimulator(const std::filesystem::path& link, const std::filesystem::path& script);

std::vector<host::DeviceRecord> savedDevices(const std::filesystem::path& hostDir);
std::optional<host::DeviceRecord> savedDevice(const std::filesystem::path& hostDir, const std::string& code);

inline QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

}  // namespace varnel::test

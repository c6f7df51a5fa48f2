#include "platform/qt/qt_process_launcher.h"

#include <QMetaObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

namespace varnel {

namespace {

// One child process. Its end is handed on through the event loop, and only while
// nobody has asked it to stop.
class QtRunningProgram final : public RunningProgram {
public:
    QtRunningProgram(const QString& program, const QStringList& args, ProcessLauncher::EndHandler onEnd)
        : onEnd_(std::move(onEnd)) {
        proc_.setProcessChannelMode(QProcess::ForwardedChannels);
        QObject::connect(&proc_, &QProcess::finished, &guard_, [this](int code, QProcess::ExitStatus status) {
            ProgramEnd end;
            end.exitCode = code;
            end.crashed = status != QProcess::NormalExit;
            report(end);
        });
        QObject::connect(&proc_, &QProcess::errorOccurred, &guard_, [this](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart) return;
            ProgramEnd end;
            end.started = false;
            end.error = proc_.errorString().toStdString();
            report(end);
        });
        killTimer_.setSingleShot(true);
        QObject::connect(&killTimer_, &QTimer::timeout, &guard_, [this] { proc_.kill(); });
        proc_.start(program, args);
        proc_.closeWriteChannel();  // the program gets no input from us
    }
    QtRunningProgram(const QtRunningProgram&) = delete;
    QtRunningProgram& operator=(const QtRunningProgram&) = delete;
    ~QtRunningProgram() override {
        QObject::disconnect(&proc_, nullptr, &guard_, nullptr);
        onEnd_ = nullptr;
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished(1000);
        }
    }

    void stop() override {
        onEnd_ = nullptr;
        if (proc_.state() == QProcess::NotRunning) return;
        proc_.terminate();
        killTimer_.start(kStopGraceMs);
    }
    [[nodiscard]] bool running() const override { return proc_.state() != QProcess::NotRunning; }

private:
    void report(const ProgramEnd& end) {
        if (reported_) return;
        reported_ = true;
        // Later, from the loop: the handler may well drop this handle.
        QMetaObject::invokeMethod(
            &guard_,
            [this, end] {
                if (auto handler = std::move(onEnd_)) handler(end);
            },
            Qt::QueuedConnection);
    }

    // Declared first, destroyed last: queued calls die with it.
    QObject guard_;
    QProcess proc_;
    QTimer killTimer_;
    ProcessLauncher::EndHandler onEnd_;
    bool reported_ = false;
};

}  // namespace

int QtProcessLauncher::run(const std::string& program, const std::string& arguments, bool wait) {
    if (program.empty()) return -1;
    const QString prog = QString::fromStdString(program);
    const QStringList args = QProcess::splitCommand(QString::fromStdString(arguments));
    if (!wait) return QProcess::startDetached(prog, args) ? 0 : -1;

    QProcess proc;
    proc.setProcessChannelMode(QProcess::ForwardedChannels);
    bool ended = false;
    bool startFailed = false;
    QObject::connect(&proc, &QProcess::finished, &proc, [&] { ended = true; });
    QObject::connect(&proc, &QProcess::errorOccurred, &proc, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) startFailed = ended = true;
    });
    proc.start(prog, args);
    proc.closeWriteChannel();  // the program gets no input from us
    while (!ended) loop_.waitUntil(60'000, [&] { return ended; });
    if (startFailed || proc.exitStatus() != QProcess::NormalExit) return -1;
    return proc.exitCode();
}

std::unique_ptr<RunningProgram> QtProcessLauncher::start(const std::string& program, const std::string& arguments,
                                                         EndHandler onEnd) {
    return std::make_unique<QtRunningProgram>(
        QString::fromStdString(program), QProcess::splitCommand(QString::fromStdString(arguments)), std::move(onEnd));
}

}  // namespace varnel

#include "platform/qt/qt_process_launcher.h"

#include <QProcess>
#include <QStringList>

namespace varnel {

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

}  // namespace varnel

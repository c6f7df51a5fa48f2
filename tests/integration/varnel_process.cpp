#include "varnel_process.h"

#include <QProcess>
#include <fstream>
#include <sstream>

#include "rig.h"

namespace varnel::test {

QProcessEnvironment varnelEnvironment(const std::filesystem::path& configHome) {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", q(configHome));
    return env;
}

Outcome runVarnel(const VarnelRun& run) {
    std::optional<TempDir> ownConfig;
    if (run.configHome.empty()) ownConfig.emplace();
    QProcess p;
    p.setProcessEnvironment(varnelEnvironment(ownConfig ? ownConfig->path() : run.configHome));
    if (run.stdinFile) p.setStandardInputFile(QString::fromStdString(*run.stdinFile));
    p.start(QStringLiteral(VARNEL_EXE), run.args);
    if (!run.stdinFile) p.closeWriteChannel();
    if (!p.waitForFinished(run.timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

}  // namespace varnel::test

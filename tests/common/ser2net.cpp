#include "ser2net.h"

#include <QTcpServer>
#include <QThread>
#include <fstream>
#include <sstream>

namespace varnel::test {

std::uint16_t freeTcpPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();
}

bool listening(std::uint16_t port) {
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const auto colon = local.rfind(':');
            if (colon == std::string::npos || state != "0A") continue;  // 0A: LISTEN
            if (std::stoul(local.substr(colon + 1), nullptr, 16) == port) return true;
        }
    }
    return false;
}

Ser2net::Ser2net(const std::filesystem::path& dir, const std::string& device, Kind kind)
    : config_(dir / "ser2net.yaml"), kind_(kind), port_(freeTcpPort()) {
    const std::string accepter =
        std::string(kind == Kind::Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") + "127.0.0.1," + std::to_string(port_);
    std::ofstream(config_) << "%YAML 1.1\n---\nconnection: &ocelot\n  accepter: " << accepter
                           << "\n  connector: serialdev," << device << ",9600n81,local\n  options:\n    mdns: false\n";
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

Ser2net::~Ser2net() { kill(); }

std::string Ser2net::url() const {
    return std::string(kind_ == Kind::Rfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
}

std::optional<std::string> Ser2net::start() {
    if (port_ == 0) return std::string("no free TCP port");
    // -n: in the foreground; -u: no UUCP lock, the simulator's pseudo-terminal is not a shared device.
    process_.start("ser2net", {"-n", "-u", "-c", QString::fromStdString(config_.string())});
    if (!process_.waitForStarted(5000))
        return "ser2net did not start (" + process_.errorString().toStdString() + "); scripts/setup.sh installs it";
    for (int i = 0; i < 500; ++i) {
        if (listening(port_)) return std::nullopt;
        if (process_.state() != QProcess::Running) return std::string("ser2net ended at once");
        QThread::msleep(10);
    }
    return "ser2net does not listen on " + std::to_string(port_);
}

void Ser2net::kill() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(5000);
}

}  // namespace varnel::test

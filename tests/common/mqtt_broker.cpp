#include "mqtt_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace varnel::test {

namespace {

namespace fs = std::filesystem;

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (s >= 0) ::close(s);
        throw std::runtime_error("no free port");
    }
    ::close(s);
    return ntohs(a.sin_port);
}

bool accepting(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (s >= 0) ::close(s);
    return ok;
}

std::string brokerProgram() {
    for (const char* p : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto", "/usr/local/sbin/mosquitto"})
        if (::access(p, X_OK) == 0) return p;
    return "mosquitto";
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TestBroker::TestBroker(bool tls) : tls_(tls) {
    if (tls_) makeCertificates();
    port_ = freePort();
    start();
}

TestBroker::~TestBroker() { stop(); }

std::string TestBroker::url() const {
    return (tls_ ? "mqtts://localhost:" : "mqtt://127.0.0.1:") + std::to_string(port_);
}

void TestBroker::makeCertificates() {
    const std::string d = dir_.path().string();
    const std::string cmd =
        "cd '" + d + "' && " +
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.crt "
        "-days 2 -subj /CN=varnel-test-ca && "
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr "
        "-subj /CN=localhost && "
        "printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\\n' > ext && "
        "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2 "
        "-extfile ext";
    if (std::system((cmd + " >openssl.log 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl could not make the test certificates: " + slurp(dir_.path() / "openssl.log"));
}

void TestBroker::start() {
    if (pid_ > 0) return;
    const fs::path conf = dir_.path() / "broker.conf";
    {
        std::ofstream out(conf);
        out << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
        // As root the broker would switch to a user that cannot read this directory.
        if (::geteuid() == 0) out << "user root\n";
        if (tls_)
            out << "cafile " << (dir_.path() / "ca.crt").string() << "\ncertfile "
                << (dir_.path() / "server.crt").string() << "\nkeyfile " << (dir_.path() / "server.key").string()
                << "\n";
    }
    const std::string program = brokerProgram();
    const std::string confText = conf.string();
    const std::string log = (dir_.path() / "broker.log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>("-c"),
                            const_cast<char*>(confText.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("the mosquitto broker could not be started (is it installed?)");
    pid_ = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!accepting(port_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the mosquitto broker ended at once: " + slurp(log));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("the mosquitto broker does not listen: " + slurp(log));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TestBroker::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace varnel::test

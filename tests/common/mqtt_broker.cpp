#include "mqtt_broker.h"

#include "text_files.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
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

}  // namespace

// Relays connections to the broker, except an MQTT 5 CONNECT, which it answers as a
// 3.1.1 broker does: CONNACK "unacceptable protocol version", then it hangs up.
class TestBroker::Gate {
public:
    Gate(int port, int brokerPort) : brokerPort_(brokerPort) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const sockaddr_in a = loopback(port);
        if (::bind(listener_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 8) != 0)
            throw std::runtime_error("the MQTT 3.1.1 gate cannot listen");
        accepter_ = std::thread([this] { acceptAll(); });
    }
    ~Gate() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        accepter_.join();
        ::close(listener_);
        {
            std::lock_guard lock(mutex_);
            for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
        }
        for (auto& t : relays_) t.join();
        for (int fd : open_) ::close(fd);
    }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

private:
    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        return a;
    }
    static bool readAll(int fd, unsigned char* p, std::size_t n) {
        while (n > 0) {
            const ssize_t got = ::read(fd, p, n);
            if (got <= 0) return false;
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
    void acceptAll() {
        while (!stopping_) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            std::lock_guard lock(mutex_);
            open_.push_back(fd);
            relays_.emplace_back([this, fd] { relay(fd); });
        }
    }
    void relay(int client) {
        // Fixed header, remaining length (up to four bytes), "\0\4MQTT", protocol level.
        std::vector<unsigned char> head(1);
        bool ok = readAll(client, head.data(), 1);
        for (int i = 0; ok && i < 4; ++i) {
            unsigned char b = 0;
            ok = readAll(client, &b, 1);
            head.push_back(b);
            if ((b & 0x80) == 0) break;
        }
        unsigned char rest[7]{};
        ok = ok && readAll(client, rest, sizeof rest);
        if (!ok) return;
        head.insert(head.end(), rest, rest + sizeof rest);
        if (rest[6] == 5) {
            const unsigned char refused[] = {0x20, 0x02, 0x00, 0x01};
            (void)!::write(client, refused, sizeof refused);
            ::shutdown(client, SHUT_RDWR);
            return;
        }
        const int broker = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = loopback(brokerPort_);
        if (broker < 0 || ::connect(broker, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
            ::write(broker, head.data(), head.size()) != static_cast<ssize_t>(head.size())) {
            if (broker >= 0) ::close(broker);
            ::shutdown(client, SHUT_RDWR);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            open_.push_back(broker);
        }
        pollfd fds[2] = {{client, POLLIN, 0}, {broker, POLLIN, 0}};
        unsigned char buf[4096];
        while (!stopping_ && ::poll(fds, 2, 200) >= 0) {
            for (int i = 0; i < 2; ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n <= 0 || ::write(fds[1 - i].fd, buf, static_cast<std::size_t>(n)) != n) {
                    ::shutdown(client, SHUT_RDWR);
                    ::shutdown(broker, SHUT_RDWR);
                    return;
                }
            }
        }
    }

    int brokerPort_;
    int listener_ = -1;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<int> open_;  // closed when the gate goes
    std::vector<std::thread> relays_;
    std::thread accepter_;
};

TestBroker::TestBroker(BrokerOptions options) : options_(options) {
    if (options_.tls) makeCertificates();
    port_ = freePort();
    brokerPort_ = options_.mqtt311Only ? freePort() : port_;
    start();
    if (options_.mqtt311Only) gate_ = std::make_unique<Gate>(port_, brokerPort_);
}

TestBroker::~TestBroker() {
    gate_.reset();
    stop();
}

std::string TestBroker::url() const {
    return (options_.tls ? "mqtts://localhost:" : "mqtt://127.0.0.1:") + std::to_string(port_);
}

void TestBroker::makeCertificates() {
    const std::string d = dir_.path().string();
    const bool otherName = options_.cert == BrokerCert::OtherName;
    const std::string name = otherName ? "elsewhere.example" : "localhost";
    const std::string san = otherName ? "DNS:elsewhere.example" : "DNS:localhost,IP:127.0.0.1";
    // A negative validity ends the certificate before it begins: expired from the start.
    const std::string days = options_.cert == BrokerCert::Expired ? "-1" : "2";
    const std::string cmd =
        "cd '" + d + "' && " +
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.crt "
        "-days 2 -subj /CN=varnel-test-ca && "
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr "
        "-subj /CN=" +
        name + " && " + "printf 'subjectAltName=" + san + "\\n' > ext && " +
        "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days " + days +
        " -extfile ext";
    if (std::system((cmd + " >openssl.log 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl could not make the test certificates: " +
                                 readFile(dir_.path() / "openssl.log"));
}

void TestBroker::start() {
    if (pid_ > 0) return;
    const fs::path conf = dir_.path() / "broker.conf";
    {
        std::ofstream out(conf);
        out << "listener " << brokerPort_ << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
        // As root the broker would switch to a user that cannot read this directory.
        if (::geteuid() == 0) out << "user root\n";
        if (options_.tls)
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
    while (!accepting(brokerPort_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the mosquitto broker ended at once: " + readFile(log));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("the mosquitto broker does not listen: " + readFile(log));
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

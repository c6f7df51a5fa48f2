#include "signal_watcher.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace varnel::app {

namespace {

int fds[2] = {-1, -1};

extern "C" void onPosixSignal(int signo) {
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(fds[0], &b, 1);
    errno = saved;
}

void install(int signo, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(signo, &sa, nullptr);
}

}  // namespace

SignalWatcher::SignalWatcher() {
    if (fds[0] >= 0) throw std::logic_error("one SignalWatcher per process");
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair failed");
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    notifier_ = std::make_unique<QSocketNotifier>(fds[1], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        unsigned char b = 0;
        while (::read(fds[1], &b, 1) == 1)
            if (auto fn = onSignal) fn(b);
    });
    install(SIGINT, onPosixSignal);
    install(SIGTERM, onPosixSignal);
    // A closed terminal or session ends the run the same clean way, devices saved.
    install(SIGHUP, onPosixSignal);
}

SignalWatcher::~SignalWatcher() {
    install(SIGINT, SIG_DFL);
    install(SIGTERM, SIG_DFL);
    install(SIGHUP, SIG_DFL);
    notifier_.reset();
    ::close(fds[0]);
    ::close(fds[1]);
    fds[0] = fds[1] = -1;
}

}  // namespace varnel::app

#include "sim/pty/pty_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace varnel::sim::pty {

namespace {
// Output waiting for a client that does not read is bounded; the rest is lost.
constexpr std::size_t kOutputLimit = std::size_t{64} * 1024;
// While nobody has the device open the master cannot be watched for reading (it
// reports a hang-up on every poll); the device's open events tell when a client
// comes, and where they cannot be watched, a timer checks.
constexpr int kPresencePollMs = 20;
// A full pty buffer: try again shortly.
constexpr int kRetryWriteMs = 5;
// A PC's serial port hands received bytes over a receive FIFO's worth at a time
// (a 16550 interrupts at 8), and the rest as soon as the line goes quiet. Writing
// byte by byte instead would wake the client for every byte.
constexpr std::size_t kFifoBytes = 8;
// Bytes read per notification before giving the event loop back.
constexpr int kMaxReadsPerWake = 64;

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// No echo, no line editing, no translation: the client's own settings come on
// top when it opens the device, but a client that sets nothing must not get its
// frames echoed back as if the controller had sent them.
void makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return;
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(fd, TCSANOW, &t);
}

std::int64_t msCeil(std::int64_t us) { return us <= 0 ? 0 : (us + 999) / 1000; }
}  // namespace

PtySimulator::PtySimulator(Controller& controller, WireTiming timing, QObject* parent)
    : QObject(parent), ctl_(controller), timing_(timing) {
    clock_.start();
    presence_.setInterval(kPresencePollMs);
    QObject::connect(&presence_, &QTimer::timeout, this, [this] { checkPresence(); });
    pacer_.setSingleShot(true);
    pacer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pacer_, &QTimer::timeout, this, [this] { pump(); });
}

PtySimulator::~PtySimulator() { stop(); }

std::optional<std::string> PtySimulator::start() {
    if (running()) return std::nullopt;
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return errnoText("openpty");
    makeRaw(slave);
    char name[256] = {};
    const bool named = ::ptsname_r(master, name, sizeof name) == 0;
    const std::string nameError = named ? std::string() : errnoText("ptsname");
    // Our own slave descriptor would hide the client's open and close from us.
    ::close(slave);
    if (!named) {
        ::close(master);
        return nameError;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    master_ = master;
    path_ = name;
    connected_ = false;
    inFreeAtUs_ = outFreeAtUs_ = nowUs();

    ctl_.onOutput = [this](const Emission& e) { toHost(e); };
    ctl_.attachScheduler(*this);
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    notifier_->setEnabled(false);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readMaster(); });
    watchOpens();
    awaitClient();
    checkPresence();
    return std::nullopt;
}

void PtySimulator::watchOpens() {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return;
    if (::inotify_add_watch(fd, path_.c_str(), IN_OPEN) < 0) {
        ::close(fd);
        return;
    }
    opens_ = fd;
    opensNotifier_ = std::make_unique<QSocketNotifier>(opens_, QSocketNotifier::Read);
    QObject::connect(opensNotifier_.get(), &QSocketNotifier::activated, this, [this] {
        alignas(inotify_event) char buf[4096];
        while (::read(opens_, buf, sizeof buf) > 0) {
        }
        if (!connected_) checkPresence();
    });
}

void PtySimulator::awaitClient() {
    if (opens_ < 0) presence_.start();
}

void PtySimulator::stop() {
    if (!running()) return;
    notifier_.reset();
    opensNotifier_.reset();
    if (opens_ >= 0) ::close(opens_);
    opens_ = -1;
    presence_.stop();
    pacer_.stop();
    ::close(master_);
    master_ = -1;
    setConnected(false);
    ctl_.onOutput = nullptr;
    ctl_.detachScheduler();
}

std::int64_t PtySimulator::nowUs() const { return clock_.nsecsElapsed() / 1000; }

void PtySimulator::after(std::int64_t delayUs, std::function<void()> fn) {
    QTimer::singleShot(static_cast<int>(std::min<std::int64_t>(msCeil(delayUs), 24LL * 3600 * 1000)), Qt::PreciseTimer,
                       this, std::move(fn));
}

void PtySimulator::checkPresence() {
    if (!running()) return;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return;
    if ((p.revents & POLLHUP) != 0) return;  // still nobody there
    presence_.stop();
    setConnected(true);
    notifier_->setEnabled(true);
    if ((p.revents & POLLIN) != 0) readMaster();
}

void PtySimulator::setConnected(bool on) {
    if (connected_ == on) return;
    connected_ = on;
    if (!on) {
        bytesLost_ += out_.size();
        out_.clear();
        pacer_.stop();
    }
    inFreeAtUs_ = outFreeAtUs_ = nowUs();
    if (onClientChanged) onClientChanged(on);
}

void PtySimulator::readMaster() {
    for (int i = 0; i < kMaxReadsPerWake && running(); ++i) {
        std::uint8_t buf[512];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            bytesIn_ += static_cast<std::uint64_t>(n);
            // The controller acts once the last byte has crossed the line.
            const std::int64_t now = nowUs();
            inFreeAtUs_ = std::max(now, inFreeAtUs_) + n * std::max<std::int64_t>(timing_.usPerByte, 0);
            std::vector<std::uint8_t> bytes(buf, buf + n);
            after(inFreeAtUs_ - now, [this, b = std::move(bytes)] { ctl_.feed(b); });
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // EIO (or end of file): the client closed the device.
        notifier_->setEnabled(false);
        setConnected(false);
        awaitClient();
        return;
    }
}

void PtySimulator::toHost(const Emission& e) {
    if (!connected_) {
        bytesLost_ += e.bytes.size();
        return;
    }
    const std::int64_t now = nowUs();
    const std::int64_t perByte = std::max<std::int64_t>(timing_.usPerByte, 0);
    const std::int64_t lead = e.reply ? std::max<std::int64_t>(timing_.turnaroundUs, 0) : 0;
    std::int64_t at = std::max(now + lead, outFreeAtUs_) + std::max<std::int64_t>(e.gapUs, 0);
    for (std::uint8_t b : e.bytes) {
        at += perByte;
        out_.push_back({at, b});
    }
    outFreeAtUs_ = at;
    while (out_.size() > kOutputLimit) {
        out_.pop_front();
        ++bytesLost_;
    }
    armPacer();
}

void PtySimulator::pump() {
    if (!running() || !connected_) return;
    const std::int64_t now = nowUs();
    std::vector<std::uint8_t> due;
    for (const auto& p : out_) {
        if (p.dueUs > now) break;
        due.push_back(p.byte);
    }
    if (!due.empty()) {
        const ssize_t n = ::write(master_, due.data(), due.size());
        if (n > 0) {
            bytesOut_ += static_cast<std::uint64_t>(n);
            out_.erase(out_.begin(), out_.begin() + n);
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            setConnected(false);
            notifier_->setEnabled(false);
            awaitClient();
            return;
        }
        if (n < static_cast<ssize_t>(due.size())) {
            pacer_.start(kRetryWriteMs);
            return;
        }
    }
    armPacer();
}

void PtySimulator::armPacer() {
    if (out_.empty()) return;
    // The last byte of this FIFO's worth, or of the burst when the line goes quiet
    // before the FIFO is full; the final byte of a reply is never held back.
    const std::int64_t perByte = std::max<std::int64_t>(timing_.usPerByte, 0);
    const std::int64_t quiet = perByte + perByte / 2;
    const std::size_t group = handover_ == Handover::Byte ? 1 : kFifoBytes;
    std::size_t last = 0;
    while (last + 1 < out_.size() && last + 1 < group && out_[last + 1].dueUs - out_[last].dueUs <= quiet) ++last;
    pacer_.start(static_cast<int>(msCeil(out_[last].dueUs - nowUs())));
}

}  // namespace varnel::sim::pty

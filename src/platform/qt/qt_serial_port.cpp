#include "platform/qt/qt_serial_port.h"

#include <unistd.h>

#include <filesystem>
#include <utility>

#include "platform/qt/serial_devices.h"

namespace varnel {

namespace {

bool fatalWhileOpen(QSerialPort::SerialPortError e) {
    return e == QSerialPort::ReadError || e == QSerialPort::ResourceError || e == QSerialPort::WriteError;
}

std::string portName(const std::string& device) { return device.empty() ? "(none)" : device; }

// One byte on the line at 9600 baud, 8N1.
constexpr std::size_t kUsPerByte = 1042;
// Fewer bytes still to come are read as they come: a hold would save nothing.
constexpr std::size_t kLeastGathered = 4;

}  // namespace

std::string openErrorText(const std::string& device, QSerialPort::SerialPortError error, const QString& qtText) {
    const std::string port = "Serial port " + portName(device);
    switch (error) {
        case QSerialPort::DeviceNotFoundError: return port + " not found (no such device)";
        case QSerialPort::PermissionError:
            if (qtText.contains(QLatin1String("lock"), Qt::CaseInsensitive))
                return port + " is busy (locked by another process)";
            // EBUSY: another program opened it for itself alone (TIOCEXCL).
            if (qtText.contains(QLatin1String("busy"), Qt::CaseInsensitive))
                return port + " is busy (opened for itself alone by another program)";
            return port + ": no permission to open it (is the user in the dialout group?)";
        case QSerialPort::OpenError: return port + " is already open";
        case QSerialPort::UnsupportedOperationError:
            return port + " is not a serial device (" + qtText.toStdString() + ")";
        default: return port + " could not be opened (" + qtText.toStdString() + ")";
    }
}

std::string lostPortText(const std::string& device, QSerialPort::SerialPortError error, const QString& qtText) {
    const std::string port = "Serial port " + portName(device);
    switch (error) {
        case QSerialPort::ResourceError: return port + " went away (device removed or far end closed); port closed";
        case QSerialPort::WriteError: return port + " failed on write (" + qtText.toStdString() + "); port closed";
        default: return port + " failed on read (device removed or far end closed); port closed";
    }
}

QtSerialPort::QtSerialPort() {
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] {
        if (auto fn = onDataReceived) fn();
    });
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError e) { failed(e); });
    gather_.setSingleShot(true);
    gather_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&gather_, &QTimer::timeout, &port_, [this] { release(); });
}

QtSerialPort::~QtSerialPort() {
    QObject::disconnect(&port_, nullptr, nullptr, nullptr);
    port_.close();
}

std::optional<std::string> QtSerialPort::open(const std::string& device) {
    if (port_.isOpen()) return "Serial port " + portName(device_) + " is already open";
    device_ = device;
    if (device.empty()) return std::string("No serial port given");
    // Opened by its real name, so that the lock file is the one other serial programs
    // use for that device, whichever link (a /dev/serial/by-id name) led to it.
    // Qt would take a file or /dev/null for a port and only fail on its first line setting, if at all.
    if (auto why = kindProblem(device)) return "Serial port " + device + " is " + *why;
    std::error_code ec;
    const auto real = std::filesystem::canonical(device, ec);
    // Qt takes a lock file that names no program for a stale one, even while its
    // process runs, and would share the line with that program.
    if (auto lock = serialLock(device); lock && lock->running && lock->pid != ::getpid())
        return "Serial port " + device + " is busy: " + lock->holder() + " (lock file " + lock->file.string() + ")";
    port_.setPortName(QString::fromStdString(ec ? device : real.string()));
    if (!port_.open(QIODevice::ReadWrite)) {
        const auto error = port_.error();
        const QString text = port_.errorString();
        port_.clearError();
        // What the system tells (the holder of a lock, the group that may open it) says more than Qt.
        if (error == QSerialPort::PermissionError) {
            if (auto why = openProblem(device)) return *why;
        }
        return openErrorText(device, error, text);
    }
    // A pseudo-terminal refuses some line settings with UnsupportedOperationError;
    // it carries the bytes all the same, so only other failures count.
    const auto applied = [this](bool ok) {
        if (ok || port_.error() == QSerialPort::UnsupportedOperationError) {
            port_.clearError();
            return true;
        }
        return false;
    };
    if (!applied(port_.setBaudRate(QSerialPort::Baud9600)) || !applied(port_.setDataBits(QSerialPort::Data8)) ||
        !applied(port_.setParity(QSerialPort::NoParity)) || !applied(port_.setStopBits(QSerialPort::OneStop)) ||
        !applied(port_.setFlowControl(QSerialPort::NoFlowControl))) {
        const std::string text =
            "Serial port " + device + " refused 9600,N,8,1 (" + port_.errorString().toStdString() + ")";
        port_.clearError();
        port_.close();
        return text;
    }
    port_.clear(QSerialPort::AllDirections);  // stale bytes from before we opened
    return std::nullopt;
}

void QtSerialPort::close() {
    release();
    if (port_.isOpen()) port_.close();
    port_.clearError();
}

bool QtSerialPort::isOpen() const { return port_.isOpen(); }

bool QtSerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!port_.isOpen()) return false;
    const char* data = reinterpret_cast<const char*>(bytes.data());
    qint64 left = static_cast<qint64>(bytes.size());
    while (left > 0) {
        const qint64 n = port_.write(data, left);
        if (n <= 0) return false;  // a write that accepts nothing would loop for ever
        data += n;
        left -= n;
    }
    // Hands the bytes to the device now, without waiting for the line.
    port_.flush();
    return port_.isOpen();
}

std::size_t QtSerialPort::bytesWaiting() const {
    return port_.isOpen() ? static_cast<std::size_t>(std::max<qint64>(port_.bytesAvailable(), 0)) : 0;
}

std::optional<std::uint8_t> QtSerialPort::readByte() {
    char c = 0;
    if (!port_.isOpen() || port_.bytesAvailable() <= 0 || !port_.getChar(&c)) return std::nullopt;
    return static_cast<std::uint8_t>(c);
}

std::optional<std::uint8_t> QtSerialPort::peekByte() {
    char c = 0;
    if (!port_.isOpen() || port_.bytesAvailable() <= 0 || port_.peek(&c, 1) != 1) return std::nullopt;
    return static_cast<std::uint8_t>(c);
}

// QSerialPort has no public way to stop watching the device; its read notifier is its child.
QSocketNotifier* QtSerialPort::readNotifier() {
    for (auto* n : port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly))
        if (n->type() == QSocketNotifier::Read) return n;
    return nullptr;
}

// A tty wakes a reader that polls it for every byte its driver receives, whatever
// VMIN says (poll only reports it later). So the device is not watched at all while
// the rest comes: the bytes wait in the driver until the line should have carried
// all but the last of them, which is then read as it comes. A far end slower than
// that is gathered again; should Qt watch again on its own, we only wake earlier.
void QtSerialPort::setReadThreshold(std::size_t count) {
    const std::size_t waiting = bytesWaiting();
    if (!port_.isOpen() || waiting == 0 || count < waiting + kLeastGathered) {
        release();
        if (waiting == 0) heldAt_ = 0;
        return;
    }
    // A hold that ended lets Qt read what came before holding again.
    if (gathering_ || waiting == heldAt_) return;
    QSocketNotifier* notifier = readNotifier();
    if (notifier == nullptr || !notifier->isEnabled()) return;
    notifier->setEnabled(false);
    gathering_ = true;
    heldAt_ = waiting;
    gather_.start(static_cast<int>((count - waiting - 1) * kUsPerByte / 1000));
}

void QtSerialPort::release() {
    gather_.stop();
    if (!std::exchange(gathering_, false)) return;
    if (QSocketNotifier* notifier = readNotifier()) notifier->setEnabled(true);
}

void QtSerialPort::failed(QSerialPort::SerialPortError error) {
    if (!fatalWhileOpen(error) || !port_.isOpen()) return;
    // Qt repeats these errors on every pass of the event loop until the port is closed.
    const std::string text = lostPortText(device_, error, port_.errorString());
    port_.close();
    port_.clearError();
    if (auto fn = onError) fn(text);
}

}  // namespace varnel

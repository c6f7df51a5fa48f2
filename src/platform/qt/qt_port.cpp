#include "platform/qt/qt_port.h"

#include "platform/net/endpoint.h"

namespace varnel {

bool isNetworkPort(const std::string& device) { return net::isUrl(device); }

QtPort::QtPort(EventLoop& loop, NetTiming timing) : net_(loop, timing) {
    relay(serial_);
    relay(net_);
}

// Only the port in use speaks; the other is closed.
void QtPort::relay(SerialPort& port) {
    port.onDataReceived = [this, &port] {
        if (active_ == &port)
            if (auto fn = onDataReceived) fn();
    };
    port.onError = [this, &port](const std::string& why) {
        if (active_ == &port)
            if (auto fn = onError) fn(why);
    };
    port.onNotice = [this, &port](const std::string& what) {
        if (active_ == &port)
            if (auto fn = onNotice) fn(what);
    };
}

std::optional<std::string> QtPort::open(const std::string& device) {
    SerialPort* wanted = isNetworkPort(device) ? static_cast<SerialPort*>(&net_) : &serial_;
    if (wanted != active_) active_->close();
    active_ = wanted;
    return active_->open(device);
}

}  // namespace varnel

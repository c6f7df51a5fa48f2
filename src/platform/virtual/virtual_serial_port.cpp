#include "platform/virtual/virtual_serial_port.h"

#include <algorithm>

namespace varnel {

std::optional<std::string> VirtualSerialPort::open(const std::string& device) {
    ++openAttempts;
    if (auto it = failingDevices.find(device); it != failingDevices.end()) return it->second;
    if (open_) return "Serial port " + device + " is already open";
    open_ = true;
    device_ = device;
    return std::nullopt;
}

void VirtualSerialPort::close() {
    open_ = false;
    rx_.clear();
}

void VirtualSerialPort::fail(const std::string& why) {
    if (!open_) return;
    close();
    if (onError) onError(why);
}

bool VirtualSerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!open_) {
        ++writesWhileClosed;
        return false;
    }
    written.emplace_back(bytes.begin(), bytes.end());
    if (onHostWrite) onHostWrite(bytes);
    return true;
}

std::optional<std::uint8_t> VirtualSerialPort::readByte() {
    if (rx_.empty()) return std::nullopt;
    const std::uint8_t b = rx_.front();
    rx_.pop_front();
    return b;
}

void VirtualSerialPort::deliver(std::vector<std::uint8_t> bytes, std::int64_t delayUs, std::int64_t usPerByte) {
    // Bytes never overtake those already on the wire.
    std::int64_t at = std::max(loop_.nowUs() + delayUs, lastArrivalUs_);
    auto arrive = [this](std::vector<std::uint8_t> chunk) {
        if (!open_) return;
        rx_.insert(rx_.end(), chunk.begin(), chunk.end());
        if (onDataReceived) onDataReceived();
    };
    if (usPerByte <= 0) {
        lastArrivalUs_ = at;
        loop_.postUs(at - loop_.nowUs(), [arrive, b = std::move(bytes)] { arrive(b); });
        return;
    }
    for (std::uint8_t b : bytes) {
        at += usPerByte;
        loop_.postUs(at - loop_.nowUs(), [arrive, b] { arrive({b}); });
    }
    lastArrivalUs_ = at;
}

}  // namespace varnel

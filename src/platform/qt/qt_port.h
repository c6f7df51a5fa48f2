#pragma once
// The controller's port as the user names it: tcp:// and rfc2217:// reach a
// serial server on the network, any other text is a serial device. The choice is
// made at every open, so a port setting changed meanwhile takes effect.
#include <string>

#include "platform/qt/qt_net_port.h"
#include "platform/qt/qt_serial_port.h"

namespace varnel {

class QtPort final : public SerialPort {
public:
    explicit QtPort(EventLoop& loop, NetTiming timing = {});
    QtPort(const QtPort&) = delete;
    QtPort& operator=(const QtPort&) = delete;
    ~QtPort() override = default;

    std::optional<std::string> open(const std::string& device) override;
    void close() override { active_->close(); }
    void cancelOpen() override { active_->cancelOpen(); }
    [[nodiscard]] bool isOpen() const override { return active_->isOpen(); }
    bool write(std::span<const std::uint8_t> bytes) override { return active_->write(bytes); }
    [[nodiscard]] std::size_t bytesWaiting() const override { return active_->bytesWaiting(); }
    std::optional<std::uint8_t> readByte() override { return active_->readByte(); }
    std::optional<std::uint8_t> peekByte() override { return active_->peekByte(); }
    void setReadThreshold(std::size_t count) override { active_->setReadThreshold(count); }

    [[nodiscard]] bool onNetwork() const { return active_ == &net_; }
    [[nodiscard]] const QtNetPort& network() const { return net_; }

private:
    void relay(SerialPort& port);

    QtSerialPort serial_;
    QtNetPort net_;
    SerialPort* active_ = &serial_;
};

// Whether a port text names a network port rather than a device.
[[nodiscard]] bool isNetworkPort(const std::string& device);

}  // namespace varnel

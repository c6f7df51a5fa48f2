#pragma once
// The plug-in's end of an in-process serial line on virtual time. The far end
// (the simulator or a test) sees every write and schedules bytes to arrive.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/virtual/virtual_loop.h"

namespace varnel {

class VirtualSerialPort final : public SerialPort {
public:
    explicit VirtualSerialPort(VirtualLoop& loop) : loop_(loop) {}

    std::optional<std::string> open(const std::string& device) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return open_; }
    bool write(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] std::size_t bytesWaiting() const override { return rx_.size(); }
    std::optional<std::uint8_t> readByte() override;
    std::optional<std::uint8_t> peekByte() override {
        if (rx_.empty()) return std::nullopt;
        return rx_.front();
    }
    void setReadThreshold(std::size_t count) override { readThreshold = count; }

    // Far end: called with every buffer the plug-in writes.
    std::function<void(std::span<const std::uint8_t>)> onHostWrite;
    // Far end: `bytes` arrive starting `delayUs` from now, one every `usPerByte`
    // (0 = all at once), each arrival raising the receive event.
    void deliver(std::vector<std::uint8_t> bytes, std::int64_t delayUs = 0, std::int64_t usPerByte = 0);
    // Devices that fail to open, with the error text to give.
    std::map<std::string, std::string> failingDevices;
    // The device fails while open (unplugged): closed, then onError.
    void fail(const std::string& why);
    // Every open asked for, failed or not.
    std::size_t openAttempts = 0;
    // Writes tried while the port was closed (none reach the far end).
    std::size_t writesWhileClosed = 0;
    // What the reader said it waits for, last.
    std::size_t readThreshold = 1;
    // Everything the plug-in wrote, in order, one entry per write.
    std::vector<std::vector<std::uint8_t>> written;
    [[nodiscard]] const std::string& device() const { return device_; }

private:
    VirtualLoop& loop_;
    bool open_ = false;
    std::string device_;
    std::deque<std::uint8_t> rx_;
    std::int64_t lastArrivalUs_ = 0;
};

}  // namespace varnel

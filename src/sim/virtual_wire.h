#pragma once
// Puts a Controller at the far end of a VirtualSerialPort, on virtual time: what
// the plug-in writes reaches the controller after its time on the wire, and what
// the controller sends arrives one byte at a time at the line's speed.
#include <cstdint>
#include <memory>
#include <span>

#include "platform/virtual/virtual_loop.h"
#include "platform/virtual/virtual_serial_port.h"
#include "sim/controller.h"

namespace varnel::sim {

struct WireTiming {
    // Time per byte in either direction: 1042 us is 9600 baud, 8N1. 0 = instant.
    std::int64_t usPerByte = 1042;
    // From the end of a frame to the start of the controller's reply.
    std::int64_t turnaroundUs = 1000;
};

class VirtualWire final : public Scheduler {
public:
    VirtualWire(VirtualLoop& loop, VirtualSerialPort& port, Controller& controller, WireTiming timing = {});
    ~VirtualWire() override;
    VirtualWire(const VirtualWire&) = delete;
    VirtualWire& operator=(const VirtualWire&) = delete;

    [[nodiscard]] std::int64_t nowUs() const override { return loop_.nowUs(); }
    void after(std::int64_t delayUs, std::function<void()> fn) override;

    [[nodiscard]] WireTiming& timing() { return timing_; }
    [[nodiscard]] Controller& controller() { return ctl_; }
    // When the last byte sent so far reaches the plug-in.
    [[nodiscard]] std::int64_t lineFreeAtUs() const { return outFreeAtUs_; }

private:
    void fromHost(std::span<const std::uint8_t> bytes);
    void toHost(const Emission& e);

    VirtualLoop& loop_;
    VirtualSerialPort& port_;
    Controller& ctl_;
    WireTiming timing_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::int64_t inFreeAtUs_ = 0;
    std::int64_t outFreeAtUs_ = 0;
};

}  // namespace varnel::sim

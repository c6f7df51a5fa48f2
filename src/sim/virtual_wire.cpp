#include "sim/virtual_wire.h"

#include <algorithm>
#include <vector>

namespace varnel::sim {

VirtualWire::VirtualWire(VirtualLoop& loop, VirtualSerialPort& port, Controller& controller, WireTiming timing)
    : loop_(loop), port_(port), ctl_(controller), timing_(timing) {
    port_.onHostWrite = [this](std::span<const std::uint8_t> b) { fromHost(b); };
    ctl_.onOutput = [this](const Emission& e) { toHost(e); };
    ctl_.attachScheduler(*this);
}

VirtualWire::~VirtualWire() {
    *alive_ = false;
    port_.onHostWrite = nullptr;
    ctl_.onOutput = nullptr;
    ctl_.detachScheduler();
}

void VirtualWire::after(std::int64_t delayUs, std::function<void()> fn) {
    std::weak_ptr<bool> alive = alive_;
    loop_.postUs(std::max<std::int64_t>(delayUs, 0), [alive, fn = std::move(fn)] {
        const auto token = alive.lock();
        if (token && *token) fn();
    });
}

void VirtualWire::fromHost(std::span<const std::uint8_t> bytes) {
    // The controller acts when the last byte is in, and the line carries one
    // write after the other.
    const std::int64_t now = loop_.nowUs();
    const std::int64_t n = static_cast<std::int64_t>(bytes.size());
    inFreeAtUs_ = std::max(now, inFreeAtUs_) + n * std::max<std::int64_t>(timing_.usPerByte, 0);
    after(inFreeAtUs_ - now, [this, b = std::vector<std::uint8_t>(bytes.begin(), bytes.end())] { ctl_.feed(b); });
}

void VirtualWire::toHost(const Emission& e) {
    const std::int64_t now = loop_.nowUs();
    const std::int64_t lead = e.reply ? std::max<std::int64_t>(timing_.turnaroundUs, 0) : 0;
    const std::int64_t start = std::max(now + lead, outFreeAtUs_) + std::max<std::int64_t>(e.gapUs, 0);
    const std::int64_t perByte = std::max<std::int64_t>(timing_.usPerByte, 0);
    port_.deliver(e.bytes, start - now, perByte);
    outFreeAtUs_ = start + static_cast<std::int64_t>(e.bytes.size()) * perByte;
}

}  // namespace varnel::sim

#pragma once
// A bare Controller with everything it sends collected, for tests of the model.
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/frames.h"
#include "sim/controller.h"
#include "sim/hex.h"

namespace varnel::sim::test {

inline std::vector<std::uint8_t> hex(std::string_view text) {
    auto b = parseHex(text);
    if (!b) throw std::invalid_argument("bad hex in test: " + std::string(text));
    return *b;
}

struct Tap {
    explicit Tap(ControllerConfig cfg = {}) : sim(std::move(cfg)) {
        sim.onOutput = [this](const Emission& e) {
            out.insert(out.end(), e.bytes.begin(), e.bytes.end());
            pieces.push_back(e);
        };
    }
    void send(std::string_view text) { sim.feed(hex(text)); }
    void send(std::span<const std::uint8_t> bytes) { sim.feed(bytes); }
    // What was sent since the last take().
    std::vector<std::uint8_t> take() {
        pieces.clear();
        return std::exchange(out, {});
    }

    Controller sim;
    std::vector<std::uint8_t> out;
    std::vector<Emission> pieces;
};

inline const std::vector<std::uint8_t> kAck{0x06, 0x00, 0x06};
inline const std::string kSetVar = "C8 29 05 2C 01 00 00 23";  // variable 5 = 300
inline const std::string kIoRead = "2A 00 00 8D B5 00 25 E9";

}  // namespace varnel::sim::test

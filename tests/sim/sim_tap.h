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

// A screen frame: 51 bytes, the text's first forty characters from byte 8, sealed.
inline std::vector<std::uint8_t> screenFrame(std::uint8_t flags, std::uint8_t length, std::uint16_t x, std::uint16_t y,
                                             const std::string& text) {
    std::vector<std::uint8_t> f{0xF1,
                                0x6D,
                                flags,
                                length,
                                static_cast<std::uint8_t>(x & 0xFF),
                                static_cast<std::uint8_t>(x >> 8),
                                static_cast<std::uint8_t>(y & 0xFF),
                                static_cast<std::uint8_t>(y >> 8)};
    f.resize(51, 0);
    for (std::size_t i = 0; i < text.size() && i < 40; ++i) f[8 + i] = static_cast<std::uint8_t>(text[i]);
    sealLong(f);
    return f;
}

}  // namespace varnel::sim::test

#pragma once
// Reports the controller sends on its own: first byte and total length.
#include <cstdint>

namespace varnel {

enum class Report : std::uint8_t {
    IoChange = 0xF0,
    LeopardTouch2 = 0xF2,
    LeopardTouch3 = 0xF3,
    X10Transmitted = 0xFB,
    Ignored = 0xFC,
    IrMatch = 0xFD,
    X10Received = 0xFE,
    Filler = 0xFF,
};

// Total length of the report that starts with `first`, 0 when it starts none.
constexpr int reportLength(std::uint8_t first) {
    switch (first) {
        case 0xFE:
        case 0xFB:
        case 0xFD:
        case 0xFC: return 3;
        case 0xF0: return 4;
        case 0xF2:
        case 0xF3: return 5;
        case 0xFF: return 1;
        default: return 0;
    }
}

}  // namespace varnel

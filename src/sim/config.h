#pragma once
// What a simulated controller starts with: its bus modules, its memory layout
// and how it behaves where the real one has a choice.
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

namespace varnel::sim {

// Codes the controller keeps in its module table (any other code is allowed too).
enum class ModuleType : std::uint8_t {
    Secu16Ir = 6,
    Secu16 = 11,
    Secu16I = 12,
    Relay08 = 13,
};

// The two bytes that name a controller buffer in a block read.
struct Selector {
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    auto operator<=>(const Selector&) const = default;
};

inline constexpr Selector kParameterBlock1{0x8F, 0xB7};
inline constexpr Selector kParameterBlock2{0x00, 0x7F};
inline constexpr Selector kModuleTable{0x01, 0xB0};
inline constexpr Selector kIoBuffer{0x8D, 0xB5};
inline constexpr Selector kValueBuffer{0x8B, 0xB4};
inline constexpr Selector kDefaultVariableSelector{0x8E, 0xB6};

inline constexpr int kModuleCount = 128;  // bus addresses 1..128
inline constexpr int kVariableCount = 128;
inline constexpr int kPointsPerModule = 16;

using Buffer = std::array<std::uint8_t, 256>;

struct ControllerConfig {
    // Bus address (1..128) -> module type.
    std::map<int, ModuleType> modules;
    std::uint16_t irSize = 1024;
    // Where the controller keeps its variables; reported in the first parameter block.
    Selector variableSelector = kDefaultVariableSelector;
    std::array<std::uint16_t, kVariableCount> variables{};
    // The I/O buffer as stored: two bytes per module, a set bit reads as 0 to the plug-in.
    Buffer io{};
    // (module, analog channel) -> value, collected by a value request with selector channel + 10.
    std::map<std::pair<int, int>, std::uint16_t> analog;
    // (module, parameter number 1..10) -> value, collected with selector number - 1.
    std::map<std::pair<int, int>, std::uint16_t> parameters;
    // Report the X10 it puts on the power line (0xFB) as well as what it hears.
    bool reportTransmittedX10 = false;
    // Report a point write that changes an output, as an I/O change report.
    bool reportOutputWrites = false;
    // Learning: the simulated user presses the remote's key this long after a learn
    // start; empty: only pressLearnKey() does.
    std::optional<std::int64_t> autoLearnDelayUs;
    // Half a frame that sees no new byte for this long is noise; 0 keeps it forever.
    std::int64_t idleResyncUs = 200'000;
    // Entries kept per record (frames seen, replies sent, ...); the oldest go first.
    std::size_t recordLimit = 100'000;

    // A small, plausible installation: one of each module type.
    static ControllerConfig typical();
};

}  // namespace varnel::sim

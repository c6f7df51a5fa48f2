#pragma once
// Bytes as text, the way frames are written down: "2A 00 00 8F B7 00 2D EB".
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::sim {

// Two-digit hexadecimal bytes separated by blanks (any amount); empty on a
// malformed text.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);
// Upper-case two-digit bytes separated by one blank.
std::string toHex(std::span<const std::uint8_t> bytes);

}  // namespace varnel::sim

#include "support/escape.h"

#include <array>
#include <cstdint>

namespace varnel {

namespace {

constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

void hexByte(std::string& out, std::uint8_t b) {
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
}

// Length of the well-formed UTF-8 sequence at `s[i]` (overlong forms, surrogates and
// code points past U+10FFFF are not), 0 when there is none.
std::size_t sequenceAt(std::string_view s, std::size_t i, std::uint32_t& cp) {
    const auto b0 = static_cast<std::uint8_t>(s[i]);
    struct Lead {
        std::uint8_t first, last, payloadMask;
        std::size_t length;
        std::uint32_t least;  // smaller code points in this length are overlong
    };
    constexpr Lead kLeads[] = {
        {0xC2, 0xDF, 0x1F, 2, 0x80}, {0xE0, 0xEF, 0x0F, 3, 0x800}, {0xF0, 0xF4, 0x07, 4, 0x10000}};
    std::size_t n = 0;
    std::uint32_t min = 0;
    for (const Lead& l : kLeads) {
        if (b0 < l.first || b0 > l.last) continue;
        n = l.length;
        cp = b0 & l.payloadMask;
        min = l.least;
    }
    if (n == 0) return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<std::uint8_t>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

std::string escaped(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        if (b < 0x80) {
            if (i + 1 > maxBytes) break;
            if (b == '\t') {
                out += "\\t";
            } else if (b == '\n') {
                out += "\\n";
            } else if (b == '\r') {
                out += "\\r";
            } else if (b < 0x20 || b == 0x7F) {
                hexByte(out, b);
            } else {
                out += static_cast<char>(b);
            }
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        const std::size_t n = sequenceAt(text, i, cp);
        if (n == 0) {
            if (i + 1 > maxBytes) break;
            hexByte(out, b);
            ++i;
            continue;
        }
        if (i + n > maxBytes) break;
        if (cp <= 0x9F) {  // C1 controls: some terminals act on them
            out += "\\u00";
            out += kHex[cp >> 4];
            out += kHex[cp & 0xF];
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    if (i < text.size()) out += "...";
    return out;
}

std::string escaped(std::string_view text) { return escaped(text, text.size()); }

}  // namespace varnel

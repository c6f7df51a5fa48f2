#include "support/codepage.h"

#include <array>
#include <cstdint>
#include <optional>

namespace varnel {

namespace {

struct Decoded {
    std::uint32_t cp = 0;
    std::size_t length = 0;
};

// The UTF-8 sequence at `i`; nothing when it is not one (overlong forms, surrogates and
// code points past U+10FFFF included).
std::optional<Decoded> decodeUtf8(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return Decoded{c, 1};
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07u;
    } else {
        return std::nullopt;
    }
    if (i + n > s.size()) return std::nullopt;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0u) != 0x80u) return std::nullopt;
        cp = (cp << 6) | (b(i + k) & 0x3Fu);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return std::nullopt;
    return Decoded{cp, n};
}

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto d = decodeUtf8(s, i);
        if (!d) return false;
        i += d->length;
    }
    return true;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// 0x80..0x9F of Windows-1252; the five unassigned bytes stay as their C1 code points.
constexpr std::array<std::uint16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::optional<char> codePageByte(std::uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (std::size_t k = 0; k < kCp1252High.size(); ++k)
        if (kCp1252High[k] == cp) return static_cast<char>(0x80 + k);
    return std::nullopt;
}

}  // namespace

std::string toUtf8(std::string_view text) {
    if (validUtf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        appendUtf8(out, c >= 0x80 && c <= 0x9F ? kCp1252High[c - 0x80] : c);
    }
    return out;
}

std::string toCodePage(std::string_view text) { return toCodePage(text, 0).bytes; }

CodePageText toCodePage(std::string_view text, char missing) {
    CodePageText out;
    if (!validUtf8(text)) {
        out.bytes = text;
        return out;
    }
    out.bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto d = decodeUtf8(text, i);
        const auto byte = codePageByte(d->cp);
        if (!byte) out.complete = false;
        out.bytes += byte.value_or(missing);
        i += d->length;
    }
    return out;
}

}  // namespace varnel

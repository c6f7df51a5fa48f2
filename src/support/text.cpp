#include "support/text.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace varnel {

std::string blankNum(long long n) { return (n < 0 ? "" : " ") + std::to_string(n); }

namespace {
// Parses a number at the start of `s`; returns the value and how many characters it used.
std::pair<double, std::size_t> leadingNumber(std::string_view s) {
    std::size_t i = 0;
    auto digits = [&] {
        std::size_t n = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++n;
        return n;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t n = digits();
    if (i < s.size() && s[i] == '.') {
        ++i;
        n += digits();
    }
    if (n == 0) return {0.0, 0};
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t save = i++;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (digits() == 0) i = save;
    }
    const std::string text(s.substr(0, i));
    return {std::strtod(text.c_str(), nullptr), i};
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}
}  // namespace

double numericValue(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return leadingNumber(s).first;
}

std::optional<double> parseNumber(std::string_view s) {
    s = trim(s);
    if (s.empty()) return std::nullopt;
    auto [v, used] = leadingNumber(s);
    if (used != s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool isNumeric(std::string_view s) { return parseNumber(s).has_value(); }

double roundEven(double v) { return std::nearbyint(v); }  // default rounding mode: to nearest even

namespace {
template <class T>
T narrow(double v) {
    const double r = roundEven(v);
    if (!std::isfinite(r) || r < static_cast<double>(std::numeric_limits<T>::min()) ||
        r > static_cast<double>(std::numeric_limits<T>::max()))
        throw std::overflow_error("Overflow");
    return static_cast<T>(r);
}
}  // namespace

std::int16_t toInt16(double v) { return narrow<std::int16_t>(v); }
std::int32_t toInt32(double v) { return narrow<std::int32_t>(v); }
std::uint8_t toByte(double v) { return narrow<std::uint8_t>(v); }

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& ch : r) {
        const auto c = static_cast<unsigned char>(ch);
        unsigned u = c;
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            u = c - 0x20u;
        else if (c == 0x9A || c == 0x9C || c == 0x9E)  // š œ ž
            u = c - 0x10u;
        else if (c == 0xFF)  // ÿ
            u = 0x9F;
        ch = static_cast<char>(u);
    }
    return r;
}

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::vector<std::string> split(std::string_view s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            out.emplace_back(s.substr(start));
            return out;
        }
        out.emplace_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string field(std::string_view s, char sep, int n) {
    const auto parts = split(s, sep);
    if (n < 1 || static_cast<std::size_t>(n) > parts.size()) return {};
    return parts[static_cast<std::size_t>(n - 1)];
}

std::string hexUpper(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", v);
    return buf;
}

}  // namespace varnel

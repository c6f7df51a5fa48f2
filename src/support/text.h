#pragma once
// Text and number conversions with the host's rules: numbers written with a
// leading blank when not negative, lenient numeric reads, checked narrowing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/files.h"

namespace varnel {

// A number as the host's Str() writes it: one leading blank unless negative.
std::string blankNum(long long n);
// Leading-number value of a text ("12abc" -> 12, "abc" -> 0); spaces before the number are skipped.
double numericValue(std::string_view s);
// True when the whole text (blanks around it allowed) is one number.
bool isNumeric(std::string_view s);
// The number a fully numeric text holds, else nothing.
std::optional<double> parseNumber(std::string_view s);
// Rounds half to even and narrows; throws std::overflow_error when out of range.
std::int16_t toInt16(double v);
std::int32_t toInt32(double v);
std::uint8_t toByte(double v);
// Round half to even.
double roundEven(double v);
// Capitals of Windows-1252 text (its accented letters too), whatever the C locale says.
std::string upper(std::string_view s);
std::string lower(std::string_view s);
// Equal but for the case of ASCII letters.
using files::equalsNoCase;
// Splits at every `sep` (empty fields kept).
std::vector<std::string> split(std::string_view s, char sep);
// Field n (from 1) of a `sep`-separated text; empty past the last field.
std::string field(std::string_view s, char sep, int n);
std::string hexUpper(unsigned v);

}  // namespace varnel

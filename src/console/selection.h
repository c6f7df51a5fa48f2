#pragma once
// Which variables and module points are mirrored into host devices, written as
// number lists ("0-9,64,127", "none"), for the console's mirror command and for
// the start-up options --mirror-vars and --mirror-points.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace varnel::console {

// A parse result or a one-line message saying what is wrong.
template <class T>
using Parsed = std::variant<T, std::string>;

// Whole decimal number, optional sign, nothing else; empty when it is not one or
// does not fit comfortably (more than 18 digits).
std::optional<long long> parseInteger(std::string_view text);
// A text from the user as messages show it: quoted, cut when long, control characters as '?'.
std::string quoted(std::string_view s);

// "3", "0-9", "0-9,64,127" (blanks around items allowed) or "none". Numbers must lie in
// lo..hi; the result is sorted and without repeats.
Parsed<std::vector<int>> parseNumberList(std::string_view text, int lo, int hi);
// The shortest list text for sorted numbers: "0-9,64,127"; "none" when empty.
std::string formatNumberList(const std::vector<int>& numbers);

// The points of one module as the configuration window's row shows them.
struct UnitChoice {
    int unit = 0;             // bus address 1..128
    std::vector<int> points;  // 0..15, sorted
    bool invert = false;
    bool operator==(const UnitChoice&) const = default;
};

// A start-up selection. Variables, when given, replace the whole variable selection;
// each named unit's row replaces that unit's points; other units stay as they are.
struct MirrorChoice {
    std::optional<std::vector<int>> variables;
    std::vector<UnitChoice> units;
    bool operator==(const MirrorChoice&) const = default;
};

// --mirror-vars LIST           e.g. 0-9,64,127 or none
Parsed<std::vector<int>> parseMirrorVars(std::string_view value);
// --mirror-points UNIT:LIST[,...]   e.g. 1:0-7,3:0-3  or  1:0-3,5:invert,3:0
// An item with a colon starts a unit ("UNIT:POINTS" or "UNIT:POINTS:invert");
// an item without one adds points (or the word invert) to the unit before it.
// A unit named twice gets the points of both.
Parsed<std::vector<UnitChoice>> parseMirrorPoints(std::string_view value);
// Adds one start-up option ("--mirror-vars" or "--mirror-points", with its value)
// to `into`; a message when the option or its value is wrong. Repeating an option adds
// to it (variables: the lists are joined).
std::optional<std::string> addMirrorOption(MirrorChoice& into, std::string_view option, std::string_view value);

}  // namespace varnel::console

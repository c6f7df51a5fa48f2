#include "console/selection.h"

#include <algorithm>
#include <cctype>

#include "support/escape.h"

namespace varnel::console {

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::vector<std::string_view> splitAt(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    for (;;) {
        const auto at = s.find(sep);
        out.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return out;
        s.remove_prefix(at + 1);
    }
}

std::string rangeText(int lo, int hi) { return std::to_string(lo) + " to " + std::to_string(hi); }

void addSorted(std::vector<int>& into, const std::vector<int>& more) {
    into.insert(into.end(), more.begin(), more.end());
    std::sort(into.begin(), into.end());
    into.erase(std::unique(into.begin(), into.end()), into.end());
}

}  // namespace

// Quoted so that blanks show, cut when long, escaped so that a message about hostile
// input stays one line.
std::string quoted(std::string_view s) {
    constexpr std::size_t kMax = 24;
    return "'" + escaped(s, kMax) + "'";
}

std::optional<long long> parseInteger(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 18) return std::nullopt;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        v = v * 10 + (text[i] - '0');
    }
    return negative ? -v : v;
}

Parsed<std::vector<int>> parseNumberList(std::string_view text, int lo, int hi) {
    text = trimmed(text);
    if (text.empty()) return std::string("empty list (give numbers like 0-9,12, or none)");
    if (sameWord(text, "none")) return std::vector<int>{};
    std::vector<int> out;
    for (std::string_view item : splitAt(text, ',')) {
        item = trimmed(item);
        if (item.empty()) return "empty item in " + quoted(text) + " (numbers are separated by single commas)";
        // A dash after the first character separates a range; a leading one is a sign.
        const auto dash = item.find('-', 1);
        const std::string_view first = trimmed(item.substr(0, dash));
        const std::string_view last = dash == std::string_view::npos ? first : trimmed(item.substr(dash + 1));
        const auto a = parseInteger(first);
        const auto b = parseInteger(last);
        if (!a || !b) return quoted(item) + " is not a number or range (e.g. 5 or 0-9)";
        if (*a < lo || *a > hi || *b < lo || *b > hi) return quoted(item) + " is outside " + rangeText(lo, hi);
        if (*a > *b) return "range " + quoted(item) + " runs backwards";
        for (long long n = *a; n <= *b; ++n) out.push_back(static_cast<int>(n));
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::string formatNumberList(const std::vector<int>& numbers) {
    if (numbers.empty()) return "none";
    std::string out;
    std::size_t i = 0;
    while (i < numbers.size()) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
        if (!out.empty()) out += ',';
        out += std::to_string(numbers[i]);
        if (j > i) out += (j == i + 1 ? "," : "-") + std::to_string(numbers[j]);
        i = j + 1;
    }
    return out;
}

Parsed<std::vector<int>> parseMirrorVars(std::string_view value) {
    auto parsed = parseNumberList(value, 0, 127);
    if (auto* err = std::get_if<std::string>(&parsed)) return "variables: " + *err;
    return parsed;
}

Parsed<std::vector<UnitChoice>> parseMirrorPoints(std::string_view value) {
    value = trimmed(value);
    if (value.empty()) return std::string("points: empty (give UNIT:POINTS, e.g. 1:0-7,3:0-3)");
    std::vector<UnitChoice> units;
    UnitChoice* current = nullptr;
    auto addPoints = [&](std::string_view list) -> std::optional<std::string> {
        auto parsed = parseNumberList(list, 0, 15);
        if (auto* err = std::get_if<std::string>(&parsed))
            return "points of unit " + std::to_string(current->unit) + ": " + *err;
        addSorted(current->points, std::get<std::vector<int>>(parsed));
        return std::nullopt;
    };
    for (std::string_view item : splitAt(value, ',')) {
        item = trimmed(item);
        const auto colon = item.find(':');
        if (colon == std::string_view::npos) {
            if (!current) return "points: " + quoted(item) + " needs a unit first (UNIT:POINTS, e.g. 1:0-7)";
            if (sameWord(item, "invert")) {
                current->invert = true;
                continue;
            }
            if (auto err = addPoints(item)) return *err;
            continue;
        }
        const auto parts = splitAt(item, ':');
        if (parts.size() > 3 || (parts.size() == 3 && !sameWord(trimmed(parts[2]), "invert")))
            return "points: " + quoted(item) + " is not UNIT:POINTS or UNIT:POINTS:invert";
        const auto unit = parseInteger(trimmed(parts[0]));
        if (!unit || *unit < 1 || *unit > 128) return "points: unit " + quoted(parts[0]) + " is not a unit 1 to 128";
        auto same = std::find_if(units.begin(), units.end(), [&](const UnitChoice& u) { return u.unit == *unit; });
        if (same == units.end()) {
            units.push_back(UnitChoice{.unit = static_cast<int>(*unit), .points = {}, .invert = false});
            current = &units.back();
        } else {
            current = &*same;
        }
        if (auto err = addPoints(parts[1])) return *err;
        if (parts.size() == 3) current->invert = true;
    }
    return units;
}

std::optional<std::string> addMirrorOption(MirrorChoice& into, std::string_view option, std::string_view value) {
    if (option == "--mirror-vars") {
        auto parsed = parseMirrorVars(value);
        if (auto* err = std::get_if<std::string>(&parsed)) return "--mirror-vars: " + *err;
        if (!into.variables) into.variables.emplace();
        addSorted(*into.variables, std::get<std::vector<int>>(parsed));
        return std::nullopt;
    }
    if (option == "--mirror-points") {
        auto parsed = parseMirrorPoints(value);
        if (auto* err = std::get_if<std::string>(&parsed)) return "--mirror-points: " + *err;
        for (auto& unit : std::get<std::vector<UnitChoice>>(parsed)) {
            auto same = std::find_if(into.units.begin(), into.units.end(),
                                     [&](const UnitChoice& u) { return u.unit == unit.unit; });
            if (same == into.units.end()) {
                into.units.push_back(std::move(unit));
                continue;
            }
            addSorted(same->points, unit.points);
            same->invert = same->invert || unit.invert;
        }
        return std::nullopt;
    }
    return "unknown option " + quoted(option) + " (--mirror-vars LIST or --mirror-points UNIT:POINTS)";
}

}  // namespace varnel::console

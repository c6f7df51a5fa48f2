#include "host/ini_text.h"

#include <stdexcept>

#include "files/files.h"

namespace varnel::host {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trim(std::string_view s) {
    const auto b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct Lines {
    std::vector<std::string> lines;
    std::string_view end = "\r\n";  // the file's own line end, for lines written back
    bool mark = false;              // a UTF-8 byte-order mark before the first line, kept
};

// Lines end at LF with any CRs before it, or at CR in a file without LF, so that no CR
// at a line's end reaches a value. A CR inside a line is left for keyOf to refuse.
Lines splitLines(std::string_view text) {
    Lines out;
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        out.mark = true;
        text.remove_prefix(kByteOrderMark.size());
    }
    // The line end most lines have is the one lines written back get.
    std::size_t lf = 0, crlf = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        ++lf;
        if (i > 0 && text[i - 1] == '\r') ++crlf;
    }
    char brk = '\n';
    if (lf > 0) {
        out.end = crlf * 2 >= lf ? "\r\n" : "\n";
    } else if (text.find('\r') != std::string_view::npos) {
        out.end = "\r";
        brk = '\r';
    }
    std::size_t at = 0;
    while (at < text.size()) {
        auto nl = text.find(brk, at);
        std::string_view line = text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.lines.emplace_back(line);
        if (nl == std::string_view::npos) break;
        at = nl + 1;
    }
    return out;
}

std::string joinLines(const Lines& l) {
    std::string out(l.mark ? kByteOrderMark : std::string_view{});
    for (const auto& line : l.lines) {
        out += line;
        out += l.end;
    }
    return out;
}

// The section name of a "[name]" line.
std::optional<std::string_view> sectionOf(std::string_view line) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

bool isComment(std::string_view line) {
    line = trim(line);
    return !line.empty() && (line.front() == ';' || line.front() == '#');
}

std::optional<std::string_view> keyOf(std::string_view line) {
    if (isComment(line) || line.find('\r') != std::string_view::npos || trim(line).starts_with('['))
        return std::nullopt;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return trim(line.substr(0, eq));
}

std::string unquote(std::string_view v) {
    v = trim(v);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return std::string(v);
}

std::string quoteIfNeeded(std::string_view v) {
    const bool edgeBlank = !v.empty() && (kBlanks.find(v.front()) != std::string_view::npos ||
                                          kBlanks.find(v.back()) != std::string_view::npos);
    const bool looksQuoted = v.size() >= 2 && v.front() == '"' && v.back() == '"';
    if (edgeBlank || looksQuoted) return "\"" + std::string(v) + "\"";
    return std::string(v);
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

void checkName(std::string_view what, std::string_view name) {
    if (trim(name).empty() || hasLineBreak(name) || trim(name) != name)
        throw std::invalid_argument("ini " + std::string(what) + " name not storable: \"" + std::string(name) + "\"");
}

void checkEntry(std::string_view key, std::string_view value) {
    checkName("key", key);
    if (key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';' || key.front() == '#')
        throw std::invalid_argument("ini key name not storable: \"" + std::string(key) + "\"");
    if (hasLineBreak(value))
        throw std::invalid_argument("ini value for " + std::string(key) + " contains a line break");
}

}  // namespace

std::vector<std::string> iniProblems(std::string_view text) {
    std::vector<std::string> out;
    const Lines split = splitLines(text);
    for (std::size_t i = 0; i < split.lines.size(); ++i) {
        const std::string_view line = split.lines[i];
        const std::string_view t = trim(line);
        std::string why;
        if (t.empty() || isComment(line) || sectionOf(line)) continue;
        if (line.find('\r') != std::string_view::npos)
            why = "a CR inside the line";
        else if (t.front() == '[')
            why = "no \"]\" after the section name";
        else if (line.find('=') == std::string_view::npos)
            why = "no \"=\" in the line";
        else if (trim(line.substr(0, line.find('='))).empty())
            why = "no key before \"=\"";
        if (!why.empty()) out.push_back("line " + std::to_string(i + 1) + ": " + why);
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> iniEntries(std::string_view text, std::string_view section) {
    std::vector<std::pair<std::string, std::string>> entries;
    bool inSection = false;
    const Lines split = splitLines(text);
    for (const std::string& line : split.lines) {
        if (auto s = sectionOf(line)) {
            inSection = files::equalsNoCase(*s, section);
            continue;
        }
        if (!inSection) continue;
        if (auto k = keyOf(line)) entries.emplace_back(*k, unquote(std::string_view(line).substr(line.find('=') + 1)));
    }
    return entries;
}

std::optional<std::string> iniGet(std::string_view text, std::string_view section, std::string_view key) {
    for (auto& [k, v] : iniEntries(text, section))
        if (files::equalsNoCase(k, key)) return std::move(v);
    return std::nullopt;
}

std::string iniSetAll(std::string_view text, std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries) {
    checkName("section", section);
    if (section.find(']') != std::string_view::npos)
        throw std::invalid_argument("ini section name not storable: \"" + std::string(section) + "\"");
    for (const auto& [k, v] : entries) checkEntry(k, v);

    Lines split = splitLines(text);
    std::vector<std::string>& lines = split.lines;
    for (const auto& [key, value] : entries) {
        const std::string entry = key + "=" + quoteIfNeeded(value);
        bool inSection = false, sectionSeen = false, done = false;
        std::size_t insertAt = 0;  // after the last entry of the first matching section
        for (std::size_t i = 0; i < lines.size() && !done; ++i) {
            if (auto s = sectionOf(lines[i])) {
                if (inSection) break;  // the first matching section has ended
                inSection = files::equalsNoCase(*s, section);
                if (inSection) {
                    sectionSeen = true;
                    insertAt = i + 1;
                }
                continue;
            }
            if (!inSection) continue;
            if (!trim(lines[i]).empty()) insertAt = i + 1;
            auto k = keyOf(lines[i]);
            if (k && files::equalsNoCase(*k, key)) {
                lines[i] = entry;
                done = true;
            }
        }
        if (done) continue;
        if (sectionSeen) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
        } else {
            if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + std::string(section) + "]");
            lines.push_back(entry);
        }
    }
    return joinLines(split);
}

std::string iniSet(std::string_view text, std::string_view section, std::string_view key, std::string_view value) {
    return iniSetAll(text, section, {{std::string(key), std::string(value)}});
}

}  // namespace varnel::host

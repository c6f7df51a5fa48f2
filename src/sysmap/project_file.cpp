#include "sysmap/project_file.h"

#include <algorithm>
#include <stdexcept>

namespace varnel {

namespace {

constexpr std::string_view kModulePrefix = "Module #";

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool isModuleHeaderText(std::string_view text) {
    return text.size() > kModulePrefix.size() && text.substr(0, kModulePrefix.size()) == kModulePrefix;
}

std::string_view endBytes(LineEnd e) {
    switch (e) {
        case LineEnd::CrLf: return "\r\n";
        case LineEnd::Lf: return "\n";
        case LineEnd::None: return "";
    }
    return "";
}

}  // namespace

std::string withoutTabs(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != '\t') out.push_back(c);
    return out;
}

std::string moduleNumber(std::string_view headerText) {
    std::string field(headerText.size() > kModulePrefix.size() ? headerText.substr(kModulePrefix.size())
                                                               : std::string_view{});
    field += "   ";
    return std::string(trimBlanks(std::string_view(field).substr(0, 3)));
}

std::optional<ParseError> SystemMapImage::parse(std::string_view bytes) {
    if (bytes.size() > kMaxProjectBytes)
        return ParseError{0, "Project file is larger than " + std::to_string(kMaxProjectBytes >> 20) + " MiB"};

    // Levels carried from one line to the next, as IDs of their header records.
    std::int32_t cur1 = 0, cur2 = 0, cur3 = 0, lastHeader = 0;
    bool moduleSeen = false;
    for (const MapRecord& r : records_) {
        if (r.isHeader()) lastHeader = r.ID;
        if (r.kind == LineKind::Module) moduleSeen = true;
    }
    if (!records_.empty()) {
        cur1 = records_.back().level1;
        cur2 = records_.back().level2;
        cur3 = records_.back().level3;
    }

    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (records_.size() >= kMaxProjectLines)
            return ParseError{0, "Project file has more than " + std::to_string(kMaxProjectLines) + " lines"};
        MapRecord r;
        r.ID = static_cast<std::int32_t>(records_.size() + 1);
        const std::size_t nl = bytes.find('\n', pos);
        std::string_view line;
        if (nl == std::string_view::npos) {
            line = bytes.substr(pos);
            r.end = LineEnd::None;
            pos = bytes.size();
        } else {
            line = bytes.substr(pos, nl - pos);
            r.end = LineEnd::Lf;
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
                r.end = LineEnd::CrLf;
            }
            pos = nl + 1;
        }

        const bool tab0 = !line.empty() && line[0] == '\t';
        const bool tab1 = line.size() > 1 && line[1] == '\t';
        const bool tab2 = line.size() > 2 && line[2] == '\t';
        if (!tab0) {
            r.kind = LineKind::Level1;
        } else if (!tab1) {
            r.kind = isModuleHeaderText(withoutTabs(line)) ? LineKind::Module : LineKind::Level2;
        } else if (!tab2 && !moduleSeen) {
            r.kind = LineKind::Level3;
        } else {
            r.kind = LineKind::Content;
        }

        const std::size_t fieldLength = r.isHeader() ? withoutTabs(line).size() : line.size();
        if (fieldLength > kMaxFieldLength)
            return ParseError{r.ID, "Line longer than " + std::to_string(kMaxFieldLength) + " characters"};

        switch (r.kind) {
            case LineKind::Level1: cur1 = r.ID, cur2 = 0, cur3 = 0; break;
            case LineKind::Level2: cur2 = r.ID, cur3 = 0; break;
            case LineKind::Module: cur2 = r.ID, cur3 = r.ID, moduleSeen = true; break;
            case LineKind::Level3: cur3 = r.ID; break;
            case LineKind::Content: break;
        }
        if (r.isHeader()) lastHeader = r.ID;
        r.level1 = cur1;
        r.level2 = cur2;
        r.level3 = cur3;
        r.section = lastHeader;
        r.raw = std::string(line);
        records_.push_back(std::move(r));
    }
    return std::nullopt;
}

std::string SystemMapImage::render() const {
    std::string out;
    for (const MapRecord& r : records_) {
        // A changed line ends like the line it replaces, so a file keeps one kind of line end.
        out += r.replaced ? *r.replaced : r.raw;
        out += endBytes(r.end);
    }
    return out;
}

const MapRecord* SystemMapImage::record(std::int64_t id) const {
    if (id < 1 || id > static_cast<std::int64_t>(records_.size())) return nullptr;
    return &records_[static_cast<std::size_t>(id - 1)];
}

std::string SystemMapImage::headerText(std::int32_t id) const {
    const MapRecord* h = record(id);
    return h ? withoutTabs(h->raw) : std::string{};
}

std::string SystemMapImage::Level1(const MapRecord& r) const { return headerText(r.level1); }
std::string SystemMapImage::Level2(const MapRecord& r) const { return headerText(r.level2); }

std::string SystemMapImage::Level3(const MapRecord& r) const {
    const MapRecord* h = record(r.level3);
    if (!h) return {};
    const std::string text = withoutTabs(h->raw);
    return h->kind == LineKind::Module ? moduleNumber(text) : text;
}

std::string SystemMapImage::Line(const MapRecord& r) const {
    if (r.isHeader()) return {};
    return r.replaced ? *r.replaced : r.raw;
}

std::optional<std::int32_t> SystemMapImage::findLocalSection(std::string_view name) const {
    for (const MapRecord& r : records_)
        if (r.kind == LineKind::Level3 && Level3(r) == name && Level2(r) == "Local") return r.ID;
    return std::nullopt;
}

// Only a real module header can head a module section: a level-3 header whose text
// happens to be a number is some other list and must not take point names.
std::optional<std::int32_t> SystemMapImage::findModuleSection(std::string_view number) const {
    for (const MapRecord& r : records_)
        if (r.kind == LineKind::Module && Level3(r) == number) return r.ID;
    return std::nullopt;
}

bool SystemMapImage::hasSystemMapSection() const {
    for (const MapRecord& r : records_) {
        if (r.kind == LineKind::Module) return true;
        if (r.kind == LineKind::Level3 && Level2(r) == "Local") {
            const std::string name = Level3(r);
            if (name == "Variables" || name == "X-10" || name == "Infra-Red") return true;
        }
    }
    return false;
}

const MapRecord* SystemMapImage::entry(std::int32_t header, std::int64_t id) const {
    const MapRecord* r = record(id);
    if (!r || r->isHeader() || r->section != header || header == 0) return nullptr;
    return r;
}

bool SystemMapImage::setEntryLine(std::int32_t header, std::int64_t id, std::string_view line) {
    if (!entry(header, id)) return false;
    if (line.size() > kMaxFieldLength) throw std::length_error("Line longer than 255 characters");
    // A line break inside a name would split the entry and shift every line after it.
    if (line.find_first_of("\r\n") != std::string_view::npos)
        throw std::invalid_argument("Line break in a System Map entry");
    MapRecord& r = records_[static_cast<std::size_t>(id - 1)];
    if (line == r.raw)
        r.replaced.reset();
    else
        r.replaced = std::string(line);
    return true;
}

std::vector<const MapRecord*> SystemMapImage::changedRecords() const {
    std::vector<const MapRecord*> out;
    for (const MapRecord& r : records_)
        if (r.replaced) out.push_back(&r);
    return out;
}

}  // namespace varnel

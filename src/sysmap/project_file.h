#pragma once
// The System Map image: one record per line of a CMAX project file, in file order.
// Every record keeps the line's raw bytes, its kind and its line end, so a line that
// no synchronisation changed goes back to the file exactly as it was read (header
// lines with inner tabs, numeric level-3 headers and odd module headers included).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

enum class LineKind : std::uint8_t { Level1, Level2, Module, Level3, Content };
enum class LineEnd : std::uint8_t { CrLf, Lf, None };

struct MapRecord {
    std::int32_t ID = 0;
    LineKind kind = LineKind::Content;
    LineEnd end = LineEnd::CrLf;
    std::string raw;          // as read, without its line end
    std::int32_t level1 = 0;  // IDs of the headers giving Level1..Level3, 0 = ""
    std::int32_t level2 = 0;
    std::int32_t level3 = 0;
    std::int32_t section = 0;             // ID of the nearest header at or above (itself for a header)
    std::optional<std::string> replaced;  // new Line, set only when it differs from `raw`

    [[nodiscard]] bool isHeader() const { return kind != LineKind::Content; }
};

// CMAX's database fields hold 255 characters; a longer line cannot be kept.
inline constexpr std::size_t kMaxFieldLength = 255;
// Far above any real project file; keeps hostile input from exhausting memory.
inline constexpr std::size_t kMaxProjectBytes = 16u << 20;
inline constexpr std::size_t kMaxProjectLines = 500'000;

struct ParseError {
    std::int32_t line = 0;  // 1-based line number in the file, 0 for the file as a whole
    std::string description;
};

class SystemMapImage {
public:
    // Appends the lines of `bytes`. On error the records before the bad line stay.
    std::optional<ParseError> parse(std::string_view bytes);
    // The file as it is to be written: unchanged lines byte for byte, changed lines with
    // the line end of the line they replace.
    [[nodiscard]] std::string render() const;

    [[nodiscard]] bool empty() const { return records_.empty(); }
    [[nodiscard]] std::size_t size() const { return records_.size(); }
    void clear() { records_.clear(); }
    [[nodiscard]] const std::vector<MapRecord>& records() const { return records_; }

    // The record with this ID, or null.
    [[nodiscard]] const MapRecord* record(std::int64_t id) const;

    // The fields the synchronisation reads, derived from the stored line.
    [[nodiscard]] std::string Level1(const MapRecord& r) const;
    [[nodiscard]] std::string Level2(const MapRecord& r) const;
    [[nodiscard]] std::string Level3(const MapRecord& r) const;
    // "" for a header record, the current line (tabs included) for a content record.
    [[nodiscard]] std::string Line(const MapRecord& r) const;

    // Header record of the level-3 section `name` under the level-2 header "Local".
    [[nodiscard]] std::optional<std::int32_t> findLocalSection(std::string_view name) const;
    // Header record of the module section whose module number reads `number`.
    [[nodiscard]] std::optional<std::int32_t> findModuleSection(std::string_view number) const;
    // Whether any section a synchronisation works on is there (Variables, X-10 or
    // Infra-Red under "Local", or a module): without one the file is no project file.
    [[nodiscard]] bool hasSystemMapSection() const;

    // The content record `id` if it belongs to the section headed by `header`, else null:
    // a short section never lends its neighbour's lines or a header line.
    [[nodiscard]] const MapRecord* entry(std::int32_t header, std::int64_t id) const;
    // Sets the Line of entry `id` of section `header`. False (nothing changed) when the
    // line is not an entry of that section. Throws std::length_error above 255 characters
    // and std::invalid_argument for a line holding CR or LF.
    bool setEntryLine(std::int32_t header, std::int64_t id, std::string_view line);

    // Records whose Line differs from what was read.
    [[nodiscard]] std::vector<const MapRecord*> changedRecords() const;

private:
    [[nodiscard]] std::string headerText(std::int32_t id) const;
    std::vector<MapRecord> records_;
};

// Header text: the line with every tab removed.
std::string withoutTabs(std::string_view s);
// Module number of a module header's text ("Module #12" -> "12"): three characters
// after "Module #", blanks around them removed.
std::string moduleNumber(std::string_view headerText);

}  // namespace varnel

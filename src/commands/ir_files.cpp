#include "commands/ir_files.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "support/errors.h"
#include "support/host_access.h"
#include "support/logging.h"
#include "support/settings.h"
#include "support/text.h"

namespace varnel {

namespace fs = std::filesystem;

namespace {

// Files shared with Windows tools: bytes pass through, a line ends at LF with an
// optional CR before it, and every double quote is dropped wherever it stands.
class IrTextFile {
public:
    explicit IrTextFile(const fs::path& path) : in_(path, kIrFileLimits) {}

    bool next(std::string& line) {
        if (!in_.next(line)) return false;
        std::erase(line, '"');
        return true;
    }

private:
    files::LineReader in_;
};

bool fileExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::size_t bounded(std::size_t have, int limit) { return std::min(have, static_cast<std::size_t>(limit)); }

}  // namespace

fs::path irFilePath(const CommandLayer& ctx, std::string_view fileName) {
    const fs::path config = files::findNoCase(fs::path(requireHost(ctx.host).GetAppPath()), "config");
    return files::findNoCase(config, fileName);
}

std::int16_t irLookupEntry(const CommandLayer& ctx, std::int32_t index) {
    if (index < 0 || index >= kIrLookupCount) throw std::out_of_range("Subscript out of range");
    return ctx.ir.lookup[static_cast<std::size_t>(index)];
}

bool ReadIRCfg(CommandLayer& ctx) {
    static const std::string kProc = "ReadIRCfg";
    auto& ir = ctx.ir;
    for (auto& g : ir.groups) g.clear();
    for (auto& l : ir.labels) l.clear();

    fs::path path;
    bool present = false;
    if (!reportStep(ctx, kProc, 2, [&] {
            path = irFilePath(ctx, kIrLabelFile);
            present = fileExists(path);
        }))
        return false;
    if (!present) return true;

    const std::size_t labels = bounded(ir.labels.size(), kIrLabelCount);
    return reportStep(ctx, kProc, 3, [&] {
        IrTextFile file(path);
        std::string line;
        for (std::size_t n = 1; n <= kIrGroupCount + labels && file.next(line); ++n) {
            if (n <= kIrGroupCount)
                ir.groups[n - 1] = line;
            else
                ir.labels[n - kIrGroupCount - 1] = line;
        }
    });
}

void ReadIRMap(CommandLayer& ctx) {
    static const std::string kProc = "ReadIRMap";
    auto& map = ctx.ir.map;
    const std::size_t entries = bounded(map.size(), kIrLabelCount);
    std::size_t filled = 0;
    reportStep(ctx, kProc, 1, [&] {
        const fs::path path = irFilePath(ctx, kIrMapFile);
        if (!fileExists(path)) return;
        IrTextFile file(path);
        while (filled < entries && file.next(map[filled])) ++filled;
    });
    // Also after a failed read, so no entry keeps a value from an older file.
    for (std::size_t i = filled; i < entries; ++i) map[i].clear();
}

void SaveIRMap(CommandLayer& ctx) {
    static const std::string kProc = "SaveIRMap";
    reportStep(ctx, kProc, 1, [&] {
        const auto& map = ctx.ir.map;
        const std::size_t entries = bounded(map.size(), kIrLabelCount);
        std::string out;
        for (std::size_t i = 0; i < kIrLabelCount; ++i) {
            const std::string& entry = i < entries ? map[i] : std::string{};
            // Each line must come back as this entry, or every later remap moves or is lost.
            if (entry.find_first_of("\r\n\"") != std::string::npos || entry.size() + 2 > kIrFileLimits.maxLineBytes)
                throw std::invalid_argument("IR map entry " + std::to_string(i) +
                                            " holds a line break, a double quote or too many characters");
            out += '"' + entry + "\"\r\n";
        }
        files::replaceFile(irFilePath(ctx, kIrMapFile), out);
    });
}

std::optional<std::string> checkIrRemap(std::string_view text, int label) {
    if (text.find_first_not_of(' ') == std::string_view::npos) return std::nullopt;
    if (wholeNumberIn(text, 0, kIrLookupCount - 1)) return std::nullopt;
    return "Remap to IR Loc of label " + std::to_string(label) + " must be empty or a whole number from 0 to " +
           std::to_string(kIrLookupCount - 1);
}

std::string irRemapValue(std::string_view text) {
    const auto n = wholeNumberIn(text, 0, kIrLookupCount - 1);
    return n ? std::to_string(*n) : std::string{};
}

void BuildIRLookup(CommandLayer& ctx) {
    static const std::string kProc = "BuildIRLookup";
    auto& ir = ctx.ir;
    for (std::size_t i = 0; i < ir.lookup.size(); ++i) ir.lookup[i] = static_cast<std::int16_t>(i);
    const std::size_t entries = bounded(ir.map.size(), kIrLabelCount);
    for (std::size_t i = 0; i < entries; ++i) {
        const auto number = parseNumber(ir.map[i]);
        if (!number) continue;
        // A location beyond 16 bits is reported and the label keeps its own index.
        reportStep(ctx, kProc, 2, [&] { ir.lookup[i] = toInt16(*number); });
    }
}

void SetupIRDictionary(CommandLayer& ctx) {
    static const std::string kProc = "SetupIRDictionary";
    fs::path labelPath;
    bool present = false;
    if (!reportStep(ctx, kProc, 1, [&] {
            labelPath = irFilePath(ctx, kIrLabelFile);
            present = fileExists(labelPath);
        }))
        return;
    if (!present) return;

    std::optional<IrTextFile> labels;
    std::optional<IrTextFile> zones;
    if (!reportStep(ctx, kProc, 2, [&] { labels.emplace(labelPath); })) return;
    reportStep(ctx, kProc, 2, [&] {
        const fs::path zonePath = irFilePath(ctx, kIrZoneFile);
        if (fileExists(zonePath)) zones.emplace(zonePath);
    });

    std::array<std::string, kIrNamedGroups> groupName;
    std::array<std::string, kIrNamedGroups> groupZone;
    constexpr int kLastLine = kIrGroupCount + kIrNamedGroups * kIrLabelsPerGroup;  // 536
    int g = 1;
    std::string line;
    for (int n = 1; n <= kLastLine; ++n) {
        bool got = false;
        if (!reportStep(ctx, kProc, 3, [&] { got = labels->next(line); }) || !got) break;
        if (n <= kIrNamedGroups) {
            const auto at = static_cast<std::size_t>(n - 1);
            groupName[at] = line;
            std::string zone = "0";
            if (zones) {
                zone.clear();
                // A zone file shorter than the groups: each missing line is reported and
                // that group gets no zone; the groups after it are still read.
                reportStep(ctx, kProc, 3, [&] {
                    if (!zones->next(zone)) throw std::runtime_error("Input past end of file");
                });
            }
            const bool noZone = zone == "17" || !isNumeric(zone);
            groupZone[at] = noZone ? std::string(1, '0') : zone;
        } else if (n > kIrGroupCount && g <= kIrNamedGroups) {
            const auto at = static_cast<std::size_t>(g - 1);
            if (!line.empty()) {
                const std::string key = upper(groupName[at] + " " + line);
                auto& dict = ctx.ir.dictionary;
                if (dict.contains(key))
                    reportStep(ctx, kProc, 3, [&] { ReportError(ctx, kSourceVarnel, "Duplicate IR Key " + key); });
                else
                    dict.emplace(key, std::to_string(n - kIrGroupCount - 1) + "," + groupZone[at]);
            }
            if (n == kIrLabelsPerGroup * g + kIrGroupCount) ++g;
        }
    }
}

}  // namespace varnel

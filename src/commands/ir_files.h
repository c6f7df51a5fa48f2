#pragma once
// The IR label, map and zone files in the host's config directory, the tables
// they fill, the label -> code location lookup and the play-by-name dictionary.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "commands/command_state.h"
#include "files/files.h"

namespace varnel {

inline constexpr std::string_view kIrLabelFile = "irlbl.cfg";
inline constexpr std::string_view kIrMapFile = "irmap.cfg";
inline constexpr std::string_view kIrZoneFile = "irzones.cfg";

inline constexpr int kIrGroupCount = 32;
inline constexpr int kIrLabelCount = 1008;
inline constexpr int kIrLookupCount = 1024;
inline constexpr int kIrLabelsPerGroup = 36;
// Only the first 14 groups can be played by name (labels 0..503).
inline constexpr int kIrNamedGroups = 14;

// Bounds of every read of an IR file: a label is a name of a few dozen characters, and
// only the first 1040 lines mean anything, so a longer line or file is not one of ours.
inline constexpr files::Limits kIrFileLimits{.maxBytes = 16u << 20, .maxLines = 500'000, .maxLineBytes = 4096};

// Fills the group names and labels from the label file. True when it ran to the end
// (a missing file included: the tables are then empty).
bool ReadIRCfg(CommandLayer& ctx);
// Fills the 1008 map entries from the map file; entries the file does not reach are empty.
void ReadIRMap(CommandLayer& ctx);
// Rewrites the map file whole (temporary file renamed into place, flushed), lines CR LF.
// An entry the reader would not give back as it stands (a line break or a double quote in
// it, a line past the reader's limit) is refused, and then nothing is written.
void SaveIRMap(CommandLayer& ctx);

// Field check of a remap box (window, web page): empty, or a code location 0..1023, blanks
// around it allowed. Nothing when fine, else a message naming the label's box.
[[nodiscard]] std::optional<std::string> checkIrRemap(std::string_view text, int label);
// The remap as it is stored: the number without blanks, or empty.
[[nodiscard]] std::string irRemapValue(std::string_view text);
// Lookup entry i = i, except a numeric map entry redirects label i to that location.
void BuildIRLookup(CommandLayer& ctx);
// Adds "GROUP LABEL" -> "index,zone" for groups 1..14; the dictionary is never emptied.
void SetupIRDictionary(CommandLayer& ctx);

// <host dir>/config/<fileName>. The host's own file system ignores letter case, so the
// directory and the file are matched without regard to case, an exact match first;
// with no match at all the name is returned as spelled. Throws HostError without a host.
std::filesystem::path irFilePath(const CommandLayer& ctx, std::string_view fileName);

// The code location that plays label index `index`; throws std::out_of_range outside 0..1023.
std::int16_t irLookupEntry(const CommandLayer& ctx, std::int32_t index);

}  // namespace varnel

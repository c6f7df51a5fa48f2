#pragma once
// Reading and editing the text of an ini file without disturbing the rest of it:
// comments, other sections, blank lines and unknown lines stay byte for byte, and
// every line is written back with the file's line end (CR LF for a file without one),
// and a UTF-8 byte-order mark before the first line is skipped and kept. Section and
// key names ignore ASCII case.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::host {

// The value of `key` in `section` (the first one when a key repeats), or nothing.
// Blanks around the value are dropped; one pair of double quotes around it is removed,
// which is how values with blanks at their ends survive a round trip.
std::optional<std::string> iniGet(std::string_view text, std::string_view section, std::string_view key);

// The lines that are neither blank, a comment, a section nor an entry, and so are
// ignored: "line 7: no \"=\" in the line", one text per line, numbered from 1.
std::vector<std::string> iniProblems(std::string_view text);

// Every entry of `section` in file order, repeated keys included, values as iniGet gives them.
std::vector<std::pair<std::string, std::string>> iniEntries(std::string_view text, std::string_view section);

// The text with `key` in `section` set to `value`: the existing line is replaced in
// place, a new key goes after the last entry of the section, a new section at the end.
// Throws std::invalid_argument for names or values that cannot be stored in one line.
std::string iniSet(std::string_view text, std::string_view section, std::string_view key, std::string_view value);

// The same for several keys of one section in one pass.
std::string iniSetAll(std::string_view text, std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace varnel::host

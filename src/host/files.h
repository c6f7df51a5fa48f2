#pragma once
// File helpers of the embedded host: bounded reads, crash-safe replacement and
// the case-blind path lookup that Windows-style paths from the plug-in need.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace varnel::host {

// Whole file as bytes; nothing when it is absent. Throws std::runtime_error when it
// cannot be read or is larger than `maxBytes` (a hostile file must not exhaust memory).
std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes);

// The temporary file that writeFileAtomically uses for `path`.
std::filesystem::path tempPathFor(const std::filesystem::path& path);

// Writes `content` to a temporary file in the same directory and renames it over
// `path`, so a crash of the program leaves either the old or the new file, never half
// of one. `durable` also flushes file and directory to the disk first, which covers a
// crash of the whole machine at the price of a disk wait.
// Throws std::runtime_error naming the path on failure.
void writeFileAtomically(const std::filesystem::path& path, std::string_view content, bool durable = true);

// Appends one chunk to a file, creating it. Returns false when that failed.
bool appendToFile(const std::filesystem::path& path, std::string_view content);

// Resolves `relative` (either separator, e.g. "Scripts\\x.vbs") below `base`, matching
// every component without regard to ASCII case when the exact name is absent. ".."
// components and absolute paths are refused (nothing returned), as is a miss.
std::optional<std::filesystem::path> findNoCase(const std::filesystem::path& base, std::string_view relative);

bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace varnel::host

#pragma once
// Crash-safe replacement of the files the synchronisation writes (the project file, its
// backup, the synchronized IR files): the new bytes go to a temporary file beside the
// target, are flushed to disk and renamed over it. A crash, a full disk or a failing
// rename leaves the old file exactly as it was.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

// Stand-ins for the two system calls that can fail midway; empty means the real ones.
// Tests use them to simulate a full disk or a rename refused by the file system.
struct FileFaults {
    // As ::write: bytes written, or -1 with errno set.
    std::function<long(int fd, const char* data, std::size_t size)> write;
    // As ::rename: 0, or -1 with errno set.
    std::function<int(const char* from, const char* to)> rename;
};

// Replaces `target` (created when absent) with `bytes`. A symbolic link is followed so
// the link stays a link, and an existing file keeps its permission bits.
// Throws std::runtime_error naming the file on failure; `target` is then untouched.
void replaceFile(const std::filesystem::path& target, std::string_view bytes, const FileFaults& faults = {});

// Whole file as bytes; nothing when no regular file is there. Throws std::runtime_error
// when it cannot be read or is larger than `maxBytes`.
std::optional<std::string> readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// True when a regular file (or a link to one) is at `path`; directories do not count.
bool regularFileExists(const std::filesystem::path& path);

}  // namespace varnel

#pragma once
// Files shared with the user and with Windows tools, read and written safely. Every
// reader is bounded and says which bound was hit; every rewrite goes through a
// temporary file beside the target, so a killed writer leaves the old file or the
// new one, never half of one; names are matched without regard to letter case the
// way the Windows side matches them. Qt-free and below every other layer.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::files {

// A file operation that failed; what() names the file and the reason, for example
// "cannot read /h/config/devices.txt: Permission denied".
struct FileError : std::runtime_error {
    FileError(const std::string& what, int err) : std::runtime_error(what), err(err) {}
    int err;  // errno, or 0 for a refusal of our own
};

inline constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

struct Limits {
    std::size_t maxBytes = kUnlimited;
    std::size_t maxLines = kUnlimited;
    std::size_t maxLineBytes = kUnlimited;  // without the line end
};

enum class Limit { Bytes, Lines, LineLength };

// A read that went past one of its limits. what(): "PATH is larger than 16 MiB",
// "PATH has more than 500000 lines" or "PATH: line 7 is longer than 4096 bytes".
struct TooLarge : FileError {
    TooLarge(const std::string& what, Limit limit, std::size_t line)
        : FileError(what, EFBIG), limit(limit), line(line) {}
    Limit limit;
    std::size_t line;  // the line that passed the limit; 0 for Bytes
};

// "16 MiB", "4 KiB" or "1000 bytes", for messages about limits.
std::string sizeText(std::uintmax_t bytes);

// ---- reading

// The whole file; nothing when there is no file at `path`. Throws FileError when it
// cannot be read (a directory in its place included) and TooLarge past `limits`.
std::optional<std::string> readFile(const std::filesystem::path& path, const Limits& limits);

// A text file line by line within `limits`. A line ends at LF; a CR right before it
// is dropped, any other byte is kept. Only what the caller asks for is read, so
// `maxBytes` counts the bytes of the lines taken so far.
class LineReader {
public:
    // Throws FileError when the file cannot be opened (an absent file included).
    LineReader(const std::filesystem::path& path, const Limits& limits);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // False at the end of the file. Throws FileError or TooLarge.
    bool next(std::string& line);
    [[nodiscard]] std::size_t lineNumber() const { return lines_; }

private:
    bool fill();
    std::filesystem::path path_;
    Limits limits_;
    int fd_ = -1;
    std::vector<char> buf_;
    std::size_t at_ = 0, end_ = 0;
    std::size_t lines_ = 0, bytes_ = 0;
    bool eof_ = false;
};

// True when a regular file (or a link to one) is at `path`.
bool isRegularFile(const std::filesystem::path& path);

// ---- replacing

// Stand-ins for the system calls that can fail midway; empty means the real ones.
// Tests use them for a full disk or a rename the file system refuses.
struct WriteFaults {
    std::function<long(int fd, const char* data, std::size_t size)> write;  // as ::write
    std::function<int(const char* from, const char* to)> rename;            // as ::rename
};

struct ReplaceOptions {
    // Flushes the file and its directory to the disk, so a crash of the machine keeps
    // the new file too; without it only a crash of the program is covered.
    bool durable = true;
    // A symbolic link at the path is followed and the file it names replaced, so the
    // link stays. Otherwise a link at the path is itself replaced by the file.
    bool followLink = false;
    // A file that has other hard links is rewritten in place, so that every name keeps
    // showing it. A failed write puts the old bytes back (the error says whether that
    // worked), but a kill midway is not covered: the caller keeps a copy first.
    bool keepHardLinks = false;
    // The file is rewritten in place whatever its links, as for keepHardLinks: for a file
    // whose owner or group a new file could not take (see newFileKeepsOwner).
    bool inPlace = false;
    // Mode and owner come from this file instead of the one replaced.
    std::filesystem::path permissionsFrom{};
    const WriteFaults* faults = nullptr;
    // Told when the new file could not keep the old one's owner (a writer without the
    // right to give files away, or a system-call filter that refuses chown).
    std::function<void(const std::string&)> note{};
};

// Replaces the file at `path` (or creates it) with `bytes`: a temporary file in the same
// directory is written, flushed and renamed over it. The new file keeps the old one's
// mode and, where the writer may, its owner; a new one gets 0666 less the umask. Throws
// FileError and leaves everything as it was for a path that is neither a regular file
// nor absent, for a file whose mode bits do not let the writer change it (root: no write
// bit at all), and for any failing step.
void replaceFile(const std::filesystem::path& path, std::string_view bytes, const ReplaceOptions& options = {});

// True when a file this process makes can take the owner and group of the file at
// `path` (a link followed), or there is no file: the process is root, or the file is
// its own and in one of its groups.
bool newFileKeepsOwner(const std::filesystem::path& path);

// Throws what replaceFile would throw before writing anything: lets a caller refuse
// before it starts a change that takes several files.
void checkReplaceable(const std::filesystem::path& path, const ReplaceOptions& options = {});

// Temporary files of replaceFile left in `dir` by a writer that was killed (only those
// for the file `name`, when given). A leftover whose writer has gone is removed; one
// whose writer still runs is kept and listed.
struct Leftovers {
    std::vector<std::filesystem::path> removed, kept;
};
Leftovers cleanLeftovers(const std::filesystem::path& dir, std::string_view name = {});

// Keeps a damaged file for the user as "<path><suffix>", or with ".2", ".3" ... after
// that when taken: an earlier copy is never overwritten. Move renames the file away;
// Copy writes `bytes` (the file as it was read) with the file's mode. Returns the name
// used; throws FileError.
std::filesystem::path setAsideMove(const std::filesystem::path& path, std::string_view suffix);
std::filesystem::path setAsideCopy(const std::filesystem::path& path, std::string_view suffix, std::string_view bytes);

// ---- appending

// Appends `bytes` to `path` (created 0666 less the umask). A file that has reached
// `maxBytes` first moves to "<path>.1", replacing the older one. False when the
// append failed.
bool appendRotating(const std::filesystem::path& path, std::string_view bytes, std::uintmax_t maxBytes);

// ---- names

// Equal but for the case of ASCII letters.
bool equalsNoCase(std::string_view a, std::string_view b);

// `name` inside `dir` as the directory spells it: the exact spelling when present, else
// the alphabetically first entry equal but for case; `dir / name` when there is none.
std::filesystem::path findNoCase(const std::filesystem::path& dir, std::string_view name);

// `relative` (either separator, for example "Scripts\\x.vbs") below `base`, each
// component matched as findNoCase does. Nothing for a miss, a ".." component, a
// drive letter or an absolute path.
std::optional<std::filesystem::path> resolveNoCase(const std::filesystem::path& base, std::string_view relative);

}  // namespace varnel::files

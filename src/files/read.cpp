#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "files/fd.h"
#include "files/files.h"

namespace varnel::files {

namespace fs = std::filesystem;
using detail::error;
using detail::Fd;

namespace {

constexpr std::size_t kChunk = 1 << 16;

// Opened without blocking and refused unless it is a regular file: a FIFO or a device
// in the place of a file would hang the read or never end it. -1 for an absent file
// when that is allowed.
int openForReading(const fs::path& path, bool absentIsError) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.ok()) {
        if (!absentIsError && (errno == ENOENT || errno == ENOTDIR)) return -1;
        throw error("cannot read", path, errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw error("cannot read", path, errno);
    if (S_ISDIR(st.st_mode)) throw error("cannot read", path, EISDIR);
    if (!S_ISREG(st.st_mode)) throw FileError("cannot read " + path.string() + ": not a regular file", 0);
    return fd.release();
}

std::size_t readSome(int fd, char* to, std::size_t size, const fs::path& path) {
    for (;;) {
        const ssize_t n = ::read(fd, to, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw error("cannot read", path, errno);
    }
}

TooLarge tooManyBytes(const fs::path& path, std::size_t max) {
    return TooLarge(path.string() + " is larger than " + sizeText(max), Limit::Bytes, 0);
}
TooLarge tooManyLines(const fs::path& path, std::size_t max) {
    return TooLarge(path.string() + " has more than " + std::to_string(max) + " lines", Limit::Lines, max + 1);
}
TooLarge tooLongLine(const fs::path& path, std::size_t line, std::size_t max) {
    return TooLarge(path.string() + ": line " + std::to_string(line) + " is longer than " + sizeText(max),
                    Limit::LineLength, line);
}

// Length of a line without its line end: one CR before the LF, or at the end of the file.
std::size_t contentLength(std::string_view line) {
    return !line.empty() && line.back() == '\r' ? line.size() - 1 : line.size();
}

void checkLines(std::string_view text, const Limits& limits, const fs::path& path) {
    if (limits.maxLines == kUnlimited && limits.maxLineBytes == kUnlimited) return;
    std::size_t line = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (++line > limits.maxLines) throw tooManyLines(path, limits.maxLines);
        const std::size_t nl = std::min(text.find('\n', at), text.size());
        if (contentLength(text.substr(at, nl - at)) > limits.maxLineBytes)
            throw tooLongLine(path, line, limits.maxLineBytes);
        at = nl + 1;
    }
}

}  // namespace

std::string sizeText(std::uintmax_t bytes) {
    constexpr std::uintmax_t kKiB = 1024, kMiB = kKiB * 1024;
    if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::optional<std::string> readFile(const fs::path& path, const Limits& limits) {
    const Fd fd(openForReading(path, false));
    if (!fd.ok()) return std::nullopt;
    std::string out;
    for (;;) {
        const std::size_t at = out.size();
        out.resize(at + kChunk);
        const std::size_t n = readSome(fd.get(), out.data() + at, kChunk, path);
        out.resize(at + n);
        if (n == 0) break;
        if (out.size() > limits.maxBytes) throw tooManyBytes(path, limits.maxBytes);
    }
    checkLines(out, limits, path);
    return out;
}

LineReader::LineReader(const fs::path& path, const Limits& limits)
    : path_(path), limits_(limits), fd_(openForReading(path, true)), buf_(kChunk) {}

LineReader::~LineReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool LineReader::fill() {
    if (eof_) return false;
    std::copy(buf_.begin() + static_cast<long>(at_), buf_.begin() + static_cast<long>(end_), buf_.begin());
    end_ -= at_;
    at_ = 0;
    const std::size_t n = readSome(fd_, buf_.data() + end_, buf_.size() - end_, path_);
    end_ += n;
    eof_ = n == 0;
    return n > 0;
}

bool LineReader::next(std::string& line) {
    line.clear();
    if (at_ == end_ && !fill()) return false;
    if (lines_ + 1 > limits_.maxLines) throw tooManyLines(path_, limits_.maxLines);
    for (;;) {
        const auto begin = buf_.begin() + static_cast<long>(at_);
        const auto stop = buf_.begin() + static_cast<long>(end_);
        const auto nl = std::find(begin, stop, '\n');
        line.append(begin, nl);
        const bool ended = nl != stop;
        at_ += static_cast<std::size_t>(nl - begin) + (ended ? 1 : 0);
        bytes_ += static_cast<std::size_t>(nl - begin) + (ended ? 1 : 0);
        if (bytes_ > limits_.maxBytes) throw tooManyBytes(path_, limits_.maxBytes);
        // One byte of room for the CR of a CR LF end; checked exactly below.
        if (line.size() > limits_.maxLineBytes && line.size() - 1 > limits_.maxLineBytes)
            throw tooLongLine(path_, lines_ + 1, limits_.maxLineBytes);
        if (ended || !fill()) break;
    }
    ++lines_;
    line.resize(contentLength(line));
    if (line.size() > limits_.maxLineBytes) throw tooLongLine(path_, lines_, limits_.maxLineBytes);
    return true;
}

bool isRegularFile(const fs::path& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

}  // namespace varnel::files

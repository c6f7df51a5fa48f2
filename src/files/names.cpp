#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "files/fd.h"
#include "files/files.h"

namespace varnel::files {

namespace fs = std::filesystem;

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool present(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

std::optional<fs::path> entryNoCase(const fs::path& dir, std::string_view name) {
    const fs::path exact = dir / name;
    if (present(exact)) return exact;
    // The alphabetically first, so the choice does not depend on the listing order.
    std::optional<std::string> best;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string candidate = it->path().filename().string();
        if (equalsNoCase(candidate, name) && (!best || candidate < *best)) best = std::move(candidate);
    }
    if (!best) return std::nullopt;
    return dir / *best;
}

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

fs::path findNoCase(const fs::path& dir, std::string_view name) { return entryNoCase(dir, name).value_or(dir / name); }

std::optional<fs::path> resolveNoCase(const fs::path& base, std::string_view relative) {
    if (!relative.empty() && (relative.front() == '/' || relative.front() == '\\')) return std::nullopt;
    fs::path at = base;
    bool any = false;
    while (!relative.empty()) {
        const std::size_t sep = relative.find_first_of("/\\");
        const std::string_view part = relative.substr(0, sep);
        relative = sep == std::string_view::npos ? std::string_view{} : relative.substr(sep + 1);
        if (part.empty() || part == ".") continue;
        if (part == ".." || part.find(':') != std::string_view::npos) return std::nullopt;
        auto next = entryNoCase(at, part);
        if (!next) return std::nullopt;
        at = std::move(*next);
        any = true;
    }
    if (!any) return std::nullopt;
    return at;
}

bool appendRotating(const fs::path& path, std::string_view bytes, std::uintmax_t maxBytes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) >= maxBytes) {
        fs::path old = path;
        old += ".1";
        ::rename(path.c_str(), old.c_str());
    }
    detail::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!fd.ok()) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return fd.close();
}

}  // namespace varnel::files

#include "host/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace varnel::host {

namespace fs = std::filesystem;

namespace {

std::runtime_error fileError(const std::string& what, const fs::path& path, int err) {
    return std::runtime_error(what + " " + path.string() + ": " + std::strerror(err));
}

// Closes the descriptor on every path out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

void writeAll(int fd, std::string_view content, const fs::path& path) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw fileError("cannot write", path, errno);
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

std::optional<std::string> readFile(const fs::path& path, std::size_t maxBytes) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw fileError("cannot open", path, errno);
    std::string out;
    char buf[16384];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        out.append(buf, static_cast<std::size_t>(in.gcount()));
        if (out.size() > maxBytes) throw std::runtime_error("file too large: " + path.string());
    }
    if (in.bad()) throw fileError("cannot read", path, errno);
    return out;
}

fs::path tempPathFor(const fs::path& path) {
    fs::path tmp = path;
    tmp += ".tmp";
    return tmp;
}

void writeFileAtomically(const fs::path& path, std::string_view content, bool durable) {
    const fs::path tmp = tempPathFor(path);
    {
        Fd out{::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
        if (out.fd < 0) throw fileError("cannot create", tmp, errno);
        writeAll(out.fd, content, tmp);
        if (durable && ::fsync(out.fd) != 0) throw fileError("cannot flush", tmp, errno);
        const int fd = out.fd;
        out.fd = -1;
        if (::close(fd) != 0) throw fileError("cannot close", tmp, errno);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throw fileError("cannot replace", path, err);
    }
    if (!durable) return;
    // The rename itself is durable only once the directory is flushed too.
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    Fd d{::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (d.fd >= 0) ::fsync(d.fd);
}

bool appendToFile(const fs::path& path, std::string_view content) {
    Fd out{::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)};
    if (out.fd < 0) return false;
    try {
        writeAll(out.fd, content, path);
    } catch (const std::runtime_error&) {
        return false;
    }
    return true;
}

std::optional<fs::path> findNoCase(const fs::path& base, std::string_view relative) {
    std::vector<std::string> parts;
    std::string part;
    if (!relative.empty() && (relative.front() == '/' || relative.front() == '\\')) return std::nullopt;
    for (char c : relative) {
        if (c == '/' || c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    if (parts.empty()) return std::nullopt;

    fs::path at = base;
    std::error_code ec;
    for (const std::string& p : parts) {
        if (p == ".") continue;
        if (p == ".." || p.find(':') != std::string::npos) return std::nullopt;
        if (fs::exists(at / p, ec)) {
            at /= p;
            continue;
        }
        std::optional<fs::path> match;
        for (fs::directory_iterator it(at, ec), end; !ec && it != end; it.increment(ec)) {
            if (equalsNoCase(it->path().filename().string(), p)) {
                match = it->path();
                break;
            }
        }
        if (!match) return std::nullopt;
        at = *match;
    }
    return at;
}

}  // namespace varnel::host

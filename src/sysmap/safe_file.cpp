#include "sysmap/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace varnel {

namespace fs = std::filesystem;

namespace {

std::runtime_error fileError(const std::string& what, const fs::path& path, int err) {
    return std::runtime_error(what + " " + path.string() + ": " + std::strerror(err));
}

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    int release() {
        const int f = fd;
        fd = -1;
        return f;
    }
};

// Removes the temporary file unless the rename took it.
struct TempFile {
    fs::path path;
    bool keep = false;
    ~TempFile() {
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
};

void writeAll(int fd, std::string_view bytes, const fs::path& path, const FileFaults& faults) {
    while (!bytes.empty()) {
        const long n = faults.write ? faults.write(fd, bytes.data(), bytes.size())
                                    : static_cast<long>(::write(fd, bytes.data(), bytes.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw fileError("cannot write", path, errno);
        }
        if (n == 0) throw fileError("cannot write", path, ENOSPC);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

bool regularFileExists(const fs::path& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

std::optional<std::string> readWholeFile(const fs::path& path, std::size_t maxBytes) {
    if (!regularFileExists(path)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw fileError("cannot open", path, errno);
    std::string out;
    std::vector<char> buf(1 << 16);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
        out.append(buf.data(), static_cast<std::size_t>(in.gcount()));
        if (out.size() > maxBytes) throw std::runtime_error("file too large: " + path.string());
    }
    if (in.bad()) throw fileError("cannot read", path, errno);
    return out;
}

void replaceFile(const fs::path& requested, std::string_view bytes, const FileFaults& faults) {
    std::error_code ec;
    fs::path target = requested;
    if (fs::is_symlink(requested, ec)) {
        target = fs::weakly_canonical(requested, ec);
        if (ec) throw fileError("cannot resolve", requested, ec.value());
    }
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");

    // Beside the target, so the rename stays on one file system and swaps the file whole.
    std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    TempFile temp;
    {
        Fd out(::mkstemp(name.data()));
        if (out.fd < 0) throw fileError("cannot create a temporary file in", dir, errno);
        temp.path = name.data();

        struct stat st {};
        const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
        ::fchmod(out.fd, mode);

        writeAll(out.fd, bytes, target, faults);
        if (::fsync(out.fd) != 0) throw fileError("cannot flush", target, errno);
        if (::close(out.release()) != 0) throw fileError("cannot close", target, errno);
    }

    const int rc =
        faults.rename ? faults.rename(temp.path.c_str(), target.c_str()) : ::rename(temp.path.c_str(), target.c_str());
    if (rc != 0) throw fileError("cannot replace", target, errno);
    temp.keep = true;

    // The rename is durable only once the directory itself is flushed.
    Fd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.fd >= 0) ::fsync(d.fd);
}

}  // namespace varnel

#pragma once
// A file descriptor closed on every way out, and the error texts the module shares.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "files/files.h"

namespace varnel::files::detail {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool ok() const { return fd_ >= 0; }
    void reset(int fd) {
        close();
        fd_ = fd;
    }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, so that a failing close (delayed write errors) is seen.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_ = -1;
};

inline FileError error(const std::string& what, const std::filesystem::path& path, int err) {
    return FileError(what + " " + path.string() + ": " + std::strerror(err), err);
}

}  // namespace varnel::files::detail

#include "host_dir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace varnel::app {

namespace {

// The holder's process number, as it wrote it; empty when the file holds none.
std::string holderOf(int fd) {
    std::array<char, 32> buf{};
    const ssize_t n = ::pread(fd, buf.data(), buf.size() - 1, 0);
    if (n <= 0) return {};
    std::string_view text(buf.data(), static_cast<std::size_t>(n));
    const auto end = text.find_first_not_of("0123456789");
    return std::string(text.substr(0, end));
}

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

}  // namespace

HostDirLock::~HostDirLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::optional<std::string> HostDirLock::take(const std::filesystem::path& dir) {
    if (fd_ >= 0) return std::nullopt;
    const auto file = dir / "varnel.lock";
    // Whatever stands at the lock path and cannot be locked refuses the run: taking
    // it for "not locked" would let two runs share the directory.
    const auto refuse = [&](const std::string& why) {
        return "host directory " + dir.string() + " cannot be locked: " + file.string() + " " + why +
               " (remove it when no varnel process uses the directory)";
    };
    // O_NONBLOCK: a FIFO or a device put there must not hang the open.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (::lstat(file.c_str(), &st) != 0) return std::nullopt;  // an unusable directory: the host says so
        if (!S_ISREG(st.st_mode)) return refuse("is " + kindOf(st.st_mode));
        return refuse("cannot be opened (" + std::string(std::strerror(err)) + ")");
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse("is " + kindOf(st.st_mode));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        const std::string holder = holderOf(fd);
        ::close(fd);
        if (err != EWOULDBLOCK) return refuse("cannot be locked (" + std::string(std::strerror(err)) + ")");
        return "host directory " + dir.string() + " is in use by another varnel process" +
               (holder.empty() ? std::string() : " (" + holder + ")");
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    // Only for the message another process shows; the lock works without it.
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    fd_ = fd;
    return std::nullopt;
}

}  // namespace varnel::app

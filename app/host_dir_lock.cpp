#include "host_dir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
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

}  // namespace

HostDirLock::~HostDirLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::optional<std::string> HostDirLock::take(const std::filesystem::path& dir) {
    if (fd_ >= 0) return std::nullopt;
    const auto file = dir / "varnel.lock";
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return std::nullopt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        const std::string holder = holderOf(fd);
        ::close(fd);
        if (err != EWOULDBLOCK) return std::nullopt;
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

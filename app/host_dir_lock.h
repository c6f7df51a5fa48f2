#pragma once
// One varnel process per host directory: two hosts saving the same devices file
// would each overwrite what the other saved.
#include <filesystem>
#include <optional>
#include <string>

namespace varnel::app {

class HostDirLock {
public:
    HostDirLock() = default;
    ~HostDirLock();
    HostDirLock(const HostDirLock&) = delete;
    HostDirLock& operator=(const HostDirLock&) = delete;

    // Locks `<dir>/varnel.lock` until this object goes. Returns a one-line message when
    // another process holds it, or when something at that path cannot be locked (a
    // directory, a symbolic link, a FIFO). A lock file left by a process that is gone
    // is taken over. A directory that cannot hold the file is not refused here: the
    // host reports it when it tries to use the directory.
    std::optional<std::string> take(const std::filesystem::path& dir);
    [[nodiscard]] bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace varnel::app

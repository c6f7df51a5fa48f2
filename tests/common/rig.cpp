#include "rig.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <random>
#include <string>

namespace varnel::test {

int deadProcess() {
    // Counted down from the top of the range, where numbers are handed out last; no
    // fork, which hangs under qemu-user.
    int top = 32768;
    std::ifstream("/proc/sys/kernel/pid_max") >> top;
    for (int pid = top - 1; pid > 1; --pid)
        if (::kill(pid, 0) == -1 && errno == ESRCH) return pid;
    return 0;
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("varnel-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Rig::Rig()
    : ctx(Platform{loop, port, userSettings, prompts, launcher, dir.path(),
                   [](int n) { return "COM" + std::to_string(n); }}) {
    ctx.host.hs = host;
    ctx.host.callback = callback;
    host->appPath = dir.path().string();
}

}  // namespace varnel::test

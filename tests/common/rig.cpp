#include "rig.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <string>

namespace varnel::test {

int deadProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
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

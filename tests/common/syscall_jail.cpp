// Runs a program under a systemd unit's system-call filter:
//   varnel_syscall_jail UNIT_FILE PROGRAM [ARGS...]
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "syscall_filter.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s UNIT_FILE PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    try {
        const auto filter = varnel::test::unitSyscallFilter(argv[1]);
        if (auto err = varnel::test::installSyscallFilter(filter)) {
            std::fprintf(stderr, "%s\n", err->c_str());
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    ::execv(argv[2], argv + 2);
    std::perror(argv[2]);
    return 127;
}

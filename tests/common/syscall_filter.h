#pragma once
// A systemd unit's SystemCallFilter= applied to this process with seccomp, the way
// systemd applies it before it starts the service: the groups expanded by
// `systemd-analyze syscall-filter`, the calls outside the filter killing the process
// (or failing with SystemCallErrorNumber=).
#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace varnel::test {

struct SyscallFilter {
    bool allowList = false;       // only `names` may be called; otherwise `names` may not
    std::set<std::string> names;  // plain system-call names
    int errorNumber = 0;          // 0: a refused call kills the process
};

// From the unit file's SystemCallFilter= and SystemCallErrorNumber= lines. Throws
// std::runtime_error when a group cannot be expanded.
[[nodiscard]] SyscallFilter unitSyscallFilter(const std::filesystem::path& unitFile);

// The calls of a group ("@privileged") or the name itself, nested groups expanded.
[[nodiscard]] std::set<std::string> expandSyscallGroup(const std::string& item);

// Installs the filter on this process and its children for good; the error when it could not.
[[nodiscard]] std::optional<std::string> installSyscallFilter(const SyscallFilter& filter);

}  // namespace varnel::test

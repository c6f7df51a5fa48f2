#include "syscall_filter.h"

#include <seccomp.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace varnel::test {
namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

void expandInto(const std::string& item, std::set<std::string>& out, std::set<std::string>& seen) {
    if (item.empty() || item[0] != '@') {
        out.insert(item);
        return;
    }
    if (!seen.insert(item).second) return;
    const std::string command = "systemd-analyze syscall-filter " + item + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) throw std::runtime_error("cannot run systemd-analyze");
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) text.append(buf, n);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    if (trim(line) != item) throw std::runtime_error("systemd-analyze does not know " + item);
    while (std::getline(lines, line)) {
        const std::string w = trim(line);
        if (!w.empty() && w[0] != '#') expandInto(w, out, seen);
    }
}

int errnoByName(const std::string& name) {
    for (auto [n, v] : {std::pair{"EPERM", EPERM}, std::pair{"EACCES", EACCES}, std::pair{"ENOSYS", ENOSYS}})
        if (name == n) return v;
    return std::stoi(name);
}

}  // namespace

std::set<std::string> expandSyscallGroup(const std::string& item) {
    std::set<std::string> out, seen;
    expandInto(item, out, seen);
    return out;
}

SyscallFilter unitSyscallFilter(const std::filesystem::path& unitFile) {
    std::ifstream in(unitFile);
    if (!in) throw std::runtime_error("cannot read " + unitFile.string());
    SyscallFilter f;
    bool first = true;
    for (std::string line; std::getline(in, line);) {
        line = trim(line);
        if (line.rfind("SystemCallErrorNumber=", 0) == 0) {
            f.errorNumber = errnoByName(line.substr(line.find('=') + 1));
            continue;
        }
        if (line.rfind("SystemCallFilter=", 0) != 0) continue;
        std::string value = line.substr(line.find('=') + 1);
        const bool deny = !value.empty() && value[0] == '~';
        if (deny) value.erase(0, 1);
        if (first) {
            f.allowList = !deny;
            // An allow list always holds what every process needs.
            if (f.allowList) f.names = expandSyscallGroup("@default");
            first = false;
        }
        for (const std::string& item : words(value))
            for (const std::string& name : expandSyscallGroup(item)) {
                if (deny == !f.allowList)
                    f.names.insert(name);
                else
                    f.names.erase(name);
            }
    }
    if (first) throw std::runtime_error(unitFile.string() + " has no SystemCallFilter=");
    return f;
}

std::optional<std::string> installSyscallFilter(const SyscallFilter& filter) {
    const std::uint32_t refuse =
        filter.errorNumber ? SCMP_ACT_ERRNO(static_cast<std::uint32_t>(filter.errorNumber)) : SCMP_ACT_KILL_PROCESS;
    std::unique_ptr<void, void (*)(scmp_filter_ctx)> ctx(seccomp_init(filter.allowList ? refuse : SCMP_ACT_ALLOW),
                                                         seccomp_release);
    if (!ctx) return "seccomp_init failed";
    for (const std::string& name : filter.names) {
        const int nr = seccomp_syscall_resolve_name(name.c_str());
        if (nr == __NR_SCMP_ERROR) continue;  // not on this architecture or unknown to libseccomp
        if (const int rc = seccomp_rule_add(ctx.get(), filter.allowList ? SCMP_ACT_ALLOW : refuse, nr, 0); rc != 0)
            return "seccomp_rule_add(" + name + ") failed: " + std::to_string(-rc);
    }
    if (const int rc = seccomp_load(ctx.get()); rc != 0) return "seccomp_load failed: " + std::to_string(-rc);
    return std::nullopt;
}

}  // namespace varnel::test

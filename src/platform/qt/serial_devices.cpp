#include "platform/qt/serial_devices.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

namespace varnel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSerialPrefixes[] = {"ttyS",   "ttyUSB", "ttyACM", "ttyAMA", "ttyXRUSB", "ttyO",  "ttySAC",
                                                "ttymxc", "ttyTHS", "ttySC",  "ttyMSM", "ttyHS",    "ttyLP", "rfcomm"};

// The lock directories serial programs agree on, in the order Qt's serial port tries them.
constexpr const char* kLockDirs[] = {"/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
                                     "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};

constexpr std::size_t kMaxLockBytes = 256;

bool isSerialName(std::string_view name) {
    for (std::string_view prefix : kSerialPrefixes) {
        if (!name.starts_with(prefix) || name.size() == prefix.size()) continue;
        const auto digits = name.substr(prefix.size());
        if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return true;
    }
    return false;
}

// Every ttyS device node exists whether or not a UART answers behind it; the kernel
// gives those without one the type 0.
bool hasUart(const fs::path& sysTty, const std::string& name) {
    const bool eightTwoFifty = name.size() > 4 && name.starts_with("ttyS") &&
                               std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!eightTwoFifty) return true;
    std::ifstream type(sysTty / name / "type");
    int t = -1;
    if (!(type >> t)) return true;
    return t != 0;
}

std::string groupName(gid_t gid) {
    std::array<char, 4096> buf{};
    group g{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &g, buf.data(), buf.size(), &found) == 0 && found) return found->gr_name;
    return std::to_string(gid);
}

std::string userName(uid_t uid) {
    std::array<char, 4096> buf{};
    passwd p{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &p, buf.data(), buf.size(), &found) == 0 && found) return found->pw_name;
    return std::to_string(uid);
}

std::string processName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string hostName() {
    std::array<char, 256> buf{};
    if (::gethostname(buf.data(), buf.size() - 1) != 0) return {};
    return buf.data();
}

std::optional<SerialLock> parseLock(const fs::path& file, std::string_view text) {
    SerialLock lock;
    lock.file = file;
    std::vector<std::string> lines;
    std::istringstream in{std::string(text)};
    for (std::string line; lines.size() < 3 && std::getline(in, line);) lines.push_back(line);
    if (!lines.empty()) {
        // "      1234\n" (UUCP), "1234 minicom user" (minicom), "1234\nprogram\nhost\n" (Qt).
        std::istringstream first(lines[0]);
        std::string number, program;
        first >> number >> program;
        if (!number.empty() && number.size() <= 10 &&
            std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            const long long pid = std::stoll(number);
            if (pid > 0 && pid <= 0x7fffffff) lock.pid = static_cast<pid_t>(pid);
        }
        lock.program = program;
    }
    if (lines.size() >= 2 && lock.program.empty()) lock.program = lines[1];
    if (lines.size() >= 3) lock.host = lines[2];
    // Names end up in messages: keep them short and printable.
    for (std::string* s : {&lock.program, &lock.host}) {
        if (s->size() > 64) s->resize(64);
        for (char& c : *s)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    if (lock.pid) {
        lock.running = ::kill(*lock.pid, 0) == 0 || errno == EPERM;
        if (lock.running) lock.processName = processName(*lock.pid);
    }
    return lock;
}

std::optional<SerialLock> readLockFd(const fs::path& file, int fd) {
    std::array<char, kMaxLockBytes> buf{};
    const ssize_t n = ::pread(fd, buf.data(), buf.size(), 0);
    if (n < 0) return std::nullopt;
    return parseLock(file, std::string_view(buf.data(), static_cast<std::size_t>(n)));
}

fs::path realDevice(const fs::path& device) {
    std::error_code ec;
    auto real = fs::canonical(device, ec);
    return ec ? device : real;
}

}  // namespace

std::vector<fs::path> serialDevices(const DeviceDirs& dirs) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(dirs.dev, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!isSerialName(name) || !it->is_character_file(ec) || !hasUart(dirs.sysTty, name)) continue;
        found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<fs::path> byIdNames(const fs::path& device, const DeviceDirs& dirs) {
    std::vector<fs::path> names;
    const fs::path real = realDevice(device);
    std::error_code ec;
    for (fs::directory_iterator it(dirs.byId, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e;
        if (fs::canonical(it->path(), e) == real && !e) names.push_back(it->path());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Identity Identity::current() {
    Identity who;
    who.uid = ::geteuid();
    who.gid = ::getegid();
    const int n = ::getgroups(0, nullptr);
    if (n > 0) {
        who.groups.resize(static_cast<std::size_t>(n));
        if (::getgroups(n, who.groups.data()) < 0) who.groups.clear();
    }
    who.privileged = who.uid == 0;
    return who;
}

std::optional<std::string> modeProblem(const DeviceMode& device, const Identity& who, const std::string& groupName,
                                       const std::string& userName) {
    if (who.privileged) return std::nullopt;
    constexpr mode_t kOwnerRw = S_IRUSR | S_IWUSR, kGroupRw = S_IRGRP | S_IWGRP, kOtherRw = S_IROTH | S_IWOTH;
    const bool inGroup =
        who.gid == device.group || std::find(who.groups.begin(), who.groups.end(), device.group) != who.groups.end();
    // The kernel uses the first class that matches: owner, else group, else others.
    if (who.uid == device.owner) {
        if ((device.mode & kOwnerRw) == kOwnerRw) return std::nullopt;
        return "no permission to open it (its mode does not let even its owner read and write)";
    }
    if (inGroup) {
        if ((device.mode & kGroupRw) == kGroupRw) return std::nullopt;
        return "no permission to open it (its group " + groupName + " may not read and write it)";
    }
    if ((device.mode & kOtherRw) == kOtherRw) return std::nullopt;
    if ((device.mode & kGroupRw) == kGroupRw)
        return "no permission to open it: add the user to the " + groupName + " group (sudo usermod -aG " + groupName +
               " " + userName + ", then log in again)";
    return "no permission to open it (only its owner may; a udev rule can give it to a group)";
}

std::optional<std::string> accessProblem(const fs::path& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return std::string("not found (no such device)");
    if (::faccessat(AT_FDCWD, device.c_str(), R_OK | W_OK, AT_EACCESS) == 0) return std::nullopt;
    const Identity who = Identity::current();
    auto problem = modeProblem({st.st_uid, st.st_gid, st.st_mode}, who, groupName(st.st_gid), userName(who.uid));
    return problem ? problem : std::string("no permission to open it (" + std::string(std::strerror(errno)) + ")");
}

std::optional<std::string> kindProblem(const fs::path& device, const DeviceDirs& dirs) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return std::nullopt;
    const auto notSerial = [](const std::string& what) { return "not a serial device (" + what + ")"; };
    if (S_ISREG(st.st_mode)) return notSerial("a regular file");
    if (S_ISDIR(st.st_mode)) return notSerial("a directory");
    if (S_ISFIFO(st.st_mode)) return notSerial("a FIFO");
    if (S_ISSOCK(st.st_mode)) return notSerial("a socket");
    if (!S_ISCHR(st.st_mode)) return notSerial("a block device");
    // The kernel's class of the device: "tty" for serial ports and consoles, "mem" for
    // /dev/null and the like.
    const auto entry = dirs.sysDevChar / (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    std::error_code ec;
    const fs::path subsystem = fs::read_symlink(entry / "subsystem", ec);
    if (ec) return std::nullopt;
    const std::string kind = subsystem.filename().string();
    if (kind == "tty") return std::nullopt;
    return notSerial("a " + kind + " device");
}

bool SerialLock::stale() const {
    // Process numbers of another host say nothing about this one.
    const bool otherHost = !host.empty() && host != hostName();
    return pid && !running && !otherHost;
}

std::string SerialLock::holder() const {
    if (!pid) return "locked (the lock file " + file.string() + " does not say by whom)";
    const std::string& name = processName.empty() ? program : processName;
    std::string text = "locked by process " + std::to_string(*pid) + (name.empty() ? "" : " (" + name + ")");
    if (!host.empty() && host != hostName())
        text += " on " + host;
    else if (!running)
        text += ", which is no longer running";
    return text;
}

std::optional<fs::path> lockFileFor(const fs::path& device) {
    std::string name = realDevice(device).string();
    if (name.starts_with("/dev/")) name.erase(0, 5);
    std::replace(name.begin(), name.end(), '/', '_');
    name = "LCK.." + name;
    for (const char* dir : kLockDirs) {
        const fs::path file = fs::path(dir) / name;
        std::error_code ec;
        if (::access(dir, R_OK) != 0) continue;
        if (fs::exists(file, ec) || ::access(dir, W_OK) == 0) return file;
    }
    return std::nullopt;
}

std::optional<SerialLock> readSerialLock(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    auto lock = readLockFd(file, fd);
    ::close(fd);
    return lock;
}

std::optional<SerialLock> serialLock(const fs::path& device) {
    const auto file = lockFileFor(device);
    return file ? readSerialLock(*file) : std::nullopt;
}

std::optional<std::string> takeOverStaleLock(const fs::path& device) {
    const auto file = lockFileFor(device);
    if (!file) return std::nullopt;
    const int fd = ::open(file->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // A live Qt holder keeps an flock on its lock file: it is not stale, whatever it says.
    std::optional<SerialLock> lock;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) lock = readLockFd(*file, fd);
    std::optional<std::string> note;
    if (lock && lock->stale()) {
        const std::string what = "the stale lock file " + file->string() + " of process " + std::to_string(*lock->pid) +
                                 ", which is no longer running";
        if (::unlink(file->c_str()) == 0)
            note = "Serial port " + device.string() + ": took over " + what;
        else
            note = "Serial port " + device.string() + ": cannot remove " + what + " (" + std::strerror(errno) +
                   "); remove it by hand";
    }
    ::close(fd);
    return note;
}

std::optional<std::string> openProblem(const fs::path& device) {
    const std::string port = "Serial port " + device.string();
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return port + " not found (no such device)";
    if (auto problem = accessProblem(device)) return port + ": " + *problem;
    if (auto lock = serialLock(device))
        return port + " is busy: " + lock->holder() + " (lock file " + lock->file.string() + ")";
    return std::nullopt;
}

}  // namespace varnel

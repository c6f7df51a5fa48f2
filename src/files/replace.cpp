#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>

#include "files/fd.h"
#include "files/files.h"

namespace varnel::files {

namespace fs = std::filesystem;
using detail::error;
using detail::Fd;

namespace {

constexpr std::string_view kTempSuffix = ".varnel-tmp";
// Room left in a 255-byte file name for the dot, the PID, the tag and the suffix.
constexpr std::size_t kTempNameRoom = 200;

std::string octal(mode_t mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

bool inGroup(gid_t gid) {
    if (gid == ::getegid()) return true;
    gid_t groups[256];
    const int n = ::getgroups(256, groups);
    for (int i = 0; i < n; ++i)
        if (groups[i] == gid) return true;
    return false;
}

// The mode bits that apply to this writer, as the kernel picks them. Root passes the
// kernel's check whatever the bits say, but a file without any write bit has been made
// read-only on purpose, and that is honoured for root too.
bool modeAllowsWrite(const struct stat& st) {
    if (::geteuid() == 0) return (st.st_mode & 0222) != 0;
    if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
    if (inGroup(st.st_gid)) return (st.st_mode & S_IWGRP) != 0;
    return (st.st_mode & S_IWOTH) != 0;
}

struct Target {
    fs::path path;                      // the file that is replaced (the link's target when followed)
    std::optional<struct stat> status;  // of that file, when there is one
};

Target resolve(const fs::path& path, const ReplaceOptions& options) {
    Target t{path, std::nullopt};
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return t;
        throw error("cannot replace", path, errno);
    }
    if (S_ISLNK(st.st_mode)) {
        if (!options.followLink) return t;  // the link itself goes, the file takes its place
        std::error_code ec;
        t.path = fs::weakly_canonical(path, ec);
        if (ec) throw error("cannot replace", path, ec.value());
        if (::stat(t.path.c_str(), &st) != 0) {
            if (errno == ENOENT) return t;
            throw error("cannot replace", path, errno);
        }
    }
    if (S_ISDIR(st.st_mode)) throw error("cannot replace", t.path, EISDIR);
    if (!S_ISREG(st.st_mode)) throw FileError("cannot replace " + t.path.string() + ": not a regular file", 0);
    if (!modeAllowsWrite(st))
        throw FileError("cannot write " + t.path.string() + ": no write permission (mode " + octal(st.st_mode) + ")",
                        EACCES);
    t.status = st;
    return t;
}

std::optional<struct stat> permissionsOf(const Target& t, const ReplaceOptions& options) {
    if (options.permissionsFrom.empty()) return t.status;
    struct stat st {};
    if (::stat(options.permissionsFrom.c_str(), &st) != 0) return std::nullopt;
    return st;
}

void writeAll(int fd, std::string_view bytes, const fs::path& path, const WriteFaults* faults) {
    while (!bytes.empty()) {
        const long n = faults && faults->write ? faults->write(fd, bytes.data(), bytes.size())
                                               : static_cast<long>(::write(fd, bytes.data(), bytes.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw error("cannot write", path, errno);
        }
        if (n == 0) throw error("cannot write", path, ENOSPC);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Owner first: a change of owner clears the set-id bits that the mode then restores.
// Only root may give a file away; others keep what they may (their own group). No call
// at all when nothing changes: a service's system-call filter may forbid chown.
void copyPermissions(int fd, const struct stat& from, const fs::path& target, const ReplaceOptions& options) {
    struct stat now {};
    if (::fstat(fd, &now) == 0 && (now.st_uid != from.st_uid || now.st_gid != from.st_gid)) {
        bool kept = ::fchown(fd, from.st_uid, from.st_gid) == 0;
        if (!kept && errno == EPERM && now.st_gid != from.st_gid)
            kept = ::fchown(fd, static_cast<uid_t>(-1), from.st_gid) == 0 && now.st_uid == from.st_uid;
        if (!kept && options.note)
            options.note("could not keep the owner " + std::to_string(from.st_uid) + ":" + std::to_string(from.st_gid) +
                         " of " + target.string() + "; it now belongs to " + std::to_string(now.st_uid) + ":" +
                         std::to_string(now.st_gid));
    }
    ::fchmod(fd, from.st_mode & 07777);
}

std::string tempTag() {
    static unsigned counter = 0;
    const auto now = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned long long mix = now ^ (static_cast<unsigned long long>(++counter) << 40);
    constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string tag(6, 'a');
    unsigned long long v = mix * 0x9E3779B97F4A7C15ull;
    for (char& c : tag) {
        c = kDigits[v % 36];
        v /= 36;
    }
    return tag;
}

std::string tempStem(std::string_view name) { return std::string(name.substr(0, kTempNameRoom)); }

struct TempFile {
    fs::path path;
    Fd fd;
    bool renamed = false;
    ~TempFile() {
        fd.close();
        if (!path.empty() && !renamed) ::unlink(path.c_str());
    }
};

// ".<name>.<pid>.<tag>.varnel-tmp" beside the target: hidden, on the same file system,
// and telling the next run whose it was.
void createTemp(TempFile& temp, const fs::path& dir, const fs::path& target) {
    const std::string stem = "." + tempStem(target.filename().string()) + "." + std::to_string(::getpid()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path p = dir / (stem + tempTag() + std::string(kTempSuffix));
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temp.path = p;
            temp.fd.reset(fd);
            return;
        }
        if (errno != EEXIST) throw error("cannot create a temporary file in", dir, errno);
    }
    throw error("cannot create a temporary file in", dir, EEXIST);
}

void syncDirectory(const fs::path& dir) {
    const Fd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.ok()) ::fsync(d.get());
}

// The whole file through `fd`, from its start.
std::string readAllAt(int fd, const fs::path& path) {
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(out.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw error("cannot read", path, errno);
        if (n == 0) return out;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

// Puts `old` back after a failed rewrite. Its bytes go into blocks the file already
// owns, so a full disk does not stop it.
bool restoreInPlace(int fd, std::string_view old, bool durable) {
    std::size_t at = 0;
    while (at < old.size()) {
        const ssize_t n = ::pwrite(fd, old.data() + at, old.size() - at, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    if (::ftruncate(fd, static_cast<off_t>(old.size())) != 0) return false;
    return !durable || ::fsync(fd) == 0;
}

// Every name of a hard-linked file keeps seeing it. A write that fails midway puts the
// old bytes back, and the error says whether that worked; a kill midway is not covered,
// so the caller keeps a copy first.
void rewriteInPlace(const Target& t, std::string_view bytes, const ReplaceOptions& options) {
    Fd fd(::open(t.path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!fd.ok()) throw error("cannot write", t.path, errno);
    const std::string old = readAllAt(fd.get(), t.path);
    // Room for a longer file is taken first, so that a full disk is met before a byte changes.
    if (bytes.size() > old.size() &&
        ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes.size())) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        throw error("cannot write", t.path, errno);
    try {
        writeAll(fd.get(), bytes, t.path, options.faults);
        if (::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0) throw error("cannot write", t.path, errno);
        if (options.durable && ::fsync(fd.get()) != 0) throw error("cannot flush", t.path, errno);
    } catch (const FileError& e) {
        // A write stopped at a size limit leaves the rest of the old bytes untouched: look before saying.
        bool restored = restoreInPlace(fd.get(), old, options.durable);
        if (!restored) {
            try {
                restored = readAllAt(fd.get(), t.path) == old;
            } catch (const FileError&) {
            }
        }
        if (restored) throw FileError(std::string(e.what()) + "; the file is as it was", e.err);
        throw FileError(std::string(e.what()) + "; the old content could not be put back either", e.err);
    }
    if (!fd.close()) throw error("cannot write", t.path, errno);
}

}  // namespace

void checkReplaceable(const fs::path& path, const ReplaceOptions& options) { (void)resolve(path, options); }

bool newFileKeepsOwner(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;
    return ::geteuid() == 0 || (st.st_uid == ::geteuid() && inGroup(st.st_gid));
}

void replaceFile(const fs::path& path, std::string_view bytes, const ReplaceOptions& options) {
    const Target t = resolve(path, options);
    if (t.status && (options.inPlace || (options.keepHardLinks && t.status->st_nlink > 1))) {
        rewriteInPlace(t, bytes, options);
        return;
    }
    const fs::path dir = t.path.has_parent_path() ? t.path.parent_path() : fs::path(".");
    TempFile temp;
    createTemp(temp, dir, t.path);
    if (const auto from = permissionsOf(t, options)) copyPermissions(temp.fd.get(), *from, t.path, options);
    writeAll(temp.fd.get(), bytes, t.path, options.faults);
    if (options.durable && ::fsync(temp.fd.get()) != 0) throw error("cannot flush", t.path, errno);
    if (!temp.fd.close()) throw error("cannot write", t.path, errno);

    const int rc = options.faults && options.faults->rename ? options.faults->rename(temp.path.c_str(), t.path.c_str())
                                                            : ::rename(temp.path.c_str(), t.path.c_str());
    if (rc != 0) throw error("cannot replace", t.path, errno);
    temp.renamed = true;
    // The rename is durable only once the directory is flushed too.
    if (options.durable) syncDirectory(dir);
}

Leftovers cleanLeftovers(const fs::path& dir, std::string_view name) {
    Leftovers out;
    const std::string wanted = name.empty() ? std::string() : "." + tempStem(name) + ".";
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string f = it->path().filename().string();
        if (!f.starts_with('.') || !f.ends_with(kTempSuffix)) continue;
        if (!wanted.empty() && !f.starts_with(wanted)) continue;
        // ".<name>.<pid>.<tag>" + suffix: the PID is the second field from the right.
        const std::string_view rest = std::string_view(f).substr(0, f.size() - kTempSuffix.size());
        const std::size_t tagDot = rest.rfind('.');
        if (tagDot == std::string_view::npos || tagDot == 0) continue;
        const std::size_t pidDot = rest.rfind('.', tagDot - 1);
        if (pidDot == std::string_view::npos || pidDot == 0) continue;
        const std::string_view pidText = rest.substr(pidDot + 1, tagDot - pidDot - 1);
        if (pidText.empty() || pidText.size() > 10 || pidText.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const long long number = std::stoll(std::string(pidText));
        const pid_t pid = number <= std::numeric_limits<pid_t>::max() ? static_cast<pid_t>(number) : 0;
        // Our own PID can only be an earlier process's that the system gave us again.
        const bool running = pid > 0 && pid != ::getpid() && (::kill(pid, 0) == 0 || errno == EPERM);
        if (running) {
            out.kept.push_back(it->path());
        } else if (::unlink(it->path().c_str()) == 0) {
            out.removed.push_back(it->path());
        }
    }
    return out;
}

namespace {

constexpr int kMaxSetAside = 1000;

fs::path setAsideName(const fs::path& path, std::string_view suffix, int n) {
    fs::path p = path;
    p += std::string(suffix);
    if (n > 1) p += "." + std::to_string(n);
    return p;
}

}  // namespace

fs::path setAsideMove(const fs::path& path, std::string_view suffix) {
    for (int n = 1; n <= kMaxSetAside; ++n) {
        const fs::path to = setAsideName(path, suffix, n);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return to;
        if (errno == EINVAL) {
            // A file system without the no-replace flag: look first (one process holds the directory).
            struct stat st {};
            if (::lstat(to.c_str(), &st) == 0) continue;
            if (::rename(path.c_str(), to.c_str()) == 0) return to;
        }
        if (errno != EEXIST) throw error("cannot set aside", path, errno);
    }
    throw error("cannot set aside", path, EEXIST);
}

fs::path setAsideCopy(const fs::path& path, std::string_view suffix, std::string_view bytes) {
    struct stat st {};
    const bool known = ::stat(path.c_str(), &st) == 0;
    for (int n = 1; n <= kMaxSetAside; ++n) {
        const fs::path to = setAsideName(path, suffix, n);
        Fd fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd.ok()) {
            if (errno == EEXIST) continue;
            throw error("cannot set aside", path, errno);
        }
        // Readable by no more people than the original.
        if (known) ::fchmod(fd.get(), st.st_mode & 0777);
        try {
            writeAll(fd.get(), bytes, to, nullptr);
            if (::fsync(fd.get()) != 0 || !fd.close()) throw error("cannot write", to, errno);
        } catch (...) {
            ::unlink(to.c_str());
            throw;
        }
        return to;
    }
    throw error("cannot set aside", path, EEXIST);
}

}  // namespace varnel::files

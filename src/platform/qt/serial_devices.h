#pragma once
// Serial devices as the system shows them: which exist, their stable
// /dev/serial/by-id names, whether this process may open them and who holds their
// lock file. The serial port explains a failed open with them; `varnel ports` lists
// them. Plain POSIX, no Qt.
//
// Lock files are the UUCP kind ("LCK..ttyUSB0") that serial programs, Qt's serial port
// among them, keep in the first usable of the usual lock directories (/var/lock, which
// is /run/lock on Debian). Qt's port looks there by the same rule, so what is reported
// here is what blocks its open. A lock file holds the holder's process number and, when
// Qt or minicom wrote it, the program's name.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace varnel {

struct DeviceDirs {
    std::filesystem::path dev = "/dev";
    std::filesystem::path byId = "/dev/serial/by-id";
    std::filesystem::path sysTty = "/sys/class/tty";
    std::filesystem::path sysDevChar = "/sys/dev/char";
};

// ttyS ports with a UART behind them, ttyUSB, ttyACM, ttyAMA and the other serial
// drivers' devices, sorted.
[[nodiscard]] std::vector<std::filesystem::path> serialDevices(const DeviceDirs& dirs = {});
// The by-id links that lead to `device`, sorted.
[[nodiscard]] std::vector<std::filesystem::path> byIdNames(const std::filesystem::path& device,
                                                           const DeviceDirs& dirs = {});

// Who asks: user, group, supplementary groups, and whether permissions bind it at all.
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    bool privileged = false;
    static Identity current();
};

struct DeviceMode {
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
};

// Nothing when `who` may read and write the device by its mode; otherwise why not and
// the fix, e.g. "it is for the group dialout: add the user to the dialout group".
[[nodiscard]] std::optional<std::string> modeProblem(const DeviceMode& device, const Identity& who,
                                                     const std::string& groupName, const std::string& userName);

// The same for this process and a device on disk (access control lists included).
// Nothing when it may open it.
[[nodiscard]] std::optional<std::string> accessProblem(const std::filesystem::path& device);

// Why `device` cannot carry a serial line, e.g. "not a serial device (a regular file)";
// nothing for a terminal device, for a character device the system files under no
// class (pseudo-terminals) and for a path that does not exist (the open says that).
[[nodiscard]] std::optional<std::string> kindProblem(const std::filesystem::path& device, const DeviceDirs& dirs = {});

struct SerialLock {
    std::filesystem::path file;
    std::optional<pid_t> pid;  // the file may not say
    std::string program;       // as the file names it
    std::string host;          // Qt writes the host name; a process number of another host says nothing here
    bool running = false;      // the process is alive (or cannot be told apart from alive)
    std::string processName;   // what runs under that number now
    [[nodiscard]] bool stale() const;
    // "locked by process 1234 (minicom)"
    [[nodiscard]] std::string holder() const;
};

// The lock file that guards `device` (its real path), where it is or would be.
[[nodiscard]] std::optional<std::filesystem::path> lockFileFor(const std::filesystem::path& device);
// What is in the lock file of `device`; nothing when there is none.
[[nodiscard]] std::optional<SerialLock> serialLock(const std::filesystem::path& device);
[[nodiscard]] std::optional<SerialLock> readSerialLock(const std::filesystem::path& file);

// A lock whose process is gone blocks every later open. Removes it and returns a note
// saying so; nothing when there was no stale lock. A stale lock that cannot be removed
// is said too, with the fix.
[[nodiscard]] std::optional<std::string> takeOverStaleLock(const std::filesystem::path& device);

// Why `device` cannot be opened, as far as the system tells, as one line naming the
// port: missing, no permission (with the fix), locked (naming the holder). Nothing
// when none of these.
[[nodiscard]] std::optional<std::string> openProblem(const std::filesystem::path& device);

}  // namespace varnel

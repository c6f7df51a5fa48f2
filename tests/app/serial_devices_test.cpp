// Serial devices as the system shows them: who may open one by its mode, what a
// lock file says about its holder, which devices exist and their by-id names.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/qt/qt_serial_port.h"
#include "platform/qt/serial_devices.h"
#include "rig.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

TEST(SerialDeviceAccess, the_mode_decides_by_owner_then_group_then_others_and_names_the_fix) {
    constexpr uid_t kUser = 1000, kRoot = 0;
    constexpr gid_t kUsers = 100, kDialout = 20;
    const Identity user{.uid = kUser, .gid = kUsers, .groups = {kUsers}};
    const Identity member{.uid = kUser, .gid = kUsers, .groups = {kUsers, kDialout}};
    const Identity root{.uid = kRoot, .gid = 0, .groups = {}, .privileged = true};
    const struct {
        DeviceMode device;
        Identity who;
        std::optional<std::string> problem;  // its start
    } cases[] = {
        {{kRoot, kDialout, 0660}, member, std::nullopt},
        {{kRoot, kDialout, 0660},
         user,
         "no permission to open it: add the user to the dialout group (sudo usermod -aG dialout ann"},
        {{kRoot, kDialout, 0640}, member, "no permission to open it (its group dialout may not read and write it)"},
        {{kRoot, kDialout, 0600}, user, "no permission to open it (only its owner may"},
        {{kUser, kDialout, 0600}, user, std::nullopt},
        // The owner's own bits count for the owner even when the group's would allow.
        {{kUser, kDialout, 0060}, member, "no permission to open it (its mode does not let even its owner"},
        {{kRoot, kDialout, 0000}, root, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto problem = modeProblem(c.device, c.who, "dialout", "ann");
        EXPECT_EQ(problem.value_or("").substr(0, c.problem.value_or("").size()), c.problem.value_or(""));
        EXPECT_EQ(problem.has_value(), c.problem.has_value()) << std::oct << c.device.mode;
    }
}

// Busy and no-permission share one Qt error code (root cannot provoke the latter).
TEST(SerialOpenErrors, error_texts_tell_busy_from_no_permission) {
    const struct {
        QSerialPort::SerialPortError error;
        const char *qtText, *expected;
    } cases[] = {
        {QSerialPort::PermissionError, "Permission error while locking the device",
         "Serial port /dev/ttyUSB0 is busy (locked by another process)"},
        {QSerialPort::PermissionError, "Permission denied",
         "Serial port /dev/ttyUSB0: no permission to open it (is the user in the dialout group?)"},
        {QSerialPort::PermissionError, "Device or resource busy",
         "Serial port /dev/ttyUSB0 is busy (opened for itself alone by another program)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(openErrorText("/dev/ttyUSB0", c.error, QString::fromLatin1(c.qtText)), c.expected) << c.qtText;
}

std::string ownName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string hostName() {
    char buf[256] = {};
    ::gethostname(buf, sizeof buf - 1);
    return buf;
}

TEST(SerialLockFile, every_common_format_names_its_holder_and_a_dead_one_is_stale) {
    test::TempDir dir;
    const std::string me = std::to_string(::getpid());
    const std::string dead = std::to_string(test::deadProcess());
    const struct {
        std::string text;
        std::optional<pid_t> pid;
        bool stale;
        std::string holder;
    } cases[] = {
        {"     " + me + "\n", ::getpid(), false, "locked by process " + me + " (" + ownName() + ")"},
        {"  " + dead + " minicom ann\n", std::stoi(dead), true,
         "locked by process " + dead + " (minicom), which is no longer running"},
        {dead + "\nvarnel\n" + hostName() + "\n3d1219c7\n", std::stoi(dead), true, "locked by process " + dead},
        // A process number of another machine (a shared lock directory) is nobody's here.
        {dead + "\nvarnel\nelsewhere\n", std::stoi(dead), false,
         "locked by process " + dead + " (varnel) on elsewhere"},
        {std::string("\x39\x30\x00\x00", 4), std::nullopt, false, "locked (the lock file "},
        {"99999999999\n", std::nullopt, false, "locked (the lock file "},
        {" " + dead + " " + std::string(300, 'x') + "\x01\n", std::stoi(dead), true,
         "locked by process " + dead + " ("},
    };
    for (const auto& c : cases) {
        const fs::path file = dir.path() / "LCK..ttyUSB0";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.text;
        const auto lock = readSerialLock(file);
        ASSERT_TRUE(lock) << c.text;
        EXPECT_EQ(lock->pid, c.pid) << c.text;
        EXPECT_EQ(lock->stale(), c.stale) << c.text;
        EXPECT_EQ(lock->holder().rfind(c.holder, 0), 0u) << lock->holder();
        EXPECT_EQ(lock->holder().find_first_of("\x01\n"), std::string::npos) << lock->holder();
        EXPECT_LT(lock->holder().size(), 200u);
    }
    EXPECT_FALSE(readSerialLock(dir.path() / "none"));
}

TEST(SerialDeviceList, lists_serial_devices_with_a_uart_behind_them_and_their_by_id_names) {
    test::TempDir dir;
    const DeviceDirs dirs{
        .dev = dir.path() / "dev", .byId = dir.path() / "dev/serial/by-id", .sysTty = dir.path() / "sys"};
    fs::create_directories(dirs.byId);
    for (const char* name : {"ttyS0", "ttyS1", "ttyUSB0", "ttyACM10", "ttyAMA0", "ttySAC2", "tty0", "ttyUSB", "ttyUSBx",
                             "console", "ptmx"})
        fs::create_symlink("/dev/null", dirs.dev / name);
    std::ofstream(dirs.dev / "ttyUSB1") << "not a device";
    for (auto [name, type] : {std::pair{"ttyS0", "4"}, std::pair{"ttyS1", "0"}}) {
        fs::create_directories(dirs.sysTty / name);
        std::ofstream(dirs.sysTty / name / "type") << type << "\n";
    }
    std::vector<std::string> names;
    for (const auto& d : serialDevices(dirs)) names.push_back(d.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"ttyACM10", "ttyAMA0", "ttyS0", "ttySAC2", "ttyUSB0"}));

    // By-id links resolve; which one leads to a device is told by where it ends.
    const fs::path a = dir.path() / "a", b = dir.path() / "b";
    std::ofstream(a) << "";
    std::ofstream(b) << "";
    fs::create_symlink("../../../a", dirs.byId / "usb-FTDI_FT232R_A1-if00-port0");
    fs::create_symlink("../../../b", dirs.byId / "usb-Prolific_PL2303-if00-port0");
    fs::create_symlink("../../../gone", dirs.byId / "usb-gone-if00-port0");
    EXPECT_EQ(byIdNames(a, dirs), std::vector<fs::path>{dirs.byId / "usb-FTDI_FT232R_A1-if00-port0"});
    EXPECT_EQ(byIdNames(dirs.byId / "usb-Prolific_PL2303-if00-port0", dirs),
              std::vector<fs::path>{dirs.byId / "usb-Prolific_PL2303-if00-port0"});
    EXPECT_TRUE(byIdNames(dir.path() / "c", dirs).empty());
}

}  // namespace
}  // namespace varnel

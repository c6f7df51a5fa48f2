#pragma once
// The embedded host: everything of the home-automation host that the plug-in calls,
// in one process, kept in a host directory:
//
//   <host dir>/config/settings.ini   ini settings (GetIniSetting, SaveIniSetting, MoveSettings)
//   <host dir>/config/devices.txt    the devices, reloaded at the next start
//   <host dir>/logs/host.log         the host log (WriteLog), also sent to the console sink
//   <host dir>/scripts/              scripts that RunEx runs
//
// Devices keep their reference for good: references are never handed out twice in
// one host directory, and they start above the 16-bit range so that a reference
// squeezed into 16 bits shows at once.
//
// Saving (temp file + rename: a crash of the program never leaves half a file).
// Without an event loop every change is written at once. With one, each write is also
// flushed to the disk: a device made or deleted, or any member written but its status,
// is saved as soon as the calls that made it are over (the next turn of the loop), and
// before any setting is written, so that settings never name devices that a killed
// process did not save; status and value changes are gathered and written `saveDelayMs`
// after the first of them (a crash of the machine loses at most that delay). flush()
// and the destructor write whatever is pending, so a clean exit loses nothing.
//
// Refused at the start (HostDirError), so that nothing is lost or written elsewhere
// later: a devices or settings file that cannot be read, that is larger than its
// limit (settings) or that its mode bits do not let this process replace.
//
// Unknown device codes: DeviceStatus and DeviceValue give 0, ison and isoff false;
// SetDeviceStatus and SetDeviceValue change nothing and are recorded as such. Unknown
// indexes and references throw HostError, as does any call on a deleted device.
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/files.h"
#include "host/device_table.h"
#include "host/free_codes.h"
#include "host/host_events.h"
#include "host/host_log.h"
#include "platform/event_loop.h"
#include "platform/host_api.h"
#include "platform/process_launcher.h"
#include "platform/settings_store.h"

namespace varnel {

// The host directory cannot be used; the message is one line naming the path.
struct HostDirError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct EmbeddedHostOptions {
    // Its first character selects the plug-in's host generation ("1.x" = older, index calls).
    std::string version = "2.5.0.81";
    std::int32_t firstRef = 40001;
    // Devices the host holds at most (never above host::DeviceTable::kMaxDevices).
    std::size_t maxDevices = host::DeviceTable::kMaxDevices;
    std::vector<int> freeCodeOrder = host::defaultFreeCodeOrder();
    // Creates an empty config/settings.ini when there is none (the plug-in then keeps its
    // settings in the host's file); false leaves it absent (the per-user store is used).
    bool createSettingsFile = true;
    // When given, device saves are gathered and written after `saveDelayMs`.
    EventLoop* loop = nullptr;
    int saveDelayMs = 500;
    // Receives every host log line; unset = silent.
    std::function<void(const std::string& line)> console{};
    // Instead of `console`: each line in its parts, for a sink that shows them its own way.
    std::function<void(const host::ConsoleLine& line)> consoleLine{};
    // Local wall-clock time for log lines; unset = the system clock.
    std::function<std::chrono::system_clock::time_point()> clock{};
    std::uintmax_t maxLogBytes = std::uintmax_t{4} * 1024 * 1024;
    // With a loop: a save that failed (a full disk) is tried again this often.
    int saveRetryMs = 5000;
    // Stand-ins for the system calls of every file write (tests: a full disk).
    const files::WriteFaults* writeFaults = nullptr;
};

class EmbeddedHost final : public Host {
public:
    // Throws HostDirError when the directory cannot be created or written.
    EmbeddedHost(const std::filesystem::path& hostDir, SettingsStore& userSettings, ProcessLauncher& launcher,
                 EmbeddedHostOptions options = {});
    ~EmbeddedHost() override;
    EmbeddedHost(const EmbeddedHost&) = delete;
    EmbeddedHost& operator=(const EmbeddedHost&) = delete;

    // Host
    [[nodiscard]] std::string Version() const override { return options_.version; }
    [[nodiscard]] std::string GetAppPath() const override { return hostDir_.string(); }
    [[nodiscard]] std::string GetIniSetting(const std::string& section, const std::string& key,
                                            const std::string& fallback) const override;
    void SaveIniSetting(const std::string& section, const std::string& key, const std::string& value) override;
    void MoveSettings(const std::string& registryPath, const std::string& target) override;
    void WriteLog(const std::string& source, const std::string& message) override;

    std::unique_ptr<DeviceEnumerator> GetDeviceEnumerator() override;
    [[nodiscard]] std::int32_t DeviceCount() const override;
    std::shared_ptr<Device> GetDevice(std::int16_t index) override;
    std::int16_t NewDevice(const std::string& name) override;
    [[nodiscard]] std::int16_t DeviceExists(const std::string& code) const override;
    std::shared_ptr<Device> GetDeviceByRef(std::int32_t ref) override;
    std::int32_t NewDeviceRef(const std::string& name) override;
    [[nodiscard]] std::int32_t DeviceExistsRef(const std::string& code) const override;
    void DeleteDevice(std::int32_t ref) override;

    [[nodiscard]] std::int16_t DeviceStatus(const std::string& code) const override;
    [[nodiscard]] std::int32_t DeviceValue(const std::string& code) const override;
    void SetDeviceStatus(const std::string& code, std::int16_t status) override;
    void SetDeviceValue(const std::string& code, std::int32_t value) override;
    [[nodiscard]] bool ison(const std::string& code) const override;
    [[nodiscard]] bool isoff(const std::string& code) const override;
    void RunEx(const std::string& scriptFile, const std::string& procedure, const std::string& parameter) override;
    void Launch(const std::string& programPath, const std::string& parameters) override;

    // For the callback object, the console and tests.
    void setVersion(std::string version) { options_.version = std::move(version); }
    // The order in which house codes are offered (character codes); see free_codes.h.
    void setFreeCodeOrder(std::vector<int> order) { options_.freeCodeOrder = std::move(order); }
    [[nodiscard]] std::int32_t nextFreeIOCode() const;
    // Sets a device's value without recording a write (value-change events carry it).
    bool storeValue(const std::string& code, std::int32_t value);

    // Writes pending device changes and settings now. Throws HostError when that fails.
    void flush();
    [[nodiscard]] bool unsaved() const { return unsaved_; }
    // Writes what is pending now rather than on the next turn of the loop. Nothing when
    // all is on the disk; otherwise why not ("cannot save the devices: ..."). Never throws.
    std::optional<std::string> saveNow();

    // Events from the callback object and status/value writes, oldest first (the last 10000).
    void record(host::HostEvent event);
    [[nodiscard]] const std::deque<host::HostEvent>& events() const { return events_; }
    void clearEvents() { events_.clear(); }
    // Called for every recorded event as it happens.
    std::function<void(const host::HostEvent&)> onEvent;
    // Further receivers of every recorded event, called after onEvent, each for as long as
    // the returned handle lives (it may outlive the host). One added while an event is
    // delivered gets the next; one dropped meanwhile is not called any more.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription() { reset(); }
        void reset();

    private:
        friend class EmbeddedHost;
        using Receiver = std::function<void(const host::HostEvent&)>;
        std::weak_ptr<std::vector<std::shared_ptr<Receiver>>> list_;
        std::shared_ptr<Receiver> receiver_;
    };
    [[nodiscard]] Subscription subscribe(std::function<void(const host::HostEvent&)> receiver);

    [[nodiscard]] const std::vector<host::HostRun>& runs() const { return runs_; }
    [[nodiscard]] const std::deque<host::LogEntry>& logEntries() const { return log_.entries(); }
    [[nodiscard]] const std::vector<host::DeviceRecord>& devices() const { return table_->records(); }

    [[nodiscard]] const std::filesystem::path& hostDir() const { return hostDir_; }
    [[nodiscard]] std::filesystem::path settingsFile() const;
    [[nodiscard]] std::filesystem::path devicesFile() const;
    [[nodiscard]] std::filesystem::path logFile() const { return log_.file(); }
    [[nodiscard]] std::filesystem::path scriptsDir() const;

private:
    void checkSettingsFile();
    void loadDevices();
    void deviceChanged(host::Change what);
    void saveDefinitions();
    bool saveDevices();
    bool saveSettings();
    void settingsUnsaved(const std::string& why);
    void retryLater();
    [[nodiscard]] std::optional<std::string> unsavedWhy() const;
    std::string readSettingsText() const;
    // Writes edit(text) to the settings file, unless it is `text` again.
    void writeSettingsText(const std::string& text, const std::function<std::string(const std::string&)>& edit);
    void hostMessage(const std::string& text);
    // Says in the host log when a rewritten file lost its owner.
    std::function<void(const std::string&)> ownerNote() {
        return [this](const std::string& text) { hostMessage(text); };
    }
    // How the host's own files are written: through links, with the test's faults, saying a lost owner.
    files::ReplaceOptions writeOptions();
    [[nodiscard]] const host::DeviceRecord* byCode(const std::string& code) const;
    std::shared_ptr<Device> handle(std::int32_t ref);

    std::filesystem::path hostDir_;
    SettingsStore& userSettings_;
    ProcessLauncher& launcher_;
    EmbeddedHostOptions options_;
    host::HostLog log_;
    std::shared_ptr<host::DeviceTable> table_;
    std::unique_ptr<Timer> saveTimer_;
    std::unique_ptr<Timer> definitionTimer_;
    std::unique_ptr<Timer> retryTimer_;
    bool unsaved_ = false;
    bool saveFailed_ = false;
    std::string saveError_;  // why the last save of the devices failed
    // Settings written while the file could not be: kept and read from here, in the
    // order they came, until a retry gets them onto the disk.
    struct PendingSetting {
        std::string section, key, value;
    };
    std::vector<PendingSetting> unsavedSettings_;
    std::string settingsError_;
    std::deque<host::HostEvent> events_;
    std::shared_ptr<std::vector<std::shared_ptr<Subscription::Receiver>>> receivers_ =
        std::make_shared<std::vector<std::shared_ptr<Subscription::Receiver>>>();
    std::vector<host::HostRun> runs_;
};

}  // namespace varnel

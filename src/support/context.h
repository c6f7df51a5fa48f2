#pragma once
// The plug-in's whole state, one object per HSPI instance (no globals), split
// by subsystem. Fields keep the controller's and the host's widths where the
// host can observe them; everything else uses plain C++ types.
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/host_api.h"
#include "platform/process_launcher.h"
#include "platform/prompts.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"

namespace varnel {

// 16-bit host Boolean: true is -1.
using Bool16 = std::int16_t;
inline constexpr Bool16 kTrue = -1;
inline constexpr Bool16 kFalse = 0;
inline constexpr Bool16 toBool16(bool b) { return b ? kTrue : kFalse; }

// What the core is given to talk to the world.
struct Platform {
    EventLoop& loop;
    SerialPort& port;
    SettingsStore& userSettings;
    Prompts& prompts;
    ProcessLauncher& launcher;
    // Directory of the plug-in's own program file: the comms log lives here.
    std::filesystem::path programDir;
    // Maps a port number to the device to open ("3" -> "/dev/ttyS2" on Linux).
    std::function<std::string(int)> portDevice;
};

// The error of the running procedure, as the error reporter sees it.
struct PendingError {
    bool pending = false;
    int step = 0;
    std::string description;
};

struct HostState {
    std::shared_ptr<Callback> callback;
    std::shared_ptr<Host> hs;
    bool setupHost = false;      // callback type name is "Setup"
    bool hostMode = true;        // RunAsXapNode is not 1
    bool newGeneration = false;  // host Version major > 1: by-reference calls
    std::int32_t miscBase = 0;   // 32768 on the newer host generation
};

struct SettingsState {
    bool iniMode = false;
    std::string storeName = "settings";
};

// Switches read from the settings at start-up and changed by the window.
struct Switches {
    std::int16_t logErrors = 1;
    std::int16_t logComms = 0;
    std::int16_t x10Xmit = 0;
    std::int16_t invert = 0;
    std::string updateStrings = "0";
    std::string leopardVar = "-1";  // house code of the Leopard screen device
};

struct LinkState {
    std::int16_t comport = 1;
    bool commStarted = false;
    bool portOpen = false;
    std::array<std::uint8_t, 501> rx{};  // receive buffer
    std::int16_t responseTimeout = 4;    // seconds
    std::int16_t busy = 0;
    Bool16 learning = kFalse;
    bool recognition = false;
    // Depth of response loops running; host work is not dispatched while above 0.
    int exchangeDepth = 0;
    // Bytes dropped by the report readers (not a report, not the awaited reply).
    std::uint64_t discarded = 0;
    // Commands whose 3-byte answer never came, since start: their callers ignore the
    // answer, the console does not.
    std::uint64_t unanswered = 0;
    // The run is ending: every wait returns at once, nothing more is sent or opened.
    bool ending = false;
    // Controller reports handed on since start.
    std::uint64_t reportsHandled = 0;
    // Ticks of the last complete reply and of the first time-out after it (-1: none).
    std::int64_t lastReplyMs = -1;
    std::int64_t silentSinceMs = -1;
};

// How the link is doing, as `status` and the service manager show it.
struct LinkHealth {
    enum class State : std::uint8_t { Starting, Up, Reconnecting };
    State state = State::Starting;
    std::int64_t downSinceMs = 0;                     // tick the outage began
    std::chrono::system_clock::time_point downSince;  // the same, on the local clock
    std::string startup;                              // how the last start-up ended; empty before the first has
    bool startupRunning = false;
    std::string lastStep;  // a step every interface start repeats is shown once
    std::int64_t startupBeganMs = 0;
};

struct ControllerState {
    std::array<std::int16_t, 16> presetDim{};
    std::array<std::uint8_t, 2> varSelector{};
    std::int32_t irSize = 0;
    std::array<std::uint8_t, 129> moduleTypes{};
    std::vector<std::int16_t> irModules;  // addresses of SECU16IR modules, scan order
    std::int16_t irModuleCount = 0;
    bool irModuleFlag = false;
    std::int16_t linkFailure = 0;
    bool startupIOCheck = false;
    bool x10Interface = false;
    bool ioStarted = false;
    bool irStarted = false;
    bool connected = false;
};

struct Images {
    std::array<std::uint8_t, 257> io{};
    std::array<std::int32_t, 129> vars{};
    std::int16_t timeoutCounter = 0;
    std::int16_t checksumCounter = 0;
    // Since start; the two counters above only count failures in a row.
    std::uint64_t timeoutTotal = 0;
    std::uint64_t checksumTotal = 0;
};

struct QueueRecord {
    std::string housecode;
    std::string devicecode;
    std::int16_t command = 0;
    std::int32_t brightness = 0;
    std::int16_t data1 = 0;
    std::int16_t data2 = 0;
};

struct CommandQueue {
    static constexpr int kSize = 50;
    std::array<QueueRecord, kSize> ring{};
    int writeIndex = 0;
    int readIndex = 0;
    int count = 0;
};

// One expansion module that has host devices.
class umap {
public:
    [[nodiscard]] std::int16_t utype() const { return utype_; }
    void set_utype(std::int16_t v) { utype_ = v; }
    [[nodiscard]] std::int16_t invert() const { return invert_; }
    void set_invert(std::int16_t v) { invert_ = v; }
    [[nodiscard]] const std::string& hc() const { return hc_; }
    void set_hc(std::string v) { hc_ = std::move(v); }
    [[nodiscard]] std::int16_t unit() const { return unit_; }
    void set_unit(std::int16_t v) { unit_ = v; }

private:
    std::int16_t utype_ = 0;
    std::int16_t invert_ = 0;
    std::string hc_;
    std::int16_t unit_ = 0;
};

struct DeviceModel {
    std::string interfaceName;
    std::int16_t varsHouseCode = 0;  // character code; 0 = no variable devices
    std::array<Bool16, 128> varSelected{};
    std::array<std::array<Bool16, 16>, 129> pointSelected{};  // by unit 1..128
    std::vector<umap> mappings;
    std::map<std::string, int> mappingIndex;  // house code -> position in mappings
    bool discovered = false;
};

struct TimerState {
    std::unique_ptr<Timer> timer2;  // variable timer
    std::unique_ptr<Timer> timer3;  // I/O and event timer
    std::unique_ptr<Timer> clockSync;
    bool timerBusy = false;
    bool ioCheckRequest = false;
    std::int16_t x10Sending = 0;
    bool disconnectRequest = false;
    bool cmaxLaunch = false;
    std::string cmaxExe;                             // the window's CMAX program path
    std::string pollInterval = "500";                // milliseconds, as text
    std::array<std::int32_t, 129> hostValueCache{};  // indexes 1..128
    bool varsCached = false;
    std::int32_t clockSynced = 0;
};

struct X10State {
    std::string addressList;
};

struct IrState {
    std::array<std::string, 32> groups;
    std::vector<std::string> labels = std::vector<std::string>(1008);
    std::vector<std::string> map = std::vector<std::string>(1008);
    std::array<std::int16_t, 1024> lookup{};
    std::map<std::string, std::string> dictionary;
    std::int16_t zone = 0;
    bool filesPending = false;  // synchronised IR files wait for the rename script
};

struct WindowState {
    bool open = false;  // config window open flag
};

struct ControllerReport;

// Calls that go up the layers, wired by the plug-in.
struct Hooks {
    // A report the response loop read, for the device layer's dispatcher.
    std::function<void(const ControllerReport&)> report;
    std::function<void()> ioTick;                      // Timer3 tick handler
    std::function<void()> varTick;                     // Timer2 tick handler
    std::function<void()> startCommunications;         // controller sequence again after a disconnect
    std::function<void(bool)> windowPortOpen;          // the window's PortOpen option button
    std::function<void()> windowDisconnectClick;       // the window's Disconnect button (reconnects)
    std::function<void()> syncClock;                   // the nightly clock setting (variable timer)
    std::function<void(bool modal)> showConfigWindow;  // none in a build without the window
    // A start-up step beginning, and the start-up's summary line (none: not shown).
    std::function<void(const std::string&)> startupStep;
    // After every reply time-out: the link watch's silence rule.
    std::function<void()> replyTimedOut;
    // The xAP companion application; false when it is not installed.
    std::function<bool(const std::string& member)> xapCompanion;
};

struct Context {
    explicit Context(Platform p) : platform(std::move(p)) {}
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    Platform platform;
    PendingError error;
    HostState host;
    SettingsState settings;
    Switches switches;
    LinkState link;
    LinkHealth health;
    ControllerState controller;
    Images images;
    CommandQueue queue;
    DeviceModel devices;
    TimerState timers;
    X10State x10;
    IrState ir;
    WindowState window;
    Hooks hooks;
};

}  // namespace varnel

#pragma once
// A model of the controller and its bus modules. Bytes the plug-in writes go in
// through feed(); replies and reports come out through onOutput. It answers
// every frame as the real controller does, keeps what the frames change, sends
// unsolicited reports on demand and can be told to misbehave.
//
// Transports: VirtualWire (in process, virtual time) and pty::PtySimulator (real
// time on a pseudo-terminal). Without a transport it runs on its own
// ManualScheduler, which tests advance by hand.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "sim/config.h"
#include "sim/faults.h"
#include "sim/frame_reader.h"
#include "sim/memory.h"
#include "sim/records.h"
#include "sim/scheduler.h"

namespace varnel::sim {

// Bytes for the line. `gapUs`: extra idle time before the first byte. `reply`: the
// answer to a frame (the transport adds its turnaround time before it).
struct Emission {
    std::vector<std::uint8_t> bytes;
    std::int64_t gapUs = 0;
    bool reply = false;
};

inline constexpr std::array<std::uint8_t, 3> kAckBytes{0x06, 0x00, 0x06};

class Controller {
public:
    explicit Controller(ControllerConfig cfg = {});
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // ---- wiring
    std::function<void(const Emission&)> onOutput;
    void feed(std::span<const std::uint8_t> bytes);
    // Sees each good frame before the controller acts on it (a test can arm a fault here).
    std::function<void(const ReceivedFrame&)> onFrameHook;
    // What was scheduled on the own clock (a demo started early, a learn timer)
    // moves over to the transport's clock.
    void attachScheduler(Scheduler& s) {
        sched_ = &s;
        if (&s != &ownClock_) ownClock_.handOver(s);
    }
    void detachScheduler() { sched_ = &ownClock_; }
    [[nodiscard]] Scheduler& scheduler() { return *sched_; }
    // The clock used while no transport is attached.
    [[nodiscard]] ManualScheduler& manualClock() { return ownClock_; }
    // The behaviour switches may change at any time; modules, variables and other
    // memory contents are taken at construction (change them through memory()).
    [[nodiscard]] const ControllerConfig& config() const { return cfg_; }
    ControllerConfig& config() { return cfg_; }

    // ---- memory
    [[nodiscard]] Memory& memory() { return mem_; }
    [[nodiscard]] const Memory& memory() const { return mem_; }
    [[nodiscard]] std::uint16_t variable(int index) const { return mem_.variable(index); }
    void setVariable(int index, std::uint16_t value) { mem_.setVariable(index, value); }
    // An input changes: the I/O buffer takes the stored bit (`set` = reads as 0 to the
    // plug-in) and, when it changed, the I/O change report F0 module point 1/0 goes out.
    bool changeInput(int module, int point, bool set);

    // ---- reports on demand (each goes out whole unless a split fault is armed)
    void emitReport(std::vector<std::uint8_t> bytes);
    void emitX10Received(std::uint8_t house, std::uint8_t key) { emitReport({0xFE, house, key}); }
    void emitX10Transmitted(std::uint8_t house, std::uint8_t key) { emitReport({0xFB, house, key}); }
    void emitIrMatch(std::uint8_t code) { emitReport({0xFD, 0x00, code}); }
    void emitIoChange(std::uint8_t module, std::uint8_t point, std::uint8_t value) {
        emitReport({0xF0, module, point, value});
    }
    void emitTouch(std::uint8_t value, std::uint8_t first = 0xF3, std::uint8_t b1 = 0, std::uint8_t b3 = 0,
                   std::uint8_t b4 = 0) {
        emitReport({first, b1, value, b3, b4});
    }
    void emitFiller() { emitReport({0xFF}); }
    void emitIgnored(std::uint8_t b1 = 0, std::uint8_t b2 = 0) { emitReport({0xFC, b1, b2}); }

    // ---- infra-red
    // The user presses a key on the remote while a learn is pending: the code is
    // stored at the pending location and FD 00 <location low byte> goes out.
    // `signal` identifies the key (default: one derived from the location).
    // False when no learn is pending.
    bool pressLearnKey(std::optional<std::uint32_t> signal = std::nullopt);
    // A remote's key reaches the IR input: a stored code with that signal reports
    // its location (lowest first). Returns the location matched.
    std::optional<std::uint16_t> receiveIr(std::uint32_t signal);
    [[nodiscard]] std::optional<std::uint16_t> pendingLearn() const { return pendingLearn_; }
    [[nodiscard]] const std::map<std::uint16_t, std::uint32_t>& learnedCodes() const { return learned_; }
    static std::uint32_t defaultSignal(std::uint16_t location) { return 0x00A50000u | location; }

    // ---- faults and per-test behaviour
    [[nodiscard]] Faults& faults() { return faults_; }
    // Called for every good frame after onFrameHook, before the controller acts.
    // Return true to take the frame over: the controller then neither acts on it nor
    // answers it; answer with sendRaw() if you like.
    std::function<bool(const ReceivedFrame&)> overrideFrame;
    // Puts bytes on the line as they are. `asReply`: they get the transport's
    // turnaround, as the answer to a frame does.
    void sendRaw(std::vector<std::uint8_t> bytes, bool asReply = false, std::int64_t gapUs = 0) {
        send(Emission{std::move(bytes), gapUs, asReply});
    }

    // ---- what was seen and done (each record keeps the latest config().recordLimit entries)
    [[nodiscard]] const std::deque<ReceivedFrame>& frames() const { return frames_; }
    [[nodiscard]] const std::deque<ReceivedFrame>& rejectedFrames() const { return rejected_; }
    // Good frames of a kind with a command code (block reads: any code).
    [[nodiscard]] std::vector<ReceivedFrame> framesOf(FrameKind kind, std::optional<std::uint8_t> code = {}) const;
    [[nodiscard]] std::size_t countOf(FrameKind kind, std::optional<std::uint8_t> code = {}) const;
    [[nodiscard]] std::vector<ReceivedFrame> blockReadsOf(Selector sel) const;
    [[nodiscard]] const std::deque<X10Transmission>& x10Sent() const { return x10_; }
    [[nodiscard]] const std::deque<IrPlay>& irPlays() const { return irPlays_; }
    [[nodiscard]] const std::deque<ScreenWrite>& screenWrites() const { return screen_; }
    [[nodiscard]] std::optional<ClockSetting> clock() const { return clock_; }
    [[nodiscard]] const std::deque<SettingWrite>& settingWrites() const { return settingWrites_; }
    // Last value written to a controller setting (byte 2 of 0x28), if any.
    [[nodiscard]] std::optional<std::uint8_t> setting(std::uint8_t which) const;
    [[nodiscard]] std::optional<std::uint8_t> touchMode() const { return setting(0x06); }
    // Everything sent, in order, as it left (before transport pacing).
    [[nodiscard]] const std::deque<Emission>& emissions() const { return emissions_; }

    [[nodiscard]] std::uint64_t strayBytes() const { return reader_.strayBytes(); }
    [[nodiscard]] std::uint64_t invalidFrames() const { return reader_.rejectedFrames(); }
    [[nodiscard]] std::uint64_t repliesSent() const { return repliesSent_; }
    [[nodiscard]] std::uint64_t repliesDropped() const { return repliesDropped_; }
    [[nodiscard]] std::uint64_t reportsSent() const { return reportsSent_; }
    // Forgets the records above (not the memory, learned codes or faults).
    void clearRecords();

private:
    using Handler = void (Controller::*)(std::span<const std::uint8_t>);
    void onFrame(FrameKind kind, std::span<const std::uint8_t> frame);
    [[nodiscard]] Handler handlerFor(FrameKind kind, std::uint8_t code) const;
    void answerBlockRead(std::span<const std::uint8_t> frame);
    void sendReply(std::vector<std::uint8_t> bytes, bool isAck);
    void send(const Emission& e);
    void later(std::int64_t delayUs, std::function<void()> fn);
    void armIdleResync();
    bool consumeDroppedReply();
    template <class T>
    void keep(std::deque<T>& record, T entry) {
        record.push_back(std::move(entry));
        while (record.size() > std::max<std::size_t>(cfg_.recordLimit, 1)) record.pop_front();
    }
    void flushFollowUps();

    // command and long frames, by code
    void valueRequest(std::span<const std::uint8_t> f);
    void settingWrite(std::span<const std::uint8_t> f);
    void variableWrite(std::span<const std::uint8_t> f);
    void pointWrite(std::span<const std::uint8_t> f);
    void x10Frame(std::span<const std::uint8_t> f);
    void x10Extended(std::span<const std::uint8_t> f);
    void localIrPlay(std::span<const std::uint8_t> f);
    void learnStart(std::span<const std::uint8_t> f);
    void remoteIrPlay(std::span<const std::uint8_t> f);
    void clockSet(std::span<const std::uint8_t> f);
    void screenText(std::span<const std::uint8_t> f);

    ControllerConfig cfg_;
    Memory mem_;
    FrameReader reader_;
    Faults faults_;
    ManualScheduler ownClock_;
    Scheduler* sched_ = &ownClock_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::uint64_t rxGeneration_ = 0;
    bool resyncArmed_ = false;

    std::optional<std::uint16_t> pendingLearn_;
    std::uint64_t learnGeneration_ = 0;
    std::map<std::uint16_t, std::uint32_t> learned_;

    std::deque<ReceivedFrame> frames_;
    std::deque<ReceivedFrame> rejected_;
    std::deque<X10Transmission> x10_;
    std::deque<IrPlay> irPlays_;
    std::deque<ScreenWrite> screen_;
    std::optional<ClockSetting> clock_;
    std::deque<SettingWrite> settingWrites_;
    std::map<std::uint8_t, std::uint8_t> settings_;
    std::deque<Emission> emissions_;
    std::vector<std::vector<std::uint8_t>> followUps_;  // reports a frame causes, sent after its reply
    std::uint64_t repliesSent_ = 0;
    std::uint64_t repliesDropped_ = 0;
    std::uint64_t reportsSent_ = 0;
};

}  // namespace varnel::sim

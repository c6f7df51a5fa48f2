#include "sim/controller.h"

#include <algorithm>
#include <utility>

#include "link/frames.h"

namespace varnel::sim {

Controller::Controller(ControllerConfig cfg) : cfg_(std::move(cfg)), mem_(cfg_) {
    reader_.onFrame = [this](FrameKind kind, std::span<const std::uint8_t> f) { onFrame(kind, f); };
    reader_.onRejected = [this](FrameKind kind, std::span<const std::uint8_t> f) {
        keep(rejected_, ReceivedFrame{kind, {f.begin(), f.end()}, sched_->nowUs()});
    };
}

Controller::~Controller() { *alive_ = false; }

void Controller::later(std::int64_t delayUs, std::function<void()> fn) {
    std::weak_ptr<bool> alive = alive_;
    sched_->after(delayUs, [alive, fn = std::move(fn)] {
        const auto token = alive.lock();
        if (token && *token) fn();
    });
}

void Controller::feed(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    ++rxGeneration_;
    reader_.feed(bytes);
    armIdleResync();
}

void Controller::armIdleResync() {
    if (cfg_.idleResyncUs <= 0 || reader_.pendingBytes() == 0) return;
    const std::uint64_t gen = rxGeneration_;
    later(cfg_.idleResyncUs, [this, gen] {
        if (gen != rxGeneration_) return;  // more bytes came; a later check owns it
        ++rxGeneration_;
        reader_.lineIdle();
        armIdleResync();
    });
}

void Controller::onFrame(FrameKind kind, std::span<const std::uint8_t> frame) {
    keep(frames_, ReceivedFrame{kind, {frame.begin(), frame.end()}, sched_->nowUs()});
    if (onFrameHook) onFrameHook(frames_.back());
    if (overrideFrame && overrideFrame(frames_.back())) return;
    if (faults_.silent) return;
    if (kind == FrameKind::BlockRead) {
        if (!consumeDroppedReply()) answerBlockRead(frame);
        return;
    }
    if (const Handler h = handlerFor(kind, frame[1])) (this->*h)(frame);
    if (!consumeDroppedReply()) {
        const auto ack = faults_.nextAck.value_or(kAckBytes);
        faults_.nextAck.reset();
        sendReply({ack.begin(), ack.end()}, true);
    }
    flushFollowUps();
}

bool Controller::consumeDroppedReply() {
    if (faults_.dropReplies <= 0) return false;
    --faults_.dropReplies;
    ++repliesDropped_;
    return true;
}

void Controller::flushFollowUps() {
    auto pending = std::exchange(followUps_, {});
    for (auto& r : pending) emitReport(std::move(r));
}

//   2A | 00 00 | sel0 sel1 | 00 | 256 bytes of the buffer | crc(0..261) low, high
void Controller::answerBlockRead(std::span<const std::uint8_t> frame) {
    Selector sel{frame[3], frame[4]};
    if (faults_.wrongBuffer) sel = *std::exchange(faults_.wrongBuffer, std::nullopt);
    const Buffer data = mem_.read(sel);
    std::vector<std::uint8_t> r(kBlockReplyLength, 0);
    r[0] = kBlockRead;
    r[1] = frame[1];
    r[2] = frame[2];
    r[3] = sel.first;
    r[4] = sel.second;
    r[5] = frame[5];
    std::copy(data.begin(), data.end(), r.begin() + 6);
    std::uint16_t crc = blockCrc(r, 262);
    if (faults_.badCrcBlocks > 0) {
        --faults_.badCrcBlocks;
        crc = static_cast<std::uint16_t>(crc ^ 0x5A5A);
    }
    r[262] = static_cast<std::uint8_t>(crc & 0xFF);
    r[263] = static_cast<std::uint8_t>(crc >> 8);
    sendReply(std::move(r), false);
}

void Controller::sendReply(std::vector<std::uint8_t> bytes, bool isAck) {
    // The first piece of an exchange carries the turnaround (and any delay fault);
    // the rest follows back to back.
    bool first = true;
    const std::int64_t delay = std::exchange(faults_.delayNextReplyUs, 0);
    auto out = [&](std::vector<std::uint8_t> b) {
        send(Emission{std::move(b), first ? delay : 0, first});
        first = false;
    };
    if (!faults_.garbageBeforeReply.empty()) out(std::exchange(faults_.garbageBeforeReply, {}));
    if (!faults_.reportBeforeReply.empty()) {
        out(std::exchange(faults_.reportBeforeReply, {}));
        ++reportsSent_;
    }
    out(std::move(bytes));
    ++repliesSent_;
    if (isAck && !faults_.reportAfterAck.empty()) {
        out(std::exchange(faults_.reportAfterAck, {}));
        ++reportsSent_;
    }
}

void Controller::send(const Emission& e) {
    if (e.bytes.empty()) return;
    keep(emissions_, e);
    if (onOutput) onOutput(e);
}

void Controller::emitReport(std::vector<std::uint8_t> bytes) {
    if (bytes.empty()) return;
    ++reportsSent_;
    if (faults_.splitNextReport && bytes.size() > 1) {
        const auto split = *std::exchange(faults_.splitNextReport, std::nullopt);
        const std::size_t at = std::clamp<std::size_t>(split.at, 1, bytes.size() - 1);
        send(Emission{{bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at)}, 0, false});
        send(Emission{{bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end()}, split.gapUs, false});
        return;
    }
    send(Emission{std::move(bytes), 0, false});
}

bool Controller::changeInput(int module, int point, bool set) {
    if (!mem_.setRawPoint(module, point, set)) return false;
    emitIoChange(static_cast<std::uint8_t>(module), static_cast<std::uint8_t>(point), set ? 1 : 0);
    return true;
}

bool Controller::pressLearnKey(std::optional<std::uint32_t> signal) {
    if (!pendingLearn_) return false;
    const std::uint16_t loc = *std::exchange(pendingLearn_, std::nullopt);
    ++learnGeneration_;
    learned_[loc] = signal.value_or(defaultSignal(loc));
    emitIrMatch(static_cast<std::uint8_t>(loc & 0xFF));
    return true;
}

std::optional<std::uint16_t> Controller::receiveIr(std::uint32_t signal) {
    for (const auto& [loc, sig] : learned_) {
        if (sig != signal) continue;
        emitIrMatch(static_cast<std::uint8_t>(loc & 0xFF));
        return loc;
    }
    return std::nullopt;
}

std::vector<ReceivedFrame> Controller::framesOf(FrameKind kind, std::optional<std::uint8_t> code) const {
    std::vector<ReceivedFrame> out;
    for (const auto& f : frames_)
        if (f.kind == kind && (!code || kind == FrameKind::BlockRead || f.code() == *code)) out.push_back(f);
    return out;
}

std::size_t Controller::countOf(FrameKind kind, std::optional<std::uint8_t> code) const {
    return framesOf(kind, code).size();
}

std::vector<ReceivedFrame> Controller::blockReadsOf(Selector sel) const {
    std::vector<ReceivedFrame> out;
    for (const auto& f : frames_)
        if (f.kind == FrameKind::BlockRead && f.selector() == sel) out.push_back(f);
    return out;
}

std::optional<std::uint8_t> Controller::setting(std::uint8_t which) const {
    const auto it = settings_.find(which);
    if (it == settings_.end()) return std::nullopt;
    return it->second;
}

void Controller::clearRecords() {
    frames_.clear();
    rejected_.clear();
    x10_.clear();
    irPlays_.clear();
    screen_.clear();
    settingWrites_.clear();
    emissions_.clear();
    repliesSent_ = repliesDropped_ = reportsSent_ = 0;
}

}  // namespace varnel::sim

#include "sim/frame_reader.h"

#include "link/frames.h"

namespace varnel::sim {

namespace {
constexpr std::uint8_t kScreenText = 0x6D;
constexpr std::size_t kCommandLength = 8;
constexpr std::size_t kLongLength = 50;

FrameKind kindOf(std::uint8_t first) {
    if (first == kLongFrame) return FrameKind::Long;
    if (first == kBlockRead) return FrameKind::BlockRead;
    return FrameKind::Command;
}
}  // namespace

std::size_t frameLength(std::uint8_t first) {
    switch (first) {
        case kCommandFrame: return kCommandLength;
        case kLongFrame: return kLongLength;
        case kBlockRead: return kCommandLength;
        default: return 0;
    }
}

bool frameCheckOk(FrameKind kind, std::span<const std::uint8_t> frame) {
    switch (kind) {
        case FrameKind::Command: return frame.size() == kCommandLength && Checksum7(frame) == frame[7];
        case FrameKind::Long: return frame.size() == kLongLength && Checksum49(frame) == frame[49];
        case FrameKind::BlockRead:
            return frame.size() == kCommandLength && blockCrc(frame, 6) == (frame[6] << 8 | frame[7]);
    }
    return false;
}

void FrameReader::feed(std::span<const std::uint8_t> bytes) {
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
    process();
}

bool FrameReader::lineIdle() {
    if (buf_.empty()) return false;
    buf_.erase(buf_.begin());
    ++stray_;
    process();
    return true;
}

void FrameReader::process() {
    // A handler that feeds more bytes only appends; the outer pass picks them up.
    if (processing_) return;
    processing_ = true;
    while (!buf_.empty()) {
        const std::uint8_t first = buf_.front();
        if (trailingZero_) {
            trailingZero_ = false;
            if (first == 0x00) {
                buf_.erase(buf_.begin());
                ++swallowed_;
                continue;
            }
        }
        const std::size_t len = frameLength(first);
        if (len == 0) {
            buf_.erase(buf_.begin());
            ++stray_;
            continue;
        }
        if (buf_.size() < len) break;
        const std::vector<std::uint8_t> frame(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(len));
        const FrameKind kind = kindOf(first);
        if (!frameCheckOk(kind, frame)) {
            buf_.erase(buf_.begin());
            ++rejected_;
            if (onRejected) onRejected(kind, frame);
            continue;
        }
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(len));
        trailingZero_ = kind == FrameKind::Long && frame[1] == kScreenText;
        if (onFrame) onFrame(kind, frame);
    }
    processing_ = false;
}

}  // namespace varnel::sim

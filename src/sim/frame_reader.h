#pragma once
// The controller's side of the line: cuts the plug-in's byte stream into frames
// by first byte and length, checks each frame's sum or CRC, and counts what it
// has to throw away. Bytes may come split or joined in any way.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace varnel::sim {

enum class FrameKind : std::uint8_t {
    Command,    // C8, 8 bytes, 8-bit sum
    Long,       // F1, 50 bytes, 8-bit sum
    BlockRead,  // 2A, 8 bytes, CRC high byte first
};

// Total length of the frame that `first` starts, 0 when it starts none.
std::size_t frameLength(std::uint8_t first);
// True when `frame` (whole, of its kind's length) carries a good sum or CRC.
bool frameCheckOk(FrameKind kind, std::span<const std::uint8_t> frame);

class FrameReader {
public:
    using FrameHandler = std::function<void(FrameKind, std::span<const std::uint8_t>)>;
    // A frame with a good check.
    FrameHandler onFrame;
    // A frame whose check failed; only its first byte is dropped, so a real frame
    // hiding behind a stray lead byte is still found.
    FrameHandler onRejected;

    void feed(std::span<const std::uint8_t> bytes);
    // The line went quiet while part of a frame waits: that start was noise.
    // Drops its first byte and looks again. Returns true when something was dropped.
    bool lineIdle();

    [[nodiscard]] std::size_t pendingBytes() const { return buf_.size(); }
    [[nodiscard]] std::uint64_t strayBytes() const { return stray_; }
    [[nodiscard]] std::uint64_t rejectedFrames() const { return rejected_; }
    [[nodiscard]] std::uint64_t swallowedZeros() const { return swallowed_; }

private:
    void process();
    std::vector<std::uint8_t> buf_;
    bool processing_ = false;
    bool trailingZero_ = false;  // the screen frame is followed by one zero byte
    std::uint64_t stray_ = 0;
    std::uint64_t rejected_ = 0;
    std::uint64_t swallowed_ = 0;
};

}  // namespace varnel::sim

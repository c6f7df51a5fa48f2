#pragma once
// A scripted far end for command tests: each frame the plug-in writes takes the
// next entry of a script (reply bytes, or silence); frames beyond the script get
// an acknowledgement when they are command or long frames. It knows no
// controller behaviour of its own: the controller simulator is the model.
#include <cstdint>
#include <deque>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "link/frames.h"
#include "rig.h"

namespace varnel::test {

class ScriptedController {
public:
    using Bytes = std::vector<std::uint8_t>;

    // Opens the rig's port and sets the port open flag, so frames reach the far end.
    explicit ScriptedController(Rig& rig) : rig_(rig) {
        (void)rig_.port.open("COM1");
        rig_.ctx.link.portOpen = true;
        rig_.port.onHostWrite = [this](std::span<const std::uint8_t> frame) { answer(frame); };
    }
    ScriptedController(const ScriptedController&) = delete;
    ScriptedController& operator=(const ScriptedController&) = delete;

    // The answer to the next frame not yet answered.
    ScriptedController& reply(Bytes bytes) {
        script_.emplace_back(std::move(bytes));
        return *this;
    }
    // The next `frames` frames go unanswered.
    ScriptedController& silent(int frames = 1) {
        for (int i = 0; i < frames; ++i) script_.emplace_back(std::nullopt);
        return *this;
    }

    bool ackByDefault = true;
    // Answers start `delayUs` after the frame, one byte every `usPerByte` (0 = all at once).
    std::int64_t delayUs = 0;
    std::int64_t usPerByte = 0;

    [[nodiscard]] const std::vector<Bytes>& frames() const { return rig_.port.written; }
    [[nodiscard]] std::size_t unused() const { return script_.size(); }

    static Bytes ack() { return {kAck, 0x00, 0x00}; }
    // 264 bytes: 2A, selector echoed in bytes 3 and 4, `data` from byte 6 (zero
    // filled to 256), the CRC of bytes 0..261 low byte first.
    static Bytes blockReply(std::uint8_t sel0, std::uint8_t sel1, std::span<const std::uint8_t> data = {}) {
        Bytes r(kBlockReplyLength, 0);
        r[0] = kBlockRead;
        r[3] = sel0;
        r[4] = sel1;
        for (std::size_t i = 0; i < data.size() && i < 256; ++i) r[6 + i] = data[i];
        const std::uint16_t crc = blockCrc(r, 262);
        r[262] = static_cast<std::uint8_t>(crc & 0xFF);
        r[263] = static_cast<std::uint8_t>(crc >> 8);
        return r;
    }
    static Bytes withBadCrc(Bytes reply) {
        reply[262] ^= 0x01;
        return reply;
    }

private:
    void answer(std::span<const std::uint8_t> frame) {
        std::optional<Bytes> out;
        if (!script_.empty()) {
            out = std::move(script_.front());
            script_.pop_front();
        } else if (ackByDefault && !frame.empty() && (frame[0] == kCommandFrame || frame[0] == kLongFrame)) {
            out = ack();
        }
        if (out && !out->empty()) rig_.port.deliver(std::move(*out), delayUs, usPerByte);
    }

    Rig& rig_;
    std::deque<std::optional<Bytes>> script_;
};

// The comms log's lines without their date and time.
inline std::vector<std::string> commsLogLines(const Rig& rig) {
    std::vector<std::string> lines;
    std::ifstream in(rig.dir.path() / "ocelot.log", std::ios::binary);
    constexpr std::size_t kStamp = 20;  // "YYYY-MM-DD HH:MM:SS "
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line.size() >= kStamp ? line.substr(kStamp) : line);
    }
    return lines;
}

}  // namespace varnel::test

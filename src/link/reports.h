#pragma once
// The controller's own reports and the one reader that cuts them out of the
// byte stream. The reader is fed one byte at a time and says what each byte
// completed; it knows nothing of ports or time, so the response loop and the
// I/O timer share it and a fuzzer can drive it directly.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace varnel {

enum class ReportKind : std::uint8_t {
    X10Received,   // FE house key
    X10Sent,       // FB house key
    IrMatch,       // FD x code
    IoChange,      // F0 module point value
    LeopardTouch,  // F2/F3 x value x x
    Ignored,       // FC x x: read and dropped
    Filler,        // FF alone
};

// Total length of the report that starts with `first`, 0 when it starts none.
constexpr int reportLength(std::uint8_t first) {
    switch (first) {
        case 0xFE:
        case 0xFB:
        case 0xFD:
        case 0xFC: return 3;
        case 0xF0: return 4;
        case 0xF2:
        case 0xF3: return 5;
        case 0xFF: return 1;
        default: return 0;
    }
}

struct ControllerReport {
    ReportKind kind = ReportKind::Filler;
    std::array<std::uint8_t, 5> bytes{};  // as received, first byte at 0
    std::uint8_t length = 0;

    [[nodiscard]] std::uint8_t house() const { return bytes[1]; }  // X10: house index, 0 = A
    [[nodiscard]] std::uint8_t key() const { return bytes[2]; }    // X10: unit or function code
    [[nodiscard]] std::uint8_t irCode() const { return bytes[2]; }
    [[nodiscard]] std::uint8_t module() const { return bytes[1]; }
    [[nodiscard]] std::uint8_t point() const { return bytes[2]; }
    [[nodiscard]] std::uint8_t value() const { return bytes[3]; }
    [[nodiscard]] std::uint8_t touch() const { return bytes[2]; }  // Leopard: the touched value
    // Bytes 0..3, the shape the X10 and I/O handlers take.
    [[nodiscard]] std::array<std::uint8_t, 4> head() const { return {bytes[0], bytes[1], bytes[2], bytes[3]}; }
};

class ReportReader {
public:
    enum class Step : std::uint8_t {
        More,       // the byte belongs to a report or reply that is not complete yet
        Report,     // a report is complete: report()
        Reply,      // the awaited reply is complete: reply()
        Dropped,    // the byte starts nothing (nor the reply) and is gone
        ReportCut,  // a begun report was abandoned
        ReplyCut,   // a begun reply was abandoned
    };
    static constexpr std::size_t kMaxReply = 501;

    // From now on a byte that starts no report and is `first` (0: any such byte)
    // begins a reply of `length` bytes (1..kMaxReply).
    void expectReply(std::size_t length, std::uint8_t first);
    // No reply is awaited: a byte that starts no report is dropped alone.
    void expectNoReply();

    Step feed(std::uint8_t byte);
    // The rest of the report or reply begun did not come: drops what was read of
    // it and says which it was (More when nothing was begun).
    Step abandon();

    // True while a report or reply has begun and is not complete.
    [[nodiscard]] bool midRead() const { return !part_.empty(); }
    [[nodiscard]] const ControllerReport& report() const { return report_; }
    [[nodiscard]] std::span<const std::uint8_t> reply() const { return reply_; }

    // Bytes dropped alone, and begun reports or replies whose rest never came.
    [[nodiscard]] std::uint64_t strayBytes() const { return stray_; }
    [[nodiscard]] std::uint64_t brokenReads() const { return broken_; }

private:
    std::size_t replyLength_ = 0;
    std::uint8_t replyFirst_ = 0;
    bool inReply_ = false;
    std::vector<std::uint8_t> part_;
    std::vector<std::uint8_t> reply_;
    ControllerReport report_;
    std::uint64_t stray_ = 0;
    std::uint64_t broken_ = 0;
};

}  // namespace varnel

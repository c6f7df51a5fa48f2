#pragma once
// The client side of telnet with the com-port option, as pure code over bytes:
// fed what the far end sent, it hands back the line's bytes, what to answer and
// what is worth a log line. It knows no socket and no time, so the network port
// and a fuzzer drive it alike.
//
// Options are negotiated the careful way (each side of each option is No, Yes,
// WantNo or WantYes, and an answer is sent only when a state changes), so two
// ends never loop on acknowledgements. varnel will do binary, suppress-go-ahead
// and the com-port option, and lets the far end do binary and suppress-go-ahead;
// everything else is refused (DONT / WONT), echo included: an echoed frame would
// read as the controller's reply.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::net::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kEcho = 1;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

// The com-port option's commands from client to server; the server answers with
// the same command plus kServerAnswer and the value it now uses.
enum class ComPort : std::uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
};
inline constexpr std::uint8_t kServerAnswer = 100;

// The line the controller needs: 9600 baud, 8 data bits, no parity (1), one stop
// bit (1), no flow control (1).
inline constexpr std::uint32_t kBaud = 9600;
inline constexpr std::uint8_t kDataBits = 8;
inline constexpr std::uint8_t kNoParity = 1;
inline constexpr std::uint8_t kOneStopBit = 1;
inline constexpr std::uint8_t kNoFlowControl = 1;

// What varnel says when a far end asks who it is.
inline constexpr std::string_view kSignature = "varnel";

class Session {
public:
    // Longer subnegotiations are dropped whole (the longest the com-port option
    // sends is a signature text).
    static constexpr std::size_t kMaxSubnegotiation = 256;

    enum class Line : std::uint8_t {
        Waiting,  // the far end has not yet confirmed all five settings
        Set,      // it runs the line at 9600 8N1 without flow control
        Refused,  // it would not: refusal() says how
    };

    struct Output {
        std::vector<std::uint8_t> data;   // the line's bytes, in order
        std::vector<std::uint8_t> reply;  // to send to the far end now
        std::vector<std::string> notes;   // odd things the far end did, one line each
    };

    // The client's opening: the options it wants. The line settings follow once
    // the far end agrees to the com-port option.
    [[nodiscard]] std::vector<std::uint8_t> start();

    // Takes the far end's bytes as they came (any split, an IAC at the end of a
    // segment included) and appends to `out`.
    void feed(std::span<const std::uint8_t> bytes, Output& out);

    // The line's bytes as they go on the wire: 0xFF doubled, and a CR followed by
    // NUL while the far end has not agreed to binary.
    void encode(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) const;

    [[nodiscard]] Line line() const { return line_; }
    [[nodiscard]] const std::string& refusal() const { return refusal_; }
    [[nodiscard]] bool binaryOut() const { return us_[kBinary] == Q::Yes; }
    [[nodiscard]] bool binaryIn() const { return him_[kBinary] == Q::Yes; }

    // Counts for tests and logs.
    [[nodiscard]] std::uint64_t optionsRefused() const { return optionsRefused_; }
    [[nodiscard]] std::uint64_t subnegotiationsDropped() const { return subnegotiationsDropped_; }

private:
    enum class Q : std::uint8_t { No, Yes, WantNo, WantYes };
    enum class State : std::uint8_t { Data, Iac, Verb, SbOption, SbData, SbIac };

    void command(std::uint8_t verb, std::uint8_t option, Output& out);
    void subnegotiation(Output& out);
    void comPortAnswer(std::uint8_t command, std::span<const std::uint8_t> value);
    void refuseLine(std::string why);
    void sendLineSettings(Output& out);
    void dataByte(std::uint8_t b, Output& out);

    std::array<Q, 256> us_{};              // options varnel does
    std::array<Q, 256> him_{};             // options the far end does
    std::array<bool, 256> refusedOnce_{};  // each refusal is noted once
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::uint8_t sbOption_ = 0;
    std::vector<std::uint8_t> sb_;
    bool sbTooLong_ = false;
    bool crSeen_ = false;  // the last line byte was a CR (a NUL after it is padding)
    bool settingsSent_ = false;
    bool signatureSent_ = false;
    std::uint8_t confirmed_ = 0;  // one bit per setting, by command number
    Line line_ = Line::Waiting;
    std::string refusal_;
    std::uint64_t optionsRefused_ = 0;
    std::uint64_t subnegotiationsDropped_ = 0;
};

}  // namespace varnel::net::telnet

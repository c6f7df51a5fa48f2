#include "platform/net/telnet.h"

#include <utility>

namespace varnel::net::telnet {

namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kNul = 0x00;

bool weDo(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead || option == kComPort; }
bool theyMayDo(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }

std::string optionName(std::uint8_t option) {
    struct Named {
        std::uint8_t option;
        const char* name;
    };
    static constexpr Named kNames[] = {
        {kEcho, "echo"},     {5, "status"},           {6, "timing mark"},     {24, "terminal type"},
        {31, "window size"}, {32, "terminal speed"},  {33, "flow control"},   {34, "line mode"},
        {36, "environment"}, {39, "new environment"}, {kComPort, "com port"},
    };
    std::string text = "telnet option " + std::to_string(option);
    for (const auto& n : kNames)
        if (n.option == option) return text + " (" + n.name + ")";
    return text;
}

void put(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
    out.insert(out.end(), {kIac, verb, option});
}

// IAC SB COM-PORT <command> <value, 0xFF doubled> IAC SE
void putComPort(std::vector<std::uint8_t>& out, ComPort command, std::span<const std::uint8_t> value) {
    out.insert(out.end(), {kIac, kSb, kComPort, static_cast<std::uint8_t>(command)});
    for (const auto b : value) {
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
    }
    out.insert(out.end(), {kIac, kSe});
}

std::string settingName(std::uint8_t command) {
    switch (static_cast<ComPort>(command)) {
        case ComPort::SetBaudRate: return "baud rate";
        case ComPort::SetDataSize: return "data bits";
        case ComPort::SetParity: return "parity";
        case ComPort::SetStopSize: return "stop bits";
        case ComPort::SetControl: return "flow control";
        default: return "setting " + std::to_string(command);
    }
}

}  // namespace

std::vector<std::uint8_t> Session::start() {
    std::vector<std::uint8_t> out;
    for (const auto option : {kBinary, kSuppressGoAhead, kComPort}) {
        us_[option] = Q::WantYes;
        put(out, kWill, option);
    }
    for (const auto option : {kBinary, kSuppressGoAhead}) {
        him_[option] = Q::WantYes;
        put(out, kDo, option);
    }
    return out;
}

void Session::encode(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) const {
    const bool binary = binaryOut();
    out.reserve(out.size() + data.size());
    for (const auto b : data) {
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
        if (b == kCr && !binary) out.push_back(kNul);
    }
}

void Session::dataByte(std::uint8_t b, Output& out) {
    const bool padding = crSeen_ && b == kNul && !binaryIn();
    crSeen_ = b == kCr;
    if (!padding) out.data.push_back(b);
}

void Session::feed(std::span<const std::uint8_t> bytes, Output& out) {
    for (const auto b : bytes) {
        switch (state_) {
            case State::Data:
                if (b == kIac)
                    state_ = State::Iac;
                else
                    dataByte(b, out);
                break;
            case State::Iac:
                state_ = State::Data;
                if (b == kIac) {
                    dataByte(b, out);
                } else if (b >= kWill && b <= kDont) {
                    verb_ = b;
                    state_ = State::Verb;
                } else if (b == kSb) {
                    state_ = State::SbOption;
                }
                // NOP, data mark, break, go-ahead and the rest ask nothing of a client
                // that only carries a line; an unknown byte after IAC is dropped with it.
                break;
            case State::Verb:
                state_ = State::Data;
                command(verb_, b, out);
                break;
            case State::SbOption:
                sbOption_ = b;
                sb_.clear();
                sbTooLong_ = false;
                state_ = State::SbData;
                break;
            case State::SbData:
                if (b == kIac) {
                    state_ = State::SbIac;
                } else if (sb_.size() < kMaxSubnegotiation) {
                    sb_.push_back(b);
                } else {
                    sbTooLong_ = true;
                }
                break;
            case State::SbIac:
                if (b == kIac) {
                    state_ = State::SbData;
                    if (sb_.size() < kMaxSubnegotiation)
                        sb_.push_back(b);
                    else
                        sbTooLong_ = true;
                    break;
                }
                // IAC SE ends it; any other command ends it too, broken, and counts itself.
                state_ = State::Data;
                if (b == kSe && !sbTooLong_) {
                    subnegotiation(out);
                } else {
                    ++subnegotiationsDropped_;
                    out.notes.push_back("dropped a telnet subnegotiation for " + optionName(sbOption_) +
                                        (sbTooLong_ ? " longer than " + std::to_string(kMaxSubnegotiation) + " bytes"
                                                    : " that did not end with IAC SE"));
                    if (b != kSe) {
                        state_ = State::Iac;
                        feed(std::span(&b, 1), out);
                    }
                }
                sb_.clear();
                break;
        }
    }
}

void Session::command(std::uint8_t verb, std::uint8_t option, Output& out) {
    // The far end's side of an option follows WILL / WONT, varnel's follows DO / DONT.
    const bool theirs = verb == kWill || verb == kWont;
    const bool on = verb == kWill || verb == kDo;
    Q& q = theirs ? him_[option] : us_[option];
    const std::uint8_t yes = theirs ? kDo : kWill;
    const std::uint8_t no = theirs ? kDont : kWont;
    const Q before = q;
    if (on) {
        switch (q) {
            case Q::No:
                if (theirs ? theyMayDo(option) : weDo(option)) {
                    q = Q::Yes;
                    put(out.reply, yes, option);
                } else {
                    put(out.reply, no, option);
                    ++optionsRefused_;
                    // Telnet servers offer echo as a matter of course.
                    if (option != kEcho && !std::exchange(refusedOnce_[option], true)) {
                        out.notes.push_back(std::string(theirs ? "the far end offered " : "the far end asked for ") +
                                            optionName(option) + "; refused");
                    }
                }
                break;
            case Q::Yes: break;
            case Q::WantNo:  // our DONT / WONT answered by a yes: the far end is wrong, the option stays off
            case Q::WantYes: q = q == Q::WantYes ? Q::Yes : Q::No; break;
        }
    } else {
        switch (q) {
            case Q::No: break;
            case Q::Yes:
                q = Q::No;
                put(out.reply, no, option);
                break;
            case Q::WantNo:
            case Q::WantYes: q = Q::No; break;
        }
    }
    if (theirs || option != kComPort || q == before) return;
    if (q == Q::Yes) sendLineSettings(out);
    if (q == Q::No) refuseLine("it does not take the com-port option");
}

void Session::sendLineSettings(Output& out) {
    if (std::exchange(settingsSent_, true)) return;
    // In the order the option recommends: a parity that needs fewer data bits
    // never meets a data size that has not changed yet.
    const std::uint8_t baud[] = {static_cast<std::uint8_t>(kBaud >> 24), static_cast<std::uint8_t>(kBaud >> 16),
                                 static_cast<std::uint8_t>(kBaud >> 8), static_cast<std::uint8_t>(kBaud)};
    putComPort(out.reply, ComPort::SetBaudRate, baud);
    putComPort(out.reply, ComPort::SetDataSize, std::span(&kDataBits, 1));
    putComPort(out.reply, ComPort::SetParity, std::span(&kNoParity, 1));
    putComPort(out.reply, ComPort::SetStopSize, std::span(&kOneStopBit, 1));
    putComPort(out.reply, ComPort::SetControl, std::span(&kNoFlowControl, 1));
}

void Session::subnegotiation(Output& out) {
    if (sbOption_ != kComPort || sb_.empty()) return;
    const std::uint8_t command = sb_[0];
    const std::span<const std::uint8_t> value(sb_.data() + 1, sb_.size() - 1);
    if (command == kServerAnswer + static_cast<std::uint8_t>(ComPort::Signature)) {
        // An empty signature asks for ours; a text is the far end's own.
        if (value.empty() && !std::exchange(signatureSent_, true)) {
            const auto* text = reinterpret_cast<const std::uint8_t*>(kSignature.data());
            putComPort(out.reply, ComPort::Signature, std::span(text, kSignature.size()));
        }
        return;
    }
    comPortAnswer(command, value);
}

void Session::comPortAnswer(std::uint8_t command, std::span<const std::uint8_t> value) {
    const int setting = command - kServerAnswer;
    if (setting < static_cast<int>(ComPort::SetBaudRate) || setting > static_cast<int>(ComPort::SetControl)) return;
    // Line and modem state notices, flow control and purge answers change nothing here.
    if (!settingsSent_ || line_ != Line::Waiting) return;
    std::uint32_t got = 0;
    for (const auto b : value) got = (got << 8) | b;
    std::uint32_t wanted = 0;
    std::size_t size = 1;
    switch (static_cast<ComPort>(setting)) {
        case ComPort::SetBaudRate:
            wanted = kBaud;
            size = 4;
            break;
        case ComPort::SetDataSize: wanted = kDataBits; break;
        case ComPort::SetParity: wanted = kNoParity; break;
        case ComPort::SetStopSize: wanted = kOneStopBit; break;
        default: wanted = kNoFlowControl; break;
    }
    const std::string name = settingName(static_cast<std::uint8_t>(setting));
    if (value.size() != size) {
        refuseLine("its answer for the " + name + " has " + std::to_string(value.size()) + " bytes");
        return;
    }
    if (got != wanted) {
        refuseLine("it set the " + name + " to " + std::to_string(got) + ", not " + std::to_string(wanted));
        return;
    }
    confirmed_ = static_cast<std::uint8_t>(confirmed_ | (1U << setting));
    constexpr std::uint8_t kAll = 0b111110;
    if (confirmed_ == kAll) line_ = Line::Set;
}

void Session::refuseLine(std::string why) {
    if (line_ != Line::Waiting) return;
    line_ = Line::Refused;
    refusal_ = std::move(why);
}

}  // namespace varnel::net::telnet

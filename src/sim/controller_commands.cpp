// What the controller does with each command and long frame (the reply itself
// is the same acknowledgement for all of them and is sent by onFrame).
#include <algorithm>
#include <chrono>

#include "sim/controller.h"

namespace varnel::sim {

namespace {
std::uint16_t word(std::uint8_t low, std::uint8_t high) { return static_cast<std::uint16_t>(high << 8 | low); }

// An X10 key code below 16 addresses a unit; 16 and up is a function.
constexpr std::uint8_t kFirstFunction = 16;
// Extended code, as a key in a transmitted report.
constexpr std::uint8_t kExtendedKey = 23;
constexpr std::size_t kScreenChars = 40;

ClockSetting decodeClock(std::span<const std::uint8_t> f) {
    ClockSetting c;
    for (std::size_t i = 0; i < c.digits.size(); ++i) c.digits[i] = f[2 + i];
    c.weekday = f[14];
    const auto& d = c.digits;
    if (std::any_of(d.begin(), d.end(), [](std::uint8_t v) { return v > 9; })) return c;
    auto two = [&d](std::size_t units) { return d[units + 1] * 10 + d[units]; };
    c.second = two(0);
    c.minute = two(2);
    c.hour = two(4);
    c.day = two(6);
    c.month = two(8);
    c.year = 2000 + two(10);
    const std::chrono::year_month_day ymd{std::chrono::year{c.year}, std::chrono::month{static_cast<unsigned>(c.month)},
                                          std::chrono::day{static_cast<unsigned>(c.day)}};
    c.valid = ymd.ok() && c.hour < 24 && c.minute < 60 && c.second < 60 && c.weekday < 7;
    return c;
}
}  // namespace

Controller::Handler Controller::handlerFor(FrameKind kind, std::uint8_t code) const {
    struct Entry {
        FrameKind kind;
        std::uint8_t code;
        Handler fn;
    };
    static constexpr Entry table[] = {
        {.kind = FrameKind::Command, .code = 0x1F, .fn = &Controller::valueRequest},
        {.kind = FrameKind::Command, .code = 0x28, .fn = &Controller::settingWrite},
        {.kind = FrameKind::Command, .code = 0x29, .fn = &Controller::variableWrite},
        {.kind = FrameKind::Command, .code = 0x33, .fn = &Controller::pointWrite},
        {.kind = FrameKind::Command, .code = 0x37, .fn = &Controller::x10Frame},
        {.kind = FrameKind::Command, .code = 0x5A, .fn = &Controller::localIrPlay},
        {.kind = FrameKind::Command, .code = 0x5B, .fn = &Controller::learnStart},
        {.kind = FrameKind::Command, .code = 0x5C, .fn = &Controller::remoteIrPlay},
        {.kind = FrameKind::Command, .code = 0x61, .fn = &Controller::x10Extended},
        {.kind = FrameKind::Long, .code = 0x3D, .fn = &Controller::clockSet},
        {.kind = FrameKind::Long, .code = 0x6D, .fn = &Controller::screenText},
    };
    for (const auto& e : table)
        if (e.kind == kind && e.code == code) return e.fn;
    return nullptr;  // unknown commands are acknowledged and otherwise ignored
}

// C8 1F selector 00 00 00 00 sum: collect one value per module into the value buffer.
void Controller::valueRequest(std::span<const std::uint8_t> f) { mem_.collectValues(f[2]); }

// C8 28 setting 00 value 00 00 sum
void Controller::settingWrite(std::span<const std::uint8_t> f) {
    settings_[f[2]] = f[4];
    keep(settingWrites_, SettingWrite{f[2], f[4]});
}

// C8 29 variable low high 00 00 sum
void Controller::variableWrite(std::span<const std::uint8_t> f) {
    if (f[2] < kVariableCount) mem_.setVariable(f[2], word(f[3], f[4]));
}

// C8 33 module point value 00 00 sum: a non-zero value sets the point's bit.
void Controller::pointWrite(std::span<const std::uint8_t> f) {
    const bool set = f[4] != 0;
    // A SECU16 numbers its outputs 0-7 in a write; they are its points 8-15.
    int point = f[3];
    if (mem_.moduleType(f[2]) == static_cast<std::uint8_t>(ModuleType::Secu16) && point < 8) point += 8;
    if (mem_.setRawPoint(f[2], point, set) && cfg_.reportOutputWrites)
        followUps_.push_back({0xF0, f[2], static_cast<std::uint8_t>(point), static_cast<std::uint8_t>(set ? 1 : 0)});
}

// C8 37 house unit-1 01 00 00 sum (address) or C8 37 house function value 00 00 sum.
void Controller::x10Frame(std::span<const std::uint8_t> f) {
    const auto kind = f[3] < kFirstFunction ? X10Transmission::Kind::Address : X10Transmission::Kind::Function;
    keep(x10_, X10Transmission{.kind = kind, .house = f[2], .key = f[3], .value = f[4]});
    if (cfg_.reportTransmittedX10) followUps_.push_back({0xFB, f[2], f[3]});
}

// C8 61 house unit-1 data1 data2 00 sum: on the line as an address and the extended code.
void Controller::x10Extended(std::span<const std::uint8_t> f) {
    keep(x10_, X10Transmission{
                   .kind = X10Transmission::Kind::Extended, .house = f[2], .key = f[3], .data1 = f[4], .data2 = f[5]});
    if (!cfg_.reportTransmittedX10) return;
    followUps_.push_back({0xFB, f[2], f[3]});
    followUps_.push_back({0xFB, f[2], kExtendedKey});
}

// C8 5A low high 00 00 00 sum
void Controller::localIrPlay(std::span<const std::uint8_t> f) {
    keep(irPlays_, IrPlay{.remote = false, .location = word(f[2], f[3])});
}

// C8 5C module output low high 00 sum
void Controller::remoteIrPlay(std::span<const std::uint8_t> f) {
    keep(irPlays_, IrPlay{.remote = true, .module = f[2], .output = f[3], .location = word(f[4], f[5])});
}

// C8 5B low high 78 00 00 sum: wait for the user to press the key to learn.
void Controller::learnStart(std::span<const std::uint8_t> f) {
    pendingLearn_ = word(f[2], f[3]);
    const std::uint64_t gen = ++learnGeneration_;
    if (cfg_.autoLearnDelayUs)
        later(*cfg_.autoLearnDelayUs, [this, gen] {
            if (gen == learnGeneration_) pressLearnKey();
        });
}

// F1 3D, twelve digits from seconds units to year tens, weekday, zeros, sum.
void Controller::clockSet(std::span<const std::uint8_t> f) { clock_ = decodeClock(f); }

// F1 6D flags length xl xh yl yh, 40 characters, 00, sum (then one zero byte).
void Controller::screenText(std::span<const std::uint8_t> f) {
    ScreenWrite w{.flags = f[2], .length = f[3], .x = word(f[4], f[5]), .y = word(f[6], f[7]), .text = {}};
    // A text longer than a byte can count arrives with length 0: take what came.
    const std::size_t n = w.length == 0 ? kScreenChars : std::min<std::size_t>(w.length, kScreenChars);
    for (std::size_t i = 0; i < n && f[8 + i] != 0; ++i) w.text.push_back(static_cast<char>(f[8 + i]));
    keep(screen_, std::move(w));
}

}  // namespace varnel::sim

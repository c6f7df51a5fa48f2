#include "commands/ir.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "commands/exchange.h"
#include "commands/ir_files.h"
#include "commands/queue.h"
#include "link/serial_link.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/text.h"

namespace varnel {

namespace {

constexpr std::uint8_t kLocalPlay = 0x5A;
constexpr std::uint8_t kLearnStart = 0x5B;
constexpr std::uint8_t kRemotePlay = 0x5C;
constexpr std::uint8_t kLearnFlags = 0x78;
constexpr int kOutputsPerModule = 16;
constexpr int kControllerZone = 17;

std::uint8_t low(std::int32_t loc) { return byteOrZero(loc % 256); }
std::uint8_t high(std::int32_t loc) { return loc <= 0 ? 0 : byteOrZero(loc >> 8); }

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

bool portOpen(const CommandLayer& ctx) { return ctx.platform.port.isOpen(); }
bool zonesEnabled(const CommandLayer& ctx) { return ctx.controller.irModuleFlag; }

// Sends one frame and waits for its 3-byte answer; neither outcome is reported.
void sendFrame(CommandLayer& ctx, const CommandFrame& frame) {
    skipStep(ctx, 1, [&] { sendAwaitAck(ctx, frame); });
    clearPending(ctx);
}

std::int32_t wholeNumber(std::string_view text) {
    const auto v = parseNumber(text);
    if (!v) throw std::invalid_argument("Type mismatch");
    return toInt32(*v);
}

// The "index,zone" value of a "group label" name, split in two; nothing when the name is
// unknown or the value is not two parts.
std::optional<std::pair<std::string, std::string>> dictionaryEntry(const CommandLayer& ctx, const std::string& name) {
    // The names come from the Windows code page's label file; callers may speak UTF-8.
    const auto it = ctx.ir.dictionary.find(upper(toCodePage(name)));
    if (it == ctx.ir.dictionary.end()) return std::nullopt;
    auto parts = split(it->second, ',');
    if (parts.size() != 2) return std::nullopt;
    return std::pair{std::move(parts[0]), std::move(parts[1])};
}

// Dictionary and caller zones send the zone number itself as the output.
void playInZone(CommandLayer& ctx, std::int32_t label, std::int16_t zone) {
    const std::int16_t addr = irModuleAddress(ctx, floorDiv(std::int64_t{zone} - 1, kOutputsPerModule));
    PlayRemoteIR(ctx, addr, zone, toInt16(label));
}

}  // namespace

CommandFrame localPlayFrame(std::int32_t loc) { return commandFrame(kLocalPlay, low(loc), high(loc), 0, 0, 0); }

CommandFrame remotePlayFrame(std::int32_t module, std::int32_t output, std::int32_t loc) {
    return commandFrame(kRemotePlay, byteOrZero(module), byteOrZero(output), low(loc), loc <= 255 ? 0 : high(loc), 0);
}

CommandFrame learnStartFrame(std::int32_t loc) {
    return commandFrame(kLearnStart, low(loc), high(loc), kLearnFlags, 0, 0);
}

ZoneTarget hostZoneTarget(std::int32_t zone) {
    if (zone < 1 || zone == kControllerZone) return {};
    if (zone < kControllerZone) return {.local = false, .moduleIndex = 0, .output = zone - 1};
    return {.local = false, .moduleIndex = (zone - 2) / kOutputsPerModule, .output = (zone - 2) % kOutputsPerModule};
}

std::int16_t irModuleAddress(const CommandLayer& ctx, std::int64_t index) {
    const auto& c = ctx.controller;
    const std::int64_t found = std::min<std::int64_t>(std::max<std::int64_t>(c.irModuleCount, 0),
                                                      static_cast<std::int64_t>(c.irModules.size()));
    // A zone above the modules found (or below the first) falls back to the first module.
    if (index < 0 || index >= found) index = 0;
    if (found == 0) throw std::out_of_range("Subscript out of range");
    return c.irModules[static_cast<std::size_t>(index)];
}

void PlayIR(CommandLayer& ctx, std::int32_t loc) {
    const std::int16_t location = irLookupEntry(ctx, loc);
    QExec(ctx, QueueRecord{.housecode = "",
                           .devicecode = "",
                           .command = kQueuePlayZone,
                           .brightness = location,
                           .data1 = ctx.ir.zone,
                           .data2 = 0});
}

void PlayRemoteIR(CommandLayer& ctx, std::int16_t addr, std::int16_t zone, std::int16_t loc) {
    const std::int16_t location = irLookupEntry(ctx, loc);
    QExec(ctx, QueueRecord{.housecode = "",
                           .devicecode = "",
                           .command = kQueuePlayRemote,
                           .brightness = addr,
                           .data1 = zone,
                           .data2 = location});
}

std::int16_t PlayIREx(CommandLayer& ctx, const std::string& loc) {
    if (loc.find(' ') != std::string::npos) {
        const auto entry = dictionaryEntry(ctx, loc);
        if (!entry || !isNumeric(entry->first) || !isNumeric(entry->second)) return 0;
        const std::int32_t label = wholeNumber(entry->first);
        if (entry->second == "0" || !zonesEnabled(ctx))
            PlayIR(ctx, label);
        else
            playInZone(ctx, label, toInt16(*parseNumber(entry->second)));
        return 1;
    }
    if (!isNumeric(loc)) return 0;
    PlayIR(ctx, wholeNumber(loc));
    return 1;
}

std::int16_t PlayZonedIR(CommandLayer& ctx, const std::string& iZone, const std::string& loc) {
    std::int32_t label = 0;
    if (loc.find(' ') != std::string::npos) {
        const auto entry = dictionaryEntry(ctx, loc);
        if (!entry || !isNumeric(entry->first) || !isNumeric(iZone)) return 0;
        label = wholeNumber(entry->first);
    } else {
        label = wholeNumber(loc);
    }
    const auto zoneNumber = parseNumber(iZone);
    if (!zoneNumber) throw std::invalid_argument("Type mismatch");
    const std::int16_t zone = toInt16(*zoneNumber);
    if (zone == 0 || !zonesEnabled(ctx))
        PlayIR(ctx, label);
    else
        playInZone(ctx, label, zone);
    return 1;
}

void localPlay(CommandLayer& ctx, std::int32_t loc) {
    BusyGuard busy(ctx.gate);
    if (portOpen(ctx)) sendFrame(ctx, localPlayFrame(loc));
}

void remotePlay(CommandLayer& ctx, std::int16_t module, std::int16_t output, std::int32_t loc) {
    BusyGuard busy(ctx.gate);
    if (portOpen(ctx)) sendFrame(ctx, remotePlayFrame(module, output, loc));
}

void playQueuedZone(CommandLayer& ctx, std::int32_t loc, std::int16_t data1) {
    const ZoneTarget target = hostZoneTarget(zonesEnabled(ctx) ? data1 : 0);
    if (target.local)
        localPlay(ctx, loc);
    else
        remotePlay(ctx, irModuleAddress(ctx, target.moduleIndex), static_cast<std::int16_t>(target.output), loc);
}

void LearnIRStart(CommandLayer& ctx, std::int32_t loc) {
    if (!portOpen(ctx)) return;
    std::int16_t location = 0;
    // Learning into location 0 instead would overwrite a stored code: send nothing.
    if (!reportStep(ctx, "LearnIRStart", 1, [&] { location = irLookupEntry(ctx, loc); })) return;
    sendFrame(ctx, learnStartFrame(location));
}

void LearnIREnd(CommandLayer& ctx) {
    if (!portOpen(ctx)) return;
    struct Learning {
        explicit Learning(CommandLayer& c) : ctx(c) { ctx.link.learning = kTrue; }
        ~Learning() { ctx.link.learning = kFalse; }
        Learning(const Learning&) = delete;
        Learning& operator=(const Learning&) = delete;
        CommandLayer& ctx;
    } learning(ctx);
    skipStep(ctx, 1, [&] { ReadResponse(ctx, kLearnWaitSeconds, kAckLength, 0); });
    clearPending(ctx);
}

std::string learnPromptText(std::int32_t loc) {
    return "Point orignal remote at input window on the Ocelot and press the key you wish to learn.\r\n"
           "Key will be learned in Ocelot location: " +
           blankNum(loc) + "\r\nPress OK to start learning.";
}

void learnIRPrompt(CommandLayer& ctx, std::int32_t loc) {
    BusyGuard busy(ctx.gate);
    LearnIRStart(ctx, loc);
    ctx.platform.prompts.message(learnPromptText(loc), PromptStyle::Information);
    LearnIREnd(ctx);
    ctx.platform.prompts.beep();
}

}  // namespace varnel

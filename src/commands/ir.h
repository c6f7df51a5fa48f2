#pragma once
// Playing learned IR codes (queued, carried out by the I/O timer) and learning new ones.
//
//   local play  (8):  C8 5A | low    | high   | 00  | 00   | 00 | sum
//   remote play (8):  C8 5C | module | output | low | high | 00 | sum
//   learn start (8):  C8 5B | low    | high   | 78  | 00   | 00 | sum
//
// low = location mod 256, high = location / 256; a byte that does not fit is sent as 0.
#include <cstdint>
#include <string>

#include "commands/command_state.h"
#include "link/frames.h"

namespace varnel {

// The learn wait is fixed, whatever the response time-out.
inline constexpr std::int16_t kLearnWaitSeconds = 15;

CommandFrame localPlayFrame(std::int32_t loc);
CommandFrame remotePlayFrame(std::int32_t module, std::int32_t output, std::int32_t loc);
CommandFrame learnStartFrame(std::int32_t loc);

// Where a host zone plays: zones 1..16 are the first SECU16IR's outputs 0..15, 17 (and
// anything below 1) the controller itself, 18..33 the second module, 34..49 the third...
struct ZoneTarget {
    bool local = true;
    int moduleIndex = 0;
    int output = 0;
};
ZoneTarget hostZoneTarget(std::int32_t zone);
// Address of the SECU16IR at `index` in scan order; an index past the modules found
// means the first one. Throws std::out_of_range when none was found.
std::int16_t irModuleAddress(const CommandLayer& ctx, std::int64_t index);

// Queues a play of label `loc` (0..1023, else std::out_of_range) in the current zone.
void PlayIR(CommandLayer& ctx, std::int32_t loc);
// `loc` is a label index, or "group label" looked up in the dictionary. 1 when queued,
// 0 for an unknown name. Errors (bad index, overflow) reach the caller.
std::int16_t PlayIREx(CommandLayer& ctx, const std::string& loc);
// As PlayIREx, with the zone given by the caller.
std::int16_t PlayZonedIR(CommandLayer& ctx, const std::string& iZone, const std::string& loc);
// Queues a play of label `loc` on output `zone` of the module at `addr`.
void PlayRemoteIR(CommandLayer& ctx, std::int16_t addr, std::int16_t zone, std::int16_t loc);
// Tells the controller to learn into the code location of label `loc`.
void LearnIRStart(CommandLayer& ctx, std::int32_t loc);
// Waits up to 15 s for the controller to report the learned code.
void LearnIREnd(CommandLayer& ctx);

// Carried out by the I/O timer for queued commands 100 and 102.
void localPlay(CommandLayer& ctx, std::int32_t loc);
void remotePlay(CommandLayer& ctx, std::int16_t module, std::int16_t output, std::int32_t loc);
void playQueuedZone(CommandLayer& ctx, std::int32_t loc, std::int16_t data1);
// Queued command 103: the user is asked to aim the remote, then the code is learned.
void learnIRPrompt(CommandLayer& ctx, std::int32_t loc);
std::string learnPromptText(std::int32_t loc);

}  // namespace varnel

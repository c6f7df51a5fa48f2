#pragma once
// The host's X10 commands by number: what SetIO and the queue carry and what
// X10Event reports. 16 to 18 name nothing; 19 and up are the queue's own
// commands (QueuedCommand, commands/queue.h). No dependencies, so the console's
// parser can take it alone.
#include <cstdint>

namespace varnel {

enum X10Command : std::int16_t {
    kX10AllUnitsOff = 0,
    kX10AllLightsOn = 1,
    kX10On = 2,
    kX10Off = 3,
    kX10Dim = 4,
    kX10Bright = 5,
    kX10AllLightsOff = 6,
    kX10ExtendedCode = 7,
    kX10Hail = 8,
    kX10HailAck = 9,
    kX10Preset = 10,      // preset dim, levels 0..15 (and the level to send)
    kX10PresetHigh = 11,  // preset dim heard at levels 16..31
    kX10ExtendedData = 12,
    kX10StatusOn = 13,
    kX10StatusOff = 14,
    kX10StatusRequest = 15,
};

}  // namespace varnel

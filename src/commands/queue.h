#pragma once
// The command queue that host calls fill and the I/O timer works off.
#include <cstdint>

#include "commands/command_state.h"

namespace varnel {

// Queued commands that are not X10 functions (those are the codes below 19).
enum QueuedCommand : std::int16_t {
    kQueueSetVariable = 19,
    kQueuePlayZone = 100,
    kQueuePointWrite = 101,
    kQueuePlayRemote = 102,
    kQueueLearn = 103,
};

// Queues `rec` unless 50 are waiting (then it is dropped without a word), and
// runs the I/O timer's tick once so the command goes out at once when it can.
void QExec(CommandLayer& ctx, const QueueRecord& rec);
// Takes the record at the read index; false when the queue is empty.
bool dequeue(CommandLayer& ctx, QueueRecord& out);
// Drops everything queued.
void clearQueue(CommandLayer& ctx);

}  // namespace varnel

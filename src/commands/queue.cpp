#include "commands/queue.h"

namespace varnel {

void QExec(CommandLayer& ctx, const QueueRecord& rec) {
    auto& q = ctx.queue;
    if (q.count < CommandQueue::kSize) {
        q.ring[static_cast<std::size_t>(q.writeIndex)] = rec;
        q.writeIndex = (q.writeIndex + 1) % CommandQueue::kSize;
        ++q.count;
    }
    ctx.queueEvents->queued();
}

bool dequeue(CommandLayer& ctx, QueueRecord& out) {
    auto& q = ctx.queue;
    if (q.count <= 0) return false;
    out = q.ring[static_cast<std::size_t>(q.readIndex)];
    q.readIndex = (q.readIndex + 1) % CommandQueue::kSize;
    --q.count;
    return true;
}

void clearQueue(CommandLayer& ctx) {
    ctx.queue.count = 0;
    ctx.queue.readIndex = 0;
    ctx.queue.writeIndex = 0;
}

}  // namespace varnel

#include "web/live_queue.h"

namespace varnel::web {

bool LiveQueue::push(LiveMessage m) {
    if (!m.key.empty()) {
        if (const auto it = byKey_.find(m.key); it != byKey_.end()) {
            messages_[it->second - popped_].text = std::move(m.text);
            return true;
        }
    }
    if (messages_.size() >= limit_) return false;
    if (!m.key.empty()) byKey_[m.key] = popped_ + messages_.size();
    messages_.push_back(std::move(m));
    return true;
}

std::optional<std::string> LiveQueue::pop() {
    if (messages_.empty()) return std::nullopt;
    LiveMessage m = std::move(messages_.front());
    messages_.pop_front();
    ++popped_;
    if (!m.key.empty()) byKey_.erase(m.key);
    return std::move(m.text);
}

}  // namespace varnel::web

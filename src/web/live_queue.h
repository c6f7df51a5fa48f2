#pragma once
// One browser's messages not yet handed to its socket. A change to a variable, point,
// X10 device or the overview replaces one for the same thing still waiting, so a slow
// client gets the latest value rather than every step; events and log lines are each
// kept. Past the bound the client is too slow and is dropped (it reconnects and gets
// a fresh snapshot), so a slow client costs a bounded amount of memory and no time.
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>

namespace varnel::web {

struct LiveMessage {
    std::string key;  // what it is the state of ("v3", "p1.5", "xA1", "o"); empty: never replaced
    std::string text;
};

class LiveQueue {
public:
    static constexpr std::size_t kDefaultLimit = 256;
    explicit LiveQueue(std::size_t limit = kDefaultLimit) : limit_(limit) {}

    // False when the queue is over its bound (the message is not kept).
    bool push(LiveMessage m);
    [[nodiscard]] std::optional<std::string> pop();
    [[nodiscard]] std::size_t size() const { return messages_.size(); }
    [[nodiscard]] bool empty() const { return messages_.empty(); }

private:
    std::size_t limit_;
    std::deque<LiveMessage> messages_;
    // Positions are counted from `popped_`, which lets pops leave the index alone.
    std::map<std::string, std::size_t> byKey_;
    std::size_t popped_ = 0;
};

}  // namespace varnel::web

#pragma once
// Keeps the controller link up without anyone's help. The link counts as lost when
// the port fails (unplugged, far end gone), is not open after a start-up, or every
// reply awaited over the last 60 s timed out. Then the port is closed and opened
// again after 1 s, 2 s, 4 s ... at most 30 s apart; once it opens, the controller
// start-up runs again and the host's devices are brought back in step, as after a
// reconnect from the window. The outage is logged once and the recovery once, with
// reminders ever further apart in between; the tries' own start-up lines stay in
// the host log. A disconnect the user or CMAX asked for is left alone.
#include <cstdint>
#include <memory>
#include <string>

#include "plugin/plugin_state.h"
#include "support/reminder.h"

namespace varnel {

class LinkWatch {
public:
    static constexpr std::int64_t kSilenceMs = 60'000;
    static constexpr int kFirstPauseMs = 1'000;
    static constexpr int kLongestPauseMs = 30'000;

    explicit LinkWatch(PluginState& ctx);
    ~LinkWatch();
    LinkWatch(const LinkWatch&) = delete;
    LinkWatch& operator=(const LinkWatch&) = delete;

    // From now on; call once the first start-up is through.
    void arm();
    [[nodiscard]] bool armed() const { return armed_; }
    void portFailed(const std::string& why);
    void replyTimedOut();
    // Something changed where the device lives (a directory watch): try soon rather
    // than at the end of a long pause.
    void deviceMayHaveAppeared();

private:
    void lose(const std::string& why);
    void tryAgain();
    void takeDown();
    void schedule(int ms);
    void remind();

    PluginState& ctx_;
    std::unique_ptr<Timer> timer_;
    bool armed_ = false;
    bool restarting_ = false;
    bool woken_ = false;  // this try came early, from a change where the device lives
    int pauseMs_ = kFirstPauseMs;
    std::string lastFailure_;  // how the last try's start-up failed, once shown
    Reminder reminder_;
};

}  // namespace varnel

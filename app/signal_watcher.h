#pragma once
// SIGINT, SIGTERM and SIGHUP as Qt events: the handler only writes the signal number
// into a pipe, the event loop reads it and calls `onSignal` on the main thread.
#include <functional>
#include <memory>

class QSocketNotifier;

namespace varnel::app {

class SignalWatcher {
public:
    // One watcher per process.
    SignalWatcher();
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    std::function<void(int signo)> onSignal;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace varnel::app

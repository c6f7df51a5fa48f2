#pragma once
// Readiness of a socket that a client library reads and writes itself (the MQTT
// client): the event loop says when it can be read or written, the client does the rest.
#include <functional>
#include <memory>

namespace varnel {

class SocketWatch {
public:
    virtual ~SocketWatch() = default;
    virtual void setReadEnabled(bool on) = 0;
    // Off by default: a writable socket would wake the loop all the time.
    virtual void setWriteEnabled(bool on) = 0;
    std::function<void()> onReadable;
    std::function<void()> onWritable;
};

class SocketWatcher {
public:
    virtual ~SocketWatcher() = default;
    // Watches `fd` for reading until the watch is destroyed; destroy it before closing `fd`.
    [[nodiscard]] virtual std::unique_ptr<SocketWatch> watch(int fd) = 0;
};

}  // namespace varnel

#pragma once
// The narrow serial interface the link needs: open at fixed settings, write a
// whole buffer, count and read waiting bytes one at a time, hear of new data.
// A serial device and a serial server on the network (tcp://, rfc2217://) both
// stand behind it; the link does not know which it has.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace varnel {

class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Opens `device` at "9600,N,8,1". Returns an error text naming the port on failure.
    [[nodiscard]] virtual std::optional<std::string> open(const std::string& device) = 0;
    virtual void close() = 0;
    // Ends an open() that is waiting for a far end (a stop): it returns at once, failed.
    virtual void cancelOpen() {}
    [[nodiscard]] virtual bool isOpen() const = 0;
    // Writes the whole buffer; false when the port is closed or the write failed.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    [[nodiscard]] virtual std::size_t bytesWaiting() const = 0;
    // One byte, or nothing when none is waiting (never blocks).
    virtual std::optional<std::uint8_t> readByte() = 0;
    // The byte readByte would return next, left waiting.
    virtual std::optional<std::uint8_t> peekByte() = 0;
    // Nothing can be done before `count` bytes wait (those waiting included): the
    // port may gather the bytes still to come, at the line's pace, and raise the
    // receive event once for them. 1, the default, is every arrival; whoever
    // raised it sets it back to 1 as soon as it no longer waits.
    virtual void setReadThreshold(std::size_t count) { (void)count; }

    // Raised for every arrival of data (the receive event).
    std::function<void()> onDataReceived;
    // Raised when the device fails while open (unplugged, closed far end); the port is closed by then.
    std::function<void(const std::string&)> onError;
    // Raised for something odd the far end did that did not end the connection.
    std::function<void(const std::string&)> onNotice;
};

}  // namespace varnel

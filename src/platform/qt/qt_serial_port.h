#pragma once
// The serial port on QSerialPort, 9600 8N1 without flow control. Works with
// real devices and pseudo-terminals alike (both are opened by name).
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <string>

#include "platform/serial_port.h"

namespace varnel {

class QtSerialPort final : public SerialPort {
public:
    QtSerialPort();
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    std::optional<std::string> open(const std::string& device) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override;
    bool write(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] std::size_t bytesWaiting() const override;
    std::optional<std::uint8_t> readByte() override;
    std::optional<std::uint8_t> peekByte() override;
    void setReadThreshold(std::size_t count) override;

    [[nodiscard]] const std::string& device() const { return device_; }

private:
    void failed(QSerialPort::SerialPortError error);
    void release();
    QSocketNotifier* readNotifier();
    QSerialPort port_;
    std::string device_;
    // While bytes gather in the driver: ends when all but the last should have come.
    QTimer gather_;
    bool gathering_ = false;
    std::size_t heldAt_ = 0;  // bytes waiting when the last hold began
};

// One-line texts that name the port and say what went wrong, for a failed open
// and for a port that failed while open. Qt reports a busy device and a missing
// permission with the same code; only its text tells them apart.
[[nodiscard]] std::string openErrorText(const std::string& device, QSerialPort::SerialPortError error,
                                        const QString& qtText);
[[nodiscard]] std::string lostPortText(const std::string& device, QSerialPort::SerialPortError error,
                                       const QString& qtText);

}  // namespace varnel

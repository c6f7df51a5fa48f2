#pragma once
// The simulated controller on a pseudo-terminal, in real time: a serial program
// (the plug-in through QSerialPort, socat, a terminal) opens path() as if it
// were the controller's port. Bytes go both ways at the line's speed.
//
//   sim::Controller controller(sim::ControllerConfig::typical());
//   sim::pty::PtySimulator pty(controller);
//   if (auto err = pty.start()) { /* report *err */ }
//   std::cout << pty.path();      // e.g. /dev/pts/7
//   app.exec();
//
// Needs a running Qt event loop (QCoreApplication) on the calling thread.
#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sim/controller.h"
#include "sim/virtual_wire.h"

namespace varnel::sim::pty {

// How the client's driver hands received bytes over: a receive FIFO's worth at a
// time (a PC's 16550), or each byte on its own (a port without a deep FIFO).
enum class Handover : std::uint8_t { Fifo, Byte };

class PtySimulator final : public QObject, public Scheduler {
public:
    explicit PtySimulator(Controller& controller, WireTiming timing = {}, QObject* parent = nullptr);
    ~PtySimulator() override;
    PtySimulator(const PtySimulator&) = delete;
    PtySimulator& operator=(const PtySimulator&) = delete;

    // Creates the pseudo-terminal and starts serving it. Returns an error text on failure.
    std::optional<std::string> start();
    // Closes the pseudo-terminal; a client that has it open sees the line vanish.
    void stop();
    [[nodiscard]] bool running() const { return master_ >= 0; }
    // The device a client opens (valid after a successful start()).
    [[nodiscard]] const std::string& path() const { return path_; }
    // True while some program has the device open.
    [[nodiscard]] bool clientConnected() const { return connected_; }

    [[nodiscard]] std::int64_t nowUs() const override;
    void after(std::int64_t delayUs, std::function<void()> fn) override;

    [[nodiscard]] Controller& controller() { return ctl_; }
    [[nodiscard]] WireTiming& timing() { return timing_; }
    void setHandover(Handover h) { handover_ = h; }
    [[nodiscard]] std::uint64_t bytesIn() const { return bytesIn_; }
    [[nodiscard]] std::uint64_t bytesOut() const { return bytesOut_; }
    // Bytes sent while nobody listened, or past the output limit: lost, as on a real line.
    [[nodiscard]] std::uint64_t bytesLost() const { return bytesLost_; }

    // Called when a client opens or closes the device.
    std::function<void(bool connected)> onClientChanged;

private:
    struct Pending {
        std::int64_t dueUs;
        std::uint8_t byte;
    };
    void readMaster();
    void watchOpens();
    void awaitClient();
    void checkPresence();
    void setConnected(bool on);
    void toHost(const Emission& e);
    void pump();
    void armPacer();

    Controller& ctl_;
    WireTiming timing_;
    Handover handover_ = Handover::Fifo;
    int master_ = -1;
    std::string path_;
    bool connected_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    int opens_ = -1;  // inotify: the device's opens
    std::unique_ptr<QSocketNotifier> opensNotifier_;
    QTimer presence_;
    QTimer pacer_;
    QElapsedTimer clock_;
    std::deque<Pending> out_;
    std::int64_t inFreeAtUs_ = 0;
    std::int64_t outFreeAtUs_ = 0;
    std::uint64_t bytesIn_ = 0;
    std::uint64_t bytesOut_ = 0;
    std::uint64_t bytesLost_ = 0;
};

}  // namespace varnel::sim::pty

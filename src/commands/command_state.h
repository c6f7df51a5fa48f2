#pragma once
// What the controller commands own: the controller's scan results, the I/O and
// variable images, the queued host commands and the IR tables.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "link/link_state.h"

namespace varnel {

struct ControllerState {
    std::array<std::int16_t, 16> presetDim{};
    std::array<std::uint8_t, 2> varSelector{};
    std::int32_t irSize = 0;
    std::array<std::uint8_t, 129> moduleTypes{};
    std::vector<std::int16_t> irModules;  // addresses of SECU16IR modules, scan order
    std::int16_t irModuleCount = 0;
    bool irModuleFlag = false;
    std::int16_t linkFailure = 0;
    bool startupIOCheck = false;
    bool x10Interface = false;
    bool ioStarted = false;
    bool irStarted = false;
    bool connected = false;
};

struct Images {
    std::array<std::uint8_t, 257> io{};
    std::array<std::int32_t, 129> vars{};
    std::int16_t timeoutCounter = 0;
    std::int16_t checksumCounter = 0;
    // Since start; the two counters above only count failures in a row.
    std::uint64_t timeoutTotal = 0;
    std::uint64_t checksumTotal = 0;
};

struct QueueRecord {
    std::string housecode;
    std::string devicecode;
    std::int16_t command = 0;
    std::int32_t brightness = 0;
    std::int16_t data1 = 0;
    std::int16_t data2 = 0;
};

struct CommandQueue {
    static constexpr int kSize = 50;
    std::array<QueueRecord, kSize> ring{};
    int writeIndex = 0;
    int readIndex = 0;
    int count = 0;
};

struct IrState {
    std::array<std::string, 32> groups;
    std::vector<std::string> labels = std::vector<std::string>(1008);
    std::vector<std::string> map = std::vector<std::string>(1008);
    std::array<std::int16_t, 1024> lookup{};
    std::map<std::string, std::string> dictionary;
    std::int16_t zone = 0;
    bool filesPending = false;  // synchronised IR files wait for the rename script
};

// The "queue has work" signal; the plug-in runs the I/O timer's pass on it.
class QueueEvents {
public:
    QueueEvents() = default;
    QueueEvents(const QueueEvents&) = delete;
    QueueEvents& operator=(const QueueEvents&) = delete;
    virtual ~QueueEvents() = default;
    virtual void queued() {}
};

struct CommandLayer : LinkLayer {
    explicit CommandLayer(Platform p) : LinkLayer(std::move(p)) {}

    ControllerState controller;
    Images images;
    CommandQueue queue;
    IrState ir;
    QueueEvents* queueEvents = &noQueueEvents;

private:
    QueueEvents noQueueEvents;
};

}  // namespace varnel

// Bringing the host devices of mirrored points in step with the I/O image.
#include <optional>
#include <string>

#include "commands/block_reads.h"
#include "devices/device_model.h"
#include "devices/events.h"
#include "devices/io_timer.h"
#include "support/errors.h"
#include "support/host_access.h"
#include "support/logging.h"

namespace varnel {

namespace {

// One group of points of a module type.
struct PointRange {
    std::int16_t type;
    int first, last;        // device numbers
    const char* logPrefix;  // before the status is set; null for none
    bool guardedRead;       // a failing status read skips the point quietly
};

constexpr PointRange kRanges[] = {
    {.type = kSecu16, .first = 1, .last = 8, .logPrefix = nullptr, .guardedRead = true},
    {.type = kSecu16, .first = 9, .last = 16, .logPrefix = "SECU16 Setting device ", .guardedRead = false},
    {.type = kSecu16I, .first = 1, .last = 16, .logPrefix = "SECU16I Setting device ", .guardedRead = false},
    {.type = kRelay08, .first = 1, .last = 8, .logPrefix = "RLY8 Setting device ", .guardedRead = false},
};

void comparePoint(DeviceLayer& ctx, const umap& map, const PointRange& range, int number) {
    const int index = number - 1;
    if (!pointSelected(ctx, map.unit(), index)) return;
    Host& hs = requireHost(ctx.host);
    Callback& callback = requireCallback(ctx.host);
    const std::string code = map.hc() + std::to_string(number);

    const PointShown shown = pointShown(map.utype(), index, map.invert(), ioPointLookup(ctx, map.unit(), index));
    const std::int16_t wanted = shown.status;

    std::int16_t status = 0;
    if (range.guardedRead) {
        if (!skipStep(ctx, 5, [&] { status = hs.DeviceStatus(code); })) {
            clearPending(ctx);
            commLog(ctx, "Error calling hs.DeviceStatus, skipping check of IO point");
            return;
        }
    } else {
        status = hs.DeviceStatus(code);
    }
    if (status == wanted || foreignDeviceAt(ctx, code)) return;
    if (range.logPrefix) commLog(ctx, range.logPrefix + code + " to " + std::to_string(wanted));
    hs.SetDeviceStatus(code, wanted);
    callback.ValueChangeEvent(code, shown.value);
}

}  // namespace

bool isOutputPoint(std::int16_t moduleType, int index) {
    return moduleType == kRelay08 || (moduleType == kSecu16 && index >= 8);
}

PointShown pointShown(std::int16_t moduleType, int index, std::int16_t invert, int value) {
    if (isOutputPoint(moduleType, index)) return {value == 1 ? kStatusOff : kStatusOn, value};
    if (invert == 1) value = 1 - value;
    return {value == 1 ? kStatusOn : kStatusOff, value};
}

void compareIOPoints(DeviceLayer& ctx) {
    // Copied: a host call could in principle lead to the mappings being rebuilt.
    const auto mappings = ctx.devices.mappings;
    for (const auto& map : mappings) {
        if (map.hc().empty()) continue;
        for (const auto& range : kRanges) {
            if (range.type != map.utype()) continue;
            for (int number = range.first; number <= range.last; ++number)
                reportStep(ctx, kTimer3Procedure, 5, [&] { comparePoint(ctx, map, range, number); });
        }
    }
}

}  // namespace varnel

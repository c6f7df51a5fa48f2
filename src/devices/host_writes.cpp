#include "devices/host_writes.h"

#include <optional>

#include "commands/queue.h"
#include "commands/x10_commands.h"
#include "devices/device_model.h"
#include "devices/mappings.h"
#include "support/errors.h"
#include "support/host_access.h"
#include "support/text.h"

namespace varnel {

void SetPoint(DeviceLayer& ctx, std::int16_t unit, std::int16_t point, std::int16_t value) {
    if (const umap* map = mappingOfUnit(ctx, unit)) {
        const std::string code = map->hc() + std::to_string(point + 1);
        skipStep(ctx, 2, [&] { requireHost(ctx.host).SetDeviceValue(code, value); });
        clearPending(ctx);
        return;
    }
    QExec(ctx, QueueRecord{.housecode = "",
                           .devicecode = "",
                           .command = kQueuePointWrite,
                           .brightness = value,
                           .data1 = unit,
                           .data2 = point});
}

void SetIO(DeviceLayer& ctx, const std::shared_ptr<Device>& dv, const std::string& housecode,
           const std::string& devicecode, std::int16_t& command, std::int16_t& brightness, std::int16_t data1,
           std::int16_t data2) {
    if (!ctx.host.setupHost && !ctx.host.hostMode) return;
    const int houseChar = housecode.empty() ? 0 : static_cast<unsigned char>(housecode[0]);
    const std::string code = housecode + devicecode;
    const int varsCode = ctx.devices.varsHouseCode;
    const auto number = parseNumber(devicecode);

    if (varsCode != 0 && (houseChar == varsCode || houseChar == varsCode + 1)) {
        if (command == kX10On) {
            command = kQueueSetVariable;
            brightness = 1;
        } else if (command == kX10Off) {
            command = kQueueSetVariable;
            brightness = 0;
        }
        if (command != kQueueSetVariable || !number) return;
        const double vnum = *number - 1 + (houseChar == varsCode + 1 ? 64 : 0);
        QExec(ctx, QueueRecord{.housecode = std::to_string(houseChar),
                               .devicecode = numText(vnum),
                               .command = kQueueSetVariable,
                               .brightness = brightness,
                               .data1 = data1,
                               .data2 = data2});
        return;
    }

    bool output = false;
    skipStep(ctx, 4, [&] { output = command != kQueueSetVariable && dv && dv->iotype() == kIoOutput; });
    if (output) {
        // Outputs of other interfaces are theirs to drive.
        skipStep(ctx, 4, [&] {
            if (!equalsNoCase(dv->interface_(), ctx.devices.interfaceName)) return;
            requireHost(ctx.host).SetDeviceValue(code, command == kX10On ? 1 : 0);
        });
        clearPending(ctx);
        return;
    }

    if (!ctx.devices.mappingIndex.contains(housecode)) return;
    std::shared_ptr<Device> dev;
    skipStep(ctx, 5, [&] {
        const std::int32_t ref = hsDeviceExists(ctx, code);
        if (ref > -1) dev = GetHSDevice(ctx, ref);
    });
    std::string iomisc;
    if (!dev || !skipStep(ctx, 5, [&] {
            if (dev->iotype() != kIoOutput) throw std::invalid_argument("not an output");
            iomisc = dev->iomisc();
        })) {
        clearPending(ctx);
        return;
    }
    std::optional<std::int16_t> module, point;
    skipStep(ctx, 6, [&] { module = toInt16(numericValue(field(iomisc, '!', 1))); });
    skipStep(ctx, 6, [&] { point = toInt16(numericValue(field(iomisc, '!', 3))); });
    skipStep(ctx, 7, [&] { requireHost(ctx.host).SetDeviceStatus(code, brightness != 0 ? kStatusOn : kStatusOff); });
    clearPending(ctx);
    if (!number || !module || !point) return;
    QExec(ctx, QueueRecord{.housecode = std::to_string(varsCode),
                           .devicecode = numText(*number - 1),
                           .command = kQueuePointWrite,
                           .brightness = brightness,
                           .data1 = *module,
                           .data2 = *point});
}

}  // namespace varnel

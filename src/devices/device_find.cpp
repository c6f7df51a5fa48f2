// Finding the plug-in's own devices again at start-up.
#include "devices/device_model.h"
#include "devices/mappings.h"
#include "support/errors.h"
#include "support/logging.h"
#include "support/settings.h"
#include "support/text.h"

namespace varnel {

namespace {
constexpr const char* kLeopardMisc = "leopard";
}  // namespace

std::string FindInterface(DeviceLayer& ctx) {
    std::string name = "Applied Digital Ocelot";
    reportStep(ctx, "FindInterface", 1, [&] {
        if (readNumber(ctx, setting::kInterfaceName) == 1) name = "Varnel";
    });
    ctx.devices.interfaceName = name;
    return name;
}

std::string FindVarsHouseCode(DeviceLayer& ctx) {
    std::string result;
    reportStep(ctx, "FindVarsHouseCode", 1, [&] {
        forEachHostDevice(ctx, [&](Device& dev) {
            if (!isOwnDevice(ctx, dev) || dev.iotype() != kIoVariable) return true;
            // The Leopard screen is a variable-type device too, but not a variable.
            if (dev.iomisc() == kLeopardMisc) return true;
            const std::string hc = dev.hc();
            if (result.empty()) {
                result = hc;
                return true;
            }
            if (hc == result) return true;
            if (!hc.empty() && static_cast<unsigned char>(hc[0]) < static_cast<unsigned char>(result[0])) result = hc;
            return false;
        });
    });
    return result;
}

std::string FindUnitMappings(DeviceLayer& ctx) {
    std::string text;
    reportStep(ctx, "FindUnitMappings", 1, [&] {
        std::string defaultInvert;
        bool invertRead = false;
        forEachHostDevice(ctx, [&](Device& dev) {
            if (!isOwnDevice(ctx, dev)) return true;
            const auto iotype = dev.iotype();
            if (iotype != kIoInput && iotype != kIoOutput) return true;
            const std::string iomisc = dev.iomisc();
            if (iomisc.empty()) return true;
            if (!invertRead) {
                defaultInvert = numText(readNumber(ctx, setting::kInvert));
                invertRead = true;
            }
            addDeviceMapping(text, iomisc, dev.hc(), defaultInvert);
            return true;
        });
    });
    return text;
}

void ReadDeviceSettings(DeviceLayer& ctx) {
    auto& sw = ctx.switches;
    skipStep(ctx, 1, [&] { sw.leopardVar = readText(ctx, setting::kLeopardVar); });
    skipStep(ctx, 2, [&] { sw.invert = readInt16(ctx, setting::kInvert); });
    skipStep(ctx, 3, [&] { sw.logErrors = readInt16(ctx, setting::kLogErrors); });
    skipStep(ctx, 4, [&] { sw.logComms = readInt16(ctx, setting::kLogComms); });
    skipStep(ctx, 5, [&] { sw.x10Xmit = readInt16(ctx, setting::kX10Xmit); });
    skipStep(ctx, 6, [&] { sw.updateStrings = readText(ctx, setting::kUpdateStrings); });

    ctx.devices.mappings.clear();
    ctx.devices.mappingIndex.clear();
    const std::string text = FindUnitMappings(ctx);
    if (sw.logComms != 0) skipStep(ctx, 7, [&] { WriteCommLog(ctx, "Unit Mappings: " + text); });
    writeSetting(ctx, setting::kMappings, text);
    buildMappings(ctx, text);
    clearPending(ctx);
}

void DiscoverDevices(DeviceLayer& ctx) {
    auto& dm = ctx.devices;
    if (dm.discovered) return;
    // Only the plug-in's own devices are selected: the timers write to what is selected.
    reportStep(ctx, "DiscoverDevices", 3, [&] {
        // Without variable devices the flag stays clear so that discovery runs
        // again once they exist; the point devices are found either way.
        if (dm.varsHouseCode != 0) {
            dm.discovered = true;
            for (int n = 0; n < 128; ++n)
                dm.varSelected[static_cast<std::size_t>(n)] =
                    toBool16(deviceAtCode(ctx, variableCode(ctx, n), DeviceKind::Variable).ours);
        }
        for (const auto& m : dm.mappings) {
            const int unit = m.unit();
            for (int p = 0; p < 16; ++p) {
                bool on = false;
                if (!m.hc().empty()) {
                    on = deviceAtCode(ctx, m.hc() + std::to_string(p + 1), DeviceKind::Point).ours;
                    if (moduleTypeOf(ctx, unit) == kRelay08 && p >= 8) on = false;
                }
                setPointSelected(ctx, unit, p, on);
            }
        }
    });
}

}  // namespace varnel

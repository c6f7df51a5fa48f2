// Host-call wrappers and the walk over the host's devices.
#include <algorithm>

#include "devices/device_model.h"
#include "support/errors.h"
#include "support/host_access.h"
#include "support/text.h"

namespace varnel {

namespace {
// A host whose enumerator never finishes must not hang the plug-in; no host
// holds more devices than its 16-bit indexes can count.
constexpr int kMaxEnumeratorSteps = 65536;
}  // namespace

std::shared_ptr<Device> GetHSDevice(DeviceLayer& ctx, std::int32_t ref) {
    Host& hs = requireHost(ctx.host);
    return ctx.host.newGeneration ? hs.GetDeviceByRef(ref) : hs.GetDevice(toInt16(ref));
}

std::int32_t NewHSDevice(DeviceLayer& ctx, const std::string& name) {
    Host& hs = requireHost(ctx.host);
    return ctx.host.newGeneration ? hs.NewDeviceRef(name) : hs.NewDevice(name);
}

std::int32_t hsDeviceExists(DeviceLayer& ctx, const std::string& code) {
    std::int32_t ref = -1;
    reportStep(ctx, "hsDeviceExists " + code, 1, [&] {
        Host& hs = requireHost(ctx.host);
        ref = ctx.host.newGeneration ? hs.DeviceExistsRef(code) : hs.DeviceExists(code);
    });
    return ref;
}

void DeleteHSDevice(DeviceLayer& ctx, const std::string& code) {
    const std::int32_t ref = hsDeviceExists(ctx, code);
    if (ref <= -1) return;
    const auto dev = GetHSDevice(ctx, ref);
    if (!dev) return;
    requireHost(ctx.host).DeleteDevice(dev->ref());
}

bool isOwnDevice(const DeviceLayer& ctx, const Device& dev) {
    return lower(dev.interface_()) == lower(ctx.devices.interfaceName);
}

CodeHolder deviceAtCode(DeviceLayer& ctx, const std::string& code, DeviceKind kind) {
    CodeHolder h;
    const std::int32_t ref = hsDeviceExists(ctx, code);
    if (ref <= -1) return h;
    h.ref = ref;
    h.device = GetHSDevice(ctx, ref);
    requireObject(h.device);
    if (!isOwnDevice(ctx, *h.device)) return h;
    const auto iotype = h.device->iotype();
    h.ours = kind == DeviceKind::Variable ? iotype == kIoVariable && h.device->iomisc() != "leopard"
                                          : iotype == kIoInput || iotype == kIoOutput;
    return h;
}

void deleteOwnDevice(DeviceLayer& ctx, const std::string& code, DeviceKind kind) {
    const CodeHolder h = deviceAtCode(ctx, code, kind);
    if (h.ours) requireHost(ctx.host).DeleteDevice(h.device->ref());
}

bool foreignDeviceAt(DeviceLayer& ctx, const std::string& code) {
    const std::int32_t ref = hsDeviceExists(ctx, code);
    if (ref <= -1) return false;
    const auto dev = GetHSDevice(ctx, ref);
    return dev && !isOwnDevice(ctx, *dev);
}

void forEachHostDevice(DeviceLayer& ctx, const std::function<bool(Device&)>& fn) {
    Host& hs = requireHost(ctx.host);
    if (!ctx.host.newGeneration) {
        const std::int32_t count = std::min<std::int32_t>(hs.DeviceCount(), 32767);
        for (std::int32_t i = 1; i <= count; ++i) {
            const auto dev = hs.GetDevice(static_cast<std::int16_t>(i));
            if (dev && !fn(*dev)) return;
        }
        return;
    }
    const auto en = hs.GetDeviceEnumerator();
    if (!en) return;
    // A list that changed while it was walked is walked once more.
    bool changed = false;
    for (int pass = 0; pass < 2; ++pass) {
        for (int steps = 0; !en->Finished() && steps < kMaxEnumeratorSteps; ++steps) {
            const auto dev = en->GetNext();
            if (en->CountChanged()) changed = true;
            if (dev && !fn(*dev)) return;
        }
        if (!changed) return;
        changed = false;
    }
}

std::string variableCode(const DeviceLayer& ctx, int n) {
    const int base = ctx.devices.varsHouseCode;
    const int code = n < 64 ? base : base + 1;
    const int number = n < 64 ? n + 1 : n - 63;
    return std::string(1, static_cast<char>(code)) + std::to_string(number);
}

int moduleTypeOf(const DeviceLayer& ctx, int unit) {
    if (unit < 1 || unit > 128) return 0;
    return ctx.controller.moduleTypes[static_cast<std::size_t>(unit - 1)];
}

bool pointSelected(const DeviceLayer& ctx, int unit, int point) {
    const auto& t = ctx.devices.pointSelected;
    if (unit < 0 || unit >= static_cast<int>(t.size()) || point < 0 || point > 15) return false;
    return t[static_cast<std::size_t>(unit)][static_cast<std::size_t>(point)] != kFalse;
}

void setPointSelected(DeviceLayer& ctx, int unit, int point, bool on) {
    auto& t = ctx.devices.pointSelected;
    if (unit < 0 || unit >= static_cast<int>(t.size()) || point < 0 || point > 15) return;
    t[static_cast<std::size_t>(unit)][static_cast<std::size_t>(point)] = toBool16(on);
}

}  // namespace varnel

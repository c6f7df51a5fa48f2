#pragma once
// The host devices that mirror the controller's variables and module points:
// host-call wrappers for both host generations, finding the plug-in's own
// devices again, the unit mappings, and creating or deleting devices.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/device_state.h"

namespace varnel {

// Module type codes of the bus modules that get devices.
enum ModuleType : std::int16_t {
    kSecu16IR = 6,
    kSecu16 = 11,
    kSecu16I = 12,
    kRelay08 = 13,
};

// A host device's iotype: what the plug-in made it for.
enum IoType : std::int16_t {
    kIoInput = 0,
    kIoOutput = 1,
    kIoVariable = 3,  // the variables and the Leopard screen
};

inline constexpr const char* kNoFreeCodes = "HSPI_Tarnwick ERROR. All device codes used";

// --- host calls; the host generation flag picks the by-reference or by-index call.
std::shared_ptr<Device> GetHSDevice(DeviceLayer& ctx, std::int32_t ref);
std::int32_t NewHSDevice(DeviceLayer& ctx, const std::string& name);
// Reference (or index) of the device with `code`, -1 when there is none or the host call failed.
std::int32_t hsDeviceExists(DeviceLayer& ctx, const std::string& code);
void DeleteHSDevice(DeviceLayer& ctx, const std::string& code);

// Calls `fn` for every host device until it returns false. Throws what the host throws.
void forEachHostDevice(DeviceLayer& ctx, const std::function<bool(Device&)>& fn);
// True when the device carries the plug-in's interface name.
bool isOwnDevice(const DeviceLayer& ctx, const Device& dev);

// The kinds of device the creators make and may find again at a code.
enum class DeviceKind { Variable, Point };
// The device that holds `code` (null when none) and whether it is the plug-in's own of `kind`.
// Throws what the host throws.
struct CodeHolder {
    std::shared_ptr<Device> device;
    std::int32_t ref = -1;
    bool ours = false;
};
CodeHolder deviceAtCode(DeviceLayer& ctx, const std::string& code, DeviceKind kind);
// Deletes the device at `code` only when it is the plug-in's own of `kind`.
void deleteOwnDevice(DeviceLayer& ctx, const std::string& code, DeviceKind kind);
// True when another interface's device holds `code`. Such a device can sit inside one of
// the plug-in's house codes; what the controller reports must never drive it.
// Throws what the host throws.
bool foreignDeviceAt(DeviceLayer& ctx, const std::string& code);

// --- finders (start-up and the window)
std::string FindInterface(DeviceLayer& ctx);
std::string FindVarsHouseCode(DeviceLayer& ctx);
std::string FindUnitMappings(DeviceLayer& ctx);
void ReadDeviceSettings(DeviceLayer& ctx);
void DiscoverDevices(DeviceLayer& ctx);

// --- creators; each returns the reference of the device.
std::int32_t CreateDevice(DeviceLayer& ctx, const std::string& code, std::int16_t varnum);
std::int32_t CreateInput16(DeviceLayer& ctx, const std::string& code, std::int16_t unit, std::int16_t invert);
std::int32_t CreateOutput16(DeviceLayer& ctx, const std::string& code, std::int16_t unit, std::int16_t invert);
std::int32_t CreateInput16i(DeviceLayer& ctx, const std::string& code, std::int16_t unit, std::int16_t invert);
std::int32_t CreateOutputRly(DeviceLayer& ctx, const std::string& code, std::int16_t unit, std::int16_t invert);

// `ticked` is the user's choice of variables 0..127 (the variables matrix).
void CreateVariableDevices(DeviceLayer& ctx, const std::array<bool, 128>& ticked);
// `ticked` is the unit's row of points 0..15; a RELAY-08 row loses points 8..15.
// `invert` is the row's invert box.
void CreateModuleDevices(DeviceLayer& ctx, std::int16_t unit, std::array<bool, 16>& ticked, bool invert);
void CreateLeopardDevice(DeviceLayer& ctx);

// --- device codes and tables
// Device code of variable n (0..127) under the variables house code.
std::string variableCode(const DeviceLayer& ctx, int n);
// Module type of `unit` (1..128) from the module scan; 0 outside that range.
int moduleTypeOf(const DeviceLayer& ctx, int unit);
bool pointSelected(const DeviceLayer& ctx, int unit, int point);
void setPointSelected(DeviceLayer& ctx, int unit, int point, bool on);

}  // namespace varnel

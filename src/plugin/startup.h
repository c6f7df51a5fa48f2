#pragma once
// Finding the controller, reading its parameters, scanning its modules,
// resetting its settings, the interface starts and the controller clock.
#include <cstdint>
#include <string>

#include "devices/device_state.h"

namespace varnel {

inline constexpr const char* kTimeoutResult = "Timeout from CPU-XA/Ocelot";

std::string InitController(DeviceLayer& ctx);
std::string FindController(DeviceLayer& ctx);
void SetParameter16(DeviceLayer& ctx, Bool16 on);
void SetAutoX10(DeviceLayer& ctx, Bool16 on);
void SetParameter17(DeviceLayer& ctx, Bool16 on);
void ResetParameter7(DeviceLayer& ctx);
std::string cpuxaInitX10(DeviceLayer& ctx, std::int32_t port);
std::string InitIOStart(DeviceLayer& ctx, std::int32_t port);
std::string Recognition(DeviceLayer& ctx, std::int32_t port);
void InitDevices(DeviceLayer& ctx);
void StartCommunications(DeviceLayer& ctx);
void SetClock(DeviceLayer& ctx);
void SyncClock(DeviceLayer& ctx);
void ClockSync_Timer(DeviceLayer& ctx);

}  // namespace varnel

#pragma once
// Finding the controller, reading its parameters, scanning its modules,
// resetting its settings, the interface starts and the controller clock.
#include <cstdint>
#include <string>

#include "support/context.h"

namespace varnel {

inline constexpr const char* kTimeoutResult = "Timeout from CPU-XA/Ocelot";

std::string InitController(Context& ctx);
std::string FindController(Context& ctx);
void SetParameter16(Context& ctx, Bool16 on);
void SetAutoX10(Context& ctx, Bool16 on);
void SetParameter17(Context& ctx, Bool16 on);
void ResetParameter7(Context& ctx);
std::string cpuxaInitX10(Context& ctx, std::int32_t port);
std::string InitIOStart(Context& ctx, std::int32_t port);
std::string Recognition(Context& ctx, std::int32_t port);
void InitDevices(Context& ctx);
void StartCommunications(Context& ctx);
void SetClock(Context& ctx);
void SyncClock(Context& ctx);
void ClockSync_Timer(Context& ctx);

}  // namespace varnel

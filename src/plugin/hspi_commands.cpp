// Controller commands the host calls directly.
#include "commands/analog.h"
#include "commands/block_reads.h"
#include "commands/ir.h"
#include "commands/screen.h"
#include "commands/writes.h"
#include "devices/host_writes.h"
#include "plugin/hspi.h"
#include "plugin/startup.h"

namespace varnel {

void HSPI::SetPoint(std::int16_t unit, std::int16_t point, std::int16_t value) {
    varnel::SetPoint(ctx_, unit, point, value);
}

void HSPI::SetIO(const std::shared_ptr<Device>& dv, const std::string& housecode, const std::string& devicecode,
                 std::int16_t& command, std::int16_t& brightness, std::int16_t data1, std::int16_t data2) {
    varnel::SetIO(ctx_, dv, housecode, devicecode, command, brightness, data1, data2);
}

std::optional<std::int16_t> HSPI::GetUnit(std::int16_t unitnum) { return varnel::GetUnit(ctx_, unitnum); }
Bool16 HSPI::PollIO() { return toBool16(varnel::PollIO(ctx_)); }
std::int32_t HSPI::GetVar(std::int16_t varnum) { return varnel::GetVar(ctx_, varnum); }
Bool16 HSPI::PollVars() { return toBool16(varnel::PollVars(ctx_)); }

std::int16_t HSPI::StartGetAnalog(std::int16_t unit, std::int16_t point) {
    return varnel::StartGetAnalog(ctx_, unit, point);
}
std::int16_t HSPI::GetAnalogInputValue(std::int16_t unit, std::int16_t point) {
    return varnel::GetAnalogInputValue(ctx_, unit, point);
}
Bool16 HSPI::IsBusy() const { return varnel::IsBusy(ctx_); }
std::int16_t HSPI::GetAnalogInput(std::int16_t unit, std::int16_t point) {
    return varnel::GetAnalogInput(ctx_, unit, point);
}
std::int16_t HSPI::GetPoint(std::int16_t unit, std::int16_t point, bool digital) {
    return varnel::GetPoint(ctx_, unit, point, digital);
}
std::int32_t HSPI::GetParameter(std::int16_t unit, std::int16_t pnum) { return varnel::GetParameter(ctx_, unit, pnum); }
std::string HSPI::InitCPUXA() { return InitController(ctx_); }

Variant HSPI::EnableTouch(std::int16_t mode) {
    varnel::EnableTouch(ctx_, mode);
    return {};
}

Variant HSPI::PlayIR(std::int32_t loc) {
    varnel::PlayIR(ctx_, loc);
    return {};
}
std::int16_t HSPI::PlayIREx(const std::string& loc) { return varnel::PlayIREx(ctx_, loc); }
std::int16_t HSPI::PlayZonedIR(const std::string& iZone, const std::string& loc) {
    return varnel::PlayZonedIR(ctx_, iZone, loc);
}
Variant HSPI::PlayRemoteIR(std::int16_t addr, std::int16_t zone, std::int16_t loc) {
    varnel::PlayRemoteIR(ctx_, addr, zone, loc);
    return {};
}
Variant HSPI::LearnIRStart(std::int32_t loc) {
    varnel::LearnIRStart(ctx_, loc);
    return {};
}
void HSPI::LearnIREnd() { varnel::LearnIREnd(ctx_); }

std::int16_t HSPI::SetVar(std::int32_t vnum, std::int32_t data) { return varnel::SetVar(ctx_, vnum, data); }

std::int16_t HSPI::WriteScreen(std::int16_t x, std::int16_t y, const std::string& txt, bool backlight,
                               std::int16_t font, bool clear, bool beep) {
    return varnel::WriteScreen(ctx_, x, y, txt, backlight, font, clear, beep);
}
std::int16_t HSPI::xasend(std::span<const std::uint8_t> buf) { return varnel::xasend(ctx_, buf); }
void HSPI::SetTimeOut(std::int16_t timeout) { varnel::SetTimeOut(ctx_, timeout); }

}  // namespace varnel

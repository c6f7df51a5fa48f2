#include "console/event_lines.h"

#include "commands/x10_commands.h"
#include "console/console_parts.h"
#include "console/x10_functions.h"
#include "host/embedded_host.h"

namespace varnel::console {

namespace {

using detail::printable;

std::string statusWord(std::int32_t status) {
    if (status == kStatusOn) return "on";
    if (status == kStatusOff) return "off";
    if (status == kStatusNew) return "to status 17 (new)";
    return "to status " + std::to_string(status);
}

std::string x10Function(const host::HostEvent& e) {
    // Both preset-dim halves arrive with their level as text.
    if (e.value == kX10Preset || e.value == kX10PresetHigh) return "preset " + printable(e.level, 8);
    const X10Function* f = x10FunctionOf(e.value);
    std::string out = f ? f->name : "command " + std::to_string(e.value);
    if (!e.level.empty()) out += " level " + printable(e.level, 8);
    return out;
}

std::string named(const std::string& code, const EmbeddedHost* host) {
    std::string shown = printable(code, 16);
    if (!host) return shown;
    for (const auto& d : host->devices())
        if (d.code() == code) return shown + " (" + printable(d.name, 40) + ", " + printable(d.location, 40) + ")";
    return shown + " (no such device)";
}

}  // namespace

std::string describeEvent(const host::HostEvent& e, const EmbeddedHost* host) {
    using Kind = host::HostEvent::Kind;
    switch (e.kind) {
        case Kind::X10: {
            const std::string where =
                e.addresses.empty() ? "house " + printable(e.code, 4) : printable(e.addresses, 80);
            std::string out = "X10 received: " + where + " " + x10Function(e);
            if (!e.extra.empty()) out += " (" + printable(e.extra, 40) + ")";
            return out;
        }
        case Kind::IR: return "IR received: code " + std::to_string(e.value);
        case Kind::ValueChange: return named(e.code, host) + " value changed to " + std::to_string(e.value);
        case Kind::StatusSet:
            return (e.known ? named(e.code, host) : printable(e.code, 16) + " (no such device)") + " set " +
                   statusWord(e.value);
        case Kind::ValueSet:
            return (e.known ? named(e.code, host) : printable(e.code, 16) + " (no such device)") + " value set to " +
                   std::to_string(e.value);
    }
    return "host event of an unknown kind";
}

std::string describeDevice(const host::DeviceRecord& d) {
    const std::string status = d.Status == kStatusOn    ? "on"
                               : d.Status == kStatusOff ? "off"
                               : d.Status == kStatusNew ? "new"
                                                        : "status " + std::to_string(d.Status);
    return printable(d.code(), 16) + " (" + printable(d.name, 40) + ", " + printable(d.location, 40) + "): " + status +
           ", value " + std::to_string(d.value);
}

}  // namespace varnel::console

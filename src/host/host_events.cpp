#include "host/host_events.h"

namespace varnel::host {

std::string describe(const HostEvent& e) {
    const std::string v = std::to_string(e.value);
    switch (e.kind) {
        case HostEvent::Kind::X10:
            return "X10 " + e.addresses + " house " + e.code + " command " + v + " level " + e.level +
                   (e.extra.empty() ? "" : " extra " + e.extra);
        case HostEvent::Kind::IR: return "IR " + v;
        case HostEvent::Kind::ValueChange: return "ValueChange " + e.code + " = " + v;
        case HostEvent::Kind::StatusSet: return "Status " + e.code + " = " + v + (e.known ? "" : " (no such device)");
        case HostEvent::Kind::ValueSet: return "Value " + e.code + " = " + v + (e.known ? "" : " (no such device)");
    }
    return "?";
}

std::string describe(const HostRun& r) {
    std::string s = r.kind == HostRun::Kind::RunEx ? "RunEx " + r.file + " " + r.procedure + " \"" + r.parameter + "\""
                                                   : "Launch " + r.file + " " + r.parameter;
    s += r.started ? " -> " + std::to_string(r.result) : " (not run)";
    return s;
}

}  // namespace varnel::host

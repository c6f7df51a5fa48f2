// The controller's own reports: the I/O timer's reader and the one dispatcher
// both readers hand their reports to.
#include <string>

#include "devices/device_model.h"
#include "devices/events.h"
#include "devices/io_timer.h"
#include "link/serial_link.h"
#include "support/errors.h"
#include "support/host_access.h"
#include "support/logging.h"

namespace varnel {

namespace {

constexpr const char* kResponseLoopProcedure = "ReadResponse";

std::string num(int v) { return std::to_string(v); }

// The comms-log line of a report, as the reader that heard it writes it.
struct Said {
    const char* responseLoop;
    const char* timer;  // null: the timer writes none
};
constexpr Said kX10Received{"**** Ocelot says X10 rec (1) ", "*** Ocelot says x10 rec "};
constexpr Said kX10Sent{"**** Ocelot says X10 xmit (1) ", "*** Ocelot says x10 xmit "};
constexpr Said kIrMatch{"**** Ocelot says IR Match (1) ", "*** Ocelot says IR Match "};
constexpr Said kIoChange{"**** Ocelot says I0 Change (1) ", nullptr};
constexpr Said kLeopard{"**** Ocelot says Leopard Touch (1) ", "*** Ocelot says Leopard Touch "};

void say(DeviceLayer& ctx, ReportPath path, const Said& said, const std::string& rest) {
    const char* text = path == ReportPath::Timer ? said.timer : said.responseLoop;
    if (text) commLog(ctx, text + rest);
}

void handle(DeviceLayer& ctx, const ControllerReport& r, ReportPath path) {
    switch (r.kind) {
        case ReportKind::X10Sent:
        case ReportKind::X10Received: {
            const bool received = r.kind == ReportKind::X10Received;
            if (!received && ctx.switches.x10Xmit != 1) return;
            say(ctx, path, received ? kX10Received : kX10Sent, num(r.house()) + "," + num(r.key()));
            x10Handler(ctx, r.head());
            return;
        }
        case ReportKind::IrMatch:
            if (!ctx.link.recognition) return;
            say(ctx, path, kIrMatch, num(r.irCode()));
            requireCallback(ctx.host).IREvent(r.irCode());
            return;
        case ReportKind::IoChange:
            say(ctx, path, kIoChange, num(r.bytes[0]) + "," + num(r.module()) + "," + num(r.point()));
            HandleIOPointChange(ctx, r.head());
            return;
        case ReportKind::LeopardTouch:
            if (ctx.switches.leopardVar == "-1") return;
            say(ctx, path, kLeopard, num(r.touch()));
            if (foreignDeviceAt(ctx, ctx.switches.leopardVar + "1")) return;
            requireHost(ctx.host).SetDeviceValue(ctx.switches.leopardVar + "1", r.touch());
            return;
        case ReportKind::Ignored:
        case ReportKind::Filler: return;
    }
}

}  // namespace

void dispatchReport(DeviceLayer& ctx, const ControllerReport& report, ReportPath path) {
    const char* procedure = path == ReportPath::Timer ? kTimer3Procedure : kResponseLoopProcedure;
    if (report.kind != ReportKind::Filler && report.kind != ReportKind::Ignored) ++ctx.link.reportsHandled;
    reportStep(ctx, procedure, 4, [&] { handle(ctx, report, path); });
}

void readReports(DeviceLayer& ctx) {
    ReportReader reader;
    auto& port = ctx.platform.port;
    for (int n = 0; n < kMaxReportsPerTick && port.bytesWaiting() >= 3; ++n) {
        if (pullReport(ctx, reader) == ReportReader::Step::Report)
            dispatchReport(ctx, reader.report(), ReportPath::Timer);
    }
}

}  // namespace varnel

#include "link/serial_link.h"

#include <algorithm>
#include <optional>
#include <string>

#include "link/reports.h"
#include "support/errors.h"
#include "support/logging.h"
#include "support/text.h"
#include "support/waits.h"

namespace varnel {

namespace {
constexpr int kOpenAttempts = 3;
constexpr int kWaitSliceMs = 200;

// A reply that did not come: the first since the last good one starts the silence.
void replyMissed(LinkLayer& ctx) {
    if (ctx.ending) return;
    if (ctx.link.silentSinceMs < 0) ctx.link.silentSinceMs = ctx.platform.loop.tickMs();
    ctx.linkEvents->replyTimedOut();
}
}  // namespace

void startupStep(LinkLayer& ctx, const std::string& text) {
    if (ctx.ending || text == ctx.link.lastStep) return;
    ctx.link.lastStep = text;
    ctx.linkEvents->startupStep(text);
}

std::optional<std::uint8_t> nextReportByte(LinkLayer& ctx) {
    auto& port = ctx.platform.port;
    if (port.bytesWaiting() == 0) {
        ExchangeScope scope(ctx.gate);
        ctx.platform.loop.waitUntil(kReportByteWaitMs,
                                    [&] { return port.bytesWaiting() > 0 || !port.isOpen() || ctx.ending; });
    }
    return port.readByte();
}

std::optional<ReportReader::Step> pullReport(LinkLayer& ctx, ReportReader& reader) {
    const std::uint64_t droppedBefore = reader.strayBytes() + reader.brokenReads();
    std::optional<ReportReader::Step> step;
    while (!step) {
        const auto byte = reader.midRead() ? nextReportByte(ctx) : ctx.platform.port.readByte();
        if (!byte) {
            if (reader.midRead()) step = reader.abandon();
            break;
        }
        const auto s = reader.feed(*byte);
        if (s != ReportReader::Step::More) step = s;
    }
    ctx.link.discarded += reader.strayBytes() + reader.brokenReads() - droppedBefore;
    return step;
}

void OpenCommPort(LinkLayer& ctx) {
    auto& link = ctx.link;
    if (ctx.ending) return;
    const std::string procedure = "Open Comm Port " + std::to_string(link.comport);
    std::string device = std::to_string(link.comport);
    skipStep(ctx, 2, [&] {
        if (ctx.platform.portDevice) device = ctx.platform.portDevice(link.comport);
    });
    clearPending(ctx);
    startupStep(ctx, "opening " + device);
    for (int attempt = 1; attempt <= kOpenAttempts && !ctx.ending; ++attempt) {
        const bool opened = skipStep(ctx, 2, [&] {
            if (ctx.platform.port.isOpen()) ctx.platform.port.close();
            if (ctx.platform.portDevice) device = ctx.platform.portDevice(link.comport);
            if (auto err = ctx.platform.port.open(device)) throw std::runtime_error(*err);
        });
        if (opened) break;
        reportPending(ctx, procedure);
        if (attempt < kOpenAttempts) Pause(ctx, 1000);
    }
    link.commStarted = true;
    skipStep(ctx, 4, [&] { ctx.linkEvents->portOpened(); });
    Pause(ctx, 2000);
    // The flags follow the port: a port that never opened (or went away meanwhile) is not open.
    link.portOpen = ctx.platform.port.isOpen() && !ctx.ending;
    link.commStarted = link.portOpen;
    reportStep(ctx, procedure, 7,
               [&] { ReportError(ctx, kSourceVarnel, "Using Comm Port " + std::to_string(link.comport)); });
    clearPending(ctx);
}

void ClosePort(LinkLayer& ctx) { ctx.platform.port.close(); }

namespace {

// Bytes that wait when a frame goes out cannot be its answer: they are what is left of
// a reply that was cut or came late (a controller that fell silent in the middle of
// one). Taken for the next 3-byte answer, which may start with any byte, they would
// make a command nobody answered look answered. Reports among them are handed on; the
// rest is dropped and counted.
void dropStaleInput(LinkLayer& ctx) {
    auto& port = ctx.platform.port;
    ReportReader reader;
    // Every step takes at least one byte; a controller that keeps talking cannot hold us.
    for (std::size_t budget = port.bytesWaiting(); budget > 0 && port.bytesWaiting() > 0; --budget) {
        const auto step = pullReport(ctx, reader);
        if (!step) break;
        if (*step == ReportReader::Step::Report) ctx.linkEvents->report(reader.report());
    }
}

}  // namespace

std::int16_t SendBytes(LinkLayer& ctx, std::span<const std::uint8_t> buf) {
    if (ctx.link.portOpen && !ctx.ending) {
        dropStaleInput(ctx);
        skipStep(ctx, 1, [&] { ctx.platform.port.write(buf); });
    }
    clearPending(ctx);
    return 0;
}

bool ReadResponse(LinkLayer& ctx, std::int16_t timeout, std::int16_t expectedLength, std::int16_t expectedFirst) {
    using Step = ReportReader::Step;
    ExchangeScope scope(ctx.gate);
    auto& port = ctx.platform.port;
    auto& loop = ctx.platform.loop;
    const std::size_t need = static_cast<std::size_t>(std::clamp<int>(expectedLength, 1, 501));
    const std::int64_t limitMs = std::int64_t{std::max<int>(timeout, 0)} * 1000;
    // Report handling is not counted against the time-out; this cap keeps a
    // controller that never stops talking from holding the loop for ever.
    const std::int64_t started = loop.tickMs();
    const std::int64_t hardCapMs = 2 * limitMs + 2000;
    std::int64_t waited = 0;
    ReportReader reader;
    // A first byte no byte can be never begins the reply.
    if (expectedFirst >= 0 && expectedFirst <= 255) reader.expectReply(need, static_cast<std::uint8_t>(expectedFirst));

    // A report that is complete ahead of the reply is handed on at once rather
    // than when the whole reply has arrived (a block reply takes 280 ms).
    auto reportWaiting = [&] {
        const auto first = port.peekByte();
        const int length = first ? reportLength(*first) : 0;
        return length > 0 && port.bytesWaiting() >= static_cast<std::size_t>(length);
    };
    // Nothing can come on a closed port, and a run that ends waits for nothing.
    auto hopeless = [&] { return ctx.ending || (!port.isOpen() && port.bytesWaiting() == 0); };
    // What must wait before the loop can act: the next byte while it may start a
    // report, a begun report whole, anything else the whole reply. The port may
    // gather that much before waking us; it is set back to every byte on return.
    struct Ungather {
        SerialPort& port;
        ~Ungather() { port.setReadThreshold(1); }
    } ungather{port};
    auto awaited = [&]() -> std::size_t {
        const auto first = port.peekByte();
        if (!first) return 1;
        const int length = reportLength(*first);
        return length > 0 ? static_cast<std::size_t>(length) : need;
    };
    auto actionable = [&] {
        port.setReadThreshold(awaited());
        return port.bytesWaiting() >= need || reportWaiting() || hopeless();
    };

    for (;;) {
        loop.processEvents();
        const std::size_t n = port.bytesWaiting();
        if (n < need && !reportWaiting()) {
            const std::int64_t t0 = loop.tickMs();
            const bool complete = loop.waitUntil(kWaitSliceMs, actionable);
            waited += complete ? loop.tickMs() - t0 : kWaitSliceMs;
            if (complete && !hopeless()) continue;
            if (!hopeless() && waited < limitMs && loop.tickMs() - started < hardCapMs) continue;
            replyMissed(ctx);
            // What gathered in the port since counts as got.
            port.setReadThreshold(1);
            loop.processEvents();
            if (ctx.switches.logComms == 1)
                skipStep(ctx, 3, [&] {
                    WriteCommLog(ctx, "Ocelot Timeout Expected: " + blankNum(expectedLength) +
                                          " Got: " + blankNum(static_cast<long long>(port.bytesWaiting())));
                });
            clearPending(ctx);
            return false;
        }
        if (loop.tickMs() - started >= hardCapMs) {
            replyMissed(ctx);
            return false;
        }

        const auto step = pullReport(ctx, reader);
        if (step == Step::Reply) {
            const auto reply = reader.reply();
            std::copy(reply.begin(), reply.end(), ctx.link.rx.begin());
            clearPending(ctx);
            ctx.link.lastReplyMs = loop.tickMs();
            ctx.link.silentSinceMs = -1;
            return true;
        }
        if (step == Step::ReplyCut) {
            clearPending(ctx);
            replyMissed(ctx);
            return false;  // the rest never came: treat as a time-out
        }
        if (step == Step::Report) {
            const ControllerReport& report = reader.report();
            // A code heard while learning is the answer to the learn command.
            if (report.kind == ReportKind::IrMatch && ctx.link.learning != 0) {
                ++ctx.link.reportsHandled;
                return true;
            }
            ctx.linkEvents->report(report);
        }
        clearPending(ctx);
    }
}

void MSComm1_OnComm(LinkLayer& ctx, int event) {
    if (event != 2) return;
    skipStep(ctx, 1, [&] { commLog(ctx, "MSCOMM"); });
    clearPending(ctx);
    ctx.linkEvents->dataArrived();
}

}  // namespace varnel

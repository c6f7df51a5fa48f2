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

bool readInto(Context& ctx, std::array<std::uint8_t, 4>& h, int from, int to) {
    for (int i = from; i <= to; ++i) {
        auto b = nextReportByte(ctx);
        if (!b) return false;
        h[static_cast<std::size_t>(i)] = *b;
    }
    return true;
}

std::string num(int v) { return std::to_string(v); }

// A reply that did not come: the first since the last good one starts the silence.
void replyMissed(Context& ctx) {
    if (ctx.link.ending) return;
    if (ctx.link.silentSinceMs < 0) ctx.link.silentSinceMs = ctx.platform.loop.tickMs();
    if (ctx.hooks.replyTimedOut) ctx.hooks.replyTimedOut();
}
}  // namespace

void startupStep(Context& ctx, const std::string& text) {
    if (!ctx.hooks.startupStep || ctx.link.ending || text == ctx.health.lastStep) return;
    ctx.health.lastStep = text;
    ctx.hooks.startupStep(text);
}

std::optional<std::uint8_t> nextReportByte(Context& ctx) {
    auto& port = ctx.platform.port;
    if (port.bytesWaiting() == 0) {
        ExchangeScope scope(ctx);
        ctx.platform.loop.waitUntil(kReportByteWaitMs,
                                    [&] { return port.bytesWaiting() > 0 || !port.isOpen() || ctx.link.ending; });
    }
    return port.readByte();
}

void OpenCommPort(Context& ctx) {
    auto& link = ctx.link;
    if (link.ending) return;
    const std::string procedure = "Open Comm Port " + std::to_string(link.comport);
    std::string device = std::to_string(link.comport);
    skipStep(ctx, 2, [&] {
        if (ctx.platform.portDevice) device = ctx.platform.portDevice(link.comport);
    });
    clearPending(ctx);
    startupStep(ctx, "opening " + device);
    for (int attempt = 1; attempt <= kOpenAttempts && !link.ending; ++attempt) {
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
    if (ctx.window.open && ctx.hooks.windowPortOpen) skipStep(ctx, 4, [&] { ctx.hooks.windowPortOpen(true); });
    Pause(ctx, 2000);
    // The flags follow the port: a port that never opened (or went away meanwhile) is not open.
    link.portOpen = ctx.platform.port.isOpen() && !link.ending;
    link.commStarted = link.portOpen;
    reportStep(ctx, procedure, 7,
               [&] { ReportError(ctx, kSourceVarnel, "Using Comm Port " + std::to_string(link.comport)); });
    clearPending(ctx);
}

void ClosePort(Context& ctx) { ctx.platform.port.close(); }

std::int16_t SendBytes(Context& ctx, std::span<const std::uint8_t> buf) {
    if (ctx.link.portOpen && !ctx.link.ending) skipStep(ctx, 1, [&] { ctx.platform.port.write(buf); });
    clearPending(ctx);
    return 0;
}

bool ReadResponse(Context& ctx, std::int16_t timeout, std::int16_t expectedLength, std::int16_t expectedFirst) {
    ExchangeScope scope(ctx);
    auto& port = ctx.platform.port;
    auto& loop = ctx.platform.loop;
    const std::size_t need = static_cast<std::size_t>(std::clamp<int>(expectedLength, 1, 501));
    const std::int64_t limitMs = std::int64_t{std::max<int>(timeout, 0)} * 1000;
    // Report handling is not counted against the time-out; this cap keeps a
    // controller that never stops talking from holding the loop for ever.
    const std::int64_t started = loop.tickMs();
    const std::int64_t hardCapMs = 2 * limitMs + 2000;
    std::int64_t waited = 0;
    std::array<std::uint8_t, 4> h{};

    // A report that is complete ahead of the reply is handed on at once rather
    // than when the whole reply has arrived (a block reply takes 280 ms).
    auto reportWaiting = [&] {
        const auto first = port.peekByte();
        const int length = first ? reportLength(*first) : 0;
        return length > 0 && port.bytesWaiting() >= static_cast<std::size_t>(length);
    };
    // Nothing can come on a closed port, and a run that ends waits for nothing.
    auto hopeless = [&] { return ctx.link.ending || (!port.isOpen() && port.bytesWaiting() == 0); };
    auto actionable = [&] { return port.bytesWaiting() >= need || reportWaiting() || hopeless(); };

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

        const auto first = port.readByte();
        if (!first) continue;
        h[0] = *first;
        switch (h[0]) {
            case 0xFE:
            case 0xFB: {
                if (!readInto(ctx, h, 1, 2)) break;
                const bool received = h[0] == 0xFE;
                ++ctx.link.reportsHandled;
                if (!received && ctx.switches.x10Xmit != 1) break;
                skipStep(ctx, 4, [&] {
                    commLog(ctx,
                            std::string(received ? "**** Ocelot says X10 rec (1) " : "**** Ocelot says X10 xmit (1) ") +
                                num(h[1]) + "," + num(h[2]));
                    if (ctx.hooks.x10Report) ctx.hooks.x10Report(h);
                });
                break;
            }
            case 0xFF: break;
            case 0xFD: {
                if (!readInto(ctx, h, 1, 2)) break;
                ++ctx.link.reportsHandled;
                if (ctx.link.learning != 0) return true;
                if (ctx.link.recognition)
                    skipStep(ctx, 4, [&] {
                        commLog(ctx, "**** Ocelot says IR Match (1) " + num(h[2]));
                        if (ctx.host.callback) ctx.host.callback->IREvent(h[2]);
                    });
                break;
            }
            case 0xFC: {
                readInto(ctx, h, 1, 2);
                break;
            }
            case 0xF0: {
                if (!readInto(ctx, h, 1, 3)) break;
                ++ctx.link.reportsHandled;
                skipStep(ctx, 4, [&] {
                    commLog(ctx, "**** Ocelot says I0 Change (1) " + num(h[0]) + "," + num(h[1]) + "," + num(h[2]));
                    if (ctx.hooks.ioChange) ctx.hooks.ioChange(h);
                });
                break;
            }
            case 0xF2:
            case 0xF3: {
                if (!readInto(ctx, h, 1, 3) || !nextReportByte(ctx)) break;
                ++ctx.link.reportsHandled;
                if (ctx.switches.leopardVar == "-1") break;
                skipStep(ctx, 4, [&] {
                    commLog(ctx, "**** Ocelot says Leopard Touch (1) " + num(h[2]));
                    if (!ctx.host.hs) throw HostError("Object variable not set");
                    ctx.host.hs->SetDeviceValue(ctx.switches.leopardVar + "1", h[2]);
                });
                break;
            }
            default:
                if (expectedFirst == 0 || h[0] == expectedFirst) {
                    ctx.link.rx[0] = h[0];
                    for (std::size_t i = 1; i < need; ++i) {
                        auto b = nextReportByte(ctx);
                        if (!b) {
                            clearPending(ctx);
                            replyMissed(ctx);
                            return false;  // the rest never came: treat as a time-out
                        }
                        ctx.link.rx[i] = *b;
                    }
                    clearPending(ctx);
                    ctx.link.lastReplyMs = loop.tickMs();
                    ctx.link.silentSinceMs = -1;
                    return true;
                }
                ++ctx.link.discarded;
                break;
        }
        clearPending(ctx);
    }
}

void MSComm1_OnComm(Context& ctx, int event) {
    if (event != 2) return;
    skipStep(ctx, 1, [&] { commLog(ctx, "MSCOMM"); });
    clearPending(ctx);
    if (ctx.hooks.ioTick) ctx.hooks.ioTick();
}

}  // namespace varnel

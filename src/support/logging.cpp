#include "support/logging.h"

#include <chrono>
#include <cstdio>

#include "files/files.h"
#include "support/host_access.h"

namespace varnel {

void logEntry(Core& ctx, const std::string& source, const std::string& text, int step, const std::string& description) {
    requireHost(ctx.host).WriteLog(source, text + " " + std::to_string(step) + " " + description);
}

void ReportError(Core& ctx, const std::string& source, const std::string& text) { logEntry(ctx, source, text, 0, {}); }

void warn(Core& ctx, const std::string& text) {
    if (ctx.switches.logErrors != 0) ReportError(ctx, kSourceWarning, text);
}

namespace {

// Kept like the host log: a busy line with log_comms on writes about a gigabyte a day.
constexpr std::uintmax_t kMaxCommLogBytes = std::uintmax_t{4} * 1024 * 1024;

std::string stamp(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss hms{floor<seconds>(t - day)};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02ld:%02ld:%02ld", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
                  static_cast<long>(hms.seconds().count()));
    return buf;
}
}  // namespace

void WriteCommLog(Core& ctx, const std::string& text) {
    const auto path = ctx.platform.programDir / "ocelot.log";
    if (!files::appendRotating(path, stamp(ctx.platform.loop.wallClock()) + ' ' + text + "\r\n", kMaxCommLogBytes)) {
        try {
            ReportError(ctx, kSourceVarnel, "Unable to write to ocelog.log file (maybe no disk space)");
        } catch (...) {
        }
    }
}

}  // namespace varnel

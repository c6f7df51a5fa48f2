#pragma once
#include <string>

#include "support/core.h"

namespace varnel {

inline constexpr const char* kSourceVarnel = "Varnel";
inline constexpr const char* kSourceWarning = "Warning";

// One host log entry: text, blank, failing step, blank, description. A failing host
// log call throws to the caller.
void logEntry(Core& ctx, const std::string& source, const std::string& text, int step, const std::string& description);
// A plain message (step 0, no description). An error left pending is never attached to
// it: that error belongs to its own procedure and stays pending for it.
void ReportError(Core& ctx, const std::string& source, const std::string& text);
// Appends one line, date and time first, to ocelot.log in the program's directory; a log
// of 4 MiB moves to ocelot.log.1 first.
void WriteCommLog(Core& ctx, const std::string& text);
// Comms-log line only while log_comms is exactly 1.
inline void commLog(Core& ctx, const std::string& text) {
    if (ctx.switches.logComms == 1) WriteCommLog(ctx, text);
}
// A warning to the host log only while log_errors is set.
void warn(Core& ctx, const std::string& text);

}  // namespace varnel

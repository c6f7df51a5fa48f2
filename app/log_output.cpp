#include "log_output.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "files/files.h"
#include "support/escape.h"

namespace varnel::app {

std::optional<LogLevel> parseLogLevel(std::string_view text) {
    for (auto [name, level] : {std::pair{"error", LogLevel::Error}, std::pair{"warning", LogLevel::Warning},
                               std::pair{"info", LogLevel::Info}})
        if (files::equalsNoCase(text, name)) return level;
    return std::nullopt;
}

LogLevel levelOf(std::string_view source, std::string_view message) {
    if (source == "Warning") return LogLevel::Warning;
    if (source != "Varnel") return LogLevel::Info;
    if (!message.ends_with(" 0 ")) return LogLevel::Error;
    // What an operator must see without being an error of the plug-in's own.
    if (message.starts_with("Controller link lost") || message.find("Timeout") != std::string_view::npos)
        return LogLevel::Warning;
    return LogLevel::Info;
}

LogStyle logStyleFromEnvironment() {
    if (const char* stream = std::getenv("JOURNAL_STREAM")) {
        unsigned long long dev = 0, ino = 0;
        struct stat st {};
        if (std::sscanf(stream, "%llu:%llu", &dev, &ino) == 2 && ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == dev &&
            st.st_ino == ino)
            return LogStyle::Journal;
        return LogStyle::Service;
    }
    return std::getenv("INVOCATION_ID") ? LogStyle::Service : LogStyle::Terminal;
}

LogOutput::LogOutput(LogLevel level, LogStyle style, std::ostream& out, std::ostream& err)
    : level_(level), style_(style), out_(out), err_(err) {}

void LogOutput::hostLine(const host::ConsoleLine& entry) {
    if (quiet_ && quiet_() && !entry.message.starts_with("Controller link")) return;
    const std::string text = escaped(entry.source + ": " + entry.message);
    if (style_ == LogStyle::Terminal) {
        if (levelOf(entry.source, entry.message) <= level_) out_ << entry.time << ' ' << text << std::endl;
        return;
    }
    line(levelOf(entry.source, entry.message), text);
}

void LogOutput::line(LogLevel level, const std::string& raw) {
    if (level > level_) return;
    // Event lines and simulator steps carry names from outside.
    const std::string text = escaped(raw);
    switch (style_) {
        case LogStyle::Terminal: (level == LogLevel::Error ? err_ : out_) << text << std::endl; break;
        case LogStyle::Service: err_ << text << std::endl; break;
        case LogStyle::Journal:
            err_ << (level == LogLevel::Error     ? SD_ERR
                     : level == LogLevel::Warning ? SD_WARNING
                                                  : SD_INFO)
                 << text << std::endl;
            break;
    }
}

}  // namespace varnel::app

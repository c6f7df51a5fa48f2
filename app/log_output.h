#pragma once
// Where `varnel run` writes its log lines (the host log's entries, host events, the
// simulator's steps) and which it leaves out. On a terminal or into a file: standard
// output with the host log entries' time, its own errors on standard error. Under
// systemd: standard error without a time (the journal adds its own), with the
// journal's priority prefix when standard error is the journal, so that
// `journalctl -p warning` finds the warnings. The host log file keeps every entry
// whatever the level.
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "host/host_log.h"

namespace varnel::app {

enum class LogLevel { Error, Warning, Info };

// "error", "warning" or "info", in any case.
[[nodiscard]] std::optional<LogLevel> parseLogLevel(std::string_view text);

// A host log entry's level: the plug-in's warnings are warnings; an entry that reports
// a failed step (its step number and description follow the text, where a plain
// message ends in " 0 ") is an error; a lost link and a time-out are warnings;
// everything else is information.
[[nodiscard]] LogLevel levelOf(std::string_view source, std::string_view message);

enum class LogStyle { Terminal, Service, Journal };

// Journal when standard error is the journal's stream (JOURNAL_STREAM names its
// device and inode), Service when systemd started the process otherwise, else Terminal.
[[nodiscard]] LogStyle logStyleFromEnvironment();

class LogOutput {
public:
    LogOutput(LogLevel level, LogStyle style, std::ostream& out, std::ostream& err);

    void hostLine(const host::ConsoleLine& line);
    void line(LogLevel level, const std::string& text);
    // While `quiet` holds (the link is down and tried again), the host log's entries stay
    // in its file, all but those about the link: an outage is told by its own lines.
    void quietWhile(std::function<bool()> quiet) { quiet_ = std::move(quiet); }

private:
    LogLevel level_;
    LogStyle style_;
    std::ostream& out_;
    std::ostream& err_;
    std::function<bool()> quiet_;
};

}  // namespace varnel::app

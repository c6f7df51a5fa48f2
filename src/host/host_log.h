#pragma once
// The embedded host's log: one line per entry, "YYYY-MM-DD HH:MM:SS source: message",
// appended to <host dir>/logs/host.log (kept below a size limit by moving the full
// file to host.log.1) and handed to a console sink. Line breaks inside an entry
// become blanks so that one entry stays one line.
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>

namespace varnel::host {

struct LogEntry {
    std::string source, message;
};

// One console line in its parts; text() is the line as the file has it.
struct ConsoleLine {
    std::string time, source, message;
    [[nodiscard]] std::string text() const { return time + " " + source + ": " + message; }
};

class HostLog {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using Sink = std::function<void(const ConsoleLine& line)>;

    HostLog(std::filesystem::path file, Clock clock, Sink console, std::uintmax_t maxFileBytes);

    // An entry from the plug-in.
    void write(const std::string& source, const std::string& message);
    // The host's own remark (source "Host"): in the file and on the console, not in entries().
    void own(const std::string& text);

    // The plug-in's entries since the start, oldest first (the last 10000).
    [[nodiscard]] const std::deque<LogEntry>& entries() const { return entries_; }
    [[nodiscard]] const std::filesystem::path& file() const { return file_; }

    static std::string formatTime(std::chrono::system_clock::time_point t);

private:
    void emit(const std::string& source, const std::string& message);

    std::filesystem::path file_;
    Clock clock_;
    Sink console_;
    std::uintmax_t maxFileBytes_;
    std::deque<LogEntry> entries_;
    bool fileFailed_ = false;
};

}  // namespace varnel::host

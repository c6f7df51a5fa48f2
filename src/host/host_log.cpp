#include "host/host_log.h"

#include <ctime>

#include "files/files.h"
#include "support/escape.h"

namespace varnel::host {

namespace {

constexpr std::size_t kKeptEntries = 10000;

}  // namespace

HostLog::HostLog(std::filesystem::path file, Clock clock, Sink console, std::uintmax_t maxFileBytes)
    : file_(std::move(file)), clock_(std::move(clock)), console_(std::move(console)), maxFileBytes_(maxFileBytes) {}

std::string HostLog::formatTime(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

void HostLog::write(const std::string& source, const std::string& message) {
    entries_.push_back({source, message});
    if (entries_.size() > kKeptEntries) entries_.pop_front();
    emit(source, message);
}

void HostLog::own(const std::string& text) { emit("Host", text); }

void HostLog::emit(const std::string& source, const std::string& message) {
    // Messages carry names and payloads from outside: one entry stays one line, escaped.
    const ConsoleLine entry{formatTime(clock_()), escaped(source), escaped(message)};
    const std::string line = entry.text();
    if (files::appendRotating(file_, line + "\n", maxFileBytes_)) {
        fileFailed_ = false;
    } else if (!fileFailed_) {
        // Said once per run of failures; the entry still reaches the console.
        fileFailed_ = true;
        if (console_) console_({entry.time, "Host", "cannot write the host log file " + file_.string()});
    }
    if (console_) console_(entry);
}

}  // namespace varnel::host

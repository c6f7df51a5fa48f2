#include "health.h"

#include <charconv>
#include <chrono>
#include <iostream>

#include "commands.h"
#include "files/files.h"
#include "host/ini_text.h"
#include "support/escape.h"

namespace varnel::app {

namespace {

constexpr std::size_t kMaxBytes = 4096;
constexpr std::size_t kMaxStatus = 300;

constexpr std::pair<RunState, std::string_view> kStates[] = {
    {RunState::Starting, "starting"},
    {RunState::Running, "running"},
    {RunState::Stopping, "stopping"},
    {RunState::Stopped, "stopped"},
};

std::string_view stateName(RunState s) {
    for (const auto& [state, name] : kStates)
        if (state == s) return name;
    return "stopped";
}

}  // namespace

std::string healthText(const HealthRecord& r) {
    return "[health]\nwritten=" + std::to_string(r.writtenSeconds) + "\nstate=" + std::string(stateName(r.state)) +
           "\nstatus=" + escaped(r.status, kMaxStatus) + "\n";
}

HealthVerdict judgeHealth(const std::optional<std::string>& text, std::int64_t now, const std::filesystem::path& dir) {
    const std::string file = (dir / kHealthFile).string();
    if (!text) return {false, "varnel: no run in " + dir.string() + " (no " + file + ")"};
    std::optional<std::int64_t> written;
    std::optional<RunState> state;
    std::string status;
    for (const auto& [key, value] : host::iniEntries(*text, "health")) {
        if (key == "written") {
            std::int64_t v = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
            if (ec == std::errc() && ptr == value.data() + value.size()) written = v;
        } else if (key == "state") {
            for (const auto& [s, name] : kStates)
                if (value == name) state = s;
        } else if (key == "status") {
            status = escaped(value, kMaxStatus);
        }
    }
    if (!written) return {false, "varnel: " + file + ": written: needs a time in seconds"};
    if (!state) return {false, "varnel: " + file + ": state: needs starting, running, stopping or stopped"};
    const std::int64_t age = now - *written;
    // A clock set back leaves a time ahead of now; only a stale file says the run hangs.
    if (age > kHealthStaleSeconds)
        return {false, "varnel: the run in " + dir.string() + " last wrote " + std::to_string(age) +
                           " s ago: it hangs or has ended"};
    if (*state == RunState::Stopping || *state == RunState::Stopped)
        return {false, "varnel: the run in " + dir.string() + " is " + std::string(stateName(*state))};
    return {true, "varnel: well: " + (status.empty() ? std::string(stateName(*state)) : status)};
}

std::optional<std::string> writeHealth(const std::filesystem::path& dir, const HealthRecord& record) {
    try {
        // Rewritten every few seconds: flushing to the disk each time would wear an SD card
        // for a file that only matters while the machine runs.
        files::replaceFile(dir / kHealthFile, healthText(record), {.durable = false});
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

int runHealth(const HealthOptions& o) {
    std::optional<std::string> text;
    try {
        text = files::readFile(o.hostDir / kHealthFile, {.maxBytes = kMaxBytes});
    } catch (const std::exception& e) {
        std::cout << "varnel: " << e.what() << std::endl;
        return kExitFailure;
    }
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const auto verdict = judgeHealth(text, now, o.hostDir);
    std::cout << verdict.line << std::endl;
    return verdict.well ? kExitOk : kExitFailure;
}

}  // namespace varnel::app

#pragma once
// `varnel health`: whether the run in a host directory is well, for a container's
// health check. The run rewrites varnel.health there every few seconds with its state
// and the line systemd's status shows; a file that stopped changing belongs to a run
// that hangs or was killed.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace varnel::app {

inline constexpr std::string_view kHealthFile = "varnel.health";
inline constexpr int kHealthEveryMs = 5000;
// Six missed rewrites: a loop busy for a moment is not a hung one.
inline constexpr std::int64_t kHealthStaleSeconds = 30;

// A run waiting for its port or its controller is well: starting it again would not help.
enum class RunState { Starting, Running, Stopping, Stopped };

struct HealthRecord {
    std::int64_t writtenSeconds = 0;  // Unix time
    RunState state = RunState::Starting;
    std::string status;  // one line
};

[[nodiscard]] std::string healthText(const HealthRecord& record);

struct HealthVerdict {
    bool well = false;
    std::string line;
};

// `text`: the file's bytes, nothing when there is none.
[[nodiscard]] HealthVerdict judgeHealth(const std::optional<std::string>& text, std::int64_t nowSeconds,
                                        const std::filesystem::path& hostDir);

// Rewrites the file so that a kill leaves the old one or the new one; why not otherwise.
[[nodiscard]] std::optional<std::string> writeHealth(const std::filesystem::path& hostDir, const HealthRecord& record);

}  // namespace varnel::app

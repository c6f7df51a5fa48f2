#pragma once
// Scenario scripts (fixtures/*.scn) run against the whole plug-in on virtual time: the
// console, the simulated controller, the embedded host and, when asked, the MQTT bridge.
// The transcript (every directive, what went over the wire with its virtual time, the
// host log, host events, console answers, MQTT traffic) is compared whole with the one
// recorded under golden/. VARNEL_UPDATE_GOLDEN=1 records it again.
#include <filesystem>
#include <string>

namespace varnel::test {

// The transcript of a script; a directive that cannot be run ends it with "!! ..." and
// the rest of the script is skipped.
std::string runScenario(const std::filesystem::path& script);

}  // namespace varnel::test

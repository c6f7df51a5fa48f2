#pragma once
// The simulator's activity for a demo: a script from a file, or random steps.
#include <optional>
#include <string>
#include <variant>

#include "sim/demo.h"

namespace varnel::app {

struct DemoPlan {
    bool on = true;
    std::optional<sim::DemoScript> script;  // empty: random activity
};

// Reads and checks the script before anything starts; a one-line error otherwise.
[[nodiscard]] std::variant<DemoPlan, std::string> planDemo(const std::optional<std::string>& scriptFile, bool on);
void startDemo(sim::Demo& demo, const DemoPlan& plan);

}  // namespace varnel::app

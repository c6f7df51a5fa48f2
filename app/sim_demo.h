#pragma once
// The simulator's activity for a demo: a script from a file, or random steps.
#include <optional>
#include <string>
#include <variant>

#include "console/selection.h"
#include "sim/demo.h"

namespace varnel::app {

struct DemoPlan {
    bool on = true;
    std::optional<sim::DemoScript> script;  // empty: random activity
};

// Reads and checks the script before anything starts; a one-line error otherwise.
[[nodiscard]] std::variant<DemoPlan, std::string> planDemo(const std::optional<std::string>& scriptFile, bool on);
void startDemo(sim::Demo& demo, const DemoPlan& plan);

// The controller of `varnel run --simulate` and `varnel sim`: one module of each kind
// (a SECU16IR among them) and 1024 IR locations, some variables and inputs set,
// analog inputs and module parameters with values, outputs that report their writes,
// and a remote whose key is pressed 2 seconds into each IR learn.
[[nodiscard]] sim::ControllerConfig demoController();

// What a host directory that has never been used gets for the demo: IR names to play
// by name ("TV Power", "Amp Volume Up", ...) and the variables and points to mirror.
[[nodiscard]] std::string demoIrLabels();
[[nodiscard]] console::MirrorChoice demoMirrorChoice();

}  // namespace varnel::app

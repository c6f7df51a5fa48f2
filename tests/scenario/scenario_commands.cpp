// flags: the exchange signs a command holds while it waits, printed where it runs
// (`at MS flags` shows them inside a wait).
#include "scenario_parts.h"

namespace varnel::test {
namespace {

class Flags final : public ScenarioPart {
public:
    bool directive(Scenario& s, const std::vector<std::string>& w, const std::string&) override {
        if (w[0] != "flags") return false;
        s.build();
        const auto& c = s.rig->ctx();
        s.transcript.line("  busy " + std::to_string(c.gate.busy) + ", x10 sending " +
                          std::to_string(c.gate.x10Sending) + ", learning " + std::to_string(c.link.learning) +
                          ", link failure " + std::to_string(c.controller.linkFailure));
        return true;
    }
};

const bool registered = registerPart([] { return std::make_unique<Flags>(); });

}  // namespace
}  // namespace varnel::test

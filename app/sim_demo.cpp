#include "sim_demo.h"

#include <fstream>

namespace varnel::app {

namespace {
constexpr std::size_t kMaxScriptBytes = 1 << 20;
}

std::variant<DemoPlan, std::string> planDemo(const std::optional<std::string>& scriptFile, bool on) {
    DemoPlan plan{.on = on, .script = std::nullopt};
    if (!on || !scriptFile) return plan;
    std::ifstream in(*scriptFile, std::ios::binary);
    if (!in) return "cannot read the demo script " + *scriptFile;
    std::string text(kMaxScriptBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxScriptBytes) return "the demo script " + *scriptFile + " is longer than 1 MiB";
    auto parsed = sim::parseDemoScript(text);
    if (auto* err = std::get_if<std::string>(&parsed)) return "demo script " + *scriptFile + ": " + *err;
    plan.script = std::get<sim::DemoScript>(std::move(parsed));
    return plan;
}

void startDemo(sim::Demo& demo, const DemoPlan& plan) {
    if (!plan.on) return;
    if (plan.script) {
        demo.runScript(*plan.script);
        return;
    }
    sim::RandomDemo random;
    random.x10 = true;
    demo.runRandom(random);
}

}  // namespace varnel::app

#include "sim_demo.h"

#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

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
    random.ir = true;
    demo.runRandom(random);
}

sim::ControllerConfig demoController() {
    sim::ControllerConfig c = sim::ControllerConfig::typical();
    c.irSize = 1024;
    const std::uint16_t variables[] = {21, 19, 7, 1, 0, 3, 120, 45};
    for (std::size_t i = 0; i < std::size(variables); ++i) c.variables[i] = variables[i];
    // Inputs 2 and 5 of the SECU16 and input 0 of the SECU16I are closed.
    c.io[0] = 0x24;
    c.io[2] = 0x01;
    // The SECU16's analog inputs: a temperature, a light level, a tank level, a battery.
    const std::uint16_t analog[] = {72, 180, 96, 250};
    for (int ch = 0; ch < static_cast<int>(std::size(analog)); ++ch) c.analog[{1, ch}] = analog[ch];
    for (int n = 1; n <= 10; ++n) {
        c.parameters[{1, n}] = static_cast<std::uint16_t>(100 * n + 1);
        c.parameters[{2, n}] = static_cast<std::uint16_t>(n);
    }
    c.reportOutputWrites = true;
    c.autoLearnDelayUs = 2'000'000;
    return c;
}

std::string demoIrLabels() {
    const std::vector<std::pair<std::string, std::vector<std::string>>> groups = {
        {"TV", {"Power", "Volume Up", "Volume Down", "Mute", "Channel Up", "Channel Down"}},
        {"Amp", {"Power", "Volume Up", "Volume Down", "Input CD", "Input Tuner"}},
        {"DVD", {"Power", "Play", "Pause", "Stop", "Eject"}},
    };
    constexpr int kGroups = 32;
    constexpr int kLabels = 1008;
    constexpr int kPerGroup = 36;
    std::vector<std::string> lines(kGroups + kLabels);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        lines[g] = groups[g].first;
        for (std::size_t l = 0; l < groups[g].second.size(); ++l)
            lines[kGroups + g * kPerGroup + l] = groups[g].second[l];
    }
    std::string text;
    for (const auto& l : lines) text += "\"" + l + "\"\r\n";
    return text;
}

console::MirrorChoice demoMirrorChoice() {
    console::MirrorChoice c;
    c.variables = std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 127};
    c.units = {{.unit = 1, .points = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, .invert = false},
               {.unit = 2, .points = {0, 1, 2, 3}, .invert = false},
               {.unit = 3, .points = {0, 1, 2}, .invert = false}};
    return c;
}

}  // namespace varnel::app

#include "live_plugin.h"

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <system_error>

#include "devices/device_model.h"

namespace varnel::bench {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnel-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch directory");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

LivePlugin::LivePlugin() : wire(sim::ControllerConfig::typical()) {
    EmbeddedHostOptions options;
    options.loop = &loop;
    host = std::make_shared<EmbeddedHost>(dir.path(), userSettings, launcher, options);
    const std::string device = wire.slaveName();
    hspi = std::make_unique<HSPI>(
        Platform{loop, port, userSettings, prompts, launcher, dir.path(), [device](int) { return device; }}, [] {});
    hspi->RegisterCallback(std::make_shared<EmbeddedCallback>(host));
    hspi->InitIO(1);
    if (!hspi->context().link.commStarted || hspi->InterfaceStatus() != 0)
        throw std::runtime_error("the plug-in did not start against the simulator");
}

LivePlugin::~LivePlugin() {
    // The plug-in's own shutdown waits two seconds; the benchmark only needs it gone.
    hspi.reset();
}

void LivePlugin::settle(int ms) {
    loop.waitUntil(ms, [] { return false; });
}

void LivePlugin::mirror(int points) {
    PluginState& ctx = hspi->context();
    std::array<bool, 128> vars{};
    std::fill(vars.begin(), vars.begin() + 8, true);
    CreateVariableDevices(ctx, vars);
    std::array<bool, 16> ticked{};
    std::fill(ticked.begin(), ticked.begin() + std::clamp(points, 0, 16), true);
    CreateModuleDevices(ctx, 1, ticked, false);
    ReadDeviceSettings(ctx);
}

LivePlugin::InputChange LivePlugin::changeInput(int n) {
    const InputChange change{.point = n % 8, .set = (n / 8) % 2 == 0, .reportsBefore = wire.reports()};
    wire.post([change](sim::Controller& c) { c.changeInput(1, change.point, change.set); });
    return change;
}

}  // namespace varnel::bench

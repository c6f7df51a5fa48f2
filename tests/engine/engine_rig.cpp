#include "engine_rig.h"

#include <algorithm>

namespace varnel::test {

namespace {
EmbeddedHostOptions hostOptions(const EngineOptions& o, VirtualLoop& loop) {
    EmbeddedHostOptions h;
    h.version = o.hostVersion;
    h.createSettingsFile = o.hostSettingsFile;
    h.maxDevices = o.hostMaxDevices;
    h.clock = [&loop] { return loop.wallClock(); };
    if (o.hostSavesLater) h.loop = &loop;
    h.writeFaults = o.hostWriteFaults;
    h.consoleLine = o.hostLogSink;
    return h;
}
}  // namespace

EngineRig::EngineRig(const EngineOptions& options)
    : hostDir(options.hostDir.empty() ? dir.path() : options.hostDir),
      controller(options.controller),
      wire(loop, port, controller),
      host(std::make_shared<EmbeddedHost>(hostDir, userSettings, launcher, hostOptions(options, loop))),
      callback(std::make_shared<EmbeddedCallback>(host, options.callbackType)) {
    Platform platform{
        loop, port, userSettings, promptsSwitch, launcher, hostDir, [](int n) { return "COM" + std::to_string(n); }};
    plugin = std::make_unique<HSPI>(platform, [this] { ++processEnded; });
}

EngineRig::~EngineRig() { plugin.reset(); }

void EngineRig::registerPlugin() { plugin->RegisterCallback(callback); }

void EngineRig::startAll() {
    registerPlugin();
    plugin->InitIO(1);
    plugin->InitX10(1);
    plugin->InitIR(1);
}

std::vector<std::string> EngineRig::hostLog() const {
    std::vector<std::string> out;
    for (const auto& e : host->logEntries()) out.push_back(e.message);
    return out;
}

bool EngineRig::logged(const std::string& message) const {
    const auto log = hostLog();
    return std::find(log.begin(), log.end(), message) != log.end();
}

}  // namespace varnel::test

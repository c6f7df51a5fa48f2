#pragma once
// The console over the whole plug-in on virtual time: what the operator typed,
// what the console answered, what the controller and the host saw.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "engine_rig.h"
#include "text_files.h"

namespace varnel::test {

// X10 transmissions as the simulator records them.
inline sim::X10Transmission x10Address(std::uint8_t house, std::uint8_t unit) {
    return {.kind = sim::X10Transmission::Kind::Address,
            .house = house,
            .key = static_cast<std::uint8_t>(unit - 1),
            .value = 1};
}
inline sim::X10Transmission x10Function(std::uint8_t house, std::uint8_t code, std::uint8_t value = 1) {
    return {.kind = sim::X10Transmission::Kind::Function, .house = house, .key = code, .value = value};
}

inline EngineOptions withController(sim::ControllerConfig cfg) {
    EngineOptions o;
    o.controller = std::move(cfg);
    return o;
}

struct ConsoleRig {
    explicit ConsoleRig(EngineOptions options = {}) : rig(std::move(options)) {}

    // RegisterCallback and the interface starts, then a second of quiet.
    void start() {
        rig.startAll();
        rig.run(1000);
    }

    console::Reply run(const std::string& line) {
        console::Reply r = console.execute(line);
        last = r.lines.empty() ? std::string() : r.lines.front();
        return r;
    }
    // Runs a line that must succeed; its first line.
    std::string ok(const std::string& line) {
        const auto r = run(line);
        EXPECT_EQ(r.outcome, console::Reply::Outcome::Done) << line << " -> " << last;
        return last;
    }
    // Runs a line that must be refused; its message.
    std::string refused(const std::string& line) {
        const auto r = run(line);
        EXPECT_EQ(r.outcome, console::Reply::Outcome::Error) << line << " -> " << last;
        EXPECT_EQ(r.lines.size(), 1u) << line;
        return last;
    }

    const host::DeviceRecord* device(const std::string& name, const std::string& location) const {
        for (const auto& d : rig.host->devices())
            if (d.name == name && d.location == location) return &d;
        return nullptr;
    }
    std::string codeOf(const std::string& name, const std::string& location) const {
        const auto* d = device(name, location);
        return d ? d->code() : "<no device " + name + " at " + location + ">";
    }
    std::size_t deviceCount() const { return rig.host->devices().size(); }
    // A device the host's user or another interface made.
    void addDevice(const std::string& code, const std::string& name, const std::string& location,
                   const std::string& interface_ = "", int iotype = 0) {
        auto d = rig.host->GetDeviceByRef(rig.host->NewDeviceRef(name));
        d->set_hc(code.substr(0, 1));
        d->set_dc(code.substr(1));
        d->set_location(location);
        d->set_interface(interface_);
        d->set_iotype(iotype);
    }

    // Writes a file into the host's config directory (before start()).
    void configFile(const std::string& name, const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& l : lines) text += l + "\r\n";
        writeFile(rig.dir.path() / "config" / name, text);
    }

    EngineRig rig;
    std::vector<std::string> printed;
    console::Console console{*rig.plugin, *rig.host, [this](const std::string& l) { printed.push_back(l); }};
    std::string last;
};

}  // namespace varnel::test

#pragma once
// A plug-in context wired to the embedded host in a temp host directory, with helpers
// to lay out devices, device tables, IR tables, IR files and a project file.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_model.h"
#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "rig.h"
#include "sysmap/system_map.h"
#include "text_files.h"

namespace varnel::test {

// Lines of a project file, joined with CR LF.
inline std::string crlf(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

class SyncFixture : public ::testing::Test {
protected:
    SyncFixture() {
        // Saves are gathered on the virtual loop, so a test does not wait on a disk flush per device change.
        EmbeddedHostOptions options;
        options.loop = &rig.loop;
        host = std::make_shared<EmbeddedHost>(hostDir.path(), rig.userSettings, rig.launcher, options);
        callback = std::make_shared<EmbeddedCallback>(host);
        rig.ctx.host.hs = host;
        rig.ctx.host.callback = callback;
        rig.ctx.host.newGeneration = true;
        rig.ctx.host.miscBase = 32768;
        rig.ctx.devices.interfaceName = "Varnel";
        for (int i = 0; i < 1024; ++i) rig.ctx.ir.lookup[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i);
        project = hostDir.path() / "house.prj";
    }

    PluginState& ctx() { return rig.ctx; }

    // A device made the way the host's user or an earlier run left it.
    void addDevice(const std::string& code, const std::string& location, const std::string& name,
                   const std::string& iface = "") {
        const std::int32_t ref = host->NewDeviceRef(name);
        auto dv = host->GetDeviceByRef(ref);
        dv->set_hc(code.substr(0, 1));
        dv->set_dc(code.substr(1));
        dv->set_location(location);
        dv->set_interface(iface);
    }

    const host::DeviceRecord* device(const std::string& code) const {
        for (const auto& r : host->devices())
            if (r.code() == code) return &r;
        return nullptr;
    }

    // "code=location|name " for each code, "code=none " for one the host lacks.
    std::string named(std::initializer_list<std::string> codes) const {
        std::string out;
        for (const auto& code : codes) {
            const auto* d = device(code);
            out += code + (d ? "=" + d->location + "|" + d->name : "=none") + " ";
        }
        return out;
    }

    std::vector<std::string> log() const {
        std::vector<std::string> out;
        for (const auto& e : host->logEntries()) out.push_back(e.source + ": " + e.message);
        return out;
    }

    void mirrorVariables(char letter, std::initializer_list<int> vars) {
        rig.ctx.devices.varsHouseCode = static_cast<std::int16_t>(letter);
        for (int v : vars) rig.ctx.devices.varSelected[static_cast<std::size_t>(v)] = kTrue;
    }

    void addModule(std::int16_t unit, std::int16_t type, const std::string& hc, std::initializer_list<int> points = {},
                   std::int16_t invert = 0) {
        umap m;
        m.set_unit(unit);
        m.set_utype(type);
        m.set_hc(hc);
        m.set_invert(invert);
        rig.ctx.devices.mappings.push_back(m);
        if (unit >= 1 && unit <= 128)
            rig.ctx.controller.moduleTypes[static_cast<std::size_t>(unit - 1)] = static_cast<std::uint8_t>(type);
        for (int p : points) setPointSelected(rig.ctx, unit, p - 1, true);
    }

    std::filesystem::path configFile(const std::string& name) const { return hostDir.path() / "config" / name; }

    Rig rig;
    TempDir hostDir;
    std::shared_ptr<EmbeddedHost> host;
    std::shared_ptr<EmbeddedCallback> callback;
    std::filesystem::path project;
};

}  // namespace varnel::test

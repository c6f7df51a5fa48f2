#pragma once
// The virtual-time rig with the embedded host and its callback object in place
// of the stubs.
#include <memory>
#include <string>
#include <vector>

#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "rig.h"
#include "scripted_controller.h"

namespace varnel::test {

struct DevicesRig : Rig {
    explicit DevicesRig(bool newGeneration = true) {
        EmbeddedHostOptions options;
        options.version = newGeneration ? "2.5.0.81" : "1.7.44";
        options.loop = &loop;
        ehost = std::make_shared<EmbeddedHost>(dir.path() / "host", userSettings, launcher, options);
        ctx.host.hs = ehost;
        ctx.host.callback = std::make_shared<EmbeddedCallback>(ehost);
        ctx.host.newGeneration = newGeneration;
        ctx.host.miscBase = newGeneration ? 32768 : 0;
        ctx.devices.interfaceName = "Applied Digital Ocelot";
    }
    const host::DeviceRecord* device(const std::string& code) const {
        for (const auto& d : ehost->devices())
            if (d.code() == code) return &d;
        return nullptr;
    }
    std::vector<std::string> codes() const {
        std::vector<std::string> out;
        for (const auto& d : ehost->devices()) out.push_back(d.code());
        return out;
    }
    // A device as an earlier run of the plug-in (or another plug-in) left it.
    std::int32_t addDevice(const std::string& code, std::int16_t iotype, const std::string& iomisc,
                           const std::string& interface = "Applied Digital Ocelot") {
        const std::int32_t ref = ehost->NewDeviceRef("pre-existing");
        auto d = ehost->GetDeviceByRef(ref);
        d->set_hc(code.substr(0, 1));
        d->set_dc(code.substr(1));
        d->set_iotype(iotype);
        d->set_iomisc(iomisc);
        d->set_interface(interface);
        return ref;
    }
    // "S #1=2" status set, "V #1=5" value set, "C #1=5" value-change event.
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        using K = host::HostEvent::Kind;
        for (const auto& e : ehost->events()) {
            const char* tag = e.kind == K::StatusSet     ? "S "
                              : e.kind == K::ValueSet    ? "V "
                              : e.kind == K::ValueChange ? "C "
                                                         : "? ";
            out.push_back(tag + e.code + "=" + std::to_string(e.value));
        }
        return out;
    }

    std::shared_ptr<EmbeddedHost> ehost;
};

}  // namespace varnel::test

#pragma once
// The virtual-time rig with the embedded host and its callback object in place
// of the stubs, plus a host wrapper that makes chosen calls fail.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "rig.h"
#include "scripted_controller.h"

namespace varnel::test {

// Forwards to another host; the calls named in `failing` (optionally only for
// one device code) throw HostError instead. Counts device reads per code.
class FaultyHost final : public Host {
public:
    explicit FaultyHost(std::shared_ptr<Host> inner) : in(std::move(inner)) {}

    std::set<std::string> failing;   // "DeviceStatus", "DeviceValue", "RunEx", ...
    std::string onlyCode;            // when set, code-taking calls fail only for this code
    std::vector<std::string> valueReads;
    std::vector<std::string> runs;

    std::string Version() const override { return in->Version(); }
    std::string GetAppPath() const override { return in->GetAppPath(); }
    std::string GetIniSetting(const std::string& s, const std::string& k, const std::string& d) const override {
        return in->GetIniSetting(s, k, d);
    }
    void SaveIniSetting(const std::string& s, const std::string& k, const std::string& v) override {
        in->SaveIniSetting(s, k, v);
    }
    void MoveSettings(const std::string& p, const std::string& t) override { in->MoveSettings(p, t); }
    void WriteLog(const std::string& s, const std::string& m) override { in->WriteLog(s, m); }
    std::unique_ptr<DeviceEnumerator> GetDeviceEnumerator() override {
        fail("GetDeviceEnumerator");
        return in->GetDeviceEnumerator();
    }
    std::int32_t DeviceCount() const override { return in->DeviceCount(); }
    std::shared_ptr<Device> GetDevice(std::int16_t i) override { return in->GetDevice(i); }
    std::int16_t NewDevice(const std::string& n) override { return in->NewDevice(n); }
    std::int16_t DeviceExists(const std::string& c) const override {
        fail("DeviceExists", c);
        return in->DeviceExists(c);
    }
    std::shared_ptr<Device> GetDeviceByRef(std::int32_t r) override { return in->GetDeviceByRef(r); }
    std::int32_t NewDeviceRef(const std::string& n) override { return in->NewDeviceRef(n); }
    std::int32_t DeviceExistsRef(const std::string& c) const override {
        fail("DeviceExists", c);
        return in->DeviceExistsRef(c);
    }
    void DeleteDevice(std::int32_t r) override { in->DeleteDevice(r); }
    std::int16_t DeviceStatus(const std::string& c) const override {
        fail("DeviceStatus", c);
        return in->DeviceStatus(c);
    }
    std::int32_t DeviceValue(const std::string& c) const override {
        const_cast<FaultyHost*>(this)->valueReads.push_back(c);
        fail("DeviceValue", c);
        return in->DeviceValue(c);
    }
    void SetDeviceStatus(const std::string& c, std::int16_t s) override { in->SetDeviceStatus(c, s); }
    void SetDeviceValue(const std::string& c, std::int32_t v) override { in->SetDeviceValue(c, v); }
    bool ison(const std::string& c) const override { return in->ison(c); }
    bool isoff(const std::string& c) const override { return in->isoff(c); }
    void RunEx(const std::string& f, const std::string& p, const std::string& a) override {
        runs.push_back(f + "|" + p + "|" + a);
        fail("RunEx");
        in->RunEx(f, p, a);
    }
    void Launch(const std::string& p, const std::string& a) override { in->Launch(p, a); }

private:
    void fail(const std::string& call, const std::string& code = {}) const {
        if (!failing.contains(call)) return;
        if (!onlyCode.empty() && !code.empty() && code != onlyCode) return;
        throw HostError(call + " failed");
    }
    std::shared_ptr<Host> in;
};

struct DevicesRig : Rig {
    explicit DevicesRig(bool newGeneration = true) {
        EmbeddedHostOptions options;
        options.version = newGeneration ? "2.5.0.81" : "1.7.44";
        options.loop = &loop;
        ehost = std::make_shared<EmbeddedHost>(dir.path() / "host", userSettings, launcher, options);
        ecb = std::make_shared<EmbeddedCallback>(ehost);
        faulty = std::make_shared<FaultyHost>(ehost);
        ctx.host.hs = faulty;
        ctx.host.callback = ecb;
        ctx.host.newGeneration = newGeneration;
        ctx.host.miscBase = newGeneration ? 32768 : 0;
        ctx.devices.interfaceName = "Applied Digital Ocelot";
    }

    // The device with `code`, or null.
    const host::DeviceRecord* device(const std::string& code) const {
        for (const auto& d : ehost->devices())
            if (d.code() == code) return &d;
        return nullptr;
    }
    // Codes of all devices, in creation order.
    std::vector<std::string> codes() const {
        std::vector<std::string> out;
        for (const auto& d : ehost->devices()) out.push_back(d.code());
        return out;
    }
    // A device made directly in the host, as another run of the plug-in left it.
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
    // What the plug-in delivered, in a compact form: "S #1=2" status set,
    // "V #1=5" value set, "C #1=5" value-change event, "X addr|house|cmd|level", "I 7".
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const auto& e : ehost->events()) {
            using K = host::HostEvent::Kind;
            switch (e.kind) {
                case K::StatusSet: out.push_back("S " + e.code + "=" + std::to_string(e.value)); break;
                case K::ValueSet: out.push_back("V " + e.code + "=" + std::to_string(e.value)); break;
                case K::ValueChange: out.push_back("C " + e.code + "=" + std::to_string(e.value)); break;
                case K::X10:
                    out.push_back("X " + e.addresses + "|" + e.code + "|" + std::to_string(e.value) + "|" + e.level);
                    break;
                case K::IR: out.push_back("I " + std::to_string(e.value)); break;
            }
        }
        return out;
    }

    std::shared_ptr<EmbeddedHost> ehost;
    std::shared_ptr<EmbeddedCallback> ecb;
    std::shared_ptr<FaultyHost> faulty;
};

}  // namespace varnel::test

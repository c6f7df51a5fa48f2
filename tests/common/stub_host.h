#pragma once
// A minimal host for the lowest layers' tests: records log lines, values and
// events, holds ini settings in memory. Device calls beyond that are not needed there.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/host_api.h"

namespace varnel::test {

class StubHost final : public Host {
public:
    std::string Version() const override { return version; }
    std::string GetAppPath() const override { return appPath; }
    std::string GetIniSetting(const std::string& s, const std::string& k, const std::string& d) const override {
        auto it = ini.find({s, k});
        return it == ini.end() ? d : it->second;
    }
    void SaveIniSetting(const std::string& s, const std::string& k, const std::string& v) override { ini[{s, k}] = v; }
    void MoveSettings(const std::string& path, const std::string& target) override { moves.emplace_back(path, target); }
    void WriteLog(const std::string& source, const std::string& message) override {
        if (failLog) throw HostError("log failed");
        log.emplace_back(source, message);
    }
    std::unique_ptr<DeviceEnumerator> GetDeviceEnumerator() override { throw HostError("not here"); }
    std::int32_t DeviceCount() const override { return 0; }
    std::shared_ptr<Device> GetDevice(std::int16_t) override { throw HostError("not here"); }
    std::int16_t NewDevice(const std::string&) override { throw HostError("not here"); }
    std::int16_t DeviceExists(const std::string&) const override { return -1; }
    std::shared_ptr<Device> GetDeviceByRef(std::int32_t) override { throw HostError("not here"); }
    std::int32_t NewDeviceRef(const std::string&) override { throw HostError("not here"); }
    std::int32_t DeviceExistsRef(const std::string&) const override { return -1; }
    void DeleteDevice(std::int32_t) override {}
    std::int16_t DeviceStatus(const std::string&) const override { return 0; }
    std::int32_t DeviceValue(const std::string&) const override { return 0; }
    void SetDeviceStatus(const std::string& c, std::int16_t s) override { statuses.emplace_back(c, s); }
    void SetDeviceValue(const std::string& c, std::int32_t v) override { values.emplace_back(c, v); }
    bool ison(const std::string&) const override { return false; }
    bool isoff(const std::string&) const override { return false; }
    void RunEx(const std::string&, const std::string&, const std::string&) override {}
    void Launch(const std::string& p, const std::string& a) override { launches.emplace_back(p, a); }

    std::string version = "2.5.0";
    std::string appPath = "/nonexistent";
    bool failLog = false;
    std::map<std::pair<std::string, std::string>, std::string> ini;
    std::vector<std::pair<std::string, std::string>> moves, log, launches;
    std::vector<std::pair<std::string, std::int16_t>> statuses;
    std::vector<std::pair<std::string, std::int32_t>> values;
};

class StubCallback final : public Callback {
public:
    explicit StubCallback(std::shared_ptr<Host> h) : host(std::move(h)) {}
    std::string typeName() const override { return type; }
    std::shared_ptr<Host> GetHSIface() override { return host; }
    std::string name() const override { return "Stub"; }
    void RegisterMenu(const std::string& a, const std::string& b) override { menus.emplace_back(a, b); }
    std::int32_t GetNextFreeIOCode() override { return -1; }
    void X10Event(const std::string& a, const std::string& h, std::int16_t c, const std::string& l,
                  const std::string&) override {
        x10.push_back(a + "|" + h + "|" + std::to_string(c) + "|" + l);
    }
    void IREvent(std::int16_t code) override { ir.push_back(code); }
    void ValueChangeEvent(const std::string& c, std::int32_t v) override { changes.emplace_back(c, v); }
    void ForceFront(std::intptr_t) override {}

    std::shared_ptr<Host> host;
    std::string type = "Host";
    std::vector<std::pair<std::string, std::string>> menus;
    std::vector<std::string> x10;
    std::vector<std::int16_t> ir;
    std::vector<std::pair<std::string, std::int32_t>> changes;
};

}  // namespace varnel::test

#pragma once
// The home-automation host's object model as the plug-in calls it: the callback
// object, the host interface `hs`, its device objects and the device enumerator.
// Any call may throw HostError (a failing late-bound call on the real host).
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace varnel {

struct HostError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A host device's status: the host's on and off, and the status the plug-in gives a
// device it has just made (not set yet). The host interface keeps its 16-bit values.
enum HostStatus : std::int16_t {
    kStatusOn = 2,
    kStatusOff = 3,
    kStatusNew = 17,
};

// One host device. Setters write through to the host at once.
class Device {
public:
    virtual ~Device() = default;
    [[nodiscard]] virtual std::string hc() const = 0;
    virtual void set_hc(const std::string& v) = 0;
    [[nodiscard]] virtual std::string dc() const = 0;
    virtual void set_dc(const std::string& v) = 0;
    [[nodiscard]] virtual std::string name() const = 0;
    virtual void set_name(const std::string& v) = 0;
    [[nodiscard]] virtual std::string location() const = 0;
    virtual void set_location(const std::string& v) = 0;
    [[nodiscard]] virtual std::string interface_() const = 0;
    virtual void set_interface(const std::string& v) = 0;
    [[nodiscard]] virtual std::int16_t iotype() const = 0;
    virtual void set_iotype(std::int16_t v) = 0;
    [[nodiscard]] virtual std::int16_t Status() const = 0;
    virtual void set_Status(std::int16_t v) = 0;
    [[nodiscard]] virtual std::int32_t misc() const = 0;
    virtual void set_misc(std::int32_t v) = 0;
    [[nodiscard]] virtual std::string iomisc() const = 0;
    virtual void set_iomisc(const std::string& v) = 0;
    [[nodiscard]] virtual std::string dev_type_string() const = 0;
    virtual void set_dev_type_string(const std::string& v) = 0;
    [[nodiscard]] virtual std::int32_t ref() const = 0;
};

class DeviceEnumerator {
public:
    virtual ~DeviceEnumerator() = default;
    [[nodiscard]] virtual bool Finished() const = 0;
    // The next device, or null.
    virtual std::shared_ptr<Device> GetNext() = 0;
    // True when the host's device list changed since the enumerator was made.
    [[nodiscard]] virtual bool CountChanged() const = 0;
};

class Host {
public:
    virtual ~Host() = default;
    [[nodiscard]] virtual std::string Version() const = 0;
    [[nodiscard]] virtual std::string GetAppPath() const = 0;
    [[nodiscard]] virtual std::string GetIniSetting(const std::string& section, const std::string& key,
                                                    const std::string& fallback) const = 0;
    virtual void SaveIniSetting(const std::string& section, const std::string& key, const std::string& value) = 0;
    virtual void MoveSettings(const std::string& registryPath, const std::string& target) = 0;
    virtual void WriteLog(const std::string& source, const std::string& message) = 0;

    virtual std::unique_ptr<DeviceEnumerator> GetDeviceEnumerator() = 0;
    [[nodiscard]] virtual std::int32_t DeviceCount() const = 0;
    // Index generation (older hosts): indexes 1..DeviceCount.
    virtual std::shared_ptr<Device> GetDevice(std::int16_t index) = 0;
    virtual std::int16_t NewDevice(const std::string& name) = 0;
    [[nodiscard]] virtual std::int16_t DeviceExists(const std::string& code) const = 0;
    // Reference generation (newer hosts).
    virtual std::shared_ptr<Device> GetDeviceByRef(std::int32_t ref) = 0;
    virtual std::int32_t NewDeviceRef(const std::string& name) = 0;
    [[nodiscard]] virtual std::int32_t DeviceExistsRef(const std::string& code) const = 0;
    virtual void DeleteDevice(std::int32_t ref) = 0;

    [[nodiscard]] virtual std::int16_t DeviceStatus(const std::string& code) const = 0;
    [[nodiscard]] virtual std::int32_t DeviceValue(const std::string& code) const = 0;
    virtual void SetDeviceStatus(const std::string& code, std::int16_t status) = 0;
    virtual void SetDeviceValue(const std::string& code, std::int32_t value) = 0;
    [[nodiscard]] virtual bool ison(const std::string& code) const = 0;
    [[nodiscard]] virtual bool isoff(const std::string& code) const = 0;
    // Throws HostError when the script is there but cannot run or fails.
    virtual void RunEx(const std::string& scriptFile, const std::string& procedure, const std::string& parameter) = 0;
    virtual void Launch(const std::string& programPath, const std::string& parameters) = 0;
};

// The object handed to RegisterCallback.
class Callback {
public:
    virtual ~Callback() = default;
    // The COM type name of the object; "Setup" for the setup host.
    [[nodiscard]] virtual std::string typeName() const = 0;
    virtual std::shared_ptr<Host> GetHSIface() = 0;
    [[nodiscard]] virtual std::string name() const = 0;
    virtual void RegisterMenu(const std::string& title, const std::string& item) = 0;
    // Character code of a free house code, -1 when none is left.
    virtual std::int32_t GetNextFreeIOCode() = 0;
    virtual void X10Event(const std::string& addresses, const std::string& house, std::int16_t command,
                          const std::string& level, const std::string& extra) = 0;
    virtual void IREvent(std::int16_t code) = 0;
    virtual void ValueChangeEvent(const std::string& code, std::int32_t value) = 0;
    virtual void ForceFront(std::intptr_t windowHandle) = 0;
};

}  // namespace varnel

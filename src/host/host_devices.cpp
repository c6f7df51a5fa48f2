// The device calls of the embedded host, its device objects and enumerator.
#include <limits>

#include "host/embedded_host.h"

namespace varnel {

namespace {

using host::DeviceRecord;
using host::DeviceTable;

// A live view of one device: reads and writes go to the table at once, and every
// call on a device that has since been deleted fails like a call on a dead object.
class HostDevice final : public Device {
public:
    HostDevice(std::shared_ptr<DeviceTable> table, std::int32_t ref) : table_(std::move(table)), ref_(ref) {}

    std::string hc() const override { return rec().hc; }
    void set_hc(const std::string& v) override {
        write([&](DeviceRecord& r) { r.hc = v; });
    }
    std::string dc() const override { return rec().dc; }
    void set_dc(const std::string& v) override {
        write([&](DeviceRecord& r) { r.dc = v; });
    }
    std::string name() const override { return rec().name; }
    void set_name(const std::string& v) override {
        write([&](DeviceRecord& r) { r.name = v; });
    }
    std::string location() const override { return rec().location; }
    void set_location(const std::string& v) override {
        write([&](DeviceRecord& r) { r.location = v; });
    }
    std::string interface_() const override { return rec().interface_; }
    void set_interface(const std::string& v) override {
        write([&](DeviceRecord& r) { r.interface_ = v; });
    }
    std::int16_t iotype() const override { return rec().iotype; }
    void set_iotype(std::int16_t v) override {
        write([&](DeviceRecord& r) { r.iotype = v; });
    }
    std::int16_t Status() const override { return rec().Status; }
    void set_Status(std::int16_t v) override {
        write([&](DeviceRecord& r) { r.Status = v; }, host::Change::Value);
        if (table_->onStatus) table_->onStatus(*table_->find(ref_));
    }
    std::int32_t misc() const override { return rec().misc; }
    void set_misc(std::int32_t v) override {
        write([&](DeviceRecord& r) { r.misc = v; });
    }
    std::string iomisc() const override { return rec().iomisc; }
    void set_iomisc(const std::string& v) override {
        write([&](DeviceRecord& r) { r.iomisc = v; });
    }
    std::string dev_type_string() const override { return rec().dev_type_string; }
    void set_dev_type_string(const std::string& v) override {
        write([&](DeviceRecord& r) { r.dev_type_string = v; });
    }
    std::int32_t ref() const override { return rec().ref; }

private:
    const DeviceRecord& rec() const {
        const DeviceRecord* r = table_->find(ref_);
        if (!r) throw HostError("device " + std::to_string(ref_) + " no longer exists");
        return *r;
    }
    // A write that changes nothing is not a change: creators set every member, and each
    // definition change costs a save.
    template <typename F>
    void write(F&& f, host::Change what = host::Change::Definition) {
        DeviceRecord* r = table_->find(ref_);
        if (!r) throw HostError("device " + std::to_string(ref_) + " no longer exists");
        const DeviceRecord before = *r;
        f(*r);
        if (!(*r == before)) table_->changed(what);
    }

    std::shared_ptr<DeviceTable> table_;
    std::int32_t ref_;
};

// Walks the devices in reference order, which is creation order. Devices made while
// it walks are still met; deleted ones are passed over.
class HostEnumerator final : public DeviceEnumerator {
public:
    explicit HostEnumerator(std::shared_ptr<DeviceTable> table)
        : table_(std::move(table)), version_(table_->listVersion()) {}

    bool Finished() const override { return next() == nullptr; }
    std::shared_ptr<Device> GetNext() override {
        const DeviceRecord* r = next();
        if (!r) return nullptr;
        last_ = r->ref;
        return std::make_shared<HostDevice>(table_, r->ref);
    }
    bool CountChanged() const override { return table_->listVersion() != version_; }

private:
    const DeviceRecord* next() const {
        for (const DeviceRecord& r : table_->records())
            if (r.ref > last_) return &r;
        return nullptr;
    }

    std::shared_ptr<DeviceTable> table_;
    std::uint64_t version_;
    std::int32_t last_ = std::numeric_limits<std::int32_t>::min();
};

}  // namespace

std::shared_ptr<Device> EmbeddedHost::handle(std::int32_t ref) { return std::make_shared<HostDevice>(table_, ref); }

const host::DeviceRecord* EmbeddedHost::byCode(const std::string& code) const {
    auto i = table_->indexOfCode(code);
    return i ? &table_->records()[*i] : nullptr;
}

std::unique_ptr<DeviceEnumerator> EmbeddedHost::GetDeviceEnumerator() {
    return std::make_unique<HostEnumerator>(table_);
}

std::int32_t EmbeddedHost::DeviceCount() const { return static_cast<std::int32_t>(table_->size()); }

std::shared_ptr<Device> EmbeddedHost::GetDevice(std::int16_t index) {
    if (index < 1 || static_cast<std::size_t>(index) > table_->size())
        throw HostError("GetDevice: no device at index " + std::to_string(index));
    return handle(table_->records()[static_cast<std::size_t>(index) - 1].ref);
}

std::shared_ptr<Device> EmbeddedHost::GetDeviceByRef(std::int32_t ref) {
    if (!table_->find(ref)) throw HostError("GetDeviceByRef: no device with reference " + std::to_string(ref));
    return handle(ref);
}

std::int16_t EmbeddedHost::NewDevice(const std::string& name) {
    NewDeviceRef(name);
    return static_cast<std::int16_t>(table_->size());  // the table never holds more than 32767
}

std::int32_t EmbeddedHost::NewDeviceRef(const std::string& name) {
    try {
        return table_->add(name);
    } catch (const std::length_error& e) {
        throw HostError(std::string("NewDevice: ") + e.what());
    }
}

std::int16_t EmbeddedHost::DeviceExists(const std::string& code) const {
    auto i = table_->indexOfCode(code);
    return i ? static_cast<std::int16_t>(*i + 1) : std::int16_t{-1};
}

std::int32_t EmbeddedHost::DeviceExistsRef(const std::string& code) const {
    const DeviceRecord* r = byCode(code);
    return r ? r->ref : -1;
}

void EmbeddedHost::DeleteDevice(std::int32_t ref) { table_->remove(ref); }

std::int16_t EmbeddedHost::DeviceStatus(const std::string& code) const {
    const DeviceRecord* r = byCode(code);
    return r ? r->Status : std::int16_t{0};
}

std::int32_t EmbeddedHost::DeviceValue(const std::string& code) const {
    const DeviceRecord* r = byCode(code);
    return r ? r->value : 0;
}

void EmbeddedHost::SetDeviceStatus(const std::string& code, std::int16_t status) {
    auto i = table_->indexOfCode(code);
    if (!i) {
        record({.kind = host::HostEvent::Kind::StatusSet, .code = code, .value = status, .known = false});
        return;
    }
    table_->at(*i).Status = status;
    table_->changed(host::Change::Value);
    table_->onStatus(table_->at(*i));
}

bool EmbeddedHost::storeValue(const std::string& code, std::int32_t value) {
    auto i = table_->indexOfCode(code);
    if (!i) return false;
    if (table_->at(*i).value != value) {
        table_->at(*i).value = value;
        table_->changed(host::Change::Value);
    }
    return true;
}

void EmbeddedHost::SetDeviceValue(const std::string& code, std::int32_t value) {
    const bool known = storeValue(code, value);
    record({.kind = host::HostEvent::Kind::ValueSet, .code = code, .value = value, .known = known});
}

bool EmbeddedHost::ison(const std::string& code) const { return DeviceStatus(code) == kStatusOn; }
bool EmbeddedHost::isoff(const std::string& code) const { return DeviceStatus(code) == kStatusOff; }

}  // namespace varnel

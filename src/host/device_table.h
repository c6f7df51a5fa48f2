#pragma once
// The embedded host's devices: one record per device in creation order, which is
// also reference order (the order of the 1-based indexes of the older host calls).
#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::host {

struct DeviceRecord {
    std::int32_t ref = 0;
    std::string hc{}, dc{}, name{}, location{}, interface_{}, iomisc{}, dev_type_string{};
    std::int16_t iotype = 0;
    std::int16_t Status = 0;
    std::int32_t misc = 0;
    std::int32_t value = 0;

    [[nodiscard]] std::string code() const { return hc + dc; }
    bool operator==(const DeviceRecord&) const = default;
};

// What a change touched: the devices and what they are, or only a status or value.
enum class Change { Definition, Value };

class DeviceTable {
public:
    // The older host calls count devices in 16 bits.
    static constexpr std::size_t kMaxDevices = 32767;
    // The highest reference a device file may hold, so that a full table's worth of
    // new devices always finds a reference above it.
    static constexpr std::int32_t kMaxRef = std::numeric_limits<std::int32_t>::max() - std::int32_t{kMaxDevices};

    // `capacity` below kMaxDevices: a host that is full sooner.
    explicit DeviceTable(std::int32_t firstRef, std::size_t capacity = kMaxDevices)
        : capacity_(std::min(capacity, kMaxDevices)), nextRef_(firstRef) {}

    // Adds a device with `name` and an empty code. Throws std::length_error when the
    // table or the reference range is full.
    std::int32_t add(const std::string& name);
    // False when there was no such device.
    bool remove(std::int32_t ref);

    [[nodiscard]] const DeviceRecord* find(std::int32_t ref) const;
    DeviceRecord* find(std::int32_t ref);
    // 0-based position of the first device whose code is `code`; an empty code never matches.
    [[nodiscard]] std::optional<std::size_t> indexOfCode(std::string_view code) const;
    [[nodiscard]] bool houseCodeUsed(char hc) const;

    [[nodiscard]] const std::vector<DeviceRecord>& records() const { return records_; }
    DeviceRecord& at(std::size_t index) { return records_.at(index); }
    [[nodiscard]] std::size_t size() const { return records_.size(); }
    [[nodiscard]] std::int32_t nextRef() const { return nextRef_; }
    // Counts additions and removals, for the enumerators' CountChanged.
    [[nodiscard]] std::uint64_t listVersion() const { return listVersion_; }

    // Replaces the whole content (loading); refs are never handed out again below
    // `nextRef` nor at or below any loaded ref.
    void load(std::vector<DeviceRecord> records, std::int32_t nextRef);

    // Called after every change, additions, removals and member writes alike.
    std::function<void(Change)> onChange;
    void changed(Change what);
    // Called after a device's status was written, whichever call wrote it.
    std::function<void(const DeviceRecord&)> onStatus;

private:
    std::vector<DeviceRecord> records_;
    std::size_t capacity_;
    std::int32_t nextRef_;
    std::uint64_t listVersion_ = 0;
};

}  // namespace varnel::host

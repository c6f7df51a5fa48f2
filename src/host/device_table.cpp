#include "host/device_table.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace varnel::host {

std::int32_t DeviceTable::add(const std::string& name) {
    if (records_.size() >= capacity_) throw std::length_error("device table full");
    if (nextRef_ == std::numeric_limits<std::int32_t>::max()) throw std::length_error("device references used up");
    DeviceRecord r;
    r.ref = nextRef_++;
    r.name = name;
    records_.push_back(std::move(r));
    ++listVersion_;
    changed(Change::Definition);
    return records_.back().ref;
}

bool DeviceTable::remove(std::int32_t ref) {
    auto it = std::find_if(records_.begin(), records_.end(), [&](const DeviceRecord& r) { return r.ref == ref; });
    if (it == records_.end()) return false;
    records_.erase(it);
    ++listVersion_;
    changed(Change::Definition);
    return true;
}

const DeviceRecord* DeviceTable::find(std::int32_t ref) const {
    auto it = std::find_if(records_.begin(), records_.end(), [&](const DeviceRecord& r) { return r.ref == ref; });
    return it == records_.end() ? nullptr : &*it;
}

DeviceRecord* DeviceTable::find(std::int32_t ref) { return const_cast<DeviceRecord*>(std::as_const(*this).find(ref)); }

std::optional<std::size_t> DeviceTable::indexOfCode(std::string_view code) const {
    if (code.empty()) return std::nullopt;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const DeviceRecord& r = records_[i];
        if (r.hc.size() + r.dc.size() == code.size() && code.starts_with(r.hc) && code.ends_with(r.dc)) return i;
    }
    return std::nullopt;
}

bool DeviceTable::houseCodeUsed(char hc) const {
    return std::any_of(records_.begin(), records_.end(),
                       [&](const DeviceRecord& r) { return !r.code().empty() && r.code().front() == hc; });
}

void DeviceTable::load(std::vector<DeviceRecord> records, std::int32_t nextRef) {
    records_ = std::move(records);
    // Enumerators walk in reference order, so the table is kept in it.
    std::stable_sort(records_.begin(), records_.end(),
                     [](const DeviceRecord& a, const DeviceRecord& b) { return a.ref < b.ref; });
    nextRef_ = std::max(nextRef_, nextRef);
    for (const DeviceRecord& r : records_)
        if (r.ref >= nextRef_) nextRef_ = r.ref == std::numeric_limits<std::int32_t>::max() ? r.ref : r.ref + 1;
    ++listVersion_;
}

void DeviceTable::changed(Change what) {
    if (onChange) onChange(what);
}

}  // namespace varnel::host

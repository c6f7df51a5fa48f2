#pragma once
// Unit mappings: one umap per module that has host devices, kept as a
// collection plus a house code lookup, and recorded as the "mappings" text
// ("unit!type!hc!invert," per module, concatenated).
#include <string>
#include <string_view>

#include "devices/device_state.h"

namespace varnel {

// One entry of the mappings text, trailing "," included.
std::string mappingEntry(std::string_view unit, std::string_view type, std::string_view hc, std::string_view invert);
// True when `text` already has an entry for this unit and type (compared as text).
bool hasMappingEntry(std::string_view text, std::string_view unit, std::string_view type);
// Appends the entry a point device gives: its descriptor (`iomisc`) and house code.
// The first device met of a unit decides the unit's house code and invert flag;
// `defaultInvert` stands in for a descriptor without an invert field.
void addDeviceMapping(std::string& text, std::string_view iomisc, std::string_view hc, std::string_view defaultInvert);
// Replaces the collection and the lookup with the entries of `text`.
void buildMappings(DeviceLayer& ctx, std::string_view text);
// The first mapping of `unit`, or null.
const umap* mappingOfUnit(const DeviceLayer& ctx, int unit);

// A number written as the host writes it, without a leading blank ("3", "-1", "2.5").
std::string numText(double v);

}  // namespace varnel

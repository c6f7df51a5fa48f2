#pragma once
// Which house codes the embedded host offers for new devices.
//
// The order: 'Q' to 'Z', then '[' '\' ']' '^' '_' '`', 'a' to 'z', '{' '|' '}' '~',
// then "#$%&*+-./:;<=>?@". Never the X10 letters 'A' to 'P' (real X10 devices own
// them), never digits, blanks, quotes, '!' or ',' (the plug-in's mapping and point
// descriptor texts are separated by '!' and ',').
#include <cstdint>
#include <vector>

#include "host/device_table.h"

namespace varnel::host {

std::vector<int> defaultFreeCodeOrder();

// The first code of `order` that no device's code starts with and that is a
// single byte outside 'A'..'P'; -1 when none is left.
std::int32_t nextFreeCode(const std::vector<int>& order, const DeviceTable& devices);

}  // namespace varnel::host

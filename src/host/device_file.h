#pragma once
// The file in which the embedded host keeps its devices between runs.
//
//   varnel host devices 1
//   next<TAB>40007
//   dev<TAB>ref<TAB>hc<TAB>dc<TAB>name<TAB>location<TAB>interface<TAB>iotype<TAB>Status<TAB>value<TAB>misc<TAB>iomisc<TAB>dev_type_string
//
// One device per line, LF line ends; text fields escape backslash, tab, CR and LF
// as \\ \t \r \n. The first line names the format and its version. A device code
// (hc and dc together) is held by one device at most: a later line with the same
// code is skipped as a problem.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/device_table.h"

namespace varnel::host {

struct DeviceFileContent {
    bool formatKnown = false;  // false: not this format or another version; nothing was read
    std::vector<DeviceRecord> records;
    std::int32_t nextRef = 0;
    // A "next" line beyond the references a table can hand out; nextRef is then 0 and
    // the table goes on after the highest reference in use.
    std::optional<std::int32_t> nextRefRepaired;
    std::vector<std::string> problems;  // one text per skipped line
};

std::string writeDeviceFile(const DeviceTable& table);
// Never throws for any content: what cannot be read is skipped and described.
DeviceFileContent readDeviceFile(std::string_view text);

}  // namespace varnel::host

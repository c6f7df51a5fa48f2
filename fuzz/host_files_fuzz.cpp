// Arbitrary bytes as the embedded host's device file and settings file.
#include <cstdint>
#include <string>
#include <string_view>

#include "host/device_file.h"
#include "host/ini_text.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto content = host::readDeviceFile(text);
    if (!content.formatKnown && !content.records.empty()) __builtin_trap();

    (void)host::iniGet(text, "hspi_tarnwick", "comport");
    const std::string written = host::iniSet(text, "hspi_tarnwick", "comport", "3");
    const auto back = host::iniGet(written, "hspi_tarnwick", "comport");
    if (!back || *back != "3") __builtin_trap();
    return 0;
}

#pragma once
// The port number setting counts from 1 as COM ports do: COM1 is /dev/ttyS0.
#include <string>

namespace varnel::app {

[[nodiscard]] inline std::string serialDeviceForPort(int number) {
    if (number < 1 || number > 256) return {};
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace varnel::app

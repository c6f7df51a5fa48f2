#pragma once
// The port number setting counts from 1 as COM ports do: COM1 is /dev/ttyS0.
#include <string>

#include "support/settings.h"

namespace varnel::app {

[[nodiscard]] inline std::string serialDeviceForPort(int number) {
    if (number < setting::kComport.min || number > setting::kComport.max) return {};
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace varnel::app

#pragma once
// The one-line state of a run, for systemd's STATUS= (what `systemctl status` shows).
#include <cstddef>
#include <string>

#include "support/context.h"

namespace varnel::app {

[[nodiscard]] std::string serviceStatus(const Context& ctx, std::size_t devices);

}  // namespace varnel::app

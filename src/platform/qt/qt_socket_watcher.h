#pragma once
// Socket readiness from the Qt event loop (QSocketNotifier).
#include <memory>

#include "platform/socket_watch.h"

namespace varnel {

class QtSocketWatcher final : public SocketWatcher {
public:
    [[nodiscard]] std::unique_ptr<SocketWatch> watch(int fd) override;
};

}  // namespace varnel

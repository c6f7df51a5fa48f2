#include "sim/config.h"

namespace varnel::sim {

ControllerConfig ControllerConfig::typical() {
    ControllerConfig c;
    c.modules = {
        {1, ModuleType::Secu16}, {2, ModuleType::Secu16I}, {3, ModuleType::Relay08}, {4, ModuleType::Secu16Ir}};
    return c;
}

}  // namespace varnel::sim

// Arbitrary bytes as the IR map file: read, looked up, saved and read back unchanged.
#include <string>
#include <vector>

#include "ir_harness.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::IrHarness h;
    h.reset();
    h.write(kIrMapFile, fuzz::asText(data, size));

    ReadIRMap(h.rig.ctx);
    BuildIRLookup(h.rig.ctx);
    const IrState& ir = h.rig.ctx.ir;
    fuzz::require(ir.map.size() == kIrLabelCount);
    for (int i = kIrLabelCount; i < kIrLookupCount; ++i) fuzz::require(ir.lookup[static_cast<std::size_t>(i)] == i);

    const std::vector<std::string> before = ir.map;
    SaveIRMap(h.rig.ctx);
    ReadIRMap(h.rig.ctx);
    fuzz::require(ir.map == before);
    fuzz::require(h.rig.host->log.size() <= static_cast<std::size_t>(kIrLabelCount));
    return 0;
}

// Arbitrary bytes as the IR label file, read into the tables and the dictionary.
#include <string>

#include "ir_harness.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::IrHarness h;
    static const bool zonesWritten = [] {
        std::string zones;
        for (int g = 1; g <= 14; ++g) zones += "\"" + std::to_string(g) + "\"\r\n";
        h.write(kIrZoneFile, zones);
        return true;
    }();
    (void)zonesWritten;
    h.reset();
    h.write(kIrLabelFile, fuzz::asText(data, size));

    fuzz::require(ReadIRCfg(h.rig.ctx));
    SetupIRDictionary(h.rig.ctx);

    const IrState& ir = h.rig.ctx.ir;
    fuzz::require(ir.labels.size() == kIrLabelCount);
    fuzz::require(ir.dictionary.size() <= kIrNamedGroups * kIrLabelsPerGroup);
    for (const auto& [key, value] : ir.dictionary) {
        fuzz::require(key.find('"') == std::string::npos);
        const auto comma = value.find(',');
        fuzz::require(comma != std::string::npos);
        const int label = std::stoi(value.substr(0, comma));
        fuzz::require(label >= 0 && label < kIrNamedGroups * kIrLabelsPerGroup);
    }
    return 0;
}

// Arbitrary bytes as the IR label file, read into the tables and the dictionary.
#include <algorithm>
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

    // Only a file past the read limits may be refused.
    std::size_t longest = 0, run = 0;
    for (std::size_t i = 0; i < size; ++i) {
        run = data[i] == '\n' ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    const bool read = ReadIRCfg(h.rig.ctx);
    fuzz::require(read || longest > kIrFileLimits.maxLineBytes);
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

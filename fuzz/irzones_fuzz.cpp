// Arbitrary bytes as the IR zone file beside a full label file.
#include <string>

#include "ir_harness.h"
#include "support/text.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::IrHarness h;
    static const bool labelsWritten = [] {
        std::string lbl;
        for (int g = 1; g <= 32; ++g) lbl += "\"Group" + std::to_string(g) + "\"\r\n";
        for (int k = 0; k < kIrLabelCount; ++k) lbl += "\"Key" + std::to_string(k) + "\"\r\n";
        h.write(kIrLabelFile, lbl);
        return true;
    }();
    (void)labelsWritten;
    h.reset();
    h.write(kIrZoneFile, fuzz::asText(data, size));

    SetupIRDictionary(h.rig.ctx);

    const IrState& ir = h.rig.ctx.ir;
    fuzz::require(ir.dictionary.size() == kIrNamedGroups * kIrLabelsPerGroup);
    // A short zone file is reported once per missing group line and nothing else is.
    fuzz::require(h.rig.host->log.size() <= static_cast<std::size_t>(kIrNamedGroups));
    for (const auto& [key, value] : ir.dictionary) {
        const std::string zone = value.substr(value.find(',') + 1);
        fuzz::require(zone == "0" || (zone != "17" && isNumeric(zone)));
    }
    return 0;
}

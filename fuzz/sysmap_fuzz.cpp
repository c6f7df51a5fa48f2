// Arbitrary bytes as a CMAX project file: read into the image, entries changed in every
// section found, and synchronised both ways through the file on disk.
//
// Invariants: an unchanged image renders the input byte for byte; changing entries never
// changes the file's line structure; a host-to-System-Map run that changes nothing leaves
// the file exactly as it was.
#include <array>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ir_harness.h"
#include "sysmap/project_file.h"
#include "sysmap/synchronize.h"

using namespace varnel;

namespace {

struct Shape {
    std::size_t records;
    std::vector<LineKind> kinds;
};

Shape shapeOf(const SystemMapImage& img) {
    Shape s{img.size(), {}};
    for (const MapRecord& r : img.records()) s.kinds.push_back(r.kind);
    return s;
}

void changeEntries(SystemMapImage& img, std::int32_t header, int count, const std::string& line) {
    for (int i = 0; i <= count + 1; ++i) {
        try {
            img.setEntryLine(header, std::int64_t{header} + i, line);
        } catch (const std::exception&) {
            fuzz::require(false);
        }
    }
}

void pureRound(std::string_view bytes) {
    SystemMapImage img;
    if (img.parse(bytes)) return;
    fuzz::require(img.render() == bytes);
    const Shape before = shapeOf(img);

    for (const char* name : {"Variables", "X-10", "Infra-Red"})
        if (const auto h = img.findLocalSection(name)) changeEntries(img, *h, 256, "\t\t\tNew Name");
    for (int unit = 0; unit <= 128; ++unit)
        if (const auto h = img.findModuleSection(std::to_string(unit))) changeEntries(img, *h, 32, "\t\tM1 New Name");

    SystemMapImage again;
    fuzz::require(!again.parse(img.render()).has_value());
    const Shape after = shapeOf(again);
    fuzz::require(after.records == before.records && after.kinds == before.kinds);
}

struct SyncHarness {
    fuzz::IrHarness ir;
    std::filesystem::path project = ir.rig.dir.path() / "fuzz.prj";

    // A label file makes the System Map side write its synchronized copy. No zone file:
    // its names would rightly change the project, and this run must change nothing.
    SyncHarness() { ir.write("irlbl.cfg", "\"TV\"\r\n"); }

    // Every kind of entry asked for; the stub host has no devices to offer or take names.
    void arm() {
        PluginState& ctx = ir.rig.ctx;
        ctx.devices = DeviceModel{};
        ctx.ir = IrState{};
        ctx.devices.varsHouseCode = '#';
        ctx.devices.varSelected.fill(kTrue);
        for (std::int16_t unit = 1; unit <= 4; ++unit) {
            umap m;
            m.set_unit(unit);
            m.set_utype(std::array<std::int16_t, 4>{11, 12, 13, 6}[static_cast<std::size_t>(unit - 1)]);
            m.set_hc(std::string(1, static_cast<char>('Z' - unit)));
            ctx.devices.mappings.push_back(m);
            ctx.devices.pointSelected[static_cast<std::size_t>(unit)].fill(kTrue);
        }
        ctx.ir.groups.fill("G");
        for (std::size_t i = 0; i < ctx.ir.lookup.size(); ++i) ctx.ir.lookup[i] = static_cast<std::int16_t>(i);
        ir.rig.host->log.clear();
        ir.rig.prompts.shown.clear();
    }
};

void fileRound(std::string_view bytes) {
    static SyncHarness h;
    h.arm();
    {
        std::ofstream out(h.project, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const SyncIncludes all{.variables = true, .x10 = true, .io = true, .ir = true};
    Synchronize(h.ir.rig.ctx, true, h.project.string(), all);
    const SyncLog log = Synchronize(h.ir.rig.ctx, false, h.project.string(), all);
    if (log.readFailed) return;
    fuzz::require(log.lines.empty());
    std::ifstream in(h.project, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fuzz::require(after == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::asText(data, size);
    pureRound(bytes);
    fileRound(bytes);
    return 0;
}

// The variables and I/O matrix: which variables and module points have host devices.
#include <string_view>

#include "devices/device_model.h"
#include "devices/mappings.h"
#include "platform/prompts.h"
#include "support/errors.h"
#include "support/text.h"
#include "window/frm_config.h"

namespace varnel {

namespace {

constexpr int kRows = 16;

// "<hc><dc> <location> <name>" of the device with `code`, or nothing when the host has none.
std::optional<std::string> deviceTip(DeviceLayer& ctx, const std::string& code) {
    const std::int32_t ref = hsDeviceExists(ctx, code);
    if (ref < 0) return std::nullopt;
    const auto dev = GetHSDevice(ctx, ref);
    if (!dev) return std::nullopt;
    return dev->hc() + dev->dc() + " " + dev->location() + " " + dev->name();
}

}  // namespace

std::string typeTag(int moduleType) {
    switch (moduleType) {
        case kSecu16IR: return " IR";
        case kSecu16: return " 16";
        case kSecu16I: return "16I";
        case kRelay08: return "RLY";
        default: return "   ";
    }
}

void FrmConfig::houseCodeLabels() {
    const int code = ctx_.devices.varsHouseCode;
    if (code == 0) {
        view_.setText("aVariableHouseCode1", "No House Code");
        view_.setText("aVariableHouseCode2", "No House Code");
        return;
    }
    view_.setText("aVariableHouseCode1", "House Code = " + std::string(1, static_cast<char>(code)));
    view_.setText("aVariableHouseCode2", "House Code = " + std::string(1, static_cast<char>(code + 1)));
}

void FrmConfig::fillVariables() {
    auto& selected = ctx_.devices.varSelected;
    for (int k = 0; k < 128; ++k) {
        const std::string box = controlName("Check1", k);
        const std::string tip = "Variable " + std::to_string(k);
        auto& entry = selected[static_cast<std::size_t>(k)];
        std::optional<std::string> found;
        if (entry != kFalse) found = deviceTip(ctx_, variableCode(ctx_, k));
        view_.setChecked(box, found.has_value());
        view_.setToolTip(box, found ? tip + ":" + *found : tip);
        // A device the host dropped is created again only if the user ticks it again.
        if (!found) entry = kFalse;
    }
}

void FrmConfig::fillModuleRow(int row, int unit, const umap& m) {
    view_.setText(controlName("aIOHouse", row), m.hc());
    view_.setChecked(controlName("aInvert", row), m.invert() != 0);
    view_.setEnabled(controlName("aInvert", row), true);
    view_.setVisible(controlName("aInvert", row), true);
    const std::string tag = typeTag(m.utype());
    view_.setText(controlName("aIOUnit", row + 32), tag.substr(0, 1));
    view_.setText(controlName("aIOUnit", row + 16), tag.substr(1, 1));
    view_.setText(controlName("aIOUnit", row), tag.substr(2, 1));
    for (int p = 0; p < 16; ++p) {
        const std::string box = controlName("IOPoint", 16 * row + p);
        // Numbered as the heads above the boxes number them.
        const std::string tip = "IO Point " + std::to_string(p + 1);
        std::optional<std::string> found;
        if (pointSelected(ctx_, unit, p)) found = deviceTip(ctx_, m.hc() + std::to_string(p + 1));
        view_.setChecked(box, found.has_value());
        view_.setToolTip(box, found ? tip + ":" + *found : tip);
        if (!found) setPointSelected(ctx_, unit, p, false);
        const bool shown = m.utype() != kRelay08 || p < 8;
        view_.setEnabled(box, shown);
        view_.setVisible(box, shown);
    }
}

void FrmConfig::hideRow(int row) {
    for (int p = 0; p < 16; ++p) {
        view_.setEnabled(controlName("IOPoint", 16 * row + p), false);
        view_.setVisible(controlName("IOPoint", 16 * row + p), false);
    }
    view_.setEnabled(controlName("aInvert", row), false);
    view_.setVisible(controlName("aInvert", row), false);
}

bool FrmConfig::LoadVariablesMatrix() {
    bool result = false;
    reportStep(ctx_, "LoadVariablesMatrix", 1, [&] {
        houseCodeLabels();
        if (ctx_.devices.varsHouseCode != 0) fillVariables();
        fillIoGrid();
        result = true;
    });
    return result;
}

void FrmConfig::fillIoGrid() {
    rowOfUnit_.clear();
    for (int r = 0; r < kRows; ++r) view_.setText(controlName("aIOHouse", r), "");
    for (int i = 0; i < 3 * kRows; ++i) view_.setText(controlName("aIOUnit", i), "");
    int row = 0;
    for (std::size_t line = 1; line < units_.size() && row < kRows; ++line) {
        const auto words = split(units_[line], ' ');
        if (words.size() < 2) continue;
        const auto n = parseNumber(words[1]);
        if (!n) continue;
        const int unit = static_cast<int>(*n);
        const umap* m = mappingOfUnit(ctx_, unit);
        if (m == nullptr) continue;
        fillModuleRow(row, unit, *m);
        rowOfUnit_[unit] = row;
        ++row;
    }
    for (int r = row; r < kRows; ++r) hideRow(r);
    // Shown again when a create gave the first module its row.
    for (int i = 0; i < 4; ++i) view_.setVisible(controlName("Label8", i), row != 0);
    view_.setVisible("Line1", row != 0);
    for (int i = 10; i <= 25; ++i) view_.setVisible(controlName("Label2", i), row != 0);
    for (int i = 0; i < 2; ++i) view_.setVisible(controlName("Label9", i), row != 0);
}

std::array<bool, 16> FrmConfig::rowTicks(int unit, bool& invert) const {
    std::array<bool, 16> ticked{};
    invert = false;
    // A module the grid had no row for is handed over with nothing ticked.
    const int row = rowOfUnit(unit);
    if (row < 0) return ticked;
    for (int p = 0; p < 16; ++p)
        ticked[static_cast<std::size_t>(p)] = view_.checked(controlName("IOPoint", 16 * row + p));
    invert = view_.checked(controlName("aInvert", row));
    return ticked;
}

namespace {
// Off again on every way out of a creator, a failing one included.
class BusyCursor {
public:
    explicit BusyCursor(WindowView& view) : view_(view) { view_.setBusy(true); }
    ~BusyCursor() { view_.setBusy(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    WindowView& view_;
};
}  // namespace

void FrmConfig::CreateVariablesAndIO(std::uint8_t flags) {
    variablesChanged_ = false;
    reportStep(ctx_, "CreateVariablesAndIO List=", 1, [&] {
        for (const auto& line : units_) {
            const auto words = split(line, ' ');
            if (words.size() < 2) continue;
            const int n = static_cast<int>(numericValue(words[1]));
            if (n == 0) {
                if ((flags & kCreateVariables) == 0) continue;
                std::array<bool, 128> ticked{};
                for (int k = 0; k < 128; ++k)
                    ticked[static_cast<std::size_t>(k)] = view_.checked(controlName("Check1", k));
                const BusyCursor busy(view_);
                CreateVariableDevices(ctx_, ticked);
            } else if ((flags & kCreateIO) != 0 && moduleTypeOf(ctx_, n) != kSecu16IR) {
                // A module with devices but no row (past the sixteenth) shows no ticks to act on.
                if (rowOfUnit(n) < 0 && mappingOfUnit(ctx_, n) != nullptr) continue;
                bool invert = false;
                auto ticked = rowTicks(n, invert);
                {
                    const BusyCursor busy(view_);
                    CreateModuleDevices(ctx_, static_cast<std::int16_t>(n), ticked, invert);
                }
                // A RELAY-08 loses its upper eight ticks; the grid shows what was kept.
                if (const int row = rowOfUnit(n); row >= 0)
                    for (int p = 0; p < 16; ++p)
                        view_.setChecked(controlName("IOPoint", 16 * row + p), ticked[static_cast<std::size_t>(p)]);
            }
        }
        ReadDeviceSettings(ctx_);
        if (!ctx_.controller.ioStarted)
            ctx_.platform.prompts.message(
                "To use variables and I/O inputs/outputs, make sure the Ocelot is added as an "
                "I/O device in the host options",
                PromptStyle::Exclamation);
    });
}

void FrmConfig::createButton(std::uint8_t flags) {
    if (!matricesLoaded_) return;
    CreateVariablesAndIO(flags);
    houseCodeLabels();
    // A module's first create gives it a row, and tool tips name the devices made.
    reportStep(ctx_, "LoadVariablesMatrix", 1, [&] {
        if ((flags & kCreateVariables) != 0 && ctx_.devices.varsHouseCode != 0) fillVariables();
        if ((flags & kCreateIO) != 0) fillIoGrid();
    });
}

}  // namespace varnel

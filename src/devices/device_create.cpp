// Creating and deleting the host devices the user chose in the window.
#include <optional>

#include "devices/device_model.h"
#include "devices/mappings.h"
#include "support/errors.h"
#include "support/settings.h"
#include "support/text.h"

namespace varnel {

namespace {

struct PointKind {
    const char* procedure;
    std::int16_t moduleType;
    const char* namePrefix;
    int nameOffset;   // subtracted from the device number for the name
    int indexOffset;  // subtracted from the device number for the point index
    const char* locationPrefix;
    std::int16_t iotype;
    bool input;  // inputs carry misc bit 16
    const char* typeString;
};

constexpr PointKind kInput16{.procedure = "CreateInput16",
                             .moduleType = kSecu16,
                             .namePrefix = "Input ",
                             .nameOffset = 0,
                             .indexOffset = 1,
                             .locationPrefix = "Secu16 Unit ",
                             .iotype = 0,
                             .input = true,
                             .typeString = "Interface I/O"};
constexpr PointKind kOutput16{.procedure = "CreateOutput16",
                              .moduleType = kSecu16,
                              .namePrefix = "Relay Output ",
                              .nameOffset = 8,
                              .indexOffset = 9,
                              .locationPrefix = "Secu16 Unit ",
                              .iotype = 1,
                              .input = false,
                              .typeString = "Interface Output"};
constexpr PointKind kInput16i{.procedure = "CreateInput16i",
                              .moduleType = kSecu16I,
                              .namePrefix = "Input ",
                              .nameOffset = 0,
                              .indexOffset = 1,
                              .locationPrefix = "Secu16i Unit ",
                              .iotype = 0,
                              .input = true,
                              .typeString = "Interface I/O"};
constexpr PointKind kOutputRly{.procedure = "CreateOutputRly",
                               .moduleType = kRelay08,
                               .namePrefix = "Relay Output ",
                               .nameOffset = 0,
                               .indexOffset = 1,
                               .locationPrefix = "Rly08 Unit ",
                               .iotype = 1,
                               .input = false,
                               .typeString = "Interface Output"};

std::string letterOf(std::int32_t code) { return std::string(1, static_cast<char>(code)); }

// A free house code from the host; nothing (after the message box) when none
// is left or the host offers something that is not a character code.
std::optional<std::int32_t> freeHouseCode(Context& ctx, std::int32_t highest) {
    std::int32_t code = -1;
    skipStep(ctx, 1, [&] {
        if (!ctx.host.callback) throw HostError("Object variable not set");
        code = ctx.host.callback->GetNextFreeIOCode();
    });
    clearPending(ctx);
    if (code < 1 || code > highest) {
        ctx.platform.prompts.message(kNoFreeCodes, PromptStyle::Critical);
        return std::nullopt;
    }
    return code;
}

std::int32_t createPoint(Context& ctx, const PointKind& kind, const std::string& code, std::int16_t unit,
                         std::int16_t invert) {
    std::int32_t ref = -1;
    reportStep(ctx, kind.procedure, 1, [&] {
        ref = hsDeviceExists(ctx, code);
        const std::string unitText = std::to_string(unit);
        const double number = code.empty() ? 0.0 : numericValue(std::string_view(code).substr(1));
        const std::string descriptor = unitText + "!" + std::to_string(kind.moduleType) + "!" +
                                       numText(number - kind.indexOffset) + "!" + std::to_string(invert);
        if (ref > -1) {
            // Re-creating only refreshes the descriptor, so a changed invert box takes effect.
            if (auto dev = GetHSDevice(ctx, ref)) dev->set_iomisc(descriptor);
            return;
        }
        ref = NewHSDevice(ctx, kind.namePrefix + numText(number - kind.nameOffset));
        auto dev = GetHSDevice(ctx, ref);
        if (!dev) throw HostError("Object variable not set");
        dev->set_location(kind.locationPrefix + unitText);
        dev->set_hc(code.substr(0, 1));
        dev->set_dc(code.size() > 1 ? code.substr(1) : std::string{});
        dev->set_iotype(kind.iotype);
        dev->set_iomisc(descriptor);
        dev->set_interface(ctx.devices.interfaceName);
        dev->set_Status(17);
        dev->set_misc(kind.input ? (ctx.host.miscBase | 16) : ctx.host.miscBase);
        dev->set_dev_type_string(kind.typeString);
    });
    return ref;
}

// Creates the ticked variables of one house letter and deletes the others.
// Returns whether one was created.
bool applyVariableLetter(Context& ctx, const std::string& letter, int first, const std::array<bool, 128>& ticked) {
    bool created = false;
    for (int n = first; n < first + 64; ++n) {
        const std::string code = letter + std::to_string(n - first + 1);
        auto& selected = ctx.devices.varSelected[static_cast<std::size_t>(n)];
        if (ticked[static_cast<std::size_t>(n)]) {
            skipStep(ctx, 2, [&] { CreateDevice(ctx, code, static_cast<std::int16_t>(n)); });
            selected = kTrue;
            created = true;
        } else {
            skipStep(ctx, 2, [&] { DeleteHSDevice(ctx, code); });
            selected = kFalse;
        }
    }
    clearPending(ctx);
    return created;
}

}  // namespace

std::int32_t CreateDevice(Context& ctx, const std::string& code, std::int16_t varnum) {
    std::int32_t ref = -1;
    reportStep(ctx, "CreateDevice", 1, [&] {
        ref = hsDeviceExists(ctx, code);
        if (ref != -1) return;
        ref = NewHSDevice(ctx, "Variable " + std::to_string(varnum));
        auto dev = GetHSDevice(ctx, ref);
        if (!dev) throw HostError("Object variable not set");
        dev->set_location("Ocelot");
        dev->set_hc(code.substr(0, 1));
        dev->set_dc(code.size() > 1 ? code.substr(1) : std::string{});
        dev->set_interface(ctx.devices.interfaceName);
        dev->set_iotype(3);
        dev->set_Status(17);
        dev->set_misc(ctx.host.miscBase);
        dev->set_dev_type_string("Interface Variable");
    });
    return ref;
}

std::int32_t CreateInput16(Context& ctx, const std::string& code, std::int16_t unit, std::int16_t invert) {
    return createPoint(ctx, kInput16, code, unit, invert);
}
std::int32_t CreateOutput16(Context& ctx, const std::string& code, std::int16_t unit, std::int16_t invert) {
    return createPoint(ctx, kOutput16, code, unit, invert);
}
std::int32_t CreateInput16i(Context& ctx, const std::string& code, std::int16_t unit, std::int16_t invert) {
    return createPoint(ctx, kInput16i, code, unit, invert);
}
std::int32_t CreateOutputRly(Context& ctx, const std::string& code, std::int16_t unit, std::int16_t invert) {
    return createPoint(ctx, kOutputRly, code, unit, invert);
}

void CreateVariableDevices(Context& ctx, const std::array<bool, 128>& ticked) {
    auto& dm = ctx.devices;
    std::string letter = FindVarsHouseCode(ctx);
    bool newCode = false;
    if (letter.empty()) {
        // The second letter is the next character, so the last one cannot be taken.
        auto code = freeHouseCode(ctx, 254);
        if (!code) return;
        // The host may offer the backquote, which its own codes avoid; use # (and $).
        if (*code == 96) *code = 35;
        dm.varsHouseCode = static_cast<std::int16_t>(*code);
        WriteSetting(ctx, "base_var", std::to_string(*code));
        letter = letterOf(*code);
        newCode = true;
    } else {
        dm.varsHouseCode = static_cast<unsigned char>(letter[0]);
    }

    if (!applyVariableLetter(ctx, letter, 0, ticked)) {
        // Keeps the letter taken in the host even when no variable is wanted.
        skipStep(ctx, 3, [&] { CreateDevice(ctx, letter + "1", 0); });
        dm.varSelected[0] = kTrue;
    }

    if (newCode) {
        std::int32_t more = -1;
        skipStep(ctx, 4, [&] {
            if (!ctx.host.callback) throw HostError("Object variable not set");
            more = ctx.host.callback->GetNextFreeIOCode();
        });
        if (more == -1) {
            clearPending(ctx);
            ctx.platform.prompts.message(kNoFreeCodes, PromptStyle::Critical);
            return;
        }
    }

    letter = letterOf(dm.varsHouseCode + 1);
    if (!applyVariableLetter(ctx, letter, 64, ticked)) {
        skipStep(ctx, 6, [&] { CreateDevice(ctx, letter + "64", 127); });
        dm.varSelected[127] = kTrue;
    }
    clearPending(ctx);
}

void CreateModuleDevices(Context& ctx, std::int16_t unit, std::array<bool, 16>& ticked, bool invert) {
    const int type = moduleTypeOf(ctx, unit);
    if (type != kSecu16 && type != kSecu16I && type != kRelay08) return;

    std::string letter;
    skipStep(ctx, 2, [&] {
        forEachHostDevice(ctx, [&](Device& dev) {
            if (!isOwnDevice(ctx, dev)) return true;
            const std::string iomisc = dev.iomisc();
            const auto u = parseNumber(field(iomisc, '!', 1));
            const auto t = parseNumber(field(iomisc, '!', 2));
            if (!u || !t || *u != unit || *t != type) return true;
            letter = dev.hc();
            return false;
        });
    });
    clearPending(ctx);
    if (letter.empty()) {
        auto code = freeHouseCode(ctx, 255);
        if (!code) return;
        letter = letterOf(*code);
    }

    const std::int16_t inv = invert ? 1 : 0;
    if (type == kRelay08)
        for (int p = 8; p < 16; ++p) ticked[static_cast<std::size_t>(p)] = false;

    using Creator = std::int32_t (*)(Context&, const std::string&, std::int16_t, std::int16_t);
    const auto creatorFor = [type](int p) -> Creator {
        switch (type) {
            case kSecu16: return p < 8 ? CreateInput16 : CreateOutput16;
            case kSecu16I: return CreateInput16i;
            default: return CreateOutputRly;
        }
    };

    bool created = false;
    for (int p = 0; p < 16; ++p) {
        const std::string code = letter + std::to_string(p + 1);
        if (ticked[static_cast<std::size_t>(p)]) {
            skipStep(ctx, 4, [&] { creatorFor(p)(ctx, code, unit, inv); });
            setPointSelected(ctx, unit, p, true);
            created = true;
        } else {
            skipStep(ctx, 4, [&] { DeleteHSDevice(ctx, code); });
            setPointSelected(ctx, unit, p, false);
        }
    }
    if (!created) {
        // Keeps the module's letter taken in the host.
        skipStep(ctx, 5, [&] { creatorFor(0)(ctx, letter + "1", unit, inv); });
        setPointSelected(ctx, unit, 0, true);
    }
    clearPending(ctx);
}

void CreateLeopardDevice(Context& ctx) {
    bool exists = false;
    skipStep(ctx, 1, [&] {
        forEachHostDevice(ctx, [&](Device& dev) {
            if (isOwnDevice(ctx, dev) && dev.iomisc() == "leopard") exists = true;
            return !exists;
        });
    });
    clearPending(ctx);
    if (exists) {
        ctx.platform.prompts.message("Leopard device is already created", PromptStyle::Exclamation);
        return;
    }
    auto code = freeHouseCode(ctx, 255);
    if (!code) return;
    const std::string letter = letterOf(*code);
    ctx.switches.leopardVar = letter;
    WriteSetting(ctx, "leopard_var", letter);

    std::int32_t ref = -1;
    std::shared_ptr<Device> dev;
    skipStep(ctx, 3, [&] {
        ref = NewHSDevice(ctx, "Leopard Screen");
        dev = GetHSDevice(ctx, ref);
    });
    if (dev) {
        skipStep(ctx, 3, [&] { dev->set_location("Leopard"); });
        skipStep(ctx, 3, [&] { dev->set_hc(letter); });
        skipStep(ctx, 3, [&] { dev->set_dc("1"); });
        skipStep(ctx, 3, [&] { dev->set_interface(ctx.devices.interfaceName); });
        skipStep(ctx, 3, [&] { dev->set_iotype(3); });
        skipStep(ctx, 3, [&] { dev->set_Status(17); });
        skipStep(ctx, 3, [&] { dev->set_misc(ctx.host.miscBase | 16); });
        skipStep(ctx, 3, [&] { dev->set_iomisc("leopard"); });
        skipStep(ctx, 3, [&] { dev->set_dev_type_string("Interface Variable"); });
    }
    clearPending(ctx);
}

}  // namespace varnel

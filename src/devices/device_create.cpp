// Creating and deleting the host devices the user chose in the window.
#include <algorithm>
#include <array>
#include <optional>

#include "devices/device_model.h"
#include "devices/mappings.h"
#include "support/errors.h"
#include "support/host_access.h"
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
                             .iotype = kIoInput,
                             .input = true,
                             .typeString = "Interface I/O"};
constexpr PointKind kOutput16{.procedure = "CreateOutput16",
                              .moduleType = kSecu16,
                              .namePrefix = "Relay Output ",
                              .nameOffset = 8,
                              .indexOffset = 9,
                              .locationPrefix = "Secu16 Unit ",
                              .iotype = kIoOutput,
                              .input = false,
                              .typeString = "Interface Output"};
constexpr PointKind kInput16i{.procedure = "CreateInput16i",
                              .moduleType = kSecu16I,
                              .namePrefix = "Input ",
                              .nameOffset = 0,
                              .indexOffset = 1,
                              .locationPrefix = "Secu16i Unit ",
                              .iotype = kIoInput,
                              .input = true,
                              .typeString = "Interface I/O"};
constexpr PointKind kOutputRly{.procedure = "CreateOutputRly",
                               .moduleType = kRelay08,
                               .namePrefix = "Relay Output ",
                               .nameOffset = 0,
                               .indexOffset = 1,
                               .locationPrefix = "Rly08 Unit ",
                               .iotype = kIoOutput,
                               .input = false,
                               .typeString = "Interface Output"};

std::string letterOf(std::int32_t code) { return std::string(1, static_cast<char>(code)); }

// A free house code from the host; nothing (after the message box) when none
// is left or the host offers something that is not a character code.
std::optional<std::int32_t> freeHouseCode(DeviceLayer& ctx, std::int32_t highest) {
    std::int32_t code = -1;
    skipStep(ctx, 1, [&] { code = requireCallback(ctx.host).GetNextFreeIOCode(); });
    clearPending(ctx);
    if (code < 1 || code > highest) {
        ctx.platform.prompts.message(kNoFreeCodes, PromptStyle::Critical);
        return std::nullopt;
    }
    return code;
}

// A device found at a code the plug-in wants is taken over only when it is the plug-in's
// own of the same kind: another interface's device is never renamed or rewritten.
[[noreturn]] void refuseHolder(const std::string& code) {
    throw HostError("device code " + code + " is held by a device that is not this plug-in's");
}

std::int32_t createPoint(DeviceLayer& ctx, const PointKind& kind, const std::string& code, std::int16_t unit,
                         std::int16_t invert) {
    std::int32_t ref = -1;
    reportStep(ctx, kind.procedure, 1, [&] {
        const CodeHolder holder = deviceAtCode(ctx, code, DeviceKind::Point);
        if (holder.device && !holder.ours) refuseHolder(code);
        const std::string unitText = std::to_string(unit);
        const double number = code.empty() ? 0.0 : numericValue(std::string_view(code).substr(1));
        const std::string descriptor = unitText + "!" + std::to_string(kind.moduleType) + "!" +
                                       numText(number - kind.indexOffset) + "!" + std::to_string(invert);
        if (holder.device) {
            // Re-creating only refreshes the descriptor, so a changed invert box takes effect.
            holder.device->set_iomisc(descriptor);
            ref = holder.ref;
            return;
        }
        const std::int32_t made = NewHSDevice(ctx, kind.namePrefix + numText(number - kind.nameOffset));
        auto dev = GetHSDevice(ctx, made);
        requireObject(dev);
        ref = made;
        dev->set_location(kind.locationPrefix + unitText);
        dev->set_hc(code.substr(0, 1));
        dev->set_dc(code.size() > 1 ? code.substr(1) : std::string{});
        dev->set_iotype(kind.iotype);
        dev->set_iomisc(descriptor);
        dev->set_interface(ctx.devices.interfaceName);
        dev->set_Status(kStatusNew);
        dev->set_misc(kind.input ? (ctx.host.miscBase | 16) : ctx.host.miscBase);
        dev->set_dev_type_string(kind.typeString);
    });
    return ref;
}

// Which house letters carry a device, and whether the plug-in's variables are among them.
struct LetterUse {
    std::array<bool, 256> any{};
    std::array<bool, 256> ownVariables{};
};

std::optional<LetterUse> letterUse(DeviceLayer& ctx) {
    LetterUse use;
    const bool walked = skipStep(ctx, 1, [&] {
        forEachHostDevice(ctx, [&](Device& dev) {
            const std::string hc = dev.hc();
            if (hc.empty()) return true;
            const auto c = static_cast<unsigned char>(hc[0]);
            use.any[c] = true;
            if (isOwnDevice(ctx, dev) && dev.iotype() == kIoVariable && dev.iomisc() != "leopard")
                use.ownVariables[c] = true;
            return true;
        });
    });
    clearPending(ctx);
    if (!walked) return std::nullopt;
    return use;
}

// The first letter of a pair on which no device stands, from the one the host offered
// on; the search stays among the letters above the X10 house codes.
std::optional<int> freeLetterPair(const LetterUse& use, int offered) {
    const auto freePair = [&](int c) {
        return c >= 1 && c + 1 <= 255 && !use.any[static_cast<std::size_t>(c)] &&
               !use.any[static_cast<std::size_t>(c) + 1];
    };
    if (freePair(offered)) return offered;
    for (int c = std::max(offered + 1, int{'Q'}); c + 1 <= '~'; ++c)
        if (c != '`' && c + 1 != '`' && freePair(c)) return c;
    return std::nullopt;
}

// Creates the ticked variables of one house letter and deletes the plug-in's others.
// A variable is selected only when its device is there. Returns whether one was.
bool applyVariableLetter(DeviceLayer& ctx, const std::string& letter, int first, const std::array<bool, 128>& ticked) {
    bool created = false;
    for (int n = first; n < first + 64; ++n) {
        const std::string code = letter + std::to_string(n - first + 1);
        auto& selected = ctx.devices.varSelected[static_cast<std::size_t>(n)];
        if (ticked[static_cast<std::size_t>(n)]) {
            std::int32_t ref = -1;
            skipStep(ctx, 2, [&] { ref = CreateDevice(ctx, code, static_cast<std::int16_t>(n)); });
            if (ref > -1) {
                selected = kTrue;
                created = true;
            }
        } else if (skipStep(ctx, 2, [&] { deleteOwnDevice(ctx, code, DeviceKind::Variable); })) {
            selected = kFalse;
        }
    }
    clearPending(ctx);
    return created;
}

// Keeps a letter taken in the host with one variable when none of its half is wanted.
void keepVariableLetter(DeviceLayer& ctx, int step, const std::string& code, int n) {
    std::int32_t ref = -1;
    skipStep(ctx, step, [&] { ref = CreateDevice(ctx, code, static_cast<std::int16_t>(n)); });
    if (ref > -1) ctx.devices.varSelected[static_cast<std::size_t>(n)] = kTrue;
}

void unselectVariables(DeviceLayer& ctx, int first) {
    for (int n = first; n < first + 64; ++n) ctx.devices.varSelected[static_cast<std::size_t>(n)] = kFalse;
}

}  // namespace

std::int32_t CreateDevice(DeviceLayer& ctx, const std::string& code, std::int16_t varnum) {
    std::int32_t ref = -1;
    reportStep(ctx, "CreateDevice", 1, [&] {
        const CodeHolder holder = deviceAtCode(ctx, code, DeviceKind::Variable);
        if (holder.device && !holder.ours) refuseHolder(code);
        if (holder.device) {
            ref = holder.ref;
            return;
        }
        const std::int32_t made = NewHSDevice(ctx, "Variable " + std::to_string(varnum));
        auto dev = GetHSDevice(ctx, made);
        requireObject(dev);
        ref = made;
        dev->set_location("Ocelot");
        dev->set_hc(code.substr(0, 1));
        dev->set_dc(code.size() > 1 ? code.substr(1) : std::string{});
        dev->set_interface(ctx.devices.interfaceName);
        dev->set_iotype(kIoVariable);
        dev->set_Status(kStatusNew);
        dev->set_misc(ctx.host.miscBase);
        dev->set_dev_type_string("Interface Variable");
    });
    return ref;
}

std::int32_t CreateInput16(DeviceLayer& ctx, const std::string& code, std::int16_t unit, std::int16_t invert) {
    return createPoint(ctx, kInput16, code, unit, invert);
}
std::int32_t CreateOutput16(DeviceLayer& ctx, const std::string& code, std::int16_t unit, std::int16_t invert) {
    return createPoint(ctx, kOutput16, code, unit, invert);
}
std::int32_t CreateInput16i(DeviceLayer& ctx, const std::string& code, std::int16_t unit, std::int16_t invert) {
    return createPoint(ctx, kInput16i, code, unit, invert);
}
std::int32_t CreateOutputRly(DeviceLayer& ctx, const std::string& code, std::int16_t unit, std::int16_t invert) {
    return createPoint(ctx, kOutputRly, code, unit, invert);
}

void CreateVariableDevices(DeviceLayer& ctx, const std::array<bool, 128>& ticked) {
    auto& dm = ctx.devices;
    const auto use = letterUse(ctx);
    if (!use) return;
    std::string letter = FindVarsHouseCode(ctx);
    bool newCode = false;
    if (letter.empty()) {
        auto code = freeHouseCode(ctx, 254);
        if (!code) return;
        // The host may offer the backquote, which its own codes avoid; use # (and $).
        if (*code == 96) *code = 35;
        // Both letters must be free: the second one is the next character.
        const auto pair = freeLetterPair(*use, *code);
        if (!pair) {
            ctx.platform.prompts.message(kNoFreeCodes, PromptStyle::Critical);
            return;
        }
        dm.varsHouseCode = static_cast<std::int16_t>(*pair);
        writeSetting(ctx, setting::kBaseVar, std::to_string(*pair));
        letter = letterOf(*pair);
        newCode = true;
    } else {
        dm.varsHouseCode = static_cast<unsigned char>(letter[0]);
    }

    if (!applyVariableLetter(ctx, letter, 0, ticked)) keepVariableLetter(ctx, 3, letter + "1", 0);

    if (newCode) {
        std::int32_t more = -1;
        skipStep(ctx, 4, [&] { more = requireCallback(ctx.host).GetNextFreeIOCode(); });
        if (more == -1) {
            clearPending(ctx);
            ctx.platform.prompts.message(kNoFreeCodes, PromptStyle::Critical);
            return;
        }
    }

    const int second = dm.varsHouseCode + 1;
    const auto s = static_cast<std::size_t>(second);
    if (second > 255 || (use->any[s] && !use->ownVariables[s])) {
        // Another interface's (or another kind of) devices hold the second letter.
        unselectVariables(ctx, 64);
        skipStep(ctx, 5, [&] {
            ReportError(ctx, kSourceVarnel,
                        "CreateVariableDevices: house code " + letterOf(second) +
                            " holds other devices; variables 64 to 127 are not mirrored");
        });
        clearPending(ctx);
        return;
    }
    letter = letterOf(second);
    if (!applyVariableLetter(ctx, letter, 64, ticked)) keepVariableLetter(ctx, 6, letter + "64", 127);
    clearPending(ctx);
}

void CreateModuleDevices(DeviceLayer& ctx, std::int16_t unit, std::array<bool, 16>& ticked, bool invert) {
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

    using Creator = std::int32_t (*)(DeviceLayer&, const std::string&, std::int16_t, std::int16_t);
    const auto creatorFor = [type](int p) -> Creator {
        switch (type) {
            case kSecu16: return p < 8 ? CreateInput16 : CreateOutput16;
            case kSecu16I: return CreateInput16i;
            default: return CreateOutputRly;
        }
    };

    // A point is selected only when its device is there.
    bool created = false;
    for (int p = 0; p < 16; ++p) {
        const std::string code = letter + std::to_string(p + 1);
        if (ticked[static_cast<std::size_t>(p)]) {
            std::int32_t ref = -1;
            skipStep(ctx, 4, [&] { ref = creatorFor(p)(ctx, code, unit, inv); });
            if (ref > -1) {
                setPointSelected(ctx, unit, p, true);
                created = true;
            }
        } else if (skipStep(ctx, 4, [&] { deleteOwnDevice(ctx, code, DeviceKind::Point); })) {
            setPointSelected(ctx, unit, p, false);
        }
    }
    if (!created) {
        // Keeps the module's letter taken in the host.
        std::int32_t ref = -1;
        skipStep(ctx, 5, [&] { ref = creatorFor(0)(ctx, letter + "1", unit, inv); });
        if (ref > -1) setPointSelected(ctx, unit, 0, true);
    }
    clearPending(ctx);
}

void CreateLeopardDevice(DeviceLayer& ctx) {
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
    writeSetting(ctx, setting::kLeopardVar, letter);

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
        skipStep(ctx, 3, [&] { dev->set_iotype(kIoVariable); });
        skipStep(ctx, 3, [&] { dev->set_Status(kStatusNew); });
        skipStep(ctx, 3, [&] { dev->set_misc(ctx.host.miscBase | 16); });
        skipStep(ctx, 3, [&] { dev->set_iomisc("leopard"); });
        skipStep(ctx, 3, [&] { dev->set_dev_type_string("Interface Variable"); });
    }
    clearPending(ctx);
}

}  // namespace varnel

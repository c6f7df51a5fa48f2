// Choosing the mirrored variables and points headlessly, with the same creation
// the configuration window uses, and saying what it changed in the host.
#include <algorithm>
#include <array>
#include <set>

#include "console/console_parts.h"
#include "console/selection.h"
#include "devices/device_model.h"
#include "devices/mappings.h"
#include "support/text.h"

namespace varnel::console::detail {

namespace {

// Own devices by code, before and after a change, to say what was created and deleted.
std::set<std::string> ownCodes(Env& env) {
    std::set<std::string> out;
    for (const auto& d : env.host.devices())
        if (equalsNoCase(d.interface_, env.ctx.devices.interfaceName)) out.insert(d.code());
    return out;
}

std::string changes(const std::set<std::string>& before, const std::set<std::string>& after) {
    std::vector<std::string> created, deleted;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(created));
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(deleted));
    if (created.empty() && deleted.empty()) return "no devices created or deleted";
    std::string out;
    if (!created.empty()) out += "created " + std::to_string(created.size()) + " (" + codeList(created) + ")";
    if (!deleted.empty())
        out += (out.empty() ? "" : ", ") + std::string("deleted ") + std::to_string(deleted.size()) + " (" +
               codeList(deleted) + ")";
    return out;
}

template <std::size_t N>
void applyList(std::array<bool, N>& ticked, ListMode mode, const std::vector<int>& list) {
    if (mode == ListMode::Replace) ticked.fill(false);
    for (int n : list)
        if (n >= 0 && n < static_cast<int>(N)) ticked[static_cast<std::size_t>(n)] = mode != ListMode::Remove;
}

// The ticked ones the host did not get a device for; a failed creation leaves them unselected.
template <std::size_t N, class Selected>
std::vector<int> notMirrored(const std::array<bool, N>& ticked, Selected selected) {
    std::vector<int> out;
    for (int n = 0; n < static_cast<int>(N); ++n)
        if (ticked[static_cast<std::size_t>(n)] && !selected(n)) out.push_back(n);
    return out;
}

std::optional<std::string> hostProblem(const DeviceLayer& ctx) {
    if (!ctx.host.hs || !ctx.host.callback) return "the plug-in is not registered with the host yet";
    // Devices made before the interface name is known would not be recognised as ours.
    if (ctx.devices.interfaceName.empty()) return "the host has not started an interface of the plug-in yet";
    return std::nullopt;
}

}  // namespace

Reply mirrorVars(Env& env, const cmd::MirrorVars& m) {
    DeviceLayer& ctx = env.ctx;
    if (auto p = hostProblem(ctx)) return refused("mirror: " + *p);
    std::array<bool, 128> ticked{};
    for (std::size_t n = 0; n < ticked.size(); ++n) ticked[n] = ctx.devices.varSelected[n] != kFalse;
    applyList(ticked, m.mode, m.vars);

    const auto before = ownCodes(env);
    CreateVariableDevices(ctx, ticked);
    ReadDeviceSettings(ctx);
    if (ctx.devices.varsHouseCode == 0)
        return refused("mirror: the host has no free house code for the variables; nothing was created");

    const auto isSelected = [&](int n) { return ctx.devices.varSelected[static_cast<std::size_t>(n)] != kFalse; };
    const std::string changed = changes(before, ownCodes(env));
    if (const auto missing = notMirrored(ticked, isSelected); !missing.empty())
        return refused(formatCommand(m) + ": the host has no device for variables " + formatNumberList(missing) +
                       " (the host log says why); " + changed);

    std::vector<int> selected;
    for (int n = 0; n < 128; ++n)
        if (isSelected(n)) selected.push_back(n);
    std::string line = formatCommand(m) + ": " + changed + "; mirrored now " + formatNumberList(selected) +
                       ", house codes " + std::string(1, static_cast<char>(ctx.devices.varsHouseCode)) + " and " +
                       std::string(1, static_cast<char>(ctx.devices.varsHouseCode + 1));
    const auto half = [&](int first) {
        return std::any_of(ticked.begin() + first, ticked.begin() + first + 64, [](bool b) { return b; });
    };
    if (!half(0) && isSelected(0)) line += " (variable 0 kept: it holds the first house code)";
    if (!half(64) && isSelected(127)) line += " (variable 127 kept: it holds the second house code)";
    return done(line);
}

Reply mirrorPoints(Env& env, const cmd::MirrorPoints& m) {
    DeviceLayer& ctx = env.ctx;
    if (auto p = hostProblem(ctx)) return refused("mirror: " + *p);
    const int type = moduleTypeOf(ctx, m.unit);
    const std::string unitText = "unit " + std::to_string(m.unit);
    if (type == 0) return refused("mirror: no module at " + unitText + " (status lists the modules)");
    if (type == kSecu16IR) return refused("mirror: " + unitText + " is a SECU16IR; it plays IR and has no devices");
    if (type != kSecu16 && type != kSecu16I && type != kRelay08)
        return refused("mirror: " + unitText + " is a " + moduleName(type) + " module, which has no devices");
    if (type == kRelay08 && !m.points.empty() && m.points.back() > 7)
        return refused("mirror: " + unitText + " is a RELAY-08; its points are 0 to 7");

    std::array<bool, 16> ticked{};
    for (int p = 0; p < 16; ++p) ticked[static_cast<std::size_t>(p)] = pointSelected(ctx, m.unit, p);
    applyList(ticked, m.mode, m.points);
    const umap* mapping = mappingOfUnit(ctx, m.unit);
    const bool invert = m.invert.value_or(mapping && mapping->invert() == 1);
    const bool anyTicked = std::any_of(ticked.begin(), ticked.end(), [](bool b) { return b; });

    const auto before = ownCodes(env);
    CreateModuleDevices(ctx, static_cast<std::int16_t>(m.unit), ticked, invert);
    ReadDeviceSettings(ctx);
    mapping = mappingOfUnit(ctx, m.unit);
    if (!mapping) return refused("mirror: the host has no free house code for " + unitText + "; nothing was created");

    const auto isSelected = [&](int p) { return pointSelected(ctx, m.unit, p); };
    const std::string changed = changes(before, ownCodes(env));
    if (const auto missing = notMirrored(ticked, isSelected); !missing.empty())
        return refused(formatCommand(m) + ": the host has no device for points " + formatNumberList(missing) + " of " +
                       unitText + " (the host log says why); " + changed);

    std::vector<int> selected;
    for (int p = 0; p < 16; ++p)
        if (isSelected(p)) selected.push_back(p);
    std::string line = formatCommand(m) + ": " + changed + "; " + unitText + " (" + moduleName(type) + ", house " +
                       printable(mapping->hc()) + ") mirrors " + formatNumberList(selected) +
                       (invert ? ", inverted" : ", not inverted");
    if (!anyTicked) line += " (point 0 kept: it holds the house code)";
    return done(line);
}

}  // namespace varnel::console::detail

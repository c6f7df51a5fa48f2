// The console's views of the plug-in's state: status, devices, the mirroring
// selection and the IR names.
#include <algorithm>
#include <map>

#include "console/console_parts.h"
#include "console/selection.h"
#include "devices/device_model.h"
#include "devices/mappings.h"
#include "plugin/health.h"
#include "support/codepage.h"
#include "support/escape.h"
#include "support/text.h"

namespace varnel::console::detail {

std::string printable(std::string_view text, std::size_t maxChars) { return escaped(text, maxChars); }

std::string moduleName(int type) {
    switch (type) {
        case kSecu16IR: return "SECU16IR";
        case kSecu16: return "SECU16";
        case kSecu16I: return "SECU16I";
        case kRelay08: return "RELAY-08";
        default: return "type " + std::to_string(type);
    }
}

std::string codeList(const std::vector<std::string>& codes) {
    std::map<std::string, std::vector<int>> byHouse;
    std::vector<std::string> odd;
    for (const auto& code : codes) {
        const auto n = code.size() > 1 ? parseInteger(std::string_view(code).substr(1)) : std::nullopt;
        if (n && *n >= 0 && *n < 100000 && code[1] != '+' && code[1] != '-')
            byHouse[code.substr(0, 1)].push_back(static_cast<int>(*n));
        else
            odd.push_back(code);
    }
    std::string out;
    for (auto& [house, numbers] : byHouse) {
        std::sort(numbers.begin(), numbers.end());
        numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
        if (!out.empty()) out += ' ';
        out += printable(house) + formatNumberList(numbers);
    }
    for (const auto& code : odd) out += (out.empty() ? "" : " ") + printable(code);
    return out;
}

namespace {

std::string statusText(std::int16_t status) {
    switch (status) {
        case kStatusOn: return "on";
        case kStatusOff: return "off";
        case kStatusNew: return "new";
        default: return std::to_string(status);
    }
}

std::string padded(std::string s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

std::string varsHouses(const DeviceLayer& ctx) {
    const int base = ctx.devices.varsHouseCode;
    if (base == 0) return "none";
    return std::string(1, static_cast<char>(base)) + " and " + std::string(1, static_cast<char>(base + 1));
}

}  // namespace

Reply showStatus(Env& env) {
    const DeviceLayer& ctx = env.ctx;
    std::vector<std::string> out;
    std::string device;
    try {
        if (ctx.platform.portDevice) device = ctx.platform.portDevice(ctx.link.comport);
    } catch (...) {
    }
    out.push_back("port: " + std::to_string(ctx.link.comport) + (device.empty() ? "" : " (" + printable(device) + ")") +
                  (ctx.link.portOpen ? ", open" : ", closed") + (ctx.link.commStarted ? ", started" : ", not started"));

    const bool found = ctx.controller.irSize != 0 || ctx.controller.varSelector != std::array<std::uint8_t, 2>{};
    out.push_back(std::string("controller: ") + (found ? "found" : "not found") +
                  (ctx.controller.linkFailure != 0 ? ", link failed (no answer)" : ", link ok"));
    std::string started;
    if (ctx.controller.ioStarted) started += " io";
    if (ctx.controller.x10Interface) started += " x10";
    if (ctx.controller.irStarted) started += " ir";
    out.push_back("interfaces started:" + (started.empty() ? std::string(" none") : started));

    std::string modules;
    for (int unit = 1; unit <= 128; ++unit) {
        const int type = moduleTypeOf(ctx, unit);
        if (type == 0) continue;
        modules += (modules.empty() ? " " : ", ") + std::to_string(unit) + " " + moduleName(type);
    }
    out.push_back("modules:" + (modules.empty() ? std::string(" none found") : modules));

    const int zones = env.plugin.MaxZones();
    out.push_back("IR: size " + std::to_string(ctx.controller.irSize) + ", zones " +
                  (zones == 0 ? std::string("none") : "0 to " + std::to_string(zones)) + ", current zone " +
                  std::to_string(ctx.ir.zone) + ", " + std::to_string(ctx.ir.dictionary.size()) + " names");
    for (auto& line : healthLines(env.plugin.context())) out.push_back(std::move(line));
    out.push_back("queue: " + std::to_string(ctx.queue.count) + " waiting; plug-in " +
                  (ctx.gate.idle() ? "idle" : "busy"));
    out.push_back("variables house codes: " + varsHouses(ctx) +
                  "; interface name: " + printable(ctx.devices.interfaceName));
    out.insert(out.end(), env.statusLines.begin(), env.statusLines.end());
    return done(std::move(out));
}

Reply showDevices(Env& env) {
    const auto& devices = env.host.devices();
    if (devices.empty()) return done("devices: none (mirror creates them)");
    struct Row {
        std::string code, name, location, status, value;
    };
    std::vector<Row> rows{{"Code", "Name", "Location", "Status", "Value"}};
    for (const auto& d : devices)
        rows.push_back({printable(d.code(), 16), printable(d.name, 32), printable(d.location, 32), statusText(d.Status),
                        std::to_string(d.value)});
    std::size_t w[4] = {};
    for (const auto& r : rows) {
        w[0] = std::max(w[0], r.code.size());
        w[1] = std::max(w[1], r.name.size());
        w[2] = std::max(w[2], r.location.size());
        w[3] = std::max(w[3], r.status.size());
    }
    std::vector<std::string> out;
    out.reserve(rows.size());
    for (const auto& r : rows)
        out.push_back(padded(r.code, w[0]) + "  " + padded(r.name, w[1]) + "  " + padded(r.location, w[2]) + "  " +
                      padded(r.status, w[3]) + "  " + r.value);
    return done(std::move(out));
}

Reply showMirror(Env& env) {
    const DeviceLayer& ctx = env.ctx;
    std::vector<std::string> out;
    if (ctx.devices.varsHouseCode == 0) {
        out.emplace_back("# no variables mirrored (no variables house code)");
    } else {
        std::vector<int> vars;
        for (int n = 0; n < 128; ++n)
            if (ctx.devices.varSelected[static_cast<std::size_t>(n)] != kFalse) vars.push_back(n);
        out.push_back("mirror vars " + formatNumberList(vars) + "    # house codes " + varsHouses(ctx));
    }
    std::vector<int> shown;
    for (const auto& map : ctx.devices.mappings) {
        const int unit = map.unit();
        if (std::find(shown.begin(), shown.end(), unit) != shown.end()) continue;
        shown.push_back(unit);
        std::vector<int> points;
        for (int p = 0; p < 16; ++p)
            if (pointSelected(ctx, unit, p)) points.push_back(p);
        out.push_back("mirror points " + std::to_string(unit) + " " + formatNumberList(points) +
                      (map.invert() == 1 ? " invert" : " no-invert") + "    # " + moduleName(map.utype()) + ", house " +
                      printable(map.hc()));
    }
    for (int unit = 1; unit <= 128; ++unit) {
        const int type = moduleTypeOf(ctx, unit);
        if (type != kSecu16 && type != kSecu16I && type != kRelay08) continue;
        if (std::find(shown.begin(), shown.end(), unit) != shown.end()) continue;
        out.push_back("# unit " + std::to_string(unit) + " (" + moduleName(type) + "): no points mirrored");
    }
    return done(std::move(out));
}

Reply listIr(Env& env) {
    const auto& dict = env.ctx.ir.dictionary;
    if (dict.empty()) return done("ir list: no names (the IR label file names groups and labels)");
    std::vector<std::string> out;
    for (const auto& [name, value] : dict) {
        const std::string label = field(value, ',', 1);
        const std::string zone = field(value, ',', 2);
        out.push_back(padded(printable(toUtf8(name), 60), 24) + "  label " + printable(label, 8) + ", zone " +
                      printable(zone, 8));
    }
    return done(std::move(out));
}

}  // namespace varnel::console::detail

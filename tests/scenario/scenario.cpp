#include "scenario.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "console/console.h"
#include "console/event_lines.h"
#include "devices/device_model.h"
#include "devices/io_timer.h"
#include "devices/var_timer.h"
#include "engine_rig.h"
#include "plugin/health.h"
#include "plugin/startup.h"
#include "scenario_parts.h"
#include "sim/hex.h"
#include "support/escape.h"
#include "text_files.h"

namespace varnel::test {

namespace {

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::vector<std::uint8_t> hexOf(const std::string& text) {
    auto b = sim::parseHex(text);
    if (!b) throw std::invalid_argument("bad hex: " + text);
    return *b;
}

int num(const std::string& s) {
    std::size_t used = 0;
    const long v = std::stol(s, &used, 0);
    if (used != s.size()) throw std::invalid_argument("not a number: " + s);
    return static_cast<int>(v);
}

// Fixture text may carry \\, \n, \r, \t and \xHH.
std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        if (c == 'n')
            out += '\n';
        else if (c == 'r')
            out += '\r';
        else if (c == 't')
            out += '\t';
        else if (c == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

}  // namespace

std::string restOf(const std::string& line, std::size_t skipWords) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < skipWords; ++i) {
        at = line.find_first_not_of(' ', at);
        at = line.find(' ', at);
        if (at == std::string::npos) return {};
    }
    const auto from = line.find_first_not_of(' ', at);
    return from == std::string::npos ? std::string() : line.substr(from);
}

namespace {
std::string rest(const std::string& line, std::size_t skipWords) { return restOf(line, skipWords); }

std::string show(const Variant& v) {
    if (std::holds_alternative<std::monostate>(v)) return "(empty)";
    if (const auto* i = std::get_if<std::int32_t>(&v)) return std::to_string(*i);
    return "\"" + escaped(std::get<std::string>(v)) + "\"";
}

const std::map<std::string, sim::ModuleType> kModuleTypes{{"secu16", sim::ModuleType::Secu16},
                                                          {"secu16i", sim::ModuleType::Secu16I},
                                                          {"secu16ir", sim::ModuleType::Secu16Ir},
                                                          {"relay08", sim::ModuleType::Relay08}};

}  // namespace

// ---- the transcript

void Transcript::line(const std::string& text) {
    flushWire();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%10.3f] ", static_cast<double>(clock()) / 1000.0);
    out_ += stamp + masked(text) + "\n";
}

void Transcript::plain(const std::string& text) {
    flushWire();
    out_ += masked(text) + "\n";
}

std::string Transcript::masked(std::string text) const {
    for (const auto& [from, to] : masks_)
        for (auto at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at))
            text.replace(at, from.size(), to), at += to.size();
    return text;
}

void Transcript::wire(bool fromHost, std::span<const std::uint8_t> bytes) {
    if (!wireOn) return;
    std::string text = sim::toHex(bytes.size() > 24 && !fromHost ? bytes.first(16) : bytes);
    if (bytes.size() > 24 && !fromHost) text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    const std::int64_t now = clock();
    if (fromHost && !exchange_.empty()) endExchange();
    if (exchange_.empty()) exchangeStartUs_ = now;
    char rel[32];
    std::snprintf(rel, sizeof rel, "+%.3f ", static_cast<double>(now - exchangeStartUs_) / 1000.0);
    exchange_.push_back(std::string(exchange_.empty() ? "" : rel) + (fromHost ? "-> " : "<- ") + text);
}

void Transcript::endExchange() {
    if (exchange_.empty()) return;
    if (exchange_ == lastExchange_) {
        ++repeats_;
        lastRepeatUs_ = exchangeStartUs_;
    } else {
        flushRepeats();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%10.3f] ", static_cast<double>(exchangeStartUs_) / 1000.0);
        for (std::size_t i = 0; i < exchange_.size(); ++i)
            out_ += (i == 0 ? std::string(stamp) : std::string(13, ' ') + "  ") + exchange_[i] + "\n";
        lastExchange_ = exchange_;
    }
    exchange_.clear();
}

void Transcript::flushRepeats() {
    if (repeats_ == 0) return;
    char text[96];
    std::snprintf(text, sizeof text, "%15s(the same %d more times, the last at %.3f)\n", "", repeats_,
                  static_cast<double>(lastRepeatUs_) / 1000.0);
    out_ += text;
    repeats_ = 0;
}

void Transcript::flushWire() {
    endExchange();
    flushRepeats();
    lastExchange_.clear();
}

// ---- the engine

Scenario::Scenario() {
    faults.write = [this](int fd, const char* data, std::size_t size) -> long {
        if (!diskFull) return ::write(fd, data, size);
        errno = ENOSPC;
        return -1;
    };
    transcript.clock = [this] { return rig ? rig->loop.nowUs() : 0; };
    fresh();
}
Scenario::~Scenario() { stop(); }

void Scenario::fresh() {
    stop();
    parts = makeParts();
    dir = std::make_unique<TempDir>();
    transcript.mask(dir->path().string(), "<host>");
    options = {};
    customModules_ = false;
    diskFull = false;
}

void Scenario::stop() {
    feed.reset();
    if (rig) rig->ctx().configWindow = nullptr;
    for (auto& p : parts) p->ending();
    console.reset();
    rig.reset();
}

void Scenario::build() {
    if (rig) return;
    options.hostDir = dir->path();
    options.hostWriteFaults = &faults;
    options.hostLogSink = [this](const host::ConsoleLine& l) { transcript.line("log " + l.source + ": " + l.message); };
    rig = std::make_unique<EngineRig>(options);
    auto toController = rig->port.onHostWrite;
    rig->port.onHostWrite = [this, toController](std::span<const std::uint8_t> b) {
        transcript.wire(true, b);
        toController(b);
    };
    auto toHost = rig->controller.onOutput;
    rig->controller.onOutput = [this, toHost](const sim::Emission& e) {
        transcript.wire(false, e.bytes);
        toHost(e);
    };
    rig->ctx().showStartupStep = [this](const std::string& step) { transcript.line("step " + step); };
    rig->prompts.sink = [this](const std::string& text) { transcript.line("prompt: " + text); };
    events = rig->host->subscribe(
        [this](const host::HostEvent& e) { transcript.line("event " + console::describeEvent(e, rig->host.get())); });
    console = std::make_unique<console::Console>(*rig->plugin, *rig->host,
                                                 [this](const std::string& l) { transcript.line("  " + l); });
    feed = rig->loop.createTimer();
    feed->setInterval(20);
    feed->onTick = [this] { console->pump(); };
    feed->setEnabled(true);
}

void Scenario::consoleLine(const std::string& text) {
    build();
    const auto r = console->execute(text);
    if (r.outcome == console::Reply::Outcome::Error) transcript.line("  (refused)");
    if (r.outcome == console::Reply::Outcome::NotReady) transcript.line("  (not ready)");
    if (r.outcome == console::Reply::Outcome::Quit) transcript.line("  (quit)");
}

void Scenario::setup(const std::vector<std::string>& w, const std::string& line) {
    auto& cfg = options.controller;
    if (w[0] == "module") {
        if (!customModules_) cfg.modules.clear();
        customModules_ = true;
        if (w.size() == 3)
            cfg.modules[num(w[1])] =
                kModuleTypes.contains(w[2]) ? kModuleTypes.at(w[2]) : static_cast<sim::ModuleType>(num(w[2]));
    } else if (w[0] == "analog") {
        cfg.analog[{num(w[1]), num(w[2])}] = static_cast<std::uint16_t>(num(w[3]));
    } else if (w[0] == "parameter") {
        cfg.parameters[{num(w[1]), num(w[2])}] = static_cast<std::uint16_t>(num(w[3]));
    } else if (w[0] == "variable") {
        cfg.variables.at(num(w[1])) = static_cast<std::uint16_t>(num(w[2]));
    } else if (w[0] == "input-stored") {  // module point bit, as the I/O buffer stores it
        const int m = num(w[1]), p = num(w[2]);
        auto& b = cfg.io.at(static_cast<std::size_t>((m - 1) * 2 + p / 8));
        b = static_cast<std::uint8_t>(num(w[3]) ? b | (1 << (p % 8)) : b & ~(1 << (p % 8)));
    } else if (w[0] == "controller") {
        for (std::size_t i = 1; i < w.size(); ++i) {
            if (w[i] == "reports-x10-sent")
                cfg.reportTransmittedX10 = true;
            else if (w[i] == "reports-output-writes")
                cfg.reportOutputWrites = true;
            else if (w[i] == "ir-size")
                cfg.irSize = static_cast<std::uint16_t>(num(w[++i]));
            else if (w[i] == "auto-learn")
                cfg.autoLearnDelayUs = num(w[++i]) * 1000LL;
            else if (w[i] == "variable-selector") {
                const auto b = hexOf(w[i + 1] + " " + w[i + 2]);
                cfg.variableSelector = {b[0], b[1]};
                i += 2;
            } else
                throw std::invalid_argument("controller: " + w[i]);
        }
    } else if (w[0] == "host") {
        for (std::size_t i = 1; i < w.size(); ++i) {
            if (w[i] == "version")
                options.hostVersion = w[++i];
            else if (w[i] == "callback")
                options.callbackType = w[++i];
            else if (w[i] == "no-settings-file")
                options.hostSettingsFile = false;
            else if (w[i] == "max-devices")
                options.hostMaxDevices = static_cast<std::size_t>(num(w[++i]));
            else if (w[i] == "saves-later")
                options.hostSavesLater = true;
            else
                throw std::invalid_argument("host: " + w[i]);
        }
    } else {
        throw std::invalid_argument("unknown directive: " + line);
    }
}

void Scenario::simDirective(const std::vector<std::string>& w, const std::string& line) {
    build();
    auto& c = rig->controller;
    auto& f = c.faults();
    const std::string& what = w.at(1);
    if (what == "report")
        c.emitReport(hexOf(rest(line, 2)));
    else if (what == "raw")
        c.sendRaw(hexOf(rest(line, 2)));
    else if (what == "input")
        c.changeInput(num(w[2]), num(w[3]), num(w[4]) != 0);
    else if (what == "raw-point")  // a stored bit changed without a report: only a poll finds it
        c.memory().setRawPoint(num(w.at(2)), num(w.at(3)), num(w.at(4)) != 0);
    else if (what == "variable")
        c.setVariable(num(w[2]), static_cast<std::uint16_t>(num(w[3])));
    else if (what == "learn-key")
        transcript.line(c.pressLearnKey() ? "  key pressed" : "  no learn pending");
    else if (what == "ir") {
        const auto at = c.receiveIr(static_cast<std::uint32_t>(num(w[2])));
        transcript.line(at ? "  matched " + std::to_string(*at) : "  no match");
    } else if (what == "silent")
        f.silent = w.at(2) == "on";
    else if (what == "drop-replies")
        f.dropReplies = num(w[2]);
    else if (what == "garbage-before-reply")
        f.garbageBeforeReply = hexOf(rest(line, 2));
    else if (what == "report-before-reply")
        f.reportBeforeReply = hexOf(rest(line, 2));
    else if (what == "report-after-ack")
        f.reportAfterAck = hexOf(rest(line, 2));
    else if (what == "bad-crc")
        f.badCrcBlocks = num(w[2]);
    else if (what == "wrong-buffer") {
        const auto b = hexOf(rest(line, 2));
        f.wrongBuffer = sim::Selector{b.at(0), b.at(1)};
    } else if (what == "delay-reply")
        f.delayNextReplyUs = num(w[2]) * 1000LL;
    else if (what == "ack") {
        const auto b = hexOf(rest(line, 2));
        f.nextAck = std::array<std::uint8_t, 3>{b.at(0), b.at(1), b.at(2)};
    } else if (what == "split-report")
        f.splitNextReport = sim::Faults::Split{static_cast<std::size_t>(num(w[2])), num(w[3]) * 1000LL};
    else if (what == "answer-next") {
        // sim answer-next block|CODE with HEX [then silent]: the next such frame is taken over.
        const bool block = w.at(2) == "block";
        const int code = block ? -1 : num(w[2]);
        auto at = line.find(" with ");
        auto tail = line.substr(at + 6);
        const bool thenSilent = tail.ends_with(" then silent");
        if (thenSilent) tail.resize(tail.size() - 12);
        auto bytes = hexOf(tail);
        auto used = std::make_shared<bool>(false);
        c.overrideFrame = [this, block, code, bytes, thenSilent, used](const sim::ReceivedFrame& fr) {
            if (*used || (block != (fr.kind == sim::FrameKind::BlockRead)) || (!block && fr.code() != code))
                return false;
            *used = true;
            rig->controller.sendRaw(bytes, true);
            if (thenSilent) rig->controller.faults().silent = true;
            return true;
        };
    } else if (what == "drop-replies-to") {
        // sim drop-replies-to block SEL SEL | command CODE | none: every such frame's reply is lost
        if (w.at(2) == "none") {
            c.onFrameHook = nullptr;
            return;
        }
        const bool block = w[2] == "block";
        const auto sel = hexOf(rest(line, 3));
        c.onFrameHook = [&c, block, sel](const sim::ReceivedFrame& fr) {
            if (block ? fr.kind == sim::FrameKind::BlockRead && fr.selector() == sim::Selector{sel.at(0), sel.at(1)}
                      : fr.kind != sim::FrameKind::BlockRead && fr.code() == sel.at(0))
                c.faults().dropReplies = 1;
        };
    } else if (what == "show") {
        for (const auto& x : c.x10Sent())
            transcript.line("  x10 " + std::to_string(static_cast<int>(x.kind)) + " house " + std::to_string(x.house) +
                            " key " + std::to_string(x.key) + " value " + std::to_string(x.value) + " data " +
                            std::to_string(x.data1) + "," + std::to_string(x.data2));
        for (const auto& p : c.irPlays())
            transcript.line(std::string("  ir ") + (p.remote ? "remote " : "local ") + std::to_string(p.module) + "/" +
                            std::to_string(p.output) + " location " + std::to_string(p.location));
        for (const auto& s : c.screenWrites())
            transcript.line("  screen flags " + std::to_string(s.flags) + " length " + std::to_string(s.length) +
                            " at " + std::to_string(s.x) + "," + std::to_string(s.y) + " \"" + escaped(s.text) + "\"");
        if (const auto clk = c.clock())
            transcript.line("  clock " + std::to_string(clk->year) + "-" + std::to_string(clk->month) + "-" +
                            std::to_string(clk->day) + " " + std::to_string(clk->hour) + ":" +
                            std::to_string(clk->minute) + ":" + std::to_string(clk->second) + " weekday " +
                            std::to_string(clk->weekday) + (clk->valid ? "" : " invalid"));
        for (const auto& [at, signal] : c.learnedCodes())
            transcript.line("  learned " + std::to_string(at) + " = " + std::to_string(signal));
        transcript.line("  stray bytes " + std::to_string(c.strayBytes()) + ", invalid frames " +
                        std::to_string(c.invalidFrames()));
        c.clearRecords();
    } else {
        throw std::invalid_argument("sim: " + what);
    }
}

void Scenario::hostDirective(const std::vector<std::string>& w, const std::string& line) {
    build();
    auto& h = *rig->host;
    if (w.at(1) == "device") {
        // host device CODE | name | location | interface | iotype
        std::vector<std::string> f;
        std::istringstream all(rest(line, 2));
        for (std::string part; std::getline(all, part, '|');) {
            const auto a = part.find_first_not_of(' '), b = part.find_last_not_of(' ');
            f.push_back(a == std::string::npos ? std::string() : part.substr(a, b - a + 1));
        }
        f.resize(6);
        auto d = h.GetDeviceByRef(h.NewDeviceRef(f[1]));
        d->set_hc(f[0].substr(0, 1));
        d->set_dc(f[0].substr(1));
        d->set_location(f[2]);
        d->set_interface(f[3]);
        d->set_iotype(static_cast<std::int16_t>(f[4].empty() ? 0 : num(f[4])));
        d->set_iomisc(f[5]);
    } else if (w[1] == "devices") {
        for (const auto& d : h.devices())
            transcript.line("  " + escaped(d.code()) + " ref " + std::to_string(d.ref) + " \"" + escaped(d.name) +
                            "\" at \"" + escaped(d.location) + "\" of \"" + escaped(d.interface_) + "\" iotype " +
                            std::to_string(d.iotype) + " iomisc \"" + escaped(d.iomisc) + "\" type \"" +
                            escaped(d.dev_type_string) + "\" status " + std::to_string(d.Status) + " value " +
                            std::to_string(d.value) + " misc " + std::to_string(d.misc));
    } else if (w[1] == "free-codes") {
        std::vector<int> order;
        for (std::size_t i = 2; i < w.size() && w[i] != "none"; ++i) order.push_back(w[i][0]);
        h.setFreeCodeOrder(order);
    } else if (w[1] == "delete") {
        for (const auto& d : h.devices())
            if (d.code() == w.at(2)) {
                h.DeleteDevice(d.ref);
                return;
            }
        throw std::invalid_argument("no device " + w[2]);
    } else if (w[1] == "file") {
        const auto p = dir->path() / w.at(2);
        if (!std::filesystem::exists(p)) return transcript.line("  (no file)");
        transcript.line("  " + escaped(readFile(p)));
    } else if (w[1] == "files") {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir->path()))
            if (!e.is_directory()) names.push_back(std::filesystem::relative(e.path(), dir->path()).string());
        std::sort(names.begin(), names.end());
        for (const auto& n : names) transcript.line("  " + n);
    } else if (w[1] == "type" || w[1] == "rename") {
        // host type CODE TEXT; host rename CODE | NAME | LOCATION
        std::shared_ptr<Device> d;
        for (const auto& r : h.devices())
            if (r.code() == w.at(2)) d = h.GetDeviceByRef(r.ref);
        if (!d) throw std::invalid_argument("no device " + w[2]);
        if (w[1] == "type") return d->set_dev_type_string(rest(line, 3));
        const std::string all = rest(line, 3);
        const auto bar = all.find(" | ");
        d->set_name(all.substr(0, bar));
        d->set_location(bar == std::string::npos ? std::string() : all.substr(bar + 3));
    } else if (w[1] == "value") {
        h.SetDeviceValue(w.at(2), num(w.at(3)));
    } else if (w[1] == "ini") {
        h.SaveIniSetting("hspi_tarnwick", w.at(2), rest(line, 3));
    } else if (w[1] == "menus") {
        for (const auto& [name, item] : rig->callback->menus()) transcript.line("  menu " + name + ": " + item);
    } else if (w[1] == "runs") {
        for (const auto& r : h.runs()) transcript.line("  " + host::describe(r));
    } else if (w[1] == "setting") {
        transcript.line("  " + h.GetIniSetting(w.at(2), w.at(3), "(none)"));
    } else {
        throw std::invalid_argument("host: " + w[1]);
    }
}

// call MEMBER ARGS: one of the host's calls, and what it gave back.
void Scenario::call(const std::vector<std::string>& w, const std::string& line) {
    HSPI& p = *rig->plugin;
    const auto n = [&](std::size_t i) { return static_cast<std::int16_t>(num(w.at(i + 2))); };
    const auto s = [&](std::size_t i) { return w.at(i + 2) == "-" ? std::string() : w.at(i + 2); };
    using Fn = std::function<std::string()>;
    const std::map<std::string, Fn> calls{
        {"InitIO", [&] { return "\"" + p.InitIO(n(0)) + "\""; }},
        {"InitX10", [&] { return "\"" + p.InitX10(n(0)) + "\""; }},
        {"InitIR", [&] { return "\"" + p.InitIR(n(0)) + "\""; }},
        {"InitCPUXA", [&] { return "\"" + p.InitCPUXA() + "\""; }},
        {"ShutdownIO", [&] { return p.ShutdownIO(), std::string(); }},
        {"ShutDownX10", [&] { return show(p.ShutDownX10()); }},
        {"ShutDownIR", [&] { return show(p.ShutDownIR()); }},
        {"Release", [&] { return p.Release(), "ended " + std::to_string(rig->processEnded); }},
        {"SelectMenu", [&] { return show(p.SelectMenu(rest(line, 2))); }},
        {"SetVar", [&] { return std::to_string(p.SetVar(num(w.at(2)), num(w.at(3)))); }},
        {"GetVar", [&] { return std::to_string(p.GetVar(n(0))); }},
        {"PollVars", [&] { return std::to_string(p.PollVars()); }},
        {"PollIO", [&] { return std::to_string(p.PollIO()); }},
        {"SetPoint", [&] { return p.SetPoint(n(0), n(1), n(2)), std::string(); }},
        {"GetPoint", [&] { return std::to_string(p.GetPoint(n(0), n(1), n(2) != 0)); }},
        {"GetUnit",
         [&] {
             const auto u = p.GetUnit(n(0));
             return u ? std::to_string(*u) : std::string("(empty)");
         }},
        {"GetAnalogInput", [&] { return std::to_string(p.GetAnalogInput(n(0), n(1))); }},
        {"StartGetAnalog", [&] { return std::to_string(p.StartGetAnalog(n(0), n(1))); }},
        {"GetAnalogInputValue", [&] { return std::to_string(p.GetAnalogInputValue(n(0), n(1))); }},
        {"GetParameter", [&] { return std::to_string(p.GetParameter(n(0), n(1))); }},
        {"EnableTouch", [&] { return show(p.EnableTouch(n(0))); }},
        {"PlayIR", [&] { return show(p.PlayIR(num(w.at(2)))); }},
        {"PlayIREx", [&] { return std::to_string(p.PlayIREx(rest(line, 2))); }},
        {"PlayZonedIR", [&] { return std::to_string(p.PlayZonedIR(s(0), rest(line, 3))); }},
        {"PlayRemoteIR", [&] { return show(p.PlayRemoteIR(n(0), n(1), n(2))); }},
        {"LearnIRStart", [&] { return show(p.LearnIRStart(num(w.at(2)))); }},
        {"LearnIREnd", [&] { return p.LearnIREnd(), std::string(); }},
        {"LearnIR", [&] { return show(p.LearnIR(num(w.at(2)))); }},
        {"SetZone", [&] { return p.SetZone(num(w.at(2))), std::string(); }},
        {"SetTimeOut", [&] { return p.SetTimeOut(n(0)), std::string(); }},
        {"WriteScreen",
         [&] { return std::to_string(p.WriteScreen(n(0), n(1), s(2), n(3) != 0, n(4), n(5) != 0, n(6) != 0)); }},
        {"xasend", [&] { return std::to_string(p.xasend(hexOf(rest(line, 2)))); }},
        {"Exec", [&] { return p.Exec({}, s(0), s(1), n(2), n(3), n(4), n(5)), std::string(); }},
        {"ExecWait", [&] { return show(p.ExecWait({}, s(0), s(1), n(2), n(3), n(4), n(5))); }},
        {"QExec", [&] { return p.QExec({}, s(0), s(1), n(2), n(3), n(4), n(5)), std::string(); }},
        {"GetDeviceStatus", [&] { return std::to_string(p.GetDeviceStatus(s(0), s(1))); }},
        {"MaxZones", [&] { return std::to_string(p.MaxZones()); }},
        {"MaxDevices", [&] { return std::to_string(p.MaxDevices()); }},
        {"InterfaceStatus", [&] { return std::to_string(p.InterfaceStatus()); }},
        {"IsBusy", [&] { return std::to_string(p.IsBusy()); }},
        {"ConfigIO", [&] { return p.ConfigIO(), std::string(); }},
        {"ConfigIR", [&] { return p.ConfigIR(), std::string(); }},
        {"ConfigX10", [&] { return p.ConfigX10(), std::string(); }},
        {"CreateLeopardDevice", [&] { return CreateLeopardDevice(rig->ctx()), std::string(); }},
        {"Timer3", [&] { return Timer3_Timer(rig->ctx()), std::string(); }},
        {"Timer2", [&] { return Timer2_Timer(rig->ctx()), std::string(); }},
        {"SetClock", [&] { return SetClock(rig->ctx()), std::string(); }},
        {"SyncClock", [&] { return SyncClock(rig->ctx()), std::string(); }},
        {"InitController", [&] { return "\"" + InitController(rig->ctx()) + "\""; }},
        {"StartCommunications", [&] { return StartCommunications(rig->ctx()), std::string(); }},
        {"startupBegins", [&] { return startupBegins(rig->ctx()), std::string(); }},
        {"startupEnds", [&] { return startupEnds(rig->ctx()), std::string(); }},
        {"deviceMayHaveAppeared", [&] { return p.linkWatch().deviceMayHaveAppeared(), std::string(); }},
        {"SetIO",
         [&] {
             // SetIO CODE COMMAND BRIGHTNESS: as the host calls it for one of its devices
             const std::string code = w.at(2);
             std::shared_ptr<Device> dv;
             if (w.size() < 6 || w[5] != "without-device")
                 for (const auto& d : rig->host->devices())
                     if (d.code() == code) dv = rig->host->GetDeviceByRef(d.ref);
             std::int16_t command = n(1), brightness = n(2);
             p.SetIO(dv, code.substr(0, 1), code.substr(1), command, brightness, 0, 0);
             return "command " + std::to_string(command) + ", brightness " + std::to_string(brightness);
         }},
    };
    const auto it = calls.find(w.at(1));
    if (it == calls.end()) throw std::invalid_argument("no such call: " + w[1]);
    std::string said;
    try {
        said = it->second();
    } catch (const std::exception& e) {
        said = std::string("threw: ") + e.what();
    }
    if (!said.empty()) transcript.line("  = " + escaped(said));
}

// poke WHAT VALUE: plug-in state that the window or a CMAX run would set.
void Scenario::poke(const std::vector<std::string>& w) {
    auto& c = rig->ctx();
    const std::string& v = w.at(2);
    const bool on = v == "on";
    if (w[1] == "disconnect-request")
        c.timers.disconnectRequest = on;
    else if (w[1] == "cmax-launch")
        c.timers.cmaxLaunch = on;
    else if (w[1] == "cmax-exe")
        c.timers.cmaxExe = v;
    else if (w[1] == "ir-files-pending")
        c.ir.filesPending = on;
    else if (w[1] == "ir-size")
        c.controller.irSize = num(v);
    else if (w[1] == "comm-started")
        c.link.commStarted = on;
    else if (w[1] == "window-open")
        c.window.open = on;
    else if (w[1] == "log-comms")
        c.switches.logComms = on ? 1 : 0;
    else if (w[1] == "variable-timer")
        c.timers.timer2->setEnabled(on);
    else if (w[1] == "window") {
        // A window that only says what it was asked to do.
        struct Told final : ConfigWindow {
            explicit Told(Transcript& t) : t(t) {}
            void show(bool modal) override { t.line(std::string("window: show") + (modal ? " modal" : "")); }
            void showPortOpen(bool open) override { t.line(std::string("window: port ") + (open ? "on" : "off")); }
            void clickDisconnect() override { t.line("window: disconnect click"); }
            Transcript& t;
        };
        window_ = std::make_unique<Told>(transcript);
        c.configWindow = on ? window_.get() : nullptr;
    } else if (w[1] == "xap-companion") {
        c.xapCompanion = [this](const std::string& m) {
            transcript.line("xap companion: " + m);
            return true;
        };
    } else
        throw std::invalid_argument("poke: " + w[1]);
}

bool Scenario::directive(const std::string& line) {
    const auto w = words(line);
    if (w.empty()) return true;
    if (w[0] == ">") return consoleLine(rest(line, 1)), true;
    if (w[0] == ">>") {
        build();
        console->submit(rest(line, 1));
        return true;
    }
    if (w[0] == "run") {
        build();
        rig->run(num(w.at(1)));
        return true;
    }
    if (w[0] == "start") {
        build();
        rig->startAll();
        rig->run(1000);
        return true;
    }
    if (w[0] == "register") return build(), rig->registerPlugin(), true;
    if (w[0] == "repeat") {
        // repeat N DIRECTIVE: the directive N times, each {i} in it the round's number from 1,
        // without writing each round's line down again
        const std::string body = rest(line, 2);
        for (int i = 1; i <= num(w.at(1)); ++i) {
            std::string round = body;
            for (auto at = round.find("{i}"); at != std::string::npos; at = round.find("{i}", at))
                round.replace(at, 3, std::to_string(i));
            directive(round);
        }
        return true;
    }
    if (w[0] == "at") {
        // at MS DIRECTIVE: runs the directive that much later, inside whatever waits then.
        build();
        const std::string later = rest(line, 2);
        rig->loop.postUs(num(w.at(1)) * 1000LL, [this, later] {
            transcript.line("(at) " + later);
            try {
                directive(later);
            } catch (const std::exception& e) {
                transcript.line(std::string("!! ") + e.what());
            }
        });
        return true;
    }
    if (w[0] == "gate") {
        // gate busy|response|timer|x10 on|off: a sign of a running exchange, set by hand.
        build();
        auto& g = rig->ctx().gate;
        const bool on = w.at(2) == "on";
        if (w[1] == "busy")
            g.busy = on ? 1 : 0;
        else if (w[1] == "response")
            g.exchangeDepth = on ? 1 : 0;
        else if (w[1] == "timer")
            g.timerBusy = on;
        else if (w[1] == "x10")
            g.x10Sending = on ? 1 : 0;
        else
            throw std::invalid_argument("gate: " + w[1]);
        return true;
    }
    if (w[0] == "wire") return transcript.wireOn = w.at(1) == "on", true;
    if (w[0] == "sim") return simDirective(w, line), true;
    if (w[0] == "host") {
        if (!rig && w.size() > 1 && w[1] != "device" && w[1] != "devices" && w[1] != "file" && w[1] != "files" &&
            w[1] != "ini")
            return setup(w, line), true;
        return hostDirective(w, line), true;
    }
    if (w[0] == "call") return build(), call(w, line), true;
    if (w[0] == "answer") return build(), rig->prompts.answer = w.at(1) == "yes", true;
    if (w[0] == "launcher") {
        build();
        auto& l = rig->launcher;
        if (w.at(1) == "exit")
            l.exitCode = num(w.at(2));
        else if (w[1] == "end")
            l.end({});
        else if (w[1] == "show") {
            for (const auto& r : l.runs)
                transcript.line("  ran " + r.program + " " + r.arguments + (r.wait ? " (waited)" : ""));
            for (const auto& p : l.started)
                transcript.line("  started " + p->program + " " + p->arguments + (p->running ? " running" : "") +
                                (p->stopped ? " stopped" : "") + (p->killed ? " killed" : ""));
            transcript.line("  beeps " + std::to_string(rig->prompts.beeps));
        } else
            throw std::invalid_argument("launcher: " + w[1]);
        return true;
    }
    if (w[0] == "poke") return build(), poke(w), true;
    if (w[0] == "health") {
        build();
        transcript.line("  " + linkStateText(rig->ctx()));
        for (const auto& l : healthLines(rig->ctx())) transcript.line("  " + l);
        return true;
    }
    if (w[0] == "clock") {
        // clock YYYY MM DD HH MM SS: the local wall clock from now on
        build();
        using namespace std::chrono;
        rig->loop.setWallClock(sys_days{year{num(w.at(1))} / num(w.at(2)) / num(w.at(3))} + hours{num(w.at(4))} +
                               minutes{num(w.at(5))} + seconds{num(w.at(6))});
        return true;
    }
    if (w[0] == "user-setting")
        return build(), rig->userSettings.set("hspi_tarnwick", "settings", w.at(1), rest(line, 2)), true;
    if (w[0] == "disk") return diskFull = w.at(1) == "full", true;
    if (w[0] == "watch") return build(), rig->plugin->linkWatch().arm(), true;
    if (w[0] == "end-waits") return build(), rig->plugin->endWaits(), true;
    if (w[0] == "apply-mirror-choice") {
        build();
        const auto r = console->applyMirrorChoice(std::exchange(choice, {}));
        for (const auto& l : r.lines) transcript.line("  " + l);
        transcript.line("  (outcome " + std::to_string(static_cast<int>(r.outcome)) + ")");
        return true;
    }
    // restart: the plug-in and host made again on the same host directory (at the next
    // directive that needs them); fresh: a new directory and the default set-up too.
    if (w[0] == "restart") return stop(), true;
    if (w[0] == "fresh") return fresh(), true;
    if (w[0] == "port") {
        build();
        if (w.at(1) == "fail")
            rig->port.fail(rest(line, 2));
        else if (w[1] == "failing")
            rig->port.failingDevices[w.at(2)] = rest(line, 3);
        else if (w[1] == "heal")
            rig->port.failingDevices.erase(w.at(2));
        else if (w[1] == "show")
            transcript.line("  " + std::string(rig->port.isOpen() ? "open" : "closed") + ", opened " +
                            std::to_string(rig->port.openAttempts) + " times, " +
                            std::to_string(rig->port.writesWhileClosed) + " writes while closed, " +
                            std::to_string(rig->port.written.size()) + " writes");
        else
            throw std::invalid_argument("port: " + w[1]);
        return true;
    }
    for (auto& p : parts)
        if (p->directive(*this, w, line)) return true;
    if (rig) throw std::invalid_argument("unknown directive, or a set-up one after the start: " + line);
    setup(w, line);
    return true;
}

std::string Scenario::runFile(const std::filesystem::path& script) {
    std::ifstream in(script);
    if (!in) return "!! cannot read " + script.string() + "\n";
    std::string line;
    std::vector<std::string> heredoc;
    std::string fileTarget;
    bool crlf = true;
    auto writeHeredoc = [&] {
        if (fileTarget.empty()) return;
        std::string text;
        for (const auto& l : heredoc) text += l + (crlf ? "\r\n" : "\n");
        writeFile(dir->path() / fileTarget, text);
        fileTarget.clear();
        heredoc.clear();
    };
    while (std::getline(in, line)) {
        if (!fileTarget.empty() && line.starts_with("|")) {
            heredoc.push_back(line.size() > 1 ? unescape(line.substr(2)) : "");
            continue;
        }
        writeHeredoc();
        if (line.empty() || line.starts_with("#")) {
            if (line.starts_with("##")) transcript.plain(line);
            continue;
        }
        try {
            const auto w = words(line);
            if (w[0] == "file" || w[0] == "file-lf") {
                // file PATH, then its lines, each after "| ": written into the host directory
                crlf = w[0] == "file";
                fileTarget = w.at(1);
                transcript.plain(line);
                continue;
            }
            transcript.line(line);
            directive(unescape(line));
        } catch (const std::exception& e) {
            transcript.plain(std::string("!! ") + e.what());
            return transcript.text();
        }
    }
    writeHeredoc();
    stop();
    return transcript.text();
}

namespace {
std::vector<std::function<std::unique_ptr<ScenarioPart>()>>& partMakers() {
    static std::vector<std::function<std::unique_ptr<ScenarioPart>()>> makers;
    return makers;
}
}  // namespace

bool registerPart(std::function<std::unique_ptr<ScenarioPart>()> make) {
    partMakers().push_back(std::move(make));
    return true;
}

std::vector<std::unique_ptr<ScenarioPart>> makeParts() {
    std::vector<std::unique_ptr<ScenarioPart>> out;
    for (const auto& make : partMakers()) out.push_back(make());
    return out;
}

std::string runScenario(const std::filesystem::path& script) {
    Scenario s;
    return s.runFile(script);
}

}  // namespace varnel::test

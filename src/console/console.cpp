#include "console/console.h"

#include <algorithm>
#include <exception>

#include "commands/queue.h"
#include "commands/x10_commands.h"
#include "console/console_parts.h"
#include "console/help.h"
#include "console/x10_functions.h"
#include "devices/device_model.h"
#include "support/codepage.h"
#include "support/escape.h"
#include "support/text.h"

namespace varnel::console {

using detail::done;
using detail::Env;
using detail::refused;

namespace {

std::string commandWord(const Command& c) {
    const std::string line = formatCommand(c);
    return line.substr(0, line.find(' '));
}

// Refusals shared by the commands that reach the controller. Empty when all is well.
std::optional<std::string> linkProblem(const CommandLayer& ctx) {
    if (!ctx.host.hs) return "the plug-in is not registered with the host yet";
    if (!ctx.link.commStarted) return "the controller link is not started (status shows the port)";
    return std::nullopt;
}

std::optional<std::string> queueProblem(const CommandLayer& ctx) {
    if (auto p = linkProblem(ctx)) return p;
    if (ctx.queue.count >= CommandQueue::kSize)
        return "the command queue is full (" + std::to_string(ctx.queue.count) + " waiting); try again shortly";
    return std::nullopt;
}

// What became of a queued command: QExec works the queue off at once when it can.
std::string queuedOutcome(const CommandLayer& ctx, int before) {
    if (ctx.queue.count > before)
        return "queued (" + std::to_string(ctx.queue.count) + " waiting; sent when the controller is free)";
    return "sent";
}

// The refusal of a command the controller let time out; the plug-in's calls do not
// fail for it, so the console would otherwise claim success.
Reply noAnswer(const CommandLayer& ctx, const Command& c) {
    return refused(commandWord(c) + ": no answer from the controller (" + formatCommand(c) + " waited " +
                   std::to_string(ctx.link.responseTimeout) + " s for it)");
}

// True when a command sent since `unansweredBefore` got no answer.
bool lostAnswer(const CommandLayer& ctx, std::uint64_t unansweredBefore) {
    return ctx.link.unanswered != unansweredBefore;
}

class Runner {
public:
    explicit Runner(Env& env) : env_(env), ctx_(env.ctx) {}

    Reply operator()(const cmd::Empty&) { return {Reply::Outcome::Empty, {}}; }
    Reply operator()(const cmd::Help& h) {
        auto lines = helpLines(h.topic);
        if (lines.empty()) return refused("help: no command '" + h.topic + "' (type help for the list)");
        return done(std::move(lines));
    }
    Reply operator()(const cmd::Quit&) { return {Reply::Outcome::Quit, {"quit: stopping"}}; }
    Reply operator()(const cmd::Status&) { return detail::showStatus(env_); }
    Reply operator()(const cmd::Devices&) { return detail::showDevices(env_); }
    Reply operator()(const cmd::IrList&) { return detail::listIr(env_); }
    Reply operator()(const cmd::MirrorShow&) { return detail::showMirror(env_); }
    Reply operator()(const cmd::MirrorVars& m) { return saved(detail::mirrorVars(env_, m)); }
    Reply operator()(const cmd::MirrorPoints& m) { return saved(detail::mirrorPoints(env_, m)); }
    Reply operator()(const cmd::History& h) {
        if (!env_.history) return refused("history: this run keeps no history (history=off in [varnel])");
        return env_.history(h);
    }
    Reply operator()(const cmd::Config&) {
        // Only a run with a display has a window to open.
        ConfigWindow* window = env_.plugin.context().configWindow;
        if (!window)
            return done(
                "config: no display, so no configuration window; use mirror to choose the mirrored "
                "variables and points, and varnel sync for the System Map");
        window->show(false);
        return done("config: the configuration window is open");
    }

    Reply operator()(const cmd::Set& s);
    Reply operator()(const cmd::X10& x);
    Reply operator()(const cmd::Var& v);
    Reply operator()(const cmd::IrPlay& p);
    Reply operator()(const cmd::IrLearn& l);
    Reply operator()(const cmd::Analog& a);
    Reply operator()(const cmd::Param& p);
    Reply operator()(const cmd::Screen& s);

private:
    const host::DeviceRecord* findDevice(const std::string& code) const;
    // A change the host holds but could not write (a full disk) would be lost at the
    // next start: the line says so rather than read as done.
    Reply saved(Reply reply) {
        if (auto why = env_.host.saveNow(); why && !reply.lines.empty())
            reply.lines.back() += "; NOT SAVED: " + detail::printable(*why, 1000) +
                                  " (the run tries again and says in the log when it is saved)";
        return reply;
    }

    Env& env_;
    DeviceLayer& ctx_;
};

const host::DeviceRecord* Runner::findDevice(const std::string& code) const {
    const auto& all = env_.host.devices();
    for (const auto& d : all)
        if (d.code() == code) return &d;
    // Typed in the other case: take it when only one device answers to it.
    const host::DeviceRecord* match = nullptr;
    for (const auto& d : all) {
        if (!equalsNoCase(d.code(), code)) continue;
        if (match) return nullptr;
        match = &d;
    }
    return match;
}

Reply Runner::operator()(const cmd::Set& s) {
    const std::string head = formatCommand(s) + ": ";
    const host::DeviceRecord* dev = findDevice(s.code);
    if (!dev) return refused("set: no device with code '" + detail::printable(s.code) + "' (devices lists them)");
    const std::string code = dev->code();
    const std::string label = detail::printable(code) + " (" + detail::printable(dev->name) + ")";
    if (!equalsNoCase(dev->interface_, ctx_.devices.interfaceName))
        return refused("set: " + label + " belongs to another interface, not to this plug-in");

    const int house = dev->hc.empty() ? 0 : static_cast<unsigned char>(dev->hc[0]);
    const int varsCode = ctx_.devices.varsHouseCode;
    const bool variable = dev->iotype == kIoVariable && varsCode != 0 && (house == varsCode || house == varsCode + 1);
    if (dev->iomisc == "leopard") return refused("set: " + label + " is the Leopard screen (use screen)");
    if (dev->iotype == kIoInput) return refused("set: " + label + " is an input; inputs follow the controller");
    if (!variable && dev->iotype != kIoOutput) return refused("set: " + label + " is neither a variable nor an output");
    if (auto p = queueProblem(ctx_)) return refused("set: " + *p);

    std::int16_t command = kQueueSetVariable;
    std::int16_t brightness = 0;
    std::string effect;
    if (variable) {
        // The host's on and off buttons; the plug-in turns them into a write of 1 or 0.
        if (s.action == cmd::Set::Action::On) command = kX10On;
        if (s.action == cmd::Set::Action::Off) command = kX10Off;
        brightness = static_cast<std::int16_t>(s.action == cmd::Set::Action::Value ? s.value : 0);
        const auto number = parseNumber(dev->dc);
        const int var = number ? static_cast<int>(*number) - 1 + (house == varsCode + 1 ? 64 : 0) : -1;
        const int value = s.action == cmd::Set::Action::On ? 1 : s.action == cmd::Set::Action::Off ? 0 : s.value;
        effect = "variable " + std::to_string(var) + " <- " + std::to_string(value);
    } else {
        // An on/off command would only change the host device, and the next I/O
        // comparison would set it back; the value command writes the point.
        if (s.action == cmd::Set::Action::Value && s.value > 255)
            return refused("set: an output takes on, off or a value 0 to 255, not " + std::to_string(s.value));
        brightness = static_cast<std::int16_t>(s.action == cmd::Set::Action::On    ? 1
                                               : s.action == cmd::Set::Action::Off ? 0
                                                                                   : s.value);
        if (!ctx_.devices.mappingIndex.contains(dev->hc))
            return refused("set: " + label + " has no unit mapping (mirror its unit's points again)");
        effect = "unit " + field(dev->iomisc, '!', 1) + " point " + field(dev->iomisc, '!', 3) + " <- " +
                 std::to_string(brightness);
    }
    auto object = env_.host.GetDeviceByRef(dev->ref);
    const int before = ctx_.queue.count;
    const auto unanswered = ctx_.link.unanswered;
    env_.plugin.SetIO(object, object->hc(), object->dc(), command, brightness, 0, 0);
    if (lostAnswer(ctx_, unanswered)) return noAnswer(ctx_, s);
    return done(head + effect + ", " + queuedOutcome(ctx_, before));
}

Reply Runner::operator()(const cmd::X10& x) {
    if (auto p = queueProblem(ctx_)) return refused("x10: " + *p);
    const int before = ctx_.queue.count;
    const auto unanswered = ctx_.link.unanswered;
    env_.plugin.QExec(Variant{}, x.house, x.units, x.command, x.brightness, x.data1, x.data2);
    if (lostAnswer(ctx_, unanswered)) return noAnswer(ctx_, x);
    return done(formatCommand(x) + ": " + queuedOutcome(ctx_, before));
}

Reply Runner::operator()(const cmd::Var& v) {
    if (auto p = linkProblem(ctx_)) return refused("var: " + *p);
    const auto unanswered = ctx_.link.unanswered;
    env_.plugin.SetVar(v.number, v.value);
    if (lostAnswer(ctx_, unanswered)) return noAnswer(ctx_, v);
    return done(formatCommand(v) + ": written");
}

Reply Runner::operator()(const cmd::IrPlay& p) {
    if (auto problem = queueProblem(ctx_)) return refused("ir: " + *problem);
    if (!ctx_.controller.irStarted) return refused("ir: IR is not started (the host has not started it)");
    std::string note;
    if (p.zone && *p.zone != 0) {
        const int zones = env_.plugin.MaxZones();
        if (zones == 0) {
            note = " (no SECU16IR found: played on the controller's own output)";
        } else if (*p.zone > zones) {
            return refused("ir: zone must be 0 to " + std::to_string(zones) + ", not " + std::to_string(*p.zone));
        }
    }
    const int before = ctx_.queue.count;
    const std::int16_t queued =
        p.zone ? env_.plugin.PlayZonedIR(std::to_string(*p.zone), p.loc) : env_.plugin.PlayIREx(p.loc);
    if (queued == 0)
        return refused("ir: no IR code named '" + detail::printable(p.loc) + "' (ir list shows the names)");
    return done(formatCommand(p) + ": " + queuedOutcome(ctx_, before) + note);
}

Reply Runner::operator()(const cmd::IrLearn& l) {
    if (auto problem = queueProblem(ctx_)) return refused("ir: " + *problem);
    if (!ctx_.controller.irStarted) return refused("ir: IR is not started (the host has not started it)");
    const int before = ctx_.queue.count;
    env_.plugin.LearnIR(l.label);
    if (ctx_.queue.count > before)
        return done(formatCommand(l) + ": queued; the prompt goes to the host log when the controller is free");
    return done(formatCommand(l) + ": finished (the controller waited up to 15 s for the remote's key)");
}

Reply Runner::operator()(const cmd::Analog& a) {
    if (auto p = linkProblem(ctx_)) return refused("analog: " + *p);
    const std::int16_t value =
        env_.plugin.GetAnalogInput(static_cast<std::int16_t>(a.unit), static_cast<std::int16_t>(a.point));
    if (env_.plugin.InterfaceStatus() != 0) return noAnswer(ctx_, a);
    return done(formatCommand(a) + ": " + std::to_string(value));
}

Reply Runner::operator()(const cmd::Param& p) {
    if (auto problem = linkProblem(ctx_)) return refused("param: " + *problem);
    const std::int32_t value =
        env_.plugin.GetParameter(static_cast<std::int16_t>(p.unit), static_cast<std::int16_t>(p.number));
    if (value < 0) return refused("param: no answer from the controller after three attempts");
    return done(formatCommand(p) + ": " + std::to_string(value));
}

Reply Runner::operator()(const cmd::Screen& s) {
    if (auto p = linkProblem(ctx_)) return refused("screen: " + *p);
    const auto unanswered = ctx_.link.unanswered;
    env_.plugin.WriteScreen(static_cast<std::int16_t>(s.x), static_cast<std::int16_t>(s.y), s.text, s.backlight,
                            static_cast<std::int16_t>(s.font), s.clear, s.beep);
    if (lostAnswer(ctx_, unanswered)) return noAnswer(ctx_, s);
    std::string line = formatCommand(s) + ": written";
    if (const auto chars = toCodePage(s.text).size(); chars > kScreenChars)
        line += " (only the first " + std::to_string(kScreenChars) + " of " + std::to_string(chars) +
                " characters are shown)";
    return done(line);
}

}  // namespace

Console::Console(HSPI& plugin, EmbeddedHost& host, Sink sink) : plugin_(plugin), host_(host), sink_(std::move(sink)) {}

DeviceLayer& Console::ctx() { return plugin_.context(); }

bool Console::ready() const { return !running_ && plugin_.context().gate.idle(); }

bool Console::answersNow() const {
    return ready() || (!running_ && (plugin_.stopping() || plugin_.context().health.startupRunning));
}

Reply Console::emit(Reply reply) {
    if (reply.outcome == Reply::Outcome::Quit) quit_ = true;
    // Names from the host, the files and the controller reach the operator escaped.
    for (auto& line : reply.lines) line = escaped(line);
    if (sink_)
        for (const auto& line : reply.lines) sink_(line);
    return reply;
}

Reply Console::dispatch(const Command& command) {
    // Once the stop has begun nothing is taken any more: a device made or a write sent
    // now would be cut off halfway by the shutdown.
    if (plugin_.stopping() && !std::holds_alternative<cmd::Empty>(command))
        return refused(commandWord(command) + ": the run is stopping; nothing was done");
    if (!readsOnly(command) && plugin_.context().health.startupRunning)
        return refused(commandWord(command) +
                       ": the controller link is starting (a reconnect runs); nothing was done (status says when it "
                       "is up)");
    if (!readsOnly(command) && !ready())
        return {Reply::Outcome::NotReady,
                {commandWord(command) + ": the plug-in is waiting for the controller; nothing was done (try again)"}};
    struct Running {
        bool& flag;
        bool was;
        explicit Running(bool& f) : flag(f), was(f) { flag = true; }
        ~Running() { flag = was; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running(running_);
    Env env{plugin_, host_, ctx(), statusLines_, history_};
    try {
        Reply reply = std::visit(Runner{env}, command);
        if (std::holds_alternative<cmd::Status>(command))
            for (const auto& more : moreStatus_)
                for (auto& line : more()) reply.lines.push_back(std::move(line));
        return reply;
    } catch (const std::exception& e) {
        return refused(commandWord(command) + ": failed: " + detail::printable(e.what()));
    } catch (...) {
        return refused(commandWord(command) + ": failed");
    }
}

Reply Console::run(const Command& command, std::string_view origin) {
    try {
        Reply reply = emit(dispatch(command));
        if (onCommand && !readsOnly(command) &&
            (reply.outcome == Reply::Outcome::Done || reply.outcome == Reply::Outcome::Error))
            onCommand(formatCommand(command), reply, origin);
        return reply;
    } catch (...) {
        // Only a failing sink gets here; the reply is still the caller's.
        return {Reply::Outcome::Error, {"console: the output failed"}};
    }
}

Reply Console::execute(std::string_view line) {
    try {
        ParseResult parsed = parseCommand(line);
        if (auto* err = std::get_if<ParseError>(&parsed)) return emit({Reply::Outcome::Error, {err->message}});
        return run(std::get<Command>(parsed));
    } catch (...) {
        return {Reply::Outcome::Error, {"console: the line could not be read"}};
    }
}

void Console::submit(std::string line) {
    if (quit_) return;
    if (waiting_.empty() && ready()) {
        execute(line);
        return;
    }
    if (waiting_.size() >= kMaxWaiting) {
        emit({Reply::Outcome::Error,
              {"console: " + std::to_string(waiting_.size()) + " lines are waiting already; '" +
               detail::printable(line, 40) + "' was dropped"}});
        return;
    }
    waiting_.push_back(std::move(line));
}

void Console::pump() {
    while (!waiting_.empty() && !quit_ && ready()) {
        const std::string line = std::move(waiting_.front());
        waiting_.pop_front();
        execute(line);
    }
}

Reply Console::applyMirrorChoice(const MirrorChoice& choice) {
    Reply all{Reply::Outcome::Done, {}};
    auto add = [&](const Command& c) {
        Reply r = run(c);
        if (r.outcome != Reply::Outcome::Done) all.outcome = r.outcome;
        all.lines.insert(all.lines.end(), r.lines.begin(), r.lines.end());
    };
    if (choice.variables) add(cmd::MirrorVars{ListMode::Replace, *choice.variables});
    for (const auto& unit : choice.units)
        add(cmd::MirrorPoints{unit.unit, ListMode::Replace, unit.points, unit.invert});
    if (all.lines.empty()) all.outcome = Reply::Outcome::Empty;
    return all;
}

}  // namespace varnel::console

#include "sim/demo.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <sstream>

namespace varnel::sim {

namespace {
using Action = DemoStep::Action;

// Longest time a script may name: a day, so that sums never overflow.
constexpr std::int64_t kMaxMs = 24LL * 3600 * 1000;

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

std::optional<std::int64_t> number(std::string_view w, std::int64_t lo, std::int64_t hi) {
    std::int64_t v = 0;
    const auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
    if (ec != std::errc{} || p != w.data() + w.size() || v < lo || v > hi) return std::nullopt;
    return v;
}

std::optional<std::int64_t> house(std::string_view w) {
    if (w.size() == 1 && std::toupper(static_cast<unsigned char>(w[0])) >= 'A' &&
        std::toupper(static_cast<unsigned char>(w[0])) <= 'P')
        return std::toupper(static_cast<unsigned char>(w[0])) - 'A';
    return number(w, 0, 15);
}

struct Form {
    std::string_view name;
    Action action;
    std::size_t args;
};
constexpr Form kForms[] = {
    {.name = "var", .action = Action::Variable, .args = 2}, {.name = "input", .action = Action::Input, .args = 3},
    {.name = "x10", .action = Action::X10, .args = 2},      {.name = "ir", .action = Action::IrMatch, .args = 1},
    {.name = "touch", .action = Action::Touch, .args = 1},
};

// Returns an error text, or empty when `out` was filled.
std::string parseStep(const std::vector<std::string_view>& w, DemoStep& out) {
    const auto at = number(w[0], 0, kMaxMs);
    if (!at) return "bad time '" + std::string(w[0]) + "'";
    if (w.size() < 2) return "missing action";
    const auto form = std::find_if(std::begin(kForms), std::end(kForms), [&](const Form& f) { return f.name == w[1]; });
    if (form == std::end(kForms)) return "unknown action '" + std::string(w[1]) + "'";
    if (w.size() != form->args + 2)
        return "'" + std::string(w[1]) + "' takes " + std::to_string(form->args) + " values";
    out.atMs = *at;
    out.action = form->action;
    std::optional<std::int64_t> a, b, c{0};
    switch (form->action) {
        case Action::Variable:
            a = number(w[2], 0, kVariableCount - 1);
            b = number(w[3], 0, 65535);
            break;
        case Action::Input:
            a = number(w[2], 1, kModuleCount);
            b = number(w[3], 0, kPointsPerModule - 1);
            c = number(w[4], 0, 1);
            break;
        case Action::X10:
            a = house(w[2]);
            b = number(w[3], 0, 255);
            break;
        case Action::IrMatch:
        case Action::Touch:
            a = number(w[2], 0, 255);
            b = 0;
            break;
    }
    if (!a || !b || !c) return "value out of range";
    out.a = static_cast<int>(*a);
    out.b = static_cast<int>(*b);
    out.c = static_cast<int>(*c);
    return {};
}
}  // namespace

std::variant<DemoScript, std::string> parseDemoScript(std::string_view text) {
    DemoScript script;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        const auto w = words(line);
        if (w.empty()) continue;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (w[0] == "repeat") {
            const auto ms = w.size() == 2 ? number(w[1], 1, kMaxMs) : std::nullopt;
            if (!ms) return where + "repeat takes a time from 1 to " + std::to_string(kMaxMs) + " ms";
            script.repeatMs = *ms;
            continue;
        }
        DemoStep step;
        if (auto err = parseStep(w, step); !err.empty()) return where + err;
        script.steps.push_back(step);
    }
    std::stable_sort(script.steps.begin(), script.steps.end(),
                     [](const DemoStep& x, const DemoStep& y) { return x.atMs < y.atMs; });
    if (script.repeatMs && !script.steps.empty() && script.steps.back().atMs >= *script.repeatMs)
        return "a step at " + std::to_string(script.steps.back().atMs) + " ms never runs before the repeat at " +
               std::to_string(*script.repeatMs) + " ms";
    return script;
}

void Demo::later(std::int64_t delayUs, std::uint64_t gen, std::function<void()> fn) {
    std::weak_ptr<bool> alive = alive_;
    ctl_.scheduler().after(delayUs, [this, alive, gen, fn = std::move(fn)] {
        const auto token = alive.lock();
        if (token && *token && gen == generation_) fn();
    });
}

void Demo::runScript(DemoScript script) {
    script_ = std::move(script);
    startRound(++generation_);
}

void Demo::startRound(std::uint64_t gen) {
    for (const auto& step : script_.steps) later(step.atMs * 1000, gen, [this, step] { apply(step); });
    if (script_.repeatMs) later(*script_.repeatMs * 1000, gen, [this, gen] { startRound(gen); });
}

void Demo::runRandom(RandomDemo cfg) {
    random_ = std::move(cfg);
    random_.minGapMs = std::clamp<std::int64_t>(random_.minGapMs, 1, kMaxMs);
    random_.maxGapMs = std::clamp<std::int64_t>(random_.maxGapMs, random_.minGapMs, kMaxMs);
    state_ = random_.seed;
    scheduleRandom(++generation_);
}

void Demo::scheduleRandom(std::uint64_t gen) {
    later(between(random_.minGapMs, random_.maxGapMs) * 1000, gen, [this, gen] {
        randomStep();
        scheduleRandom(gen);
    });
}

// splitmix64: the same sequence on every platform and standard library.
std::uint64_t Demo::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::int64_t Demo::between(std::int64_t lo, std::int64_t hi) {
    if (hi <= lo) return lo;
    return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
}

void Demo::randomStep() {
    // Inputs can only change on modules that have them.
    std::vector<std::pair<int, int>> inputs;  // module, number of input points
    for (int m = 1; m <= kModuleCount; ++m) {
        const auto t = static_cast<ModuleType>(ctl_.memory().moduleType(m));
        if (t == ModuleType::Secu16) inputs.emplace_back(m, 8);
        if (t == ModuleType::Secu16I) inputs.emplace_back(m, 16);
    }
    std::vector<Action> kinds;
    if (random_.variables && !random_.variableSet.empty()) kinds.push_back(Action::Variable);
    if (random_.inputs && !inputs.empty()) kinds.push_back(Action::Input);
    if (random_.x10) kinds.push_back(Action::X10);
    if (random_.ir) kinds.push_back(Action::IrMatch);
    if (kinds.empty()) return;

    DemoStep s;
    s.action = kinds[static_cast<std::size_t>(between(0, static_cast<std::int64_t>(kinds.size()) - 1))];
    switch (s.action) {
        case Action::Variable: {
            const auto& set = random_.variableSet;
            s.a = std::clamp(set[static_cast<std::size_t>(between(0, static_cast<std::int64_t>(set.size()) - 1))], 0,
                             kVariableCount - 1);
            s.b = static_cast<int>(between(0, 1000));
            break;
        }
        case Action::Input: {
            const auto [module, points] =
                inputs[static_cast<std::size_t>(between(0, static_cast<std::int64_t>(inputs.size()) - 1))];
            s.a = module;
            s.b = static_cast<int>(between(0, points - 1));
            s.c = ctl_.memory().rawPoint(s.a, s.b) ? 0 : 1;
            break;
        }
        case Action::X10: {
            s.a = static_cast<int>(between(0, 15));
            DemoStep address{.atMs = 0, .action = Action::X10, .a = s.a, .b = static_cast<int>(between(0, 15)), .c = 0};
            apply(address);
            s.b = between(0, 1) == 0 ? 18 : 19;  // on or off
            break;
        }
        case Action::IrMatch: {
            const auto& learned = ctl_.learnedCodes();
            if (learned.empty()) {
                s.a = static_cast<int>(between(0, 255));
            } else {
                auto it = learned.begin();
                std::advance(it, between(0, static_cast<std::int64_t>(learned.size()) - 1));
                s.a = it->first & 0xFF;
            }
            break;
        }
        case Action::Touch: break;
    }
    apply(s);
}

void Demo::apply(const DemoStep& s) {
    std::ostringstream say;
    switch (s.action) {
        case Action::Variable:
            ctl_.setVariable(s.a, static_cast<std::uint16_t>(s.b));
            say << "variable " << s.a << " = " << s.b;
            break;
        case Action::Input:
            ctl_.changeInput(s.a, s.b, s.c != 0);
            say << "input " << s.a << "/" << s.b << " bit " << s.c;
            break;
        case Action::X10:
            ctl_.emitX10Received(static_cast<std::uint8_t>(s.a), static_cast<std::uint8_t>(s.b));
            say << "X10 heard " << static_cast<char>('A' + std::clamp(s.a, 0, 15)) << " key " << s.b;
            break;
        case Action::IrMatch:
            ctl_.emitIrMatch(static_cast<std::uint8_t>(s.a));
            say << "IR match " << s.a;
            break;
        case Action::Touch:
            ctl_.emitTouch(static_cast<std::uint8_t>(s.a));
            say << "touch " << s.a;
            break;
    }
    ++stepsRun_;
    if (onStep) onStep(say.str());
}

}  // namespace varnel::sim

#pragma once
// Makes a simulated controller look alive: variables and inputs change and
// reports go out, following a script or at random. Deterministic on virtual
// time: the same seed or script gives the same steps at the same instants.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/controller.h"

namespace varnel::sim {

struct DemoStep {
    enum class Action : std::uint8_t {
        Variable,  // a = variable 0..127, b = value 0..65535
        Input,     // a = module 1..128, b = point 0..15, c = stored bit 0/1 (I/O change report)
        X10,       // a = house index 0..15, b = key code 0..255 (X10 received report)
        IrMatch,   // a = code 0..255
        Touch,     // a = value 0..255 (Leopard touch report)
    };
    std::int64_t atMs = 0;  // from the start of the script (of each round, when it repeats)
    Action action = Action::Variable;
    int a = 0;
    int b = 0;
    int c = 0;
};

struct DemoScript {
    std::vector<DemoStep> steps;
    // Starts over this long after each start; empty: runs once.
    std::optional<std::int64_t> repeatMs;
};

// One step per line, "#" starts a comment:
//   <ms> var <n> <value>        <ms> input <module> <point> <0|1>
//   <ms> x10 <house A-P or 0-15> <key>    <ms> ir <code>    <ms> touch <value>
//   repeat <ms>
// Returns the script, or a message naming the first bad line.
std::variant<DemoScript, std::string> parseDemoScript(std::string_view text);

struct RandomDemo {
    std::uint64_t seed = 1;
    std::int64_t minGapMs = 500;  // between two steps
    std::int64_t maxGapMs = 3000;
    bool variables = true;  // change one of `variableSet`
    bool inputs = true;     // toggle an input of a SECU16 (points 0-7) or SECU16I module
    bool x10 = false;       // an address and an on or off heard on the power line
    bool ir = false;        // a match of a learned code (or any code when none was learned)
    std::vector<int> variableSet{0, 1, 2, 3, 4, 5, 6, 7};
};

class Demo {
public:
    explicit Demo(Controller& controller) : ctl_(controller) {}
    ~Demo() { *alive_ = false; }
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    // Each start replaces what ran before. Times count from now on the controller's scheduler.
    void runScript(DemoScript script);
    void runRandom(RandomDemo cfg);
    void stop() { ++generation_; }
    [[nodiscard]] std::uint64_t stepsRun() const { return stepsRun_; }

    // Told of every step, in words, e.g. "variable 3 = 120".
    std::function<void(const std::string&)> onStep;

    // Carries out one step now.
    void apply(const DemoStep& step);

private:
    void startRound(std::uint64_t gen);
    void scheduleRandom(std::uint64_t gen);
    void randomStep();
    std::uint64_t next();
    std::int64_t between(std::int64_t lo, std::int64_t hi);
    void later(std::int64_t delayUs, std::uint64_t gen, std::function<void()> fn);

    Controller& ctl_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::uint64_t generation_ = 0;
    std::uint64_t stepsRun_ = 0;
    DemoScript script_;
    RandomDemo random_;
    std::uint64_t state_ = 0;
};

}  // namespace varnel::sim

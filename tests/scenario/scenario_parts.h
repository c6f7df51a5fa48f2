#pragma once
// The scenario runner's pieces, for the parts that add directives (MQTT).
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/selection.h"
#include "engine_rig.h"

namespace varnel::test {

class Transcript {
public:
    // Virtual time in microseconds.
    std::function<std::int64_t()> clock;
    bool wireOn = true;
    // A line with the time before it.
    void line(const std::string& text);
    // A line as it is (directives that make files, section titles).
    void plain(const std::string& text);
    // Bytes on the wire; repeated exchanges are counted, not written again.
    void wire(bool fromHost, std::span<const std::uint8_t> bytes);
    // Text of the machine (a temp path) shown as `to`.
    void mask(std::string from, std::string to) {
        masks_.emplace_back(std::move(from), std::move(to));
        // longest first, so that a path is never taken for the start of a longer one
        std::sort(masks_.begin(), masks_.end(),
                  [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    }
    [[nodiscard]] std::string text() {
        flushWire();
        return out_;
    }

private:
    [[nodiscard]] std::string masked(std::string text) const;
    void endExchange();
    void flushRepeats();
    void flushWire();
    std::string out_;
    std::vector<std::pair<std::string, std::string>> masks_;
    std::vector<std::string> exchange_, lastExchange_;
    std::int64_t exchangeStartUs_ = 0;
    int repeats_ = 0;
    std::int64_t lastRepeatUs_ = 0;
};

class Scenario;

// The words after the first `skip` words of a line.
std::string restOf(const std::string& line, std::size_t skip);

// Directives of a part of the run beside the plug-in (the MQTT bridge), or of a reader
// that needs no plug-in. Each part's file registers it: registerPart(...) at namespace scope.
class ScenarioPart {
public:
    virtual ~ScenarioPart() = default;
    // True when the directive was one of this part's.
    virtual bool directive(Scenario& s, const std::vector<std::string>& words, const std::string& line) = 0;
    // The run ends (or starts afresh): drop what holds the plug-in.
    virtual void ending() {}
};
bool registerPart(std::function<std::unique_ptr<ScenarioPart>()> make);
std::vector<std::unique_ptr<ScenarioPart>> makeParts();

class Scenario {
public:
    Scenario();
    ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;
    std::string runFile(const std::filesystem::path& script);

    // Makes the rig at the first directive that needs it.
    void build();
    void stop();
    void fresh();

    std::unique_ptr<TempDir> dir;
    EngineOptions options;
    Transcript transcript;
    std::unique_ptr<EngineRig> rig;
    std::unique_ptr<console::Console> console;
    std::unique_ptr<Timer> feed;
    EmbeddedHost::Subscription events;
    std::vector<std::unique_ptr<ScenarioPart>> parts;
    // The start-up mirroring options gathered by "parse mirror-option".
    console::MirrorChoice choice;
    files::WriteFaults faults;
    bool diskFull = false;

private:
    bool directive(const std::string& line);
    void setup(const std::vector<std::string>& w, const std::string& line);
    void simDirective(const std::vector<std::string>& w, const std::string& line);
    void hostDirective(const std::vector<std::string>& w, const std::string& line);
    void consoleLine(const std::string& text);
    void call(const std::vector<std::string>& w, const std::string& line);
    void poke(const std::vector<std::string>& w);
    std::unique_ptr<ConfigWindow> window_;
    bool customModules_ = false;
};

}  // namespace varnel::test

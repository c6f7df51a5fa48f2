// Arbitrary bytes as an MQTT command payload for every kind of command topic, as a
// broker address and as names from the host: nothing throws, every refusal is one
// line, what is taken stays within the controller's ranges, and names come out as
// UTF-8 that JSON takes.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bridge/commands.h"
#include "bridge/entities.h"
#include "bridge/settings.h"
#include "bridge/text.h"
#include "entities/host_entity.h"

using namespace varnel;
using namespace varnel::bridge;

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

struct Check {
    void operator()(const console::cmd::Var& v) const {
        require(v.number >= 0 && v.number <= 127 && v.value >= 0 && v.value <= 65535);
    }
    void operator()(const console::cmd::X10& x) const {
        require(x.house.size() == 1 && x.house[0] >= 'A' && x.house[0] <= 'P');
        require(x.brightness >= 0 && x.brightness <= 100);
    }
    void operator()(const console::cmd::Screen& s) const {
        require(s.text.size() <= 255 && s.x >= 0 && s.y >= 0 && (s.font == 0 || s.font == 1));
        for (char c : s.text) require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    template <class T>
    void operator()(const T&) const {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const EntityKind* kinds[] = {&kVariable, &kOutput,      &kX10Light, &kIrButton,
                                 &kScreen,   &kScreenWrite, &kX10Send,  &kIrPlay};
    const LightState lights[] = {{.on = false, .brightness = 255}, {.on = true, .brightness = 1}};
    for (const EntityKind* kind : kinds) {
        const Entity e{.kind = kind, .key = "k", .path = "p", .code = "B7", .number = 5, .target = "TV POWER"};
        for (const LightState* light : {static_cast<const LightState*>(nullptr), &lights[0], &lights[1]}) {
            const CommandResult r = kind->command(e, bytes, light);
            if (const auto* why = std::get_if<std::string>(&r)) {
                require(!why->empty() && why->size() <= 600 && why->find('\n') == std::string::npos);
                continue;
            }
            const auto& a = std::get<Action>(r);
            // A notification writes a screen row a line, at most 16; everything else one or two commands.
            require(!a.commands.empty() && a.commands.size() <= (kind == &kScreen ? 16U : 2U));
            for (const auto& c : a.commands) std::visit(Check{}, c);
            if (a.light) require(a.light->brightness >= 1 && a.light->brightness <= 255);
        }
    }

    // Throws on anything but valid UTF-8.
    (void)nlohmann::json(toUtf8(bytes)).dump();
    host::DeviceRecord d;
    d.location = std::string(bytes.substr(0, size / 2));
    d.name = std::string(bytes.substr(size / 2));
    (void)nlohmann::json(entities::displayName(d)).dump();

    const auto url = parseBrokerUrl(bytes);
    if (const auto* a = std::get_if<BrokerAddress>(&url)) require(a->port >= 1 && a->port <= 65535 && !a->host.empty());
    // A topic root taken must be safe as the start of every topic and filter built on it.
    if (!topicRootProblem(bytes))
        require(!bytes.empty() && bytes.find_first_of("+#") == std::string_view::npos &&
                bytes.find('\0') == std::string_view::npos && bytes.find("//") == std::string_view::npos);
    return 0;
}

// Arbitrary bytes as an operator's console line and as the start-up mirroring options:
// nothing throws, every refusal is one line, and whatever parses writes back to a line
// that parses to the same thing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/command.h"
#include "console/selection.h"

using namespace varnel::console;

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

void checkLine(std::string_view line) {
    const ParseResult first = parseCommand(line);
    if (const auto* err = std::get_if<ParseError>(&first)) {
        require(!err->message.empty() && err->message.find('\n') == std::string::npos);
        require(err->message.size() <= 400);
        return;
    }
    const Command& command = std::get<Command>(first);
    const std::string canonical = formatCommand(command);
    const ParseResult again = parseCommand(canonical);
    require(std::holds_alternative<Command>(again) && std::get<Command>(again) == command);
}

void checkOptions(std::string_view value) {
    MirrorChoice choice;
    if (addMirrorOption(choice, "--mirror-vars", value)) {
        require(choice == MirrorChoice{});
    } else {
        require(choice.variables.has_value());
        auto again = parseMirrorVars(formatNumberList(*choice.variables));
        require(std::holds_alternative<std::vector<int>>(again) &&
                std::get<std::vector<int>>(again) == *choice.variables);
    }
    MirrorChoice points;
    if (auto err = addMirrorOption(points, "--mirror-points", value)) {
        require(err->find('\n') == std::string::npos);
        return;
    }
    for (const auto& unit : points.units) {
        require(unit.unit >= 1 && unit.unit <= 128);
        for (int p : unit.points) require(p >= 0 && p <= 15);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkLine(text);
    // The same bytes after each command word, so the fuzzer reaches every command's arguments.
    for (const char* word : {"x10 ", "set ", "ir play ", "screen ", "mirror vars ", "mirror points 1 "})
        checkLine(std::string(word) + std::string(text));
    checkOptions(text);
    return 0;
}

#pragma once
// The console's help: one line per command, and the details of each.
#include <string>
#include <string_view>
#include <vector>

namespace varnel::console {

// "x10 TARGET FUNCTION [ARGS]" for "x10"; empty for a word that is no command.
std::string usageOf(std::string_view word);
bool isCommandWord(std::string_view word);
// The overview for an empty topic, else the details of that command (empty when unknown).
std::vector<std::string> helpLines(std::string_view topic);

}  // namespace varnel::console

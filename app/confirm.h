#pragma once
// Yes/no questions on the terminal, for the commands that change files.
#include <iosfwd>
#include <string>
#include <string_view>

namespace varnel::app {

// "y" or "yes" in any case, blanks around allowed; anything else is No.
[[nodiscard]] bool isYes(std::string_view answer);

// Writes `question` and " [y/N] " to `out` and reads one line from `in`.
// End of input is No.
bool askYesNo(const std::string& question, std::istream& in, std::ostream& out);

// True when standard input is a terminal, so that somebody can answer.
[[nodiscard]] bool stdinIsTerminal();

}  // namespace varnel::app

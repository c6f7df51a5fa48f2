#include "confirm.h"

#include <unistd.h>

#include <istream>
#include <ostream>

namespace varnel::app {

bool isYes(std::string_view answer) {
    const auto first = answer.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return false;
    answer = answer.substr(first, answer.find_last_not_of(" \t\r\n") - first + 1);
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    std::string word;
    for (char c : answer) word += lower(c);
    return word == "y" || word == "yes";
}

bool askYesNo(const std::string& question, std::istream& in, std::ostream& out) {
    out << question << " [y/N] " << std::flush;
    std::string line;
    if (!std::getline(in, line)) {
        out << '\n';
        return false;
    }
    return isYes(line);
}

bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

}  // namespace varnel::app

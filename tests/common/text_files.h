#pragma once
// Whole files and numbered lines, for tests that check what was written to disk or said.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace varnel::test {

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Makes the folders on the way.
inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

// Line `n` (from 1) of `text`, without its line end ("\n" or "\r\n").
inline std::string lineAt(const std::string& text, int n) {
    std::size_t pos = 0;
    for (int i = 1; i < n; ++i) pos = text.find('\n', pos) + 1;
    const std::string line = text.substr(pos, text.find('\n', pos) - pos);
    return line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
}

// How often `what` occurs in `text`, overlaps counted.
inline std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace varnel::test

#include "web/log_book.h"

#include "support/escape.h"

namespace varnel::web {

void LogBook::add(LogLine line) {
    lines_.push_back(std::move(line));
    if (lines_.size() > kKept) lines_.pop_front();
    if (onLine) onLine(lines_.back());
}

nlohmann::json LogBook::toJson(const LogLine& line) {
    std::string time = line.time;
    if (time.size() > 10 && time[10] == ' ') time[10] = 'T';
    // The log carries names from outside: shown as text, never as markup or controls.
    return {{"time", time},
            {"level", line.level},
            {"source", escaped(line.source, 200)},
            {"text", escaped(line.text, 4000)}};
}

nlohmann::json LogBook::tail(std::size_t n) const {
    nlohmann::json out = nlohmann::json::array();
    const std::size_t from = lines_.size() > n ? lines_.size() - n : 0;
    for (std::size_t i = from; i < lines_.size(); ++i) out.push_back(toJson(lines_[i]));
    return out;
}

}  // namespace varnel::web

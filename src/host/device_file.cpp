#include "host/device_file.h"

#include <charconv>
#include <map>
#include <optional>
#include <set>

namespace varnel::host {

namespace {

constexpr std::string_view kHeader = "varnel host devices 1";
constexpr std::size_t kFields = 13;

std::string escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i == s.size()) return std::nullopt;
        switch (s[i]) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: return std::nullopt;
        }
    }
    return out;
}

template <typename Int>
std::optional<Int> number(std::string_view s) {
    Int v{};
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

std::vector<std::string_view> splitTabs(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    for (;;) {
        auto tab = line.find('\t', at);
        out.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
        if (tab == std::string_view::npos) return out;
        at = tab + 1;
        if (out.size() > kFields) return out;  // too many already; no need to go on
    }
}

std::optional<DeviceRecord> parseDevice(const std::vector<std::string_view>& f, std::string& why) {
    if (f.size() != kFields) {
        why = "expected " + std::to_string(kFields) + " fields";
        return std::nullopt;
    }
    DeviceRecord r;
    auto ref = number<std::int32_t>(f[1]);
    auto iotype = number<std::int16_t>(f[7]);
    auto status = number<std::int16_t>(f[8]);
    auto value = number<std::int32_t>(f[9]);
    auto misc = number<std::int32_t>(f[10]);
    if (!ref || *ref <= 0 || !iotype || !status || !value || !misc) {
        why = "bad number";
        return std::nullopt;
    }
    if (*ref > DeviceTable::kMaxRef) {
        why = "reference " + std::to_string(*ref) + " out of range";
        return std::nullopt;
    }
    std::string* texts[] = {&r.hc, &r.dc, &r.name, &r.location, &r.interface_};
    const std::size_t textAt[] = {2, 3, 4, 5, 6};
    for (std::size_t i = 0; i < 5; ++i) {
        auto t = unescape(f[textAt[i]]);
        if (!t) {
            why = "bad escape";
            return std::nullopt;
        }
        *texts[i] = std::move(*t);
    }
    auto iomisc = unescape(f[11]);
    auto type = unescape(f[12]);
    if (!iomisc || !type) {
        why = "bad escape";
        return std::nullopt;
    }
    r.ref = *ref;
    r.iotype = *iotype;
    r.Status = *status;
    r.value = *value;
    r.misc = *misc;
    r.iomisc = std::move(*iomisc);
    r.dev_type_string = std::move(*type);
    return r;
}

}  // namespace

std::string writeDeviceFile(const DeviceTable& table) {
    std::string out(kHeader);
    out += "\nnext\t" + std::to_string(table.nextRef()) + "\n";
    for (const DeviceRecord& r : table.records()) {
        out += "dev\t" + std::to_string(r.ref) + '\t' + escape(r.hc) + '\t' + escape(r.dc) + '\t' + escape(r.name) +
               '\t' + escape(r.location) + '\t' + escape(r.interface_) + '\t' + std::to_string(r.iotype) + '\t' +
               std::to_string(r.Status) + '\t' + std::to_string(r.value) + '\t' + std::to_string(r.misc) + '\t' +
               escape(r.iomisc) + '\t' + escape(r.dev_type_string) + '\n';
    }
    return out;
}

DeviceFileContent readDeviceFile(std::string_view text) {
    DeviceFileContent out;
    std::set<std::int32_t> refs;
    std::map<std::string, std::size_t> codeLines;  // device code -> line that has it
    std::size_t at = 0, lineNo = 0;
    while (at < text.size()) {
        auto nl = text.find('\n', at);
        std::string_view line = text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
        at = nl == std::string_view::npos ? text.size() : nl + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (lineNo == 1) {
            if (line != kHeader) {
                out.problems.push_back("line 1: not a device file of this version");
                return out;
            }
            out.formatKnown = true;
            continue;
        }
        if (line.empty()) continue;
        auto f = splitTabs(line);
        std::string why;
        if (f[0] == "next" && f.size() == 2) {
            if (auto n = number<std::int32_t>(f[1]); n && *n > 0) {
                // One past the highest usable reference is still a reference to hand out.
                if (*n > DeviceTable::kMaxRef + 1)
                    out.nextRefRepaired = *n;
                else
                    out.nextRef = *n;
                continue;
            }
            why = "bad next reference";
        } else if (f[0] == "dev") {
            if (auto r = parseDevice(f, why)) {
                if (out.records.size() >= DeviceTable::kMaxDevices) {
                    why = "too many devices";
                } else if (!refs.insert(r->ref).second) {
                    why = "reference " + std::to_string(r->ref) + " repeated";
                } else if (const auto [first, fresh] = codeLines.emplace(r->code(), lineNo);
                           !fresh && !r->code().empty()) {
                    // Two devices with one code: every lookup by code finds the first only.
                    refs.erase(r->ref);
                    why =
                        "device code " + r->code() + " repeated (first on line " + std::to_string(first->second) + ")";
                } else {
                    out.records.push_back(std::move(*r));
                    continue;
                }
            }
        } else {
            why = "unknown line";
        }
        out.problems.push_back("line " + std::to_string(lineNo) + ": " + why);
    }
    if (lineNo == 0) out.problems.push_back("empty file");
    return out;
}

}  // namespace varnel::host

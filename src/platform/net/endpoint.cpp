#include "platform/net/endpoint.h"

#include <algorithm>
#include <cctype>

namespace varnel::net {

namespace {

constexpr std::size_t kMaxHost = 253;  // the longest name DNS can carry
constexpr std::string_view kSeparator = "://";
constexpr std::string_view kForms = "tcp://HOST:PORT or rfc2217://HOST:PORT";

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool nameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_'; }

bool ipv6Char(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.'; }

// The zone of a link-local address ("fe80::1%eth0") names an interface.
bool ipv6Text(std::string_view s) {
    const auto zone = s.find('%');
    const auto address = s.substr(0, zone);
    if (address.find(':') == std::string_view::npos || !std::all_of(address.begin(), address.end(), ipv6Char))
        return false;
    if (zone == std::string_view::npos) return true;
    const auto name = s.substr(zone + 1);
    return !name.empty() && std::all_of(name.begin(), name.end(), nameChar);
}

}  // namespace

std::string Endpoint::text() const {
    const bool bracket = host.find(':') != std::string::npos;
    return std::string(scheme == Scheme::Tcp ? "tcp" : "rfc2217") + "://" + (bracket ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

bool isUrl(std::string_view text) {
    const auto at = text.find(kSeparator);
    if (at == std::string_view::npos || at == 0) return false;
    const auto scheme = text.substr(0, at);
    return std::all_of(scheme.begin(), scheme.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+'; });
}

std::variant<Endpoint, std::string> parseEndpoint(std::string_view text) {
    const auto at = text.find(kSeparator);
    if (at == std::string_view::npos) return "needs " + std::string(kForms);
    Endpoint e;
    const auto scheme = text.substr(0, at);
    if (equalsNoCase(scheme, "tcp"))
        e.scheme = Scheme::Tcp;
    else if (equalsNoCase(scheme, "rfc2217"))
        e.scheme = Scheme::Rfc2217;
    else
        return "not a kind of port varnel knows; use " + std::string(kForms) + ", or a serial device";

    std::string_view rest = text.substr(at + kSeparator.size());
    std::string_view host;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) return std::string("an IPv6 address needs its closing ]");
        host = rest.substr(1, close - 1);
        if (!ipv6Text(host)) return std::string("the address in [ ] is no IPv6 address");
        rest = rest.substr(close + 1);
        if (!rest.starts_with(':')) return "needs :PORT after the address, as in " + std::string(kForms);
        rest.remove_prefix(1);
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string_view::npos) return "needs :PORT after the host, as in " + std::string(kForms);
        host = rest.substr(0, colon);
        rest = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos)
            return std::string("an IPv6 address goes in brackets: tcp://[::1]:PORT");
        if (!std::all_of(host.begin(), host.end(), nameChar))
            return std::string("the host may hold letters, digits, '-', '.' and '_' only");
    }
    if (host.empty()) return "needs a host, as in " + std::string(kForms);
    if (host.size() > kMaxHost) return "the host is longer than " + std::to_string(kMaxHost) + " characters";

    // A trailing "/" is what a URL copied from elsewhere often carries.
    if (rest.ends_with('/')) rest.remove_suffix(1);
    unsigned port = 0;
    if (rest.empty() || rest.size() > 5 ||
        !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::string("the port must be a number from 1 to 65535");
    for (const char c : rest) port = port * 10 + static_cast<unsigned>(c - '0');
    if (port < 1 || port > 65535) return std::string("the port must be a number from 1 to 65535");
    e.host = std::string(host);
    e.port = static_cast<std::uint16_t>(port);
    return e;
}

}  // namespace varnel::net

#include "web/bind_address.h"

#include <QHostAddress>
#include <QString>
#include <charconv>

#include "console/selection.h"

namespace varnel::web {

using console::quoted;

bool BindAddress::loopback() const { return QHostAddress(QString::fromStdString(host)).isLoopback(); }

std::string BindAddress::url() const {
    const bool v6 = host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

std::variant<BindAddress, std::string> parseBindAddress(std::string_view text) {
    BindAddress out;
    std::string_view portText = text;
    if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (host.starts_with('[') && host.ends_with(']')) {
            host = host.substr(1, host.size() - 2);
        } else if (host.find(':') != std::string_view::npos) {
            return "an IPv6 address goes in brackets, as in [::1]:8099, not " + quoted(text);
        }
        if (host == "localhost") host = "127.0.0.1";
        QHostAddress address;
        if (host.empty() || !address.setAddress(QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size()))))
            return "needs an IP address before the port, not " + quoted(text);
        // Scoped and mapped forms would not compare with what the sockets report.
        out.host = address.toString().toStdString();
    }
    unsigned value = 0;
    const auto* end = portText.data() + portText.size();
    const auto [ptr, ec] = std::from_chars(portText.data(), end, value);
    if (portText.empty() || ec != std::errc() || ptr != end || value < 1 || value > 65535)
        return "needs [ADDRESS:]PORT with a port from 1 to 65535, not " + quoted(text);
    out.port = static_cast<std::uint16_t>(value);
    return out;
}

}  // namespace varnel::web

#pragma once
// A controller reached through a serial server: the port text "tcp://HOST:PORT"
// (the line's bytes, nothing else) or "rfc2217://HOST:PORT" (telnet with the
// com-port option, so the far end's line can be set). Any other text is a device.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace varnel::net {

enum class Scheme : std::uint8_t { Tcp, Rfc2217 };

struct Endpoint {
    Scheme scheme = Scheme::Tcp;
    std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
    std::uint16_t port = 0;

    // As the user writes it, and as every message names it.
    [[nodiscard]] std::string text() const;
};

// The one line `varnel ports` and the help show.
inline constexpr std::string_view kPortForms =
    "--port tcp://HOST:PORT (raw TCP: the server's line must already run at 9600 8N1) or rfc2217://HOST:PORT "
    "(telnet: varnel sets 9600 8N1) reaches a serial server such as ser2net";

// True for a text written as a URL ("scheme://..."), which is never a device path.
[[nodiscard]] bool isUrl(std::string_view text);

// The endpoint, or why the text is none ("needs tcp://HOST:PORT ...").
[[nodiscard]] std::variant<Endpoint, std::string> parseEndpoint(std::string_view text);

}  // namespace varnel::net

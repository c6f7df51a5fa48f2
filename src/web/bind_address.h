#pragma once
// Where the web page listens: "[ADDR:]PORT" from the command line or the settings.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace varnel::web {

struct BindAddress {
    std::string host = "127.0.0.1";  // an IP address, IPv6 without brackets
    std::uint16_t port = 0;
    // Only this machine can reach it, so no password is asked for.
    [[nodiscard]] bool loopback() const;
    // "http://127.0.0.1:8099/", "http://[::1]:8099/"
    [[nodiscard]] std::string url() const;
    bool operator==(const BindAddress&) const = default;
};

// "8099", "127.0.0.1:8099", "0.0.0.0:8099", "[::1]:8099", "localhost:8099"; otherwise
// one line saying what is wrong.
[[nodiscard]] std::variant<BindAddress, std::string> parseBindAddress(std::string_view text);

}  // namespace varnel::web

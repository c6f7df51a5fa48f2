// Port texts that name a serial server: what is taken, and why the rest is not.
#include <gtest/gtest.h>

#include <string>

#include "platform/net/endpoint.h"

namespace varnel::net {
namespace {

TEST(Endpoint, gives_scheme_host_and_port) {
    struct Case {
        const char* text;
        Scheme scheme;
        const char* host;
        std::uint16_t port;
        const char* shown;
    };
    for (const Case& c :
         {Case{"tcp://10.0.0.7:3001", Scheme::Tcp, "10.0.0.7", 3001, "tcp://10.0.0.7:3001"},
          Case{"RFC2217://closet-box.local:4001/", Scheme::Rfc2217, "closet-box.local", 4001,
               "rfc2217://closet-box.local:4001"},
          Case{"tcp://[::1]:65535", Scheme::Tcp, "::1", 65535, "tcp://[::1]:65535"},
          Case{"rfc2217://[fe80::1%eth0]:1", Scheme::Rfc2217, "fe80::1%eth0", 1, "rfc2217://[fe80::1%eth0]:1"}}) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseEndpoint(c.text);
        ASSERT_TRUE(std::holds_alternative<Endpoint>(parsed)) << std::get<std::string>(parsed);
        const auto& e = std::get<Endpoint>(parsed);
        EXPECT_EQ(e.scheme, c.scheme);
        EXPECT_EQ(e.host + " " + std::to_string(e.port) + " " + e.text(),
                  std::string(c.host) + " " + std::to_string(c.port) + " " + c.shown);
    }
}

TEST(Endpoint, says_what_is_wrong) {
    const std::pair<std::string, const char*> cases[] = {
        {"udp://box:3001", "not a kind of port"}, {"tcp://box", "needs :PORT"},
        {"tcp://:3001", "needs a host"},          {"tcp://box:65536", "1 to 65535"},
        {"tcp://box:30x1", "1 to 65535"},         {"tcp://::1:3001", "in brackets"},
        {"tcp://[::1:3001", "closing ]"},         {"tcp://[box]:3001", "no IPv6 address"},
        {"tcp://box\n:3001", "letters, digits"},  {"tcp://" + std::string(254, 'a') + ":1", "253"}};
    for (const auto& [text, says] : cases) {
        const auto parsed = parseEndpoint(text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << text;
        EXPECT_NE(std::get<std::string>(parsed).find(says), std::string::npos) << std::get<std::string>(parsed);
    }
}

TEST(Endpoint, tells_a_url_from_a_device_path) {
    for (const char* url : {"tcp://x", "rfc2217://h:1", "udp://h:1", "ser2net+x://h"}) EXPECT_TRUE(isUrl(url)) << url;
    for (const char* device : {"/dev/ttyUSB0", "COM3", "", "://x", "./a://b", "/dev/serial/by-id/usb-FTDI:x"})
        EXPECT_FALSE(isUrl(device)) << device;
}

}  // namespace
}  // namespace varnel::net

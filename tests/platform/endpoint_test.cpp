// Port texts that name a serial server: what is taken, and why the rest is not.
#include <gtest/gtest.h>

#include <string>

#include "platform/net/endpoint.h"

namespace varnel::net {
namespace {

struct GoodCase {
    const char* text;
    Scheme scheme;
    const char* host;
    std::uint16_t port;
    const char* shown;
};

class EndpointTaken : public testing::TestWithParam<GoodCase> {};

TEST_P(EndpointTaken, gives_scheme_host_and_port) {
    const auto& c = GetParam();
    const auto parsed = parseEndpoint(c.text);
    ASSERT_TRUE(std::holds_alternative<Endpoint>(parsed)) << std::get<std::string>(parsed);
    const auto& e = std::get<Endpoint>(parsed);
    EXPECT_EQ(e.scheme, c.scheme);
    EXPECT_EQ(e.host, c.host);
    EXPECT_EQ(e.port, c.port);
    EXPECT_EQ(e.text(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndpointTaken,
                         testing::Values(GoodCase{"tcp://10.0.0.7:3001", Scheme::Tcp, "10.0.0.7", 3001,
                                                  "tcp://10.0.0.7:3001"},
                                         GoodCase{"RFC2217://closet-box.local:4001/", Scheme::Rfc2217,
                                                  "closet-box.local", 4001, "rfc2217://closet-box.local:4001"},
                                         GoodCase{"tcp://[::1]:65535", Scheme::Tcp, "::1", 65535, "tcp://[::1]:65535"},
                                         GoodCase{"rfc2217://[fe80::1%eth0]:1", Scheme::Rfc2217, "fe80::1%eth0", 1,
                                                  "rfc2217://[fe80::1%eth0]:1"}));

struct BadCase {
    const char* text;
    const char* says;
};

class EndpointRefused : public testing::TestWithParam<BadCase> {};

TEST_P(EndpointRefused, says_what_is_wrong) {
    const auto& c = GetParam();
    const auto parsed = parseEndpoint(c.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
    EXPECT_NE(std::get<std::string>(parsed).find(c.says), std::string::npos) << std::get<std::string>(parsed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndpointRefused,
    testing::Values(BadCase{"udp://box:3001", "not a kind of port"}, BadCase{"tcp://box", "needs :PORT"},
                    BadCase{"tcp://:3001", "needs a host"}, BadCase{"tcp://box:0", "1 to 65535"},
                    BadCase{"tcp://box:65536", "1 to 65535"}, BadCase{"tcp://box:30x1", "1 to 65535"},
                    BadCase{"tcp://box:", "1 to 65535"}, BadCase{"tcp://box:0000003001", "1 to 65535"},
                    BadCase{"tcp://::1:3001", "in brackets"}, BadCase{"tcp://[::1:3001", "closing ]"},
                    BadCase{"tcp://[box]:3001", "no IPv6 address"}, BadCase{"tcp://[::1]3001", "needs :PORT"},
                    BadCase{"tcp://bad host:3001", "letters, digits"}, BadCase{"tcp://box\n:3001", "letters, digits"},
                    BadCase{"tcp://box/path:3001", "letters, digits"}));

TEST(EndpointRefused, a_host_longer_than_dns_carries) {
    const auto parsed = parseEndpoint("tcp://" + std::string(254, 'a') + ":1");
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_NE(std::get<std::string>(parsed).find("253"), std::string::npos);
}

TEST(EndpointUrl, tells_a_url_from_a_device_path) {
    for (const char* url : {"tcp://x", "rfc2217://h:1", "udp://h:1", "ser2net+x://h"}) EXPECT_TRUE(isUrl(url)) << url;
    for (const char* device : {"/dev/ttyUSB0", "COM3", "", "://x", "./a://b", "/dev/serial/by-id/usb-FTDI:x"})
        EXPECT_FALSE(isUrl(device)) << device;
}

}  // namespace
}  // namespace varnel::net

// What a network port says about a failed socket or name lookup.
#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>

#include "platform/qt/qt_net_port.h"

namespace varnel {
namespace {

TEST(NetPortErrors, system_causes_become_a_few_words) {
    const struct {
        QAbstractSocket::SocketError error;
        const char* qtText;
        const char* said;
    } socketCases[] = {
        {QAbstractSocket::ConnectionRefusedError, "Connection refused", "connection refused"},
        {QAbstractSocket::NetworkError, "Host unreachable", "no route to host"},
        {QAbstractSocket::NetworkError, "Connection timed out", "no answer from the far end (timed out)"},
        {QAbstractSocket::NetworkError, "Connection reset by peer", "connection reset by the far end"},
        {QAbstractSocket::HostNotFoundError, "Host not found", "host name not found"},
    };
    for (const auto& c : socketCases) EXPECT_EQ(socketErrorText(c.error, c.qtText), c.said) << c.qtText;
    EXPECT_EQ(lookupErrorText(EAI_NONAME), "host name not found");
    EXPECT_EQ(lookupErrorText(EAI_SYSTEM, ECONNREFUSED), "host name lookup failed (connection refused)");
}

}  // namespace
}  // namespace varnel

// The request that asks Home Assistant's Supervisor for its MQTT service, against a
// server on the loopback: the bearer token goes with it, the answer is read, and a
// server that is gone gives an error, not a hang.
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>

#include "ha_app.h"

namespace varnel::app {
namespace {

TEST(HaApp, the_services_request_carries_the_bearer_token_and_reads_the_answer) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QByteArray request;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket* s = server.nextPendingConnection();
        QObject::connect(s, &QTcpSocket::readyRead, s, [&request, s] {
            request += s->readAll();
            if (!request.contains("\r\n\r\n")) return;
            s->write(
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\n"
                "Connection: close\r\n\r\n{\"data\":{}}");
            s->disconnectFromHost();
        });
    });
    const auto url = "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/services/mqtt";
    const auto a = supervisorGet(url, "tok3n");
    EXPECT_EQ(a.status, 200) << a.error;
    EXPECT_EQ(a.body, R"({"data":{}})");
    EXPECT_TRUE(request.startsWith("GET /services/mqtt ")) << request.toStdString();
    EXPECT_TRUE(request.contains("Authorization: Bearer tok3n\r\n")) << request.toStdString();
    server.close();
    const auto none = supervisorGet(url, "tok3n", 2000);
    EXPECT_EQ(none.status, 0);
    EXPECT_FALSE(none.error.empty());
}

}  // namespace
}  // namespace varnel::app

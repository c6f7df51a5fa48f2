#include "net_far_end.h"

#include <QHostAddress>

#include "platform/net/telnet.h"

namespace varnel::test {

namespace tn = net::telnet;

NetFarEnd::NetFarEnd(Options options) : o_(options) {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
}

NetFarEnd::~NetFarEnd() {
    if (client_) client_->abort();
}

void NetFarEnd::accept() {
    while (QTcpSocket* next = server_.nextPendingConnection()) {
        if (client_) {  // one client at a time, as a serial port has
            next->abort();
            next->deleteLater();
            continue;
        }
        client_ = next;
        ++connections_;
        client_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(client_, &QTcpSocket::readyRead, client_, [this] { readClient(); });
        QObject::connect(client_, &QTcpSocket::disconnected, client_, [this, c = client_] {
            if (client_ == c) client_ = nullptr;
            c->deleteLater();
        });
        t_ = T::Data;
        if (o_.telnet) {
            // What a ser2net telnet(rfc2217) port says first.
            sendRaw({tn::kIac, tn::kWill, tn::kSuppressGoAhead,
                     tn::kIac, tn::kDo,   tn::kSuppressGoAhead,
                     tn::kIac, tn::kWill, tn::kEcho,
                     tn::kIac, tn::kDont, tn::kEcho,
                     tn::kIac, tn::kDo,   tn::kBinary,
                     tn::kIac, tn::kWill, tn::kBinary,
                     tn::kIac, tn::kDo,   tn::kComPort});
        }
    }
}

void NetFarEnd::sendRaw(const Bytes& bytes) {
    if (!client_) return;
    client_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    client_->flush();
}

void NetFarEnd::sendLine(const Bytes& bytes) {
    Bytes wire;
    for (const auto b : bytes) {
        wire.push_back(b);
        if (o_.telnet && b == tn::kIac) wire.push_back(b);
    }
    sendRaw(wire);
}

void NetFarEnd::dropClient() {
    if (client_) client_->abort();
}

void NetFarEnd::readClient() {
    if (!client_) return;
    const QByteArray bytes = client_->readAll();
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (o_.telnet)
            telnetByte(b);
        else
            line_.push_back(b);
    }
}

void NetFarEnd::telnetByte(std::uint8_t b) {
    const auto data = [this](std::uint8_t d) { line_.push_back(d); };
    switch (t_) {
        case T::Data:
            if (b == tn::kIac)
                t_ = T::Iac;
            else
                data(b);
            break;
        case T::Iac:
            t_ = T::Data;
            if (b == tn::kIac) data(b);
            if (b >= tn::kWill && b <= tn::kDont) t_ = T::Verb;
            if (b == tn::kSb) {
                sb_.clear();
                t_ = T::Sb;
            }
            break;
        case T::Verb: t_ = T::Data; break;
        case T::Sb:
            if (b == tn::kIac)
                t_ = T::SbIac;
            else
                sb_.push_back(b);
            break;
        case T::SbIac:
            if (b == tn::kIac) {
                sb_.push_back(b);
                t_ = T::Sb;
                break;
            }
            t_ = T::Data;
            if (b == tn::kSe) subnegotiation();
            break;
    }
}

void NetFarEnd::subnegotiation() {
    if (!o_.answerSettings || sb_.size() < 2 || sb_[0] != tn::kComPort) return;
    const std::uint8_t command = sb_[1];
    if (command < 1 || command > 5) return;
    Bytes value(sb_.begin() + 2, sb_.end());
    if (command == 1 && o_.baudAnswer != 0)
        value = {static_cast<std::uint8_t>(o_.baudAnswer >> 24), static_cast<std::uint8_t>(o_.baudAnswer >> 16),
                 static_cast<std::uint8_t>(o_.baudAnswer >> 8), static_cast<std::uint8_t>(o_.baudAnswer)};
    Bytes answer{tn::kIac, tn::kSb, tn::kComPort, static_cast<std::uint8_t>(command + tn::kServerAnswer)};
    for (const auto v : value) {
        answer.push_back(v);
        if (v == tn::kIac) answer.push_back(v);
    }
    answer.insert(answer.end(), {tn::kIac, tn::kSe});
    sendRaw(answer);
}

}  // namespace varnel::test

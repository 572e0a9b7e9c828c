#include "support/loopbackserver.h"

#include "core/hosterror.h"
#include "net/wire.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <stdexcept>

namespace testsupport {

LoopbackServer::LoopbackServer(QObject* parent) : QObject(parent), m_server(new QTcpServer(this)) {
    if (!m_server->listen(QHostAddress::LocalHost, 0)) {
        throw std::runtime_error("loopback server cannot listen: " +
                                 m_server->errorString().toStdString());
    }
    connect(m_server, &QTcpServer::newConnection, this, &LoopbackServer::accept);
}

LoopbackServer::~LoopbackServer() {
    closeClients();
}

quint16 LoopbackServer::port() const {
    return m_server->serverPort();
}

void LoopbackServer::closeClients() {
    const auto sockets = m_clients.keys();
    m_clients.clear();
    for (QTcpSocket* s : sockets) {
        s->disconnect(this);
        s->abort();
        s->deleteLater();
    }
}

void LoopbackServer::accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        ++m_accepted;
        m_clients.insert(socket, std::make_shared<host::wire::FrameBuffer>());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_clients.remove(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackServer::readFrom(QTcpSocket* socket) {
    const auto frames = m_clients.value(socket);
    if (!frames) {
        return;
    }
    frames->append(socket->readAll());
    try {
        while (auto payload = frames->takeFrame()) {
            const host::wire::Request req = host::wire::decodeRequest(*payload);
            Received r{req.server, req.method, req.args};
            m_received.append(r);
            respond(socket, r);
            if (!m_clients.contains(socket)) {
                return;
            }
        }
    } catch (const host::ENetError& e) {
        m_errors.append(e.text());
        m_clients.remove(socket);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void LoopbackServer::respond(QTcpSocket* socket, const Received& request) {
    const Script s = m_scripts.value(
        request.method,
        Script::fail(QStringLiteral("Método desconhecido: %1").arg(request.method)));
    QByteArray bytes;
    switch (s.kind) {
        case Script::Kind::Result:
            bytes = host::wire::replyFrame(host::wire::Reply::success(s.result));
            break;
        case Script::Kind::Echo:
            bytes = host::wire::replyFrame(host::wire::Reply::success(request.args));
            break;
        case Script::Kind::Error:
            bytes = host::wire::replyFrame(host::wire::Reply::failure(s.error));
            break;
        case Script::Kind::Raw:
            bytes = s.raw;
            break;
        case Script::Kind::Silent:
            return;
        case Script::Kind::Drop:
            m_clients.remove(socket);
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
            return;
    }
    if (s.delayMs <= 0) {
        send(socket, bytes, s.chunkSize, s.closeAfter);
        return;
    }
    QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(s.delayMs, this, [this, guarded, bytes, s] {
        if (guarded && m_clients.contains(guarded.data())) {
            send(guarded.data(), bytes, s.chunkSize, s.closeAfter);
        }
    });
}

void LoopbackServer::send(QTcpSocket* socket, const QByteArray& bytes, int chunkSize,
                          bool closeAfter) {
    if (chunkSize <= 0 || bytes.size() <= chunkSize) {
        socket->write(bytes);
        socket->flush();
        if (closeAfter) {
            m_clients.remove(socket);
            socket->disconnectFromHost();
        }
        return;
    }
    socket->write(bytes.left(chunkSize));
    socket->flush();
    QPointer<QTcpSocket> guarded(socket);
    const QByteArray rest = bytes.mid(chunkSize);
    QTimer::singleShot(1, this, [this, guarded, rest, chunkSize, closeAfter] {
        if (guarded && m_clients.contains(guarded.data())) {
            send(guarded.data(), rest, chunkSize, closeAfter);
        }
    });
}

}  // namespace testsupport

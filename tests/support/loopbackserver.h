#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <memory>

#include "net/wire.h"

class QTcpServer;
class QTcpSocket;

namespace testsupport {

// A scripted application server on 127.0.0.1 (a port the system picks), for tests of the
// client side of the wire protocol. It lives on the test's thread: it answers whenever the
// event loop runs, which includes the local loop a TNetConnection waits in.
//
// Each method gets a script saying how to answer it; a method without one gets an error reply
// "Método desconhecido: NAME", as a real server would give.
class LoopbackServer : public QObject {
    Q_OBJECT

  public:
    struct Script {
        enum class Kind {
            Result,  // reply {"result": result}
            Echo,    // reply {"result": the request's args}
            Error,   // reply {"error": error}
            Raw,     // write raw as it is (garbage, broken frames, odd replies)
            Silent,  // never answer
            Drop,    // close the connection without answering
        };
        Kind kind = Kind::Echo;
        QVariant result;
        QString error;
        QByteArray raw;
        int delayMs = 0;          // wait this long before answering
        int chunkSize = 0;        // write the answer in pieces this big, one per loop turn
        bool closeAfter = false;  // close the connection once the answer is out

        static Script answer(const QVariant& v) { return {Kind::Result, v, {}, {}}; }
        static Script echo() { return {Kind::Echo, {}, {}, {}}; }
        static Script fail(const QString& text) { return {Kind::Error, {}, text, {}}; }
        static Script rawBytes(const QByteArray& bytes) { return {Kind::Raw, {}, {}, bytes}; }
        static Script silent() { return {Kind::Silent, {}, {}, {}}; }
        static Script drop() { return {Kind::Drop, {}, {}, {}}; }
    };

    struct Received {
        QString server;
        QString method;
        QVariantList args;
    };

    // Starts listening at once; a failure to listen is fatal to the test (std::runtime_error).
    explicit LoopbackServer(QObject* parent = nullptr);
    ~LoopbackServer() override;

    quint16 port() const;
    QString host() const { return QStringLiteral("127.0.0.1"); }

    void script(const QString& method, const Script& s) { m_scripts[method] = s; }

    const QList<Received>& received() const { return m_received; }
    int connectionsAccepted() const { return m_accepted; }
    int openConnections() const { return int(m_clients.size()); }
    // Requests the server could not read (it closes such a connection).
    const QStringList& protocolErrors() const { return m_errors; }

    // Closes every client connection, as a server restart would.
    void closeClients();

  private:
    void accept();
    void readFrom(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Received& request);
    void send(QTcpSocket* socket, const QByteArray& bytes, int chunkSize, bool closeAfter);

    QTcpServer* m_server;
    QHash<QString, Script> m_scripts;
    QList<Received> m_received;
    QStringList m_errors;
    QHash<QTcpSocket*, std::shared_ptr<host::wire::FrameBuffer>> m_clients;
    int m_accepted = 0;
};

}  // namespace testsupport

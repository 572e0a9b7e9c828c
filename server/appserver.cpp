#include "appserver.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QQueue>
#include <QTcpSocket>
#include <memory>

#include "core/hosterror.h"
#include "methods.h"
#include "net/wire.h"
#include "store.h"

namespace dfe58000 {

namespace {

QString peerOf(const QTcpSocket* socket) {
    QHostAddress address = socket->peerAddress();
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    if (v4) {
        address = QHostAddress(ip4);
    }
    return QStringLiteral("%1:%2").arg(address.toString()).arg(socket->peerPort());
}

}  // namespace

using host::wire::FrameBuffer;
using host::wire::Reply;
using host::wire::Request;

// One client: its socket, its partial frames and the requests it sent while a call of its own
// was still running.
class ClientConnection : public QObject {
  public:
    ClientConnection(AppServer* server, quint64 id, QTcpSocket* socket)
        : QObject(server),
          m_server(server),
          m_id(id),
          m_socket(socket),
          m_frames(kMaxRequestSize, kKeptRequestBuffer) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this] { readAvailable(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { close(); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this] { close(); });
        // The next request runs once the last reply has left (see next()).
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { next(); });
    }

    void readAvailable() {
        if (m_closing) {
            return;
        }
        m_frames.readFrom(*m_socket);
        try {
            while (auto payload = m_frames.takeFrame()) {
                // A payload that is not a request is as bad as broken framing: nothing after
                // it can be trusted.
                const Request request = host::wire::decodeRequest(*payload);
                m_server->record(request);
                m_queuedBytes += payload->size();
                m_queue.enqueue(*payload);
                if (m_queue.size() > kMaxQueuedRequests || m_queuedBytes > kMaxQueuedBytes) {
                    // A client that keeps sending without reading its answers is cut off here,
                    // before what it sends can grow the server.
                    ++m_server->m_cutOff;
                    m_socket->abort();
                    close();
                    return;
                }
            }
        } catch (const host::ENetError&) {
            ++m_server->m_protocolErrors;
            m_socket->abort();
            close();
            return;
        }
        next();
    }

    // Requests run one at a time, and only once the client has taken the last reply: a client
    // that does not read holds back its own requests and nobody else's, and the server keeps
    // at most one reply of it unsent.
    void next() {
        if (m_busy || m_closing || m_queue.isEmpty() || m_socket->bytesToWrite() > 0) {
            return;
        }
        m_busy = true;
        const QByteArray payload = m_queue.dequeue();
        m_queuedBytes -= payload.size();
        m_server->submit(m_id, m_client, payload);
    }

    void replied(const QList<QByteArray>& frame) {
        m_busy = false;
        if (m_closing) {
            return;
        }
        // Written piece by piece: the socket keeps a large piece (a packet) as it is, shared
        // with the reply, instead of copying it.
        for (const QByteArray& piece : frame) {
            m_socket->write(piece);
        }
        next();
    }

    void close() {
        if (m_closing) {
            return;
        }
        m_closing = true;
        m_server->forget(m_id);
        deleteLater();
    }

  private:
    AppServer* m_server;
    quint64 m_id;
    QTcpSocket* m_socket;
    FrameBuffer m_frames;
    QQueue<QByteArray> m_queue;
    qsizetype m_queuedBytes = 0;
    QString m_client = peerOf(m_socket);
    bool m_busy = false;
    bool m_closing = false;
};

AppServer::AppServer(const QString& dbUrl, int workers, QObject* parent)
    : QObject(parent), m_url(dbUrl) {
    m_pool.setMaxThreadCount(qMax(1, workers));
    m_pool.setExpiryTimeout(-1);  // threads keep their database connections
    connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
}

AppServer::~AppServer() {
    m_server.close();
    m_pool.waitForDone();
    const auto clients = m_clients;
    m_clients.clear();
    qDeleteAll(clients);
}

void AppServer::listen(const QHostAddress& address, quint16 port) {
    if (!m_server.listen(address, port)) {
        throw host::ENetError(QStringLiteral("Não foi possível escutar em %1:%2: %3")
                                  .arg(address.toString())
                                  .arg(port)
                                  .arg(m_server.errorString()));
    }
}

void AppServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const quint64 id = m_nextId++;
        m_clients.insert(id, new ClientConnection(this, id, socket));
    }
}

namespace {

// The worker thread's own store, opened on first use and kept while the thread lives. A
// connection the database server dropped (it restarted, or ended the session) is opened again
// before the next request instead of failing every request after it; while the database is
// down, opening fails with its error and the next request tries again.
Store& workerStore(const QString& url) {
    thread_local std::unique_ptr<Store> store;
    thread_local QString storeUrl;
    if (store && storeUrl == url && !store->connectionWorks()) {
        store.reset();
    }
    if (!store || storeUrl != url) {
        store.reset();
        store = std::make_unique<Store>(url);
        storeUrl = url;
    }
    return *store;
}

// What the call log says of a reply: the result's status, or the error.
QString statusOf(const Reply& reply) {
    if (!reply.ok) {
        return QStringLiteral("erro: ") + reply.error;
    }
    const QVariantList list = reply.result.toList();
    const QString status = list.isEmpty() ? QString() : list.first().toString();
    return status.isEmpty() ? QStringLiteral("-") : status;
}

QList<QByteArray> answer(const QString& url, const QByteArray& payload, QString& method,
                         QString& status) {
    Reply reply;
    try {
        const Request request = host::wire::decodeRequest(payload);
        method = request.method;
        reply = dispatch(workerStore(url), request);
    } catch (const host::EHostError& e) {
        reply = Reply::failure(e.text());
    } catch (const std::exception& e) {
        reply = Reply::failure(
            QStringLiteral("Erro interno do servidor: %1").arg(QString::fromLocal8Bit(e.what())));
    }
    try {
        QList<QByteArray> frame = host::wire::replyFramePieces(reply);
        status = statusOf(reply);
        return frame;
    } catch (const host::EHostError& e) {
        const Reply failure =
            Reply::failure(QStringLiteral("O resultado não pôde ser enviado: %1").arg(e.text()));
        status = statusOf(failure);
        return host::wire::replyFramePieces(failure);
    }
}

}  // namespace

void AppServer::submit(quint64 connectionId, const QString& client, const QByteArray& payload) {
    const QString url = m_url;
    m_pool.start([this, url, payload, connectionId, client] {
        QElapsedTimer clock;
        clock.start();
        QString method, status;
        const QList<QByteArray> frame = answer(url, payload, method, status);
        if (m_callLog) {
            const QDateTime now = QDateTime::currentDateTime();
            const QString line =
                QStringLiteral("%1 %2 %3 %4 ms %5")
                    .arg(now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs),
                         client, method.isEmpty() ? QStringLiteral("-") : method)
                    .arg(clock.elapsed())
                    .arg(status);
            QMutexLocker lock(&m_callLogLock);
            m_callLog(line);
        }
        // Back on the listener's thread; dropped there when the client has gone meanwhile.
        QMetaObject::invokeMethod(
            this, [this, connectionId, frame] { deliver(connectionId, frame); },
            Qt::QueuedConnection);
    });
}

void AppServer::deliver(quint64 connectionId, const QList<QByteArray>& frame) {
    if (ClientConnection* c = m_clients.value(connectionId)) {
        c->replied(frame);
    }
}

void AppServer::forget(quint64 connectionId) {
    m_clients.remove(connectionId);
}

void AppServer::setRecordRequests(bool on) {
    m_recordRequests = on;
}

QList<Request> AppServer::receivedRequests() const {
    QMutexLocker lock(&m_requestsLock);
    return m_requests;
}

void AppServer::clearReceivedRequests() {
    QMutexLocker lock(&m_requestsLock);
    m_requests.clear();
}

void AppServer::record(const Request& request) {
    if (!m_recordRequests) {
        return;
    }
    QMutexLocker lock(&m_requestsLock);
    m_requests.append(request);
}

}  // namespace dfe58000

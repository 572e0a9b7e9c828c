#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>

#include "net/wire.h"

// The application server's network side: a TCP listener with one connection object per
// client. A connection gathers the bytes of its client into frames, and hands its requests,
// one at a time and in order, to a pool of worker threads, each with its own database
// connection. A slow client, a broken one or a long call of one client never holds up the
// others: reading is asynchronous and the work runs off the listener's thread.
namespace dfe58000 {

class ClientConnection;

// Largest request accepted: far above any packet of marked notes, small enough that a
// corrupted length prefix costs nothing.
constexpr qsizetype kMaxRequestSize = 64 * 1024 * 1024;

// What one client may have waiting. A client's requests run one after the other, each once the
// client has read the answer before it; requests sent meanwhile wait in its queue. A client
// that sends more than kMaxQueuedRequests, or kMaxQueuedBytes of requests, that have not yet
// run (it sends without reading its answers, or never reads) is disconnected, so no client can
// make the server's memory grow without bound: per client it holds at most one unsent answer,
// one partial request and this queue.
constexpr int kMaxQueuedRequests = 64;
constexpr qsizetype kMaxQueuedBytes = 128 * 1024 * 1024;
// A client's receive buffer keeps its memory between requests up to this size; a larger one
// (a request that carried a large packet) is given back once read.
constexpr qsizetype kKeptRequestBuffer = 256 * 1024;

class AppServer : public QObject {
    Q_OBJECT

  public:
    // dbUrl: the company database ("sqlite:PATH" or "postgres:CONNINFO"), already holding the
    // store (companydb::ensureDatabase). workers: threads serving requests.
    explicit AppServer(const QString& dbUrl, int workers = 4, QObject* parent = nullptr);
    ~AppServer() override;

    // Starts listening; port 0 lets the system choose. Raises host::ENetError when it cannot.
    void listen(const QHostAddress& address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QHostAddress address() const { return m_server.serverAddress(); }

    int openConnections() const { return int(m_clients.size()); }
    // Connections closed because their client broke the framing or sent a non-request.
    int protocolErrors() const { return m_protocolErrors; }
    // Connections closed because their client let too many requests wait (kMaxQueuedRequests).
    int cutOffClients() const { return m_cutOff; }

    // The call log: one line per call, as "time client method milliseconds status", where the
    // status is element 0 of the result array ("OK", "S", "ERRO", "L"...), "-" for any other
    // result, or "erro: text" for an error reply. The time is local, with its UTC offset. Set
    // before listen(); the sink runs on the worker threads, one call at a time. None by default.
    void setCallLog(std::function<void(const QString& line)> sink) { m_callLog = std::move(sink); }

    // A record of the requests received, for tests that check what a client sent: each decoded
    // request as it arrived, before it runs, in arrival order (so in each connection's order).
    // Off by default; turning it off keeps what was recorded. Safe from any thread.
    void setRecordRequests(bool on);
    QList<host::wire::Request> receivedRequests() const;
    void clearReceivedRequests();

  private:
    friend class ClientConnection;
    void accept();
    // Runs one request payload on a worker; the reply returns to the connection by id.
    void submit(quint64 connectionId, const QString& client, const QByteArray& payload);
    void deliver(quint64 connectionId, const QList<QByteArray>& frame);
    void forget(quint64 connectionId);
    void record(const host::wire::Request& request);

    QString m_url;
    QTcpServer m_server;
    QThreadPool m_pool;
    QHash<quint64, ClientConnection*> m_clients;
    quint64 m_nextId = 1;
    int m_protocolErrors = 0;
    int m_cutOff = 0;
    std::function<void(const QString&)> m_callLog;
    QMutex m_callLogLock;
    std::atomic<bool> m_recordRequests = false;
    mutable QMutex m_requestsLock;
    QList<host::wire::Request> m_requests;
};

}  // namespace dfe58000

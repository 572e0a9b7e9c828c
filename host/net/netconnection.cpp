#include "net/netconnection.h"

#include "core/hosterror.h"
#include "net/wire.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace host {

namespace {

QString durationText(int ms) {
    if (ms % 1000 == 0) {
        return QStringLiteral("%1 s").arg(ms / 1000);
    }
    return QStringLiteral("%1 ms").arg(ms);
}

const QString kGone =
    QStringLiteral("A conexão com o servidor de aplicação foi encerrada durante a chamada.");

// Marks the connection busy for the length of one call; leaves the flag alone when the
// connection died meanwhile.
class CallScope {
  public:
    CallScope(std::shared_ptr<bool> alive, bool* flag) : m_alive(std::move(alive)), m_flag(flag) {
        *m_flag = true;
    }
    ~CallScope() {
        if (*m_alive) {
            *m_flag = false;
        }
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

  private:
    std::shared_ptr<bool> m_alive;
    bool* m_flag;
};

}  // namespace

TNetConnection::TNetConnection(QObject* parent)
    : QObject(parent),
      m_frames(std::make_unique<wire::FrameBuffer>()),
      m_alive(std::make_shared<bool>(true)) {}

TNetConnection::~TNetConnection() {
    *m_alive = false;
    dropSocket();
}

void TNetConnection::SetTimeout(int ms) {
    if (ms < 0) {
        throw ENetError(
            QStringLiteral("Tempo limite inválido para a conexão com o servidor de aplicação: "
                           "%1 ms.")
                .arg(ms));
    }
    m_timeout = ms;
}

bool TNetConnection::Connected() const {
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TNetConnection::SetConnected(bool on) {
    if (on) {
        Open();
    } else {
        Close();
    }
}

void TNetConnection::Open() {
    if (m_calling) {
        throw ENetError(QStringLiteral(
            "Já há uma chamada ao servidor de aplicação em andamento nesta conexão."));
    }
    if (Connected()) {
        return;
    }
    CallScope scope(m_alive, &m_calling);
    connectSocket(m_timeout);
}

void TNetConnection::Close() {
    dropSocket();
}

QString TNetConnection::address() const {
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

QString TNetConnection::callName(const QString& method) const {
    return m_serverName.isEmpty() ? method : m_serverName + QLatin1Char('.') + method;
}

void TNetConnection::dropSocket() {
    if (m_abortWait) {
        m_abortWait();
    }
    m_frames->clear();
    if (!m_socket) {
        return;
    }
    QTcpSocket* socket = std::exchange(m_socket, nullptr);
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->abort();
    delete socket;
}

void TNetConnection::connectSocket(int timeoutMs) {
    dropSocket();
    auto alive = m_alive;
    if (OnBeforeConnect) {
        OnBeforeConnect(*this);
        if (!*alive) {
            throw ENetError(kGone);
        }
    }
    if (m_host.trimmed().isEmpty() || m_port <= 0 || m_port > 65535) {
        throw ENetError(QStringLiteral("Servidor de aplicação não configurado: endereço \"%1\", "
                                       "porta %2.")
                            .arg(m_host)
                            .arg(m_port));
    }

    m_socket = new QTcpSocket(this);
    m_socket->connectToHost(m_host, quint16(m_port));
    const WaitEnd end = waitFor([this] { return Connected(); }, timeoutMs);
    if (!*alive) {
        throw ENetError(kGone);
    }
    if (end == WaitEnd::Done && Connected()) {
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return;
    }
    QString why;
    if (end == WaitEnd::TimedOut) {
        why = QStringLiteral("sem resposta em %1").arg(durationText(timeoutMs));
    } else if (m_socket) {
        why = m_socket->errorString();
    } else {
        why = QStringLiteral("conexão fechada");
    }
    dropSocket();
    throw ENetError(QStringLiteral("Não foi possível conectar ao servidor de aplicação %1: %2.")
                        .arg(address(), why));
}

void TNetConnection::readAvailable() {
    if (!m_socket) {
        return;
    }
    if (m_socket->bytesAvailable() > 0) {
        m_frames->readFrom(*m_socket);
    }
    if (m_reply || !m_streamError.isEmpty()) {
        return;
    }
    try {
        m_reply = m_frames->takeFrame();
    } catch (const ENetError& e) {
        // Never let the exception cross the event loop: the waiting call reports it.
        m_streamError = e.text();
    }
}

TNetConnection::WaitEnd TNetConnection::waitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done()) {
        return WaitEnd::Done;
    }
    if (!m_socket || m_socket->state() == QAbstractSocket::UnconnectedState) {
        return WaitEnd::Failed;
    }

    QEventLoop loop;
    QTimer timer;
    bool timedOut = false;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire a little early
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });

    QTcpSocket* socket = m_socket;
    auto settle = [&] {
        if (done() || !m_streamError.isEmpty() || !m_socket ||
            m_socket->state() == QAbstractSocket::UnconnectedState) {
            loop.quit();
        }
    };
    QObject::connect(socket, &QTcpSocket::connected, &loop, settle);
    QObject::connect(socket, &QTcpSocket::readyRead, &loop, [&] {
        readAvailable();
        settle();
    });
    QObject::connect(socket, &QTcpSocket::disconnected, &loop, [&] {
        readAvailable();
        loop.quit();
    });
    QObject::connect(socket, &QTcpSocket::errorOccurred, &loop, [&] {
        readAvailable();
        loop.quit();
    });

    // Bytes that came in before the wait began would raise no new readyRead.
    readAvailable();
    if (done() || !m_streamError.isEmpty()) {
        return WaitEnd::Done;
    }

    if (timeoutMs > 0) {
        timer.start(timeoutMs);
    }
    m_abortWait = [&loop] { loop.quit(); };
    auto alive = m_alive;
    loop.exec();
    if (!*alive) {
        return WaitEnd::Failed;  // the caller checks its own copy and touches nothing
    }
    m_abortWait = nullptr;
    if (done()) {
        return WaitEnd::Done;
    }
    return timedOut ? WaitEnd::TimedOut : WaitEnd::Failed;
}

QVariant TNetConnection::AppServer(const QString& method, const QVariantList& args) {
    if (m_calling) {
        throw ENetError(
            QStringLiteral("Já há uma chamada ao servidor de aplicação em andamento nesta "
                           "conexão; %1 não foi enviada.")
                .arg(callName(method)));
    }
    if (method.trimmed().isEmpty()) {
        throw ENetError(QStringLiteral("Chamada ao servidor de aplicação sem nome de método."));
    }
    // Arguments that cannot travel fail here, before anything reaches the server.
    const QByteArray request = wire::requestFrame({m_serverName, method, args});

    auto alive = m_alive;
    CallScope scope(alive, &m_calling);
    QElapsedTimer clock;
    clock.start();

    if (Connected()) {
        // A connection the server closed while idle (or one holding bytes nobody asked for) is
        // replaced now, while nothing has been sent and reconnecting is harmless.
        m_socket->waitForReadyRead(0);
        if (!Connected() || m_socket->bytesAvailable() > 0) {
            dropSocket();
        }
    }
    if (!Connected()) {
        connectSocket(m_timeout);
    }

    int remaining = 0;
    if (m_timeout > 0) {
        remaining = std::max(1, m_timeout - int(clock.elapsed()));
    }

    m_reply.reset();
    m_streamError.clear();
    m_frames->clear();
    m_socket->write(request);
    const WaitEnd end = waitFor([this] { return m_reply.has_value(); }, remaining);
    if (!*alive) {
        throw ENetError(kGone);
    }

    const QString where = address();
    const QString what = callName(method);
    auto malformed = [&](const QString& detail) {
        dropSocket();
        m_reply.reset();
        return ENetError(QStringLiteral("Resposta inválida do servidor de aplicação %1 para %2. %3")
                             .arg(where, what, detail));
    };

    if (!m_streamError.isEmpty()) {
        const QString detail = std::exchange(m_streamError, QString());
        throw malformed(detail);
    }
    if (end == WaitEnd::TimedOut) {
        dropSocket();
        throw ENetCallLost(QStringLiteral("O servidor de aplicação %1 não respondeu a %2 em %3.")
                               .arg(where, what, durationText(m_timeout)));
    }
    if (!m_reply) {
        const bool partial = !m_frames->isEmpty();
        const QString reason =
            m_socket ? m_socket->errorString() : QStringLiteral("conexão fechada");
        dropSocket();
        throw ENetCallLost(
            QStringLiteral(
                "A conexão com o servidor de aplicação %1 foi interrompida durante %2%3: "
                "%4.")
                .arg(where, what, partial ? QStringLiteral(" (resposta incompleta)") : QString(),
                     reason));
    }

    const QByteArray payload = std::move(*m_reply);
    m_reply.reset();
    if (!m_frames->isEmpty()) {
        throw malformed(QStringLiteral("dados a mais depois da resposta"));
    }
    wire::Reply reply;
    try {
        reply = wire::decodeReply(payload);
    } catch (const ENetError& e) {
        throw malformed(e.text());
    }
    if (!reply.ok) {
        if (reply.error.trimmed().isEmpty()) {
            throw ENetError(QStringLiteral("O servidor de aplicação %1 recusou %2 sem informar o "
                                           "motivo.")
                                .arg(where, what));
        }
        throw ENetError(reply.error);
    }
    return reply.result;
}

}  // namespace host

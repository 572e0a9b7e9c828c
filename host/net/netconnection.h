#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace host {

namespace wire {
class FrameBuffer;
}

// The socket connection to a remote module of the application server ("DFE58000.
// rdmManifestacao"), speaking the protocol of net/wire.h over TCP.
//
// AppServer() is a synchronous call as the module's handlers see it: it connects when needed,
// sends the request and waits for the reply in a local event loop, so the screen keeps
// painting meanwhile (the host's wait window blocks the user's input). Every failure raises
// ENetError with a text for the user:
//   - the server cannot be reached ("Não foi possível conectar ao servidor de aplicação
//     HOST:PORT: ...");
//   - the connection drops during the call, or no reply comes within Timeout(): then the
//     request may have reached the server, and the error is the ENetCallLost kind;
//   - the reply is not a well-formed message;
//   - the server answers with an error: the exception carries the server's own text.
// After a drop, a timeout or a malformed reply the socket is discarded, Connected() is false
// and the next call connects again, running OnBeforeConnect again. An error reply of the
// server keeps the connection.
//
// UI thread only, and one call at a time: a call started from inside the wait of another
// (a timer firing meanwhile) raises ENetError instead of mixing the two replies.
class TNetConnection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ServerName READ ServerName WRITE SetServerName)
    Q_PROPERTY(QString Host READ Host WRITE SetHost)
    Q_PROPERTY(int Port READ Port WRITE SetPort)
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected)
    Q_PROPERTY(bool ThrowException READ ThrowException WRITE SetThrowException)
    Q_PROPERTY(int Timeout READ Timeout WRITE SetTimeout)

  public:
    static constexpr int kDefaultTimeout = 120000;  // ms

    explicit TNetConnection(QObject* parent = nullptr);
    ~TNetConnection() override;

    QString ServerName() const { return m_serverName; }
    void SetServerName(const QString& name) { m_serverName = name; }

    // Host and Port are read when a connection opens; changing them while connected takes
    // effect at the next connection.
    QString Host() const { return m_host; }
    void SetHost(const QString& host) { m_host = host; }

    int Port() const { return m_port; }
    void SetPort(int port) { m_port = port; }

    // Kept from the component this replaces, where False turned failures into a silent
    // return. Here a failure always raises ENetError whatever the flag says: a stopping error
    // must never become a return code that a caller can forget to check.
    bool ThrowException() const { return m_throwException; }
    void SetThrowException(bool on) { m_throwException = on; }

    // Longest wait of one call, connecting included, in milliseconds; 0 waits without limit.
    // A negative value raises ENetError.
    int Timeout() const { return m_timeout; }
    void SetTimeout(int ms);

    // True while the socket is connected. A connection the server closed while idle turns
    // false once the event loop has seen the close.
    bool Connected() const;
    // True connects (as Open), false disconnects (as Close).
    void SetConnected(bool on);

    // Connects unless already connected: runs OnBeforeConnect, then opens the socket to
    // Host():Port(), waiting at most Timeout(). Raises ENetError when it cannot connect.
    void Open();
    // Drops the socket at once; harmless when not connected.
    void Close();

    // Calls a method of the remote module ServerName() with positional arguments and gives
    // back its result. Arguments the old interface passed by reference are plain values here.
    QVariant AppServer(const QString& method, const QVariantList& args = {});

    // Runs right before every connection (not before every call): the place to set Host and
    // Port from the login context. An exception from it passes on unchanged and the
    // connection is not attempted.
    std::function<void(TNetConnection&)> OnBeforeConnect;

  private:
    enum class WaitEnd { Done, Failed, TimedOut };

    QString address() const;
    QString callName(const QString& method) const;
    void connectSocket(int timeoutMs);
    void dropSocket();
    WaitEnd waitFor(const std::function<bool()>& done, int timeoutMs);
    void readAvailable();

    QString m_serverName;
    QString m_host;
    int m_port = 0;
    bool m_throwException = true;
    int m_timeout = kDefaultTimeout;

    QTcpSocket* m_socket = nullptr;
    std::unique_ptr<wire::FrameBuffer> m_frames;
    std::optional<QByteArray> m_reply;  // payload of the reply awaited by the running call
    QString m_streamError;              // broken framing seen while reading
    bool m_calling = false;

    // Cleared by the destructor, so a call whose wait outlives its connection (the owner
    // deleted from an event handled meanwhile) notices before touching any member.
    std::shared_ptr<bool> m_alive;
    std::function<void()> m_abortWait;
};

}  // namespace host

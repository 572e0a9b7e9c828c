#pragma once

// What the server tests share: a company database with the server's store in a folder of its
// own, and dfe58000-server processes run on such a database.

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "companydb.h"
#include "store.h"

// A fresh SQLite company database holding the server's store, opened on `file` in a temporary
// folder; gone again with close().
struct StoreFixture {
    std::unique_ptr<QTemporaryDir> dir;
    QString url;
    std::unique_ptr<dfe58000::Store> store;

    // With certificates, the server's signing certificate is made in the folder's "cert"
    // rather than wherever the environment points.
    void open(const QString& file, bool certificates = false) {
        dir = std::make_unique<QTemporaryDir>();
        if (certificates) {
            qputenv("DFE58000_CERT_DIR", dir->filePath(QStringLiteral("cert")).toLocal8Bit());
        }
        url = QStringLiteral("sqlite:") + dir->filePath(file);
        companydb::ensureDatabase(url, 0, {dfe58000::storeSchema()});
        store = std::make_unique<dfe58000::Store>(url);
    }

    void close() {
        store.reset();
        dir.reset();
    }
};

// One dfe58000-server process on a database, with its certificates in a folder of the test's.
// Terminated when it goes out of scope, killed if it does not stop, whatever became of the
// checks.
class ServerProcess {
  public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { stop(); }

    // Starts it with --db url and args; what it writes on its error output goes to log when
    // one is given.
    void start(const QString& url, const QString& certDir, const QStringList& args,
               const QString& log = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DFE58000_CERT_DIR"), certDir);
        m_process.setProcessEnvironment(env);
        if (!log.isEmpty()) {
            m_process.setStandardErrorFile(log, QIODevice::Append);
        }
        m_process.start(QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-server"),
                        QStringList{QStringLiteral("--db"), url} + args);
    }

    // Waits for the "listening on HOST:PORT" line; the port, or 0 with error() telling why.
    quint16 waitListening(int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning &&
               t.elapsed() < timeoutMs) {
            m_process.waitForReadyRead(100);
        }
        if (!m_process.canReadLine()) {
            return 0;
        }
        const QByteArray line = m_process.readLine().trimmed();
        if (!line.startsWith("listening on 127.0.0.1:")) {
            return 0;
        }
        m_port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
        return m_port;
    }

    QString error() {
        return QStringLiteral("%1 %2").arg(
            m_process.errorString(), QString::fromLocal8Bit(m_process.readAllStandardError()));
    }

    quint16 port() const { return m_port; }
    bool running() const { return m_process.state() == QProcess::Running; }

    void kill() {
        m_process.kill();  // SIGKILL: no chance to finish anything
        m_process.waitForFinished(5000);
    }

    void stop() {
        if (m_process.state() == QProcess::NotRunning) {
            return;
        }
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

  private:
    QProcess m_process;
    quint16 m_port = 0;
};

#include "pgcluster.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QThread>

namespace {

int freeLoopbackPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    return server.serverPort();
}

// chown -R of the few entries the cluster needs owned: the directory itself (initdb creates
// everything inside it as the target user).
bool giveTo(const QString& path, uid_t uid, gid_t gid) {
    return ::chown(QFile::encodeName(path).constData(), uid, gid) == 0;
}

}  // namespace

QString PgCluster::binDir() {
    const QString env = qEnvironmentVariable("ORVANTA_PG_BINDIR");
    return env.isEmpty() ? QStringLiteral("/usr/lib/postgresql/15/bin") : env;
}

bool PgCluster::run(const QString& program, const QStringList& args, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(m_dir->path());
    const QString tool = binDir() + u'/' + program;
    if (m_asRoot) {
        p.start(QStringLiteral("runuser"),
                QStringList{QStringLiteral("-u"), m_user, QStringLiteral("--"), tool} + args);
    } else {
        p.start(tool, args);
    }
    if (!p.waitForStarted(10000)) {
        m_error = QStringLiteral("PostgreSQL: não foi possível executar %1: %2")
                      .arg(program, p.errorString());
        return false;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        m_error = QStringLiteral("PostgreSQL: %1 não terminou a tempo").arg(program);
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("PostgreSQL: %1 falhou (%2): %3")
                      .arg(program)
                      .arg(p.exitCode())
                      .arg(QString::fromLocal8Bit(p.readAll()).trimmed());
        return false;
    }
    return true;
}

PgCluster::PgCluster() {
    if (!QFileInfo(binDir() + QStringLiteral("/initdb")).isExecutable() ||
        !QFileInfo(binDir() + QStringLiteral("/pg_ctl")).isExecutable()) {
        m_error = QStringLiteral("PostgreSQL não encontrado em %1 (initdb/pg_ctl)").arg(binDir());
        return;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        m_error = QStringLiteral("o driver QPSQL do Qt não está instalado");
        return;
    }
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/pgtest-XXXXXX"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("não foi possível criar o diretório temporário do PostgreSQL");
        return;
    }
    m_asRoot = ::geteuid() == 0;
    if (m_asRoot) {
        const passwd* pw = ::getpwnam("postgres");
        if (!pw) {
            m_error = QStringLiteral("executando como root sem o usuário de sistema postgres");
            return;
        }
        m_user = QStringLiteral("postgres");
        if (!giveTo(m_dir->path(), pw->pw_uid, pw->pw_gid)) {
            m_error =
                QStringLiteral("não foi possível passar %1 ao usuário postgres").arg(m_dir->path());
            return;
        }
    } else {
        const passwd* pw = ::getpwuid(::geteuid());
        m_user = pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
    }
    m_dataDir = m_dir->path() + QStringLiteral("/data");
    if (!run(QStringLiteral("initdb"),
             {QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
              QStringLiteral("UTF8"), QStringLiteral("--no-sync"), QStringLiteral("-D"), m_dataDir},
             120000)) {
        return;
    }
    // A port that was free a moment ago can be taken by a parallel test: try a few.
    for (int attempt = 0; attempt < 3 && !m_running; ++attempt) {
        m_port = freeLoopbackPort();
        if (m_port == 0) {
            m_error = QStringLiteral("nenhuma porta livre em 127.0.0.1");
            return;
        }
        m_running = start();
    }
}

bool PgCluster::start() {
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                                .arg(m_port)
                                .arg(m_dir->path());
    return run(
        QStringLiteral("pg_ctl"),
        {QStringLiteral("-D"), m_dataDir, QStringLiteral("-o"), options, QStringLiteral("-l"),
         m_dir->path() + QStringLiteral("/server.log"), QStringLiteral("-w"), QStringLiteral("-t"),
         QStringLiteral("60"), QStringLiteral("start")},
        90000);
}

bool PgCluster::restart(int downMs) {
    if (!m_running) {
        return false;
    }
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), m_dataDir, QStringLiteral("-m"), QStringLiteral("fast"),
              QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
              QStringLiteral("stop")},
             90000)) {
        return false;
    }
    m_running = false;
    if (downMs > 0) {
        QThread::msleep(ulong(downMs));
    }
    m_running = start();
    return m_running;
}

PgCluster::~PgCluster() {
    if (m_running) {
        // Close every Qt connection that points at this cluster before it goes away.
        for (const QString& name : QSqlDatabase::connectionNames()) {
            bool same = false;
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                same = db.driverName() == u"QPSQL" && db.port() == m_port;
                if (same) {
                    db.close();
                }
            }
            if (same) {
                QSqlDatabase::removeDatabase(name);
            }
        }
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), m_dataDir, QStringLiteral("-m"), QStringLiteral("immediate"),
             QStringLiteral("-w"), QStringLiteral("stop")},
            60000);
    }
    // QTemporaryDir removes the directory; as root that works whoever owns the files.
}

QString PgCluster::url(const QString& dbname) const {
    return QStringLiteral("postgres:host=127.0.0.1 port=%1 dbname=%2 user=%3")
        .arg(m_port)
        .arg(dbname, m_user);
}

QString PgCluster::createDatabase(const QString& dbname) {
    if (!m_running) {
        return QString();
    }
    static QAtomicInt counter;
    const QString conn = QStringLiteral("pgcluster_admin_%1").arg(counter.fetchAndAddRelaxed(1));
    bool created = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), conn);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(m_port);
        db.setDatabaseName(QStringLiteral("postgres"));
        db.setUserName(m_user);
        if (!db.open()) {
            m_error = QStringLiteral("PostgreSQL: %1").arg(db.lastError().text());
        } else {
            QSqlQuery q(db);
            // Names come from the tests themselves; quoting keeps them as written.
            if (q.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(dbname))) {
                created = true;
            } else {
                m_error = QStringLiteral("PostgreSQL: %1").arg(q.lastError().text());
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(conn);
    return created ? url(dbname) : QString();
}

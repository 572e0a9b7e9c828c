#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

// A throwaway PostgreSQL cluster for tests: initdb in a temporary directory, started on a free
// loopback port, stopped and deleted by the destructor. PostgreSQL refuses to run as root, so
// as root the directory goes to the `postgres` system user and the tools run through runuser.
//
//   PgCluster pg;
//   if (!pg.ok()) QSKIP(qPrintable(pg.error()));
//   QString url = pg.createDatabase("teste");   // "postgres:host=... port=... dbname=teste ..."
class PgCluster {
  public:
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    bool ok() const { return m_running; }
    const QString& error() const { return m_error; }
    int port() const { return m_port; }

    // URL of a database of this cluster ("postgres" exists from the start).
    QString url(const QString& dbname = QStringLiteral("postgres")) const;
    // Creates an empty database and gives its URL; an empty string and error() on failure.
    QString createDatabase(const QString& dbname);

    // Stops the cluster (fast shutdown: open sessions are ended), leaves it down for downMs and
    // starts it again on the same port, as a database restart does to the programs connected
    // to it. false and error() when either step fails.
    bool restart(int downMs = 0);

    // The binaries' directory: $ORVANTA_PG_BINDIR, else /usr/lib/postgresql/15/bin.
    static QString binDir();

  private:
    bool run(const QString& program, const QStringList& args, int timeoutMs);
    bool start();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_dataDir;
    QString m_user;  // the system user that owns the cluster
    bool m_asRoot = false;
    bool m_running = false;
    int m_port = 0;
    QString m_error;
};

#pragma once

#include <QSqlDatabase>
#include <QString>

#include "core/hosterror.h"

namespace host {

enum class SqlDialect { SQLite, PostgreSQL };

// Where the company database lives, read from a URL:
//   "sqlite:PATH"           an SQLite file (":memory:" for a private in-memory database)
//   "postgres:CONNINFO"     PostgreSQL; CONNINFO is libpq-style key=value pairs separated by
//                           blanks: host, port, dbname, user, password (values may be quoted
//                           with single quotes, \' and \\ escaped inside)
struct DatabaseUrl {
    SqlDialect dialect = SqlDialect::SQLite;
    QString path;  // SQLite
    QString host;  // PostgreSQL
    int port = 5432;
    QString dbname;
    QString user;
    QString password;

    // A malformed URL raises EDatabaseError naming what is wrong.
    static DatabaseUrl parse(const QString& url);
    // The URL for messages: the password never appears.
    QString display() const;
};

// The suite's shared database module: one open connection to the company database and its
// dialect. The host program opens the shared instance once (Open); components reach it through
// instance(). Tests and the application server may also keep modules of their own, each on a
// connection of its own name.
class DatabaseModule {
  public:
    // Opens a connection. An SQLite file that does not exist is an error (the database is
    // created by companydb::ensureDatabase, never by a lookup); so is a server that refuses.
    // Failures raise EDatabaseError with the driver's text.
    explicit DatabaseModule(const QString& url, const QString& connectionName = QString());
    ~DatabaseModule();
    DatabaseModule(const DatabaseModule&) = delete;
    DatabaseModule& operator=(const DatabaseModule&) = delete;

    QSqlDatabase database() const;
    SqlDialect dialect() const { return m_url.dialect; }
    const DatabaseUrl& url() const { return m_url; }
    const QString& connectionName() const { return m_connectionName; }

    // The shared module. instance() raises EDatabaseError while none is open.
    static DatabaseModule& instance();
    static bool hasInstance();
    // Replaces the shared module by one on this URL (the old one is closed first).
    static DatabaseModule& Open(const QString& url);
    static void Close();

    // Opens a QSqlDatabase on a parsed URL under the given connection name; used by the module
    // itself and by the schema tools. allowCreate lets an absent SQLite file be created.
    static QSqlDatabase openConnection(const DatabaseUrl& url, const QString& connectionName,
                                       bool allowCreate);

  private:
    DatabaseUrl m_url;
    QString m_connectionName;
};

}  // namespace host

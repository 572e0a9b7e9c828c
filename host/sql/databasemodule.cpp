#include "sql/databasemodule.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlError>
#include <memory>

namespace host {

namespace {

std::unique_ptr<DatabaseModule>& sharedModule() {
    static std::unique_ptr<DatabaseModule> module;
    return module;
}

QString uniqueConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("hostdb_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

[[noreturn]] void badUrl(const QString& url, const QString& why) {
    throw EDatabaseError(
        QStringLiteral("Endereço de banco de dados inválido (%1): %2").arg(url, why));
}

// Splits libpq-style "key=value key='quoted value'" text into pairs.
QList<QPair<QString, QString>> parseConninfo(const QString& url, const QString& text) {
    QList<QPair<QString, QString>> pairs;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (true) {
        while (i < n && text.at(i).isSpace()) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        const qsizetype keyStart = i;
        while (i < n && text.at(i) != u'=' && !text.at(i).isSpace()) {
            ++i;
        }
        const QString key = text.mid(keyStart, i - keyStart);
        while (i < n && text.at(i).isSpace()) {
            ++i;
        }
        if (i >= n || text.at(i) != u'=') {
            badUrl(url, QStringLiteral("falta \"=\" depois de \"%1\"").arg(key));
        }
        ++i;
        while (i < n && text.at(i).isSpace()) {
            ++i;
        }
        QString value;
        if (i < n && text.at(i) == u'\'') {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < n) {
                    value.append(text.at(i++));
                } else if (c == u'\'') {
                    closed = true;
                    break;
                } else {
                    value.append(c);
                }
            }
            if (!closed) {
                badUrl(url, QStringLiteral("aspas sem fechamento no valor de \"%1\"").arg(key));
            }
        } else {
            while (i < n && !text.at(i).isSpace()) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < n) {
                    value.append(text.at(i++));
                } else {
                    value.append(c);
                }
            }
        }
        pairs.append({key, value});
    }
    return pairs;
}

}  // namespace

DatabaseUrl DatabaseUrl::parse(const QString& url) {
    DatabaseUrl out;
    const qsizetype colon = url.indexOf(u':');
    if (colon <= 0) {
        badUrl(url, QStringLiteral("use \"sqlite:CAMINHO\" ou \"postgres:host=... dbname=...\""));
    }
    const QString scheme = url.left(colon).trimmed().toLower();
    const QString rest = url.mid(colon + 1);
    if (scheme == u"sqlite") {
        out.dialect = SqlDialect::SQLite;
        out.path = rest.trimmed();
        if (out.path.isEmpty()) {
            badUrl(url, QStringLiteral("falta o caminho do arquivo SQLite"));
        }
        return out;
    }
    if (scheme == u"postgres" || scheme == u"postgresql") {
        out.dialect = SqlDialect::PostgreSQL;
        for (const auto& [key, value] : parseConninfo(url, rest)) {
            if (key == u"host" || key == u"hostaddr") {
                out.host = value;
            } else if (key == u"port") {
                bool ok = false;
                const int port = value.toInt(&ok);
                if (!ok || port <= 0 || port > 65535) {
                    badUrl(url, QStringLiteral("porta inválida \"%1\"").arg(value));
                }
                out.port = port;
            } else if (key == u"dbname") {
                out.dbname = value;
            } else if (key == u"user") {
                out.user = value;
            } else if (key == u"password") {
                out.password = value;
            } else {
                badUrl(url, QStringLiteral("parâmetro desconhecido \"%1\"").arg(key));
            }
        }
        if (out.dbname.isEmpty()) {
            badUrl(url, QStringLiteral("falta dbname"));
        }
        return out;
    }
    badUrl(url,
           QStringLiteral("tipo de banco \"%1\" desconhecido (sqlite ou postgres)").arg(scheme));
}

QString DatabaseUrl::display() const {
    if (dialect == SqlDialect::SQLite) {
        return QStringLiteral("sqlite:%1").arg(path);
    }
    QString text = QStringLiteral("postgres:");
    if (!host.isEmpty()) {
        text += QStringLiteral("host=%1 ").arg(host);
    }
    text += QStringLiteral("port=%1 dbname=%2").arg(port).arg(dbname);
    if (!user.isEmpty()) {
        text += QStringLiteral(" user=%1").arg(user);
    }
    return text;
}

QSqlDatabase DatabaseModule::openConnection(const DatabaseUrl& url, const QString& name,
                                            bool allowCreate) {
    const bool sqlite = url.dialect == SqlDialect::SQLite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        throw EDatabaseError(
            QStringLiteral("O driver de banco de dados %1 não está instalado.").arg(driver));
    }
    if (sqlite && !allowCreate && url.path != u":memory:" && !QFileInfo::exists(url.path)) {
        throw EDatabaseError(QStringLiteral("Banco de dados não encontrado: %1").arg(url.path));
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
    if (sqlite) {
        db.setDatabaseName(url.path);
        // The application server writes the same file; wait for its locks instead of failing.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        if (!url.host.isEmpty()) {
            db.setHostName(url.host);
        }
        db.setPort(url.port);
        db.setDatabaseName(url.dbname);
        if (!url.user.isEmpty()) {
            db.setUserName(url.user);
        }
        if (!url.password.isEmpty()) {
            db.setPassword(url.password);
        }
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    }
    if (!db.open()) {
        const QString why = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw EDatabaseError(QStringLiteral("Não foi possível abrir o banco de dados %1: %2")
                                 .arg(url.display(), why));
    }
    return db;
}

DatabaseModule::DatabaseModule(const QString& url, const QString& connectionName)
    : m_url(DatabaseUrl::parse(url)),
      m_connectionName(connectionName.isEmpty() ? uniqueConnectionName() : connectionName) {
    if (QSqlDatabase::contains(m_connectionName)) {
        throw EDatabaseError(QStringLiteral("A conexão de banco de dados \"%1\" já está aberta.")
                                 .arg(m_connectionName));
    }
    openConnection(m_url, m_connectionName, false);
}

DatabaseModule::~DatabaseModule() {
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isValid()) {
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase DatabaseModule::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

DatabaseModule& DatabaseModule::instance() {
    if (!sharedModule()) {
        throw EDatabaseError(QStringLiteral("O banco de dados da empresa não está aberto."));
    }
    return *sharedModule();
}

bool DatabaseModule::hasInstance() {
    return bool(sharedModule());
}

DatabaseModule& DatabaseModule::Open(const QString& url) {
    sharedModule().reset();
    sharedModule() = std::make_unique<DatabaseModule>(url);
    return *sharedModule();
}

void DatabaseModule::Close() {
    sharedModule().reset();
}

}  // namespace host

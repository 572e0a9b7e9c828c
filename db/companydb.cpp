#include "companydb.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include "core/hosterror.h"

namespace companydb {

using host::EDatabaseError;
using host::SqlDialect;

void execStatement(QSqlDatabase& db, const QString& statement) {
    QSqlQuery q(db);
    if (!q.exec(statement)) {
        throw EDatabaseError(QStringLiteral("Erro do banco de dados: %1\nInstrução:\n%2")
                                 .arg(q.lastError().text().trimmed(), statement));
    }
}

namespace {

bool schemaTableExists(QSqlDatabase& db, SqlDialect dialect) {
    QSqlQuery q(db);
    const QString sql = dialect == SqlDialect::SQLite
                            ? QStringLiteral(
                                  "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                                  "upper(name) = 'SCHEMAVERSION'")
                            : QStringLiteral(
                                  "SELECT 1 FROM information_schema.tables WHERE table_schema = "
                                  "current_schema() AND upper(table_name) = 'SCHEMAVERSION'");
    if (!q.exec(sql)) {
        throw EDatabaseError(QStringLiteral("Não foi possível ler o catálogo do banco: %1")
                                 .arg(q.lastError().text().trimmed()));
    }
    return q.next();
}

void recordVersion(QSqlDatabase& db, const QString& component, int version, bool update) {
    QSqlQuery q(db);
    q.prepare(update ? QStringLiteral("UPDATE SCHEMAVERSION SET NRVERSAO = ?, DTATUALIZACAO = ? "
                                      "WHERE CDCOMPONENTE = ?")
                     : QStringLiteral("INSERT INTO SCHEMAVERSION (NRVERSAO, DTATUALIZACAO, "
                                      "CDCOMPONENTE) VALUES (?, ?, ?)"));
    q.addBindValue(version);
    q.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    q.addBindValue(component);
    if (!q.exec()) {
        throw EDatabaseError(QStringLiteral("Não foi possível registrar a versão do esquema %1: %2")
                                 .arg(component, q.lastError().text().trimmed()));
    }
}

QString uniqueConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("companydb_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

}  // namespace

QString defaultDatabaseUrl() {
    return QStringLiteral("sqlite:") + QDir::homePath() +
           QStringLiteral("/.local/share/orvanta/demo.sqlite");
}

int installedVersion(QSqlDatabase& db, SqlDialect dialect, const QString& component) {
    if (!schemaTableExists(db, dialect)) {
        return 0;
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT NRVERSAO FROM SCHEMAVERSION WHERE CDCOMPONENTE = ?"));
    q.addBindValue(component);
    if (!q.exec()) {
        throw EDatabaseError(QStringLiteral("Não foi possível ler SCHEMAVERSION: %1")
                                 .arg(q.lastError().text().trimmed()));
    }
    return q.next() ? q.value(0).toInt() : 0;
}

void ensureSchema(QSqlDatabase& db, SqlDialect dialect, int demoNotes,
                  const QList<SchemaComponent>& components) {
    if (!schemaTableExists(db, dialect)) {
        execStatement(db, QStringLiteral("CREATE TABLE SCHEMAVERSION ("
                                         " CDCOMPONENTE VARCHAR(40) NOT NULL PRIMARY KEY,"
                                         " NRVERSAO INTEGER NOT NULL,"
                                         " DTATUALIZACAO VARCHAR(25) NOT NULL)"));
    }
    for (const SchemaComponent& component : components) {
        const int installed = installedVersion(db, dialect, component.name);
        const int latest = component.latestVersion();
        if (installed > latest) {
            throw EDatabaseError(
                QStringLiteral("O banco de dados tem o esquema %1 na versão %2, mais nova que a "
                               "versão %3 deste programa.")
                    .arg(component.name)
                    .arg(installed)
                    .arg(latest));
        }
        if (installed == latest) {
            continue;
        }
        for (const SchemaStep& step : component.steps) {
            if (step.version <= installed) {
                continue;
            }
            for (const QString& statement : step.statements(dialect)) {
                execStatement(db, statement);
            }
        }
        if (installed == 0 && component.seedDemo) {
            component.seedDemo(db, dialect, demoNotes);
        }
        recordVersion(db, component.name, latest, installed > 0);
    }
}

void ensureDatabase(const QString& url, int demoNotes, const QList<SchemaComponent>& extra) {
    const host::DatabaseUrl parsed = host::DatabaseUrl::parse(url);
    const bool sqlite = parsed.dialect == SqlDialect::SQLite;
    const bool memory = sqlite && parsed.path == u":memory:";
    bool createdFile = false;
    if (sqlite && !memory && !QFileInfo::exists(parsed.path)) {
        const QString dir = QFileInfo(parsed.path).absolutePath();
        if (!QDir().mkpath(dir)) {
            throw EDatabaseError(
                QStringLiteral("Não foi possível criar a pasta do banco de dados: %1").arg(dir));
        }
        createdFile = true;
    }

    QList<SchemaComponent> components{companySchema()};
    components += extra;
    const QString name = uniqueConnectionName();
    try {
        {
            QSqlDatabase db = host::DatabaseModule::openConnection(parsed, name, true);
            try {
                // Two programs starting at once (the host and the application server) must not
                // both create the schema: the first takes the lock, the second then finds it.
                if (sqlite) {
                    execStatement(db, QStringLiteral("BEGIN IMMEDIATE"));
                } else {
                    execStatement(db, QStringLiteral("BEGIN"));
                    execStatement(db, QStringLiteral("SELECT pg_advisory_xact_lock(58000001)"));
                }
                ensureSchema(db, parsed.dialect, demoNotes, components);
                execStatement(db, QStringLiteral("COMMIT"));
            } catch (...) {
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
                db.close();
                throw;
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    } catch (const host::EHostError& e) {
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase::removeDatabase(name);
        }
        if (createdFile) {
            QFile::remove(parsed.path);
        }
        throw EDatabaseError(QStringLiteral("Não foi possível preparar o banco de dados %1: %2")
                                 .arg(parsed.display(), e.text()));
    }
}

}  // namespace companydb

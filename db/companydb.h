#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>

#include "sql/databasemodule.h"

// The company database: its schema for SQLite and PostgreSQL, versioned per component in the
// table SCHEMAVERSION, and the demo data a new database starts with.
namespace companydb {

// One step of a component's schema. Statements run in order: the common ones, then those of
// the connected dialect.
struct SchemaStep {
    int version = 0;  // ascending within a component, starting at 1
    QString description;
    QStringList common;
    QStringList sqlite;
    QStringList postgres;
    QStringList statements(host::SqlDialect dialect) const;
};

// A set of tables that is installed and upgraded together (the company tables, later the
// application server's own tables). seedDemo runs once, right after the component is first
// installed, inside the same transaction.
struct SchemaComponent {
    QString name;  // key in SCHEMAVERSION, at most 40 characters
    QList<SchemaStep> steps;
    std::function<void(QSqlDatabase& db, host::SqlDialect dialect, int demoNotes)> seedDemo;
    int latestVersion() const;
};

// EMPRESA, INSCRESTAD, FILIAL, SERIEENTR, CLIENTE, FORNECEDOR, TIPOOPERAC and their demo rows,
// and the booked fiscal entries LANCTONF (filled with the application server's demo notes).
const SchemaComponent& companySchema();

// The database a program uses when the login context names none: the demo SQLite file
// ~/.local/share/orvanta/demo.sqlite (the one `make demo` uses).
QString defaultDatabaseUrl();

// Makes sure the database at url ("sqlite:PATH" or "postgres:CONNINFO") holds the company
// component and every extra component at their latest versions. A new database (an absent
// SQLite file, a PostgreSQL database without SCHEMAVERSION) gets the schema and the demo data in
// one transaction; a component already at its latest version is left as it is; an older one gets
// only its missing steps. Anything that fails rolls everything back (an SQLite file this call
// created is removed) and raises host::EDatabaseError with a clear text.
void ensureDatabase(const QString& url, int demoNotes = 500,
                    const QList<SchemaComponent>& extra = {});

// Same, on a connection already open (used by tests and by tools that hold a connection).
void ensureSchema(QSqlDatabase& db, host::SqlDialect dialect, int demoNotes,
                  const QList<SchemaComponent>& components);

// Installed version of a component; 0 when SCHEMAVERSION or the component is absent.
int installedVersion(QSqlDatabase& db, host::SqlDialect dialect, const QString& component);

// Runs one statement without parameters; raises host::EDatabaseError with the driver's text.
void execStatement(QSqlDatabase& db, const QString& statement);

}  // namespace companydb

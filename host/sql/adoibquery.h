#pragma once

#include <QDate>
#include <QMap>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <memory>

#include "core/clientdataset.h"
#include "sql/databasemodule.h"

namespace host {

// One named parameter of a query (":P_CDEMPRESA" in the statement is the parameter
// "P_CDEMPRESA"). A parameter that was never given a value cannot be bound: opening the query
// then fails naming it. An explicit null (SetValue of an invalid QVariant, or Clear) binds NULL.
class TParam {
  public:
    explicit TParam(QString name) : m_name(std::move(name)) {}
    const QString& Name() const { return m_name; }

    // An empty text is a value, never NULL, even when it comes as a null QString.
    void SetAsString(const QString& v) { assign(v.isNull() ? QStringLiteral("") : v); }
    void SetAsInteger(qint64 v) { assign(v); }
    void SetAsFloat(double v) { assign(v); }
    void SetAsDate(const QDate& v) { assign(v); }
    void SetAsDateTime(const QDateTime& v) { assign(v); }
    void SetValue(const QVariant& v) { assign(v); }
    void Clear() { assign(QVariant()); }

    QVariant Value() const { return m_value; }
    QString AsString() const { return m_value.isValid() ? m_value.toString() : QString(); }
    bool IsNull() const { return !m_value.isValid() || m_value.isNull(); }
    bool Assigned() const { return m_assigned; }
    void Unassign() {
        m_value = QVariant();
        m_assigned = false;
    }

  private:
    void assign(const QVariant& v) {
        m_value = v;
        m_assigned = true;
    }
    QString m_name;
    QVariant m_value;
    bool m_assigned = false;
};

// A statement rewritten for the drivers: each ":NAME" replaced by '?', with the names in the
// order of their places. Text inside quotes and comments, and PostgreSQL "::type" casts, are left
// alone.
struct PreparedStatement {
    QString sql;
    QStringList placeholders;  // upper-case names, one per '?', repeats included
};
PreparedStatement rewriteNamedParameters(const QString& statement);

// The suite's query component: a read-only SELECT on the shared database module whose every row
// is fetched into the data set (a client-side cursor), so the result can be browsed, located,
// filtered and shown like any client data set.
//
// SQL holds the statement line by line; SQL_SQLITE and SQL_PG hold per-database variants, and
// the one for the connected database runs when it is not empty. Parameters are bound by name;
// one name may appear in several places and gets the same value in all of them. Values are
// always bound, never pasted into the text.
//
// Fields: declared before Open (AddField, with sizes and labels) they are persistent and filled
// by column name; otherwise they are made from the result's columns, upper-case, and made again
// at every Open.
class TADOIBQuery : public TClientDataSet {
    Q_OBJECT

  public:
    explicit TADOIBQuery(QObject* parent = nullptr);
    ~TADOIBQuery() override;

    QStringList SQL;
    QStringList SQL_SQLITE;
    QStringList SQL_PG;

    // The module whose connection runs the query; the shared instance when none is set.
    void SetDatabaseModule(DatabaseModule* module) { m_module = module; }
    DatabaseModule* GetDatabaseModule() const { return m_module; }

    // A parameter of the statement (names compared without regard to case). A name that is in
    // none of the statements raises EDatabaseError. Values set stay across Close and Open.
    TParam& ParamByName(const QString& name);
    TParam* FindParam(const QString& name);
    QStringList ParamNames() const;  // in order of first appearance, over every statement

    // Runs the statement for the connected database and loads every row. Raises EDatabaseError
    // (text of the driver and the statement) when the database refuses it, or naming the
    // parameter when one has no value; the data set is then closed.
    void Open();
    void Close();

    // Runs a statement that returns no rows (insert, update, DDL) with the same parameter
    // binding; returns the number of rows affected when the driver knows it, else -1.
    int ExecSQL();

    // The statement that would run on the current connection, lines joined by newlines.
    QString ActiveStatement() const;

  private:
    DatabaseModule& module() const;
    QString statementFor(SqlDialect dialect) const;
    void syncParams();
    QVariantList bindValues(const PreparedStatement& prepared) const;
    // Runs the statement of the current connection with the parameters' values; the statement
    // run is left in `statement` for messages.
    QSqlQuery run(QString& statement);
    QString describe() const;

    DatabaseModule* m_module = nullptr;
    QMap<QString, std::shared_ptr<TParam>> m_params;  // key: upper-case name
    bool m_autoFields = false;
};

}  // namespace host

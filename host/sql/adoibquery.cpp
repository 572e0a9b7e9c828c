#include "sql/adoibquery.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <vector>

#include "core/datasetloader.h"
#include "core/packet.h"

namespace host {

namespace {

bool isNameStart(QChar c) {
    return c.isLetter() || c == u'_';
}
bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

FieldType fieldTypeOf(const QMetaType& type) {
    switch (type.id()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::ULong:
            return FieldType::Integer;
        case QMetaType::Double:
        case QMetaType::Float:
            return FieldType::Float;
        case QMetaType::Bool:
            return FieldType::Boolean;
        case QMetaType::QDate:
            return FieldType::Date;
        case QMetaType::QDateTime:
            return FieldType::DateTime;
        case QMetaType::QByteArray:
            return FieldType::Memo;
        default:
            return FieldType::String;
    }
}

// Brings a value read from the driver to the type of the field that receives it, so that a
// persistent field declared as String gets text even where the database hands back a number.
QVariant convertFor(FieldType type, const QVariant& v) {
    if (!v.isValid() || v.isNull()) {
        return QVariant();
    }
    switch (type) {
        case FieldType::String:
        case FieldType::Memo:
            if (v.typeId() == QMetaType::QByteArray) {
                return QString::fromUtf8(v.toByteArray());
            }
            return v.toString();
        case FieldType::Integer:
            return v.toLongLong();
        case FieldType::Float:
            return v.toDouble();
        case FieldType::Boolean:
            return v.toBool();
        case FieldType::Date:
            return v.typeId() == QMetaType::QDateTime ? QVariant(v.toDateTime().date())
                                                      : QVariant(v.toDate());
        case FieldType::DateTime:
            return v.toDateTime();
    }
    return v;
}

}  // namespace

PreparedStatement rewriteNamedParameters(const QString& statement) {
    PreparedStatement out;
    out.sql.reserve(statement.size());
    const qsizetype n = statement.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = statement.at(i);
        if (c == u'\'' || c == u'"') {
            // Quoted text or identifier, copied whole; a doubled quote inside is just two
            // quotes in a row, which this loop handles by closing and reopening.
            const qsizetype end = statement.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? n : end + 1;
            out.sql += statement.mid(i, stop - i);
            i = stop;
        } else if (c == u'-' && i + 1 < n && statement.at(i + 1) == u'-') {
            const qsizetype end = statement.indexOf(u'\n', i);
            const qsizetype stop = end < 0 ? n : end;
            out.sql += statement.mid(i, stop - i);
            i = stop;
        } else if (c == u'/' && i + 1 < n && statement.at(i + 1) == u'*') {
            const qsizetype end = statement.indexOf(QStringLiteral("*/"), i + 2);
            const qsizetype stop = end < 0 ? n : end + 2;
            out.sql += statement.mid(i, stop - i);
            i = stop;
        } else if (c == u':' && i + 1 < n && statement.at(i + 1) == u':') {
            out.sql += QStringLiteral("::");  // PostgreSQL cast, not a parameter
            i += 2;
        } else if (c == u':' && i + 1 < n && isNameStart(statement.at(i + 1))) {
            qsizetype j = i + 1;
            while (j < n && isNameChar(statement.at(j))) {
                ++j;
            }
            out.placeholders.append(statement.mid(i + 1, j - i - 1).toUpper());
            out.sql += u'?';
            i = j;
        } else {
            out.sql += c;
            ++i;
        }
    }
    return out;
}

TADOIBQuery::TADOIBQuery(QObject* parent) : TClientDataSet(parent) {}

TADOIBQuery::~TADOIBQuery() = default;

DatabaseModule& TADOIBQuery::module() const {
    return m_module ? *m_module : DatabaseModule::instance();
}

QString TADOIBQuery::describe() const {
    return objectName().isEmpty() ? QStringLiteral("consulta") : objectName();
}

QString TADOIBQuery::statementFor(SqlDialect dialect) const {
    const QStringList& own = dialect == SqlDialect::SQLite ? SQL_SQLITE : SQL_PG;
    const QString text = own.join(u'\n');
    if (!text.trimmed().isEmpty()) {
        return text;
    }
    return SQL.join(u'\n');
}

QString TADOIBQuery::ActiveStatement() const {
    return statementFor(module().dialect());
}

void TADOIBQuery::syncParams() {
    for (const QStringList* lines : {&SQL, &SQL_SQLITE, &SQL_PG}) {
        const PreparedStatement p = rewriteNamedParameters(lines->join(u'\n'));
        for (const QString& name : p.placeholders) {
            if (!m_params.contains(name)) {
                m_params.insert(name, std::make_shared<TParam>(name));
            }
        }
    }
}

QStringList TADOIBQuery::ParamNames() const {
    QStringList names;
    for (const QStringList* lines : {&SQL, &SQL_SQLITE, &SQL_PG}) {
        const PreparedStatement p = rewriteNamedParameters(lines->join(u'\n'));
        for (const QString& name : p.placeholders) {
            if (!names.contains(name)) {
                names.append(name);
            }
        }
    }
    return names;
}

TParam* TADOIBQuery::FindParam(const QString& name) {
    syncParams();
    const auto it = m_params.constFind(name.toUpper());
    return it == m_params.constEnd() ? nullptr : it.value().get();
}

TParam& TADOIBQuery::ParamByName(const QString& name) {
    if (TParam* p = FindParam(name)) {
        return *p;
    }
    throw EDatabaseError(
        QStringLiteral("%1: parâmetro \"%2\" não existe na instrução SQL.").arg(describe(), name));
}

QVariantList TADOIBQuery::bindValues(const PreparedStatement& prepared) const {
    QVariantList values;
    values.reserve(prepared.placeholders.size());
    for (const QString& name : prepared.placeholders) {
        const auto it = m_params.constFind(name);
        if (it == m_params.constEnd() || !it.value()->Assigned()) {
            throw EDatabaseError(
                QStringLiteral("%1: o parâmetro \"%2\" não recebeu valor.").arg(describe(), name));
        }
        values.append(it.value()->Value());
    }
    return values;
}

namespace {

QSqlQuery runStatement(const QSqlDatabase& db, const QString& who, const QString& statement,
                       const PreparedStatement& prepared, const QVariantList& values,
                       bool forwardOnly) {
    QSqlQuery q(db);
    q.setForwardOnly(forwardOnly);
    q.setNumericalPrecisionPolicy(QSql::LowPrecisionDouble);
    const auto fail = [&](const QSqlError& e) -> EDatabaseError {
        return EDatabaseError(QStringLiteral("Erro do banco de dados em %1: %2\nInstrução:\n%3")
                                  .arg(who, e.text().trimmed(), statement));
    };
    if (!db.isOpen()) {
        throw EDatabaseError(
            QStringLiteral("%1: a conexão com o banco de dados está fechada.").arg(who));
    }
    if (!q.prepare(prepared.sql)) {
        throw fail(q.lastError());
    }
    for (const QVariant& v : values) {
        q.addBindValue(v);
    }
    if (!q.exec()) {
        throw fail(q.lastError());
    }
    return q;
}

}  // namespace

QSqlQuery TADOIBQuery::run(QString& statement) {
    DatabaseModule& mod = module();
    statement = statementFor(mod.dialect());
    if (statement.trimmed().isEmpty()) {
        throw EDatabaseError(QStringLiteral("%1: não há instrução SQL.").arg(describe()));
    }
    syncParams();
    const PreparedStatement prepared = rewriteNamedParameters(statement);
    const QVariantList values = bindValues(prepared);
    return runStatement(mod.database(), describe(), statement, prepared, values, true);
}

void TADOIBQuery::Open() {
    Close();
    QString statement;
    QSqlQuery q = run(statement);

    const QSqlRecord record = q.record();
    if (record.isEmpty()) {
        throw EDatabaseError(QStringLiteral("%1: a instrução não devolveu colunas.\nInstrução:\n%2")
                                 .arg(describe(), statement));
    }

    // Field definitions of the result's columns, upper-case; a repeated name gets a suffix
    // ("CDEMPRESA_1"), as the old toolkit named them.
    QList<FieldDef> defs;
    for (int c = 0; c < record.count(); ++c) {
        const QSqlField f = record.field(c);
        FieldDef def;
        def.name = f.name().toUpper();
        if (def.name.isEmpty()) {
            def.name = QStringLiteral("COLUNA%1").arg(c + 1);
        }
        for (int k = 1;; ++k) {
            bool clash = false;
            for (const FieldDef& other : defs) {
                clash = clash || other.name.compare(def.name, Qt::CaseInsensitive) == 0;
            }
            if (!clash) {
                break;
            }
            def.name = f.name().toUpper() + QStringLiteral("_%1").arg(k);
        }
        def.type = fieldTypeOf(f.metaType());
        if (def.type == FieldType::String) {
            def.size = f.length() > 0 ? int(f.length()) : 0;
        }
        defs.append(def);
    }

    if (FieldCount() == 0 || m_autoFields) {
        ClearFields();
        m_autoFields = true;
    } else {
        // Persistent fields are filled by name; one the statement does not return is an error
        // worth the statement in its text.
        for (int i = 0; i < FieldCount(); ++i) {
            const QString name = Fields(i).FieldName();
            bool found = false;
            for (const FieldDef& def : defs) {
                found = found || def.name.compare(name, Qt::CaseInsensitive) == 0;
            }
            if (!found) {
                throw EDatabaseError(
                    QStringLiteral("%1: o campo %2 não veio no resultado da instrução.\n"
                                   "Instrução:\n%3")
                        .arg(describe(), name, statement));
            }
        }
    }

    // The rows go straight into the data set as they are fetched.
    try {
        DataSetLoader loader(*this, defs);
        const int columns = int(defs.size());
        std::vector<int> longest(size_t(columns), 0);
        while (q.next()) {
            loader.beginRow();
            for (int c = 0; c < columns; ++c) {
                const QVariant v = convertFor(defs.at(c).type, q.value(c));
                if (defs.at(c).type == FieldType::String && v.isValid()) {
                    longest[size_t(c)] = qMax(longest[size_t(c)], int(v.toString().size()));
                }
                loader.value(v);
            }
            loader.endRow();
        }
        if (q.lastError().isValid()) {
            throw EDatabaseError(QStringLiteral("Erro do banco de dados em %1: %2\nInstrução:\n%3")
                                     .arg(describe(), q.lastError().text().trimmed(), statement));
        }
        // SQLite does not report sizes (nor does PostgreSQL for text): a String column is as
        // wide as the longest value fetched.
        for (int c = 0; c < columns; ++c) {
            if (defs.at(c).type == FieldType::String) {
                loader.setColumnSize(c, qMax(qMax(defs.at(c).size, longest[size_t(c)]), 1));
            }
        }
        loader.finish();
    } catch (const EDatabaseError&) {
        throw;
    } catch (const EHostError& e) {
        throw EDatabaseError(
            QStringLiteral("%1: o resultado não pôde ser carregado: %2").arg(describe(), e.text()));
    }
}

void TADOIBQuery::Close() {
    TClientDataSet::Close();
    if (m_autoFields) {
        ClearFields();
        m_autoFields = false;
    }
}

int TADOIBQuery::ExecSQL() {
    QString statement;
    return run(statement).numRowsAffected();
}

}  // namespace host

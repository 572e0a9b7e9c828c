#include "sqliterows.h"

#include <sqlite3.h>

#include "core/hosterror.h"

namespace dfe58000 {

SqliteRows::SqliteRows(const QString& path) {
    const QByteArray file = path.toUtf8();
    const int rc = sqlite3_open_v2(file.constData(), &m_db,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString why =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw host::EDatabaseError(
            QStringLiteral("Não foi possível abrir o banco %1 para leitura: %2").arg(path, why));
    }
    // Writers of other connections hold the file briefly; wait for them as the Qt
    // connections do.
    sqlite3_busy_timeout(m_db, 10000);
}

SqliteRows::~SqliteRows() {
    sqlite3_finalize(m_stmt);
    sqlite3_close(m_db);
}

void SqliteRows::fail(const QString& what) const {
    throw host::EDatabaseError(
        QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

void SqliteRows::exec(const QString& sql, const QVariantList& binds) {
    finish();
    if (!m_stmt || sql != m_sql) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        m_sql.clear();
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_stmt, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            fail(QStringLiteral("Não foi possível preparar a consulta"));
        }
        m_sql = sql;
    }
    sqlite3_clear_bindings(m_stmt);
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant& v = binds.at(i);
        int rc;
        switch (v.isNull() ? QMetaType::UnknownType : v.typeId()) {
            case QMetaType::UnknownType:
                rc = sqlite3_bind_null(m_stmt, i + 1);
                break;
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::LongLong:
            case QMetaType::Long:
                rc = sqlite3_bind_int64(m_stmt, i + 1, v.toLongLong());
                break;
            case QMetaType::Double:
                rc = sqlite3_bind_double(m_stmt, i + 1, v.toDouble());
                break;
            default: {
                const QByteArray text = v.toString().toUtf8();
                rc = sqlite3_bind_text(m_stmt, i + 1, text.constData(), int(text.size()),
                                       SQLITE_TRANSIENT);
                break;
            }
        }
        if (rc != SQLITE_OK) {
            fail(QStringLiteral("Não foi possível passar o valor %1 à consulta").arg(i + 1));
        }
    }
    m_active = true;
}

bool SqliteRows::next() {
    if (!m_active) {
        return false;
    }
    switch (sqlite3_step(m_stmt)) {
        case SQLITE_ROW:
            return true;
        case SQLITE_DONE:
            finish();
            return false;
        default: {
            const QString why = QString::fromUtf8(sqlite3_errmsg(m_db));
            finish();
            throw host::EDatabaseError(
                QStringLiteral("Não foi possível ler a consulta: %1").arg(why));
        }
    }
}

bool SqliteRows::isNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

QByteArrayView SqliteRows::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QByteArrayView(bytes, bytes ? sqlite3_column_bytes(m_stmt, column) : 0);
}

bool SqliteRows::textUnlessNull(int column, QByteArrayView& out) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    if (bytes) {
        out = QByteArrayView(bytes, sqlite3_column_bytes(m_stmt, column));
        return true;
    }
    // No text: a null, or a value SQLite could not give as text (an empty one for text()).
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL) {
        return false;
    }
    out = QByteArrayView();
    return true;
}

double SqliteRows::real(int column) const {
    return sqlite3_column_double(m_stmt, column);
}

void SqliteRows::finish() {
    if (m_stmt && m_active) {
        sqlite3_reset(m_stmt);
    }
    m_active = false;
}

}  // namespace dfe58000

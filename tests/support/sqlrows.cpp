#include "sqlrows.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace testsupport {

QList<QStringList> rowsAsText(const QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    }
    QList<QStringList> out;
    while (q.next()) {
        QStringList row;
        for (int c = 0; c < q.record().count(); ++c) {
            row << q.value(c).toString();
        }
        out << row;
    }
    return out;
}

}  // namespace testsupport

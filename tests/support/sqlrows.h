#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QStringList>

namespace testsupport {

// Every row the query gives on db, each value as text. A statement that fails ends the test
// program: the checks that read its rows mean nothing without them.
QList<QStringList> rowsAsText(const QSqlDatabase& db, const QString& sql);

}  // namespace testsupport

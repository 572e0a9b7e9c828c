#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include "store.h"

namespace dfe58000 {

// Writes the company's booked entries (LANCTONF) for demo notes, so that the books and the
// booking fields of the addressed notes tell the same story. One prepared insert for the run.
class DemoEntryWriter {
  public:
    explicit DemoEntryWriter(QSqlDatabase& db);

    // Books the note as entry `entry` of branch `branch` on `entered`: issuer, number, series,
    // dates, value and key come from the note. Raises host::EDatabaseError when the insert
    // fails.
    void book(const NoteRecord& note, const QString& branch, const QString& entry,
              const QDateTime& entered);

  private:
    QSqlQuery m_insert;
};

}  // namespace dfe58000

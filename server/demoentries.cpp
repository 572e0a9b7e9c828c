#include "demoentries.h"

#include <QSqlError>
#include <QVariantList>

#include "core/hosterror.h"

namespace dfe58000 {

DemoEntryWriter::DemoEntryWriter(QSqlDatabase& db) : m_insert(db) {
    if (!m_insert.prepare(QStringLiteral(
            "INSERT INTO LANCTONF (CDEMPRESA, CDFILIAL, NRLANCTONF, NRACESSONF, NRINSJUREMIT, "
            "IDTPIJUREMIT, NMRAZSOCEMIT, NRNOTAFISC, CDSERIE, DTEMISSAO, DTENTRSAID, VRNOTAFISC) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))) {
        throw host::EDatabaseError(
            QStringLiteral("Não foi possível preparar os lançamentos de demonstração: %1")
                .arg(m_insert.lastError().text().trimmed()));
    }
}

void DemoEntryWriter::book(const NoteRecord& note, const QString& branch, const QString& entry,
                           const QDateTime& entered) {
    const QVariantList values = {note.CDEMPRESA,
                                 branch,
                                 entry,
                                 note.NRACESSONF,
                                 note.NRINSJURNFORIG,
                                 note.IDTPIJUREMIT,
                                 note.NMRAZSOCEMIT,
                                 note.NRNOTAFISC,
                                 note.CDSERIE,
                                 dbDateTime(note.DTEMISSAO),
                                 dbDateTime(entered),
                                 note.VRNOTAFISC};
    for (int i = 0; i < values.size(); ++i) {
        m_insert.bindValue(i, values.at(i));
    }
    if (!m_insert.exec()) {
        throw host::EDatabaseError(
            QStringLiteral("Não foi possível gravar o lançamento de demonstração da nota %1: %2")
                .arg(note.NRACESSONF, m_insert.lastError().text().trimmed()));
    }
}

}  // namespace dfe58000

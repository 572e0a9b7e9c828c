#pragma once

// Notes of company 01 for the tests of events and XML documents: an NF-e of one issuer,
// authorised a few days ago, with a valid access key built from its number.

#include <QDate>
#include <QDateTime>
#include <QString>

#include "fiscaldocs.h"
#include "store.h"

namespace testnotes {

inline const QString kIssuer = QStringLiteral("12345678000190");
// An issuer whose CNPJ has letters: its keys carry them in positions 7 to 18.
inline const QString kAlphanumericIssuer = fiscal::completeCnpj(QStringLiteral("12ABC34501DE"));

inline QString keyFor(int number, const QString& issuer = kIssuer) {
    const QString first43 = QStringLiteral("352611") + issuer + QStringLiteral("55002") +
                            QStringLiteral("%1").arg(number, 9, 10, QChar(u'0')) +
                            QStringLiteral("187654321");
    return first43 + QString::number(fiscal::accessKeyCheckDigit(first43));
}

inline dfe58000::NoteRecord documentNote(int number, const QString& manif, const QString& recipient,
                                         const QString& xml, int daysAgo = 3,
                                         const QString& issuer = kIssuer) {
    dfe58000::NoteRecord n;
    n.CDEMPRESA = QStringLiteral("01");
    n.NRNOTAFISC = QString::number(number);
    n.IDSTATUSNFE = QStringLiteral("1");
    n.IDSTATUSMANIF = manif;
    n.IDARQXMLNFE = xml;
    n.NRINSJURIESTDEST = recipient;
    n.CDINSCESTADEST = QStringLiteral("110042490114");
    n.NRINSJURNFORIG = issuer;
    n.IDTPIJUREMIT = QStringLiteral("J");
    n.NMRAZSOCEMIT = QStringLiteral("Fornecedor & Filhos <Ltda>");
    n.DTEMISSAO = QDateTime(QDate::currentDate().addDays(-daysAgo - 1), QTime(8, 0));
    n.DTRECBTO = QDateTime(QDate::currentDate().addDays(-daysAgo), QTime(9, 0));
    n.VRNOTAFISC = 1234.5;
    n.IDENTRSAIDNF = QStringLiteral("1");
    n.NRACESSONF = keyFor(number, issuer);
    return n;
}

}  // namespace testnotes

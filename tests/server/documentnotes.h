#pragma once

// Notes of company 01 for the server's tests: NF-e of one issuer, authorised a few days ago,
// with valid access keys built from their numbers, and the packet of marked notes the calls
// take.

#include <QDate>
#include <QDateTime>
#include <QString>

#include "core/packet.h"
#include "fiscaldocs.h"
#include "store.h"

namespace testnotes {

inline const QString kIssuer = QStringLiteral("12345678000190");
// An issuer whose CNPJ has letters: its keys carry them in positions 7 to 18.
inline const QString kAlphanumericIssuer = fiscal::completeCnpj(QStringLiteral("12ABC34501DE"));

// An access key of São Paulo with its check digit: the month of issue (yyMM), the issuer, the
// model and series, the number, and the form of issue with the numeric code.
inline QString accessKey(const QString& issuer, int number, const QString& modelSeries,
                         const QString& tail, const QString& yyMM = QStringLiteral("2611")) {
    const QString first43 = QStringLiteral("35") + yyMM + issuer + modelSeries +
                            QStringLiteral("%1").arg(number, 9, 10, QChar(u'0')) + tail;
    return first43 + QString::number(fiscal::accessKeyCheckDigit(first43));
}

inline QString keyFor(int number, const QString& issuer = kIssuer) {
    return accessKey(issuer, number, QStringLiteral("55002"), QStringLiteral("187654321"));
}

// A note of company 01 from `issuer` to `recipient`, authorised and open for manifestation.
inline dfe58000::NoteRecord openNote(int number, const QString& recipient, const QString& issuer,
                                     const QString& key, const QDateTime& issued,
                                     const QDateTime& authorised) {
    dfe58000::NoteRecord n;
    n.CDEMPRESA = QStringLiteral("01");
    n.NRNOTAFISC = QString::number(number);
    n.IDSTATUSNFE = QStringLiteral("1");
    n.IDSTATUSMANIF = QStringLiteral("0");
    n.IDNOTA = QStringLiteral("1");
    n.NRINSJURIESTDEST = recipient;
    n.NRINSJURNFORIG = issuer;
    n.NMRAZSOCEMIT = QStringLiteral("Fornecedor %1").arg(number);
    n.DTEMISSAO = issued;
    n.DTRECBTO = authorised;
    n.NRACESSONF = key;
    return n;
}

// The marked notes a manifestation or a document request sends: key and "not queried".
inline QByteArray marked(const QStringList& keys) {
    QList<QVariantList> rows;
    for (const QString& k : keys) {
        rows.append({k, QStringLiteral("N")});
    }
    return host::encodePacket({{QStringLiteral("NRACESSONF"), host::FieldType::String, 50, false},
                               {QStringLiteral("IDCONSULTADO"), host::FieldType::String, 1, false}},
                              rows);
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

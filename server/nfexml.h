#pragma once

#include <QDateTime>
#include <QString>

#include "rules.h"

// The national documents the server writes: the authorised NF-e (nfeProc: the NF-e with its
// issuer's signature and the authorisation protocol) and the archived event (procEventoNFe: the
// recipient's evento and the authority's retEvento). Built as text with empty signatures that
// signer.h fills; they read nothing and take every value from the caller.
namespace dfe58000 {

// What an NF-e document carries of its note.
struct NfeData {
    QString key;
    QString issuer;  // CNPJ (its first 12 characters may be letters) or CPF, no mask
    bool issuerCpf = false;
    QString issuerName;
    QDateTime issued, authorised;  // both valid
    double value = 0;
    QString recipient, recipientIe;
    bool entry = false;  // tpNF 0
    QString tpAmb;
};

// What an archived event carries: the event as the author sent it and the authority's answer.
struct EventData {
    QString accessKey;
    QString author;  // CNPJ or CPF (11 characters)
    const rules::EventRule* rule = nullptr;
    QString justification;  // written as sent, when the event allows one
    QDateTime when;         // dhEvento
    int sequence = 1;
    int cStat = 0;
    QString xMotivo;
    QString protocol;
    QDateTime registeredAt;  // dhRegEvento
    QString tpAmb = QStringLiteral("1");
    QString recipient;  // CNPJDest / CPFDest; empty when the note is not known
};

QString nfeProcDocument(const NfeData& note);
QString procEventoDocument(const EventData& event);

// Date-times as the national layout writes them: Brasília's wall clock with its UTC offset
// ("2026-12-08T10:15:00-03:00"), never "Z". A value without a zone is taken as Brasília's.
QString brTime(const QDateTime& dt);
// Free text as the layout accepts it: Latin-1 printable characters, no blank at either end,
// single blanks inside, at most max characters; fallback when fewer than two are left.
QString layoutText(const QString& text, int max, const QString& fallback);
QString digitsOnly(const QString& text);
// A legal registration as the documents carry it: no mask characters, upper-case letters.
QString registrationOf(const QString& stored);
bool isCpfShape(const QString& s);
// The form the documents accept for a CNPJ: 12 characters 0-9 or A-Z, then two digits.
bool isCnpjShape(const QString& s);
// A note's environment as tpAmb: "2" homologation, anything else production.
QString environmentOf(const QString& stored);

}  // namespace dfe58000

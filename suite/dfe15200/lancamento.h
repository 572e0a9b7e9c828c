#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

namespace dfe15200 {

// Which entry to show: the branch and the entry number the module was opened with, already
// checked; error says what is wrong with them when they cannot be used.
struct EntryRef {
    QString branch;  // CDFILIAL, four characters
    QString entry;   // NRLANCTONF as given (digits)
    QString error;   // empty when usable
};

// Reads the loader's parameters: [branch, entry number], in that order. A branch of digits is
// padded with zeros to four ("1" -> "0001"); the entry must be digits, at most ten.
EntryRef entryRefFromParams(const QVariant& params);

// One booked fiscal entry (LANCTONF) as the viewing window shows it.
struct BookedEntry {
    bool found = false;
    QString branch;
    QString entry;
    QString accessKey;
    QString issuer;            // registration, digits and letters only
    QString issuerPersonType;  // "J" or "F"; empty when unknown
    QString issuerName;
    QString number;
    QString series;
    QDateTime issued;
    QDateTime entered;
    double value = 0;
};

// The entry of that branch and number in the company's books, read through the shared database
// module. The number matches as given or padded to ten digits, the way entries are stored.
// Raises host::EDatabaseError when the database cannot answer.
BookedEntry readBookedEntry(const QString& company, const EntryRef& ref);

// A date-time column as either driver returns it: a date-time (PostgreSQL) or the stored text
// "yyyy-MM-dd HH:mm:ss.zzz" (SQLite). Invalid for null or unreadable values.
QDateTime dateTimeOf(const QVariant& value);

}  // namespace dfe15200

#pragma once

// Display texts of field values, as the old toolkit formatted them.

#include <QLocale>
#include <QString>

namespace host {

// "dd/MM/yyyy", with " hh:mm:ss" when the time is not midnight, of a naive date-time's
// milliseconds (see packetMillis).
QString formatDateTimeText(qint64 millis);

// The default locale without thousands grouping.
QLocale plainLocale();

// Delphi-style numeric display formats: '0' a digit always shown, '#' a digit shown when
// significant, ',' anywhere in the integer part turns on thousands grouping, '.' the decimal
// point; other characters before and after the digits are kept literally. Only the first
// ';'-separated section is used.
QString formatNumber(double value, const QString& format);

}  // namespace host

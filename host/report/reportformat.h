#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include "report/reportdefinition.h"

// Texts of report values, the same on paper, in PDF and in the CSV export.
namespace host::reportformat {

// 1234.5 -> "1.234,50" (pt_BR, always two decimals).
QString money(double value);
// 1234.5 -> "1234,50": the CSV form, which spreadsheets in pt_BR read back as a number.
QString moneyPlain(double value);

// A registration number with its mask: kind "J" a CNPJ 99.999.999/9999-99 (the first twelve
// positions may be letters), "F" a CPF 999.999.999-99. Without a kind, 14 characters make a
// CNPJ and 11 digits a CPF. Any other text, or one that does not fit the mask, stays as it is.
QString registration(const QString& number, const QString& kind = {});

// A date or date-time as the database or a data set hands it over: QDate, QDateTime, or the
// stored text "yyyy-MM-dd HH:mm:ss.zzz" (and its shorter forms). Invalid when it is none.
QDateTime toDateTime(const QVariant& value);

// The current moment on Brasília's clock (America/Sao_Paulo), whatever the machine's zone.
QDateTime brasiliaNow();

// The display text of a value in a column (kind: the person kind for a registration).
QString cell(const ReportColumn& column, const QVariant& value, const QString& kind = {});

// A value brought to what its column needs: dates parsed once, amounts as double.
QVariant normalise(ColumnFormat format, const QVariant& value);

}  // namespace host::reportformat

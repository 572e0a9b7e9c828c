#pragma once

#include <QString>
#include <functional>

#include "report/reportresult.h"

// The exports of a report's rows. Both write the whole file beside the target and put it in
// place only when it is complete, so a failure or a cancel leaves no partial file (and an
// older file of that name as it was).
namespace host::reportexport {

// Called every so many rows with (rows done, rows); false stops the export.
using Progress = std::function<bool(int done, int total)>;

// A spreadsheet: one sheet per section with a header row, then the rows with typed cells
// (amounts as numbers formatted #,##0.00, dates as date cells dd/mm/yyyy, texts as UTF-8 text
// cells, which a spreadsheet never takes for formulas whatever they start with),
// the section's totals in a last row and the columns sized as in the definition. Returns false
// when progress stopped it; a file that cannot be written raises EHostError.
bool writeXlsx(const ReportResult& result, const QString& path, const Progress& progress = {});

// Text for spreadsheets in pt_BR: UTF-8 with a byte-order mark (Excel reads the accents only
// with it; LibreOffice takes it too), ';' between cells, amounts with a decimal comma and no
// thousands separator, dates dd/MM/yyyy, cells quoted when they hold ';', a quote or a line
// break. A text that a spreadsheet would take for a formula (starting with '=', '+', '-', '@',
// a tab or a carriage return) is written with an apostrophe before it; amounts and dates never
// are. Sections follow one another, each with its header row, separated by a blank line.
bool writeCsv(const ReportResult& result, const QString& path, const Progress& progress = {});

}  // namespace host::reportexport

#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

#include "report/reportdefinition.h"

namespace host {

// The rows of one section, as read from its query or data set: only the fields the section
// uses, row after row in one flat array (a report of tens of thousands of rows stays one
// allocation, not one per row). Dates arrive as QDateTime or QDate, amounts as double.
struct ReportSectionData {
    QStringList fields;  // upper-case, ReportSection::fieldsUsed() order
    std::vector<QVariant> values;
    int rowCount() const { return fields.isEmpty() ? 0 : int(values.size() / fields.size()); }
    int fieldIndex(const QString& name) const { return fields.indexOf(name); }
    const QVariant& value(int row, int field) const {
        return values[size_t(row) * size_t(fields.size()) + size_t(field)];
    }
};

// What a run prints: the definition, the texts of the page header and footer, and the rows.
struct ReportResult {
    ReportDefinition definition;
    QString criteria;      // "Empresa: 01; Emissão: 01/06/2026 a 30/06/2026; ..."
    QString company;       // "01 - Empresa" of the page header
    QDateTime printedAt;   // Brasília time
    QString operatorName;  // the login context's operator
    std::vector<ReportSectionData> sections;

    int rowCount() const {
        int n = 0;
        for (const ReportSectionData& s : sections) {
            n += s.rowCount();
        }
        return n;
    }
    // The footer's text: "Impresso em 08/12/2026 14:30:05 por ADMIN".
    QString footerText() const;
    // The display text of a cell of a section (column as in the definition).
    QString cellText(int section, int row, int column) const;
};

}  // namespace host

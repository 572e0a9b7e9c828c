#include "report/reportresult.h"

#include "report/reportformat.h"

namespace host {

QString ReportResult::footerText() const {
    return QStringLiteral("Impresso em %1 por %2")
        .arg(printedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")), operatorName);
}

QString ReportResult::cellText(int section, int row, int column) const {
    const ReportSection& sec = definition.sections.at(section);
    const ReportSectionData& data = sections.at(size_t(section));
    const ReportColumn& col = sec.columns.at(column);
    const int kind = col.kindField.isEmpty() ? -1 : data.fieldIndex(col.kindField);
    return reportformat::cell(col, data.value(row, data.fieldIndex(col.field)),
                              kind < 0 ? QString() : data.value(row, kind).toString());
}

}  // namespace host

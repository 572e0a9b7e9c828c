#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <Qt>

namespace host {

// How a column's value becomes text (and, in a spreadsheet, which kind of cell it is).
enum class ColumnFormat {
    Text,          // as it comes
    Date,          // dd/MM/yyyy
    DateTime,      // dd/MM/yyyy HH:mm:ss
    Money,         // #,##0.00 in pt_BR: 1.234,56
    Integer,       // whole number, no separators
    Registration,  // CNPJ 99.999.999/9999-99 or CPF 999.999.999-99
};

struct ReportColumn {
    QString field;      // upper-case field name of the section's data
    QString caption;    // column heading
    double width = 10;  // relative width; the columns share the page in these proportions
    Qt::Alignment align = Qt::AlignLeft;
    ColumnFormat format = ColumnFormat::Text;
    // Registration: the field holding the person kind ("J" CNPJ, "F" CPF); without one the
    // kind follows the number's length.
    QString kindField;
    // Code -> label ("1" -> "Autorizada"); a code not in the map shows as it is.
    QHash<QString, QString> labels;
};

// A change of the field's value starts a group: a heading line, the rows, then a subtotal
// line with the group's row count and the sums of the money columns named. The rows must
// come ordered by the group fields.
struct ReportGroup {
    QString field;
    QString caption;  // "Situação da Manifestação" -> "Situação da Manifestação: Confirmada"
    QHash<QString, QString> labels;            // code -> label of the heading
    ColumnFormat format = ColumnFormat::Text;  // how the key shows in the heading
    QString kindField;                         // person kind of a registration key
    QString nameField;                         // a field shown after the key ("CNPJ - name")
    bool count = true;
    QStringList sums;  // fields summed in the subtotal
};

struct ReportTotals {
    bool enabled = false;
    QString caption = QStringLiteral("Total geral");
    bool count = true;
    QStringList sums;
};

// One block of data on the pages: a query on the company database or a data set the module
// registered, with its columns, groups and totals.
struct ReportSection {
    QString title;      // printed above the section when set
    QString sql;        // a statement for every database...
    QString sqlSqlite;  // ...or one per database where they differ
    QString sqlPostgres;
    QString dataSet;  // a registered data set, read in its current view
    QList<ReportColumn> columns;
    QList<ReportGroup> groups;
    ReportTotals totals;
    bool isQuery() const { return dataSet.isEmpty(); }
    // Every field the section reads: columns, kind fields, groups and sums.
    QStringList fieldsUsed() const;
};

struct ReportParameter {
    QString name;
    bool isDate = false;
};

// One piece of the criteria line: "Label: value". A value "T" prints as allText; a date as
// dd/MM/yyyy; with toParam, "from a to"; with listSeparator, a list of codes ("_0_1_") each
// translated by labels and joined by ", ". A parameter not declared or without a value is
// left out.
struct ReportCriterion {
    QString label;
    QString param;
    QString toParam;
    QString allText = QStringLiteral("Todos");
    QString listSeparator;
    QHash<QString, QString> labels;
};

// A report definition, read from reports/<CODE>.json.
struct ReportDefinition {
    QString code;
    QString title;
    bool landscape = false;
    QList<ReportParameter> parameters;
    QList<ReportCriterion> criteria;
    QList<ReportSection> sections;

    // Reads and checks a definition file. A file that is missing, not JSON, or whose content
    // does not make a report (no title, no section, a section without data or columns, an
    // unknown format or type...) raises EHostError naming the file and what is wrong.
    static ReportDefinition load(const QString& path);
    // Same, from the file's bytes (name used in messages).
    static ReportDefinition parse(const QByteArray& json, const QString& name);
};

}  // namespace host

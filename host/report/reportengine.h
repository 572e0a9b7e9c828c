#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "sql/adoibquery.h"

class QPrinter;
class QWidget;

namespace host {

class TClientDataSet;
struct ReportDefinition;
struct ReportResult;

// The query parameters of one report run: every parameter its definition declares, each with
// the type the definition gives ("string" or "date"). A handler of BeforeGetQueryParams sets
// the values; a declared parameter left without a value stops the run naming it.
class TReportParams {
  public:
    // Declares a parameter (names compared without regard to case; a second declaration of a
    // name keeps the first).
    void Declare(const QString& name, bool isDate);
    // The declared parameter of that name, or nullptr.
    TParam* Find(const QString& name);
    const TParam* Find(const QString& name) const;
    // The declared parameter of that name; an undeclared name raises EProgrammingError.
    TParam& ParamByName(const QString& name);
    bool IsDate(const QString& name) const;
    QStringList Names() const;  // in order of declaration
    int Count() const { return int(m_order.size()); }

  private:
    std::vector<std::unique_ptr<TParam>> m_order;
    QHash<QString, TParam*> m_byName;  // upper-case name
    QHash<QString, bool> m_isDate;
};

// Whether the report about to run declares a parameter of that name.
bool ExistParam(const TReportParams& params, const QString& name);

// Where a report goes.
enum class ReportOutput {
    Preview,  // Qt's print-preview dialog
    Printer,  // the system's print dialog, then the printer
    Pdf,      // a PDF file
    Xlsx,     // a spreadsheet (.xlsx) with typed cells
    Csv,      // UTF-8 text, ';' between cells, decimal comma
};

// The suite's report engine (`rpddPadrao`): report definitions are files in a directory,
// found by report code ("DFE58301" -> DFE58301.json). A run loads the definition, declares its
// parameters, raises BeforeGetQueryParams, runs the definition's queries on the company
// database (parameters bound by name) and reads the data sets it names, then lays out the
// pages or writes the export.
//
// A handler of BeforeGetQueryParams that ends the user operation (Consiste::MensErro, an
// exception) abandons the run: the exception leaves Execute with nothing printed and no file
// written. So does setting doCancel.
class TReportDesignerDialog : public QObject {
    Q_OBJECT

  public:
    explicit TReportDesignerDialog(QObject* parent = nullptr);
    ~TReportDesignerDialog() override;

    // The directory of the definitions; the login context's report directory by default.
    QString ReportDir() const;
    void SetReportDir(const QString& dir);

    // The definition file of a code, and whether it is there.
    QString DefinitionPath(const QString& code) const;
    bool DefinitionExists(const QString& code) const;

    // Codes and titles of the definitions in the directory whose code starts with prefix,
    // in code order. An unreadable definition is left out of the list.
    struct Entry {
        QString code;
        QString title;
    };
    QList<Entry> Catalogue(const QString& prefix) const;

    // Data sets a definition may read by name ("dtsNotasDestinadas"). The data set stays the
    // caller's; a name registered twice takes the last.
    void AddDataSet(const QString& name, TClientDataSet* dataSet);

    // Raised once per run, after the parameters are declared and before any query opens.
    std::function<void(TReportParams& params, bool& doCancel)> BeforeGetQueryParams;

    // Runs the report of that code to the output. file is the target of Pdf, Xlsx and Csv;
    // parent parents the dialogs (preview, print, progress). Returns false when the user
    // cancelled (the print dialog, the progress dialog) or doCancel was set; a missing or
    // broken definition, a query the database refuses or a file that cannot be written raise
    // EHostError with a clear text.
    bool Execute(const QString& code, ReportOutput output, const QString& file = {},
                 QWidget* parent = nullptr);

    // The printer set-up dialog; the printer chosen is used by the next Printer run.
    void PrinterSetup(QWidget* parent = nullptr);

    // For tests and benchmarks: the rows a run would print (parameters event included),
    // without any output.
    std::unique_ptr<ReportResult> Fetch(const QString& code);

  private:
    std::unique_ptr<ReportResult> prepare(const ReportDefinition& def, bool& cancelled);

    QString m_dir;
    QHash<QString, QPointer<TClientDataSet>> m_dataSets;
    std::unique_ptr<QPrinter> m_printer;
};

}  // namespace host

#include "report/reportengine.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QSaveFile>
#include <QScreen>
#include <algorithm>
#include <numeric>

#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "core/orvanta.h"
#include "report/reportdefinition.h"
#include "report/reportexport.h"
#include "report/reportformat.h"
#include "report/reportrenderer.h"
#include "report/reportresult.h"

namespace host {

// --- parameters ----------------------------------------------------------------------------

void TReportParams::Declare(const QString& name, bool isDate) {
    const QString key = name.trimmed().toUpper();
    if (key.isEmpty() || m_byName.contains(key)) {
        return;
    }
    m_order.push_back(std::make_unique<TParam>(name.trimmed()));
    m_byName.insert(key, m_order.back().get());
    m_isDate.insert(key, isDate);
}

TParam* TReportParams::Find(const QString& name) {
    return m_byName.value(name.trimmed().toUpper(), nullptr);
}

const TParam* TReportParams::Find(const QString& name) const {
    return m_byName.value(name.trimmed().toUpper(), nullptr);
}

TParam& TReportParams::ParamByName(const QString& name) {
    if (TParam* p = Find(name)) {
        return *p;
    }
    throw EProgrammingError(
        QStringLiteral("O relatório não declara o parâmetro \"%1\" (declarados: %2).")
            .arg(name, Names().join(QStringLiteral(", "))));
}

bool TReportParams::IsDate(const QString& name) const {
    return m_isDate.value(name.trimmed().toUpper(), false);
}

QStringList TReportParams::Names() const {
    QStringList out;
    for (const auto& p : m_order) {
        out << p->Name();
    }
    return out;
}

bool ExistParam(const TReportParams& params, const QString& name) {
    return params.Find(name) != nullptr;
}

// --- the run -------------------------------------------------------------------------------

namespace {

// Parameters the engine binds itself when a statement names them.
const QString kToday = QStringLiteral("SYS_HOJE");  // today in Brasília

// The user cancelled the progress of a run.
struct Cancelled {};

// A date parameter as the statements compare it: the day only. A handler may have set a date,
// a date-time or a text dd/MM/yyyy or yyyy-MM-dd.
QDate dateOf(const TParam& p) {
    const QVariant v = p.Value();
    if (v.typeId() == QMetaType::QDate) {
        return v.toDate();
    }
    if (v.typeId() == QMetaType::QDateTime) {
        return v.toDateTime().date();
    }
    const QString s = v.toString().trimmed();
    QDate d = QDate::fromString(s, QStringLiteral("dd/MM/yyyy"));
    if (!d.isValid()) {
        d = reportformat::toDateTime(s).date();
    }
    return d;
}

QString criterionValue(const ReportCriterion& c, const TReportParams& params) {
    const TParam* p = params.Find(c.param);
    if (!p || !p->Assigned() || p->IsNull()) {
        return {};
    }
    const auto textOf = [&params](const TParam& param) {
        if (params.IsDate(param.Name())) {
            return dateOf(param).toString(QStringLiteral("dd/MM/yyyy"));
        }
        return param.AsString().trimmed();
    };
    QString value = textOf(*p);
    if (value.compare(QLatin1String("T"), Qt::CaseInsensitive) == 0) {
        return c.allText;
    }
    if (!c.toParam.isEmpty()) {
        const TParam* to = params.Find(c.toParam);
        if (to && to->Assigned() && !to->IsNull()) {
            value = QStringLiteral("%1 a %2").arg(value, textOf(*to));
        }
        return value;
    }
    if (!c.listSeparator.isEmpty()) {
        QStringList shown;
        for (const QString& code : value.split(c.listSeparator, Qt::SkipEmptyParts)) {
            shown << c.labels.value(code.trimmed(), code.trimmed());
        }
        return shown.join(QStringLiteral(", "));
    }
    return c.labels.value(value, value);
}

QString criteriaLine(const ReportDefinition& def, const TReportParams& params) {
    QStringList parts;
    for (const ReportCriterion& c : def.criteria) {
        const QString v = criterionValue(c, params);
        if (!v.isEmpty()) {
            parts << QStringLiteral("%1: %2").arg(c.label, v);
        }
    }
    return parts.join(QStringLiteral("; "));
}

// "01 - Name" of the company the report is about: the company parameter when it names one,
// else the logged-in company. The name is looked up when the company table is there.
QString companyLine(const TReportParams& params) {
    QString code = Orvanta::EmprProc();
    if (const TParam* p = params.Find(QStringLiteral("P_CDEMPRESA"));
        p && p->Assigned() && !p->AsString().trimmed().isEmpty() &&
        p->AsString().trimmed() != u"T") {
        code = p->AsString().trimmed();
    }
    if (!DatabaseModule::hasInstance()) {
        return code;
    }
    try {
        TADOIBQuery q;
        q.SQL << QStringLiteral("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = :CDEMPRESA");
        q.ParamByName(QStringLiteral("CDEMPRESA")).SetAsString(code);
        q.Open();
        if (!q.IsEmpty()) {
            return QStringLiteral("%1 - %2").arg(code, q.Fields(0).AsString().trimmed());
        }
    } catch (const EDatabaseError&) {
        // A database without the company table still prints the code.
    }
    return code;
}

// Copies the fields a section uses out of a data set's view, without moving its cursor.
void readRows(const TClientDataSet& ds, const ReportSection& sec, const QString& source,
              bool sortByGroups, ReportSectionData& out) {
    out.fields = sec.fieldsUsed();
    QList<int> index;
    QList<ColumnFormat> formats;
    for (const QString& f : out.fields) {
        const TField* field = ds.FindField(f);
        if (!field) {
            throw EHostError(
                QStringLiteral("O relatório usa o campo %1, que %2 não tem.").arg(f, source));
        }
        index << field->Index();
        ColumnFormat fmt = ColumnFormat::Text;
        for (const ReportColumn& c : sec.columns) {
            if (c.field == f) {
                fmt = c.format;
            }
        }
        formats << fmt;
    }
    const int rows = ds.Active() ? ds.RecordCount() : 0;
    std::vector<int> order(static_cast<size_t>(rows));
    std::iota(order.begin(), order.end(), 0);
    if (sortByGroups && !sec.groups.isEmpty()) {
        // A data set comes in its own view order; its groups must come together, in the
        // order of their keys, each keeping the view order of its rows.
        QList<int> keys;
        for (const ReportGroup& g : sec.groups) {
            keys << index[out.fields.indexOf(g.field)];
        }
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            for (int k : keys) {
                const int c =
                    QString::compare(ds.ValueAt(a, k).toString(), ds.ValueAt(b, k).toString());
                if (c != 0) {
                    return c < 0;
                }
            }
            return false;
        });
    }
    out.values.clear();
    out.values.reserve(size_t(rows) * size_t(out.fields.size()));
    for (int r : order) {
        for (int i = 0; i < index.size(); ++i) {
            out.values.push_back(reportformat::normalise(formats[i], ds.ValueAt(r, index[i])));
        }
    }
}

// The wait cursor while the queries run (after the parameters event, which may ask).
class WaitCursor {
  public:
    WaitCursor() : m_on(qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        if (m_on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
    }
    ~WaitCursor() {
        if (m_on) {
            QApplication::restoreOverrideCursor();
        }
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    bool m_on;
};

// The progress of a long run: a dialog that appears after 300 ms, counts, and can be
// cancelled; the window keeps painting between steps.
class RunProgress {
  public:
    RunProgress(QWidget* parent, const QString& title) {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            return;
        }
        m_dialog = new QProgressDialog(title, QStringLiteral("Cancelar"), 0, 0, parent);
        m_dialog->setWindowTitle(QStringLiteral("Relatório"));
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setMinimumDuration(300);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_timer.start();
    }
    ~RunProgress() { delete m_dialog; }
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;

    // false when the user cancelled.
    bool step(int done, int total, const QString& what) {
        if (!m_dialog) {
            return true;
        }
        if (m_dialog->maximum() != total) {
            m_dialog->setMaximum(total);
        }
        m_dialog->setLabelText(what.arg(done).arg(total));
        m_dialog->setValue(qMin(done, total));
        QCoreApplication::processEvents();
        return !m_dialog->wasCanceled();
    }

  private:
    QPointer<QProgressDialog> m_dialog;
    QElapsedTimer m_timer;
};

void setUpPage(QPagedPaintDevice& device, bool landscape) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4),
                                     landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                     QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
}

// Paints the report on a device (printer or PDF writer) with the progress dialog.
bool paintOn(const ReportResult& result, QPagedPaintDevice& device, QWidget* parent) {
    ReportRenderer renderer(result);
    RunProgress progress(parent, QStringLiteral("Gerando o relatório..."));
    const int pages = renderer.countPages(device);
    QPainter painter;
    if (!painter.begin(&device)) {
        throw EHostError(QStringLiteral("Não foi possível iniciar a impressão do relatório."));
    }
    const bool done = renderer.paint(painter, device, [&progress](int page, int total) {
        return progress.step(page, total, QStringLiteral("Página %1 de %2"));
    });
    painter.end();
    (void)pages;
    return done;
}

}  // namespace

TReportDesignerDialog::TReportDesignerDialog(QObject* parent) : QObject(parent) {}

TReportDesignerDialog::~TReportDesignerDialog() = default;

QString TReportDesignerDialog::ReportDir() const {
    return m_dir.isEmpty() ? Orvanta::ReportDir() : m_dir;
}

void TReportDesignerDialog::SetReportDir(const QString& dir) {
    m_dir = dir;
}

QString TReportDesignerDialog::DefinitionPath(const QString& code) const {
    return QDir(ReportDir()).filePath(code.trimmed().toUpper() + QStringLiteral(".json"));
}

bool TReportDesignerDialog::DefinitionExists(const QString& code) const {
    return !code.trimmed().isEmpty() && QFileInfo(DefinitionPath(code)).isFile();
}

QList<TReportDesignerDialog::Entry> TReportDesignerDialog::Catalogue(const QString& prefix) const {
    QList<Entry> out;
    const QDir dir(ReportDir());
    const QStringList files = dir.entryList({prefix.trimmed().toUpper() + QStringLiteral("*.json")},
                                            QDir::Files, QDir::Name);
    for (const QString& f : files) {
        try {
            const ReportDefinition def = ReportDefinition::load(dir.filePath(f));
            out.append({QFileInfo(f).completeBaseName().toUpper(), def.title});
        } catch (const EHostError&) {
            // An unreadable definition is not offered.
        }
    }
    return out;
}

void TReportDesignerDialog::AddDataSet(const QString& name, TClientDataSet* dataSet) {
    m_dataSets.insert(name.trimmed().toLower(), dataSet);
}

std::unique_ptr<ReportResult> TReportDesignerDialog::prepare(const ReportDefinition& def,
                                                             bool& cancelled) {
    cancelled = false;
    TReportParams params;
    for (const ReportParameter& p : def.parameters) {
        params.Declare(p.name, p.isDate);
    }
    if (BeforeGetQueryParams) {
        bool doCancel = false;
        BeforeGetQueryParams(params, doCancel);
        if (doCancel) {
            cancelled = true;
            return nullptr;
        }
    }
    for (const QString& name : params.Names()) {
        TParam& p = params.ParamByName(name);
        if (!p.Assigned()) {
            throw EHostError(QStringLiteral("O parâmetro %1 do relatório %2 não recebeu valor.")
                                 .arg(name, def.code));
        }
        if (params.IsDate(name) && !p.IsNull()) {
            const QDate d = dateOf(p);
            if (!d.isValid()) {
                throw EHostError(QStringLiteral("O parâmetro %1 do relatório %2 deve ser uma data "
                                                "(recebeu \"%3\").")
                                     .arg(name, def.code, p.AsString()));
            }
            p.SetAsDate(d);  // compared as text yyyy-MM-dd with the stored date-times
        }
    }

    const WaitCursor wait;
    auto result = std::make_unique<ReportResult>();
    result->definition = def;
    result->criteria = criteriaLine(def, params);
    result->company = companyLine(params);
    result->printedAt = reportformat::brasiliaNow();
    result->operatorName = Orvanta::Operador();

    for (const ReportSection& sec : def.sections) {
        ReportSectionData data;
        if (sec.isQuery()) {
            TADOIBQuery q;
            q.setObjectName(def.code);
            if (!sec.sql.trimmed().isEmpty()) {
                q.SQL = sec.sql.split(u'\n');
            }
            if (!sec.sqlSqlite.trimmed().isEmpty()) {
                q.SQL_SQLITE = sec.sqlSqlite.split(u'\n');
            }
            if (!sec.sqlPostgres.trimmed().isEmpty()) {
                q.SQL_PG = sec.sqlPostgres.split(u'\n');
            }
            for (const QString& name : q.ParamNames()) {
                if (name.compare(kToday, Qt::CaseInsensitive) == 0) {
                    q.ParamByName(name).SetAsDate(reportformat::brasiliaNow().date());
                } else if (const TParam* p = params.Find(name)) {
                    q.ParamByName(name).SetValue(p->Value());
                } else {
                    throw EHostError(QStringLiteral("A instrução do relatório %1 usa o parâmetro "
                                                    "%2, que a definição não declara.")
                                         .arg(def.code, name));
                }
            }
            q.Open();
            readRows(q, sec, QStringLiteral("a consulta do relatório %1").arg(def.code), false,
                     data);
        } else {
            const QPointer<TClientDataSet> ds = m_dataSets.value(sec.dataSet.toLower());
            if (!ds) {
                throw EHostError(QStringLiteral("O relatório %1 lê o conjunto de dados %2, que "
                                                "não foi registrado.")
                                     .arg(def.code, sec.dataSet));
            }
            readRows(*ds, sec, QStringLiteral("o conjunto de dados %1").arg(sec.dataSet), true,
                     data);
        }
        result->sections.push_back(std::move(data));
    }
    return result;
}

std::unique_ptr<ReportResult> TReportDesignerDialog::Fetch(const QString& code) {
    if (!DefinitionExists(code)) {
        throw EHostError(
            QStringLiteral("A definição do relatório %1 não está em %2.").arg(code, ReportDir()));
    }
    const ReportDefinition def = ReportDefinition::load(DefinitionPath(code));
    bool cancelled = false;
    auto result = prepare(def, cancelled);
    return cancelled ? nullptr : std::move(result);
}

bool TReportDesignerDialog::Execute(const QString& code, ReportOutput output, const QString& file,
                                    QWidget* parent) {
    const bool toFile =
        output == ReportOutput::Pdf || output == ReportOutput::Xlsx || output == ReportOutput::Csv;
    if (toFile && file.trimmed().isEmpty()) {
        throw EHostError(QStringLiteral("Informe o arquivo em que o relatório será salvo."));
    }
    const std::unique_ptr<ReportResult> result = Fetch(code);
    if (!result) {
        return false;
    }
    const ReportResult& r = *result;

    switch (output) {
        case ReportOutput::Pdf: {
            QSaveFile out(file);
            if (!out.open(QIODevice::WriteOnly)) {
                throw EHostError(QStringLiteral("Não foi possível gravar o arquivo \"%1\": %2")
                                     .arg(file, out.errorString()));
            }
            bool done = false;
            {
                QPdfWriter pdf(&out);
                pdf.setResolution(300);
                pdf.setTitle(r.definition.title);
                pdf.setCreator(QStringLiteral("Orvanta"));
                setUpPage(pdf, r.definition.landscape);
                done = paintOn(r, pdf, parent);
            }
            if (!done) {
                out.cancelWriting();
                return false;
            }
            if (!out.commit()) {
                throw EHostError(QStringLiteral("Não foi possível gravar o arquivo \"%1\": %2")
                                     .arg(file, out.errorString()));
            }
            return true;
        }
        case ReportOutput::Xlsx:
        case ReportOutput::Csv: {
            RunProgress progress(parent, QStringLiteral("Exportando o relatório..."));
            const auto step = [&progress](int done, int total) {
                return progress.step(done, total, QStringLiteral("Linha %1 de %2"));
            };
            return output == ReportOutput::Xlsx ? reportexport::writeXlsx(r, file, step)
                                                : reportexport::writeCsv(r, file, step);
        }
        case ReportOutput::Printer: {
            if (!m_printer) {
                m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
                setUpPage(*m_printer, r.definition.landscape);
            }
            // The paper stays as set up; the orientation is the report's.
            m_printer->setPageOrientation(r.definition.landscape ? QPageLayout::Landscape
                                                                 : QPageLayout::Portrait);
            m_printer->setDocName(r.definition.title);
            QPrintDialog dlg(m_printer.get(), parent);
            if (dlg.exec() != QDialog::Accepted) {
                return false;
            }
            return paintOn(r, *m_printer, parent);
        }
        case ReportOutput::Preview: {
            if (!m_printer) {
                m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
                setUpPage(*m_printer, r.definition.landscape);
            }
            m_printer->setPageOrientation(r.definition.landscape ? QPageLayout::Landscape
                                                                 : QPageLayout::Portrait);
            m_printer->setDocName(r.definition.title);
            QPrintPreviewDialog dlg(m_printer.get(), parent);
            dlg.setWindowTitle(r.definition.title);
            // A page is read on screen at a size close to the paper's: the preview takes most
            // of the screen rather than its small default.
            if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
                dlg.resize(screen->availableGeometry().size() * 0.85);
            }
            std::exception_ptr failure;
            bool done = true;
            connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg, [&](QPrinter* printer) {
                // Nothing may leave a slot into the event loop: the failure is raised after.
                try {
                    done = paintOn(r, *printer, &dlg) && done;
                } catch (...) {
                    failure = std::current_exception();
                }
            });
            dlg.exec();
            if (failure) {
                std::rethrow_exception(failure);
            }
            return done;
        }
    }
    return false;
}

void TReportDesignerDialog::PrinterSetup(QWidget* parent) {
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    }
    QPrintDialog dlg(m_printer.get(), parent);
    dlg.setWindowTitle(QStringLiteral("Configurar impressora"));
    dlg.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    dlg.exec();
}

}  // namespace host

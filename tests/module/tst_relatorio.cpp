// The report form: its lookups, the criteria turned into report parameters with every check in
// its order, the criteria groups each report uses, and the counts of the workspace's notes by
// synchronisation group; a report run end to end through the form into a PDF.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QProcess>
#include <QRadioButton>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QtTest>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "Cli_Dfe58300.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "report/reportengine.h"
#include "sql/databasemodule.h"
#include "support/scripteddialogs.h"
#include "ui/btnpesquisa.h"
#include "ui/dateeditplus.h"
#include "ui/focusevents.h"
#include "ui/maskedit.h"
#include "workspacefixture.h"

using namespace host;
using host::test::ScriptedDialogs;

namespace {

const QStringList kTodosParametros = {
    "P_CDEMPRESA",     "P_NRINSJURIEST",  "P_CDINSCESTA",   "P_CDFILIORIG", "P_CDSERIE",
    "P_IDORIGDESTNF",  "P_CDCLIENTE",     "P_CDFORNECED",   "P_CDFILIAL",   "P_DTINICIAL",
    "P_DTFINAL",       "P_IDENTRSAIDOP",  "P_IDENTRSAIDNF", "P_CDTIPOOPER", "P_IDSTATUSNFE",
    "P_IDSTATUSNFENF", "P_IDSTATUSMANIF", "P_NRACESSONFE"};

TReportParams declara(const QStringList& nomes) {
    TReportParams p;
    for (const QString& n : nomes) {
        p.Declare(n, n.startsWith(QLatin1String("P_DT")));
    }
    return p;
}

QString valor(const TReportParams& p, const char* nome) {
    const TParam* param = p.Find(QString::fromLatin1(nome));
    return param ? param->AsString() : QStringLiteral("<ausente>");
}

QString primeiro(const QString& sql) {
    QSqlQuery q(DatabaseModule::instance().database());
    if (!q.exec(sql) || !q.next()) {
        return {};
    }
    return q.value(0).toString();
}

}  // namespace

class TestRelatorio : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void emptyCriteriaMeanAnyValue();
    void issuerCodesFollowTheChosenKind();
    void checksStopInOrderWithTheFocusOnTheField();
    void reportsChooseTheirCriteriaGroups();
    void notesAreCountedBySynchronisationGroup();
    void lookupsFillClearAndCheck();
    void aReportRunsThroughTheFormIntoAPdf();
    void theSynchronisationSummaryPrintsOneGroupPerColour();

  private:
    // Runs the parameter step as the engine does; true when it ran to the end.
    bool parametros(TReportParams& p);
    void escolheRelatorio(const QString& sufixo);
    void sai(QWidget* de, QWidget* para);

    WorkspaceEnv m_env;
    TfrmManifestacao* m_ws = nullptr;
    TfrmRelatorio* f = nullptr;
};

void TestRelatorio::initTestCase() {
    const QString failed = m_env.start(QStringLiteral("01"), false);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    LoginContext ctx = Orvanta::context();
    ctx.reportDir = QStringLiteral(ORVANTA_SOURCE_DIR "/reports");
    Orvanta::setContext(ctx);

    m_ws = new TfrmManifestacao();
    m_ws->DoCreate();
    frmManifestacao = m_ws;
    frmFiltro = new TfrmFiltro();
    frmFiltro->DoCreate();

    frmRelatorio = new TfrmRelatorio();
    f = frmRelatorio;
    f->DoCreate();
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f));
    QVERIFY(f->cbbReportNames->count() >= 5);
}

void TestRelatorio::cleanupTestCase() {
    delete f;
    delete frmFiltro;
    delete m_ws;
}

// Every test starts from the plainest criteria: all empty, all boxes checked, "Todos", both
// dates given, the first report chosen.
void TestRelatorio::init() {
    f->cbbReportNames->setCurrentIndex(0);
    for (TMaskEdit* e :
         {f->medCdEmpresa, f->medInscrJurid, f->medIE, f->medCdFiliOrig, f->medCdSerie,
          f->medCdCliente, f->medCdFornecedor, f->medCdFilial, f->medChaveAcesso}) {
        e->Clear();
    }
    f->cboEmitente->setCurrentIndex(0);
    f->cboOperacao->setCurrentIndex(0);
    f->rbtTodosOper->click();
    for (QCheckBox* c : f->findChildren<QCheckBox*>()) {
        c->setChecked(true);
    }
    f->depInicial->SetDate(QDate(2026, 11, 1));
    f->depFinal->SetDate(QDate(2026, 11, 30));
}

bool TestRelatorio::parametros(TReportParams& p) {
    bool cancela = false;
    try {
        f->rpddPadraoBeforeGetQueryParams(p, cancela);
    } catch (const EStop&) {
        return false;
    }
    return !cancela;
}

void TestRelatorio::escolheRelatorio(const QString& sufixo) {
    const int i = int(f->FRepNames.indexOf(sufixo));
    QVERIFY2(i >= 0, qPrintable(sufixo));
    f->cbbReportNames->setCurrentIndex(i);
}

void TestRelatorio::sai(QWidget* de, QWidget* para) {
    de->setFocus();
    QCoreApplication::processEvents();
    para->setFocus();
    QCoreApplication::processEvents();
}

void TestRelatorio::emptyCriteriaMeanAnyValue() {
    ScriptedDialogs sd;
    TReportParams p = declara(kTodosParametros);
    QVERIFY(parametros(p));
    for (const char* n : {"P_CDEMPRESA", "P_NRINSJURIEST", "P_CDINSCESTA", "P_CDFILIORIG",
                          "P_CDSERIE", "P_IDORIGDESTNF", "P_CDCLIENTE", "P_CDFORNECED",
                          "P_CDFILIAL", "P_CDTIPOOPER", "P_NRACESSONFE"}) {
        QCOMPARE(valor(p, n), QStringLiteral("T"));
    }
    QCOMPARE(valor(p, "P_IDSTATUSNFE"), QStringLiteral("_0_1_2_3_"));
    QCOMPARE(valor(p, "P_IDSTATUSNFENF"), QStringLiteral("_P_A_D_C_"));
    QCOMPARE(valor(p, "P_IDSTATUSMANIF"), QStringLiteral("_0_1_2_3_4_"));
    QCOMPARE(valor(p, "P_IDENTRSAIDOP"), QStringLiteral("E"));
    QCOMPARE(valor(p, "P_IDENTRSAIDNF"), QStringLiteral("1"));
    QCOMPARE(p.ParamByName("P_DTINICIAL").Value().toDate(), QDate(2026, 11, 1));
    QCOMPARE(p.ParamByName("P_DTFINAL").Value().toDate(), QDate(2026, 11, 30));

    // Some boxes off, "Saída", a company typed with one digit: the company comes back padded,
    // the codes stay in their order and the letter codes follow the digits.
    f->chkSemSituacao->setChecked(false);
    f->chkDenegada->setChecked(false);
    f->chkSemManifestacao->setChecked(false);
    f->chkOperacaoNRealizada->setChecked(false);
    f->cboOperacao->setCurrentIndex(1);
    f->medCdEmpresa->SetText(QStringLiteral("1"));
    TReportParams q = declara(kTodosParametros);
    QVERIFY(parametros(q));
    QCOMPARE(valor(q, "P_CDEMPRESA"), QStringLiteral("01"));
    QCOMPARE(f->medCdEmpresa->Text(), QStringLiteral("01"));
    QCOMPARE(valor(q, "P_IDSTATUSNFE"), QStringLiteral("_1_3_"));
    QCOMPARE(valor(q, "P_IDSTATUSNFENF"), QStringLiteral("_A_C_"));
    QCOMPARE(valor(q, "P_IDSTATUSMANIF"), QStringLiteral("_1_2_4_"));
    QCOMPARE(valor(q, "P_IDENTRSAIDOP"), QStringLiteral("S"));
    QCOMPARE(valor(q, "P_IDENTRSAIDNF"), QStringLiteral("0"));

    // A report that does not declare the letter codes gets only what it declares.
    TReportParams r = declara({"P_DTINICIAL", "P_DTFINAL", "P_IDSTATUSNFE"});
    QVERIFY(parametros(r));
    QCOMPARE(r.Names().size(), 3);
    QCOMPARE(valor(r, "P_IDSTATUSNFENF"), QStringLiteral("<ausente>"));
    QVERIFY_DIALOGS(sd);
}

void TestRelatorio::issuerCodesFollowTheChosenKind() {
    ScriptedDialogs sd;
    const QString inscr = primeiro("SELECT NRINSJURCLIE FROM CLIENTE WHERE CDCLIENTE = 'C00012'");
    QVERIFY(!inscr.isEmpty());
    f->cboEmitente->setCurrentIndex(1);
    QCOMPARE(f->nbkEmitente->currentIndex(), 1);
    f->medCdCliente->SetText(inscr);
    TReportParams p = declara(kTodosParametros);
    QVERIFY(parametros(p));
    QCOMPARE(valor(p, "P_IDORIGDESTNF"), QStringLiteral("C"));
    for (const char* n : {"P_CDCLIENTE", "P_CDFORNECED", "P_CDFILIAL"}) {
        QCOMPARE(valor(p, n), QStringLiteral("C00012"));
    }

    // The client typed on its page stays there while another kind is chosen.
    f->cboEmitente->setCurrentIndex(0);
    QCOMPARE(f->medCdCliente->Text(), inscr);
    TReportParams t = declara(kTodosParametros);
    QVERIFY(parametros(t));
    QCOMPARE(valor(t, "P_CDCLIENTE"), QStringLiteral("T"));

    // A supplier: its own code; an issuer branch typed "2" is padded and its code used.
    const QString forn =
        primeiro("SELECT NRINSJURFORN FROM FORNECEDOR WHERE CDFORNECED = 'F00007'");
    f->cboEmitente->setCurrentIndex(2);
    f->medCdFornecedor->SetText(forn);
    TReportParams s = declara(kTodosParametros);
    QVERIFY(parametros(s));
    QCOMPARE(valor(s, "P_IDORIGDESTNF"), QStringLiteral("F"));
    QCOMPARE(valor(s, "P_CDFILIAL"), QStringLiteral("F00007"));
    f->cboEmitente->setCurrentIndex(3);
    f->medCdFilial->SetText(QStringLiteral("2"));
    TReportParams b = declara(kTodosParametros);
    QVERIFY(parametros(b));
    QCOMPARE(valor(b, "P_IDORIGDESTNF"), QStringLiteral("L"));
    QCOMPARE(valor(b, "P_CDCLIENTE"), QStringLiteral("0002"));
    QCOMPARE(f->medNmFilial->Text(), QStringLiteral("Filial Uberlândia"));
    QVERIFY_DIALOGS(sd);
}

void TestRelatorio::checksStopInOrderWithTheFocusOnTheField() {
    QVERIFY(QTest::qWaitForWindowActive(f));
    struct Caso {
        const char* nome;
        std::function<void()> prepara;
        const char* texto;
        QWidget* foco;
    };
    const QList<Caso> casos = {
        // An unknown branch on the hidden "Filial" page stops before the supplier is read (its
        // edit cannot take the focus while its page is hidden).
        {"filial escondida",
         [this] {
             f->medCdFilial->SetText(QStringLiteral("9999"));
             f->cboEmitente->setCurrentIndex(2);
             f->medCdFornecedor->SetText(QStringLiteral("00000000000000"));
         },
         "Filial não cadastrada.", nullptr},
        {"filial de origem", [this] { f->medCdFiliOrig->SetText(QStringLiteral("77")); },
         "Filial não cadastrada.", f->medCdFiliOrig},
        {"inscrição estadual", [this] { f->medIE->SetText(QStringLiteral("123")); },
         "Inscrição Estadual não cadastrada.", f->medIE},
        {"série", [this] { f->medCdSerie->SetText(QStringLiteral("XYZ")); },
         "Série não cadastrada.", f->medCdSerie},
        {"cliente",
         [this] {
             f->cboEmitente->setCurrentIndex(1);
             f->medCdCliente->SetText(QStringLiteral("99999999999"));
         },
         "Cliente não cadastrado.", f->medCdCliente},
        {"fornecedor",
         [this] {
             f->cboEmitente->setCurrentIndex(2);
             f->medCdFornecedor->SetText(QStringLiteral("99999999999"));
         },
         "Fornecedor não cadastrado.", f->medCdFornecedor},
        {"sem data inicial", [this] { f->depInicial->Clear(); }, "Data Inicial deve ser informada.",
         f->depInicial},
        {"sem data final", [this] { f->depFinal->Clear(); }, "Data final deve ser informada.",
         f->depFinal},
        {"datas cruzadas",
         [this] {
             f->depInicial->SetDate(QDate(2026, 11, 2));
             f->depFinal->SetDate(QDate(2026, 11, 1));
         },
         "Data Inicial deve ser menot ou igual à data final informada.", f->depFinal},
        {"lista vazia", [this] { f->rbtListaOper->click(); },
         "Tipo de Operação deve ser informado.", f->rbtListaOper},
        {"nenhuma situação da NF-e",
         [this] {
             for (QCheckBox* c :
                  {f->chkSemSituacao, f->chkAutorizada, f->chkDenegada, f->chkCancelada}) {
                 c->setChecked(false);
             }
         },
         "Situação da NF-e deve ser informada.", f->chkSemSituacao},
        {"nenhuma situação da manifestação",
         [this] {
             for (QCheckBox* c : f->grbSituacaoManifestacao->findChildren<QCheckBox*>()) {
                 c->setChecked(false);
             }
         },
         "Situação da Manifestação deve ser informada.", f->chkSemManifestacao},
        {"chave de 43", [this] { f->medChaveAcesso->SetText(QString(43, u'1')); },
         "Chave de acesso deve conter 44 caracteres.", f->medChaveAcesso},
    };
    for (const Caso& c : casos) {
        init();
        c.prepara();
        ScriptedDialogs sd;
        sd.expectError(QString::fromUtf8(c.texto));
        // A report that declares only the dates still runs every check.
        TReportParams p = declara({"P_DTINICIAL", "P_DTFINAL"});
        QVERIFY2(!parametros(p), c.nome);
        QVERIFY_DIALOGS(sd);
        if (c.foco) {
            QVERIFY2(f->focusWidget() == c.foco, c.nome);
        }
    }

    // Equal dates pass; a key of 44 characters with blanks around it passes as typed.
    init();
    f->depInicial->SetDate(QDate(2026, 11, 5));
    f->depFinal->SetDate(QDate(2026, 11, 5));
    ScriptedDialogs sd;
    TReportParams p = declara({"P_DTINICIAL", "P_DTFINAL", "P_NRACESSONFE"});
    f->medChaveAcesso->SetText(QString(44, u'7'));
    QVERIFY(parametros(p));
    QCOMPARE(valor(p, "P_NRACESSONFE"), QString(44, u'7'));
    QVERIFY_DIALOGS(sd);
}

void TestRelatorio::reportsChooseTheirCriteriaGroups() {
    ScriptedDialogs sd;
    const QList<QGroupBox*> grupos = {f->grbSituacaoNFe, f->grbEmissao, f->grbOperacao,
                                      f->grbSituacaoManifestacao};
    // DFE58303: the situations are off and still checked: with none checked the run stops.
    escolheRelatorio(QStringLiteral("03"));
    QVERIFY(!f->chkAutorizada->isEnabled());
    QVERIFY(!f->chkDesconhecida->isEnabled());
    QVERIFY(f->depInicial->isEnabled());
    QVERIFY(!f->btpOperacao->isEnabled());  // "Todos" is on
    for (QCheckBox* c : {f->chkSemSituacao, f->chkAutorizada, f->chkDenegada, f->chkCancelada}) {
        c->setChecked(false);
    }
    sd.expectError(QStringLiteral("Situação da NF-e deve ser informada."));
    TReportParams p = declara({"P_DTINICIAL", "P_DTFINAL"});
    QVERIFY(!parametros(p));

    // DFE58304: the filter's direction, issuer kind and dates come back over what was typed,
    // and all four groups are off.
    frmFiltro->cboOperacao->setCurrentIndex(1);
    frmFiltro->cboEmitente->setCurrentIndex(2);
    frmFiltro->depInicial->SetDate(QDate(2026, 10, 1));
    frmFiltro->depFinal->SetDate(QDate(2026, 10, 31));
    f->depInicial->SetDate(QDate(2025, 1, 1));
    escolheRelatorio(QStringLiteral("04"));
    QCOMPARE(f->depInicial->Date(), QDate(2026, 10, 1));
    QCOMPARE(f->depFinal->Date(), QDate(2026, 10, 31));
    QCOMPARE(f->cboOperacao->currentIndex(), 1);
    QCOMPARE(f->cboEmitente->currentIndex(), 2);
    QCOMPARE(f->nbkEmitente->currentIndex(), 2);
    QCOMPARE(stIdEntrSaidOp, QStringLiteral("S"));
    for (QGroupBox* g : grupos) {
        for (QWidget* w : g->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        }
    }

    // Another report: all on again, the copied dates stay; the list button only with "Lista".
    f->depInicial->SetDate(QDate(2026, 10, 2));
    escolheRelatorio(QStringLiteral("01"));
    QCOMPARE(f->depInicial->Date(), QDate(2026, 10, 2));
    QVERIFY(f->chkAutorizada->isEnabled() && f->depFinal->isEnabled() &&
            f->cboOperacao->isEnabled());
    QVERIFY(!f->btpOperacao->isEnabled());
    f->rbtListaOper->click();
    QVERIFY(f->btpOperacao->isEnabled());
    QVERIFY(stCdTipoOper.isEmpty());
    f->rbtTodosOper->click();
    QVERIFY(!f->btpOperacao->isEnabled());
    QCOMPARE(stCdTipoOper, QStringLiteral("T"));
    frmFiltro->cboOperacao->setCurrentIndex(0);
    frmFiltro->cboEmitente->setCurrentIndex(0);
    QVERIFY_DIALOGS(sd);
}

void TestRelatorio::notesAreCountedBySynchronisationGroup() {
    const auto nota = [](const char* id, const char* chave) {
        return QVariantMap{{"IDNOTA", id},       {"NRACESSONF", chave},
                           {"IDMARCADO", "1"},   {"NMRAZSOCEMIT", "Emitente"},
                           {"IDSTATUSNFE", "1"}, {"IDSTATUSMANIF", "0"}};
    };
    m_ws->CarregaNotas(notesPacket(
        *m_ws->cdsNotasDestinadas,
        {nota("1", "A"), nota("3", "B"), nota("3", "C"), nota("6", "D"), nota("9", "E")}));
    // What a showing does, twice over: the copy and the counts are made afresh each time.
    for (int vez = 0; vez < 2; ++vez) {
        QMetaObject::invokeMethod(f, [this] {
            QEvent ativa(QEvent::WindowActivate);
            QCoreApplication::sendEvent(f, &ativa);
        });
        QCoreApplication::processEvents();
    }
    QCOMPARE(f->cdsNotasDestinadas->RecordCount(), 5);
    QCOMPARE(f->cdsNotasDestinadas->FieldCount(), 29);
    QVERIFY(!f->cdsNotasDestinadas->FindField(QStringLiteral("NRINSJURIESTDEST")));
    QCOMPARE(f->cdsNotasDestinadas->FieldByName("IDMARCADO").AsString(), QStringLiteral("1"));
    QMap<QString, QString> contagem;
    TClientDataSet* c = f->cdsContaNotas;
    for (c->First(); !c->Eof(); c->Next()) {
        contagem.insert(c->FieldByName("IDNOTA").AsString(),
                        c->FieldByName("Quantidade").AsString());
    }
    QCOMPARE(c->RecordCount(), 4);
    QCOMPARE(contagem.value("1"), QStringLiteral("1"));
    QCOMPARE(contagem.value("2"), QStringLiteral("2"));
    QCOMPARE(contagem.value("4"), QStringLiteral("0"));
    QCOMPARE(contagem.value("5"), QStringLiteral("1"));
    // The copy for counting stays filtered on the last group.
    QCOMPARE(f->cdsAux->RecordCount(), 1);

    // An empty list: the copies follow it, the counts keep what they held.
    m_ws->CarregaNotas(notesPacket(*m_ws->cdsNotasDestinadas, {}));
    QEvent ativa(QEvent::WindowActivate);
    QCoreApplication::sendEvent(f, &ativa);
    QCOMPARE(f->cdsNotasDestinadas->RecordCount(), 0);
    QCOMPARE(c->RecordCount(), 4);
}

void TestRelatorio::lookupsFillClearAndCheck() {
    QVERIFY(QTest::qWaitForWindowActive(f));
    ScriptedDialogs sd;
    // The company typed with one digit is padded, named, and empties what belongs to it.
    f->medInscrJurid->SetText(QStringLiteral("48210375000102"));
    f->medIE->SetText(QStringLiteral("1"));
    f->medCdFiliOrig->SetText(QStringLiteral("0001"));
    f->medCdSerie->SetText(QStringLiteral("1"));
    f->medCdEmpresa->setFocus();
    QCoreApplication::processEvents();
    f->medCdEmpresa->SetText(QStringLiteral("2"));
    sai(f->medCdEmpresa, f->medCdSerie);
    QCOMPARE(f->medCdEmpresa->Text(), QStringLiteral("02"));
    QCOMPARE(f->medNmEmpresa->Text(), QStringLiteral("Metalúrgica Vale do Paraíba S/A"));
    for (TMaskEdit* e : {f->medInscrJurid, f->medIE, f->medCdFiliOrig, f->medCdSerie}) {
        QVERIFY2(e->Text().isEmpty(), qPrintable(e->objectName()));
    }

    // An unknown company keeps the caret in its edit.
    sd.expectError(QStringLiteral("Empresa não cadastrada."));
    f->medCdEmpresa->setFocus();
    QCoreApplication::processEvents();
    f->medCdEmpresa->SetText(QStringLiteral("77"));
    f->medCdSerie->setFocus();
    QCoreApplication::processEvents();
    QVERIFY_DIALOGS(sd);
    QCOMPARE(f->focusWidget(), f->medCdEmpresa);

    // The legal registration: bare while typed, masked after a known one is left; typing in it
    // empties the state registration, origin branch and series.
    f->medCdEmpresa->SetText(QStringLiteral("01"));
    f->medInscrJurid->setFocus();
    QCoreApplication::processEvents();
    f->medIE->SetText(QStringLiteral("9"));
    f->medInscrJurid->SetText(QStringLiteral("48210375000102"));
    QVERIFY(f->medIE->Text().isEmpty());
    QVERIFY(f->medInscrJurid->EditMaskText().isEmpty());
    f->medIE->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(f->medInscrJurid->EditText(), QStringLiteral("48.210.375/0001-02"));
    QCOMPARE(f->medInscrJurid->Text(), QStringLiteral("48210375000102"));

    // The state registrations listed are those of the company and registration chosen.
    bool permite = true;
    f->btpIEBeforePesq(f->btpIE, permite);
    const int daInscricao = f->qryPesqInscrEstad->RecordCount();
    f->medCdEmpresa->SetText(QString());
    f->btpIEBeforePesq(f->btpIE, permite);
    QCOMPARE(QString::number(daInscricao),
             primeiro("SELECT COUNT(*) FROM INSCRESTAD WHERE CDEMPRESA = '01' AND "
                      "NRINSJURIEST = '48210375000102'"));
    QVERIFY(f->qryPesqInscrEstad->RecordCount() > daInscricao);

    // An unknown branch on leaving it, for the origin branch as for the issuer branch.
    sd.expectError(QStringLiteral("Filial não cadastrada."));
    f->medCdFiliOrig->setFocus();
    QCoreApplication::processEvents();
    f->medCdFiliOrig->SetText(QStringLiteral("88"));
    f->medCdSerie->setFocus();
    QCoreApplication::processEvents();
    QVERIFY_DIALOGS(sd);
    QCOMPARE(f->medCdFiliOrig->Text(), QStringLiteral("0088"));
    QCOMPARE(f->focusWidget(), f->medCdFiliOrig);
    f->medCdFiliOrig->Clear();
    QVERIFY_DIALOGS(sd);
}

void TestRelatorio::aReportRunsThroughTheFormIntoAPdf() {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("relatorio.pdf"));
    escolheRelatorio(QStringLiteral("01"));
    QCOMPARE(f->CodigoRelatorio(), QStringLiteral("DFE58301"));

    // An unknown series stops the run before anything is written.
    {
        ScriptedDialogs sd;
        f->medCdSerie->SetText(QStringLiteral("QQ"));
        sd.expectError(QStringLiteral("Série não cadastrada."));
        try {
            f->Executa(ReportOutput::Pdf, pdf);
        } catch (const EStop&) {
        }
        QVERIFY_DIALOGS(sd);
        QVERIFY(!QFile::exists(pdf));
    }
    f->medCdSerie->Clear();
    f->depInicial->SetDate(QDate(2000, 1, 1));
    f->depFinal->SetDate(QDate::currentDate());
    ScriptedDialogs sd;
    f->Executa(ReportOutput::Pdf, pdf);
    QVERIFY_DIALOGS(sd);
    QVERIFY(QFile::exists(pdf));
    QProcess texto;
    texto.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(texto.waitForFinished(30000));
    const QString saida = QString::fromUtf8(texto.readAllStandardOutput());
    QVERIFY2(saida.contains(QStringLiteral("Notas Destinadas")), qPrintable(saida.left(400)));
    QVERIFY(saida.contains(QStringLiteral("01/01/2000")));
}

void TestRelatorio::theSynchronisationSummaryPrintsOneGroupPerColour() {
    const auto nota = [](const char* id, const char* chave, double valor) {
        return QVariantMap{{"IDNOTA", id},       {"NRACESSONF", chave},
                           {"IDMARCADO", "0"},   {"NMRAZSOCEMIT", "Emitente"},
                           {"IDSTATUSNFE", "1"}, {"IDSTATUSMANIF", "0"},
                           {"VRNOTAFISC", valor}};
    };
    m_ws->CarregaNotas(notesPacket(*m_ws->cdsNotasDestinadas,
                                   {nota("2", "A", 10), nota("3", "B", 20), nota("3", "C", 30),
                                    nota("6", "D", 1), nota("7", "E", 2)}));
    QEvent ativa(QEvent::WindowActivate);
    QCoreApplication::sendEvent(f, &ativa);
    escolheRelatorio(QStringLiteral("04"));
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("resumo.pdf"));
    ScriptedDialogs sd;
    f->Executa(ReportOutput::Pdf, pdf);
    QVERIFY_DIALOGS(sd);
    QProcess texto;
    texto.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(texto.waitForFinished(30000));
    const QString saida = QString::fromUtf8(texto.readAllStandardOutput());
    // Codes 2 and 3 are one colour, 5 to 7 another: one heading and one subtotal each.
    QCOMPARE(saida.count(QStringLiteral("Grupo: Notas Sincronizadas Sefaz/Sistema")), 1);
    QVERIFY2(saida.contains(QRegularExpression(
                 QStringLiteral("Total de Notas Sincronizadas Sefaz/Sistema \\(Verde\\) \\(3 "
                                "registros\\)\\s+60,00"))),
             qPrintable(saida));
    QCOMPARE(saida.count(QStringLiteral("Grupo: Notas inexistentes na Sefaz")), 1);
    QVERIFY(saida.contains(QRegularExpression(QStringLiteral(
        "Total de Notas inexistentes na Sefaz \\(Cinza\\) \\(2 registros\\)\\s+3,00"))));
}

QTEST_MAIN(TestRelatorio)
#include "tst_relatorio.moc"

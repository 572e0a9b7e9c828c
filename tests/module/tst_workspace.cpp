// The workspace's entry, company panel, toolbar and closing, through its real widgets, with the
// application server on loopback and a fresh company database.

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QtTest>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "core/messages.h"
#include "net/netconnection.h"
#include "support/scripteddialogs.h"
#include "ui/btnpesquisa.h"
#include "ui/maskedit.h"
#include "workspacefixture.h"

using namespace host;
using host::test::ScriptedDialogs;

extern "C" void IniProc();

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QTest::qWait(10);
    }
    return done();
}

void closeWorkspace() {
    if (frmManifestacao) {
        frmManifestacao->CloseForm();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

}  // namespace

class TestWorkspace : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanup();

    void entryCreatesOnceShowsCompanyAndConnects();
    void toolbarMenuAndMessages();
    void unknownLoggedCompanyThenEmptyCodeKeepsFocus();
    void unknownCodeKeepsFocusAndNameEmpty();
    void shortCodeIsPaddedAndCancelledFilterKeepsFocus();
    void changingTheCodeClearsNameListAndSavedRegistrations();
    void filterCommandNeedsACompany();
    void stateRulesOfPanelAndGrid();
    void secondEntryKeepsTheCaretInTheCompanyPanel();
    void closingDisconnectsAndLaterEntryCreatesAgain();

  private:
    TfrmManifestacao* openAndActivate();
    WorkspaceEnv m_env;
};

void TestWorkspace::initTestCase() {
    const QString failed = m_env.start();
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
}

void TestWorkspace::cleanup() {
    closeWorkspace();
    WorkspaceEnv::setEmpresa(QStringLiteral("01"));
    inMarcados = 0;
}

TfrmManifestacao* TestWorkspace::openAndActivate() {
    IniProc();
    TfrmManifestacao* f = frmManifestacao;
    if (!f) {
        return nullptr;
    }
    f->activateWindow();
    if (!QTest::qWaitForWindowActive(f)) {
        return nullptr;
    }
    f->medCdEmpresa->setFocus();
    QCoreApplication::processEvents();
    return f;
}

void TestWorkspace::entryCreatesOnceShowsCompanyAndConnects() {
    QVERIFY(!boIdCriado);
    IniProc();
    QVERIFY(boIdCriado);
    QPointer<TfrmManifestacao> first = frmManifestacao;
    QVERIFY(first);
    QCOMPARE(first->medCdEmpresa->Text(), QStringLiteral("01"));
    QCOMPARE(first->medNmEmpresa->text(), QStringLiteral("Comercial Ipiranga de Alimentos Ltda"));
    QVERIFY(!first->medNmEmpresa->isEnabled());
    QVERIFY(first->netManifestacao->Connected());
    QVERIFY(waitFor([&] { return m_env.server->openConnections() == 1; }));
    QVERIFY(first->cdsMarcados->Active());
    QCOMPARE(first->cdsMarcados->RecordCount(), 0);
    QVERIFY(!first->AvisoManifestacao());
    QVERIFY(first->stManifestacao.isEmpty());

    // A second entry shows the same workspace and resets nothing.
    first->stManifestacao = QStringLiteral("4");
    first->medNmEmpresa->setText(QStringLiteral("kept"));
    IniProc();
    QCOMPARE(frmManifestacao, first.data());
    QCOMPARE(first->stManifestacao, QStringLiteral("4"));
    QCOMPARE(first->medNmEmpresa->text(), QStringLiteral("kept"));
    QCOMPARE(m_env.server->openConnections(), 1);
}

void TestWorkspace::toolbarMenuAndMessages() {
    IniProc();
    TfrmManifestacao* f = frmManifestacao;
    QVERIFY(f);
    const struct {
        const char* name;
        int left;
        bool enabled;
    } buttons[] = {
        {"sbtFiltro", 181, true},
        {"sbtCiencia", 217, false},
        {"sbtConfirmaOperacao", 238, false},
        {"sbtDesconhecimento", 259, false},
        {"sbtOperacaoNRealizada", 280, false},
        {"sbtVisualizarDocumento", 316, false},
        {"sbtGeraXML", 352, false},
        {"sbtDownloadXML", 388, false},
        {"sbtImprimir", 424, false},
        {"sbtFechar", 460, true},
        {"sbtSincronizarNFE", 532, true},
    };
    for (const auto& b : buttons) {
        auto* w = f->findChild<QAbstractButton*>(QString::fromLatin1(b.name));
        QVERIFY2(w, b.name);
        QCOMPARE(w->parentWidget(), f->panMenu);
        QCOMPARE(w->x(), b.left);
        QVERIFY2(w->isEnabled() == b.enabled, b.name);
        QVERIFY2(w->isVisible(), b.name);
    }
    QVERIFY(!f->sbtAjuda->isVisible());
    QCOMPARE(f->sbtSincronizarNFE->width(), 115);
    QCOMPARE(f->sbtSincronizarNFE->text(), QStringLiteral("Sincronizar NF-e"));
    QCOMPARE(f->sbtVisualizarDocumento->toolTip(), QStringLiteral("Visualizar Documento"));
    QVERIFY(!f->mnuListagem->isEnabled());

    QAction* item = f->findChild<QAction*>(QStringLiteral("mnuFIltro"));
    QVERIFY(item);
    QVERIFY(f->mnuManutencao->actions().contains(item));
    QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    QCOMPARE(item->text(), QStringLiteral("Filtro"));

    // Texts other screens of the module look up.
    QCOMPARE(f->msgPadrao->Msg("EMPR_NCAD"), QStringLiteral("Empresa não cadastrada."));
    QCOMPARE(f->msgPadrao->Msg("-"), QStringLiteral(" - "));
    QCOMPARE(f->msgPadrao->Msg("MA_5"), QStringLiteral("Rejeitada"));
    QVERIFY(f->msgPadrao->Msg("LIMITE_CONSULTA").endsWith("versão 1.12 da NT 2014.002."));
    QCOMPARE(f->msgPadrao->Msg("GeraXml"), QStringLiteral("Gerando XML"));
    QCOMPARE(f->msgPadrao->Lines().size(), 38);

    // The company panel sits between the toolbar and the page.
    QVERIFY(f->panEmpresa->y() >= f->panMenu->geometry().bottom());
    QVERIFY(f->pgcPadrao->y() >= f->panEmpresa->geometry().bottom());
    QCOMPARE(f->medCdEmpresa->EditMaskText(), QStringLiteral("99;0; "));
    QCOMPARE(f->medNmEmpresa->width(), 495);
    QCOMPARE(f->lblCodTela->text(), QStringLiteral("DFE58000"));
}

void TestWorkspace::unknownLoggedCompanyThenEmptyCodeKeepsFocus() {
    WorkspaceEnv::setEmpresa(QStringLiteral("77"));
    TfrmManifestacao* f = openAndActivate();
    QVERIFY(f);
    QVERIFY(f->medCdEmpresa->Text().isEmpty());
    QVERIFY(f->medNmEmpresa->text().isEmpty());

    ScriptedDialogs dlg;
    dlg.expectError(QStringLiteral("Empresa deve ser informada."));
    f->dbgPadrao->setFocus();
    QCoreApplication::processEvents();
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(f->focusWidget(), f->medCdEmpresa);
}

void TestWorkspace::unknownCodeKeepsFocusAndNameEmpty() {
    TfrmManifestacao* f = openAndActivate();
    QVERIFY(f);
    ScriptedDialogs dlg;
    // The control's own exit reports it; the panel's exit never runs.
    dlg.expectError(QStringLiteral("Empresa não cadastrada."));
    f->medCdEmpresa->SetText(QStringLiteral("9"));
    f->dbgPadrao->setFocus();
    QCoreApplication::processEvents();
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(f->focusWidget(), f->medCdEmpresa);
    QCOMPARE(f->medCdEmpresa->Text(), QStringLiteral("09"));
    QVERIFY(f->medNmEmpresa->text().isEmpty());
}

void TestWorkspace::shortCodeIsPaddedAndCancelledFilterKeepsFocus() {
    TfrmManifestacao* f = openAndActivate();
    QVERIFY(f);
    ScriptedDialogs dlg;
    f->medCdEmpresa->SetText(QStringLiteral("2"));
    QVERIFY(f->medNmEmpresa->text().isEmpty());
    {
        CancelFilterWhenShown cancel;
        f->dbgPadrao->setFocus();
        QCoreApplication::processEvents();
        QVERIFY(cancel.done());
    }
    QVERIFY_DIALOGS(dlg);
    QVERIFY(frmFiltro);
    QVERIFY(!frmFiltro->isVisible());
    QCOMPARE(f->medCdEmpresa->Text(), QStringLiteral("02"));
    QCOMPARE(f->medNmEmpresa->text(), QStringLiteral("Metalúrgica Vale do Paraíba S/A"));
    QCOMPARE(f->focusWidget(), f->medCdEmpresa);
}

void TestWorkspace::changingTheCodeClearsNameListAndSavedRegistrations() {
    TfrmManifestacao* f = openAndActivate();
    QVERIFY(f);
    QVERIFY(!f->medNmEmpresa->text().isEmpty());
    f->CarregaNotas(notesPacket(*f->cdsNotasDestinadas,
                                {{{"IDMARCADO", "N"}, {"NMRAZSOCEMIT", "A"}, {"IDNOTA", "1"}},
                                 {{"IDMARCADO", "N"}, {"NMRAZSOCEMIT", "B"}, {"IDNOTA", "2"}}}));
    QCOMPARE(f->cdsNotasDestinadas->RecordCount(), 2);
    if (!frmFiltro) {
        CancelFilterWhenShown cancel;
        CriaFiltro();
    }
    QVERIFY(frmFiltro);
    frmFiltro->Filtro.stInscrJurid = QStringLiteral("48210375000100");
    frmFiltro->Filtro.stCdInscEsta = QStringLiteral("110042490114");
    frmFiltro->Filtro.stCdSerie = QStringLiteral("1");

    QTest::keyClick(f->medCdEmpresa, Qt::Key_Backspace);
    QVERIFY(f->medNmEmpresa->text().isEmpty());
    QVERIFY(f->cdsNotasDestinadas->Active());
    QCOMPARE(f->cdsNotasDestinadas->RecordCount(), 0);
    QVERIFY(frmFiltro->Filtro.stInscrJurid.isEmpty());
    QVERIFY(frmFiltro->Filtro.stCdInscEsta.isEmpty());
    QCOMPARE(frmFiltro->Filtro.stCdSerie, QStringLiteral("1"));

    // A list being edited is left alone.
    f->CarregaNotas(notesPacket(*f->cdsNotasDestinadas, {{{"IDMARCADO", "N"}}}));
    f->cdsNotasDestinadas->Edit();
    f->medCdEmpresa->SetText(QStringLiteral("03"));
    QCOMPARE(f->cdsNotasDestinadas->RecordCount(), 1);
    f->cdsNotasDestinadas->Cancel();
}

void TestWorkspace::filterCommandNeedsACompany() {
    TfrmManifestacao* f = openAndActivate();
    QVERIFY(f);
    f->medCdEmpresa->Clear();
    ScriptedDialogs dlg;
    dlg.expectError(QStringLiteral("Empresa deve ser informada."));
    f->sbtFiltro->click();
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(f->focusWidget(), f->medCdEmpresa);

    // The menu item runs the same check.
    dlg.expectError(QStringLiteral("Empresa deve ser informada."));
    f->mnuFIltro->trigger();
    QVERIFY_DIALOGS(dlg);

    // With a code the dialog opens; the code is padded first.
    f->medCdEmpresa->SetText(QStringLiteral("3"));
    {
        CancelFilterWhenShown cancel;
        f->sbtFiltro->click();
        QVERIFY(cancel.done());
    }
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(f->medCdEmpresa->Text(), QStringLiteral("03"));
}

void TestWorkspace::stateRulesOfPanelAndGrid() {
    TfrmManifestacao* f = openAndActivate();
    QVERIFY(f);
    f->CarregaNotas(notesPacket(*f->cdsNotasDestinadas, {{{"IDMARCADO", "N"}}}));
    f->panEmpresaEnter();
    QVERIFY(!f->cdsNotasDestinadas->Active());
    // Closing the list on the way in does not bring searching and verifying back.
    for (TButtonFlat* b : {f->sbtIncluir, f->sbtExcluir, f->sbtCancelar, f->sbtImprimir,
                           f->sbtProcurar, f->sbtVerificar}) {
        QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
    }
    QVERIFY(!f->mnuListagem->isEnabled());
    QVERIFY(!f->mnuProcurar->isEnabled() && !f->mnuVerificar->isEnabled());
    QVERIFY(f->sbtFiltro->isEnabled() && f->mnuFIltro->isEnabled());

    // Entering the grid: print follows the rows.
    f->dbgPadraoEnter();
    QVERIFY(!f->sbtImprimir->isEnabled());
    QVERIFY(f->sbtProcurar->isEnabled() && f->sbtVerificar->isEnabled());
    f->CarregaNotas(notesPacket(*f->cdsNotasDestinadas, {{{"IDMARCADO", "N"}}}));
    f->dbgPadraoEnter();
    QVERIFY(f->sbtImprimir->isEnabled());
    QVERIFY(f->mnuListagem->isEnabled());
    QVERIFY(!f->sbtIncluir->isEnabled() && !f->sbtExcluir->isEnabled());

    // Editing the list never enables insert, delete or cancel.
    f->cdsNotasDestinadas->Edit();
    QVERIFY(!f->sbtCancelar->isEnabled());
    QVERIFY(!f->sbtIncluir->isEnabled());
    f->cdsNotasDestinadas->Cancel();
}

void TestWorkspace::secondEntryKeepsTheCaretInTheCompanyPanel() {
    TfrmManifestacao* f = openAndActivate();
    QVERIFY(f);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->medCdEmpresa));

    // The suite's menu opens the module again: nothing is left, checked or asked.
    ScriptedDialogs dlg;
    CancelFilterWhenShown cancel;
    IniProc();
    QTest::qWait(100);
    QVERIFY(!cancel.done());
    QCOMPARE(frmManifestacao, f);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->medCdEmpresa));
    QVERIFY(!f->sbtVerificar->isEnabled());
    QVERIFY_DIALOGS(dlg);
}

void TestWorkspace::closingDisconnectsAndLaterEntryCreatesAgain() {
    IniProc();
    QPointer<TfrmManifestacao> f = frmManifestacao;
    QVERIFY(f && f->netManifestacao->Connected());
    QVERIFY(waitFor([&] { return m_env.server->openConnections() == 1; }));
    QPointer<TNetConnection> net = f->netManifestacao;
    f->sbtFechar->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!boIdCriado);
    QVERIFY(!frmManifestacao);
    QVERIFY(!f);
    QVERIFY(waitFor([&] { return m_env.server->openConnections() == 0; }));

    IniProc();
    QVERIFY(boIdCriado);
    QVERIFY(frmManifestacao);
    QCOMPARE(frmManifestacao->medCdEmpresa->Text(), QStringLiteral("01"));
}

QTEST_MAIN(TestWorkspace)
#include "tst_workspace.moc"

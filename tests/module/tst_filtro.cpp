// The note filter dialog as the clerk meets it: its first opening, what each later opening
// restores, the operation types, and the company's legal registrations loaded from the
// application server (the real one on loopback, or a scripted one for its refusals).

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "core/orvanta.h"
#include "net/netconnection.h"
#include "sql/adoibquery.h"
#include "sql/databasemodule.h"
#include "store.h"
#include "support/loopbackserver.h"
#include "support/scripteddialogs.h"
#include "ui/btnpesquisa.h"
#include "ui/dateeditplus.h"
#include "ui/handler.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"
#include "workspacefixture.h"

using host::test::ScriptedDialogs;

namespace {

// Branch 0001 works on a processing date of its own, unlike the login's general date, so
// the defaults show which branch's date they came from.
const QDate kDataGeral(2026, 3, 17);
const QDate kDataFilial(2026, 2, 20);

struct Registro {
    QString numero;
    QString tipo;
    bool operator==(const Registro&) const = default;
};

QList<Registro> registrosDoBanco(const QString& empresa) {
    QSqlQuery q(host::DatabaseModule::instance().database());
    q.prepare(
        QStringLiteral("SELECT DISTINCT NRINSJURIEST, IDTPIJURIEST FROM INSCRESTAD "
                       "WHERE CDEMPRESA = ? ORDER BY NRINSJURIEST"));
    q.addBindValue(empresa);
    if (!q.exec()) {
        return {};
    }
    QList<Registro> out;
    while (q.next()) {
        out.append({q.value(0).toString(), q.value(1).toString()});
    }
    return out;
}

QList<Registro> registrosCarregados(host::TClientDataSet& cds) {
    QList<Registro> out;
    if (!cds.Active()) {
        return out;
    }
    for (cds.First(); !cds.Eof(); cds.Next()) {
        out.append({cds.FieldByName(QStringLiteral("NRINSJURIEST")).AsString(),
                    cds.FieldByName(QStringLiteral("IDTPIJURIEST")).AsString()});
    }
    return out;
}

}  // namespace

class TestFiltro : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();

    void firstOpeningShowsTheDefaults();
    void loadsTheRegistrationsOfTheSelectedCompany();
    void eachCheckBoxFollowsItsOwnFlag();
    void cancelRestoresTheLastConfirmedCriteria();
    void aChangedRegistrationEmptiesItsDependentFields();
    void restoredListEnablesTheOperationTypeButton();
    void operationTypeListFollowsTheDirection();
    void plainTextFromTheServerIsShownAndLoadsNothing();

  private:
    // Opens the dialog through CriaFiltro and, once it stands idle (the registrations
    // loaded, the wait window gone), runs inspect on it and presses Cancel. Returns what
    // CriaFiltro returned.
    bool openAndCancel(const std::function<void(TfrmFiltro&)>& inspect);
    QString registroDaEmpresa(const QString& empresa, int i = 0) const;

    ManifestacaoEnv m_env;
    bool m_inspected = false;
};

void TestFiltro::initTestCase() {
    ManifestacaoEnv::Opcoes o;
    o.cadastros = 40;
    o.guarda = false;
    o.dataProc = kDataGeral;
    o.dataProcFilial.insert(QStringLiteral("0001"), kDataFilial);
    // The workspace supplies the company and the server connection; it is built but not
    // shown, so that leaving its company panel does not open the filter on its own. The filter
    // is built by CriaFiltro.
    o.filtro = false;
    const QString erro = m_env.start(o);
    QVERIFY2(erro.isEmpty(), qPrintable(erro));
    QVERIFY(frmManifestacao->netManifestacao);
    QVERIFY(frmManifestacao->medCdEmpresa);
}

void TestFiltro::cleanupTestCase() {
    m_env.stop();
}

bool TestFiltro::openAndCancel(const std::function<void(TfrmFiltro&)>& inspect) {
    m_inspected = false;
    QTimer poll;
    poll.setInterval(10);
    QElapsedTimer clock;
    clock.start();
    connect(&poll, &QTimer::timeout, this, [&] {
        const bool idle = frmFiltro && frmFiltro->isVisible() && host::Showavi::Level() == 0 &&
                          QApplication::activeModalWidget() == frmFiltro;
        if (!idle && clock.elapsed() < 15000) {
            return;
        }
        poll.stop();
        if (idle) {
            m_inspected = true;
            inspect(*frmFiltro);
            frmFiltro->sbtCancel->click();
        } else if (frmFiltro) {
            frmFiltro->hide();  // never left standing: the test goes on and reports
        }
    });
    poll.start();
    const bool confirmed = CriaFiltro();
    poll.stop();
    return confirmed;
}

QString TestFiltro::registroDaEmpresa(const QString& empresa, int i) const {
    const QList<Registro> r = registrosDoBanco(empresa);
    return i < r.size() ? r.at(i).numero : QString();
}

void TestFiltro::firstOpeningShowsTheDefaults() {
    ScriptedDialogs dlg;
    QVERIFY(!frmFiltro);
    const bool confirmed = openAndCancel([](TfrmFiltro& f) {
        QCOMPARE(f.windowTitle(), QStringLiteral("Filtro Manifestação Destinatário"));
        QCOMPARE(f.lblCodTela->text(), QStringLiteral("DFE58100"));
        QVERIFY(!f.btfSaveOpc->isVisible() && !f.btfLoadOpc->isVisible());

        QCOMPARE(f.cboEmitente->currentText(), QStringLiteral("Todos"));
        QCOMPARE(f.nbkEmitente->currentIndex(), 0);
        QCOMPARE(f.cboOperacao->currentText(), QStringLiteral("Entrada"));
        QVERIFY(f.rbtTodosOper->isChecked());
        QVERIFY(!f.btpOperacao->isEnabled());
        // The choice of types is whatever the record holds; "Todos" needs none.
        QCOMPARE(f.stFiltroCdTipoOper, f.Filtro.stTipoOper);
        QCOMPARE(f.stFiltroIdEntrsaidOp, QStringLiteral("E"));

        const auto boxes = f.grbFiltroPadrao->findChildren<QCheckBox*>();
        QCOMPARE(boxes.size(), 14);
        for (QCheckBox* box : boxes) {
            QVERIFY2(box->isChecked(), qPrintable(box->objectName()));
        }

        QCOMPARE(f.medNotaInicial->Text(), QStringLiteral("000000000"));
        QCOMPARE(f.medNotaFinal->Text(), QStringLiteral("999999999"));
        QCOMPARE(f.depInicial->Date(), QDate(2026, 2, 1));
        QCOMPARE(f.depFinal->Date(), kDataFilial);
        QCOMPARE(f.depInicial->Text(), QStringLiteral("01/02/2026"));

        QVERIFY(f.medInscrJurid->Text().isEmpty());
        QCOMPARE(f.focusWidget(), static_cast<QWidget*>(f.medInscrJurid));

        // The record starts out as "everything", matching what the controls show.
        QCOMPARE(f.Filtro.dtIniEmis, QDate(2026, 2, 1));
        QCOMPARE(f.Filtro.dtFinEmis, kDataFilial);
        QVERIFY(f.Filtro.boTipoOper && f.Filtro.boRejeitada && f.Filtro.boSefazXml);
        QCOMPARE(f.Filtro.stNrNotaFim, QStringLiteral("999999999"));
    });
    QVERIFY(m_inspected);
    QVERIFY(!confirmed);
    QVERIFY(!boConfirma);
    QVERIFY(frmFiltro && !frmFiltro->isVisible());
    QVERIFY_DIALOGS(dlg);
}

void TestFiltro::loadsTheRegistrationsOfTheSelectedCompany() {
    ScriptedDialogs dlg;
    const QList<Registro> de01 = registrosDoBanco(QStringLiteral("01"));
    const QList<Registro> de02 = registrosDoBanco(QStringLiteral("02"));
    QVERIFY(!de01.isEmpty() && !de02.isEmpty());
    QVERIFY(de01 != de02);

    openAndCancel([&](TfrmFiltro& f) {
        QCOMPARE(registrosCarregados(*f.cdsPesqInscrJurid), de01);
        QCOMPARE(registrosCarregados(*f.cdsVdInscrJurid), de01);
    });
    QVERIFY(m_inspected);

    // Every showing asks again, for the company the workspace holds then.
    frmManifestacao->medCdEmpresa->SetText(QStringLiteral("02"));
    openAndCancel([&](TfrmFiltro& f) {
        QCOMPARE(registrosCarregados(*f.cdsPesqInscrJurid), de02);
        QCOMPARE(registrosCarregados(*f.cdsVdInscrJurid), de02);
    });
    QVERIFY(m_inspected);
    frmManifestacao->medCdEmpresa->SetText(QStringLiteral("01"));
    QVERIFY_DIALOGS(dlg);
}

void TestFiltro::eachCheckBoxFollowsItsOwnFlag() {
    ScriptedDialogs dlg;
    QVERIFY(frmFiltro);
    struct Par {
        bool TRecordFilter::*flag;
        const char* box;
    };
    const Par pares[] = {
        {&TRecordFilter::boSemSituacao, "chkSemSituacao"},
        {&TRecordFilter::boAceita, "chkAutorizada"},
        {&TRecordFilter::boDenegada, "chkDenegada"},
        {&TRecordFilter::boCancelada, "chkCancelada"},
        {&TRecordFilter::boSemManif, "chkSemManifestacao"},
        {&TRecordFilter::boCiencia, "chkCienciaOperacao"},
        {&TRecordFilter::boDesconhecida, "chkDesconhecida"},
        {&TRecordFilter::boConfirmada, "chkConfirmadaOperacao"},
        {&TRecordFilter::boNaoRealizada, "chkOperacaoNRealizada"},
        {&TRecordFilter::boRejeitada, "chkRejeitada"},
        {&TRecordFilter::boInexistenteSefaz, "ckcInexistenteSefaz"},
        {&TRecordFilter::boInexistenteSistema, "ckcInexistenteSistema"},
        {&TRecordFilter::boSefazSistema, "ckcSefazSistema"},
        {&TRecordFilter::boSefazXml, "ckcSefazXML"},
    };
    const TRecordFilter antes = frmFiltro->Filtro;
    for (const Par& off : pares) {
        for (const Par& p : pares) {
            frmFiltro->Filtro.*(p.flag) = true;
        }
        frmFiltro->Filtro.*(off.flag) = false;
        openAndCancel([&](TfrmFiltro& f) {
            for (const Par& p : pares) {
                auto* box = f.findChild<QCheckBox*>(QLatin1String(p.box));
                QVERIFY2(box, p.box);
                QVERIFY2(box->isChecked() == (p.box != off.box),
                         qPrintable(QStringLiteral("%1 com %2 desmarcado")
                                        .arg(QLatin1String(p.box), QLatin1String(off.box))));
                box->setChecked(!box->isChecked());  // typed over, then cancelled
            }
        });
        QVERIFY(m_inspected);
    }
    frmFiltro->Filtro = antes;
    QVERIFY_DIALOGS(dlg);
}

void TestFiltro::cancelRestoresTheLastConfirmedCriteria() {
    ScriptedDialogs dlg;
    QVERIFY(frmFiltro);
    const QString registro = registroDaEmpresa(QStringLiteral("01"));
    QVERIFY(!registro.isEmpty());

    // What a confirmation leaves in the record.
    TRecordFilter& r = frmFiltro->Filtro;
    r.stInscrJurid = registro;
    r.stCdInscEsta = QStringLiteral("110042490114");
    r.stCdFiliOrig = QStringLiteral("0002");
    r.stNmFiliOrig = QStringLiteral("Filial Uberlândia");
    r.stCdSerie = QStringLiteral("1");
    r.inCbbIndex = 2;
    r.stNrInsForn = QStringLiteral("12345678000195");
    r.stNmRazForn = QStringLiteral("Fornecedor Alfa");
    r.dtIniEmis = QDate(2025, 11, 3);
    r.dtFinEmis = QDate(2025, 12, 24);
    r.inCbbIdOper = 1;
    r.stNrNotaIni = QStringLiteral("000000120");
    r.stNrNotaFim = QStringLiteral("000000450");
    r.stChaveAcesso = QStringLiteral("35260112345678000195550010000001201000001209");

    const auto confere = [&](TfrmFiltro& f) {
        QCOMPARE(f.medInscrJurid->Text(), registro);
        QCOMPARE(f.medCdFiliOrig->Text(), QStringLiteral("0002"));
        QCOMPARE(f.medNmFiliOrig->Text(), QStringLiteral("Filial Uberlândia"));
        QCOMPARE(f.medCdSerie->Text(), QStringLiteral("1"));
        QCOMPARE(f.medIE->Text(), QStringLiteral("110042490114"));
        QCOMPARE(f.cboEmitente->currentIndex(), 2);
        QCOMPARE(f.nbkEmitente->currentIndex(), 2);
        QCOMPARE(f.medCdFornecedor->Text(), QStringLiteral("12345678000195"));
        QCOMPARE(f.medNmFornecedor->Text(), QStringLiteral("Fornecedor Alfa"));
        QCOMPARE(f.depInicial->Date(), QDate(2025, 11, 3));
        QCOMPARE(f.depFinal->Date(), QDate(2025, 12, 24));
        QCOMPARE(f.cboOperacao->currentText(), QStringLiteral("Saída"));
        QCOMPARE(f.medNotaInicial->Text(), QStringLiteral("000000120"));
        QCOMPARE(f.medNotaFinal->Text(), QStringLiteral("000000450"));
        QCOMPARE(f.edtChaveAcesso->text(), r.stChaveAcesso);
    };

    // The registration comes up under its person-type mask; once that mask is in place a
    // showing of the same registration leaves its dependent fields alone.
    openAndCancel([](TfrmFiltro&) {});
    openAndCancel([](TfrmFiltro& f) { QVERIFY(!f.medInscrJurid->EditMaskText().isEmpty()); });
    openAndCancel([&](TfrmFiltro& f) {
        confere(f);
        // The clerk changes everything but the registration, then cancels.
        f.medIE->SetText(QStringLiteral("999"));
        f.medCdFiliOrig->SetText(QStringLiteral("0003"));
        f.cboEmitente->setCurrentIndex(1);
        QCOMPARE(f.nbkEmitente->currentIndex(), 1);
        f.medCdFornecedor->Clear();
        f.depInicial->SetDate(QDate(2020, 1, 1));
        f.cboOperacao->setCurrentIndex(0);
        f.medNotaFinal->SetText(QStringLiteral("1"));
        f.edtChaveAcesso->clear();
    });
    QVERIFY(m_inspected);
    openAndCancel(confere);
    QVERIFY(m_inspected);
    QVERIFY_DIALOGS(dlg);
}

void TestFiltro::aChangedRegistrationEmptiesItsDependentFields() {
    ScriptedDialogs dlg;
    QVERIFY(frmFiltro);
    const QString registro = frmFiltro->Filtro.stInscrJurid;
    QVERIFY(!registro.isEmpty());

    openAndCancel([](TfrmFiltro& f) {
        QCOMPARE(f.medIE->Text(), QStringLiteral("110042490114"));
        f.medInscrJurid->SetEditMask(QString());
        f.medInscrJurid->SetText(QStringLiteral("11111111000191"));
        // Typing another registration empties at once what belonged to the old one.
        QVERIFY(f.medIE->Text().isEmpty());
        QVERIFY(f.medCdFiliOrig->Text().isEmpty());
        QVERIFY(f.medNmFiliOrig->Text().isEmpty());
        QVERIFY(f.medCdSerie->Text().isEmpty());
    });
    QVERIFY(m_inspected);

    // The next showing puts the confirmed registration back, and with that change the
    // state registration, branch and series come up empty; the rest is as confirmed.
    openAndCancel([&](TfrmFiltro& f) {
        QCOMPARE(f.medInscrJurid->Text(), registro);
        QVERIFY(f.medIE->Text().isEmpty());
        QVERIFY(f.medCdFiliOrig->Text().isEmpty());
        QVERIFY(f.medNmFiliOrig->Text().isEmpty());
        QVERIFY(f.medCdSerie->Text().isEmpty());
        QCOMPARE(f.cboEmitente->currentIndex(), 2);
        QCOMPARE(f.medCdFornecedor->Text(), QStringLiteral("12345678000195"));
        QCOMPARE(f.depFinal->Date(), QDate(2025, 12, 24));
    });
    QVERIFY(m_inspected);
    QCOMPARE(frmFiltro->Filtro.stCdInscEsta, QStringLiteral("110042490114"));
    QVERIFY_DIALOGS(dlg);
}

void TestFiltro::restoredListEnablesTheOperationTypeButton() {
    ScriptedDialogs dlg;
    QVERIFY(frmFiltro);
    frmFiltro->Filtro.boTipoOper = false;
    frmFiltro->Filtro.stTipoOper = QStringLiteral("01,05");
    openAndCancel([](TfrmFiltro& f) {
        QVERIFY(f.rbtListaOper->isChecked());
        QVERIFY(!f.rbtTodosOper->isChecked());
        QVERIFY(f.btpOperacao->isEnabled());
        QCOMPARE(f.stFiltroCdTipoOper, QStringLiteral("01,05"));

        // "Todos" drops the list; "Lista" asks for a new one; back to "Todos" means all.
        f.rbtTodosOper->click();
        QVERIFY(!f.btpOperacao->isEnabled());
        QCOMPARE(f.stFiltroCdTipoOper, QStringLiteral("T"));
        f.rbtListaOper->click();
        QVERIFY(f.btpOperacao->isEnabled());
        QVERIFY(f.stFiltroCdTipoOper.isEmpty());
        f.rbtTodosOper->click();
        QCOMPARE(f.stFiltroCdTipoOper, QStringLiteral("T"));
    });
    QVERIFY(m_inspected);

    // Cancel undid the switch: the list and its button are back.
    openAndCancel([](TfrmFiltro& f) {
        QVERIFY(f.btpOperacao->isEnabled());
        QCOMPARE(f.stFiltroCdTipoOper, QStringLiteral("01,05"));
    });
    QVERIFY(m_inspected);

    frmFiltro->Filtro.boTipoOper = true;
    frmFiltro->Filtro.stTipoOper = QStringLiteral("T");
    openAndCancel([](TfrmFiltro& f) {
        QVERIFY(f.rbtTodosOper->isChecked());
        QVERIFY(!f.btpOperacao->isEnabled());
        QCOMPARE(f.stFiltroCdTipoOper, QStringLiteral("T"));
    });
    QVERIFY(m_inspected);
    QVERIFY_DIALOGS(dlg);
}

void TestFiltro::operationTypeListFollowsTheDirection() {
    QVERIFY(frmFiltro);
    const auto tiposDoBanco = [](const QString& direcao) {
        QSqlQuery q(host::DatabaseModule::instance().database());
        q.prepare(QStringLiteral(
            "SELECT CDTIPOOPER FROM TIPOOPERAC WHERE IDENTRSAIDOP = ? ORDER BY CDTIPOOPER"));
        q.addBindValue(direcao);
        QStringList out;
        if (q.exec()) {
            while (q.next()) {
                out << q.value(0).toString().trimmed();
            }
        }
        return out;
    };
    const QStringList entradas = tiposDoBanco(QStringLiteral("E"));
    const QStringList saidas = tiposDoBanco(QStringLiteral("S"));
    QVERIFY(entradas.size() >= 2 && !saidas.isEmpty());
    QVERIFY(entradas != saidas);

    ScriptedDialogs dlg;
    openAndCancel([&](TfrmFiltro& f) {
        f.rbtListaOper->click();
        f.cboOperacao->setCurrentIndex(1);
        dlg.setNextPick({0});
        f.btpOperacao->click();
        QCOMPARE(f.stFiltroIdEntrsaidOp, QStringLiteral("S"));
        QCOMPARE(f.qryOperacao->RecordCount(), saidas.size());
        QCOMPARE(f.stFiltroCdTipoOper, saidas.first());

        f.cboOperacao->setCurrentIndex(0);
        dlg.setNextPick({0, 1});
        f.btpOperacao->click();
        QCOMPARE(f.stFiltroIdEntrsaidOp, QStringLiteral("E"));
        QCOMPARE(f.qryOperacao->RecordCount(), entradas.size());
        QCOMPARE(f.stFiltroCdTipoOper, entradas.mid(0, 2).join(u','));

        // A cancelled list keeps the choice already made.
        dlg.setNextPick({});
        f.btpOperacao->click();
        QCOMPARE(f.stFiltroCdTipoOper, entradas.mid(0, 2).join(u','));
    });
    QVERIFY(m_inspected);
    const QList<host::test::DialogCall> calls = dlg.calls();
    QCOMPARE(calls.size(), 3);
    QCOMPARE(calls.first().pick.title, QStringLiteral("Tipo de Operação"));
    QVERIFY_DIALOGS(dlg);
}

void TestFiltro::plainTextFromTheServerIsShownAndLoadsNothing() {
    QVERIFY(frmFiltro);
    const QList<Registro> antes = registrosCarregados(*frmFiltro->cdsPesqInscrJurid);
    QVERIFY(!antes.isEmpty());

    testsupport::LoopbackServer fake;
    fake.script(QStringLiteral("getCarregaPesquisas"),
                testsupport::LoopbackServer::Script::answer(
                    QStringLiteral("Empresa 01 sem inscrições liberadas.")));
    host::Orvanta::setWebServer(fake.host(), fake.port());
    frmManifestacao->netManifestacao->Close();

    {
        ScriptedDialogs dlg;
        dlg.expectError(QStringLiteral("Empresa 01 sem inscrições liberadas."));
        openAndCancel([&](TfrmFiltro& f) {
            // The dialog stays up with the lists as they were.
            QCOMPARE(registrosCarregados(*f.cdsPesqInscrJurid), antes);
            QCOMPARE(registrosCarregados(*f.cdsVdInscrJurid), antes);
        });
        QVERIFY(m_inspected);
        QVERIFY_DIALOGS(dlg);
    }
    QCOMPARE(fake.received().size(), 1);
    QCOMPARE(fake.received().first().args, QVariantList{QStringLiteral("01")});

    // An answer other than "S" carries its reason in element 1.
    fake.script(QStringLiteral("getCarregaPesquisas"),
                testsupport::LoopbackServer::Script::answer(QVariantList{
                    QStringLiteral("N"), QStringLiteral("Cadastro da empresa em manutenção.")}));
    {
        ScriptedDialogs dlg;
        dlg.expectError(QStringLiteral("Cadastro da empresa em manutenção."));
        QVERIFY(!host::runHandler(nullptr, [] { frmFiltro->CarregaPesquisas("01"); }));
        QVERIFY_DIALOGS(dlg);
    }
    QCOMPARE(registrosCarregados(*frmFiltro->cdsVdInscrJurid), antes);
    QCOMPARE(host::Showavi::Level(), 0);

    // A dropped connection passes on to the host's handling, the wait window taken down.
    fake.script(QStringLiteral("getCarregaPesquisas"), testsupport::LoopbackServer::Script::drop());
    QVERIFY_THROWS_EXCEPTION(host::ENetError, frmFiltro->CarregaPesquisas("01"));
    QCOMPARE(host::Showavi::Level(), 0);

    frmManifestacao->netManifestacao->Close();
    host::Orvanta::setWebServer(QStringLiteral("127.0.0.1"), m_env.server->port());
}

QTEST_MAIN(TestFiltro)
#include "tst_filtro.moc"

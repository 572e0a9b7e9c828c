// The manifestation events as the clerk sends them from the workspace, against the real
// application server on loopback: the questions in their order, what the server receives, the
// result popup, the refreshed list, the justification dialog of Operação não Realizada, and a
// server that stops answering in the middle.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "Cli_Dfe58110.h"
#include "Cli_Dfe58140.h"
#include "core/clientdataset.h"
#include "core/orvanta.h"
#include "core/packet.h"
#include "fiscaldocs.h"
#include "methods.h"
#include "modaldriver.h"
#include "net/netconnection.h"
#include "store.h"
#include "ui/buttonflat.h"
#include "ui/dateeditplus.h"
#include "ui/handler.h"
#include "ui/maskedit.h"
#include "ui/numberedit.h"
#include "ui/showavi.h"
#include "workspacefixture.h"

using host::MsgButton;
using host::test::ScriptedDialogs;

namespace {

const QString kRegistro = QStringLiteral("48210375000102");  // company 01
const QString kEmitente = fiscal::completeCnpj(QStringLiteral("062741180001"));
const QString kManiAviso =
    QStringLiteral("Atenção! Deseja confirmar a operação para todas as notas marcadas?");
const QString kImpXml = QStringLiteral(
    "Atenção! Após confirmar a operação não será mais possível importar o XML da mesma. Deseja "
    "confirmar a a operação?");
const QString kSelecionar = QStringLiteral(
    "É preciso selecionar ao menos uma nota fiscal para realizar o evento de manifestação.");

dfe58000::NoteRecord nota(int numero) {
    dfe58000::NoteRecord n = notaBase(numero, kRegistro, kEmitente);
    n.DTEMISSAO = QDateTime(QDate::currentDate().addDays(-1), QTime(8, 0));
    n.DTRECBTO = QDateTime(QDate::currentDate(), QTime(0, 5));
    n.VRNOTAFISC = 1000.0 + numero;
    return n;
}

struct Popup {
    QString enviado, sucesso, erro;
    bool verNotas = false;
    int aviDuranteOPopup = -1;
    bool aviCobreOPopup = false;  // the busy window lies over the popup's text
    bool popupNoTopo = false;     // the popup is in the always-on-top layer
};

}  // namespace

class TestEventos : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cienciaOfOneNoteAsksNothingAndRefreshesTheList();
    void severalNotesAskOnceAndNoSendsNothing();
    void checksComeInTheirOrder();
    void anErrorAnswerKeepsTheMarks();
    void operacaoNaoRealizadaSendsTheJustificationAsTyped();
    void aServerLostMidCallLeavesEverythingAsItWas();
    void aServerThatStopsLeavesEverythingAsItWas();

  private:
    void consulta();
    void marca(const QList<int>& numeros);
    QString situacao(int numero) const;
    QVariantList ultimoEvento() const;
    // Closes the popup with OK, reading it first.
    std::function<bool(QWidget*)> fechaPopup(Popup& lido);

    ManifestacaoEnv m_env;
};

void TestEventos::initTestCase() {
    QList<dfe58000::NoteRecord> notas;
    for (int n = 1; n <= 12; ++n) {
        notas << nota(n);
    }
    const QString erro = m_env.start(ManifestacaoEnv::Opcoes::doOperador(notas));
    QVERIFY2(erro.isEmpty(), qPrintable(erro));
}

void TestEventos::cleanupTestCase() {
    m_env.stop();
    QVERIFY_DIALOGS(*m_env.guarda);
}

void TestEventos::init() {
    consulta();
}

// The filter confirmed for every note of company 01: the list shows them all, none marked.
void TestEventos::consulta() {
    QVERIFY(preencheFiltro(kRegistro));
    QVERIFY(confirmaFiltro());
    QCOMPARE(frmManifestacao->cdsNotasDestinadas->RecordCount(), 12);
    QCOMPARE(inMarcados, 0);
}

void TestEventos::marca(const QList<int>& numeros) {
    QVERIFY(marcaNotas(numeros));
}

QString TestEventos::situacao(int numero) const {
    host::TClientDataSet& ds = *frmManifestacao->cdsNotasDestinadas;
    if (!ds.Locate(QStringLiteral("NRNOTAFISC"), numeroNota(numero))) {
        return {};
    }
    return ds.FieldByName(QStringLiteral("IDSTATUSMANIF")).AsString();
}

QVariantList TestEventos::ultimoEvento() const {
    return m_env.ultimosArgumentos(QStringLiteral("setManifestacao"));
}

std::function<bool(QWidget*)> TestEventos::fechaPopup(Popup& lido) {
    return [&lido](QWidget* modal) {
        if (modal != frmPopUp) {
            return false;
        }
        const QWidget* avi = host::Showavi::Window();
        lido = {
            frmPopUp->lblEnviado->text(),
            frmPopUp->lblSucesso->text(),
            frmPopUp->lblErro->text(),
            frmPopUp->sbtNotas->isEnabled(),
            host::Showavi::Level(),
            avi && avi->isVisible() && avi->frameGeometry().intersects(frmPopUp->frameGeometry()),
            frmPopUp->windowFlags().testFlag(Qt::WindowStaysOnTopHint)};
        frmPopUp->sbtOK->click();
        return true;
    };
}

void TestEventos::cienciaOfOneNoteAsksNothingAndRefreshesTheList() {
    m_env.server->clearReceivedRequests();
    marca({1});
    Popup lido;
    ModalDriver driver(fechaPopup(lido));
    frmManifestacao->sbtCiencia->click();
    QVERIFY(driver.unexpected().isEmpty());

    const QVariantList args = ultimoEvento();
    QCOMPARE(args.size(), 5);
    QCOMPARE(args.at(0).toString(), kRegistro);
    const host::DecodedPacket marcados = host::decodePacket(args.at(1).toByteArray());
    QCOMPARE(marcados.rows.size(), 1);
    QCOMPARE(marcados.rows.at(0).at(0).toString(), nota(1).NRACESSONF);
    QCOMPARE(args.at(2).toString(), QStringLiteral("4"));
    QCOMPARE(args.at(3).toString(), QString());
    QCOMPARE(args.at(4).toString(), QStringLiteral("CLERK01"));

    QCOMPARE(lido.enviado, QStringLiteral("1 Evento(s) Enviado(s)."));
    QCOMPARE(lido.sucesso, QStringLiteral("1 Evento(s) registrado(s) com sucesso"));
    QCOMPARE(lido.erro, QStringLiteral("0 Erros"));
    QVERIFY(!lido.verNotas);
    // The wait window is down before the popup shows.
    QCOMPARE(lido.aviDuranteOPopup, 0);
    QVERIFY(!lido.popupNoTopo);
    // Verified again: the note shows its Ciência and nothing is marked.
    QCOMPARE(inMarcados, 0);
    QCOMPARE(situacao(1), QStringLiteral("4"));
}

void TestEventos::severalNotesAskOnceAndNoSendsNothing() {
    m_env.server->clearReceivedRequests();
    marca({2, 3, 4});
    {
        ScriptedDialogs dlg;
        dlg.expectMessage(kManiAviso, MsgButton::No);
        frmManifestacao->sbtConfirmaOperacao->click();
        QVERIFY_DIALOGS(dlg);
    }
    QVERIFY(ultimoEvento().isEmpty());
    QCOMPARE(inMarcados, 3);

    // Yes: the three go; one of them was already confirmed by someone else and comes back
    // rejected, with its reason in the list the popup opens.
    {
        dfe58000::Store store(m_env.url);
        QCOMPARE(dfe58000::dispatch(
                     store,
                     host::wire::Request{QStringLiteral("DFE58000.rdmManifestacao"),
                                         QStringLiteral("setManifestacao"),
                                         {kRegistro,
                                          host::encodePacket({{QStringLiteral("NRACESSONF"),
                                                               host::FieldType::String, 44, false}},
                                                             {{nota(4).NRACESSONF}}),
                                          QStringLiteral("1"), QString(), QStringLiteral("OUTRO")}})
                     .ok,
                 true);
    }
    ScriptedDialogs dlg;
    dlg.expectMessage(kManiAviso, MsgButton::Yes);
    Popup lido;
    ModalDriver driver(fechaPopup(lido));
    frmManifestacao->sbtConfirmaOperacao->click();
    QVERIFY_DIALOGS(dlg);
    QVERIFY(driver.unexpected().isEmpty());
    QCOMPARE(lido.enviado, QStringLiteral("3 Evento(s) Enviado(s)."));
    QCOMPARE(lido.sucesso, QStringLiteral("2 Evento(s) registrado(s) com sucesso"));
    QCOMPARE(lido.erro, QStringLiteral("1 Erros"));
    QVERIFY(lido.verNotas);
    host::TClientDataSet& erradas = *frmManifestacao->cdsNotasErradas;
    QCOMPARE(erradas.RecordCount(), 1);
    QCOMPARE(erradas.FieldByName(QStringLiteral("NRACESSONF")).AsString(), nota(4).NRACESSONF);
    QVERIFY(erradas.FieldByName(QStringLiteral("DSERRO")).AsString().startsWith(u"573"));
    QCOMPARE(inMarcados, 0);
    QCOMPARE(situacao(2), QStringLiteral("1"));
    QCOMPARE(situacao(3), QStringLiteral("1"));
}

void TestEventos::checksComeInTheirOrder() {
    m_env.server->clearReceivedRequests();
    ScriptedDialogs dlg;
    // With nothing marked the buttons are off; the handlers still check (they run from the
    // menu too). Desconhecimento asks first, then finds nothing marked.
    QVERIFY(!frmManifestacao->sbtDesconhecimento->isEnabled());
    dlg.expectMessage(kImpXml, MsgButton::Yes);
    dlg.expectError(kSelecionar);
    host::runHandler(frmManifestacao, [] { frmManifestacao->sbtDesconhecimentoClick(); });
    // Operação não Realizada finds nothing marked before asking anything.
    dlg.expectError(kSelecionar);
    host::runHandler(frmManifestacao, [] { frmManifestacao->sbtOperacaoNRealizadaClick(); });
    // Without a legal registration in the filter nothing is sent.
    marca({5});
    const QString registro = frmFiltro->medInscrJurid->Text();
    frmFiltro->medInscrJurid->Clear();
    dlg.expectError(QStringLiteral("Inscrição jurídica deve ser informada."));
    frmManifestacao->sbtCiencia->click();
    frmFiltro->medInscrJurid->SetText(registro);
    QVERIFY_DIALOGS(dlg);
    QVERIFY(ultimoEvento().isEmpty());
    QCOMPARE(inMarcados, 1);
}

void TestEventos::anErrorAnswerKeepsTheMarks() {
    marca({6, 7});
    // A registration the server does not know: the request fails as a whole.
    frmFiltro->medInscrJurid->SetText(QStringLiteral("11222333000181"));
    ScriptedDialogs dlg;
    dlg.expectMessage(kManiAviso, MsgButton::Yes);
    dlg.expectError(QStringLiteral("Inscrição jurídica 11222333000181 não cadastrada."));
    ModalDriver driver([](QWidget*) { return false; });
    frmManifestacao->sbtCiencia->click();
    frmFiltro->medInscrJurid->SetText(kRegistro);
    QVERIFY_DIALOGS(dlg);
    QVERIFY(driver.unexpected().isEmpty());
    QCOMPARE(host::Showavi::Level(), 0);
    QCOMPARE(inMarcados, 2);
    QCOMPARE(situacao(6), QStringLiteral("0"));
}

void TestEventos::operacaoNaoRealizadaSendsTheJustificationAsTyped() {
    m_env.server->clearReceivedRequests();
    marca({8});
    const QString justificativa =
        QStringLiteral("Mercadoria recusada na portaria: pedido cancelado pelo comprador");
    ScriptedDialogs dlg;
    dlg.expectMessage(kImpXml, MsgButton::Yes);
    dlg.expectMessage(
        QStringLiteral("Deseja confirmar a justificativa para as notas fiscais marcadas?"),
        MsgButton::Yes);
    QStringList visto;
    Popup lido;
    bool escrito = false, respondido = false;
    ModalDriver driver([&](QWidget* modal) {
        if (modal == frmOperacaoNRealizada) {
            TfrmOperacaoNRealizada& d = *frmOperacaoNRealizada;
            if (!escrito) {
                escrito = true;
                visto << QString::number(d.panNota->isVisible()) << d.medChaveAcesso->Text()
                      << d.medRazaoSocial->Text() << d.nedValor->text()
                      << d.depEmissao->Date().toString(Qt::ISODate);
                d.memJustificativa->setPlainText(justificativa);
                // From the event loop, not from inside this step: the popup that follows is
                // modal too and this driver must see it.
                QTimer::singleShot(0, d.sbtConfirma, &QAbstractButton::click);
            } else if (respondido) {
                d.close();
            }
            return true;
        }
        if (modal == frmPopUp) {
            respondido = true;
            return fechaPopup(lido)(modal);
        }
        return false;
    });
    frmManifestacao->sbtOperacaoNRealizada->click();
    QVERIFY_DIALOGS(dlg);
    QVERIFY(driver.unexpected().isEmpty());
    QCOMPARE(visto, (QStringList{QStringLiteral("1"), nota(8).NRACESSONF,
                                 QStringLiteral("Emitente 08"), QStringLiteral("1.008,00"),
                                 QDate::currentDate().addDays(-1).toString(Qt::ISODate)}));
    const QVariantList args = ultimoEvento();
    QCOMPARE(args.value(2).toString(), QStringLiteral("3"));
    QCOMPARE(args.value(3).toString(), justificativa);
    QCOMPARE(lido.sucesso, QStringLiteral("1 Evento(s) registrado(s) com sucesso"));
    // The wait window stays up while the popup of this dialog is open.
    QCOMPARE(lido.aviDuranteOPopup, 1);
    // Both readable: the popup above the busy window's layer, the busy window out of its way.
    QVERIFY(lido.popupNoTopo);
    QVERIFY(!lido.aviCobreOPopup);
    QCOMPARE(host::Showavi::Level(), 0);
    QCOMPARE(situacao(8), QStringLiteral("3"));
    // Hidden, not destroyed: the text is there for the next time.
    QVERIFY(frmOperacaoNRealizada);
    QCOMPARE(frmOperacaoNRealizada->memJustificativa->toPlainText(), justificativa);
}

// A server process that takes the call and never answers: first the wait runs out, then the
// process is killed while the next call waits. Either way the clerk is told, the events are
// not claimed, and the marks stay.
void TestEventos::aServerLostMidCallLeavesEverythingAsItWas() {
    ServidorProcesso proc;
    const QString erro = proc.inicia(m_env.url);
    QVERIFY2(erro.isEmpty(), qPrintable(erro));

    host::TNetConnection& net = *frmManifestacao->netManifestacao;
    const auto volta = qScopeGuard([&] {
        apontaWorkspace(m_env.server->port());
        net.SetTimeout(host::TNetConnection::kDefaultTimeout);
        proc.mata();
    });
    apontaWorkspace(proc.porta());
    QVERIFY(proc.congela());
    marca({11});
    m_env.server->clearReceivedRequests();
    ModalDriver driver([](QWidget*) { return false; });

    net.SetTimeout(800);
    {
        ScriptedDialogs dlg;
        dlg.expectError();
        frmManifestacao->sbtCiencia->click();
        QVERIFY_DIALOGS(dlg);
        const QString texto = dlg.texts().value(0);
        QVERIFY2(texto.contains(QStringLiteral("não respondeu")), qPrintable(texto));
        QVERIFY2(texto.contains(QStringLiteral("podem ter sido registrados")), qPrintable(texto));
    }
    QCOMPARE(host::Showavi::Level(), 0);
    QCOMPARE(inMarcados, 1);
    QCOMPARE(situacao(11), QStringLiteral("0"));

    net.SetTimeout(30000);
    // Killed once the call has its connection: the request is out or about to be.
    QTimer matador;
    QObject::connect(&matador, &QTimer::timeout, [&] {
        if (net.Connected() && proc.rodando()) {
            proc.mataJa();
            matador.stop();
        }
    });
    matador.start(20);
    {
        ScriptedDialogs dlg;
        dlg.expectError();
        frmManifestacao->sbtConfirmaOperacao->click();
        QVERIFY_DIALOGS(dlg);
        const QString texto = dlg.texts().value(0);
        QVERIFY2(texto.contains(QStringLiteral("foi interrompida")), qPrintable(texto));
        QVERIFY2(texto.contains(QStringLiteral("podem ter sido registrados")), qPrintable(texto));
    }
    QVERIFY(driver.unexpected().isEmpty());
    QCOMPARE(host::Showavi::Level(), 0);
    QCOMPARE(inMarcados, 1);
    QCOMPARE(situacao(11), QStringLiteral("0"));
    QVERIFY(proc.terminou(10000));

    // Back on the running server: neither call reached the database.
    apontaWorkspace(m_env.server->port());
    frmManifestacao->sbtVerificar->click();
    QCOMPARE(situacao(11), QStringLiteral("0"));
    QCOMPARE(inMarcados, 0);
    QVERIFY(ultimoEvento().isEmpty());
}

// Last: the server goes away for good.
void TestEventos::aServerThatStopsLeavesEverythingAsItWas() {
    marca({9, 10});
    m_env.server.reset();
    ScriptedDialogs dlg;
    dlg.expectMessage(kManiAviso, MsgButton::Yes);
    dlg.expectError();
    ModalDriver driver([](QWidget*) { return false; });
    frmManifestacao->sbtConfirmaOperacao->click();
    QVERIFY_DIALOGS(dlg);
    QVERIFY(driver.unexpected().isEmpty());
    QVERIFY(!dlg.texts().isEmpty() && !dlg.texts().last().isEmpty());
    QCOMPARE(host::Showavi::Level(), 0);
    QCOMPARE(inMarcados, 2);
    QCOMPARE(situacao(9), QStringLiteral("0"));
}

QTEST_MAIN(TestEventos)
#include "tst_eventos.moc"

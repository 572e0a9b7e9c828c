// A server that fails the workspace while it waits, for every call but the events (which
// tst_eventos covers): the filter's registrations when the filter shows, the note query of the
// filter's confirmation and of Verificar, and the two XML commands. A real server process is
// frozen past a short timeout or killed while the call waits; a scripted server answers bytes
// that are not a frame, a frame that is not CBOR, a reply of the wrong shape, or a packet of
// notes of another layout. Each time the clerk reads one message saying what happened, the
// wait window is down, the list with its marks and their count is as it was, no XML file is
// written, and, for the real process, the same command works once the server is back.

#include <QApplication>
#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "Cli_Dfe58160.h"
#include "core/clientdataset.h"
#include "core/orvanta.h"
#include "core/packet.h"
#include "fiscaldocs.h"
#include "modaldriver.h"
#include "net/netconnection.h"
#include "net/wire.h"
#include "notarecord.h"
#include "store.h"
#include "support/loopbackserver.h"
#include "support/scripteddialogs.h"
#include "ui/buttonflat.h"
#include "ui/dateeditplus.h"
#include "ui/handler.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"
#include "workspacefixture.h"

using host::test::ScriptedDialogs;
using testsupport::LoopbackServer;

namespace {

const QString kRegistro = QStringLiteral("48210375000102");  // company 01
const QString kEmitente = fiscal::completeCnpj(QStringLiteral("062741180001"));
const QString kInvalida = QStringLiteral("Resposta inválida do servidor de aplicação");

// The commands that wait on the server, each with the method it calls.
enum class Acao { Pesquisas, Confirmar, Verificar, GeraXml, DownloadXML };

QString metodo(Acao a) {
    switch (a) {
        case Acao::Pesquisas:
            return QStringLiteral("getCarregaPesquisas");
        case Acao::Confirmar:
        case Acao::Verificar:
            return QStringLiteral("GetNotasDestinadas");
        case Acao::GeraXml:
            return QStringLiteral("GeraXml");
        case Acao::DownloadXML:
            return QStringLiteral("DownloadXML");
    }
    return {};
}

const char* nomeDe(Acao a) {
    switch (a) {
        case Acao::Pesquisas:
            return "pesquisas";
        case Acao::Confirmar:
            return "confirmar";
        case Acao::Verificar:
            return "verificar";
        case Acao::GeraXml:
            return "geraxml";
        case Acao::DownloadXML:
            return "downloadxml";
    }
    return "";
}

constexpr Acao kAcoes[] = {Acao::Pesquisas, Acao::Confirmar, Acao::Verificar, Acao::GeraXml,
                           Acao::DownloadXML};

// Notes 1 to 4 have their XML (generation), 5 to 8 had a Ciência (download), 9 to 12 neither.
dfe58000::NoteRecord nota(int n) {
    dfe58000::NoteRecord r = notaBase(n, kRegistro, kEmitente);
    r.IDSTATUSMANIF = n >= 5 && n <= 8 ? QStringLiteral("4") : QStringLiteral("0");
    r.IDARQXMLNFE = n <= 4 ? QStringLiteral("S") : QStringLiteral("N");
    r.DTEMISSAO = QDateTime(QDate::currentDate().addDays(-2), QTime(8, 0));
    r.DTRECBTO = QDateTime(QDate::currentDate().addDays(-1), QTime(9, 5));
    r.VRNOTAFISC = 1000.0 + n;
    return r;
}

// The notes each command works on: of one manifestation situation, so marking them asks
// nothing, and with the command enabled on the last.
QList<int> marcasPara(Acao a) {
    switch (a) {
        case Acao::GeraXml:
            return {1, 3};
        case Acao::DownloadXML:
            return {5, 6};
        default:
            return {2, 9};
    }
}

QStringList arquivosEm(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// What a failed call must leave as it was.
struct Estado {
    QByteArray lista;  // the list's whole packet, marks included
    int linha = 0;
    int marcados = 0;
    QString manifestacao;
    QByteArray inscricoes;  // the filter's registrations
    bool ciencia = false, geraXml = false, download = false;

    static Estado agora() {
        Estado e;
        host::TClientDataSet& ds = *frmManifestacao->cdsNotasDestinadas;
        e.lista = ds.Active() ? ds.Data() : QByteArray();
        e.linha = ds.RecNo();
        e.marcados = inMarcados;
        e.manifestacao = frmManifestacao->stManifestacao;
        e.inscricoes = frmFiltro && frmFiltro->cdsPesqInscrJurid->Active()
                           ? frmFiltro->cdsPesqInscrJurid->Data()
                           : QByteArray();
        e.ciencia = frmManifestacao->sbtCiencia->isEnabled();
        e.geraXml = frmManifestacao->sbtGeraXML->isEnabled();
        e.download = frmManifestacao->sbtDownloadXML->isEnabled();
        return e;
    }

    // What differs from before, in words; empty when nothing does.
    QString diferencas(const Estado& antes) const {
        QStringList d;
        if (lista != antes.lista) {
            d << QStringLiteral("the list's packet");
        }
        if (linha != antes.linha) {
            d << QStringLiteral("row %1 instead of %2").arg(linha).arg(antes.linha);
        }
        if (marcados != antes.marcados) {
            d << QStringLiteral("inMarcados %1 instead of %2").arg(marcados).arg(antes.marcados);
        }
        if (manifestacao != antes.manifestacao) {
            d << QStringLiteral("stManifestacao \"%1\" instead of \"%2\"")
                     .arg(manifestacao, antes.manifestacao);
        }
        if (inscricoes != antes.inscricoes) {
            d << QStringLiteral("the filter's registrations");
        }
        if (ciencia != antes.ciencia || geraXml != antes.geraXml || download != antes.download) {
            d << QStringLiteral("the command states");
        }
        return d.join(QStringLiteral("; "));
    }
};

}  // namespace

Q_DECLARE_METATYPE(Acao)
Q_DECLARE_METATYPE(LoopbackServer::Script)

class TestFalhas : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void aServerLostWhileWaitingLeavesEverythingAsItWas_data();
    void aServerLostWhileWaitingLeavesEverythingAsItWas();
    void aGarbledAnswerLeavesEverythingAsItWas_data();
    void aGarbledAnswerLeavesEverythingAsItWas();

  private:
    void consulta();
    void marca(const QList<int>& numeros);
    // Everything a command needs before it calls: the filter up for the confirmation.
    void prepara(Acao a);
    // Runs the command through its button, answering the chooser with xmlDir, expecting one
    // error when falha, and closing the filter and the completion dialog once they are idle.
    // Returns the windows it did not expect.
    QStringList executa(Acao a, ScriptedDialogs& dlg, const QString& xmlDir, bool falha);

    ManifestacaoEnv m_env;
    ServidorProcesso m_congelado;  // every frozen case waits on this one
    int m_conclusoes = 0;
};

void TestFalhas::initTestCase() {
    QList<dfe58000::NoteRecord> notas;
    for (int n = 1; n <= 12; ++n) {
        notas << nota(n);
    }
    const QString falhou = m_env.start(ManifestacaoEnv::Opcoes::doOperador(notas));
    QVERIFY2(falhou.isEmpty(), qPrintable(falhou));

    const QString erro = m_congelado.inicia(m_env.url);
    QVERIFY2(erro.isEmpty(), qPrintable(erro));
    QVERIFY(m_congelado.congela());
}

void TestFalhas::cleanupTestCase() {
    m_congelado.mata();
    m_env.stop();
    QVERIFY_DIALOGS(*m_env.guarda);
}

void TestFalhas::init() {
    apontaWorkspace(m_env.server->port());
    consulta();
}

void TestFalhas::cleanup() {
    if (frmFiltro && frmFiltro->isVisible()) {
        frmFiltro->sbtCancel->click();
    }
    apontaWorkspace(m_env.server->port());
    frmManifestacao->netManifestacao->SetTimeout(host::TNetConnection::kDefaultTimeout);
}

// The filter confirmed for every note of company 01: the list shows the twelve, none marked.
void TestFalhas::consulta() {
    prepara(Acao::Confirmar);
    QVERIFY(confirmaFiltro());
    QCOMPARE(frmManifestacao->cdsNotasDestinadas->RecordCount(), 12);
    QCOMPARE(inMarcados, 0);
}

void TestFalhas::prepara(Acao a) {
    if (a != Acao::Confirmar) {
        return;
    }
    QVERIFY(preencheFiltro(kRegistro));
}

void TestFalhas::marca(const QList<int>& numeros) {
    QVERIFY(marcaNotas(numeros));
    QCOMPARE(inMarcados, numeros.size());
}

QStringList TestFalhas::executa(Acao a, ScriptedDialogs& dlg, const QString& xmlDir, bool falha) {
    m_conclusoes = 0;
    ModalDriver driver([this](QWidget* modal) {
        if (modal == frmFiltro) {
            // Up for its registrations: closed once they are in or have failed.
            if (host::Showavi::Level() == 0) {
                frmFiltro->sbtCancel->click();
            }
            return true;
        }
        if (modal == frmConcluiXML) {
            ++m_conclusoes;
            frmConcluiXML->btpOk->click();
            return true;
        }
        return false;
    });
    TfrmManifestacao& ws = *frmManifestacao;
    QAbstractButton* botao = nullptr;
    switch (a) {
        case Acao::Pesquisas:
            botao = ws.sbtFiltro;
            break;
        case Acao::Confirmar:
            botao = frmFiltro->sbtConfirma;
            break;
        case Acao::Verificar:
            botao = ws.sbtVerificar;
            break;
        case Acao::GeraXml:
            botao = ws.sbtGeraXML;
            break;
        case Acao::DownloadXML:
            botao = ws.sbtDownloadXML;
            break;
    }
    if (!botao->isEnabled()) {
        return {botao->objectName() + QStringLiteral(" disabled")};
    }
    if (a == Acao::GeraXml || a == Acao::DownloadXML) {
        dlg.setNextDirectory(xmlDir);
    }
    if (falha) {
        dlg.expectError();
    }
    botao->click();
    return driver.unexpected();
}

// -------------------------------------------------------------------------------------------
// A real server process that stops answering: frozen until the call's time runs out, or killed
// once the call has its connection.

void TestFalhas::aServerLostWhileWaitingLeavesEverythingAsItWas_data() {
    QTest::addColumn<Acao>("acao");
    QTest::addColumn<bool>("morto");
    for (Acao a : kAcoes) {
        QTest::addRow("%s-frozen", nomeDe(a)) << a << false;
        QTest::addRow("%s-killed", nomeDe(a)) << a << true;
    }
}

void TestFalhas::aServerLostWhileWaitingLeavesEverythingAsItWas() {
    QFETCH(Acao, acao);
    QFETCH(bool, morto);
    host::TNetConnection& net = *frmManifestacao->netManifestacao;
    const QList<int> marcas = marcasPara(acao);
    marca(marcas);
    const QString xmlDir =
        m_env.dir.filePath(QStringLiteral("xml-%1").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(xmlDir));

    ServidorProcesso proprio;
    int porta = m_congelado.porta();
    if (morto) {
        const QString erro = proprio.inicia(m_env.url);
        QVERIFY2(erro.isEmpty(), qPrintable(erro));
        QVERIFY(proprio.congela());
        porta = proprio.porta();
    }
    prepara(acao);
    const Estado antes = Estado::agora();
    apontaWorkspace(porta);

    QTimer matador;
    if (morto) {
        net.SetTimeout(15000);
        QObject::connect(&matador, &QTimer::timeout, [&] {
            if (net.Connected() && proprio.rodando()) {
                proprio.mataJa();
                matador.stop();
            }
        });
        matador.start(10);
    } else {
        net.SetTimeout(500);
    }
    {
        ScriptedDialogs dlg;
        const QStringList inesperadas = executa(acao, dlg, xmlDir, true);
        QVERIFY_DIALOGS(dlg);
        QVERIFY2(inesperadas.isEmpty(), qPrintable(inesperadas.join(u',')));
        const QString texto = dlg.texts().value(0);
        QVERIFY2(texto.contains(metodo(acao)), qPrintable(texto));
        QVERIFY2(texto.contains(morto ? QStringLiteral("foi interrompida")
                                      : QStringLiteral("não respondeu")),
                 qPrintable(texto));
        if (acao == Acao::DownloadXML) {
            QVERIFY2(texto.contains(QStringLiteral("podem ter sido baixados")), qPrintable(texto));
        }
    }
    QCOMPARE(host::Showavi::Level(), 0);
    QCOMPARE(m_conclusoes, 0);
    const QString diferente = Estado::agora().diferencas(antes);
    QVERIFY2(diferente.isEmpty(), qPrintable(diferente));
    QCOMPARE(arquivosEm(xmlDir), QStringList());

    // The server back: the same command goes through.
    net.SetTimeout(host::TNetConnection::kDefaultTimeout);
    apontaWorkspace(m_env.server->port());
    m_env.server->clearReceivedRequests();
    {
        ScriptedDialogs dlg;
        const QStringList inesperadas = executa(acao, dlg, xmlDir, false);
        QVERIFY_DIALOGS(dlg);
        QVERIFY2(inesperadas.isEmpty(), qPrintable(inesperadas.join(u',')));
    }
    QCOMPARE(host::Showavi::Level(), 0);
    QCOMPARE(m_env.server->receivedRequests().value(0).method, metodo(acao));
    switch (acao) {
        case Acao::Pesquisas:
            QVERIFY(frmFiltro->cdsPesqInscrJurid->RecordCount() > 0);
            QCOMPARE(inMarcados, marcas.size());
            break;
        case Acao::Confirmar:
            QVERIFY(QTest::qWaitFor([] { return !frmFiltro->isVisible(); }));
            [[fallthrough]];
        case Acao::Verificar:
            QCOMPARE(frmManifestacao->cdsNotasDestinadas->RecordCount(), 12);
            QCOMPARE(inMarcados, 0);
            break;
        case Acao::GeraXml:
        case Acao::DownloadXML: {
            QCOMPARE(m_conclusoes, 1);
            QStringList esperados;
            for (int n : marcas) {
                esperados << QStringLiteral("NFe") + nota(n).NRACESSONF + QStringLiteral(".xml");
            }
            QCOMPARE(arquivosEm(xmlDir), esperados);
            QCOMPARE(inMarcados, 0);
            break;
        }
    }
}

// -------------------------------------------------------------------------------------------
// A server that answers what no server of this module would.

void TestFalhas::aGarbledAnswerLeavesEverythingAsItWas_data() {
    QTest::addColumn<Acao>("acao");
    QTest::addColumn<LoopbackServer::Script>("resposta");

    auto frameDe = [](const QCborValue& v) { return host::wire::frame(v.toCbor()); };
    const QList<host::FieldDef> campos = rdmManifestacao::noteRecordFields();
    QVariantList linha;
    for (const host::FieldDef& c : campos) {
        linha << (c.name == u"NRACESSONF"   ? QVariant(nota(1).NRACESSONF)
                  : c.name == u"NRNOTAFISC" ? QVariant(numeroNota(99))
                                            : QVariant());
    }
    const QByteArray notas = host::encodePacket(campos, {linha});
    const QByteArray nenhuma = host::encodePacket(campos, {});
    const QByteArray documentos = host::encodePacket(
        {{QStringLiteral("NRACESSONF"), host::FieldType::String, 44, false},
         {QStringLiteral("DSTEXTOXML"), host::FieldType::Memo, 0, false},
         {QStringLiteral("CDSTATUS"), host::FieldType::String, 3, false},
         {QStringLiteral("DSSTATUS"), host::FieldType::String, 4000, false}},
        {{nota(1).NRACESSONF,
          QStringLiteral("<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\"/>"),
          QStringLiteral("S"), QString()}});

    for (Acao a : kAcoes) {
        const char* n = nomeDe(a);
        QTest::addRow("%s-not-a-frame", n)
            << a << LoopbackServer::Script::rawBytes("HTTP/1.1 400 Bad Request\r\n\r\n");
        QTest::addRow("%s-frame-not-cbor", n)
            << a << LoopbackServer::Script::rawBytes(host::wire::frame("<html>ops</html>"));
        QTest::addRow("%s-cbor-not-a-reply", n)
            << a << LoopbackServer::Script::rawBytes(frameDe(QCborArray{1, 2, 3}));
        QTest::addRow("%s-result-a-map", n)
            << a
            << LoopbackServer::Script::rawBytes(frameDe(
                   QCborMap{{QStringLiteral("result"), QCborMap{{QStringLiteral("S"), 1}}}}));
        QTest::addRow("%s-result-a-number", n) << a << LoopbackServer::Script::answer(42);
        // Text where a packet goes (element 1 of the registrations, 2 to 4 of the note query,
        // 4 of the XML answers, whose counts are good).
        const bool xml = a == Acao::GeraXml || a == Acao::DownloadXML;
        const QString contagem = xml ? QStringLiteral("0") : QStringLiteral("pacote");
        QTest::addRow("%s-result-text-for-packets", n)
            << a
            << LoopbackServer::Script::answer(QVariantList{
                   a == Acao::Confirmar || a == Acao::Verificar ? "OK" : "S",
                   QStringLiteral("pacote"), contagem, contagem, QStringLiteral("pacote")});
    }
    // The note query: packets of another layout.
    for (Acao a : {Acao::Confirmar, Acao::Verificar}) {
        const char* n = nomeDe(a);
        QTest::addRow("%s-fewer-columns", n)
            << a
            << LoopbackServer::Script::answer(QVariantList{
                   "OK", QString(),
                   host::encodePacket(
                       {{QStringLiteral("NRACESSONF"), host::FieldType::String, 50, false},
                        {QStringLiteral("NRNOTAFISC"), host::FieldType::String, 20, false}},
                       {{nota(1).NRACESSONF, numeroNota(99)}}),
                   nenhuma, nenhuma});
        QList<host::FieldDef> trocados = campos;
        QVariantList linhaTrocada = linha;
        for (int i = 0; i < trocados.size(); ++i) {
            if (trocados[i].name == u"VRNOTAFISC") {
                trocados[i] = {trocados[i].name, host::FieldType::String, 20, false};
                linhaTrocada[i] = QStringLiteral("mil reais");
            } else if (trocados[i].name == u"DTEMISSAO") {
                trocados[i] = {trocados[i].name, host::FieldType::Integer, 0, false};
                linhaTrocada[i] = 20260101;
            }
        }
        QTest::addRow("%s-wrong-types", n)
            << a
            << LoopbackServer::Script::answer(
                   QVariantList{"OK", QString(), host::encodePacket(trocados, {linhaTrocada}),
                                nenhuma, nenhuma});
        // Types that would convert are still another layout.
        QList<host::FieldDef> numeroTexto = campos;
        QVariantList linhaTexto = linha;
        for (int i = 0; i < numeroTexto.size(); ++i) {
            if (numeroTexto[i].name == u"VRNOTAFISC") {
                numeroTexto[i] = {numeroTexto[i].name, host::FieldType::String, 20, false};
                linhaTexto[i] = QStringLiteral("1000");
            }
        }
        QTest::addRow("%s-value-as-text", n)
            << a
            << LoopbackServer::Script::answer(
                   QVariantList{"OK", QString(), host::encodePacket(numeroTexto, {linhaTexto}),
                                nenhuma, nenhuma});
        // The right layout, its rows cut short: nothing of them is loaded.
        QTest::addRow("%s-rows-cut-short", n)
            << a
            << LoopbackServer::Script::answer(
                   QVariantList{"OK", QString(), notas.left(notas.size() - 8), nenhuma, nenhuma});
    }
    // The notes due now shown instead of the list: in another layout, not announced first.
    QTest::addRow("confirmar-due-now-other-layout")
        << Acao::Confirmar
        << LoopbackServer::Script::answer(QVariantList{
               "OK", QString(), notas, nenhuma,
               host::encodePacket({{QStringLiteral("X"), host::FieldType::String, 5, false}},
                                  {{QStringLiteral("x")}})});
    // Counts that are not numbers: nothing is written.
    for (Acao a : {Acao::GeraXml, Acao::DownloadXML}) {
        QTest::addRow("%s-counts-not-numbers", nomeDe(a))
            << a
            << LoopbackServer::Script::answer(QVariantList{a == Acao::GeraXml ? "S" : "D",
                                                           QString(), QStringLiteral("um"),
                                                           QStringLiteral("zero"), documentos});
    }
}

void TestFalhas::aGarbledAnswerLeavesEverythingAsItWas() {
    QFETCH(Acao, acao);
    QFETCH(LoopbackServer::Script, resposta);
    LoopbackServer servidor;
    servidor.script(metodo(acao), resposta);
    marca(marcasPara(acao));
    QTemporaryDir xmlDir(m_env.dir.filePath(QStringLiteral("lixo-XXXXXX")));
    QVERIFY(xmlDir.isValid());
    prepara(acao);
    const Estado antes = Estado::agora();
    apontaWorkspace(servidor.port());
    // A reply that never completes must not hold the test long.
    frmManifestacao->netManifestacao->SetTimeout(3000);

    ScriptedDialogs dlg;
    const QStringList inesperadas = executa(acao, dlg, xmlDir.path(), true);
    QVERIFY_DIALOGS(dlg);
    QVERIFY2(inesperadas.isEmpty(), qPrintable(inesperadas.join(u',')));
    const QString texto = dlg.texts().value(0);
    QVERIFY2(texto.startsWith(kInvalida) && texto.contains(metodo(acao)), qPrintable(texto));
    QCOMPARE(servidor.received().size(), 1);
    QCOMPARE(host::Showavi::Level(), 0);
    QCOMPARE(m_conclusoes, 0);
    const QString diferente = Estado::agora().diferencas(antes);
    QVERIFY2(diferente.isEmpty(), qPrintable(diferente));
    QCOMPARE(arquivosEm(xmlDir.path()), QStringList());
}

QTEST_MAIN(TestFalhas)
#include "tst_falhas.moc"

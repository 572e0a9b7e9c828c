// The XML commands as the clerk runs them from the workspace, against the real application
// server and database, into a temporary directory: the files generation and download write (the
// server's documents, declaration set, schema-valid, signature intact), the hourly limit, the
// refusals before anything is asked, a hostile answer, and the suite's two modules opened with
// their parameters.

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "Cli_Dfe58160.h"
#include "appserver.h"
#include "companydb.h"
#include "core/clientdataset.h"
#include "core/orvanta.h"
#include "core/packet.h"
#include "fiscaldocs.h"
#include "modaldriver.h"
#include "net/netconnection.h"
#include "sql/databasemodule.h"
#include "store.h"
#include "support/loopbackserver.h"
#include "support/scripteddialogs.h"
#include "ui/dateeditplus.h"
#include "ui/handler.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"
#include "workspacefixture.h"

using host::MsgButton;
using host::test::ScriptedDialogs;

namespace {

const QString kRegistro = QStringLiteral("48210375000102");  // company 01
const QString kDeclaracao = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
const QString kLimiteConsulta = QStringLiteral(
    "Alguns XMLs não foram baixados pois só será permitido o download de 20 XMLs por hora, vide "
    "alteração nas consultas por chave de acesso na versão 1.12 da NT 2014.002.");

// Notes 1 to 4 have their XML available (4 with an alphanumeric issuer CNPJ), 5 has not; 10 to
// 34 had a Ciência; 40 is booked in branch 0003 as entry 123.
dfe58000::NoteRecord nota(int numero) {
    const QString emitente = fiscal::completeCnpj(numero == 4 ? QStringLiteral("AB12CD340001")
                                                              : QStringLiteral("062741180001"));
    dfe58000::NoteRecord n = notaBase(numero, kRegistro, emitente);
    n.IDSTATUSMANIF = numero >= 10 && numero < 40 ? QStringLiteral("4") : QStringLiteral("0");
    n.IDARQXMLNFE = numero <= 4 ? QStringLiteral("S") : QStringLiteral("N");
    n.DTEMISSAO = QDateTime(QDate::currentDate().addDays(-2), QTime(8, 0));
    n.DTRECBTO = QDateTime(QDate::currentDate().addDays(-1), QTime(9, 5));
    n.VRNOTAFISC = 1000.0 + numero;
    if (numero == 40) {
        n.CDFILIAL = QStringLiteral("0003");
        n.NRLANCTONF = QStringLiteral("123");
    }
    return n;
}

struct Conclusao {
    QString sucesso, erro;
    bool soLimite = false;
    int vezes = 0;
};

QByteArray conteudo(const QString& arquivo) {
    QFile f(arquivo);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList arquivosEm(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

}  // namespace

class TestXmlArquivos : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void generationWritesTheServersDocuments();
    void cancelledOrUnwritableDirectoryAsksNothing();
    void aHostileAnswerWritesNothingOutside();
    void suiteModulesOpenWithTheirParameters();
    void downloadWithinAndPastTheHourlyLimit();
    void aFailedDownloadShowsItsTextOnly();

  private:
    void consulta();
    void marca(const QList<int>& numeros);
    int pedidos(const QString& metodo) const;
    std::function<bool(QWidget*)> fechaConclusao(Conclusao& lida);
    // Runs the command (by its button when enabled, else its handler, whose own checks are
    // under test) against the dialogs scripted before, the chosen directory first; what the
    // completion dialog showed.
    Conclusao executa(QAbstractButton* botao, void (TfrmManifestacao::*handler)());

    ManifestacaoEnv m_env;
};

void TestXmlArquivos::initTestCase() {
    QList<dfe58000::NoteRecord> notas;
    for (int n = 1; n <= 40; ++n) {
        if (n <= 5 || n >= 10) {
            notas << nota(n);
        }
    }
    const QString erro = m_env.start(ManifestacaoEnv::Opcoes::doOperador(notas));
    QVERIFY2(erro.isEmpty(), qPrintable(erro));
}

void TestXmlArquivos::cleanupTestCase() {
    m_env.stop();
    QVERIFY_DIALOGS(*m_env.guarda);
}

void TestXmlArquivos::init() {
    consulta();
    m_env.server->clearReceivedRequests();
}

void TestXmlArquivos::consulta() {
    QVERIFY(preencheFiltro(kRegistro));
    QVERIFY(confirmaFiltro());
    QCOMPARE(frmManifestacao->cdsNotasDestinadas->RecordCount(), 36);
}

void TestXmlArquivos::marca(const QList<int>& numeros) {
    QVERIFY(marcaNotas(numeros));
}

int TestXmlArquivos::pedidos(const QString& metodo) const {
    return m_env.pedidos(metodo);
}

std::function<bool(QWidget*)> TestXmlArquivos::fechaConclusao(Conclusao& lida) {
    return [&lida](QWidget* modal) {
        if (modal != frmConcluiXML) {
            return false;
        }
        lida.sucesso = frmConcluiXML->lblSucesso->text();
        lida.erro = frmConcluiXML->lblErro->text();
        lida.soLimite = frmConcluiXML->lblLimite->isVisibleTo(frmConcluiXML) &&
                        !frmConcluiXML->lblSucesso->isVisibleTo(frmConcluiXML);
        ++lida.vezes;
        frmConcluiXML->btpOk->click();
        return true;
    };
}

Conclusao TestXmlArquivos::executa(QAbstractButton* botao, void (TfrmManifestacao::*handler)()) {
    Conclusao lida;
    ModalDriver driver(fechaConclusao(lida));
    if (botao->isEnabled()) {
        botao->click();
    } else {
        host::runHandler(frmManifestacao, [handler] { (frmManifestacao->*handler)(); });
    }
    if (!driver.unexpected().isEmpty()) {
        lida.vezes = -1;
    }
    return lida;
}

// Generation of four notes, one without its XML: a file for each document the server sent,
// named by its key, the server's bytes after the declaration, valid and still signed.
void TestXmlArquivos::generationWritesTheServersDocuments() {
    const QString destino = m_env.dir.filePath(QStringLiteral("gerados"));
    QVERIFY(QDir().mkpath(destino));
    marca({1, 2, 4, 5});
    ScriptedDialogs dlg;
    dlg.setNextDirectory(destino);
    const Conclusao lida = executa(frmManifestacao->sbtGeraXML, &TfrmManifestacao::sbtGeraXMLClick);
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(lida.vezes, 1);
    QVERIFY2(lida.sucesso.contains(u'3') && lida.erro.contains(u'1'),
             qPrintable(lida.sucesso + u'|' + lida.erro));
    QCOMPARE(pedidos(QStringLiteral("GeraXml")), 1);
    QCOMPARE(m_env.server->receivedRequests().value(0).args.value(1).toString(),
             QStringLiteral("CLERK01"));
    // Verified afterwards: the marks are gone.
    QCOMPARE(inMarcados, 0);
    QCOMPARE(host::Showavi::Level(), 0);

    QStringList esperados;
    for (int n : {1, 2, 4}) {
        esperados << QStringLiteral("NFe") + nota(n).NRACESSONF + QStringLiteral(".xml");
    }
    esperados.sort();
    QCOMPARE(arquivosEm(destino), esperados);
    QVERIFY(esperados.filter(QStringLiteral("AB12CD34")).size() == 1);

    // Byte for byte the server's document, only the declaration set.
    host::TClientDataSet& docs = *frmManifestacao->cdsDocumentoXML;
    for (docs.First(); !docs.Eof(); docs.Next()) {
        const QString texto = docs.FieldByName(QStringLiteral("DSTEXTOXML")).AsString();
        if (texto.isEmpty()) {
            continue;
        }
        const QByteArray bytes = conteudo(QDir(destino).filePath(
            QStringLiteral("NFe") + docs.FieldByName(QStringLiteral("NRACESSONF")).AsString() +
            QStringLiteral(".xml")));
        QVERIFY(bytes.startsWith(kDeclaracao.toUtf8()));
        const qsizetype fim =
            texto.startsWith(QStringLiteral("<?xml")) ? texto.indexOf(QStringLiteral("?>")) + 2 : 0;
        QVERIFY(bytes.endsWith(texto.mid(fim).toUtf8()));
    }

    if (QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xmlsec1")).isEmpty()) {
        QSKIP("xmllint and xmlsec1 are needed (scripts/install-deps installs them)");
    }
    for (const QString& nome : esperados) {
        const QString arquivo = QDir(destino).filePath(nome);
        for (const QStringList& args :
             {QStringList{QStringLiteral("xmllint"), "--noout", "--nonet", "--schema",
                          ORVANTA_SOURCE_DIR "/../shared/schemas/nfe/procNFe_v4.00.xsd", arquivo},
              QStringList{QStringLiteral("xmlsec1"), "--verify", "--pubkey-cert-pem",
                          m_env.dir.filePath("cert/cert.pem"), "--id-attr:Id",
                          "http://www.portalfiscal.inf.br/nfe:infNFe", arquivo}}) {
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(QStandardPaths::findExecutable(args.first()), args.mid(1));
            QVERIFY(p.waitForFinished(60000));
            QVERIFY2(p.exitCode() == 0, qPrintable(args.first() + u' ' + nome + u'\n' +
                                                   QString::fromLocal8Bit(p.readAll())));
        }
    }
}

// A cancelled chooser does nothing at all; a directory that cannot take files is named before
// anything is asked of the server. The marks stay either way.
void TestXmlArquivos::cancelledOrUnwritableDirectoryAsksNothing() {
    marca({10, 11});
    using Handler = void (TfrmManifestacao::*)();
    const QList<std::pair<QAbstractButton*, Handler>> comandos = {
        {frmManifestacao->sbtGeraXML, &TfrmManifestacao::sbtGeraXMLClick},
        {frmManifestacao->sbtDownloadXML, &TfrmManifestacao::sbtDownloadXMLClick}};
    for (const auto& [botao, handler] : comandos) {
        {
            ScriptedDialogs dlg;
            dlg.setNextDirectory(QString());
            const Conclusao lida = executa(botao, handler);
            QVERIFY_DIALOGS(dlg);
            QCOMPARE(lida.vezes, 0);
        }
        // /proc takes no new file, not even from root.
        for (const QString& dir :
             {QStringLiteral("/proc"), m_env.dir.filePath(QStringLiteral("nao-existe"))}) {
            ScriptedDialogs dlg;
            dlg.setNextDirectory(dir);
            dlg.expectError();
            const Conclusao lida = executa(botao, handler);
            QVERIFY_DIALOGS(dlg);
            QVERIFY2(dlg.texts().value(0).contains(dir), qPrintable(dlg.texts().value(0)));
            QCOMPARE(lida.vezes, 0);
        }
    }
    QCOMPARE(m_env.server->receivedRequests().size(), 0);
    QCOMPARE(inMarcados, 2);
    QCOMPARE(host::Showavi::Level(), 0);
}

// A server that answers with a key that is a path, a document with a DTD, a row without text
// and the same key twice: nothing leaves the directory, the refused are named, the later of two
// documents of one key is the one kept, and the counts shown are the server's.
void TestXmlArquivos::aHostileAnswerWritesNothingOutside() {
    marca({1});
    testsupport::LoopbackServer hostil;
    host::TNetConnection& net = *frmManifestacao->netManifestacao;
    auto aponta = [&net](int porta) {
        host::LoginContext ctx = host::Orvanta::context();
        ctx.webPort = porta;
        host::Orvanta::setContext(ctx);
        net.SetConnected(false);
    };
    const auto volta = qScopeGuard([&] { aponta(m_env.server->port()); });

    // The verification afterwards gets the real server's answer to the same query.
    host::TNetConnection real;
    real.SetServerName(QStringLiteral("DFE58000.rdmManifestacao"));
    real.SetHost(QStringLiteral("127.0.0.1"));
    real.SetPort(m_env.server->port());
    QVariantList consultaArgs;
    for (const auto& r : m_env.server->receivedRequests()) {
        if (r.method == u"GetNotasDestinadas") {
            consultaArgs = r.args;
        }
    }
    if (consultaArgs.isEmpty()) {
        consulta();
        marca({1});
        for (const auto& r : m_env.server->receivedRequests()) {
            if (r.method == u"GetNotasDestinadas") {
                consultaArgs = r.args;
            }
        }
    }
    QVERIFY(!consultaArgs.isEmpty());
    hostil.script(QStringLiteral("GetNotasDestinadas"),
                  testsupport::LoopbackServer::Script::answer(
                      real.AppServer(QStringLiteral("GetNotasDestinadas"), consultaArgs)));

    const QString valida = nota(1).NRACESSONF;
    const QString doc = QStringLiteral(
        "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
        "%1</nfeProc>");
    const QList<host::FieldDef> campos = {
        {QStringLiteral("NRACESSONF"), host::FieldType::String, 44, false},
        {QStringLiteral("DSTEXTOXML"), host::FieldType::Memo, 0, false},
        {QStringLiteral("CDSTATUS"), host::FieldType::String, 3, false},
        {QStringLiteral("DSSTATUS"), host::FieldType::String, 4000, false}};
    const QByteArray pacote = host::encodePacket(
        campos,
        {{QStringLiteral("../../fora"), doc.arg(1), QStringLiteral("S"), QString()},
         {valida,
          QStringLiteral("<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>") +
              doc.arg(QStringLiteral("&e;")),
          QStringLiteral("S"), QString()},
         {nota(2).NRACESSONF, QString(), QStringLiteral("E"), QStringLiteral("sem XML")},
         {nota(4).NRACESSONF, doc.arg(QStringLiteral("primeiro")), QStringLiteral("S"), QString()},
         {nota(4).NRACESSONF,
          QStringLiteral("<?xml version='1.0' encoding='ISO-8859-1'?>\n") +
              doc.arg(QStringLiteral("segundo")),
          QStringLiteral("S"), QString()}});
    hostil.script(
        QStringLiteral("GeraXml"),
        testsupport::LoopbackServer::Script::answer(QVariantList{
            QStringLiteral("S"), QString(), QStringLiteral("7"), QStringLiteral("9"), pacote}));
    aponta(hostil.port());

    const QString base = m_env.dir.filePath(QStringLiteral("hostil"));
    const QString destino = base + QStringLiteral("/a/b");
    QVERIFY(QDir().mkpath(destino));
    ScriptedDialogs dlg;
    dlg.setNextDirectory(destino + u'/');
    dlg.expectMessage(QString(), host::MsgType::Warning, MsgButton::Ok);
    const Conclusao lida = executa(frmManifestacao->sbtGeraXML, &TfrmManifestacao::sbtGeraXMLClick);
    QVERIFY_DIALOGS(dlg);
    const QString aviso = dlg.texts().value(0);
    QVERIFY2(aviso.contains(QStringLiteral("../../fora")) && aviso.contains(valida) &&
                 aviso.contains(QStringLiteral("DTD")),
             qPrintable(aviso));
    QVERIFY2(lida.sucesso.contains(u'7') && lida.erro.contains(u'9'),
             qPrintable(lida.sucesso + u'|' + lida.erro));

    const QString unico = QStringLiteral("NFe") + nota(4).NRACESSONF + QStringLiteral(".xml");
    QCOMPARE(arquivosEm(destino), QStringList{unico});
    QCOMPARE(arquivosEm(base), QStringList{});
    QCOMPARE(arquivosEm(base + QStringLiteral("/a")), QStringList{});
    QCOMPARE(conteudo(QDir(destino).filePath(unico)),
             (kDeclaracao + u'\n' + doc.arg(QStringLiteral("segundo"))).toUtf8());
}

// Document viewing opens DFE15200 with the note's branch and entry, in that order; the
// synchronisation wants the legal registration, then opens DFE59000 with it and verifies.
void TestXmlArquivos::suiteModulesOpenWithTheirParameters() {
    // Both codes answered by the recording test module.
    QTemporaryDir modulos;
    for (const char* code : {"DFE15200", "DFE59000"}) {
        QVERIFY(QFile::copy(QStringLiteral(ORVANTA_TEST_MODULE_DIR "/libTST00001.so"),
                            modulos.filePath(QStringLiteral("lib%1.so").arg(QLatin1String(code)))));
    }
    host::LoginContext ctx = host::Orvanta::context();
    const QString antes = ctx.moduleDir;
    ctx.moduleDir = modulos.path();
    host::Orvanta::setContext(ctx);
    const auto volta = qScopeGuard([&] {
        host::LoginContext c = host::Orvanta::context();
        c.moduleDir = antes;
        host::Orvanta::setContext(c);
    });
    QCoreApplication* app = QCoreApplication::instance();
    auto recebidos = [app] { return host::Orvanta::paramTexts(app->property("tst00001.params")); };

    QVERIFY(frmManifestacao->cdsNotasDestinadas->Locate(QStringLiteral("NRNOTAFISC"),
                                                        QStringLiteral("000000040")));
    QVERIFY(frmManifestacao->sbtVisualizarDocumento->isEnabled());
    frmManifestacao->sbtVisualizarDocumento->click();
    QCOMPARE(recebidos(), (QStringList{QStringLiteral("0003"), QStringLiteral("123")}));
    QCOMPARE(m_env.server->receivedRequests().size(), 0);

    marca({12});
    app->setProperty("tst00001.params", QVariant());
    const QString registro = frmFiltro->medInscrJurid->Text();
    {
        frmFiltro->medInscrJurid->SetText(QString());
        ScriptedDialogs dlg;
        dlg.expectError(QStringLiteral("Inscrição jurídica deve ser informada."));
        frmManifestacao->sbtSincronizarNFE->click();
        QVERIFY_DIALOGS(dlg);
        QVERIFY(!app->property("tst00001.params").isValid());
        frmFiltro->medInscrJurid->SetText(registro);
    }
    frmManifestacao->sbtSincronizarNFE->click();
    QCOMPARE(recebidos(), QStringList{registro});
    // The list was queried again.
    QCOMPARE(pedidos(QStringLiteral("GetNotasDestinadas")), 1);
    QCOMPARE(inMarcados, 0);
}

// Twenty-five notes with a Ciência: twenty come, then the notice of the limit and the counts
// 20 and 5; one more inside the hour gets only the limit's notice.
void TestXmlArquivos::downloadWithinAndPastTheHourlyLimit() {
    QList<int> numeros;
    for (int n = 10; n < 35; ++n) {
        numeros << n;
    }
    marca(numeros);
    const QString destino = m_env.dir.filePath(QStringLiteral("baixados"));
    QVERIFY(QDir().mkpath(destino));
    {
        ScriptedDialogs dlg;
        dlg.setNextDirectory(destino);
        dlg.expectMessage(kLimiteConsulta, host::MsgType::Warning, MsgButton::Ok);
        const Conclusao lida =
            executa(frmManifestacao->sbtDownloadXML, &TfrmManifestacao::sbtDownloadXMLClick);
        QVERIFY_DIALOGS(dlg);
        QCOMPARE(lida.vezes, 1);
        QVERIFY(!lida.soLimite);
        QVERIFY2(lida.sucesso.contains(QStringLiteral("20")) && lida.erro.contains(u'5'),
                 qPrintable(lida.sucesso + u'|' + lida.erro));
    }
    QCOMPARE(arquivosEm(destino).size(), 20);
    const QList<host::wire::Request> rec = m_env.server->receivedRequests();
    QCOMPARE(rec.value(0).method, QStringLiteral("DownloadXML"));
    QCOMPARE(rec.value(0).args.value(1).toString(), frmFiltro->medInscrJurid->Text());
    QCOMPARE(inMarcados, 0);

    marca({35 - 1});
    ScriptedDialogs dlg;
    dlg.setNextDirectory(destino);
    const Conclusao lida =
        executa(frmManifestacao->sbtDownloadXML, &TfrmManifestacao::sbtDownloadXMLClick);
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(lida.vezes, 1);
    QVERIFY(lida.soLimite);
    QCOMPARE(arquivosEm(destino).size(), 20);
}

// Last: the server cannot keep its download log; its text is shown, no dialog, no file, the
// marks stay.
void TestXmlArquivos::aFailedDownloadShowsItsTextOnly() {
    {
        dfe58000::Store store(m_env.url);
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("DROP TABLE DOWNLOADLOG")));
    }
    marca({36});
    const QString destino = m_env.dir.filePath(QStringLiteral("falha"));
    QVERIFY(QDir().mkpath(destino));
    ScriptedDialogs dlg;
    dlg.setNextDirectory(destino);
    dlg.expectError();
    const Conclusao lida =
        executa(frmManifestacao->sbtDownloadXML, &TfrmManifestacao::sbtDownloadXMLClick);
    QVERIFY_DIALOGS(dlg);
    QVERIFY2(dlg.texts().value(0).contains(QStringLiteral("DOWNLOADLOG"), Qt::CaseInsensitive),
             qPrintable(dlg.texts().value(0)));
    QCOMPARE(lida.vezes, 0);
    QCOMPARE(arquivosEm(destino), QStringList{});
    QCOMPARE(inMarcados, 1);
    QCOMPARE(host::Showavi::Level(), 0);
}

QTEST_MAIN(TestXmlArquivos)
#include "tst_xmlarquivos.moc"

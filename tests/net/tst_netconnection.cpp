#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPoint>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <QtEndian>
#include <QtTest>
#include <memory>

#include "core/hosterror.h"
#include "net/netconnection.h"
#include "net/wire.h"
#include "support/loopbackserver.h"

using namespace host;
using testsupport::LoopbackServer;
using Script = LoopbackServer::Script;

namespace {

const QString kServerName = QStringLiteral("DFE58000.rdmManifestacao");

// Where the before-connect step finds the server, as the login context would hold it.
struct Target {
    QString host = QStringLiteral("127.0.0.1");
    int port = 0;
    int connects = 0;
};

void bind(TNetConnection& conn, Target& target) {
    conn.SetServerName(kServerName);
    conn.OnBeforeConnect = [&target](TNetConnection& c) {
        ++target.connects;
        c.SetHost(target.host);
        c.SetPort(target.port);
    };
}

QString netErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ENetError& e) {
        return e.text();
    }
    return QStringLiteral("<no ENetError>");
}

// Whether f fails as a call whose request went out and whose reply never came.
bool callLost(const std::function<void()>& f) {
    try {
        f();
    } catch (const ENetCallLost&) {
        return true;
    } catch (const ENetError&) {
    }
    return false;
}

// A port on 127.0.0.1 that nobody listens on.
int closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray header(quint32 length) {
    QByteArray h(4, '\0');
    qToBigEndian(length, h.data());
    return h;
}

}  // namespace

class TestNetConnection : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void valuesTravelBothWays();
    void requestCarriesServerMethodAndArguments();
    void beforeConnectRunsAtEveryConnection();
    void beforeConnectFailurePassesUnchanged();
    void missingAddressIsReported();
    void refusedConnectionIsReported();
    void droppedCallIsReportedAndNextCallReconnects();
    void slowServerTimesOut();
    void lateReplyNeverAnswersTheNextCall();
    void malformedReplyIsReported_data();
    void malformedReplyIsReported();
    void serverErrorKeepsTheConnection();
    void replyArrivingInPiecesIsAssembled();
    void connectionClosedWhileIdleIsReplaced();
    void badArgumentsFailBeforeConnecting();
    void nestedCallIsRefused();
    void closeDuringCallEndsIt();
    void deletingDuringCallDoesNotCrash();
    void openCloseAndConnectedProperty();

  private:
    std::unique_ptr<LoopbackServer> m_server;
};

void TestNetConnection::init() {
    m_server = std::make_unique<LoopbackServer>();
}

void TestNetConnection::valuesTravelBothWays() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    m_server->script("Echo", Script::echo());

    const QByteArray packet("\x00\x01packet\xff", 9);
    const QDateTime stamp(QDate(2024, 3, 10), QTime(8, 30, 15, 250));
    const QVariantList args{
        QVariant(),
        true,
        42,
        qlonglong(1) << 40,
        -3.75,
        QString("Ciência da Operação"),
        packet,
        QDate(2024, 1, 31),
        stamp,
        QVariantList{QString("OK"), packet, QVariantList{QDate(2023, 12, 1), QByteArray("p2")}},
    };
    const QVariant result = conn.AppServer("Echo", args);
    QCOMPARE(result.typeId(), QMetaType::QVariantList);
    const QVariantList back = result.toList();
    QCOMPARE(back.size(), args.size());
    QVERIFY(!back[0].isValid());
    QCOMPARE(back[3].typeId(), QMetaType::LongLong);
    QCOMPARE(back[6].typeId(), QMetaType::QByteArray);
    QCOMPARE(back[7].typeId(), QMetaType::QDate);
    QCOMPARE(back[8].toDateTime(), stamp);
    QCOMPARE(back, args);
}

void TestNetConnection::requestCarriesServerMethodAndArguments() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    const QByteArray notes("notes-packet");
    m_server->script("GetNotasDestinadas",
                     Script::answer(QVariantList{"OK", "", notes, QByteArray(), QByteArray()}));

    QVariantList args;
    for (int i = 1; i <= 17; ++i) {
        args.append(QString::number(i));
    }
    args[13] = QDate(2024, 1, 1);
    args[14] = QDate(2024, 1, 31);
    const QVariantList result = conn.AppServer("GetNotasDestinadas", args).toList();

    QCOMPARE(result.value(0).toString(), QString("OK"));
    QCOMPARE(result.value(2).toByteArray(), notes);
    QCOMPARE(m_server->received().size(), 1);
    const auto& got = m_server->received().first();
    QCOMPARE(got.server, kServerName);
    QCOMPARE(got.method, QString("GetNotasDestinadas"));
    QCOMPARE(got.args, args);
    QVERIFY(conn.Connected());
}

void TestNetConnection::beforeConnectRunsAtEveryConnection() {
    LoopbackServer other;
    m_server->script("Where", Script::answer("A"));
    other.script("Where", Script::answer("B"));

    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);

    QCOMPARE(conn.AppServer("Where").toString(), QString("A"));
    QCOMPARE(target.connects, 1);

    // Still connected: a new address in the login context waits for the next connection.
    target.port = other.port();
    QCOMPARE(conn.AppServer("Where").toString(), QString("A"));
    QCOMPARE(target.connects, 1);
    QCOMPARE(conn.Port(), int(m_server->port()));

    conn.Close();
    QVERIFY(!conn.Connected());
    QCOMPARE(conn.AppServer("Where").toString(), QString("B"));
    QCOMPARE(target.connects, 2);
    QCOMPARE(conn.Port(), int(other.port()));
    QCOMPARE(other.connectionsAccepted(), 1);

    // Open() is a connection too.
    conn.Close();
    target.port = m_server->port();
    conn.Open();
    QCOMPARE(target.connects, 3);
    QCOMPARE(conn.AppServer("Where").toString(), QString("A"));
}

void TestNetConnection::beforeConnectFailurePassesUnchanged() {
    TNetConnection conn;
    conn.OnBeforeConnect = [](TNetConnection&) {
        throw EHostError("Contexto de login não carregado.");
    };
    try {
        conn.AppServer("Anything");
        QFAIL("no exception");
    } catch (const ENetError&) {
        QFAIL("the host's failure was turned into a connection failure");
    } catch (const EHostError& e) {
        QCOMPARE(e.text(), QString("Contexto de login não carregado."));
    }
    QVERIFY(!conn.Connected());
    QCOMPARE(m_server->connectionsAccepted(), 0);
}

void TestNetConnection::missingAddressIsReported() {
    Target target;  // port 0: the login context has no server
    TNetConnection conn;
    bind(conn, target);
    const QString text = netErrorOf([&] { conn.AppServer("GeraXml"); });
    QVERIFY2(text.startsWith("Servidor de aplicação não configurado"), qPrintable(text));
    QVERIFY2(text.contains("porta 0"), qPrintable(text));

    target.host = "  ";
    target.port = m_server->port();
    QVERIFY(netErrorOf([&] { conn.AppServer("GeraXml"); }).contains("não configurado"));
}

void TestNetConnection::refusedConnectionIsReported() {
    Target target{.port = closedPort()};
    TNetConnection conn;
    bind(conn, target);
    conn.SetThrowException(false);  // failures raise all the same

    const QString text = netErrorOf([&] { conn.AppServer("GeraXml", {QByteArray("p"), "OP"}); });
    const QString prefix =
        QString("Não foi possível conectar ao servidor de aplicação 127.0.0.1:%1: ")
            .arg(target.port);
    QVERIFY2(text.startsWith(prefix), qPrintable(text));
    QVERIFY2(text.size() > prefix.size() + 3, qPrintable(text));  // the system's reason follows
    QVERIFY(!conn.Connected());
    // Nothing was sent: the failure is not one whose outcome is unknown.
    QVERIFY(!callLost([&] { conn.AppServer("GeraXml", {QByteArray("p"), "OP"}); }));

    // Once the server is there, the next call connects.
    target.port = m_server->port();
    m_server->script("GeraXml", Script::answer("S"));
    QCOMPARE(conn.AppServer("GeraXml", {QByteArray("p"), "OP"}).toString(), QString("S"));
    QCOMPARE(target.connects, 3);
}

void TestNetConnection::droppedCallIsReportedAndNextCallReconnects() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    m_server->script("setManifestacao", Script::drop());

    const QString text = netErrorOf([&] { conn.AppServer("setManifestacao", {"1"}); });
    QVERIFY2(text.startsWith(QString("A conexão com o servidor de aplicação 127.0.0.1:%1 foi "
                                     "interrompida durante %2.setManifestacao")
                                 .arg(m_server->port())
                                 .arg(kServerName)),
             qPrintable(text));
    QVERIFY(!text.contains("incompleta"));
    QVERIFY(!conn.Connected());
    QVERIFY(callLost([&] { conn.AppServer("setManifestacao", {"1"}); }));

    m_server->script("setManifestacao", Script::answer(QVariantList{"OK", "", "1", "0"}));
    QCOMPARE(conn.AppServer("setManifestacao", {"1"}).toList().value(2).toString(), QString("1"));
    QCOMPARE(target.connects, 3);
    QCOMPARE(m_server->connectionsAccepted(), 3);
}

void TestNetConnection::slowServerTimesOut() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    conn.SetTimeout(300);
    m_server->script("DownloadXML", Script::silent());

    QElapsedTimer clock;
    clock.start();
    const QString text = netErrorOf([&] { conn.AppServer("DownloadXML"); });
    const qint64 waited = clock.elapsed();
    QVERIFY2(text == QString("O servidor de aplicação 127.0.0.1:%1 não respondeu a "
                             "DFE58000.rdmManifestacao.DownloadXML em 300 ms.")
                         .arg(m_server->port()),
             qPrintable(text));
    QVERIFY2(waited >= 290 && waited < 5000, qPrintable(QString::number(waited)));
    QVERIFY(!conn.Connected());
    QVERIFY(callLost([&] { conn.AppServer("DownloadXML"); }));
    QVERIFY(netErrorOf([&] { conn.SetTimeout(-1); }).contains("Tempo limite inválido"));
    QCOMPARE(conn.Timeout(), 300);
    QCOMPARE(TNetConnection().Timeout(), TNetConnection::kDefaultTimeout);
}

void TestNetConnection::lateReplyNeverAnswersTheNextCall() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    conn.SetTimeout(150);
    Script late = Script::answer("late");
    late.delayMs = 400;
    m_server->script("Ask", late);

    QVERIFY(netErrorOf([&] { conn.AppServer("Ask"); }).contains("não respondeu"));

    m_server->script("Ask", Script::answer("fresh"));
    conn.SetTimeout(2000);
    QTest::qWait(350);  // the late answer of the first call goes out meanwhile
    QCOMPARE(conn.AppServer("Ask").toString(), QString("fresh"));
    QCOMPARE(m_server->connectionsAccepted(), 2);
}

void TestNetConnection::malformedReplyIsReported_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("closeAfter");
    QTest::addColumn<QString>("needle");

    const QByteArray ok = wire::replyFrame(wire::Reply::success("ok"));
    QTest::newRow("garbage payload") << wire::frame("\xff\xfe garbage") << false << "inválid";
    QTest::newRow("not a map") << wire::frame(wire::encodeValue(QVariantList{1})) << false
                               << "não é um mapa";
    QTest::newRow("neither result nor error")
        << wire::frame(QByteArray::fromHex("a0")) << false << "sem \"result\" nem \"error\"";
    QTest::newRow("absurd length") << header(0xffffffffu) + "junk" << false << "acima do limite";
    QTest::newRow("zero length") << header(0) << false << "tamanho zero";
    QTest::newRow("extra bytes after reply") << ok + "zz" << false << "dados a mais";
    QTest::newRow("two replies") << ok + ok << false << "dados a mais";
    QTest::newRow("truncated then closed")
        << ok.left(ok.size() - 2) << true << "(resposta incompleta)";
    QTest::newRow("header cut then closed") << ok.left(2) << true << "(resposta incompleta)";
}

void TestNetConnection::malformedReplyIsReported() {
    QFETCH(QByteArray, raw);
    QFETCH(bool, closeAfter);
    QFETCH(QString, needle);

    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    conn.SetTimeout(3000);
    Script s = Script::rawBytes(raw);
    s.closeAfter = closeAfter;
    m_server->script("GetNotasDestinadas", s);

    const QString text = netErrorOf([&] { conn.AppServer("GetNotasDestinadas"); });
    QVERIFY2(text.contains(needle), qPrintable(text));
    if (!closeAfter) {
        QVERIFY2(text.startsWith("Resposta inválida do servidor de aplicação 127.0.0.1:"),
                 qPrintable(text));
    }
    QVERIFY(!conn.Connected());

    // The broken connection is gone; the next call starts a clean one.
    m_server->script("GetNotasDestinadas", Script::answer("OK"));
    QCOMPARE(conn.AppServer("GetNotasDestinadas").toString(), QString("OK"));
    QCOMPARE(target.connects, 2);
}

void TestNetConnection::serverErrorKeepsTheConnection() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    m_server->script("getCarregaPesquisas", Script::fail("Empresa 99 não encontrada."));

    try {
        conn.AppServer("getCarregaPesquisas", {"99"});
        QFAIL("no exception");
    } catch (const ENetError& e) {
        QCOMPARE(e.text(), QString("Empresa 99 não encontrada."));
    }
    QVERIFY(conn.Connected());

    m_server->script("getCarregaPesquisas", Script::fail(""));
    QVERIFY(netErrorOf([&] {
                conn.AppServer("getCarregaPesquisas", {"99"});
            }).contains("recusou DFE58000.rdmManifestacao.getCarregaPesquisas sem informar"));

    // The method nobody scripted: the server's own error text comes through too.
    QCOMPARE(netErrorOf([&] { conn.AppServer("Inexistente"); }),
             QString("Método desconhecido: Inexistente"));
    QCOMPARE(target.connects, 1);
    QCOMPARE(m_server->connectionsAccepted(), 1);
}

void TestNetConnection::replyArrivingInPiecesIsAssembled() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    QByteArray big(300 * 1024, '\0');
    for (qsizetype i = 0; i < big.size(); ++i) {
        big[i] = char(i * 7 % 251);
    }
    Script s = Script::answer(QVariantList{"S", "", "1", "0", big});
    s.chunkSize = 64 * 1024 + 3;
    m_server->script("GeraXml", s);

    const QVariantList result = conn.AppServer("GeraXml", {QByteArray("m"), "OP"}).toList();
    QCOMPARE(result.value(4).toByteArray(), big);

    Script tiny = Script::answer("pieces");
    tiny.chunkSize = 1;  // even the header comes a byte at a time
    m_server->script("GeraXml", tiny);
    QCOMPARE(conn.AppServer("GeraXml").toString(), QString("pieces"));
}

void TestNetConnection::connectionClosedWhileIdleIsReplaced() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    Script once = Script::answer("first");
    once.closeAfter = true;
    m_server->script("Ask", once);

    QCOMPARE(conn.AppServer("Ask").toString(), QString("first"));
    // No event processing in between: the call itself must notice the closed socket.
    m_server->script("Ask", Script::answer("second"));
    QCOMPARE(conn.AppServer("Ask").toString(), QString("second"));
    QCOMPARE(m_server->connectionsAccepted(), 2);
    QCOMPARE(target.connects, 2);

    // A server restart while idle: Connected() follows once the close is seen.
    m_server->closeClients();
    QTRY_VERIFY(!conn.Connected());
    QCOMPARE(conn.AppServer("Ask").toString(), QString("second"));
    QCOMPARE(target.connects, 3);
}

void TestNetConnection::badArgumentsFailBeforeConnecting() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    const QString text = netErrorOf([&] {
        conn.AppServer("GetNotasDestinadas", {"1", QPoint(1, 2)});
    });
    QVERIFY2(text.contains("QPoint"), qPrintable(text));
    QVERIFY(netErrorOf([&] { conn.AppServer(" "); }).contains("sem nome de método"));
    QCOMPARE(target.connects, 0);
    QCOMPARE(m_server->connectionsAccepted(), 0);
}

void TestNetConnection::nestedCallIsRefused() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    conn.SetTimeout(400);
    m_server->script("Slow", Script::silent());

    QString nested;
    QTimer::singleShot(50, this, [&] { nested = netErrorOf([&] { conn.AppServer("Other"); }); });
    QVERIFY(netErrorOf([&] { conn.AppServer("Slow"); }).contains("não respondeu"));
    QVERIFY2(nested.contains("em andamento"), qPrintable(nested));
    QVERIFY(nested.contains("DFE58000.rdmManifestacao.Other"));
    QCOMPARE(m_server->received().size(), 1);

    // The refusal did not leave the connection thinking it is still busy.
    m_server->script("Other", Script::answer(1));
    QCOMPARE(conn.AppServer("Other").toInt(), 1);
}

void TestNetConnection::closeDuringCallEndsIt() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);
    conn.SetTimeout(0);  // no limit: only the close can end this call
    m_server->script("Slow", Script::silent());

    QTimer::singleShot(50, this, [&] { conn.Close(); });
    const QString text = netErrorOf([&] { conn.AppServer("Slow"); });
    QVERIFY2(text.contains("foi interrompida"), qPrintable(text));
    QVERIFY(!conn.Connected());
}

void TestNetConnection::deletingDuringCallDoesNotCrash() {
    Target target{.port = m_server->port()};
    auto* conn = new TNetConnection;
    bind(*conn, target);
    conn->SetTimeout(0);
    m_server->script("Slow", Script::silent());

    QPointer<TNetConnection> guard(conn);
    QTimer::singleShot(50, this, [conn] { delete conn; });
    const QString text = netErrorOf([&] { conn->AppServer("Slow"); });
    QVERIFY(guard.isNull());
    QCOMPARE(text,
             QString("A conexão com o servidor de aplicação foi encerrada durante a chamada."));
    QTRY_COMPARE(m_server->openConnections(), 0);
}

void TestNetConnection::openCloseAndConnectedProperty() {
    Target target{.port = m_server->port()};
    TNetConnection conn;
    bind(conn, target);

    QVERIFY(!conn.Connected());
    conn.Close();  // harmless when closed
    conn.SetConnected(true);
    QVERIFY(conn.Connected());
    conn.Open();  // already open: no new connection
    QCOMPARE(target.connects, 1);
    QTRY_COMPARE(m_server->openConnections(), 1);

    // What the workspace does on closing: disconnect while it reports connected.
    int rounds = 0;
    while (conn.Connected() && rounds++ < 3) {
        conn.SetConnected(false);
    }
    QCOMPARE(rounds, 1);
    QVERIFY(!conn.Connected());
    QTRY_COMPARE(m_server->openConnections(), 0);

    target.port = closedPort();
    QVERIFY(netErrorOf([&] { conn.Open(); }).startsWith("Não foi possível conectar"));
    QVERIFY(!conn.Connected());
}

QTEST_GUILESS_MAIN(TestNetConnection)
#include "tst_netconnection.moc"

// The application server on loopback, in this process: many clients at once, error replies
// that keep the connection, and clients that break the protocol or vanish mid-call without
// disturbing the others.

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "appserver.h"
#include "companydb.h"
#include "core/hosterror.h"
#include "core/packet.h"
#include "methods.h"
#include "net/netconnection.h"
#include "net/wire.h"
#include "store.h"

using host::wire::Request;

namespace {

const QString kServer = QStringLiteral("DFE58000.rdmManifestacao");

QVariantList allNotes(const QString& company) {
    return {QStringLiteral("_0_1_2_3_"), QStringLiteral("_0_1_2_3_4_5_"),
            QStringLiteral("T"),         QString(),
            QStringLiteral("T"),         QStringLiteral("T"),
            QStringLiteral("T"),         QStringLiteral("T"),
            QStringLiteral("T"),         QStringLiteral("T"),
            QStringLiteral("E"),         company,
            QStringLiteral("T"),         QDate::currentDate().addYears(-1),
            QDate::currentDate(),        QStringLiteral("_0_1_2_3_"),
            QStringLiteral("T")};
}

QByteArray request(const QString& method, const QVariantList& args,
                   const QString& server = kServer) {
    return host::wire::requestFrame(Request{server, method, args});
}

// A raw client that sends its calls one after another, each when the previous reply is in,
// and keeps every reply. Runs on the test's event loop.
class ScriptedClient : public QObject {
  public:
    ScriptedClient(quint16 port, QList<QByteArray> frames) : m_frames(std::move(frames)) {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { read(); });
        connect(&m_socket, &QTcpSocket::connected, this, [this] { sendNext(); });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool done() const { return m_replies.size() == m_frames.size(); }
    const QList<host::wire::Reply>& replies() const { return m_replies; }
    QTcpSocket& socket() { return m_socket; }

  private:
    void sendNext() {
        if (m_sent < m_frames.size()) {
            m_socket.write(m_frames.at(m_sent++));
        }
    }
    void read() {
        m_buffer.append(m_socket.readAll());
        while (auto payload = m_buffer.takeFrame()) {
            m_replies << host::wire::decodeReply(*payload);
            sendNext();
        }
    }
    QTcpSocket m_socket;
    host::wire::FrameBuffer m_buffer;
    QList<QByteArray> m_frames;
    QList<host::wire::Reply> m_replies;
    int m_sent = 0;
};

bool waitClosed(QTcpSocket& s, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (s.state() != QAbstractSocket::UnconnectedState && t.elapsed() < ms) {
        QTest::qWait(10);
    }
    return s.state() == QAbstractSocket::UnconnectedState;
}

}  // namespace

class TestAppServer : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void answersTheClientConnection();
    void errorRepliesKeepTheConnection();
    void brokenFramesCloseOnlyThatConnection();
    void slowAndVanishingClientsDoNotHoldUpOthers();
    void twentyClientsTwoHundredCallsEachNothingLost();
    void recordsTheRequestsOnlyWhenAsked();
    void aClientThatDoesNotReadIsCutOffAtTheBound();
    void everyCallLeavesOneLineInTheLog();

  private:
    std::unique_ptr<host::TNetConnection> connection();

    QTemporaryDir m_dir;
    QString m_url;
    std::unique_ptr<dfe58000::AppServer> m_server;
};

void TestAppServer::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_url = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("server.db"));
    companydb::ensureDatabase(m_url, 120, {dfe58000::storeSchema()});
}

void TestAppServer::init() {
    m_server = std::make_unique<dfe58000::AppServer>(m_url, 3);
    m_server->listen(QHostAddress::LocalHost, 0);
    QVERIFY(m_server->port() != 0);
}

void TestAppServer::cleanup() {
    m_server.reset();
}

std::unique_ptr<host::TNetConnection> TestAppServer::connection() {
    auto net = std::make_unique<host::TNetConnection>();
    net->SetServerName(kServer);
    net->SetHost(QStringLiteral("127.0.0.1"));
    net->SetPort(m_server->port());
    net->SetTimeout(20000);
    return net;
}

void TestAppServer::answersTheClientConnection() {
    auto net = connection();
    const QVariantList regs =
        net->AppServer(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")}).toList();
    QCOMPARE(regs.value(0).toString(), QStringLiteral("S"));
    QCOMPARE(host::decodePacket(regs.value(1).toByteArray()).rows.size(), 2);

    const QVariantList notes =
        net->AppServer(QStringLiteral("GetNotasDestinadas"), allNotes(QStringLiteral("01")))
            .toList();
    QCOMPARE(notes.size(), 5);
    QCOMPARE(notes.at(0).toString(), QStringLiteral("OK"));
    const host::DecodedPacket p = host::decodePacket(notes.at(2).toByteArray());
    QCOMPARE(p.fields.size(), 31);
    QVERIFY(p.rows.size() > 30);
    for (const QVariantList& row : p.rows) {
        QCOMPARE(row.at(2).toString(), QStringLiteral("01"));
    }
}

void TestAppServer::errorRepliesKeepTheConnection() {
    auto net = connection();
    auto expectError = [&](const QString& method, const QVariantList& args, const QString& part) {
        try {
            net->AppServer(method, args);
        } catch (const host::ENetError& e) {
            QVERIFY2(e.text().contains(part), qPrintable(e.text()));
            return;
        }
        QFAIL("no error reply");
    };
    expectError(QStringLiteral("Inexistente"), {}, QStringLiteral("Inexistente"));
    expectError(QStringLiteral("GetNotasDestinadas"), {QStringLiteral("T")}, QStringLiteral("17"));
    expectError(QStringLiteral("getCarregaPesquisas"), {QDate(2026, 1, 1)},
                QStringLiteral("texto"));
    net->SetServerName(QStringLiteral("DFE99999.rdmOutro"));
    expectError(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")},
                QStringLiteral("DFE99999.rdmOutro"));
    net->SetServerName(kServer);
    QVERIFY(net->Connected());
    QCOMPARE(net->AppServer(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("03")})
                 .toList()
                 .value(0)
                 .toString(),
             QStringLiteral("S"));
    QCOMPARE(m_server->protocolErrors(), 0);
}

void TestAppServer::brokenFramesCloseOnlyThatConnection() {
    auto net = connection();
    net->Open();
    QTRY_COMPARE(m_server->openConnections(), 1);

    QTcpSocket zero, huge, garbage;
    for (QTcpSocket* s : {&zero, &huge, &garbage}) {
        s->connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(s->waitForConnected(5000));
    }
    zero.write(QByteArray("\0\0\0\0", 4));
    huge.write(QByteArray("\x7f\xff\xff\xff", 4));
    // A well-framed payload that is not a request map.
    garbage.write(host::wire::frame(QByteArray("\xff\xfe\x01garbage", 10)));
    QVERIFY(waitClosed(zero));
    QVERIFY(waitClosed(huge));
    QVERIFY(waitClosed(garbage));
    QCOMPARE(m_server->protocolErrors(), 3);

    QVERIFY(net->Connected());
    QCOMPARE(net->AppServer(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")})
                 .toList()
                 .value(0)
                 .toString(),
             QStringLiteral("S"));
    QTRY_COMPARE(m_server->openConnections(), 1);
}

void TestAppServer::slowAndVanishingClientsDoNotHoldUpOthers() {
    // Half a request, never finished.
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(slow.waitForConnected(5000));
    const QByteArray frame =
        request(QStringLiteral("GetNotasDestinadas"), allNotes(QStringLiteral("01")));
    slow.write(frame.left(frame.size() / 2));
    QVERIFY(slow.waitForBytesWritten(5000));

    // Several calls sent, then the client gone before the replies.
    for (int i = 0; i < 5; ++i) {
        QTcpSocket gone;
        gone.connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(gone.waitForConnected(5000));
        gone.write(frame + frame + frame);
        QVERIFY(gone.waitForBytesWritten(5000));
        gone.abort();
    }

    auto net = connection();
    const QVariantList notes =
        net->AppServer(QStringLiteral("GetNotasDestinadas"), allNotes(QStringLiteral("02")))
            .toList();
    QCOMPARE(notes.value(0).toString(), QStringLiteral("OK"));

    // The slow client still gets its answer once it finishes the frame.
    slow.write(frame.mid(frame.size() / 2));
    host::wire::FrameBuffer buffer;
    std::optional<QByteArray> reply;
    auto replyIn = [&] {
        if (!reply) {
            buffer.append(slow.readAll());
            reply = buffer.takeFrame();
        }
        return reply.has_value();
    };
    QTRY_VERIFY_WITH_TIMEOUT(replyIn(), 10000);
    QCOMPARE(host::wire::decodeReply(*reply).result.toList().value(0).toString(),
             QStringLiteral("OK"));
    QTRY_COMPARE(m_server->openConnections(), 2);  // the slow one and net
    QCOMPARE(m_server->protocolErrors(), 0);
}

void TestAppServer::twentyClientsTwoHundredCallsEachNothingLost() {
    // Each client mixes three calls whose answers tell them apart, so a reply delivered to the
    // wrong client or out of order shows.
    const QStringList companies = {QStringLiteral("01"), QStringLiteral("03"),
                                   QStringLiteral("99")};
    std::vector<std::unique_ptr<ScriptedClient>> clients;
    const int kClients = 20, kCalls = 200;
    for (int c = 0; c < kClients; ++c) {
        QList<QByteArray> frames;
        for (int i = 0; i < kCalls; ++i) {
            const QString company = companies.at((c + i) % 3);
            frames << (i % 4 == 3 ? request(QStringLiteral("GetNotasDestinadas"), allNotes(company))
                                  : request(QStringLiteral("getCarregaPesquisas"), {company}));
        }
        clients.push_back(std::make_unique<ScriptedClient>(m_server->port(), frames));
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->done(); }),
        120000);
    for (int c = 0; c < kClients; ++c) {
        const auto& replies = clients[c]->replies();
        QCOMPARE(replies.size(), kCalls);
        for (int i = 0; i < kCalls; ++i) {
            const QString company = companies.at((c + i) % 3);
            const host::wire::Reply& r = replies.at(i);
            QVERIFY2(r.ok, qPrintable(r.error));
            if (i % 4 == 3) {
                const QVariantList res = r.result.toList();
                if (company == u"99") {
                    QCOMPARE(res.value(0).toString(), QStringLiteral("ERRO"));
                } else {
                    QCOMPARE(res.value(0).toString(), QStringLiteral("OK"));
                    const auto rows = host::decodePacket(res.value(2).toByteArray()).rows;
                    QVERIFY(!rows.isEmpty());
                    QCOMPARE(rows.first().at(2).toString(), company);
                }
            } else if (company == u"99") {
                QCOMPARE(r.result.typeId(), QMetaType::QString);
            } else {
                const auto rows = host::decodePacket(r.result.toList().value(1).toByteArray()).rows;
                QCOMPARE(rows.size(), company == u"01" ? 2 : 1);
            }
        }
    }
}

void TestAppServer::recordsTheRequestsOnlyWhenAsked() {
    auto net = connection();
    net->AppServer(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")});
    QVERIFY(m_server->receivedRequests().isEmpty());

    m_server->setRecordRequests(true);
    QVariantList notes = allNotes(QStringLiteral("01"));
    notes[3] = QVariant();  // the final note number left unset
    net->AppServer(QStringLiteral("GetNotasDestinadas"), notes);
    // Refused by the dispatcher, still received.
    try {
        net->AppServer(QStringLiteral("getCarregaPesquisas"), {QDate(2026, 2, 3)});
        QFAIL("no error reply");
    } catch (const host::ENetError&) {
    }

    const QList<Request> got = m_server->receivedRequests();
    QCOMPARE(got.size(), 2);
    QCOMPARE(got.at(0).server, kServer);
    QCOMPARE(got.at(0).method, QStringLiteral("GetNotasDestinadas"));
    QCOMPARE(got.at(0).args.size(), 17);
    QCOMPARE(got.at(0).args, notes);
    QCOMPARE(got.at(0).args.at(13).typeId(), QMetaType::QDate);
    QVERIFY(!got.at(0).args.at(3).isValid());
    QCOMPARE(got.at(1).method, QStringLiteral("getCarregaPesquisas"));
    QCOMPARE(got.at(1).args, QVariantList{QDate(2026, 2, 3)});

    m_server->clearReceivedRequests();
    QVERIFY(m_server->receivedRequests().isEmpty());
    m_server->setRecordRequests(false);
    net->AppServer(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")});
    QVERIFY(m_server->receivedRequests().isEmpty());
}

void TestAppServer::aClientThatDoesNotReadIsCutOffAtTheBound() {
    const QByteArray frame = request(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")});

    // Within the bound: the calls wait while the client reads nothing, then every answer comes,
    // in order.
    QTcpSocket patient;
    patient.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(patient.waitForConnected(5000));
    patient.write(frame.repeated(dfe58000::kMaxQueuedRequests));
    QVERIFY(patient.waitForBytesWritten(5000));
    QTest::qWait(200);
    host::wire::FrameBuffer buffer;
    int answers = 0;
    auto readAnswers = [&] {
        buffer.append(patient.readAll());
        while (auto reply = buffer.takeFrame()) {
            if (host::wire::decodeReply(*reply).result.toList().value(0).toString() == u"S") {
                ++answers;
            }
        }
        return answers == dfe58000::kMaxQueuedRequests;
    };
    QTRY_VERIFY_WITH_TIMEOUT(readAnswers(), 20000);
    QCOMPARE(m_server->cutOffClients(), 0);

    // Past it: the connection is closed rather than the queue grown.
    QTcpSocket flood;
    flood.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(flood.waitForConnected(5000));
    flood.write(frame.repeated(dfe58000::kMaxQueuedRequests + 10));
    QVERIFY(waitClosed(flood));
    QCOMPARE(m_server->cutOffClients(), 1);
    QCOMPARE(m_server->protocolErrors(), 0);

    // Everybody else is served as before.
    auto net = connection();
    QCOMPARE(net->AppServer(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")})
                 .toList()
                 .value(0)
                 .toString(),
             QStringLiteral("S"));
}

void TestAppServer::everyCallLeavesOneLineInTheLog() {
    QStringList lines;
    m_server->setCallLog([&](const QString& line) { lines << line; });
    auto net = connection();
    net->AppServer(QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")});
    net->AppServer(QStringLiteral("GetNotasDestinadas"), allNotes(QStringLiteral("01")));
    QVERIFY_THROWS_EXCEPTION(host::ENetError, net->AppServer(QStringLiteral("Inexistente")));
    QCOMPARE(lines.size(), 3);

    // time, client, method, milliseconds, status
    static const QRegularExpression format(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z) )"
                       R"(127\.0\.0\.1:\d+ (\S+) \d+ ms (.+)$)"));
    const QStringList expected = {QStringLiteral("getCarregaPesquisas S"),
                                  QStringLiteral("GetNotasDestinadas OK"),
                                  QStringLiteral("Inexistente erro: ")};
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = format.match(lines.at(i));
        QVERIFY2(m.hasMatch(), qPrintable(lines.at(i)));
        QVERIFY2((m.captured(2) + u' ' + m.captured(3)).startsWith(expected.at(i)),
                 qPrintable(lines.at(i)));
    }
}

QTEST_GUILESS_MAIN(TestAppServer)
#include "tst_appserver.moc"

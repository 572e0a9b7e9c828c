// Two dfe58000-server processes on one PostgreSQL database, as a site runs them behind a balancer:
// the same Confirmação sent through both at the same moment is registered once per note, and the
// hourly download budget of a legal registration is one budget whichever process serves it.

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <optional>

#include "companydb.h"
#include "core/hosterror.h"
#include "core/packet.h"
#include "documentnotes.h"
#include "fiscaldocs.h"
#include "net/netconnection.h"
#include "net/wire.h"
#include "serverfixture.h"
#include "store.h"
#include "support/pgcluster.h"

using dfe58000::NoteRecord;
using dfe58000::Store;
using host::wire::Reply;
using host::wire::Request;

namespace {

const QString kServerName = QStringLiteral("DFE58000.rdmManifestacao");
// Two legal registrations of company 01 in the demo data.
const QString kRegA = QStringLiteral("48210375000102");
const QString kRegB = QStringLiteral("48210375000293");
const QString kIssuer = fiscal::completeCnpj(QStringLiteral("556677880001"));
const QString kDuplicate = QStringLiteral("573 - Rejeição: Duplicidade de Evento");
constexpr int kDownloadsPerHour = 20;

QString keyFor(int number) {
    return testnotes::accessKey(kIssuer, number, QStringLiteral("55001"),
                                QStringLiteral("187654321"));
}

// An authorised NF-e addressed to recipient, authorised three days ago, in manifestation
// situation manif.
NoteRecord note(int number, const QString& recipient, const QString& manif) {
    NoteRecord n =
        testnotes::documentNote(number, manif, recipient, QStringLiteral("N"), 3, kIssuer);
    n.IDNOTA = QStringLiteral("1");
    n.NMRAZSOCEMIT = QStringLiteral("Distribuidora %1").arg(number);
    n.VRNOTAFISC = 100.0 + number;
    n.NRACESSONF = keyFor(number);
    return n;
}

QStringList keysFor(int first, int count) {
    QStringList keys;
    for (int n = first; n < first + count; ++n) {
        keys << keyFor(n);
    }
    return keys;
}

using testnotes::marked;

Request confirmacao(const QStringList& keys) {
    return Request{kServerName,
                   QStringLiteral("setManifestacao"),
                   {kRegA, marked(keys), QStringLiteral("1"), QString(), QStringLiteral("OPER01")}};
}

Request download(const QString& registration, const QStringList& keys) {
    return Request{kServerName,
                   QStringLiteral("DownloadXML"),
                   {marked(keys), registration, QStringLiteral("OPER01")}};
}

// Sends every request on a connection of its own, all connected first and then written one
// right after the other, so the servers work on them at the same time; the replies in the
// order of the calls. A call without a reply within the time comes back as a failure.
QList<Reply> callTogether(const QList<std::pair<quint16, Request>>& calls) {
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    QList<Reply> replies(calls.size(), Reply::failure(QStringLiteral("no reply")));
    for (const auto& call : calls) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, call.first);
        if (!s->waitForConnected(5000)) {
            return replies;
        }
        sockets.push_back(std::move(s));
    }
    QList<QByteArray> frames;
    for (const auto& call : calls) {
        frames << host::wire::requestFrame(call.second);
    }
    for (size_t i = 0; i < sockets.size(); ++i) {
        sockets[i]->write(frames.at(qsizetype(i)));
    }
    for (auto& s : sockets) {
        s->flush();
    }
    QElapsedTimer t;
    t.start();
    for (size_t i = 0; i < sockets.size(); ++i) {
        host::wire::FrameBuffer buffer;
        std::optional<QByteArray> payload;
        while (!payload && t.elapsed() < 30000 &&
               sockets[i]->state() == QAbstractSocket::ConnectedState) {
            sockets[i]->waitForReadyRead(100);
            buffer.append(sockets[i]->readAll());
            payload = buffer.takeFrame();
        }
        if (payload) {
            replies[qsizetype(i)] = host::wire::decodeReply(*payload);
        }
    }
    return replies;
}

// An answer of setManifestacao or DownloadXML: status, the two counts and the packet's rows.
struct Answer {
    QString status;
    QString message;
    int done = -1;     // registered / received
    int notDone = -1;  // rejected / not received
    QList<QVariantList> rows;
};

Answer answerOf(const QVariant& result) {
    const QVariantList r = result.toList();
    Answer a;
    a.status = r.value(0).toString();
    a.message = r.value(1).toString();
    a.done = r.value(2).toString().toInt();
    a.notDone = r.value(3).toString().toInt();
    if (!r.value(4).toByteArray().isEmpty()) {
        a.rows = host::decodePacket(r.value(4).toByteArray()).rows;
    }
    return a;
}

// The certificate a signed document carries, as bare base64.
QString certificateIn(const QString& xml) {
    static const QRegularExpression re(
        QStringLiteral("<X509Certificate>([^<]+)</X509Certificate>"));
    return re.match(xml).captured(1).remove(QRegularExpression(QStringLiteral("\\s")));
}

// The public key of a PEM file as openssl prints it: from the key itself or from a certificate.
QByteArray publicKeyOf(const QStringList& opensslArgs) {
    QProcess p;
    p.start(QStringLiteral("openssl"), opensslArgs);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return {};
    }
    return p.readAllStandardOutput();
}

int countOf(QSqlDatabase& db, const QString& sql, const QVariantList& binds = {}) {
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant& b : binds) {
        q.addBindValue(b);
    }
    if (!q.exec() || !q.next()) {
        qWarning("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return -1;
    }
    return q.value(0).toInt();
}

}  // namespace

class TestScale : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();

    void sameConfirmacaoThroughBothServersRegistersOnce();
    void downloadBudgetIsSharedByBothServers();
    void downloadsAtTheSameMomentStayWithinTheBudget();

  private:
    std::unique_ptr<host::TNetConnection> connection(quint16 port);
    Answer callDownload(quint16 port, const QString& registration, const QStringList& keys);

    // Destroyed in reverse order: the servers stop before the cluster does.
    std::unique_ptr<PgCluster> m_pg;
    QTemporaryDir m_certDir;
    QString m_url;
    std::unique_ptr<Store> m_store;
    ServerProcess m_servers[2];
    quint16 m_ports[2] = {0, 0};
};

void TestScale::initTestCase() {
    if (!QFileInfo(QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-server")).isExecutable()) {
        QSKIP("dfe58000-server must be built first");
    }
    m_pg = std::make_unique<PgCluster>();
    if (!m_pg->ok()) {
        QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + m_pg->error()));
    }
    QVERIFY(m_certDir.isValid());
    m_url = m_pg->createDatabase(QStringLiteral("escala"));
    QVERIFY2(!m_url.isEmpty(), qPrintable(m_pg->error()));
    companydb::ensureDatabase(m_url, 0, {dfe58000::storeSchema()});
    m_store = std::make_unique<Store>(m_url);

    QVERIFY(m_store->database().transaction());
    // Notes waiting for a Confirmação, 1000 onwards.
    for (int n = 1000; n < 1000 + 5 * 8; ++n) {
        m_store->insertNote(note(n, kRegA, QStringLiteral("0")));
    }
    // Notes whose documents may be downloaded: Ciência, Confirmada or Não realizada.
    const QStringList released = {QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("4")};
    for (int i = 0; i < 24; ++i) {
        m_store->insertNote(note(2000 + i, kRegA, released.at(i % 3)));
    }
    for (int i = 0; i < 30; ++i) {
        m_store->insertNote(note(3000 + i, kRegB, released.at(i % 3)));
    }
    QVERIFY(m_store->database().commit());

    // Both processes start together on the database the other one uses.
    for (ServerProcess& s : m_servers) {
        s.start(m_url, m_certDir.path(),
                {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                 QStringLiteral("--notes"), QStringLiteral("0"), QStringLiteral("--workers"),
                 QStringLiteral("3"), QStringLiteral("--quiet")});
    }
    for (int i = 0; i < 2; ++i) {
        m_ports[i] = m_servers[i].waitListening(30000);
        QVERIFY2(m_ports[i] != 0, qPrintable(m_servers[i].error()));
    }
    QVERIFY(m_ports[0] != m_ports[1]);
}

void TestScale::cleanupTestCase() {
    for (ServerProcess& s : m_servers) {
        s.stop();
    }
    m_store.reset();
    m_pg.reset();
}

std::unique_ptr<host::TNetConnection> TestScale::connection(quint16 port) {
    auto net = std::make_unique<host::TNetConnection>();
    net->SetServerName(kServerName);
    net->SetHost(QStringLiteral("127.0.0.1"));
    net->SetPort(port);
    net->SetTimeout(30000);
    return net;
}

Answer TestScale::callDownload(quint16 port, const QString& registration, const QStringList& keys) {
    auto net = connection(port);
    const Request r = download(registration, keys);
    try {
        return answerOf(net->AppServer(r.method, r.args));
    } catch (const host::EHostError& e) {
        Answer a;
        a.status = QStringLiteral("exception");
        a.message = e.text();
        return a;
    }
}

void TestScale::sameConfirmacaoThroughBothServersRegistersOnce() {
    const int kRounds = 5, kNotes = 8;
    QStringList all;
    int wonBy[2] = {0, 0};
    for (int round = 0; round < kRounds; ++round) {
        const QStringList keys = keysFor(1000 + round * kNotes, kNotes);
        all << keys;
        // In the same order both processes wait on each other's key at every note; reversed they
        // meet in the middle and the rest are already registered when each gets there.
        QStringList second = keys;
        if (round % 2 == 1) {
            std::reverse(second.begin(), second.end());
        }
        const QList<Reply> replies =
            callTogether({{m_ports[0], confirmacao(keys)}, {m_ports[1], confirmacao(second)}});

        QSet<QString> rejectedByEither;
        int registered = 0;
        for (int s = 0; s < 2; ++s) {
            QVERIFY2(replies.at(s).ok, qPrintable(replies.at(s).error));
            const Answer a = answerOf(replies.at(s).result);
            QCOMPARE(a.status, QStringLiteral("OK"));
            QCOMPARE(a.done + a.notDone, kNotes);
            QCOMPARE(a.rows.size(), a.notDone);
            registered += a.done;
            wonBy[s] += a.done;
            for (const QVariantList& row : a.rows) {
                const QString key = row.value(0).toString();
                QVERIFY2(keys.contains(key), qPrintable(key));
                QCOMPARE(row.value(1).toString(), kIssuer);
                QCOMPARE(row.value(3).toString(), kDuplicate);
                // A note rejected by both answers was registered by neither.
                QVERIFY2(!rejectedByEither.contains(key), qPrintable(key));
                rejectedByEither.insert(key);
            }
        }
        // Every note registered by exactly one of the two answers.
        QCOMPARE(registered, kNotes);
        QCOMPARE(rejectedByEither.size(), kNotes);
    }
    qInfo("registered through server 1: %d, through server 2: %d", wonBy[0], wonBy[1]);

    // What the database holds for each note: one Confirmação (sequence 1), its one archived
    // event with the authorisation and the duplicate's rejection, and the note Confirmada.
    QSqlDatabase& db = m_store->database();
    for (const QString& key : all) {
        QCOMPARE(countOf(db,
                         QStringLiteral("SELECT COUNT(*) FROM EVENTOREG WHERE NRACESSONF = ? AND "
                                        "TPEVENTO = 210200"),
                         {key}),
                 1);
        QCOMPARE(countOf(db,
                         QStringLiteral("SELECT COUNT(*) FROM EVENTOREG WHERE NRACESSONF = ? AND "
                                        "TPEVENTO = 210200 AND NRSEQEVENTO = 1"),
                         {key}),
                 1);
        QCOMPARE(countOf(db,
                         QStringLiteral("SELECT COUNT(*) FROM EVENTONFE WHERE NRACESSONF = ? AND "
                                        "CDSTAT = 135 AND DSXMLEVENTO IS NOT NULL"),
                         {key}),
                 1);
        QCOMPARE(countOf(db,
                         QStringLiteral("SELECT COUNT(*) FROM EVENTONFE WHERE NRACESSONF = ? AND "
                                        "CDSTAT = 573"),
                         {key}),
                 1);
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("SELECT IDSTATUSMANIF, NRSEQEVENTO FROM NOTADEST WHERE NRACESSONF = ?"));
        q.addBindValue(key);
        QVERIFY(q.exec() && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("1"));
        QCOMPARE(q.value(1).toString(), QStringLiteral("1"));
    }
    // Protocol numbers drawn by the two processes never collide.
    QCOMPARE(countOf(db, QStringLiteral("SELECT COUNT(DISTINCT NRPROTOCOLO) FROM EVENTOREG")),
             int(all.size()));
    QVERIFY(m_servers[0].running());
    QVERIFY(m_servers[1].running());
}

void TestScale::downloadBudgetIsSharedByBothServers() {
    const QStringList first = keysFor(2000, 12);
    const QStringList second = keysFor(2012, 12);

    const Answer a = callDownload(m_ports[0], kRegA, first);
    QCOMPARE(a.status, QStringLiteral("OK"));
    QCOMPARE(a.done, 12);
    QCOMPARE(a.notDone, 0);
    QCOMPARE(a.rows.size(), 12);
    for (int i = 0; i < a.rows.size(); ++i) {
        const QVariantList& row = a.rows.at(i);
        QCOMPARE(row.value(0).toString(), first.at(i));
        QCOMPARE(row.value(2).toString(), QStringLiteral("S"));
        const QString xml = row.value(1).toString();
        QVERIFY2(xml.contains(QStringLiteral("<nfeProc")) &&
                     xml.contains(QStringLiteral("Id=\"NFe") + first.at(i) + u'"') &&
                     xml.contains(QStringLiteral("<SignatureValue>")),
                 qPrintable(xml.left(300)));
    }

    // The other process knows of the twelve already served: eight more, then the limit.
    const Answer b = callDownload(m_ports[1], kRegA, second);
    QCOMPARE(b.status, QStringLiteral("LCA"));
    QCOMPARE(b.done, kDownloadsPerHour - 12);
    QCOMPARE(b.notDone, 24 - kDownloadsPerHour);
    QCOMPARE(b.rows.size(), 12);
    for (int i = 0; i < b.rows.size(); ++i) {
        const QVariantList& row = b.rows.at(i);
        QCOMPARE(row.value(0).toString(), second.at(i));
        if (i < kDownloadsPerHour - 12) {
            QCOMPARE(row.value(2).toString(), QStringLiteral("S"));
            QVERIFY(!row.value(1).toString().isEmpty());
        } else {
            QCOMPARE(row.value(2).toString(), QStringLiteral("L"));
            QVERIFY2(row.value(3).toString().startsWith(QStringLiteral("656 - ")),
                     qPrintable(row.value(3).toString()));
            QVERIFY(row.value(1).toString().isEmpty());
        }
    }

    // Blocked through either process, even for a key it served a moment ago.
    for (const quint16 port : m_ports) {
        const Answer c = callDownload(port, kRegA, {first.at(0)});
        QCOMPARE(c.status, QStringLiteral("L"));
        QCOMPARE(c.done, 0);
        QCOMPARE(c.notDone, 1);
        QCOMPARE(c.rows.value(0).value(2).toString(), QStringLiteral("L"));
    }

    // Both processes sign with the one demo certificate of the shared directory, and its key is
    // the certificate's own: a pair mixed from two processes that made one at the same time would
    // sign documents their certificate does not verify.
    const QString cert = certificateIn(a.rows.at(0).value(1).toString());
    QVERIFY(!cert.isEmpty());
    QCOMPARE(certificateIn(b.rows.at(0).value(1).toString()), cert);
    QFile pem(m_certDir.filePath(QStringLiteral("cert.pem")));
    QVERIFY(pem.open(QIODevice::ReadOnly));
    QString pemBody = QString::fromLatin1(pem.readAll());
    pemBody.remove(QRegularExpression(QStringLiteral("-----[A-Z ]+-----|\\s")));
    QCOMPARE(pemBody, cert);
    const QByteArray certKey =
        publicKeyOf({QStringLiteral("x509"), QStringLiteral("-in"), pem.fileName(),
                     QStringLiteral("-pubkey"), QStringLiteral("-noout")});
    QVERIFY(!certKey.isEmpty());
    QCOMPARE(
        publicKeyOf({QStringLiteral("pkey"), QStringLiteral("-in"),
                     m_certDir.filePath(QStringLiteral("key.pem")), QStringLiteral("-pubout")}),
        certKey);

    QSqlDatabase& db = m_store->database();
    QCOMPARE(countOf(db,
                     QStringLiteral("SELECT COUNT(*) FROM DOWNLOADLOG WHERE NRINSJURIEST = ? AND "
                                    "CDSTATUS = 'S'"),
                     {kRegA}),
             kDownloadsPerHour);
    QCOMPARE(countOf(db,
                     QStringLiteral("SELECT COUNT(*) FROM DOWNLOADLOG WHERE NRINSJURIEST = ? AND "
                                    "CDSTATUS = 'L'"),
                     {kRegA}),
             24 - kDownloadsPerHour + 2);
    QCOMPARE(countOf(db,
                     QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE NRINSJURIESTDEST = ? AND "
                                    "IDARQXMLNFE = 'S'"),
                     {kRegA}),
             kDownloadsPerHour);
}

void TestScale::downloadsAtTheSameMomentStayWithinTheBudget() {
    // Fifteen keys through each process at once for another registration: whichever is counted
    // first gets all of its fifteen, the other the five left.
    const QStringList first = keysFor(3000, 15);
    const QStringList second = keysFor(3015, 15);
    const QList<Reply> replies =
        callTogether({{m_ports[0], download(kRegB, first)}, {m_ports[1], download(kRegB, second)}});
    QVERIFY2(replies.at(0).ok, qPrintable(replies.at(0).error));
    QVERIFY2(replies.at(1).ok, qPrintable(replies.at(1).error));
    const Answer a = answerOf(replies.at(0).result);
    const Answer b = answerOf(replies.at(1).result);
    QCOMPARE(a.done + b.done, kDownloadsPerHour);
    QCOMPARE(a.notDone + b.notDone, 30 - kDownloadsPerHour);
    const Answer& whole = a.status == u"OK" ? a : b;
    const Answer& partial = a.status == u"OK" ? b : a;
    QCOMPARE(whole.status, QStringLiteral("OK"));
    QCOMPARE(whole.done, 15);
    QCOMPARE(partial.status, QStringLiteral("LCA"));
    QCOMPARE(partial.done, kDownloadsPerHour - 15);
    QCOMPARE(partial.rows.size(), 15);
    for (int i = 0; i < partial.rows.size(); ++i) {
        QCOMPARE(partial.rows.at(i).value(2).toString(),
                 i < kDownloadsPerHour - 15 ? QStringLiteral("S") : QStringLiteral("L"));
    }

    for (const quint16 port : m_ports) {
        QCOMPARE(callDownload(port, kRegB, {first.at(0)}).status, QStringLiteral("L"));
    }
    // Twenty served to this registration although the other one is blocked by now: each legal
    // registration has a budget of its own.
    QCOMPARE(countOf(m_store->database(),
                     QStringLiteral("SELECT COUNT(*) FROM DOWNLOADLOG WHERE NRINSJURIEST = ? AND "
                                    "CDSTATUS = 'S'"),
                     {kRegB}),
             kDownloadsPerHour);
}

QTEST_GUILESS_MAIN(TestScale)
#include "tst_scale.moc"

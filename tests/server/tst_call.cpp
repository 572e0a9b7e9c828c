// dfe58000-call and dfe58000-server as an operator uses them: the JSON the command line takes
// and prints, and the two programs talking over loopback on a fresh database.

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "core/hosterror.h"
#include "core/packet.h"
#include "jsonvalues.h"
#include "store.h"

using dfe58000::json::argumentsFromJson;
using dfe58000::json::resultToJson;

class TestCall : public QObject {
    Q_OBJECT

  private slots:
    void argumentsBecomeWireValues();
    void badArgumentsAreRefusedWithAText_data();
    void badArgumentsAreRefusedWithAText();
    void resultsPrintPacketsAndDates();
    void serverAndClientProgramsTalk();
    void aFreshDemoDatabaseAnswersByTheRules();
    void offLoopbackTheServerSaysItTrustsNoOne();

  private:
    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run call(quint16 port, const QStringList& args);
    // Starts dfe58000-server on a SQLite file with that many demo notes; its port, or 0 (with a
    // failed check) when it does not come up.
    quint16 startServer(QProcess& server, const QString& dbFile, int notes);
};

namespace {

void stopProcess(QProcess& p) {
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished();
    }
}

// The marked-notes argument of a call, as an operator types it.
QString markedJson(const QStringList& keys) {
    QJsonArray rows;
    for (const QString& k : keys) {
        rows.append(QJsonObject{{QStringLiteral("NRACESSONF"), k}});
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("packet"), rows}})
                                 .toJson(QJsonDocument::Compact));
}

QString jsonArgs(const QStringList& texts) {
    QString out = QStringLiteral("[");
    for (int i = 0; i < texts.size(); ++i) {
        out += (i ? QStringLiteral(",") : QString()) + texts.at(i);
    }
    return out + QStringLiteral("]");
}

QString quoted(const QString& s) {
    return QStringLiteral("\"") + s + QStringLiteral("\"");
}

QStringList column(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    QStringList out;
    if (!q.exec(sql)) {
        return out;
    }
    while (q.next()) {
        out << q.value(0).toString();
    }
    return out;
}

}  // namespace

quint16 TestCall::startServer(QProcess& server, const QString& dbFile, int notes) {
    server.start(QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-server"),
                 {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"),
                  QStringLiteral("sqlite:") + dbFile, QStringLiteral("--notes"),
                  QString::number(notes), QStringLiteral("--quiet")});
    if (!server.waitForStarted(10000)) {
        return 0;
    }
    for (int waited = 0;
         !server.canReadLine() && server.state() == QProcess::Running && waited < 120000;
         waited += 50) {
        server.waitForReadyRead(50);
    }
    const QByteArray first = server.readLine().trimmed();
    if (!first.startsWith("listening on 127.0.0.1:")) {
        qWarning("%s %s", first.constData(), server.readAllStandardError().constData());
        return 0;
    }
    return quint16(first.mid(first.lastIndexOf(':') + 1).toUInt());
}

void TestCall::argumentsBecomeWireValues() {
    const QVariantList a = argumentsFromJson(
        R"(["01", "2026-03-05", {"packet": [{"NRACESSONF": "3526", "IDCONSULTADO": "N"},
                                            {"NRACESSONF": "41260312"}]},
            3, 2.5, null, true, "05/03/2026"])");
    QCOMPARE(a.size(), 8);
    QCOMPARE(a.at(0).typeId(), QMetaType::QString);
    QCOMPARE(a.at(1).toDate(), QDate(2026, 3, 5));
    QCOMPARE(a.at(1).typeId(), QMetaType::QDate);
    QCOMPARE(a.at(2).typeId(), QMetaType::QByteArray);
    const host::DecodedPacket p = host::decodePacket(a.at(2).toByteArray());
    QCOMPARE(p.fields.size(), 2);
    // JSON objects carry no key order: fields come by name, sized to their longest value.
    const int key = p.fields.at(0).name == u"NRACESSONF" ? 0 : 1;
    QCOMPARE(p.fields.at(key).name, QStringLiteral("NRACESSONF"));
    QCOMPARE(p.fields.at(1 - key).name, QStringLiteral("IDCONSULTADO"));
    QCOMPARE(p.fields.at(key).size, 8);
    QCOMPARE(p.rows.size(), 2);
    QCOMPARE(p.rows.at(0).at(1 - key).toString(), QStringLiteral("N"));
    QCOMPARE(p.rows.at(1).at(key).toString(), QStringLiteral("41260312"));
    QVERIFY(p.rows.at(1).at(1 - key).isNull());
    QCOMPARE(a.at(3).toLongLong(), 3);
    QCOMPARE(a.at(4).toDouble(), 2.5);
    QVERIFY(a.at(5).isNull());
    QCOMPARE(a.at(6).toBool(), true);
    QCOMPARE(a.at(7).typeId(), QMetaType::QString);  // not the ISO form: stays text
}

void TestCall::badArgumentsAreRefusedWithAText_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("not JSON") << QByteArray("[\"01\"");
    QTest::newRow("not a list") << QByteArray("{\"a\": 1}");
    QTest::newRow("impossible date") << QByteArray("[\"2026-02-30\"]");
    QTest::newRow("object that is not a packet") << QByteArray("[{\"rows\": []}]");
    QTest::newRow("packet rows not objects") << QByteArray("[{\"packet\": [1, 2]}]");
    QTest::newRow("packet value not text") << QByteArray("[{\"packet\": [{\"A\": 1}]}]");
}

void TestCall::badArgumentsAreRefusedWithAText() {
    QFETCH(QByteArray, json);
    try {
        argumentsFromJson(json);
    } catch (const host::EHostError& e) {
        QVERIFY(!e.text().isEmpty());
        return;
    }
    QFAIL("accepted");
}

void TestCall::resultsPrintPacketsAndDates() {
    const QByteArray packet = host::encodePacket(
        {{QStringLiteral("NRACESSONF"), host::FieldType::String, 44, false},
         {QStringLiteral("DTRECBTO"), host::FieldType::DateTime, 0, false},
         {QStringLiteral("VRNOTAFISC"), host::FieldType::Float, 0, false}},
        {{QStringLiteral("k1"), QDateTime(QDate(2026, 7, 1), QTime(13, 5, 9)), 10.5}});
    const QJsonValue v =
        resultToJson(QVariantList{QStringLiteral("OK"), QString(), packet, QDate(2026, 1, 2), 7});
    const QJsonArray a = v.toArray();
    QCOMPARE(a.size(), 5);
    QCOMPARE(a.at(0).toString(), QStringLiteral("OK"));
    const QJsonObject p = a.at(2).toObject();
    QCOMPARE(p.value("fields").toArray(), (QJsonArray{"NRACESSONF", "DTRECBTO", "VRNOTAFISC"}));
    const QJsonArray row = p.value("rows").toArray().at(0).toArray();
    QCOMPARE(row.at(1).toString(), QStringLiteral("2026-07-01T13:05:09"));
    QCOMPARE(row.at(2).toDouble(), 10.5);
    QCOMPARE(a.at(3).toString(), QStringLiteral("2026-01-02"));
    QCOMPARE(a.at(4).toDouble(), 7.0);
}

TestCall::Run TestCall::call(quint16 port, const QStringList& args) {
    QProcess p;
    p.start(
        QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-call"),
        QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(port)} + args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void TestCall::serverAndClientProgramsTalk() {
    const QString serverBin = QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-server");
    const QString callBin = QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-call");
    if (!QFileInfo::exists(serverBin) || !QFileInfo::exists(callBin)) {
        QSKIP("dfe58000-server and dfe58000-call must be built first");
    }
    QTemporaryDir dir;
    QProcess server;
    auto stop = qScopeGuard([&] { stopProcess(server); });
    const quint16 port = startServer(server, dir.filePath(QStringLiteral("e.db")), 60);
    QVERIFY(port != 0);

    Run r = call(port, {QStringLiteral("getCarregaPesquisas"), QStringLiteral("[\"01\"]")});
    QCOMPARE(r.exitCode, 0);
    QJsonArray a = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(a.at(0).toString(), QStringLiteral("S"));
    QCOMPARE(a.at(1).toObject().value("rows").toArray().size(), 2);

    const QString today = QDate::currentDate().toString(Qt::ISODate);
    r = call(port, {QStringLiteral("GetNotasDestinadas"),
                    QStringLiteral("[\"_0_1_2_3_\",\"_0_1_2_3_4_5_\",\"T\",\"\",\"T\",\"T\",\"T\","
                                   "\"T\",\"T\",\"T\",\"E\",\"01\",\"T\",\"2020-01-01\",\"%1\","
                                   "\"_0_1_2_3_\",\"T\"]")
                        .arg(today)});
    QCOMPARE(r.exitCode, 0);
    a = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(a.at(0).toString(), QStringLiteral("OK"));
    QCOMPARE(a.at(2).toObject().value("fields").toArray().size(), 31);
    QVERIFY(!a.at(2).toObject().value("rows").toArray().isEmpty());

    // A failure is a message and a non-zero status; the server goes on.
    r = call(port, {QStringLiteral("Inexistente"), QStringLiteral("[]")});
    QVERIFY(r.exitCode != 0);
    QVERIFY2(r.err.contains("Inexistente"), r.err.constData());
    r = call(port, {QStringLiteral("getCarregaPesquisas"), QStringLiteral("[\"01\"")});
    QVERIFY(r.exitCode != 0);
    QVERIFY(!r.err.isEmpty());
    r = call(port, {QStringLiteral("getCarregaPesquisas"), QStringLiteral("[\"01\"]")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(server.state(), QProcess::Running);
}

// What an operator checks on a new installation: a lot of Confirmações registers whole, the
// hourly download limit cuts a lot of 25 at 20 and then blocks, every note of a company whose
// XML is available gets a document that passes the national schema (alphanumeric keys
// included), and a note the demo shows as Confirmada refuses a Ciência as the authority would.
void TestCall::aFreshDemoDatabaseAnswersByTheRules() {
    for (const char* tool : {"xmllint", "xmlsec1", "openssl"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            QSKIP("xmllint, xmlsec1 and openssl are needed (scripts/install-deps installs them)");
        }
    }
    const QString schemas =
        QDir(QStringLiteral(ORVANTA_SOURCE_DIR "/../shared/schemas/nfe")).absolutePath();
    QVERIFY(QFile::exists(schemas + QStringLiteral("/procNFe_v4.00.xsd")));
    QTemporaryDir dir;
    const QString dbFile = dir.filePath(QStringLiteral("demo.db"));
    QProcess server;
    auto stop = qScopeGuard([&] { stopProcess(server); });
    const quint16 port = startServer(server, dbFile, 1000);
    QVERIFY(port != 0);
    dfe58000::Store store(QStringLiteral("sqlite:") + dbFile);
    QSqlDatabase& db = store.database();

    // 25 open notes of one recipient of company 01, authorised within the last 80 days.
    const QString since = store.clock().today().addDays(-80).toString(QStringLiteral("yyyy-MM-dd"));
    const QString reg = column(db, QStringLiteral("SELECT NRINSJURIESTDEST FROM NOTADEST WHERE "
                                                  "CDEMPRESA = '01' AND IDSTATUSNFE = '1' AND "
                                                  "IDSTATUSMANIF IN ('0', '4') AND DTRECBTO >= "
                                                  "'%1' GROUP BY NRINSJURIESTDEST ORDER BY "
                                                  "COUNT(*) DESC")
                                       .arg(since))
                            .value(0);
    const QStringList open = column(db, QStringLiteral("SELECT NRACESSONF FROM NOTADEST WHERE "
                                                       "CDEMPRESA = '01' AND IDSTATUSNFE = '1' "
                                                       "AND IDSTATUSMANIF IN ('0', '4') AND "
                                                       "DTRECBTO >= '%1' AND NRINSJURIESTDEST = "
                                                       "'%2' ORDER BY NRACESSONF")
                                            .arg(since, reg));
    QVERIFY2(open.size() >= 25, qPrintable(QString::number(open.size())));
    const QStringList lot = open.mid(0, 25);

    Run r = call(port, {QStringLiteral("setManifestacao"),
                        jsonArgs({quoted(reg), markedJson(lot), quoted(QStringLiteral("1")),
                                  quoted(QString()), quoted(QStringLiteral("OPER01"))})});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QJsonArray a = QJsonDocument::fromJson(r.out).array();
    QVERIFY2(a.at(2).toString() == u"25", r.out.constData());
    QCOMPARE(a.at(3).toString(), QStringLiteral("0"));

    // The same 25, now released, downloaded in one call: 20 received, 5 past the limit.
    r = call(port, {QStringLiteral("DownloadXML"),
                    jsonArgs({markedJson(lot), quoted(reg), quoted(QStringLiteral("OPER01"))})});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    a = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(a.at(0).toString(), QStringLiteral("LCA"));
    QCOMPARE(a.at(2).toString(), QStringLiteral("20"));
    QCOMPARE(a.at(3).toString(), QStringLiteral("5"));
    r = call(port, {QStringLiteral("DownloadXML"), jsonArgs({markedJson(lot.mid(0, 1)), quoted(reg),
                                                             quoted(QStringLiteral("OPER01"))})});
    QCOMPARE(QJsonDocument::fromJson(r.out).array().at(0).toString(), QStringLiteral("L"));

    // Every note of company 01 whose XML is available.
    const QStringList available =
        column(db, QStringLiteral("SELECT NRACESSONF FROM NOTADEST WHERE CDEMPRESA = '01' AND "
                                  "IDARQXMLNFE = 'S' ORDER BY NRACESSONF"));
    QVERIFY(available.size() > 20);
    QVERIFY2(std::any_of(available.cbegin(), available.cend(),
                         [](const QString& k) {
                             return std::any_of(k.cbegin(), k.cend(),
                                                [](QChar c) { return c.isLetter(); });
                         }),
             "the demo has notes with alphanumeric keys");
    r = call(port, {QStringLiteral("GeraXml"),
                    jsonArgs({markedJson(available), quoted(QStringLiteral("OPER01"))})});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    a = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(a.at(0).toString(), QStringLiteral("S"));
    QCOMPARE(a.at(2).toString(), QString::number(available.size()));
    const QJsonArray docs = a.at(4).toObject().value(QStringLiteral("rows")).toArray();
    QCOMPARE(docs.size(), available.size());
    QStringList files;
    for (const QJsonValue& v : docs) {
        const QJsonArray row = v.toArray();
        QCOMPARE(row.at(2).toString(), QStringLiteral("S"));
        QFile f(dir.filePath(row.at(0).toString() + QStringLiteral(".xml")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(row.at(1).toString().toUtf8());
        files << f.fileName();
    }
    QProcess lint;
    lint.start(
        QStringLiteral("xmllint"),
        QStringList{QStringLiteral("--noout"), QStringLiteral("--nonet"),
                    QStringLiteral("--schema"), schemas + QStringLiteral("/procNFe_v4.00.xsd")} +
            files);
    QVERIFY(lint.waitForFinished(120000));
    QVERIFY2(lint.exitCode() == 0, lint.readAllStandardError().left(2000).constData());

    // A note the demo shows as Confirmada has its Confirmação registered: a Ciência is too late.
    const QStringList confirmed = column(
        db, QStringLiteral("SELECT NRACESSONF || '|' || NRINSJURIESTDEST FROM NOTADEST WHERE "
                           "CDEMPRESA = '01' AND IDSTATUSMANIF = '1' AND IDSTATUSNFE = '1'"));
    QString target;
    for (const QString& c : confirmed) {
        if (!lot.contains(c.section(u'|', 0, 0))) {
            target = c;
        }
    }
    QVERIFY(!target.isEmpty());
    r = call(port, {QStringLiteral("setManifestacao"),
                    jsonArgs({quoted(target.section(u'|', 1)),
                              markedJson({target.section(u'|', 0, 0)}), quoted(QStringLiteral("4")),
                              quoted(QString()), quoted(QStringLiteral("OPER01"))})});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    a = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(a.at(2).toString(), QStringLiteral("0"));
    const QJsonArray rejected = a.at(4).toObject().value(QStringLiteral("rows")).toArray();
    QCOMPARE(rejected.size(), 1);
    QVERIFY2(rejected.at(0).toArray().at(3).toString().startsWith(QStringLiteral("655")),
             r.out.constData());
}

// On loopback the server starts quietly; on an address other machines reach it warns, on every
// start, that it authenticates no one and does not encrypt.
void TestCall::offLoopbackTheServerSaysItTrustsNoOne() {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("w.db"));
    for (const QString& listen : {QStringLiteral("127.0.0.1:0"), QStringLiteral("0.0.0.0:0")}) {
        QProcess server;
        auto stop = qScopeGuard([&] { stopProcess(server); });
        server.start(QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-server"),
                     {QStringLiteral("--listen"), listen, QStringLiteral("--db"),
                      QStringLiteral("sqlite:") + db, QStringLiteral("--notes"),
                      QStringLiteral("10"), QStringLiteral("--quiet")});
        QVERIFY(server.waitForStarted(10000));
        for (int waited = 0;
             !server.canReadLine() && server.state() == QProcess::Running && waited < 120000;
             waited += 50) {
            server.waitForReadyRead(50);
        }
        const QByteArray first = server.readLine().trimmed();
        QVERIFY2(first.startsWith("listening on " + listen.left(listen.indexOf(u':')).toLatin1()),
                 first.constData());
        server.waitForReadyRead(300);
        const QString err = QString::fromUtf8(server.readAllStandardError());
        QCOMPARE(err.contains(QStringLiteral("fora do loopback")),
                 listen.startsWith(QLatin1String("0.0.0.0")));
    }
}

QTEST_GUILESS_MAIN(TestCall)

#include "tst_call.moc"

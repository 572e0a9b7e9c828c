// dfe58000-call and dfe58000-server as an operator uses them: the JSON the command line takes
// and prints, and the two programs talking over loopback on a fresh database.

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "core/hosterror.h"
#include "core/packet.h"
#include "jsonvalues.h"

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

  private:
    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run call(quint16 port, const QStringList& args);
};

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
    if (!QFileInfo::exists(serverBin) || !QFileInfo::exists(callBin))
        QSKIP("dfe58000-server and dfe58000-call must be built first");
    QTemporaryDir dir;
    QProcess server;
    server.start(serverBin,
                 {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"),
                  QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("e.db")),
                  QStringLiteral("--notes"), QStringLiteral("60")});
    QVERIFY(server.waitForStarted(10000));
    auto stop = qScopeGuard([&] {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished();
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() != QProcess::Running, 30000);
    const QByteArray first = server.readLine().trimmed();
    QVERIFY2(first.startsWith("listening on 127.0.0.1:"), first.constData());
    const quint16 port = quint16(first.mid(first.lastIndexOf(':') + 1).toUInt());
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

QTEST_GUILESS_MAIN(TestCall)
#include "tst_call.moc"

// The authority's clock: every deadline, the key's year and the times written into events follow
// Brasília's civil time, not the zone of the server's machine. The program runs in Tokyo's zone
// (twelve hours ahead of Brasília), so a rule reading the machine's date or time gets the day
// wrong for half of every day.

#include <time.h>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "clock.h"
#include "companydb.h"
#include "core/packet.h"
#include "documentnotes.h"
#include "fiscaldocs.h"
#include "methods.h"
#include "net/wire.h"
#include "rules.h"
#include "serverfixture.h"
#include "store.h"

using dfe58000::FixedClock;
using dfe58000::NoteRecord;
using dfe58000::Store;
using host::wire::Reply;
using host::wire::Request;

namespace {

const QString kReg = QStringLiteral("48210375000102");
const QString kIssuer = fiscal::completeCnpj(QStringLiteral("123456780001"));

// A key issued in the year and month of yyMM.
QString keyFor(int number, const QString& yyMM) {
    return testnotes::accessKey(kIssuer, number, QStringLiteral("55001"),
                                QStringLiteral("112345678"), yyMM);
}

// A note authorised at a moment of Brasília's wall clock.
NoteRecord note(int number, const QDateTime& authorised) {
    return testnotes::openNote(number, kReg, kIssuer,
                               keyFor(number, authorised.toString(QStringLiteral("yyMM"))),
                               authorised.addSecs(-3600), authorised);
}

QDateTime at(int y, int m, int d, int hh, int mm) {
    return QDateTime(QDate(y, m, d), QTime(hh, mm));
}

// The event's answer for one note: its cStat (135 registered, else the rejection's code) and the
// rejection's text.
struct Answer {
    int cStat = 0;
    QString text;
};

Answer send(Store& store, const QString& key, const QString& code) {
    const QByteArray marked = host::encodePacket(
        {{QStringLiteral("NRACESSONF"), host::FieldType::String, 50, false}}, {{key}});
    const Reply r = dfe58000::dispatch(
        store, Request{QStringLiteral("DFE58000.rdmManifestacao"),
                       QStringLiteral("setManifestacao"),
                       {kReg, marked, code, QString(), QStringLiteral("OPER01")}});
    if (!r.ok) {
        return {-1, r.error};
    }
    const QVariantList res = r.result.toList();
    if (res.value(2).toString() == u"1") {
        return {135, QString()};
    }
    const QList<QVariantList> rows = host::decodePacket(res.value(4).toByteArray()).rows;
    const QString text = rows.isEmpty() ? res.value(1).toString() : rows.first().at(3).toString();
    return {text.section(u' ', 0, 0).toInt(), text};
}

}  // namespace

class TestClock : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void theSystemClockShowsBrasilia();
    void deadlinesCountBrasiliaDays();
    void aNoteFromBeforeJuneIsJudgedByTheRuleOfTheEventsDay();
    void theKeysYearIsBrasiliasYear();
    void eventTimesAreWrittenInBrasilia();

  private:
    void standAt(const QDateTime& moment) { m_clock->set(moment); }

    StoreFixture m_db;
    std::shared_ptr<FixedClock> m_clock;
};

void TestClock::init() {
    m_db.open(QStringLiteral("c.db"), true);
    m_clock = std::make_shared<FixedClock>(at(2026, 12, 8, 12, 0));
    m_db.store->setClock(m_clock);
}

void TestClock::cleanup() {
    m_db.close();
}

void TestClock::theSystemClockShowsBrasilia() {
    const QDateTime now = dfe58000::Clock().now();
    QCOMPARE(now.offsetFromUtc(), -3 * 3600);
    QCOMPARE(dfe58000::Clock().today(), QDateTime::currentDateTimeUtc().addSecs(-3 * 3600).date());
    // Tokyo's wall clock is not Brasília's: the machine's zone is not what the clock reads.
    QVERIFY(QDateTime::currentDateTime().offsetFromUtc() != now.offsetFromUtc());
}

void TestClock::deadlinesCountBrasiliaDays() {
    // Authorised late in the evening in Brasília: already the next day in UTC and in Tokyo.
    m_db.store->insertNote(note(1, at(2026, 11, 28, 22, 0)));
    m_db.store->insertNote(note(2, at(2026, 11, 28, 22, 0)));
    m_db.store->insertNote(note(3, at(2026, 9, 9, 22, 0)));
    m_db.store->insertNote(note(4, at(2026, 9, 9, 22, 0)));
    const QString ciencia = QStringLiteral("4"), confirmacao = QStringLiteral("1");

    // Day 10 of Ciência to its last minute in Brasília (Tokyo is on the 9th by then).
    standAt(at(2026, 12, 8, 23, 59));
    QCOMPARE(send(*m_db.store, keyFor(1, "2611"), ciencia).cStat, 135);
    // Day 11, ten minutes in.
    standAt(at(2026, 12, 9, 0, 10));
    const Answer late = send(*m_db.store, keyFor(2, "2611"), ciencia);
    QCOMPARE(late.cStat, dfe58000::rules::kOutOfDeadline);
    QVERIFY2(late.text.endsWith(QStringLiteral("10 dias")), qPrintable(late.text));

    // Day 90 of a conclusive event, then day 91.
    standAt(at(2026, 12, 8, 23, 59));
    QCOMPARE(send(*m_db.store, keyFor(3, "2609"), confirmacao).cStat, 135);
    standAt(at(2026, 12, 9, 0, 10));
    const Answer late90 = send(*m_db.store, keyFor(4, "2609"), confirmacao);
    QCOMPARE(late90.cStat, dfe58000::rules::kOutOfDeadline);
    QVERIFY2(late90.text.endsWith(QStringLiteral("90 dias")), qPrintable(late90.text));
}

void TestClock::aNoteFromBeforeJuneIsJudgedByTheRuleOfTheEventsDay() {
    m_db.store->insertNote(note(5, at(2026, 3, 1, 10, 0)));
    m_db.store->insertNote(note(6, at(2026, 3, 1, 10, 0)));
    // On 31/05 the 180-day rule is in force: day 91 is in time.
    standAt(at(2026, 5, 31, 23, 30));
    QCOMPARE(send(*m_db.store, keyFor(5, "2603"), QStringLiteral("2")).cStat, 135);
    // From 01/06 the 90 days count: the same note's day 92 is out of time.
    standAt(at(2026, 6, 1, 0, 30));
    const Answer late = send(*m_db.store, keyFor(6, "2603"), QStringLiteral("2"));
    QCOMPARE(late.cStat, dfe58000::rules::kOutOfDeadline);
    QVERIFY2(late.text.endsWith(QStringLiteral("90 dias")), qPrintable(late.text));
}

void TestClock::theKeysYearIsBrasiliasYear() {
    // A key of January 2027: issued in a year that has not begun in Brasília is 615.
    NoteRecord n = note(7, at(2026, 12, 31, 22, 0));
    n.NRACESSONF = keyFor(7, QStringLiteral("2701"));
    m_db.store->insertNote(n);
    standAt(at(2026, 12, 31, 23, 30));
    QCOMPARE(send(*m_db.store, n.NRACESSONF, QStringLiteral("4")).cStat, 615);
    standAt(at(2027, 1, 1, 0, 30));
    QCOMPARE(send(*m_db.store, n.NRACESSONF, QStringLiteral("4")).cStat, 135);
}

void TestClock::eventTimesAreWrittenInBrasilia() {
    NoteRecord n = note(8, at(2026, 12, 8, 9, 0));
    n.IDARQXMLNFE = QStringLiteral("S");
    m_db.store->insertNote(n);
    standAt(at(2026, 12, 8, 23, 30));
    QCOMPARE(send(*m_db.store, keyFor(8, "2612"), QStringLiteral("1")).cStat, 135);

    QSqlQuery q(m_db.store->database());
    QVERIFY(
        q.exec(QStringLiteral("SELECT N.DTHREVENTO, E.DTHREVENTO, E.DTHRREGISTRO, "
                              "E.DSXMLEVENTO, E.NRPROTOCOLO FROM NOTADEST N JOIN EVENTONFE E "
                              "ON E.NRACESSONF = N.NRACESSONF")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("2026-12-08 23:30:00.000"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("2026-12-08 23:30:00.000"));
    QCOMPARE(q.value(2).toString(), QStringLiteral("2026-12-08 23:30:00.000"));
    const QString xml = q.value(3).toString();
    QVERIFY2(xml.contains(QStringLiteral("<dhEvento>2026-12-08T23:30:00-03:00</dhEvento>")),
             qPrintable(xml.left(2000)));
    QVERIFY(xml.contains(QStringLiteral("<dhRegEvento>2026-12-08T23:30:00-03:00</dhRegEvento>")));
    // The protocol's year is Brasília's.
    QVERIFY(q.value(4).toString().startsWith(QStringLiteral("19126")));

    // The stored times of the note are Brasília's wall clock, written with Brasília's offset.
    const QByteArray marked = host::encodePacket(
        {{QStringLiteral("NRACESSONF"), host::FieldType::String, 50, false}}, {{n.NRACESSONF}});
    const Reply r =
        dfe58000::dispatch(*m_db.store, Request{QStringLiteral("DFE58000.rdmManifestacao"),
                                                QStringLiteral("GeraXml"),
                                                {marked, QStringLiteral("OPER01")}});
    QVERIFY2(r.ok, qPrintable(r.error));
    const QList<QVariantList> docs =
        host::decodePacket(r.result.toList().value(4).toByteArray()).rows;
    QCOMPARE(docs.size(), 1);
    const QString nfe = docs.first().at(1).toString();
    QVERIFY2(nfe.contains(QStringLiteral("<dhRecbto>2026-12-08T09:00:00-03:00</dhRecbto>")),
             qPrintable(nfe.left(3000)));
    QVERIFY(nfe.contains(QStringLiteral("<dhEmi>2026-12-08T08:00:00-03:00</dhEmi>")));
}

int main(int argc, char** argv) {
    qputenv("TZ", "Asia/Tokyo");
    tzset();
    QCoreApplication app(argc, argv);
    TestClock t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_clock.moc"

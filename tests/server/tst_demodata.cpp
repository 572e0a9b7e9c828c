// The demo store as the simulated authority would have left it: each note shown with a
// manifestation has its event registered, logged and (unless left out) archived signed, and the
// rules judge the note by it.

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "companydb.h"
#include "core/packet.h"
#include "methods.h"
#include "net/wire.h"
#include "rules.h"
#include "store.h"
#include "support/pgcluster.h"

using dfe58000::Store;

namespace {

QVariantList row(Store& store, const QString& sql) {
    QSqlQuery q(store.database());
    QVariantList out;
    if (q.exec(sql) && q.next()) {
        for (int i = 0; i < q.record().count(); ++i) {
            out << q.value(i);
        }
    }
    return out;
}

// The first three characters of the answer to one event sent by the note's recipient.
QString send(Store& store, const QVariantList& note, const QString& code) {
    const QByteArray marked =
        host::encodePacket({{QStringLiteral("NRACESSONF"), host::FieldType::String, 50, false},
                            {QStringLiteral("IDCONSULTADO"), host::FieldType::String, 1, false}},
                           {{note.at(0), QStringLiteral("N")}});
    const QVariantList res =
        dfe58000::dispatch(
            store, host::wire::Request{QStringLiteral("DFE58000.rdmManifestacao"),
                                       QStringLiteral("setManifestacao"),
                                       {note.at(1), marked, code, QString(), QStringLiteral("T")}})
            .result.toList();
    const auto rejected = host::decodePacket(res.value(4).toByteArray()).rows;
    return res.value(2).toString() == u"1" ? QStringLiteral("135")
                                           : rejected.value(0).value(3).toString().left(3);
}

}  // namespace

class TestDemoData : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void demoEventsAreTheAuthoritys_data();
    void demoEventsAreTheAuthoritys();
    void nothingIsDatedAheadOfTheClock();
    void bookedNotesHaveTheirEntries();
    void olderStoreGetsTheEntriesOfItsBookedNotes();

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PgCluster> m_pg;
};

void TestDemoData::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("DFE58000_CERT_DIR", m_dir->filePath(QStringLiteral("cert")).toUtf8());
}

void TestDemoData::cleanup() {
    qunsetenv("DFE58000_CERT_DIR");
    m_pg.reset();
}

void TestDemoData::demoEventsAreTheAuthoritys_data() {
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<bool>("archived");
    QTest::newRow("sqlite, archived") << false << true;
    QTest::newRow("sqlite, registered only") << false << false;
    QTest::newRow("postgres, archived") << true << true;
}

void TestDemoData::demoEventsAreTheAuthoritys() {
    QFETCH(bool, postgres);
    QFETCH(bool, archived);
    if (archived && QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty()) {
        QSKIP("xmllint is not installed (scripts/install-deps installs libxml2-utils)");
    }
    QString url = QStringLiteral("sqlite:") + m_dir->filePath(QStringLiteral("d.db"));
    if (postgres) {
        m_pg = std::make_unique<PgCluster>();
        if (!m_pg->ok()) {
            QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + m_pg->error()));
        }
        url = m_pg->createDatabase(QStringLiteral("demo"));
    }
    // A bench store leaves the documents out the same way.
    companydb::SchemaComponent component = dfe58000::storeSchema();
    if (!archived) {
        component.seedDemo = [](QSqlDatabase& db, host::SqlDialect dialect, int notes) {
            dfe58000::insertDemoNotes(db, dialect, notes, dfe58000::Clock().today(),
                                      dfe58000::DemoEvents::RegisteredOnly);
        };
    }
    companydb::ensureDatabase(url, 120, {component});
    QCOMPARE(QFile::exists(m_dir->filePath(QStringLiteral("cert/cert.pem"))), archived);
    Store store(url);

    // Each manifested note: one registered event of its type and sequence 1, logged as
    // registered by its recipient at its event time with the same protocol; nothing else.
    QString type = QStringLiteral("CASE n.IDSTATUSMANIF");
    for (const auto& rule : dfe58000::rules::events()) {
        type += QStringLiteral(" WHEN '%1' THEN %2").arg(rule.moduleCode).arg(rule.tpEvento);
    }
    const QVariantList counts = row(
        store, QStringLiteral("SELECT (SELECT COUNT(*) FROM NOTADEST WHERE IDSTATUSMANIF IN "
                              "('1','2','3','4')), (SELECT COUNT(DISTINCT IDSTATUSMANIF) FROM "
                              "NOTADEST WHERE IDSTATUSMANIF IN ('1','2','3','4')), "
                              "(SELECT COUNT(*) FROM EVENTOREG), (SELECT COUNT(*) FROM EVENTONFE), "
                              "(SELECT COUNT(DISTINCT NRPROTOCOLO) FROM EVENTOREG), (SELECT "
                              "COUNT(DSXMLEVENTO) FROM EVENTONFE), (SELECT COUNT(DISTINCT "
                              "n.NRACESSONF) FROM NOTADEST n JOIN EVENTOREG r ON r.NRACESSONF = "
                              "n.NRACESSONF JOIN EVENTONFE l ON l.NRPROTOCOLO = r.NRPROTOCOLO "
                              "WHERE r.TPEVENTO = %1 END AND r.NRSEQEVENTO = 1 AND "
                              "l.TPEVENTO = r.TPEVENTO AND l.CDSTAT = 135 AND l.NRACESSONF = "
                              "n.NRACESSONF AND l.CDEMPRESA = n.CDEMPRESA AND l.NRINSJURAUTOR = "
                              "n.NRINSJURIESTDEST AND l.DTHREVENTO = n.DTHREVENTO)")
                   .arg(type));
    const int manifested = counts.value(0).toInt();
    QCOMPARE(counts, (QVariantList{manifested, 4, manifested, manifested, manifested,
                                   archived ? manifested : 0, manifested}));

    // Protocols drawn from the sequence in the order the events happened; justifications as the
    // layout takes them, always one for an Operação não Realizada.
    QSqlQuery q(store.database());
    QVERIFY(q.exec(QStringLiteral(
        "SELECT r.NRPROTOCOLO, r.NRORDEMREG, l.DTHREVENTO, l.TPEVENTO, l.DSJUSTIFICATIVA, "
        "l.DSXMLEVENTO FROM EVENTOREG r JOIN EVENTONFE l ON l.NRPROTOCOLO = r.NRPROTOCOLO "
        "ORDER BY r.NRORDEMREG")));
    QDateTime previous;
    QMap<int, QString> sample;
    qint64 lastOrder = 0;
    while (q.next()) {
        const QDateTime at = dfe58000::fromDbDateTime(q.value(2));
        lastOrder = q.value(1).toLongLong();
        QCOMPARE(q.value(0).toString(), QStringLiteral("191%1%2")
                                            .arg(at.toString(QStringLiteral("yy")))
                                            .arg(lastOrder, 10, 10, QChar(u'0')));
        QVERIFY(!previous.isValid() || previous <= at);
        previous = at;
        const auto* rule = dfe58000::rules::eventByTpEvento(q.value(3).toInt());
        const QString just = q.value(4).toString();
        QVERIFY2(just.isEmpty()
                     ? !rule->justificationRequired
                     : rule->justificationAllowed && dfe58000::rules::justificationFitsLayout(just),
                 qPrintable(just));
        QCOMPARE(q.value(5).toString().contains(QStringLiteral("<nProt>") + q.value(0).toString()),
                 archived);
        if (archived && !sample.contains(rule->tpEvento)) {
            sample.insert(rule->tpEvento, q.value(5).toString());
        }
    }
    QCOMPARE(
        row(store, QStringLiteral("SELECT NRULTIMOPROT FROM SEQPROTOCOLO")).value(0).toLongLong(),
        lastOrder);

    // A document of each type: the national schema takes it and its signature verifies.
    for (const QString& xml : sample) {
        const QString file = m_dir->filePath(QStringLiteral("e.xml"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(xml.toUtf8()) > 0);
        f.close();
        for (const QStringList& args :
             {QStringList{"--noout", "--nonet", "--schema",
                          ORVANTA_SOURCE_DIR "/../shared/schemas/nfe/procConfRecebtoNFe_v1.00.xsd",
                          file},
              QStringList{"--verify", "--pubkey-cert-pem", m_dir->filePath("cert/cert.pem"),
                          "--id-attr:Id", "http://www.portalfiscal.inf.br/nfe:infEvento", file}}) {
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(
                QStandardPaths::findExecutable(args.at(0) == u"--verify" ? "xmlsec1" : "xmllint"),
                args);
            QVERIFY(p.waitForFinished(60000));
            QVERIFY2(p.exitCode() == 0, qPrintable(QString::fromLocal8Bit(p.readAll()) + xml));
        }
    }
    QCOMPARE(sample.size(), archived ? 4 : 0);

    // The rules see the demo events: after a Confirmação, Ciência is 655 and the Confirmação
    // again 573; a Confirmação after a demo Ciência registers with a protocol after theirs.
    const QString open = QStringLiteral(
        "SELECT NRACESSONF, NRINSJURIESTDEST FROM NOTADEST WHERE IDSTATUSMANIF = '%1' AND "
        "IDSTATUSNFE IN ('0', '1') AND DTRECBTO > '%2' ORDER BY DTRECBTO DESC");
    const QDate today = dfe58000::Clock().today();
    const QString recent =
        today.addDays(2 - dfe58000::rules::conclusiveDeadlineDays(today)).toString(Qt::ISODate);
    const QVariantList confirmed = row(store, open.arg(QStringLiteral("1"), recent));
    const QVariantList aware = row(store, open.arg(QStringLiteral("4"), recent));
    QVERIFY(confirmed.size() == 2 && aware.size() == 2);
    QCOMPARE(send(store, confirmed, QStringLiteral("4")), QStringLiteral("655"));
    QCOMPARE(send(store, confirmed, QStringLiteral("1")), QStringLiteral("573"));
    QCOMPARE(send(store, aware, QStringLiteral("1")), QStringLiteral("135"));
    const QVariantList latest =
        row(store, QStringLiteral("SELECT TPEVENTO, NRORDEMREG, (SELECT COUNT(*) FROM EVENTOREG o "
                                  "WHERE o.NRPROTOCOLO = r.NRPROTOCOLO) FROM EVENTOREG r WHERE "
                                  "NRACESSONF = '%1' ORDER BY NRORDEMREG DESC")
                       .arg(aware.at(0).toString()));
    QCOMPARE(latest.value(0).toInt(), 210200);
    QCOMPARE(latest.value(1).toLongLong(), lastOrder + 1);
    QCOMPARE(latest.value(2).toInt(), 1);
}

// Nothing in a demo store is dated later than now on Brasília's clock: authorisation, issue,
// booking or event. Enough notes that every day of the spread gets some.
void TestDemoData::nothingIsDatedAheadOfTheClock() {
    const QString url = QStringLiteral("sqlite:") + m_dir->filePath(QStringLiteral("n.db"));
    companydb::SchemaComponent component = dfe58000::storeSchema();
    component.seedDemo = [](QSqlDatabase& db, host::SqlDialect dialect, int notes) {
        dfe58000::insertDemoNotes(db, dialect, notes, dfe58000::Clock().today(),
                                  dfe58000::DemoEvents::RegisteredOnly);
    };
    companydb::ensureDatabase(url, 3000, {component});
    Store store(url);
    const QString agora = dfe58000::Clock().now().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    const QVariantList ultimas =
        row(store, QStringLiteral("SELECT MAX(DTRECBTO), MAX(DTEMISSAO), MAX(DTENTRSAID), "
                                  "MAX(DTHREVENTO) FROM NOTADEST"));
    QCOMPARE(ultimas.size(), 4);
    for (const QVariant& v : ultimas) {
        const QString at =
            dfe58000::fromDbDateTime(v).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        QVERIFY2(!at.isEmpty() && at <= agora, qPrintable(at + QStringLiteral(" > ") + agora));
    }
}

namespace {

// A demo store without signed documents, as the benches make it.
companydb::SchemaComponent quickDemoStore() {
    companydb::SchemaComponent component = dfe58000::storeSchema();
    component.seedDemo = [](QSqlDatabase& db, host::SqlDialect dialect, int notes) {
        dfe58000::insertDemoNotes(db, dialect, notes, dfe58000::Clock().today(),
                                  dfe58000::DemoEvents::RegisteredOnly);
    };
    return component;
}

// Booked notes whose entry in LANCTONF repeats them field by field, booked notes in all, the
// entries in all, and the entries of notes still listed as not in the system (group 1).
const QString kBookCounts = QStringLiteral(
    "SELECT (SELECT COUNT(*) FROM NOTADEST n JOIN LANCTONF l ON l.CDFILIAL = n.CDFILIAL AND "
    "l.NRLANCTONF = n.NRLANCTONF AND l.CDEMPRESA = n.CDEMPRESA AND l.NRACESSONF = n.NRACESSONF "
    "AND l.NRINSJUREMIT = n.NRINSJURNFORIG AND l.NMRAZSOCEMIT = n.NMRAZSOCEMIT AND "
    "l.NRNOTAFISC = n.NRNOTAFISC AND l.CDSERIE = n.CDSERIE AND l.DTEMISSAO = n.DTEMISSAO AND "
    "l.DTENTRSAID = n.DTENTRSAID AND l.VRNOTAFISC = n.VRNOTAFISC), "
    "(SELECT COUNT(*) FROM NOTADEST WHERE NRLANCTONF <> ''), (SELECT COUNT(*) FROM LANCTONF), "
    "(SELECT COUNT(*) FROM LANCTONF l JOIN NOTADEST n ON n.CDEMPRESA = l.CDEMPRESA AND "
    "n.NRACESSONF = l.NRACESSONF WHERE n.IDNOTA = '1' AND (n.NRLANCTONF IS NULL OR "
    "n.NRLANCTONF = ''))");

}  // namespace

// The company's books agree with the notes: every booked note has exactly its entry (same
// branch, number, key, issuer, dates and value); the only other entries belong to a few notes
// still listed as not in the system, booked after the last synchronisation.
void TestDemoData::bookedNotesHaveTheirEntries() {
    const QString url = QStringLiteral("sqlite:") + m_dir->filePath(QStringLiteral("b.db"));
    companydb::ensureDatabase(url, 600, {quickDemoStore()});
    Store store(url);
    const QVariantList counts = row(store, kBookCounts);
    QCOMPARE(counts.size(), 4);
    const int booked = counts.at(1).toInt();
    const int lateBooked = counts.at(3).toInt();
    QVERIFY2(booked > 100, qPrintable(QString::number(booked)));
    QCOMPARE(counts.at(0).toInt(), booked);
    QVERIFY2(lateBooked >= 5 && lateBooked < booked / 4, qPrintable(QString::number(lateBooked)));
    QCOMPARE(counts.at(2).toInt(), booked + lateBooked);
    // Booked notes are the synchronised ones.
    QCOMPARE(row(store, QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE NRLANCTONF <> '' "
                                       "AND IDNOTA NOT IN ('2', '3')"))
                 .value(0)
                 .toInt(),
             0);
}

// A store from before the company kept its books in LANCTONF: the upgrade books the notes its
// booking fields show as booked, once.
void TestDemoData::olderStoreGetsTheEntriesOfItsBookedNotes() {
    const QString url = QStringLiteral("sqlite:") + m_dir->filePath(QStringLiteral("o.db"));
    companydb::ensureDatabase(url, 300, {quickDemoStore()});
    {
        Store store(url);
        QSqlQuery q(store.database());
        QVERIFY(q.exec(QStringLiteral("DELETE FROM LANCTONF")));
        QVERIFY(q.exec(QStringLiteral(
            "UPDATE SCHEMAVERSION SET NRVERSAO = 3 WHERE CDCOMPONENTE = 'DFE58000'")));
    }
    companydb::ensureDatabase(url, 300, {quickDemoStore()});
    companydb::ensureDatabase(url, 300, {quickDemoStore()});
    Store store(url);
    const QVariantList counts = row(store, kBookCounts);
    QVERIFY(counts.value(1).toInt() > 0);
    QCOMPARE(counts.value(0), counts.value(1));
    QCOMPARE(counts.value(2), counts.value(1));
}

QTEST_GUILESS_MAIN(TestDemoData)
#include "tst_demodata.moc"

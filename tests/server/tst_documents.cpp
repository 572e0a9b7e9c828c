// XML generation and download: which notes get their document, what the document holds, and
// the hourly download limit per legal registration shared by every client.

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>
#include <QtTest>
#include <atomic>

#include "companydb.h"
#include "core/packet.h"
#include "documentnotes.h"
#include "documents.h"
#include "fiscaldocs.h"
#include "methods.h"
#include "serverfixture.h"
#include "store.h"

using dfe58000::NoteRecord;
using dfe58000::Store;
using host::wire::Reply;
using host::wire::Request;

namespace {

const QString kRegA = QStringLiteral("48210375000102");
const QString kRegB = QStringLiteral("48210375000293");

using testnotes::keyFor;

NoteRecord note(int number, const QString& manif, const QString& recipient,
                const QString& xml = QStringLiteral("N"), int daysAgo = 3) {
    return testnotes::documentNote(number, manif, recipient, xml, daysAgo);
}

// The text (or, with attribute set, that attribute) of the first element of that name, and
// whether the whole document is well-formed XML.
QString firstOf(const QString& xml, const QString& element, const QString& attribute = {},
                bool* wellFormed = nullptr) {
    QXmlStreamReader r(xml);
    QString found;
    bool have = false;
    while (!r.atEnd()) {
        if (r.readNext() == QXmlStreamReader::StartElement && !have && r.name() == element) {
            have = true;
            found = attribute.isEmpty() ? r.readElementText()
                                        : r.attributes().value(attribute).toString();
        }
    }
    if (wellFormed) {
        *wellFormed = !r.hasError();
    }
    return found;
}

QByteArray marked(const QList<int>& numbers) {
    QStringList keys;
    for (int n : numbers) {
        keys << keyFor(n);
    }
    return testnotes::marked(keys);
}

// A key whose check digit is right for its 43 characters, whatever they hold (letters weigh
// their code minus 48): keys the server must refuse for their characters, not their digit.
QString keyWithRightDigit(const QString& first43) {
    int sum = 0, weight = 2;
    for (qsizetype i = first43.size() - 1; i >= 0; --i) {
        sum += (first43.at(i).unicode() - 48) * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    const int r = sum % 11;
    return first43 + QString::number(r < 2 ? 0 : 11 - r);
}

QList<int> range(int from, int to) {
    QList<int> out;
    for (int i = from; i <= to; ++i) {
        out << i;
    }
    return out;
}

struct Answer {
    bool ok = false;
    QString error;
    QVariantList res;
    QList<QVariantList> docs;
    int received() const { return res.value(2).toString().toInt(); }
    int missing() const { return res.value(3).toString().toInt(); }
};

Answer request(Store& store, const QString& method, const QVariantList& args) {
    const Reply r = dfe58000::dispatch(
        store, Request{QStringLiteral("DFE58000.rdmManifestacao"), method, args});
    Answer a;
    a.ok = r.ok;
    a.error = r.error;
    a.res = r.result.toList();
    if (a.res.value(4).typeId() == QMetaType::QByteArray) {
        a.docs = host::decodePacket(a.res.value(4).toByteArray()).rows;
    }
    return a;
}

Answer answerOf(const QVariant& result) {
    Answer a;
    a.ok = true;
    a.res = result.toList();
    if (a.res.value(4).typeId() == QMetaType::QByteArray) {
        a.docs = host::decodePacket(a.res.value(4).toByteArray()).rows;
    }
    return a;
}

// A download at a chosen moment.
Answer downloadAt(Store& store, const QByteArray& packet, const QDateTime& now) {
    return answerOf(dfe58000::downloadXml(store, packet, kRegA, QStringLiteral("OPER01"), now));
}

// Runs sql and fails the current test when it does not run.
void exec(Store& store, const QString& sql) {
    QSqlQuery q(store.database());
    QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
}

// A trigger that makes the writes of one note fail: the fault of a single note's database work.
void failWritesOf(Store& store, const QString& name, const QString& event, const QString& key) {
    exec(store, QStringLiteral("CREATE TRIGGER %1 BEFORE %2 FOR EACH ROW WHEN NEW.NRACESSONF = "
                               "'%3' BEGIN SELECT RAISE(ABORT, 'falha injetada'); END")
                    .arg(name, event, key));
}

int countOf(Store& store, const QString& sql) {
    QSqlQuery q(store.database());
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}

Answer download(Store& store, const QList<int>& numbers, const QString& reg = kRegA) {
    return request(store, QStringLiteral("DownloadXML"),
                   {marked(numbers), reg, QStringLiteral("OPER01")});
}

}  // namespace

class TestDocuments : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void generationBuildsTheNFeOfNotesWithXml();
    void downloadNeedsARelease();
    void twentyFiveDownloadsHitTheHourlyLimit();
    void theLimitIsPerRegistrationAndPerHour();
    void clientsDownloadingTogetherShareTheLimit();
    void requestsThatCannotBeProcessed();
    void theNotesEnvironmentReachesItsDocuments();
    void aNoteWithoutAuthorisationDateIsNotDownloaded();
    void invalidKeysAreReportedPerNote();
    void aFailingNoteDoesNotSinkTheOthers();
    void everyQueryCountsAndTheBlockRestartsWithEachAttempt();
    void largeJobsLeaveTheDatabaseWritable();

  private:
    StoreFixture m_db;
};

void TestDocuments::init() {
    m_db.open(QStringLiteral("d.db"));
    for (int i = 1; i <= 40; ++i) {
        m_db.store->insertNote(note(i, QStringLiteral("4"), kRegA));
    }
    m_db.store->insertNote(note(41, QStringLiteral("4"), kRegA, QStringLiteral("S")));
    m_db.store->insertNote(note(42, QStringLiteral("0"), kRegA));  // no manifestation yet
    m_db.store->insertNote(note(43, QStringLiteral("2"), kRegA));  // Desconhecimento
    m_db.store->insertNote(note(44, QStringLiteral("1"), kRegA, QStringLiteral("N"), 120));
    for (int i = 50; i <= 52; ++i) {
        m_db.store->insertNote(note(i, QStringLiteral("1"), kRegB));
    }
}

void TestDocuments::cleanup() {
    m_db.close();
}

void TestDocuments::generationBuildsTheNFeOfNotesWithXml() {
    const Answer a = request(*m_db.store, QStringLiteral("GeraXml"),
                             {marked({41, 1, 999}), QStringLiteral("OPER01")});
    QVERIFY2(a.ok, qPrintable(a.error));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("S"));
    QCOMPARE(a.received(), 1);
    QCOMPARE(a.missing(), 2);
    QCOMPARE(a.docs.size(), 3);
    QCOMPARE(a.docs.at(0).at(0).toString(), keyFor(41));
    QVERIFY(a.docs.at(1).at(1).toString().isEmpty());
    QVERIFY(a.docs.at(2).at(1).toString().isEmpty());

    const QString xml = a.docs.at(0).at(1).toString();
    bool wellFormed = false;
    QCOMPARE(firstOf(xml, "nfeProc", "versao", &wellFormed), QStringLiteral("4.00"));
    QVERIFY(wellFormed);
    QCOMPARE(firstOf(xml, "infNFe", "Id"), QStringLiteral("NFe") + keyFor(41));
    QCOMPARE(firstOf(xml, "nNF"), QStringLiteral("41"));
    QCOMPARE(firstOf(xml, "xNome"), QStringLiteral("Fornecedor & Filhos <Ltda>"));
    QCOMPARE(firstOf(xml, "CNPJ"), QStringLiteral("12345678000190"));  // the issuer comes first
    // The issuer's IE comes first (ISENTO: the note does not carry it); the recipient's is ours.
    QVERIFY(xml.contains(QStringLiteral("<indIEDest>1</indIEDest><IE>110042490114</IE>")));
    QCOMPARE(firstOf(xml, "vNF"), QStringLiteral("1234.50"));
    QCOMPARE(firstOf(xml, "chNFe"), keyFor(41));
    QCOMPARE(firstOf(xml, "cStat"), QStringLiteral("100"));
    QVERIFY(xml.contains(QStringLiteral("<dest><CNPJ>") + kRegA));

    QSqlQuery q(m_db.store->database());
    QVERIFY(q.exec(QStringLiteral("SELECT NRACESSONF FROM DOCXMLNFE")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), keyFor(41));
    QVERIFY(!q.next());
}

void TestDocuments::downloadNeedsARelease() {
    const Answer a = download(*m_db.store, {1, 42, 43, 44, 50});
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("OK"));
    QCOMPARE(a.received(), 1);
    QCOMPARE(a.missing(), 4);
    QStringList statuses;
    for (const QVariantList& d : a.docs) {
        statuses << d.at(2).toString();
    }
    QCOMPARE(statuses, (QStringList{"S", "N", "N", "N", "N"}));
    QVERIFY(a.docs.at(0).at(1).toString().contains(keyFor(1)));
    // The note's XML is available for generation from now on.
    QCOMPARE(request(*m_db.store, QStringLiteral("GeraXml"), {marked({1}), QString()}).received(),
             1);
}

void TestDocuments::twentyFiveDownloadsHitTheHourlyLimit() {
    Answer a = download(*m_db.store, range(1, 25));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("LCA"));
    QCOMPARE(a.received(), 20);
    QCOMPARE(a.missing(), 5);
    QCOMPARE(a.docs.size(), 25);
    for (int i = 0; i < 25; ++i) {
        QCOMPARE(a.docs.at(i).at(1).toString().isEmpty(), i >= 20);
    }
    a = download(*m_db.store, {30});
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("L"));
    QCOMPARE(a.received(), 0);
}

void TestDocuments::theLimitIsPerRegistrationAndPerHour() {
    auto clock =
        std::make_shared<dfe58000::FixedClock>(QDateTime(dfe58000::Clock().today(), QTime(9, 0)));
    m_db.store->setClock(clock);
    QCOMPARE(download(*m_db.store, range(1, 20)).res.value(0).toString(), QStringLiteral("OK"));
    QCOMPARE(download(*m_db.store, {21}).res.value(0).toString(), QStringLiteral("L"));
    // Another registration has its own count.
    const Answer b = download(*m_db.store, {50, 51}, kRegB);
    QCOMPARE(b.res.value(0).toString(), QStringLiteral("OK"));
    QCOMPARE(b.received(), 2);
    // An hour after the last attempt, by the store's clock, the registration queries again.
    clock->advanceSecs(3601);
    QCOMPARE(download(*m_db.store, {21}).received(), 1);
}

void TestDocuments::clientsDownloadingTogetherShareTheLimit() {
    std::atomic<int> received{0};
    std::atomic<int> ready{0};
    auto worker = [&](int first) {
        Store store(m_db.url);
        ++ready;
        while (ready < 2) {
            QThread::yieldCurrentThread();
        }
        received += download(store, range(first, first + 14)).received();
    };
    std::unique_ptr<QThread> a(QThread::create(worker, 1));
    std::unique_ptr<QThread> b(QThread::create(worker, 16));
    a->start();
    b->start();
    a->wait();
    b->wait();
    QCOMPARE(received.load(), 20);
}

void TestDocuments::requestsThatCannotBeProcessed() {
    Answer a = download(*m_db.store, {1}, QStringLiteral("11222333000181"));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("ERRO"));
    QVERIFY(!a.res.value(1).toString().isEmpty());
    a = download(*m_db.store, {}, kRegA);
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("ERRO"));
    a = request(*m_db.store, QStringLiteral("GeraXml"), {QStringLiteral("x"), QString()});
    QVERIFY(!a.ok);
    a = request(*m_db.store, QStringLiteral("GeraXml"), {QByteArray("garbage"), QString()});
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("ERRO"));
}

void TestDocuments::theNotesEnvironmentReachesItsDocuments() {
    NoteRecord homologation = note(60, QStringLiteral("4"), kRegA, QStringLiteral("S"));
    homologation.IDAMBIENTEMANIF = QStringLiteral("2");
    NoteRecord production = note(61, QStringLiteral("4"), kRegA, QStringLiteral("S"));
    production.IDAMBIENTEMANIF = QStringLiteral("1");
    // The authority accepts events only for an issuer with a sound CNPJ.
    const QString issuer = QStringLiteral("11222333000181");
    NoteRecord toManifest =
        testnotes::documentNote(62, QStringLiteral("0"), kRegA, QStringLiteral("N"), 3, issuer);
    toManifest.IDAMBIENTEMANIF = QStringLiteral("2");
    NoteRecord toManifestProd =
        testnotes::documentNote(63, QStringLiteral("0"), kRegA, QStringLiteral("N"), 3, issuer);
    toManifestProd.IDAMBIENTEMANIF = QStringLiteral("1");
    for (const NoteRecord& n : {homologation, production, toManifest, toManifestProd}) {
        m_db.store->insertNote(n);
    }

    const Answer a = request(*m_db.store, QStringLiteral("GeraXml"), {marked({60, 61}), QString()});
    QCOMPARE(a.received(), 2);
    // ide and the authorisation protocol both carry it.
    QCOMPARE(a.docs.at(0).at(1).toString().count(QStringLiteral("<tpAmb>2</tpAmb>")), 2);
    QCOMPARE(a.docs.at(1).at(1).toString().count(QStringLiteral("<tpAmb>1</tpAmb>")), 2);

    // The event and the authority's answer in the archived procEventoNFe.
    for (const NoteRecord& n : {toManifest, toManifestProd}) {
        const Answer e = request(*m_db.store, QStringLiteral("setManifestacao"),
                                 {kRegA, testnotes::marked({n.NRACESSONF}), QStringLiteral("4"),
                                  QString(), QStringLiteral("OPER01")});
        QVERIFY2(e.ok, qPrintable(e.error));
        QVERIFY2(e.res.value(2).toString() == u"1",
                 qPrintable(e.docs.value(0).value(3).toString()));
    }
    QSqlQuery q(m_db.store->database());
    QVERIFY(
        q.exec(QStringLiteral("SELECT NRACESSONF, DSXMLEVENTO FROM EVENTONFE WHERE CDSTAT = "
                              "135")));
    int events = 0;
    while (q.next()) {
        ++events;
        const QString env = q.value(0).toString() == toManifest.NRACESSONF ? QStringLiteral("2")
                                                                           : QStringLiteral("1");
        const QString xml = q.value(1).toString();
        QCOMPARE(xml.count(QStringLiteral("<tpAmb>%1</tpAmb>").arg(env)), 2);
        QVERIFY2(xml.contains(QStringLiteral("<CNPJDest>%1</CNPJDest>").arg(kRegA)),
                 qPrintable(xml));
    }
    QCOMPARE(events, 2);
}

void TestDocuments::aNoteWithoutAuthorisationDateIsNotDownloaded() {
    NoteRecord unauthorised = note(60, QStringLiteral("4"), kRegA);
    unauthorised.DTRECBTO = QDateTime();
    m_db.store->insertNote(unauthorised);

    const Answer a = download(*m_db.store, {60, 1});
    QVERIFY2(a.ok, qPrintable(a.error));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("OK"));
    QCOMPARE(a.received(), 1);
    QCOMPARE(a.missing(), 1);
    QCOMPARE(a.docs.size(), 2);
    QCOMPARE(a.docs.at(0).at(0).toString(), keyFor(60));
    QVERIFY(a.docs.at(0).at(1).toString().isEmpty());
    QCOMPARE(a.docs.at(0).at(2).toString(), QStringLiteral("N"));
    QVERIFY2(a.docs.at(0).at(3).toString().contains(QStringLiteral("data de autorização")),
             qPrintable(a.docs.at(0).at(3).toString()));
    QCOMPARE(a.docs.at(1).at(2).toString(), QStringLiteral("S"));

    // Only the served note counts against the hour and becomes available for generation.
    QSqlQuery q(m_db.store->database());
    QVERIFY(
        q.exec(QStringLiteral("SELECT NRACESSONF, CDSTATUS FROM DOWNLOADLOG ORDER BY "
                              "CDSTATUS")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), keyFor(60));
    QCOMPARE(q.value(1).toString(), QStringLiteral("N"));
    QVERIFY(q.next());
    QCOMPARE(q.value(1).toString(), QStringLiteral("S"));
    QVERIFY(!q.next());
    q.prepare(QStringLiteral("SELECT IDARQXMLNFE FROM NOTADEST WHERE NRACESSONF = ?"));
    q.addBindValue(keyFor(60));
    QVERIFY(q.exec());
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("N"));
}

void TestDocuments::invalidKeysAreReportedPerNote() {
    const QString tail = QStringLiteral("55002000000070187654321");
    // A letter in the issuer's CNPJ check digits, a lower-case letter, a wrong check digit: the
    // stored note is there, its key is not one a document can carry.
    const QStringList bad = {
        keyWithRightDigit(QStringLiteral("352611") + QStringLiteral("12ABC34501DEA5") + tail),
        keyWithRightDigit(QStringLiteral("352611") + QStringLiteral("12aBC34501DE35") + tail),
        keyFor(71).left(43) + QString::number((keyFor(71).right(1).toInt() + 1) % 10)};
    for (const QString& key : bad) {
        QCOMPARE(key.size(), 44);
        QVERIFY2(!fiscal::isValidAccessKey(key), qPrintable(key));
        NoteRecord n = note(70, QStringLiteral("4"), kRegA, QStringLiteral("S"));
        n.NRACESSONF = key;
        m_db.store->insertNote(n);
    }
    const QStringList keys = QStringList{keyFor(41)} + bad;
    for (const QString& method : {QStringLiteral("GeraXml"), QStringLiteral("DownloadXML")}) {
        const Answer a = method == u"GeraXml"
                             ? request(*m_db.store, method, {testnotes::marked(keys), QString()})
                             : request(*m_db.store, method,
                                       {testnotes::marked(keys), kRegA, QStringLiteral("OPER01")});
        QVERIFY2(a.ok, qPrintable(a.error));
        QVERIFY2(a.res.value(1).toString().isEmpty(), qPrintable(a.res.value(1).toString()));
        QCOMPARE(a.received(), 1);
        QCOMPARE(a.missing(), 3);
        QCOMPARE(a.docs.size(), 4);
        QCOMPARE(a.docs.at(0).at(2).toString(), QStringLiteral("S"));
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(a.docs.at(i).at(0).toString(), bad.at(i - 1));
            QCOMPARE(a.docs.at(i).at(2).toString(), QStringLiteral("N"));
            QCOMPARE(a.docs.at(i).at(3).toString(), QStringLiteral("Chave de acesso inválida."));
        }
    }
}

void TestDocuments::aFailingNoteDoesNotSinkTheOthers() {
    // GeraXml: a recipient that is neither CPF nor CNPJ (building fails) and a note whose archive
    // the database refuses, among good ones.
    NoteRecord noRecipient = note(45, QStringLiteral("4"), QStringLiteral("ABC"), "S");
    m_db.store->insertNote(noRecipient);
    exec(*m_db.store,
         QStringLiteral("UPDATE NOTADEST SET IDARQXMLNFE = 'S' WHERE NRNOTAFISC = '2'"));
    failWritesOf(*m_db.store, QStringLiteral("TG_ARQUIVO"), QStringLiteral("INSERT ON DOCXMLNFE"),
                 keyFor(2));
    Answer a = request(*m_db.store, QStringLiteral("GeraXml"),
                       {marked({41, 45, 2, 999}), QStringLiteral("OPER01")});
    QVERIFY2(a.ok, qPrintable(a.error));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("S"));
    QCOMPARE(a.received(), 1);
    QCOMPARE(a.missing(), 3);
    QCOMPARE(a.docs.size(), 4);
    QCOMPARE(a.docs.at(0).at(2).toString(), QStringLiteral("S"));
    for (int i : {1, 2}) {
        QCOMPARE(a.docs.at(i).at(2).toString(), QStringLiteral("E"));
        QVERIFY(a.docs.at(i).at(1).toString().isEmpty());
    }
    QVERIFY2(a.docs.at(1).at(3).toString().contains(QStringLiteral("CNPJ/CPF")),
             qPrintable(a.docs.at(1).at(3).toString()));
    QVERIFY2(a.docs.at(2).at(3).toString().contains(QStringLiteral("falha injetada")),
             qPrintable(a.docs.at(2).at(3).toString()));
    QCOMPARE(a.docs.at(3).at(2).toString(), QStringLiteral("N"));
    QCOMPARE(countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM DOCXMLNFE")), 1);

    // DownloadXML: the archive of one note and the flag of another fail; the flag's note keeps
    // no archive either, the third is served, and all three queries stay counted.
    failWritesOf(*m_db.store, QStringLiteral("TG_FLAG"), QStringLiteral("UPDATE ON NOTADEST"),
                 keyFor(3));
    a = download(*m_db.store, {2, 3, 4});
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("OK"));
    QCOMPARE(a.received(), 1);
    QCOMPARE(a.missing(), 2);
    QStringList statuses;
    for (const QVariantList& d : a.docs) {
        statuses << d.at(2).toString();
    }
    QCOMPARE(statuses, (QStringList{"E", "E", "S"}));
    QVERIFY(a.docs.at(1).at(3).toString().contains(QStringLiteral("falha injetada")));
    QVERIFY(a.docs.at(2).at(1).toString().contains(keyFor(4)));
    QCOMPARE(countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM DOCXMLNFE WHERE NRACESSONF "
                                                 "= '%1'")
                                      .arg(keyFor(3))),
             0);
    QCOMPARE(countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE "
                                                 "IDARQXMLNFE = 'S' AND NRNOTAFISC IN ('3', '4')")),
             1);
    QCOMPARE(countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM DOWNLOADLOG WHERE CDSTATUS "
                                                 "= 'E'")),
             2);
    QCOMPARE(countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM DOWNLOADLOG")), 3);
}

void TestDocuments::everyQueryCountsAndTheBlockRestartsWithEachAttempt() {
    const QDateTime t0 = QDateTime::currentDateTime();
    // Queries of notes not yet released count as much as served ones.
    QStringList keys;
    for (int i = 0; i < 10; ++i) {
        keys << keyFor(42);
    }
    for (int n : range(1, 15)) {
        keys << keyFor(n);
    }
    Answer a = downloadAt(*m_db.store, testnotes::marked(keys), t0);
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("LCA"));
    QCOMPARE(a.received(), 10);
    QCOMPARE(a.missing(), 15);
    for (int i = 0; i < 25; ++i) {
        QCOMPARE(a.docs.at(i).at(2).toString(), QString(i < 10 ? "N" : i < 20 ? "S" : "L"));
    }
    QVERIFY(a.docs.at(24).at(3).toString().startsWith(QStringLiteral("656 - ")));

    a = downloadAt(*m_db.store, marked({30}), t0.addSecs(60));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("L"));
    QCOMPARE(a.received(), 0);
    // Half an hour later the hour of the first queries is not over: still blocked, and the block
    // starts again from this attempt.
    a = downloadAt(*m_db.store, marked({30}), t0.addSecs(30 * 60));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("L"));
    // An hour after the first queries, but not after the last attempt.
    a = downloadAt(*m_db.store, marked({30}), t0.addSecs(80 * 60));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("L"));
    a = downloadAt(*m_db.store, marked({30, 31}), t0.addSecs(141 * 60));
    QCOMPARE(a.res.value(0).toString(), QStringLiteral("OK"));
    QCOMPARE(a.received(), 2);

    // The block was the registration's only.
    a = download(*m_db.store, range(50, 52), kRegB);
    QCOMPARE(a.received(), 3);
}

void TestDocuments::largeJobsLeaveTheDatabaseWritable() {
    // A generation of hundreds of documents, long enough that a job holding the write lock
    // while it signs would fail the clerk below; a download is bounded by the hourly limit.
    {
        Store::Transaction tx(*m_db.store);
        for (int i = 100; i < 900; ++i) {
            m_db.store->insertNote(note(i, QStringLiteral("4"), kRegA));
        }
        tx.commit();
    }
    exec(*m_db.store, QStringLiteral("UPDATE NOTADEST SET IDARQXMLNFE = 'S'"));
    Store clerk(m_db.url);
    // The clerk waits for the lock as the server's own connections do; how long it waited at
    // most tells how long the job held it at a time.
    exec(clerk, QStringLiteral("PRAGMA busy_timeout = 10000"));
    for (const QString& method : {QStringLiteral("GeraXml"), QStringLiteral("DownloadXML")}) {
        std::atomic<int> served{-1};
        std::unique_ptr<QThread> job(QThread::create([&] {
            Store store(m_db.url);
            served = method == u"GeraXml"
                         ? request(store, method, {marked(range(100, 899)), QString()}).received()
                         : download(store, range(1, 20)).received();
        }));
        QElapsedTimer clock;
        clock.start();
        job->start();
        int writes = 0;
        qint64 longestWait = 0;
        while (!job->isFinished()) {
            QSqlDatabase& db = clerk.database();
            QSqlQuery q(db);
            QElapsedTimer wait;
            wait.start();
            QVERIFY2(q.exec(QStringLiteral("BEGIN IMMEDIATE")), qPrintable(q.lastError().text()));
            longestWait = std::max(longestWait, wait.elapsed());
            QVERIFY2(q.exec(QStringLiteral("INSERT INTO DOWNLOADLOG (NRINSJURIEST, DTHRDOWNLOAD, "
                                           "NRACESSONF, CDSTATUS) VALUES ('%1', '2000-01-01', "
                                           "'x', 'N')")
                                .arg(kRegB)),
                     qPrintable(q.lastError().text()));
            QVERIFY2(db.commit(), qPrintable(db.lastError().text()));
            ++writes;
            QThread::msleep(5);
        }
        job->wait();
        QCOMPARE(served.load(), method == u"GeraXml" ? 800 : 20);
        if (method == u"GeraXml") {
            // The clerk wrote all along the job and never waited for more than a small part
            // of it: the lock is not held while the documents are signed.
            const qint64 total = clock.elapsed();
            QVERIFY(writes > 3);
            QVERIFY2(longestWait * 3 < total,
                     qPrintable(QStringLiteral("%1 of %2 ms").arg(longestWait).arg(total)));
        }
    }
}

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"

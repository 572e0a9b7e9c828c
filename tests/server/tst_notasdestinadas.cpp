// The note query and the registrations lookup, called the way the server's request loop calls
// them, on a store filled with hand-made notes (SQLite, and PostgreSQL where a cluster starts),
// plus the demo notes a new database gets.

#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "companydb.h"
#include "core/packet.h"
#include "fiscaldocs.h"
#include "methods.h"
#include "rules.h"
#include "store.h"
#include "support/pgcluster.h"

using dfe58000::NoteRecord;
using dfe58000::Store;
using host::wire::Reply;
using host::wire::Request;

namespace {

// The day the deadline warnings are counted from in these tests: a Tuesday.
const QDate kToday(2026, 12, 8);
const QString kRegA = QStringLiteral("48210375000102");  // company 01, branches 0001 and 0003
const QString kRegB = QStringLiteral("48210375000293");  // company 01, branch 0002

QString keyFor(int number) {
    const QString first43 =
        QStringLiteral("35261112345678000190550010000%1").arg(number, 5, 10, QChar(u'0')) +
        QStringLiteral("1") + QStringLiteral("12345678").left(8);
    return first43.left(43) + QString::number(fiscal::accessKeyCheckDigit(first43.left(43)));
}

// A note authorised so that its conclusive deadline is daysLeft calendar days after kToday.
NoteRecord note(int number, const QString& nfe, const QString& manif, const QString& idNota,
                const QString& branch, const QString& serie, const QString& kind,
                const QString& issuer, const QString& oper, const QString& direction,
                const QString& reg, const QDate& issued, int daysLeft) {
    NoteRecord n;
    n.CDEMPRESA = QStringLiteral("01");
    n.NRNOTAFISC = QStringLiteral("%1").arg(number, 9, 10, QChar(u'0'));
    n.IDSTATUSNFE = nfe;
    n.IDSTATUSMANIF = manif;
    n.IDNOTA = idNota;
    n.CDFILIALORIG = branch;
    n.CDSERIE = serie;
    n.IDORIGEMIT = kind;
    n.CDEMITENTE = issuer;
    n.NMRAZSOCEMIT = QStringLiteral("Emitente %1").arg(number);
    n.CDTIPOOPER = oper;
    n.IDENTRSAIDOP = direction;
    n.NRINSJURIESTDEST = reg;
    n.CDINSCESTADEST = QStringLiteral("IE-") + branch;
    n.DTEMISSAO = QDateTime(issued, QTime(10, 0));
    n.DTRECBTO = QDateTime(
        kToday.addDays(daysLeft - dfe58000::rules::conclusiveDeadlineDays(kToday)), QTime(9, 30));
    n.NRACESSONF = keyFor(number);
    n.VRNOTAFISC = number + 0.25;
    return n;
}

void fillCriteriaStore(Store& store) {
    store.insertNote(note(100, "0", "0", "1", "0001", "1", "F", "F00001", "01", "E", kRegA,
                          {2026, 3, 10}, 2));  // now
    store.insertNote(note(200, "1", "4", "2", "0002", "2", "C", "C00001", "05", "E", kRegB,
                          {2026, 6, 15}, 14));  // near
    store.insertNote(note(300, "2", "1", "3", "0003", "890", "L", "0004", "51", "S", kRegA,
                          {2026, 9, 1}, 2));  // conclusive already: none
    store.insertNote(note(400, "3", "5", "4", "0001", "1", "F", "F00002", "02", "E", kRegA,
                          {2026, 11, 30}, 2));  // cancelled: none
    store.insertNote(note(500, "1", "2", "5", "0002", "3", "F", "F00001", "01", "E", kRegB,
                          {2026, 12, 1}, 3));  // conclusive already: none
    store.insertNote(note(600, "1", "0", "7", "0001", "1", "F", "F00001", "01", "E", kRegA,
                          {2025, 12, 31}, 3));  // outside the issue period of the base query
    NoteRecord other = note(700, "1", "0", "1", "0004", "1", "F", "F00001", "01", "E",
                            QStringLiteral("61935502000172"), {2026, 5, 5}, 3);
    other.CDEMPRESA = QStringLiteral("02");
    store.insertNote(other);
    store.insertNote(note(800, "1", "5", "6", "0003", "1", "F", "F00003", "08", "E", kRegA,
                          {2026, 8, 1}, -1));  // past its deadline: none
    store.insertNote(note(900, "1", "0", "2", "0003", "1", "F", "F00003", "08", "E", kRegA,
                          {2026, 8, 2}, 30));  // far from it: none
}

// The 17 arguments with every criterion open, then the overrides by position (1-based).
QVariantList args(const QMap<int, QVariant>& overrides = {}) {
    QVariantList a = {QStringLiteral("_0_1_2_3_"), QStringLiteral("_0_1_2_3_4_5_"),
                      QStringLiteral("T"),         QString(),
                      QStringLiteral("T"),         QStringLiteral("T"),
                      QStringLiteral("T"),         QStringLiteral("T"),
                      QStringLiteral("T"),         QStringLiteral("T"),
                      QStringLiteral("T"),         QStringLiteral("01"),
                      QStringLiteral("T"),         QDate(2026, 1, 1),
                      QDate(2026, 12, 31),         QStringLiteral("_0_1_2_3_"),
                      QStringLiteral("T")};
    for (auto it = overrides.begin(); it != overrides.end(); ++it) {
        a[it.key() - 1] = it.value();
    }
    return a;
}

// The deadlines of these cases are counted from kToday, at noon in Brasília.
void standOnToday(Store& store) {
    store.setClock(std::make_shared<dfe58000::FixedClock>(QDateTime(kToday, QTime(12, 0))));
}

Reply call(Store& store, const QString& method, const QVariantList& a) {
    standOnToday(store);
    return dfe58000::dispatch(store,
                              Request{QStringLiteral("DFE58000.rdmManifestacao"), method, a});
}

// The note numbers (as integers) of a packet, in packet order.
QList<int> numbers(const QVariant& packet) {
    const host::DecodedPacket p = host::decodePacket(packet.toByteArray());
    QList<int> out;
    for (const QVariantList& r : p.rows) {
        out << r.at(5).toString().toInt();
    }
    return out;
}

struct Case {
    const char* name;
    QMap<int, QVariant> overrides;
    QList<int> expected;  // sorted note numbers; empty with error set means "ERRO"
    bool error = false;
};

QList<Case> criteriaCases() {
    const QString S = QStringLiteral("S");
    return {
        {"every criterion open", {}, {100, 200, 300, 400, 500, 800, 900}},
        {"NF-e situations", {{1, QStringLiteral("_0_3_")}}, {100, 400}},
        {"manifestation situations", {{2, QStringLiteral("_2_5_")}}, {400, 500, 800}},
        {"sync: not at the authority", {{16, QStringLiteral("_0_")}}, {500, 800}},
        {"sync: synchronised", {{16, QStringLiteral("_2_")}}, {200, 300, 900}},
        {"sync: not in the system and importing", {{16, QStringLiteral("_1_3_")}}, {100, 400}},
        {"note range",
         {{3, QStringLiteral("000000150")}, {4, QStringLiteral("000000400")}},
         {200, 300, 400}},
        {"range equal ends", {{3, QStringLiteral("300")}, {4, QStringLiteral("300")}}, {300}},
        {"range T ignores a stale final",
         {{3, QStringLiteral("T")}, {4, QStringLiteral("5")}},
         {100, 200, 300, 400, 500, 800, 900}},
        {"range open below", {{3, QString()}, {4, QStringLiteral("000000300")}}, {100, 200, 300}},
        {"range open below, blanks",
         {{3, QStringLiteral("   ")}, {4, QStringLiteral("250")}},
         {100, 200}},
        {"range open above", {{3, QStringLiteral("000000500")}, {4, QString()}}, {500, 800, 900}},
        {"range open above, final unset",
         {{3, QStringLiteral("800")}, {4, QVariant()}},
         {800, 900}},
        {"range open above, final T",
         {{3, QStringLiteral("801")}, {4, QStringLiteral("T")}},
         {900}},
        {"range open at both ends",
         {{3, QString()}, {4, QStringLiteral(" ")}},
         {100, 200, 300, 400, 500, 800, 900}},
        {"access key", {{5, keyFor(300)}}, {300}},
        {"access key with blanks", {{5, QStringLiteral("  ") + keyFor(300) + u' '}}, {300}},
        {"origin branch", {{6, QStringLiteral("0002")}}, {200, 500}},
        {"origin branch padded", {{6, QStringLiteral("2")}}, {200, 500}},
        {"series", {{7, QStringLiteral("890")}}, {300}},
        {"issuer kind supplier", {{8, QStringLiteral("F")}}, {100, 400, 500, 800, 900}},
        {"one supplier", {{8, QStringLiteral("F")}, {9, QStringLiteral("F00001")}}, {100, 500}},
        {"issuer kind client", {{8, QStringLiteral("C")}, {9, QStringLiteral("T")}}, {200}},
        {"issuing branch", {{8, QStringLiteral("L")}, {9, QStringLiteral("4")}}, {300}},
        {"one operation type", {{10, QStringLiteral("01")}}, {100, 500}},
        {"operation type list", {{10, QStringLiteral("01,05")}}, {100, 200, 500}},
        {"operation type list with blanks", {{10, QStringLiteral("1, 51")}}, {100, 300, 500}},
        {"direction exit", {{11, S}}, {300}},
        {"direction entry", {{11, QStringLiteral("E")}}, {100, 200, 400, 500, 800, 900}},
        {"state registration", {{13, QStringLiteral("IE-0002")}}, {200, 500}},
        {"issue period, end day included",
         {{14, QDate(2026, 6, 15)}, {15, QDate(2026, 9, 1)}},
         {200, 300, 800, 900}},
        {"legal registration", {{17, kRegB}}, {200, 500}},
        {"legal registration with mask", {{17, QStringLiteral("48.210.375/0002-93")}}, {200, 500}},
        {"criteria combined",
         {{1, QStringLiteral("_1_")}, {8, QStringLiteral("F")}, {17, kRegB}},
         {500}},
        {"unknown company", {{12, QStringLiteral("99")}}, {}, true},
        {"registration of another company", {{17, QStringLiteral("61935502000172")}}, {}, true},
        {"situation list without underscores", {{1, QStringLiteral("0_1")}}, {}, true},
        {"situation code out of range", {{2, QStringLiteral("_6_")}}, {}, true},
        // "_" is a list with every box unchecked: valid, and nothing matches it.
        {"no NF-e situation checked", {{1, QStringLiteral("_")}}, {}},
        {"no manifestation situation checked", {{2, QStringLiteral("_")}}, {}},
        {"no sync situation checked", {{16, QStringLiteral("_")}}, {}},
        {"no situation checked, with blanks", {{2, QStringLiteral(" _ ")}}, {}},
        {"empty situation list", {{1, QString()}}, {}, true},
        {"doubled underscore", {{2, QStringLiteral("__")}}, {}, true},
        {"sync code out of range", {{16, QStringLiteral("_9_")}}, {}, true},
        {"sync list without underscores", {{16, QStringLiteral("0_1")}}, {}, true},
        {"note number not a number",
         {{3, QStringLiteral("abc")}, {4, QStringLiteral("1")}},
         {},
         true},
        {"range reversed", {{3, QStringLiteral("10")}, {4, QStringLiteral("2")}}, {}, true},
        {"range open below, final not a number",
         {{3, QString()}, {4, QStringLiteral("abc")}},
         {},
         true},
        {"short access key", {{5, keyFor(300).left(43)}}, {}, true},
        {"unknown issuer kind", {{8, QStringLiteral("X")}}, {}, true},
        {"operation types with semicolons", {{10, QStringLiteral("01;05")}}, {}, true},
        {"bad direction", {{11, QStringLiteral("X")}}, {}, true},
        {"period reversed", {{14, QDate(2026, 5, 1)}, {15, QDate(2026, 4, 1)}}, {}, true},
    };
}

// Runs every case; returns the failures as text (empty when all pass).
QStringList runCriteria(Store& store) {
    QStringList failures;
    for (const Case& c : criteriaCases()) {
        const Reply r = call(store, QStringLiteral("GetNotasDestinadas"), args(c.overrides));
        if (!r.ok) {
            failures << QStringLiteral("%1: error reply %2").arg(QLatin1String(c.name), r.error);
            continue;
        }
        const QVariantList res = r.result.toList();
        if (res.size() != 5) {
            failures
                << QStringLiteral("%1: %2 elements").arg(QLatin1String(c.name)).arg(res.size());
            continue;
        }
        if (c.error) {
            if (res.at(0).toString() != u"ERRO" || res.at(1).toString().isEmpty() ||
                res.at(2).toString() != u"0" || res.at(3).toString() != u"0") {
                failures << QStringLiteral("%1: expected ERRO, got %2")
                                .arg(QLatin1String(c.name), res.at(0).toString());
            }
            continue;
        }
        if (res.at(0).toString() != u"OK") {
            failures << QStringLiteral("%1: %2 %3")
                            .arg(QLatin1String(c.name), res.at(0).toString(), res.at(1).toString());
            continue;
        }
        QList<int> got = numbers(res.at(2));
        std::sort(got.begin(), got.end());
        if (got != c.expected) {
            QStringList g, e;
            for (int n : got) {
                g << QString::number(n);
            }
            for (int n : c.expected) {
                e << QString::number(n);
            }
            failures << QStringLiteral("%1: got [%2], expected [%3]")
                            .arg(QLatin1String(c.name), g.join(u','), e.join(u','));
        }
    }
    return failures;
}

}  // namespace

class TestNotasDestinadas : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();

    void registrationsOfACompany();
    void unknownCompanyGetsAPlainText();
    void everyCriterionNarrowsTheQuery();
    void notesComeInTheRecordLayout();
    void listOrderIsIssuerDateValue();
    void deadlinePacketsHoldOnlyOpenNotesNearTheirDeadline();
    void wrongArgumentCountOrTypeIsAnErrorReply();
    void datesMayComeWithTheirTimeAndMethodNamesInAnyCase();
    void otherServerAndUnknownMethodAreRefused();
    void postgresGivesTheSameAnswers();
    void sqliteReadsGiveTheDriversPackets();

    void demoNotesCoverEveryGroupWithValidKeys();

    void businessDaysSkipWeekends();
    void deadlineRuleFollowsTheDateOfChange();

  private:
    QTemporaryDir m_dir;
    QString m_url;
    std::unique_ptr<Store> m_store;
};

void TestNotasDestinadas::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_url = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("criteria.db"));
    companydb::ensureDatabase(m_url, 0, {dfe58000::storeSchema()});
    m_store = std::make_unique<Store>(m_url);
    QCOMPARE(m_store->noteCount(), 0);
    fillCriteriaStore(*m_store);
}

void TestNotasDestinadas::cleanupTestCase() {
    m_store.reset();
}

void TestNotasDestinadas::registrationsOfACompany() {
    const Reply r = call(*m_store, QStringLiteral("getCarregaPesquisas"), {QStringLiteral("01")});
    QVERIFY2(r.ok, qPrintable(r.error));
    const QVariantList res = r.result.toList();
    QCOMPARE(res.size(), 2);
    QCOMPARE(res.at(0).toString(), QStringLiteral("S"));
    const host::DecodedPacket p = host::decodePacket(res.at(1).toByteArray());
    QCOMPARE(p.fields.size(), 2);
    QCOMPARE(p.fields.at(0).name, QStringLiteral("NRINSJURIEST"));
    QCOMPARE(p.fields.at(0).size, 20);
    QCOMPARE(p.fields.at(1).name, QStringLiteral("IDTPIJURIEST"));
    QVERIFY(p.fields.at(1).fixed);
    QCOMPARE(p.rows.size(), 2);  // head office and the Minas Gerais branch; no repeats
    QCOMPARE(p.rows.at(0).at(0).toString(), kRegA);
    QCOMPARE(p.rows.at(1).at(0).toString(), kRegB);
    QCOMPARE(p.rows.at(0).at(1).toString(), QStringLiteral("J"));

    // A code typed without its leading zero is the same company.
    const Reply padded =
        call(*m_store, QStringLiteral("getCarregaPesquisas"), {QStringLiteral("1")});
    QCOMPARE(host::decodePacket(padded.result.toList().at(1).toByteArray()).rows.size(), 2);
}

void TestNotasDestinadas::unknownCompanyGetsAPlainText() {
    const Reply r = call(*m_store, QStringLiteral("getCarregaPesquisas"), {QStringLiteral("77")});
    QVERIFY(r.ok);
    QCOMPARE(r.result.typeId(), QMetaType::QString);
    QVERIFY2(r.result.toString().contains(QStringLiteral("77")), qPrintable(r.result.toString()));
}

void TestNotasDestinadas::everyCriterionNarrowsTheQuery() {
    const QStringList failures = runCriteria(*m_store);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
}

void TestNotasDestinadas::notesComeInTheRecordLayout() {
    const Reply r = call(*m_store, QStringLiteral("GetNotasDestinadas"), args({{5, keyFor(200)}}));
    const QVariantList res = r.result.toList();
    const host::DecodedPacket p = host::decodePacket(res.at(2).toByteArray());
    const QStringList expected = {
        "IDMARCADO",     "CDFILIALORIG",  "CDEMPRESA",        "NRINSJURNFORIG",  "NMRAZSOCEMIT",
        "NRNOTAFISC",    "DTENTRSAID",    "DTEMISSAO",        "CDSERIE",         "IDSTATUSNFE",
        "IDSTATUSMANIF", "IDTIPOINCL",    "IDTIPOEVENTO",     "IDAMBIENTEMANIF", "DTHREVENTO",
        "NRSEQEVENTO",   "DSCORRECAONFE", "DSOBSSTATUSMANIF", "CDFILIAL",        "NRLANCTONF",
        "NRINSJURNF",    "IDENTRSAIDNF",  "IDENTRSAIDOP",     "NRACESSONF",      "IDNOTA",
        "IDARQXMLNFE",   "NRACESSOINTG",  "VRNOTAFISC",       "DTRECBTO",        "NRINSJURIESTDEST",
        "CDINSCESTADEST"};
    QStringList names;
    for (const host::FieldDef& f : p.fields) {
        names << f.name;
    }
    QCOMPARE(names, expected);
    auto def = [&](const char* name) { return p.fields.at(expected.indexOf(QLatin1String(name))); };
    QCOMPARE(def("IDMARCADO").size, 1);
    QVERIFY(def("IDMARCADO").fixed);
    QVERIFY(def("IDNOTA").fixed);
    QCOMPARE(def("NMRAZSOCEMIT").size, 250);
    QCOMPARE(def("DSCORRECAONFE").size, 1000);
    QCOMPARE(def("NRACESSONF").size, 50);
    QCOMPARE(def("NRACESSOINTG").size, 44);
    QCOMPARE(def("IDTIPOEVENTO").size, 6);
    QCOMPARE(def("VRNOTAFISC").type, host::FieldType::Float);
    for (const char* d : {"DTENTRSAID", "DTEMISSAO", "DTHREVENTO", "DTRECBTO"}) {
        QCOMPARE(def(d).type, host::FieldType::DateTime);
    }

    // The values survive the store and the packet unchanged.
    QCOMPARE(p.rows.size(), 1);
    const QVariantList row = p.rows.at(0);
    QCOMPARE(row.at(0).toString(), QStringLiteral("N"));
    QCOMPARE(row.at(5).toString(), QStringLiteral("000000200"));
    QCOMPARE(row.at(7).toDateTime(), QDateTime(QDate(2026, 6, 15), QTime(10, 0)));
    QCOMPARE(row.at(23).toString(), keyFor(200));
    QCOMPARE(row.at(27).toDouble(), 200.25);
    QCOMPARE(row.at(28).toDateTime().time(), QTime(9, 30));
    QCOMPARE(row.at(29).toString(), kRegB);
    QVERIFY(row.at(6).isNull());  // not booked: no entry date
}

void TestNotasDestinadas::listOrderIsIssuerDateValue() {
    NoteRecord a =
        note(1001, "1", "1", "2", "0001", "1", "F", "F00009", "01", "E", kRegA, {2026, 4, 2}, 40);
    a.NMRAZSOCEMIT = QStringLiteral("AAA Ordem");
    a.VRNOTAFISC = 50;
    NoteRecord b = a;
    b.NRNOTAFISC = QStringLiteral("000001002");
    b.NRACESSONF = keyFor(1002);
    b.VRNOTAFISC = 10;  // same issuer and date, smaller value: first
    NoteRecord c = a;
    c.NRNOTAFISC = QStringLiteral("000001003");
    c.NRACESSONF = keyFor(1003);
    c.DTEMISSAO = QDateTime(QDate(2026, 4, 1), QTime(8, 0));  // earlier date: before both
    NoteRecord d = a;
    d.NRNOTAFISC = QStringLiteral("000001004");
    d.NRACESSONF = keyFor(1004);
    d.CDEMPRESA = QStringLiteral("03");
    d.NMRAZSOCEMIT = QStringLiteral("AAA Ordem");
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("order.db"));
    companydb::ensureDatabase(url, 0, {dfe58000::storeSchema()});
    Store store(url);
    for (const NoteRecord& n : {a, b, c, d}) {
        store.insertNote(n);
    }
    const Reply r = call(store, QStringLiteral("GetNotasDestinadas"), args());
    QCOMPARE(numbers(r.result.toList().at(2)), (QList<int>{1003, 1002, 1001}));
}

void TestNotasDestinadas::deadlinePacketsHoldOnlyOpenNotesNearTheirDeadline() {
    const Reply r = call(*m_store, QStringLiteral("GetNotasDestinadas"), args());
    const QVariantList res = r.result.toList();
    QCOMPARE(numbers(res.at(4)), QList<int>{100});  // 2 days left, nothing registered
    QCOMPARE(numbers(res.at(3)), QList<int>{200});  // 14 days (10 business days), Ciência only
    // The warning packets are subsets of the criteria: a filter that leaves note 100 out
    // leaves it out of packet [4] as well.
    const Reply narrowed =
        call(*m_store, QStringLiteral("GetNotasDestinadas"), args({{17, kRegB}}));
    QVERIFY(numbers(narrowed.result.toList().at(4)).isEmpty());
    QCOMPARE(numbers(narrowed.result.toList().at(3)), QList<int>{200});
}

void TestNotasDestinadas::wrongArgumentCountOrTypeIsAnErrorReply() {
    QVariantList a = args();
    a.removeLast();
    Reply r = call(*m_store, QStringLiteral("GetNotasDestinadas"), a);
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("17")), qPrintable(r.error));

    a = args({{14, QStringLiteral("01/01/2026")}});
    r = call(*m_store, QStringLiteral("GetNotasDestinadas"), a);
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("dtIniEmis")), qPrintable(r.error));

    a = args({{12, 1}});
    r = call(*m_store, QStringLiteral("GetNotasDestinadas"), a);
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("stCdEmpresa")), qPrintable(r.error));

    r = call(*m_store, QStringLiteral("getCarregaPesquisas"), {});
    QVERIFY(!r.ok);
    r = call(*m_store, QStringLiteral("getCarregaPesquisas"), {QVariant()});
    QVERIFY(!r.ok);

    // Only the final note number may come unset; the initial one may not.
    r = call(*m_store, QStringLiteral("GetNotasDestinadas"), args({{3, QVariant()}}));
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("stNrNotaInicial")) &&
                 r.error.contains(QStringLiteral("nulo")),
             qPrintable(r.error));

    r = call(
        *m_store, QStringLiteral("setManifestacao"),
        {kRegA, QStringLiteral("pacote?"), QStringLiteral("4"), QString(), QStringLiteral("1")});
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("cdsMarcados")) &&
                 r.error.contains(QStringLiteral("pacote de dados")),
             qPrintable(r.error));
}

void TestNotasDestinadas::datesMayComeWithTheirTimeAndMethodNamesInAnyCase() {
    // A date-time counts by its date: a period starting at 23:59 still takes that morning's
    // notes, and one ending at 00:01 that day's.
    const Reply asDates = call(*m_store, QStringLiteral("GetNotasDestinadas"),
                               args({{14, QDate(2026, 6, 15)}, {15, QDate(2026, 9, 1)}}));
    const Reply asDateTimes = call(*m_store, QStringLiteral("getnotasdestinadas"),
                                   args({{14, QDateTime(QDate(2026, 6, 15), QTime(23, 59))},
                                         {15, QDateTime(QDate(2026, 9, 1), QTime(0, 1))}}));
    QVERIFY2(asDates.ok && asDateTimes.ok, qPrintable(asDates.error + asDateTimes.error));
    QCOMPARE(numbers(asDateTimes.result.toList().at(2)), numbers(asDates.result.toList().at(2)));
    QCOMPARE(numbers(asDates.result.toList().at(2)).size(), 4);

    const Reply invalid =
        call(*m_store, QStringLiteral("GetNotasDestinadas"), args({{15, QDateTime()}}));
    QVERIFY(!invalid.ok);
    QVERIFY2(invalid.error.contains(QStringLiteral("dtFinEmis")), qPrintable(invalid.error));
}

void TestNotasDestinadas::otherServerAndUnknownMethodAreRefused() {
    Reply r = dfe58000::dispatch(*m_store, Request{QStringLiteral("DFE59000.rdmSincroniza"),
                                                   QStringLiteral("getCarregaPesquisas"),
                                                   {QStringLiteral("01")}});
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("DFE59000.rdmSincroniza")), qPrintable(r.error));
    r = call(*m_store, QStringLiteral("ApagaTudo"), {});
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("ApagaTudo")), qPrintable(r.error));
    r = call(*m_store, QStringLiteral("DownloadXML"), {QStringLiteral("01")});
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("3")), qPrintable(r.error));
}

void TestNotasDestinadas::postgresGivesTheSameAnswers() {
    PgCluster pg;
    if (!pg.ok()) {
        QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + pg.error()));
    }
    const QString url = pg.createDatabase(QStringLiteral("notas"));
    QVERIFY2(!url.isEmpty(), qPrintable(pg.error()));
    companydb::ensureDatabase(url, 0, {dfe58000::storeSchema()});
    Store store(url);
    fillCriteriaStore(store);
    const QStringList failures = runCriteria(store);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    const QVariantList res =
        call(store, QStringLiteral("GetNotasDestinadas"), args()).result.toList();
    QCOMPARE(numbers(res.at(4)), QList<int>{100});
    QCOMPARE(numbers(res.at(3)), QList<int>{200});
    const host::DecodedPacket p = host::decodePacket(
        call(store, QStringLiteral("GetNotasDestinadas"), args({{5, keyFor(200)}}))
            .result.toList()
            .at(2)
            .toByteArray());
    QCOMPARE(p.rows.at(0).at(7).toDateTime(), QDateTime(QDate(2026, 6, 15), QTime(10, 0)));
}

// The note query reads SQLite's bytes directly; the Qt driver's reading is the reference. Every
// criteria case must give the same three packets byte for byte, over names whose UTF-8 heads
// change size, empty and null values, and dates stored in other text forms or not at all.
void TestNotasDestinadas::sqliteReadsGiveTheDriversPackets() {
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("reads.db"));
    companydb::ensureDatabase(url, 0, {dfe58000::storeSchema()});
    Store native(url);
    fillCriteriaStore(native);
    const QString names[] = {QStringLiteral("Comércio de Peças Ação Ltda"),
                             QString(30, u'ç'),
                             QString(23, u'x'),
                             QString(24, u'x'),
                             QStringLiteral("日本商事"),
                             QString()};
    int number = 1000;
    for (const QString& name : names) {
        NoteRecord n = note(number, "1", "0", "1", "0001", "1", "F", "F00009", "01", "E", kRegA,
                            {2026, 10, 1}, 5);
        n.NMRAZSOCEMIT = name;
        n.DSOBSSTATUSMANIF = name.isEmpty() ? QString() : name + u'\n' + name;
        n.DTHREVENTO = {};
        native.insertNote(n);
        ++number;
    }
    QSqlQuery q(native.database());
    QVERIFY(
        q.exec(QStringLiteral("UPDATE NOTADEST SET DTENTRSAID = '2026-10-02T08:15:00' "
                              "WHERE NRNOTANUM = 1000")));
    QVERIFY(
        q.exec(QStringLiteral("UPDATE NOTADEST SET DTRECBTO = '2026-10-03 07:00:00' "
                              "WHERE NRNOTANUM = 1001")));
    QVERIFY(
        q.exec(QStringLiteral("UPDATE NOTADEST SET DTENTRSAID = 'não é data' "
                              "WHERE NRNOTANUM = 1002")));

    Store driver(url);
    driver.setNativeReads(false);
    int compared = 0;
    for (const Case& c : criteriaCases()) {
        const Reply a = call(native, QStringLiteral("GetNotasDestinadas"), args(c.overrides));
        const Reply b = call(driver, QStringLiteral("GetNotasDestinadas"), args(c.overrides));
        QVERIFY2(a.ok && b.ok, c.name);
        const QVariantList ra = a.result.toList(), rb = b.result.toList();
        QCOMPARE(ra.size(), rb.size());
        for (int i = 0; i < ra.size(); ++i) {
            QVERIFY2(
                ra.at(i) == rb.at(i),
                qPrintable(QStringLiteral("%1, element %2").arg(QLatin1String(c.name)).arg(i)));
        }
        if (ra.at(0).toString() == u"OK") {
            compared += int(host::decodePacket(ra.at(2).toByteArray()).rows.size());
        }
    }
    QVERIFY(compared > 50);

    // The values themselves: the accented name, the other date form, the unreadable date.
    const Reply r = call(native, QStringLiteral("GetNotasDestinadas"),
                         args({{9, QStringLiteral("F00009")}, {8, QStringLiteral("F")}}));
    const host::DecodedPacket p = host::decodePacket(r.result.toList().at(2).toByteArray());
    QCOMPARE(p.rows.size(), 6);
    QMap<int, QVariantList> byNumber;
    for (const QVariantList& row : p.rows) {
        byNumber.insert(row.at(5).toString().toInt(), row);
    }
    QCOMPARE(byNumber[1000].at(4).toString(), names[0]);
    QCOMPARE(byNumber[1004].at(4).toString(), names[4]);
    QCOMPARE(byNumber[1000].at(6).toDateTime(), QDateTime(QDate(2026, 10, 2), QTime(8, 15)));
    QCOMPARE(byNumber[1001].at(28).toDateTime(), QDateTime(QDate(2026, 10, 3), QTime(7, 0)));
    QVERIFY(!byNumber[1002].at(6).isValid());
    QVERIFY(!byNumber[1003].at(14).isValid());
}

void TestNotasDestinadas::demoNotesCoverEveryGroupWithValidKeys() {
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("demo.db"));
    companydb::ensureDatabase(url, 500, {dfe58000::storeSchema()});
    Store store(url);
    QCOMPARE(store.noteCount(), 500);

    QSqlQuery q(store.database());
    QVERIFY(q.exec(QStringLiteral(
        "SELECT NRACESSONF, IDSTATUSNFE, IDSTATUSMANIF, IDNOTA, NRLANCTONF, IDORIGEMIT, "
        "CDEMITENTE, NRINSJURNFORIG, CDEMPRESA FROM NOTADEST")));
    QSet<QString> keys, nfe, manif, groups;
    int booked = 0, unbooked = 0, badKeys = 0, strangers = 0;
    QSqlQuery lookup(store.database());
    while (q.next()) {
        const QString key = q.value(0).toString();
        if (!fiscal::isValidAccessKey(key) || key.size() != 44) {
            ++badKeys;
        }
        // The issuer's registration is inside the key (characters 7 to 20).
        if (key.mid(6, 14) != q.value(7).toString().rightJustified(14, u'0')) {
            ++badKeys;
        }
        keys.insert(key);
        if (q.value(8).toString() == u"01") {
            nfe.insert(q.value(1).toString());
            manif.insert(q.value(2).toString());
            groups.insert(q.value(3).toString());
        }
        (q.value(4).toString().isEmpty() ? unbooked : booked)++;
        const QString kind = q.value(5).toString();
        const QString sql =
            kind == u"F"
                ? QStringLiteral("SELECT NRINSJURFORN FROM FORNECEDOR WHERE CDFORNECED = ?")
            : kind == u"C" ? QStringLiteral("SELECT NRINSJURCLIE FROM CLIENTE WHERE CDCLIENTE = ?")
                           : QStringLiteral("SELECT NRINSJURFILI FROM FILIAL WHERE CDFILIAL = ?");
        lookup.prepare(sql);
        lookup.addBindValue(q.value(6).toString());
        if (!lookup.exec() || !lookup.next() ||
            lookup.value(0).toString() != q.value(7).toString()) {
            ++strangers;
        }
    }
    QCOMPARE(badKeys, 0);
    QCOMPARE(keys.size(), 500);
    QCOMPARE(strangers, 0);
    QCOMPARE(nfe, (QSet<QString>{"0", "1", "2", "3"}));
    QCOMPARE(manif, (QSet<QString>{"0", "1", "2", "3", "4", "5"}));
    QCOMPARE(groups, (QSet<QString>{"1", "2", "3", "4", "5", "6", "7"}));
    QVERIFY(booked > 0);
    QVERIFY(unbooked > 0);

    // Counted from the day the demo was made, both warning packets have notes.
    const QVariantList res =
        dfe58000::dispatch(
            store,
            Request{QStringLiteral("DFE58000.rdmManifestacao"),
                    QStringLiteral("GetNotasDestinadas"),
                    args({{14, QDate::currentDate().addYears(-1)}, {15, QDate::currentDate()}})})
            .result.toList();
    QCOMPARE(res.at(0).toString(), QStringLiteral("OK"));
    QVERIFY(numbers(res.at(2)).size() > 200);
    QVERIFY(!numbers(res.at(3)).isEmpty());
    QVERIFY(!numbers(res.at(4)).isEmpty());
}

void TestNotasDestinadas::businessDaysSkipWeekends() {
    using dfe58000::rules::businessDaysLeft;
    const QDate friday(2026, 12, 11);
    QCOMPARE(businessDaysLeft(friday, friday), 0);
    QCOMPARE(businessDaysLeft(friday, friday.addDays(1)), 0);  // Saturday
    QCOMPARE(businessDaysLeft(friday, friday.addDays(3)), 1);  // Monday
    QCOMPARE(businessDaysLeft(kToday, kToday.addDays(14)), 10);
    QVERIFY(businessDaysLeft(kToday, kToday.addDays(-1)) < 0);
    // Against a day-by-day walk, from every weekday, both ways, up to half a year apart.
    for (int start = 0; start < 7; ++start) {
        const QDate today = friday.addDays(start);
        for (int span = -190; span <= 190; ++span) {
            const QDate deadline = today.addDays(span);
            int walked = 0;
            for (QDate d = qMin(today, deadline).addDays(1); d <= qMax(today, deadline);
                 d = d.addDays(1)) {
                walked += d.dayOfWeek() <= 5 ? 1 : 0;
            }
            const int expected = span >= 0 ? walked : walked == 0 ? -1 : -walked;
            QVERIFY2(
                businessDaysLeft(today, deadline) == expected,
                qPrintable(QStringLiteral("%1 .. %2")
                               .arg(today.toString(Qt::ISODate), deadline.toString(Qt::ISODate))));
        }
    }

    using dfe58000::rules::classifyDeadline;
    using dfe58000::rules::DeadlineClass;
    const int days = dfe58000::rules::conclusiveDeadlineDays(kToday);
    auto cls = [&](int calendarDaysLeft, const char* nfe = "1", const char* manif = "0") {
        return classifyDeadline(QLatin1String(nfe), QLatin1String(manif),
                                kToday.addDays(calendarDaysLeft - days), kToday);
    };
    // Tuesday + 7 calendar days = 5 business days (the last of "now"); +8 = 6 (near).
    QCOMPARE(cls(7), DeadlineClass::Now);
    QCOMPARE(cls(8), DeadlineClass::Near);
    QCOMPARE(cls(0), DeadlineClass::Now);
    QCOMPARE(cls(-1), DeadlineClass::None);
    // 15 business days from this Tuesday end on Tuesday 29/12 (21 calendar days).
    QCOMPARE(cls(21), DeadlineClass::Near);
    QCOMPARE(cls(22), DeadlineClass::None);
    QCOMPARE(cls(2, "1", "5"), DeadlineClass::Now);
    QCOMPARE(cls(2, "0", "4"), DeadlineClass::Now);
    QCOMPARE(cls(2, "2", "0"), DeadlineClass::None);
    QCOMPARE(cls(2, "1", "3"), DeadlineClass::None);
}

void TestNotasDestinadas::deadlineRuleFollowsTheDateOfChange() {
    using namespace dfe58000::rules;
    QCOMPARE(conclusiveDeadlineDays(QDate(2026, 5, 31)), 180);
    QCOMPARE(conclusiveDeadlineDays(QDate(2026, 6, 1)), 90);
    QCOMPARE(conclusiveDeadline(QDate(2026, 9, 1), QDate(2026, 10, 1)), QDate(2026, 11, 30));
    QCOMPARE(eventByModuleCode(QStringLiteral("1"))->tpEvento, 210200);
    QCOMPARE(eventByModuleCode(QStringLiteral("2"))->tpEvento, 210220);
    QCOMPARE(eventByModuleCode(QStringLiteral("3"))->tpEvento, 210240);
    QCOMPARE(eventByModuleCode(QStringLiteral("4"))->tpEvento, 210210);
    QVERIFY(eventByModuleCode(QStringLiteral("5")) == nullptr);
    QVERIFY(eventByModuleCode(QStringLiteral("3"))->justificationRequired);
    QVERIFY(!eventByModuleCode(QStringLiteral("4"))->conclusive);
}

QTEST_GUILESS_MAIN(TestNotasDestinadas)
#include "tst_notasdestinadas.moc"

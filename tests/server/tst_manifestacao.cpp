// Manifestation events through the simulated tax authority: each rule of the national
// environment the server enforces, the rejected-notes packet, what a registered event leaves in
// the store, and two clients sending the same event at the same moment.

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>
#include <QtTest>
#include <atomic>

#include "companydb.h"
#include "core/packet.h"
#include "documentnotes.h"
#include "fiscaldocs.h"
#include "methods.h"
#include "net/wire.h"
#include "rules.h"
#include "serverfixture.h"
#include "store.h"
#include "support/pgcluster.h"

using dfe58000::NoteRecord;
using dfe58000::Store;
using host::wire::Reply;
using host::wire::Request;

namespace {

const QString kRegA = QStringLiteral("48210375000102");
const QString kRegB = QStringLiteral("48210375000293");
const QString kIssuer = fiscal::completeCnpj(QStringLiteral("123456780001"));

QString keyFor(int number) {
    return testnotes::accessKey(kIssuer, number, QStringLiteral("55001"),
                                QStringLiteral("112345678"));
}

NoteRecord note(int number, const QString& nfe, const QString& recipient, int authorisedDaysAgo) {
    NoteRecord n = testnotes::openNote(
        number, recipient, kIssuer, keyFor(number),
        QDateTime(QDate::currentDate().addDays(-authorisedDaysAgo - 1), QTime(8, 0)),
        QDateTime(QDate::currentDate().addDays(-authorisedDaysAgo), QTime(9, 0)));
    n.IDSTATUSNFE = nfe;
    return n;
}

using testnotes::marked;

struct Outcome {
    bool ok = false;
    QString status;
    int registered = -1;
    int errors = -1;
    QStringList errorTexts;  // DSERRO of each rejected note
    QList<QVariantList> rejected;
    QString text;
};

Outcome send(Store& store, const QString& reg, const QStringList& keys, const QString& code,
             const QString& just = QString()) {
    const Reply r = dfe58000::dispatch(
        store, Request{QStringLiteral("DFE58000.rdmManifestacao"),
                       QStringLiteral("setManifestacao"),
                       {reg, marked(keys), code, just, QStringLiteral("OPER01")}});
    Outcome o;
    o.ok = r.ok;
    if (!r.ok) {
        o.text = r.error;
        return o;
    }
    const QVariantList res = r.result.toList();
    o.status = res.value(0).toString();
    o.text = res.value(1).toString();
    o.registered = res.value(2).toString().toInt();
    o.errors = res.value(3).toString().toInt();
    if (o.status != u"ERRO") {
        o.rejected = host::decodePacket(res.value(4).toByteArray()).rows;
        for (const QVariantList& row : o.rejected) {
            o.errorTexts << row.at(3).toString();
        }
    }
    return o;
}

QStringList noteState(Store& store, const QString& key,
                      const QString& company = QStringLiteral("01")) {
    QSqlQuery q(store.database());
    q.prepare(
        QStringLiteral("SELECT IDSTATUSMANIF, IDTIPOEVENTO, NRSEQEVENTO, DTHREVENTO, "
                       "DSOBSSTATUSMANIF FROM NOTADEST WHERE NRACESSONF = ? AND CDEMPRESA = ?"));
    q.addBindValue(key);
    q.addBindValue(company);
    if (!q.exec() || !q.next()) {
        return {};
    }
    return {q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
            q.value(3).isNull() ? QString() : QStringLiteral("set"), q.value(4).toString()};
}

// Two stores on two threads send an event each for the same note at once (the same event unless
// codeB is given); how many were registered.
int raceSameEvent(const QString& url, const QString& key, const QString& code = QStringLiteral("4"),
                  const QString& codeB = QString()) {
    std::atomic<int> registered{0};
    std::atomic<int> ready{0};
    auto worker = [&](const QString& mine) {
        Store store(url);
        ++ready;
        while (ready < 2) {
            QThread::yieldCurrentThread();
        }
        registered += send(store, kRegA, {key}, mine).registered;
    };
    std::unique_ptr<QThread> a(QThread::create(worker, code));
    std::unique_ptr<QThread> b(QThread::create(worker, codeB.isEmpty() ? code : codeB));
    a->start();
    b->start();
    a->wait();
    b->wait();
    return registered;
}

// Sends Ciência for the keys from two stores on two threads at once, half each; the protocols of
// the events registered in the database afterwards.
QStringList protocolsFromTwoClients(const QString& url, const QStringList& keys) {
    std::atomic<int> ready{0};
    auto worker = [&](const QStringList& mine) {
        Store store(url);
        ++ready;
        while (ready < 2) {
            QThread::yieldCurrentThread();
        }
        for (const QString& key : mine) {
            send(store, kRegA, {key}, QStringLiteral("4"));
        }
    };
    const qsizetype half = keys.size() / 2;
    std::unique_ptr<QThread> a(QThread::create(worker, keys.mid(0, half)));
    std::unique_ptr<QThread> b(QThread::create(worker, keys.mid(half)));
    a->start();
    b->start();
    a->wait();
    b->wait();
    Store store(url);
    QSqlQuery q(store.database());
    QStringList protocols;
    if (q.exec(QStringLiteral("SELECT NRPROTOCOLO FROM EVENTOREG"))) {
        while (q.next()) {
            protocols << q.value(0).toString();
        }
    }
    return protocols;
}

// The registered events of a key as "tpEvento/sequence", in the order they were registered.
QStringList registeredEvents(Store& store, const QString& key) {
    QSqlQuery q(store.database());
    q.prepare(
        QStringLiteral("SELECT TPEVENTO, NRSEQEVENTO FROM EVENTOREG WHERE NRACESSONF = ? "
                       "ORDER BY NRORDEMREG"));
    q.addBindValue(key);
    QStringList events;
    if (q.exec()) {
        while (q.next()) {
            events << q.value(0).toString() + u'/' + q.value(1).toString();
        }
    }
    return events;
}

int countOf(Store& store, const QString& sql) {
    QSqlQuery q(store.database());
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}

// Races on one database at url, each on fresh notes numbered from first: the same Confirmação
// from two clients registers once and the other is a duplicate; a Ciência racing a
// Confirmação never leaves the note showing Ciência.
void raceConclusiveEvents(const QString& url, int first) {
    const int kRounds = 8;
    {
        Store store(url);
        for (int n = first; n < first + 2 * kRounds; ++n) {
            store.insertNote(note(n, "1", kRegA, 1));
        }
    }
    for (int n = first; n < first + kRounds; ++n) {
        QCOMPARE(raceSameEvent(url, keyFor(n), QStringLiteral("1")), 1);
    }
    for (int n = first + kRounds; n < first + 2 * kRounds; ++n) {
        raceSameEvent(url, keyFor(n), QStringLiteral("4"), QStringLiteral("1"));
    }
    Store store(url);
    for (int n = first; n < first + kRounds; ++n) {
        QCOMPARE(registeredEvents(store, keyFor(n)), QStringList{"210200/1"});
        QCOMPARE(noteState(store, keyFor(n)).mid(0, 3), (QStringList{"1", "3", "1"}));
        QSqlQuery q(store.database());
        q.prepare(
            QStringLiteral("SELECT CDSTAT FROM EVENTONFE WHERE NRACESSONF = ? ORDER BY CDSTAT"));
        q.addBindValue(keyFor(n));
        QVERIFY(q.exec());
        QList<int> codes;
        while (q.next()) {
            codes << q.value(0).toInt();
        }
        QCOMPARE(codes, (QList<int>{135, 573}));
    }
    for (int n = first + kRounds; n < first + 2 * kRounds; ++n) {
        // Ciência first and then the Confirmação, or the Confirmação first and Ciência 655.
        const QStringList events = registeredEvents(store, keyFor(n));
        QVERIFY2(
            events == QStringList{"210200/1"} || events == (QStringList{"210210/1", "210200/1"}),
            qPrintable(events.join(u',')));
        QCOMPARE(noteState(store, keyFor(n)).mid(0, 3), (QStringList{"1", "3", "1"}));
    }
}

// The text of the first element named name in xml; a null string when there is none.
QString elementText(const QString& xml, const QString& name) {
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        if (r.readNext() == QXmlStreamReader::StartElement && r.name() == name) {
            return r.readElementText();
        }
    }
    return {};
}

// A justification of exactly n characters with accents and no blank at either end.
QString justificationOf(int n) {
    return QStringLiteral("Justificação ").repeated(30).left(n - 1) + QChar(u'.');
}

}  // namespace

class TestManifestacao : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void cienciaRegistersOnceThenIsADuplicate();
    void conclusiveEventsReplaceUpToTwiceAndBlockCiencia();
    void cancelledOrDeniedNotes();
    void authorMustBeTheRecipient();
    void justificationRulesForOperationNotPerformed();
    void justificationMustFitTheEventLayout_data();
    void justificationMustFitTheEventLayout();
    void authorRegistrationCheckDigits();
    void protocolNumbersNeverRepeat();
    void deadlinesCountFromTheAuthorisation();
    void badAndUnknownKeys();
    void eachNoteOfALotIsJudgedOnItsOwn();
    void requestsThatCannotBeProcessed();
    void sameEventAtTheSameMomentRegistersOnce();
    void sameEventAtTheSameMomentOnPostgres();
    void failedRegistrationIsNotADuplicate();
    void serverKilledMidCallLeavesEachNoteWholeOrUntouched();

  private:
    StoreFixture m_db;
};

void TestManifestacao::init() {
    m_db.open(QStringLiteral("m.db"));
    m_db.store->insertNote(note(1, "1", kRegA, 2));    // open, recent
    m_db.store->insertNote(note(2, "3", kRegA, 2));    // cancelled
    m_db.store->insertNote(note(3, "2", kRegA, 2));    // denied
    m_db.store->insertNote(note(4, "1", kRegB, 2));    // another recipient
    m_db.store->insertNote(note(5, "1", kRegA, 30));   // past Ciência's 10 days
    m_db.store->insertNote(note(6, "1", kRegA, 120));  // past every deadline
    m_db.store->insertNote(note(7, "1", kRegA, 1));
}

void TestManifestacao::cleanup() {
    m_db.close();
}

void TestManifestacao::cienciaRegistersOnceThenIsADuplicate() {
    Outcome o = send(*m_db.store, kRegA, {keyFor(1)}, QStringLiteral("4"));
    QVERIFY2(o.ok, qPrintable(o.text));
    QCOMPARE(o.status, QStringLiteral("OK"));
    QCOMPARE(o.registered, 1);
    QCOMPARE(o.errors, 0);
    QCOMPARE(noteState(*m_db.store, keyFor(1)),
             (QStringList{"4", "3", "1", QStringLiteral("set"), QString()}));

    // The archived procEventoNFe carries the key, the event and the protocol.
    QSqlQuery q(m_db.store->database());
    QVERIFY(q.exec(QStringLiteral("SELECT DSXMLEVENTO, NRPROTOCOLO, CDSTAT FROM EVENTONFE")));
    QVERIFY(q.next());
    const QString xml = q.value(0).toString();
    QCOMPARE(q.value(1).toString().size(), 15);
    QCOMPARE(q.value(2).toInt(), 135);
    QVERIFY(xml.contains(QStringLiteral("<procEventoNFe")));
    QVERIFY(xml.contains(QStringLiteral("Id=\"ID210210") + keyFor(1) + QStringLiteral("01\"")));
    QVERIFY(xml.contains(QStringLiteral("<descEvento>Ciencia da Operacao</descEvento>")));
    QVERIFY(xml.contains(QStringLiteral("<nProt>") + q.value(1).toString()));

    o = send(*m_db.store, kRegA, {keyFor(1)}, QStringLiteral("4"));
    QCOMPARE(o.registered, 0);
    QCOMPARE(o.errors, 1);
    QCOMPARE(o.errorTexts, QStringList{"573 - Rejeição: Duplicidade de Evento"});
    const QVariantList row = o.rejected.at(0);
    QCOMPARE(row.at(0).toString(), keyFor(1));
    QCOMPARE(row.at(1).toString(), kIssuer);
    QCOMPARE(row.at(2).toString(), QStringLiteral("Fornecedor 1"));
    QCOMPARE(noteState(*m_db.store, keyFor(1)).at(0), QStringLiteral("4"));
}

void TestManifestacao::conclusiveEventsReplaceUpToTwiceAndBlockCiencia() {
    const QString key = keyFor(1);
    const QString just = QStringLiteral("Mercadoria recusada no recebimento");
    auto code = [&](const QString& event) {
        const Outcome o = send(*m_db.store, kRegA, {key}, event, event == u"3" ? just : QString());
        return o.registered == 1 ? QStringLiteral("135") : o.errorTexts.value(0).left(3);
    };
    QCOMPARE(code("1"), QStringLiteral("135"));
    QCOMPARE(noteState(*m_db.store, key).mid(0, 3), (QStringList{"1", "3", "1"}));
    QCOMPARE(code("4"), QStringLiteral("655"));

    // The same Confirmação again (a retry after a timeout) is a duplicate and changes nothing.
    const QStringList before = noteState(*m_db.store, key);
    const Outcome retry = send(*m_db.store, kRegA, {key}, QStringLiteral("1"));
    QCOMPARE(retry.errorTexts, QStringList{"573 - Rejeição: Duplicidade de Evento"});
    QCOMPARE(noteState(*m_db.store, key), before);
    QCOMPARE(registeredEvents(*m_db.store, key), QStringList{"210200/1"});

    // Another conclusive type replaces it; the earlier type may come back while it has a
    // sequence left, and the one in force is the duplicate each time.
    QCOMPARE(code("2"), QStringLiteral("135"));
    QCOMPARE(noteState(*m_db.store, key).mid(0, 3), (QStringList{"2", "3", "1"}));
    QCOMPARE(code("2"), QStringLiteral("573"));
    QCOMPARE(code("1"), QStringLiteral("135"));
    QCOMPARE(noteState(*m_db.store, key).mid(0, 3), (QStringList{"1", "3", "2"}));
    QCOMPARE(code("1"), QStringLiteral("573"));
    QCOMPARE(code("2"), QStringLiteral("135"));
    QCOMPARE(noteState(*m_db.store, key).mid(0, 3), (QStringList{"2", "3", "2"}));
    // A third of a type is beyond its two sequences, whatever came between.
    QCOMPARE(code("1"), QStringLiteral("594"));
    QCOMPARE(code("3"), QStringLiteral("135"));
    QCOMPARE(code("2"), QStringLiteral("594"));
    QCOMPARE(code("1"), QStringLiteral("594"));
    QCOMPARE(code("3"), QStringLiteral("573"));
    QCOMPARE(code("4"), QStringLiteral("655"));
    QCOMPARE(noteState(*m_db.store, key).mid(0, 3), (QStringList{"3", "3", "1"}));
    QCOMPARE(registeredEvents(*m_db.store, key),
             (QStringList{"210200/1", "210220/1", "210200/2", "210220/2", "210240/1"}));
    QCOMPARE(
        countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM EVENTONFE WHERE CDSTAT = 135")),
        5);
}

void TestManifestacao::cancelledOrDeniedNotes() {
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(2)}, QStringLiteral("4")).errorTexts.value(0).left(3),
             QStringLiteral("650"));
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(3)}, QStringLiteral("4")).errorTexts.value(0).left(3),
             QStringLiteral("650"));
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(2)}, QStringLiteral("2")).errorTexts.value(0).left(3),
             QStringLiteral("651"));
    // No rule stops a Confirmação of a cancelled NF-e.
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(2)}, QStringLiteral("1")).registered, 1);
    QCOMPARE(noteState(*m_db.store, keyFor(2)).at(0), QStringLiteral("1"));
    QCOMPARE(noteState(*m_db.store, keyFor(3)).at(0), QStringLiteral("5"));
    QVERIFY(noteState(*m_db.store, keyFor(3)).at(4).startsWith(QStringLiteral("650 - Rejeição")));
}

void TestManifestacao::authorMustBeTheRecipient() {
    // The rejection is the sender's: the other recipient's note keeps its situation and remark.
    const QStringList untouched = noteState(*m_db.store, keyFor(4));
    const Outcome o = send(*m_db.store, kRegA, {keyFor(4)}, QStringLiteral("4"));
    QCOMPARE(o.errorTexts.value(0).left(3), QStringLiteral("575"));
    QCOMPARE(noteState(*m_db.store, keyFor(4)), untouched);
    QCOMPARE(untouched.at(0), QStringLiteral("0"));
    for (const QString& code : {QStringLiteral("1"), QStringLiteral("2")}) {
        QCOMPARE(send(*m_db.store, kRegA, {keyFor(4)}, code).errorTexts.value(0).left(3),
                 QStringLiteral("575"));
    }
    QCOMPARE(noteState(*m_db.store, keyFor(4)), untouched);
    QCOMPARE(send(*m_db.store, kRegB, {keyFor(4)}, QStringLiteral("4")).registered, 1);

    // The same key kept by two companies for two recipients: each event and each rejection
    // reaches only the note of its author.
    NoteRecord mine = note(8, "1", kRegA, 2);
    mine.CDEMPRESA = QStringLiteral("02");
    m_db.store->insertNote(mine);
    NoteRecord theirs = note(8, "1", kRegB, 2);
    m_db.store->insertNote(theirs);
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(8)}, QStringLiteral("1")).registered, 1);
    QCOMPARE(noteState(*m_db.store, keyFor(8), QStringLiteral("02")).mid(0, 3),
             (QStringList{"1", "3", "1"}));
    QCOMPARE(noteState(*m_db.store, keyFor(8), QStringLiteral("01")).at(0), QStringLiteral("0"));
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(8)}, QStringLiteral("4")).errorTexts.value(0).left(3),
             QStringLiteral("655"));
    QCOMPARE(noteState(*m_db.store, keyFor(8), QStringLiteral("01")),
             (QStringList{"0", "", "", "", ""}));
}

void TestManifestacao::justificationRulesForOperationNotPerformed() {
    auto code = [&](const QString& just) {
        return send(*m_db.store, kRegA, {keyFor(7)}, QStringLiteral("3"), just)
            .errorTexts.value(0)
            .left(3);
    };
    QCOMPARE(code(QString()), QStringLiteral("595"));
    QCOMPARE(code(QStringLiteral("muito curta")), QStringLiteral("493"));
    QCOMPARE(code(QStringLiteral(" Mercadoria devolvida ao transportador")), QStringLiteral("493"));
    QCOMPARE(code(QString(256, u'x')), QStringLiteral("493"));
    QCOMPARE(noteState(*m_db.store, keyFor(7)).at(0), QStringLiteral("5"));
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(7)}, QStringLiteral("3"),
                  QStringLiteral("Mercadoria recusada no recebimento"))
                 .registered,
             1);
    QCOMPARE(noteState(*m_db.store, keyFor(7)).at(0), QStringLiteral("3"));
    QSqlQuery q(m_db.store->database());
    QVERIFY(q.exec(QStringLiteral("SELECT DSXMLEVENTO FROM EVENTONFE WHERE CDSTAT = 135")));
    QVERIFY(q.next());
    QVERIFY(q.value(0).toString().contains(
        QStringLiteral("<xJust>Mercadoria recusada no recebimento</xJust>")));
}

void TestManifestacao::justificationMustFitTheEventLayout_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("just");
    QTest::addColumn<bool>("accepted");
    const QString nr = QStringLiteral("3"), desc = QStringLiteral("2");
    QTest::newRow("accents") << nr
                             << QStringLiteral(
                                    "Mercadoria não recebida; devolução à "
                                    "transportadora em 12/03, após conferência")
                             << true;
    QTest::newRow("15 characters") << nr << QStringLiteral("Pedido recusado") << true;
    QTest::newRow("255 characters") << nr << justificationOf(255) << true;
    QTest::newRow("blanks and markup inside")
        << nr << QStringLiteral("Preço  divergente & \"pedido\" <123> 'ok'") << true;
    QTest::newRow("last Latin-1 character") << nr << QStringLiteral("Fim da faixa: ÿ") << true;
    QTest::newRow("Desconhecimento")
        << desc << QStringLiteral("Não reconhecemos a operação") << true;
    QTest::newRow("14 characters") << nr << QStringLiteral("Pedido recusad") << false;
    QTest::newRow("256 characters") << nr << justificationOf(256) << false;
    QTest::newRow("leading blank")
        << nr << QStringLiteral(" Pedido recusado pelo cliente") << false;
    QTest::newRow("trailing blank")
        << nr << QStringLiteral("Pedido recusado pelo cliente ") << false;
    QTest::newRow("line break") << nr << QStringLiteral("Pedido recusado\npelo cliente") << false;
    QTest::newRow("CR LF") << nr << QStringLiteral("Pedido recusado\r\npelo cliente") << false;
    QTest::newRow("tab") << nr << QStringLiteral("Pedido\trecusado pelo cliente") << false;
    QTest::newRow("control character")
        << nr << QStringLiteral("Pedido recusado\x01 pelo cliente") << false;
    QTest::newRow("en dash") << nr << QStringLiteral("Pedido recusado – pelo cliente") << false;
    QTest::newRow("em dash") << nr << QStringLiteral("Pedido recusado — pelo cliente") << false;
    QTest::newRow("double quotes")
        << nr << QStringLiteral("Produto “avariado” na entrega") << false;
    QTest::newRow("single quotes")
        << nr << QStringLiteral("Produto ‘avariado’ na entrega") << false;
    QTest::newRow("euro sign") << nr << QStringLiteral("Diferença de € 10,00 no total") << false;
    QTest::newRow("Desconhecimento, line break")
        << desc << QStringLiteral("Não reconhecemos\na operação") << false;
}

void TestManifestacao::justificationMustFitTheEventLayout() {
    QFETCH(QString, code);
    QFETCH(QString, just);
    QFETCH(bool, accepted);
    const Outcome o = send(*m_db.store, kRegA, {keyFor(7)}, code, just);
    QVERIFY2(o.ok, qPrintable(o.text));
    QSqlQuery q(m_db.store->database());
    if (!accepted) {
        QCOMPARE(o.errorTexts,
                 QStringList{"493 - Rejeição: Evento não atende o Schema XML específico"});
        QCOMPARE(noteState(*m_db.store, keyFor(7)).at(0), QStringLiteral("5"));
        QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM EVENTOREG")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);
        return;
    }
    QCOMPARE(o.registered, 1);
    // Archived exactly as sent: in the event's XML and in the event log.
    QVERIFY(q.exec(
        QStringLiteral("SELECT DSXMLEVENTO, DSJUSTIFICATIVA FROM EVENTONFE WHERE CDSTAT = 135")));
    QVERIFY(q.next());
    QCOMPARE(elementText(q.value(0).toString(), QStringLiteral("xJust")), just);
    QCOMPARE(q.value(1).toString(), just);
}

void TestManifestacao::authorRegistrationCheckDigits() {
    const QString badCnpj = kRegA.left(13) + QChar(u'0' + (kRegA.at(13).digitValue() + 1) % 10);
    const QString alnum = fiscal::completeCnpj(QStringLiteral("12ABC34501DE"));
    const QString cpf = fiscal::completeCpf(QStringLiteral("123456789"));
    const QString badCpf = cpf.left(10) + QChar(u'0' + (cpf.at(10).digitValue() + 1) % 10);
    QSqlQuery ins(m_db.store->database());
    ins.prepare(
        QStringLiteral("INSERT INTO INSCRESTAD (CDEMPRESA, NRINSJURIEST, IDTPIJURIEST, "
                       "CDINSCESTA, SGESTADO) VALUES ('01', ?, ?, 'ISENTO', 'SP')"));
    const QStringList cnpjs = {badCnpj, QString(14, u'0'), alnum};
    const QStringList cpfs = {badCpf, QString(11, u'7'), cpf};
    for (const QString& reg : cnpjs + cpfs) {
        ins.addBindValue(reg);
        ins.addBindValue(reg.size() == 11 ? QStringLiteral("F") : QStringLiteral("J"));
        QVERIFY2(ins.exec(), qPrintable(reg));
    }
    m_db.store->insertNote(note(20, "1", alnum, 1));
    m_db.store->insertNote(note(21, "1", cpf, 1));

    const QString cnpjBad = QStringLiteral("489 - Rejeição: CNPJ informado inválido (DV ou zeros)");
    const QString cpfBad = QStringLiteral("490 - Rejeição: CPF informado inválido (DV ou zeros)");
    for (const auto& [reg, expected] : {std::pair{badCnpj, cnpjBad}, std::pair{cnpjs[1], cnpjBad},
                                        std::pair{badCpf, cpfBad}, std::pair{cpfs[1], cpfBad}}) {
        // The author is judged before anything about the note: the whole lot is rejected for it,
        // a bad key and a note of another recipient alike.
        QString badKey = keyFor(1);
        badKey[43] = QChar(u'0' + (badKey.at(43).digitValue() + 1) % 10);
        const Outcome o =
            send(*m_db.store, reg, {keyFor(1), badKey, keyFor(4)}, QStringLiteral("4"));
        QVERIFY2(o.ok, qPrintable(o.text));
        QCOMPARE(o.registered, 0);
        QCOMPARE(o.errorTexts, (QStringList{expected, expected, expected}));
    }
    // Rejections of an author who is not the recipient leave the recipient's note as it was.
    QCOMPARE(noteState(*m_db.store, keyFor(1)), (QStringList{"0", "", "", "", ""}));

    // Letters in a CNPJ whose digits check are no reason to reject; nor is a sound CPF.
    Outcome o = send(*m_db.store, alnum, {keyFor(20)}, QStringLiteral("4"));
    QVERIFY2(o.registered == 1, qPrintable(o.errorTexts.join(u'|') + o.text));
    o = send(*m_db.store, cpf, {keyFor(21)}, QStringLiteral("4"));
    QVERIFY2(o.registered == 1, qPrintable(o.errorTexts.join(u'|') + o.text));
    QSqlQuery q(m_db.store->database());
    QVERIFY(
        q.exec(QStringLiteral("SELECT NRINSJURAUTOR FROM EVENTONFE WHERE CDSTAT = 135 "
                              "ORDER BY NRINSJURAUTOR")));
    QStringList authors;
    while (q.next()) {
        authors << q.value(0).toString();
    }
    QStringList expected{alnum, cpf};
    expected.sort();
    QCOMPARE(authors, expected);
}

void TestManifestacao::protocolNumbersNeverRepeat() {
    // Two clients at once, each on a connection of its own.
    QStringList keys;
    for (int n = 2000; n < 2030; ++n) {
        m_db.store->insertNote(note(n, "1", kRegA, 1));
        keys << keyFor(n);
    }
    const QStringList protocols = protocolsFromTwoClients(m_db.url, keys);
    QCOMPARE(protocols.size(), 30);
    QCOMPARE(QSet<QString>(protocols.begin(), protocols.end()).size(), 30);
    const QString prefix = QStringLiteral("191") + QDate::currentDate().toString(u"yy");
    for (const QString& p : protocols) {
        QVERIFY2(QRegularExpression(QStringLiteral("^191[0-9]{12}$")).match(p).hasMatch() &&
                     p.startsWith(prefix),
                 qPrintable(p));
    }

    // A database from before the numbers came from it: upgraded in place, and a number one of
    // its events already holds is not handed out again.
    const QString url = QStringLiteral("sqlite:") + m_db.dir->filePath(QStringLiteral("v1.db"));
    companydb::SchemaComponent v1 = dfe58000::storeSchema();
    v1.steps = {v1.steps.first()};
    companydb::ensureDatabase(url, 0, {v1});
    const QString taken = prefix + QStringLiteral("0000000001");
    {
        Store old(url);
        old.insertNote(note(1, "1", kRegA, 1));
        QSqlQuery q(old.database());
        QVERIFY(q.exec(QStringLiteral("INSERT INTO EVENTOREG VALUES ('%1', 210200, 1, '%2')")
                           .arg(keyFor(999), taken)));
    }
    companydb::ensureDatabase(url, 0, {dfe58000::storeSchema()});
    Store upgraded(url);
    QCOMPARE(send(upgraded, kRegA, {keyFor(1)}, QStringLiteral("4")).registered, 1);
    QSqlQuery q(upgraded.database());
    QVERIFY(q.exec(QStringLiteral("SELECT NRPROTOCOLO FROM EVENTOREG WHERE TPEVENTO = 210210")));
    QVERIFY(q.next());
    QVERIFY2(q.value(0).toString() != taken && q.value(0).toString().startsWith(prefix),
             qPrintable(q.value(0).toString()));
}

void TestManifestacao::deadlinesCountFromTheAuthorisation() {
    // The rejection names the deadline in force for the event; the note without a
    // manifestation shows as rejected with that reason until an event is registered.
    const QString late =
        QStringLiteral("596 - Rejeição: Evento apresentado fora do prazo: 10 dias");
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(5)}, QStringLiteral("4")).errorTexts.value(0), late);
    QCOMPARE(noteState(*m_db.store, keyFor(5)).value(0), QStringLiteral("5"));
    QCOMPARE(noteState(*m_db.store, keyFor(5)).value(4), late);
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(5)}, QStringLiteral("1")).registered, 1);
    QCOMPARE(noteState(*m_db.store, keyFor(5)).value(0), QStringLiteral("1"));
    QCOMPARE(noteState(*m_db.store, keyFor(5)).value(4), QString());
    // A later rejection does not undo the registered manifestation.
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(5)}, QStringLiteral("4")).errorTexts.value(0).left(3),
             QStringLiteral("655"));
    QCOMPARE(noteState(*m_db.store, keyFor(5)).value(0), QStringLiteral("1"));
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(6)}, QStringLiteral("1")).errorTexts.value(0),
             QStringLiteral("596 - Rejeição: Evento apresentado fora do prazo: %1 dias")
                 .arg(dfe58000::rules::conclusiveDeadlineDays(QDate::currentDate())));
}

void TestManifestacao::badAndUnknownKeys() {
    QString bad = keyFor(1);
    bad[43] = QChar(u'0' + (bad.at(43).digitValue() + 1) % 10);
    QCOMPARE(send(*m_db.store, kRegA, {bad}, QStringLiteral("4")).errorTexts.value(0).left(3),
             QStringLiteral("236"));
    QCOMPARE(send(*m_db.store, kRegA, {QStringLiteral("123")}, QStringLiteral("4"))
                 .errorTexts.value(0)
                 .left(3),
             QStringLiteral("236"));
    // Keys with a right check digit but an impossible part.
    auto withDigit = [](const QString& first43) {
        return first43 + QString::number(fiscal::accessKeyCheckDigit(first43));
    };
    const QString good = keyFor(999).left(43);
    const QList<std::pair<QString, QString>> parts = {
        {QStringLiteral("99") + good.mid(2), QStringLiteral("614")},
        {good.left(2) + QStringLiteral("05") + good.mid(4), QStringLiteral("615")},
        {good.left(4) + QStringLiteral("13") + good.mid(6), QStringLiteral("616")},
        {good.left(6) + kIssuer.left(12) +
             (kIssuer.right(2) == u"00" ? QStringLiteral("01") : QStringLiteral("00")) +
             good.mid(20),
         QStringLiteral("617")},
        {good.left(20) + QStringLiteral("57") + good.mid(22), QStringLiteral("618")},
        {good.left(25) + QStringLiteral("000000000") + good.mid(34), QStringLiteral("619")},
    };
    for (const auto& [first43, code] : parts) {
        QCOMPARE(send(*m_db.store, kRegA, {withDigit(first43)}, QStringLiteral("4"))
                     .errorTexts.value(0)
                     .left(3),
                 code);
    }
    // A valid key the authority does not know: registered without a link to an NF-e.
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(999)}, QStringLiteral("4")).registered, 1);
    QSqlQuery q(m_db.store->database());
    QVERIFY(q.exec(QStringLiteral("SELECT CDSTAT FROM EVENTONFE ORDER BY CDSTAT")));
    QList<int> codes;
    while (q.next()) {
        codes << q.value(0).toInt();
    }
    QCOMPARE(codes, (QList<int>{136, 236, 236, 614, 615, 616, 617, 618, 619}));
}

void TestManifestacao::eachNoteOfALotIsJudgedOnItsOwn() {
    QCOMPARE(send(*m_db.store, kRegA, {keyFor(1)}, QStringLiteral("4")).registered, 1);
    const Outcome o =
        send(*m_db.store, kRegA, {keyFor(1), keyFor(7), keyFor(4), keyFor(2)}, QStringLiteral("4"));
    QCOMPARE(o.status, QStringLiteral("OK"));
    QCOMPARE(o.registered, 1);
    QCOMPARE(o.errors, 3);
    QStringList codes;
    for (const QString& t : o.errorTexts) {
        codes << t.left(3);
    }
    QCOMPARE(codes, (QStringList{"573", "575", "650"}));
    QCOMPARE(noteState(*m_db.store, keyFor(7)).at(0), QStringLiteral("4"));
}

void TestManifestacao::requestsThatCannotBeProcessed() {
    Outcome o = send(*m_db.store, kRegA, {keyFor(1)}, QStringLiteral("9"));
    QCOMPARE(o.status, QStringLiteral("ERRO"));
    QVERIFY(!o.text.isEmpty());
    o = send(*m_db.store, QStringLiteral("11222333000181"), {keyFor(1)}, QStringLiteral("4"));
    QCOMPARE(o.status, QStringLiteral("ERRO"));
    QVERIFY2(o.text.contains(QStringLiteral("11222333000181")), qPrintable(o.text));
    o = send(*m_db.store, kRegA, {}, QStringLiteral("4"));
    QCOMPARE(o.status, QStringLiteral("ERRO"));

    const Reply r = dfe58000::dispatch(
        *m_db.store, Request{QStringLiteral("DFE58000.rdmManifestacao"),
                             QStringLiteral("setManifestacao"),
                             {kRegA, keyFor(1), QStringLiteral("4"), QString(), QString()}});
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(QStringLiteral("pacote")), qPrintable(r.error));
    QCOMPARE(noteState(*m_db.store, keyFor(1)).at(0), QStringLiteral("0"));
}

void TestManifestacao::sameEventAtTheSameMomentRegistersOnce() {
    for (int n : {1, 7}) {
        QCOMPARE(raceSameEvent(m_db.url, keyFor(n)), 1);
    }
    QSqlQuery q(m_db.store->database());
    QVERIFY(q.exec(QStringLiteral("SELECT CDSTAT FROM EVENTONFE ORDER BY CDSTAT")));
    QList<int> codes;
    while (q.next()) {
        codes << q.value(0).toInt();
    }
    QCOMPARE(codes, (QList<int>{135, 135, 573, 573}));
    raceConclusiveEvents(m_db.url, 3000);
}

void TestManifestacao::failedRegistrationIsNotADuplicate() {
    // A conflict on the key of the registered events is a duplicate: a Desconhecimento whose
    // sequence 2 some client already holds while the Confirmação prevails.
    QSqlQuery q(m_db.store->database());
    QVERIFY(q.exec(QStringLiteral("INSERT INTO EVENTOREG VALUES ('%1', 210220, 2, "
                                  "'191000000000001', 1), ('%1', 210200, 1, '191000000000002', 2)")
                       .arg(keyFor(7))));
    Outcome o = send(*m_db.store, kRegA, {keyFor(7)}, QStringLiteral("2"));
    QVERIFY2(o.ok, qPrintable(o.text));
    QCOMPARE(o.errorTexts, QStringList{"573 - Rejeição: Duplicidade de Evento"});
    QCOMPARE(countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM EVENTOREG")), 2);

    // Any other failure of the insert is that failure, and nothing of the event is left.
    QVERIFY(
        q.exec(QStringLiteral("CREATE TRIGGER TG_EVENTOREG_FALHA BEFORE INSERT ON EVENTOREG "
                              "BEGIN SELECT RAISE(ABORT, 'disco cheio simulado'); END")));
    o = send(*m_db.store, kRegA, {keyFor(1)}, QStringLiteral("1"));
    QVERIFY2(o.ok, qPrintable(o.text));
    QCOMPARE(o.registered, 0);
    QCOMPARE(o.errors, 1);
    QVERIFY2(o.errorTexts.value(0).contains(QStringLiteral("disco cheio simulado")) &&
                 !o.errorTexts.value(0).startsWith(QStringLiteral("573")),
             qPrintable(o.errorTexts.value(0)));
    QCOMPARE(noteState(*m_db.store, keyFor(1)), (QStringList{"0", "", "", "", ""}));
    QCOMPARE(countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM EVENTOREG")), 2);
    QCOMPARE(countOf(*m_db.store, QStringLiteral("SELECT COUNT(*) FROM EVENTONFE WHERE "
                                                 "NRACESSONF = '") +
                                      keyFor(1) + u'\''),
             0);
}

void TestManifestacao::sameEventAtTheSameMomentOnPostgres() {
    PgCluster pg;
    if (!pg.ok()) {
        QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + pg.error()));
    }
    const QString url = pg.createDatabase(QStringLiteral("manif"));
    QVERIFY2(!url.isEmpty(), qPrintable(pg.error()));
    companydb::ensureDatabase(url, 0, {dfe58000::storeSchema()});
    {
        Store store(url);
        for (int n = 1; n <= 4; ++n) {
            store.insertNote(note(n, "1", kRegA, 1));
        }
    }
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(raceSameEvent(url, keyFor(n)), 1);
    }
    // Two clients registering at once get protocol numbers of their own.
    QStringList keys;
    {
        Store store(url);
        for (int n = 2000; n < 2030; ++n) {
            store.insertNote(note(n, "1", kRegA, 1));
            keys << keyFor(n);
        }
    }
    const QStringList protocols = protocolsFromTwoClients(url, keys);
    QCOMPARE(protocols.size(), 34);
    QCOMPARE(QSet<QString>(protocols.begin(), protocols.end()).size(), 34);
    Store store(url);
    QCOMPARE(send(store, kRegA, {keyFor(1)}, QStringLiteral("4")).errorTexts.value(0).left(3),
             QStringLiteral("573"));
    QCOMPARE(noteState(store, keyFor(2)).at(0), QStringLiteral("4"));

    raceConclusiveEvents(url, 3000);
    if (QTest::currentTestFailed()) {
        return;
    }

    // A retry of the Confirmação in force is a duplicate; another type replaces it.
    store.insertNote(note(40, "1", kRegA, 1));
    for (const QString& code : {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("1")}) {
        QCOMPARE(send(store, kRegA, {keyFor(40)}, code).registered, 1);
    }
    QCOMPARE(send(store, kRegA, {keyFor(40)}, QStringLiteral("1")).errorTexts.value(0).left(3),
             QStringLiteral("573"));
    QCOMPARE(registeredEvents(store, keyFor(40)),
             (QStringList{"210200/1", "210220/1", "210200/2"}));

    // The key's conflict is told apart from any other failure of the insert.
    store.insertNote(note(41, "1", kRegA, 1));
    QSqlQuery q(store.database());
    QVERIFY(q.exec(QStringLiteral("INSERT INTO EVENTOREG VALUES ('%1', 210220, 2, "
                                  "'191000000000001', 1), ('%1', 210200, 1, '191000000000002', 2)")
                       .arg(keyFor(41))));
    QCOMPARE(send(store, kRegA, {keyFor(41)}, QStringLiteral("2")).errorTexts.value(0).left(3),
             QStringLiteral("573"));
    QVERIFY2(
        q.exec(QStringLiteral("CREATE FUNCTION FN_EVENTOREG_FALHA() RETURNS trigger AS $$ BEGIN "
                              "RAISE EXCEPTION 'disco cheio simulado'; END $$ LANGUAGE plpgsql")),
        qPrintable(q.lastError().text()));
    QVERIFY(
        q.exec(QStringLiteral("CREATE TRIGGER TG_EVENTOREG_FALHA BEFORE INSERT ON EVENTOREG "
                              "FOR EACH ROW EXECUTE FUNCTION FN_EVENTOREG_FALHA()")));
    store.insertNote(note(42, "1", kRegA, 1));
    const Outcome o = send(store, kRegA, {keyFor(42)}, QStringLiteral("1"));
    QVERIFY2(o.errorTexts.value(0).contains(QStringLiteral("disco cheio simulado")) &&
                 !o.errorTexts.value(0).startsWith(QStringLiteral("573")),
             qPrintable(o.errorTexts.value(0)));
    QCOMPARE(noteState(store, keyFor(42)), (QStringList{"0", "", "", "", ""}));
}

void TestManifestacao::serverKilledMidCallLeavesEachNoteWholeOrUntouched() {
    const QString serverBin = QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-server");
    if (!QFileInfo::exists(serverBin)) {
        QSKIP("dfe58000-server must be built first");
    }
    const int kNotes = 400;
    QStringList keys;
    QVERIFY(m_db.store->database().transaction());
    for (int i = 1000; i < 1000 + kNotes; ++i) {
        m_db.store->insertNote(note(i, "1", kRegA, 1));
        keys << keyFor(i);
    }
    QVERIFY(m_db.store->database().commit());

    auto startServer = [&](QProcess& p) -> quint16 {
        p.start(serverBin, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                            QStringLiteral("--db"), m_db.url});
        if (!p.waitForStarted(10000) || !p.waitForReadyRead(30000)) {
            return 0;
        }
        const QByteArray line = p.readLine().trimmed();
        return quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
    };
    const QByteArray frame = host::wire::requestFrame(
        Request{QStringLiteral("DFE58000.rdmManifestacao"),
                QStringLiteral("setManifestacao"),
                {kRegA, marked(keys), QStringLiteral("4"), QString(), QStringLiteral("OPER")}});
    auto registeredNow = [&] {
        QSqlQuery q(m_db.store->database());
        return q.exec(QStringLiteral("SELECT COUNT(*) FROM EVENTOREG")) && q.next()
                   ? q.value(0).toInt()
                   : -1;
    };

    QProcess server;
    const quint16 port = startServer(server);
    QVERIFY(port != 0);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(5000));
    socket.write(frame);
    QVERIFY(socket.waitForBytesWritten(5000));
    // Killed as soon as the first events are in, well before the lot is done.
    QTRY_VERIFY_WITH_TIMEOUT(registeredNow() > 0, 20000);
    server.kill();
    QVERIFY(server.waitForFinished(5000));
    const int before = registeredNow();
    QVERIFY2(before < kNotes, "the call ended before the kill; nothing was interrupted");

    // Every note is either fully registered (situation, registration and archived event) or
    // untouched.
    QSqlQuery q(m_db.store->database());
    QVERIFY(q.exec(QStringLiteral(
        "SELECT N.NRACESSONF, N.IDSTATUSMANIF, "
        "(SELECT COUNT(*) FROM EVENTOREG R WHERE R.NRACESSONF = N.NRACESSONF), "
        "(SELECT COUNT(*) FROM EVENTONFE E WHERE E.NRACESSONF = N.NRACESSONF AND E.CDSTAT = 135 "
        " AND E.DSXMLEVENTO IS NOT NULL) FROM NOTADEST N WHERE N.NRNOTANUM >= 1000")));
    int whole = 0, untouched = 0, broken = 0;
    while (q.next()) {
        const QString s = q.value(1).toString();
        const int reg = q.value(2).toInt(), ev = q.value(3).toInt();
        if (s == u"4" && reg == 1 && ev == 1) {
            ++whole;
        } else if (s == u"0" && reg == 0 && ev == 0) {
            ++untouched;
        } else {
            ++broken;
        }
    }
    QCOMPARE(broken, 0);
    QCOMPARE(whole, before);
    QCOMPARE(whole + untouched, kNotes);

    // After a restart the same lot registers the rest; those already in are duplicates.
    QProcess again;
    const quint16 port2 = startServer(again);
    QVERIFY(port2 != 0);
    auto stop = qScopeGuard([&] {
        again.kill();
        again.waitForFinished();
    });
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port2);
    QVERIFY(second.waitForConnected(5000));
    second.write(frame);
    host::wire::FrameBuffer buffer;
    std::optional<QByteArray> reply;
    auto replyIn = [&] {
        if (!reply) {
            buffer.append(second.readAll());
            reply = buffer.takeFrame();
        }
        return reply.has_value();
    };
    QTRY_VERIFY_WITH_TIMEOUT(replyIn(), 60000);
    const QVariantList res = host::wire::decodeReply(*reply).result.toList();
    QCOMPARE(res.value(2).toString().toInt(), kNotes - before);
    QCOMPARE(res.value(3).toString().toInt(), before);
    QCOMPARE(registeredNow(), kNotes);
}

QTEST_GUILESS_MAIN(TestManifestacao)
#include "tst_manifestacao.moc"

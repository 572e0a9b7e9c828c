// Demo notes: deterministic for a given day (fixed seed mixed with the date), spread so that
// every situation code and synchronisation group occurs, some notes are booked, and the
// deadline warnings of the note query have something to show. A note shown with a
// manifestation has its event registered and logged the way the simulated authority leaves a
// registered event, so that what the list shows and what the rules decide agree.

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <vector>

#include "core/hosterror.h"
#include "demodata.h"
#include "demoentries.h"
#include "fiscaldocs.h"
#include "nfexml.h"
#include "rules.h"
#include "signer.h"
#include "store.h"

namespace dfe58000 {

namespace {

struct Partner {
    QString kind;  // "C", "F", "L"
    QString code;
    QString number;
    QString personType;
    QString name;
    QString state;
};

struct Branch {
    QString code;
    QString company;
    QString cnpj;
    QString stateRegistration;
    QString state;
    QString name;
};

QList<QStringList> select(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        throw host::EDatabaseError(
            QStringLiteral("Não foi possível ler os cadastros para as notas de demonstração: %1")
                .arg(q.lastError().text().trimmed()));
    }
    QList<QStringList> rows;
    while (q.next()) {
        QStringList row;
        for (int i = 0; i < q.record().count(); ++i) {
            row << q.value(i).toString();
        }
        rows << row;
    }
    return rows;
}

// IBGE codes of the states the demo data uses.
QString ufCode(const QString& state) {
    static const QHash<QString, QString> codes = {
        {QStringLiteral("SP"), QStringLiteral("35")}, {QStringLiteral("MG"), QStringLiteral("31")},
        {QStringLiteral("RJ"), QStringLiteral("33")}, {QStringLiteral("PR"), QStringLiteral("41")},
        {QStringLiteral("SC"), QStringLiteral("42")}, {QStringLiteral("RS"), QStringLiteral("43")},
        {QStringLiteral("GO"), QStringLiteral("52")}, {QStringLiteral("BA"), QStringLiteral("29")},
        {QStringLiteral("PE"), QStringLiteral("26")}};
    return codes.value(state, QStringLiteral("35"));
}

QString pad(qint64 value, int width) {
    return QStringLiteral("%1").arg(value, width, 10, QChar(u'0'));
}

// Picks an index by weights (percentages summing to 100).
int weighted(companydb::DemoRandom& rnd, std::initializer_list<int> weights) {
    int r = rnd.below(100);
    int i = 0;
    for (int w : weights) {
        if (r < w) {
            return i;
        }
        r -= w;
        ++i;
    }
    return i - 1;
}

// One manifestation a demo note shows, registered as the authority registers it.
struct DemoEvent {
    QString company;
    QString key;
    QString recipient;    // NRINSJURIESTDEST: the event's author
    QString environment;  // IDAMBIENTEMANIF
    const rules::EventRule* rule = nullptr;
    QString justification;
    QDateTime when;  // DTHREVENTO
    QString protocol;
    qint64 order = 0;  // the protocol sequence drawn (NRORDEMREG)
};

// The operator the demo's own events are logged under: the suite's default login.
const QString kDemoOperator = QStringLiteral("ADMIN");

// Events are signed and written this many at a time: memory stays flat whatever the count.
constexpr qsizetype kEventBatch = 256;

// What a clerk types for an Operação não Realizada (always) and a Desconhecimento (every other
// one): 15 to 255 Latin-1 characters, as the event's layout takes them.
QString demoJustification(const rules::EventRule& rule, int noteIndex) {
    static const QStringList notPerformed = {
        QStringLiteral("Mercadoria recusada no recebimento por avaria na embalagem."),
        QStringLiteral("Pedido cancelado antes do embarque; a carga não saiu do emitente."),
        QStringLiteral("Devolução integral no ato da entrega, sem entrada no estoque."),
        QStringLiteral("Operação desfeita a pedido do emitente, sem circulação da mercadoria."),
    };
    static const QStringList unknown = {
        QStringLiteral("Não reconhecemos o pedido nem o fornecedor desta nota."),
        QStringLiteral("Nota emitida para o CNPJ errado; o pedido é de outra empresa."),
    };
    if (!rule.justificationAllowed) {
        return {};
    }
    if (rule.justificationRequired) {
        return notPerformed.at(noteIndex % notPerformed.size());
    }
    return noteIndex % 2 == 0 ? unknown.at(noteIndex / 2 % unknown.size()) : QString();
}

// The SQLite file a connection works on, as the store names it; empty on PostgreSQL and for a
// database in memory (the demo certificate then lives in the home directory).
QString databaseFileOf(const QSqlDatabase& db, host::SqlDialect dialect) {
    const QString name = db.databaseName();
    if (dialect != host::SqlDialect::SQLite || name.isEmpty() || name == u":memory:" ||
        name.startsWith(u"file:")) {
        return {};
    }
    return name;
}

// Protocols for the events in the order they happened, one number of the protocol sequence
// each, the way the authority draws them ("191", the event's year, 10 digits; a number some
// event already holds is passed over), and the sequence left at the last one drawn, so that
// the events sent later never repeat one.
void drawProtocols(QSqlDatabase& db, std::vector<DemoEvent>& events) {
    const QString what = QStringLiteral("Não foi possível numerar os eventos de demonstração");
    std::stable_sort(events.begin(), events.end(),
                     [](const DemoEvent& a, const DemoEvent& b) { return a.when < b.when; });
    QSqlQuery q =
        runSql(db, QStringLiteral("SELECT NRULTIMOPROT FROM SEQPROTOCOLO WHERE IDSEQUENCIA = 1"),
               {}, what);
    if (!q.next()) {
        throw host::EDatabaseError(
            QStringLiteral("A sequência dos protocolos não existe no banco de dados."));
    }
    qint64 last = q.value(0).toLongLong();
    QSet<QString> taken;
    QSqlQuery held = runSql(db, QStringLiteral("SELECT NRPROTOCOLO FROM EVENTOREG"), {}, what);
    while (held.next()) {
        taken.insert(held.value(0).toString());
    }
    constexpr qint64 kLast = 9999999999;
    for (DemoEvent& e : events) {
        const QString prefix = QStringLiteral("191") + e.when.toString(QStringLiteral("yy"));
        do {
            if (++last > kLast) {
                throw host::EDatabaseError(
                    QStringLiteral("A sequência dos protocolos está esgotada (%1).").arg(last));
            }
            e.protocol = prefix + pad(last, 10);
        } while (taken.contains(e.protocol));
        e.order = last;
    }
    runSql(db, QStringLiteral("UPDATE SEQPROTOCOLO SET NRULTIMOPROT = ? WHERE IDSEQUENCIA = 1"),
           {last}, what);
}

// The procEventoNFe the authority archives for a registered event, before its signature.
QString eventDocument(const DemoEvent& e) {
    EventData d;
    d.accessKey = e.key;
    d.author = e.recipient;
    d.rule = e.rule;
    d.justification = e.justification;
    d.when = e.when;
    d.sequence = 1;
    d.cStat = 135;
    d.xMotivo = rules::motivo(135);
    d.protocol = e.protocol;
    d.registeredAt = e.when;
    d.tpAmb = environmentOf(e.environment);
    d.recipient = registrationOf(e.recipient);
    return procEventoDocument(d);
}

// The signed documents of events [from, to), on every core: each signature stands alone, and
// none runs while a statement is open. The first failure is raised once all have stopped.
std::vector<QString> signedDocuments(const std::vector<DemoEvent>& events, qsizetype from,
                                     qsizetype to, const DemoCertificate& cert) {
    std::vector<QString> docs(size_t(to - from));
    std::atomic<qsizetype> next{from};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;
    QMutex failureMutex;
    const int threads = std::max(2, QThread::idealThreadCount());
    QThreadPool pool;
    pool.setMaxThreadCount(threads);
    for (int t = 0; t < threads; ++t) {
        pool.start([&] {
            for (qsizetype i = next++; i < to && !failed; i = next++) {
                try {
                    docs[size_t(i - from)] = signXml(eventDocument(events[size_t(i)]),
                                                     QStringLiteral("infEvento"), cert);
                } catch (...) {
                    QMutexLocker lock(&failureMutex);
                    if (!failure) {
                        failure = std::current_exception();
                    }
                    failed = true;
                }
            }
        });
    }
    pool.waitForDone();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return docs;
}

// Registers and logs the events, as SimulatedAuthority::sendEvent leaves a registered event
// (Store::insertRegisteredEvent and Store::logEvent); with Archived, each with its signed
// document.
void writeDemoEvents(QSqlDatabase& db, host::SqlDialect dialect, std::vector<DemoEvent>& events,
                     DemoEvents mode) {
    if (events.empty()) {
        return;
    }
    drawProtocols(db, events);
    std::optional<DemoCertificate> cert;
    if (mode == DemoEvents::Archived) {
        cert = ensureDemoCertificate(demoCertDir(databaseFileOf(db, dialect)));
    }

    QSqlQuery reg(db), log(db);
    if (!reg.prepare(
            QStringLiteral("INSERT INTO EVENTOREG (NRACESSONF, TPEVENTO, NRSEQEVENTO, NRPROTOCOLO, "
                           "NRORDEMREG) VALUES (?, ?, 1, ?, ?)")) ||
        !log.prepare(QStringLiteral(
            "INSERT INTO EVENTONFE (CDEMPRESA, NRACESSONF, TPEVENTO, NRSEQEVENTO, NRINSJURAUTOR, "
            "DTHREVENTO, DTHRREGISTRO, CDSTAT, DSMOTIVO, NRPROTOCOLO, DSJUSTIFICATIVA, "
            "DSXMLEVENTO, CDOPERADOR) VALUES (?, ?, ?, 1, ?, ?, ?, 135, ?, ?, ?, ?, ?)"))) {
        throw host::EDatabaseError(
            QStringLiteral("Não foi possível preparar os eventos de demonstração: %1")
                .arg((reg.lastError().isValid() ? reg : log).lastError().text().trimmed()));
    }
    const QString registered = rules::motivo(135);
    const qsizetype total = qsizetype(events.size());
    for (qsizetype from = 0; from < total; from += kEventBatch) {
        const qsizetype to = std::min(total, from + kEventBatch);
        const std::vector<QString> docs =
            cert ? signedDocuments(events, from, to, *cert) : std::vector<QString>();
        for (qsizetype i = from; i < to; ++i) {
            const DemoEvent& e = events[size_t(i)];
            const QVariant when = dbDateTime(e.when);
            reg.bindValue(0, e.key);
            reg.bindValue(1, e.rule->tpEvento);
            reg.bindValue(2, e.protocol);
            reg.bindValue(3, e.order);
            const QVariantList values = {e.company,
                                         e.key,
                                         e.rule->tpEvento,
                                         e.recipient.left(20),
                                         when,
                                         when,
                                         registered,
                                         e.protocol,
                                         e.justification,
                                         docs.empty() ? QString() : docs[size_t(i - from)],
                                         kDemoOperator};
            for (int v = 0; v < values.size(); ++v) {
                log.bindValue(v, values.at(v));
            }
            if (!reg.exec() || !log.exec()) {
                throw host::EDatabaseError(
                    QStringLiteral("Não foi possível gravar o evento de demonstração da nota "
                                   "%1: %2")
                        .arg(e.key,
                             (reg.lastError().isValid() ? reg : log).lastError().text().trimmed()));
            }
        }
    }
}

}  // namespace

void insertDemoNotes(QSqlDatabase& db, host::SqlDialect dialect, int count, const QDate& today,
                     DemoEvents events) {
    if (count <= 0) {
        return;
    }
    companydb::DemoRandom rnd(58001ull ^ quint64(today.toJulianDay()));

    QList<Branch> branches;
    for (const QStringList& r :
         select(db, QStringLiteral("SELECT CDFILIAL, CDEMPRESA, NRINSJURFILI, CDINSCESTA, "
                                   "SGESTADO, NMFILIAL FROM FILIAL ORDER BY CDFILIAL"))) {
        branches.append({r[0], r[1], r[2], r[3], r[4], r[5]});
    }
    QList<Partner> suppliers, clients;
    for (const QStringList& r :
         select(db, QStringLiteral("SELECT CDFORNECED, NRINSJURFORN, IDTPIJURFORN, NMRAZSOCFORN, "
                                   "SGESTADO FROM FORNECEDOR ORDER BY CDFORNECED"))) {
        suppliers.append({QStringLiteral("F"), r[0], r[1], r[2], r[3], r[4]});
    }
    for (const QStringList& r :
         select(db, QStringLiteral("SELECT CDCLIENTE, NRINSJURCLIE, IDTPIJURCLIE, NMRAZSOCCLIE, "
                                   "SGESTADO FROM CLIENTE ORDER BY CDCLIENTE"))) {
        clients.append({QStringLiteral("C"), r[0], r[1], r[2], r[3], r[4]});
    }
    QStringList entryTypes, exitTypes;
    for (const QStringList& r :
         select(db, QStringLiteral("SELECT CDTIPOOPER, IDENTRSAIDOP FROM TIPOOPERAC "
                                   "ORDER BY CDTIPOOPER"))) {
        (r[1] == u"E" ? entryTypes : exitTypes) << r[0];
    }
    if (branches.isEmpty() || suppliers.isEmpty() || clients.isEmpty() || entryTypes.isEmpty() ||
        exitTypes.isEmpty()) {
        throw host::EDatabaseError(QStringLiteral(
            "As notas de demonstração precisam das filiais, clientes, fornecedores e tipos de "
            "operação de demonstração."));
    }

    const QStringList companies = {QStringLiteral("01"), QStringLiteral("02"),
                                   QStringLiteral("03")};
    const QStringList series = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                QStringLiteral("890")};
    const int conclusiveDays = rules::conclusiveDeadlineDays(today);
    std::vector<DemoEvent> registered;
    DemoEntryWriter books(db);

    for (int i = 0; i < count; ++i) {
        NoteRecord n;
        n.CDEMPRESA = companies.at(i % 10 < 6 ? 0 : i % 10 < 8 ? 1 : 2);
        QList<const Branch*> own;
        for (const Branch& b : branches) {
            if (b.company == n.CDEMPRESA) {
                own << &b;
            }
        }
        if (own.isEmpty()) {
            continue;
        }
        const Branch& dest = *own.at(rnd.below(int(own.size())));
        n.CDFILIALORIG = dest.code;
        n.NRINSJURIESTDEST = dest.cnpj;
        n.CDINSCESTADEST = dest.stateRegistration;
        n.NRINSJURNF = dest.cnpj;

        // Issuer: a supplier, a client (returns) or another branch of the group (transfers).
        Partner issuer;
        switch (weighted(rnd, {50, 35, 15})) {
            case 0:
                issuer = suppliers.at(rnd.below(int(suppliers.size())));
                break;
            case 1:
                issuer = clients.at(rnd.below(int(clients.size())));
                break;
            default: {
                const Branch& b = branches.at(rnd.below(int(branches.size())));
                issuer = {QStringLiteral("L"), b.code, b.cnpj,
                          QStringLiteral("J"), b.name, b.state};
                break;
            }
        }
        n.IDORIGEMIT = issuer.kind;
        n.CDEMITENTE = issuer.code;
        n.NRINSJURNFORIG = issuer.number;
        n.IDTPIJUREMIT = issuer.personType;
        n.NMRAZSOCEMIT = issuer.name;

        // Situations: the first notes of each company walk through every code, the rest follow
        // weights close to what a real recipient sees.
        static const char* manifCodes = "041235";
        const int walk = i / 10 * 6 + i % 10;  // distinct per company among the first ones
        const bool walking = i < 120;
        n.IDSTATUSNFE = QString(QChar(u'0' + (walking ? walk % 4 : weighted(rnd, {8, 80, 4, 8}))));
        n.IDSTATUSMANIF = QString(QChar::fromLatin1(
            manifCodes[walking ? walk % 6 : weighted(rnd, {40, 20, 20, 5, 5, 10})]));
        n.IDNOTA =
            QString(QChar(u'1' + (walking ? walk % 7 : weighted(rnd, {25, 30, 15, 10, 10, 5, 5}))));

        // Authorisation spread over the 120 days before today (never today: its hour could
        // still be ahead of the clock); some notes placed on purpose close to their conclusive
        // deadline, as open ones, so the query's warnings have content.
        QDate authorised = today.addDays(-rnd.between(1, 120));
        if (i % 10 == 3 || i % 10 == 7) {
            const int left = i % 10 == 3 ? rnd.between(0, 4) : rnd.between(10, 18);
            authorised = today.addDays(left - conclusiveDays);
            n.IDSTATUSNFE = QStringLiteral("1");
            n.IDSTATUSMANIF = rnd.chance(50) ? QStringLiteral("0") : QStringLiteral("4");
        }
        n.DTRECBTO = QDateTime(authorised, QTime(rnd.between(7, 19), rnd.below(60), rnd.below(60)));
        n.DTEMISSAO = n.DTRECBTO.addSecs(-60 * rnd.between(1, 3 * 24 * 60));

        const bool entry = rnd.chance(90);
        n.IDENTRSAIDOP = entry ? QStringLiteral("E") : QStringLiteral("S");
        n.IDENTRSAIDNF = entry ? QStringLiteral("1") : QStringLiteral("0");
        n.CDTIPOOPER = entry ? rnd.pick(entryTypes) : rnd.pick(exitTypes);
        n.CDSERIE = rnd.pick(series);
        const qint64 number = 1000 + qint64(i) * 3 + rnd.below(3);
        n.NRNOTAFISC = pad(number, 9);
        n.VRNOTAFISC = rnd.between(50, 250000) + rnd.below(100) / 100.0;
        n.IDTIPOINCL = rnd.chance(70) ? QStringLiteral("X") : QStringLiteral("M");
        n.IDAMBIENTEMANIF = rnd.chance(90) ? QStringLiteral("1") : QStringLiteral("2");

        const QChar manif = n.IDSTATUSMANIF.at(0);
        if (n.IDSTATUSNFE == u"3") {
            n.IDTIPOEVENTO = QStringLiteral("1");
        } else if (manif >= u'1' && manif <= u'4') {
            n.IDTIPOEVENTO = QStringLiteral("3");
        } else if (rnd.chance(10)) {
            n.IDTIPOEVENTO = QStringLiteral("2");
            n.DSCORRECAONFE = QStringLiteral(
                "Correção do endereço de entrega e do volume "
                "transportado.");
        } else {
            n.IDTIPOEVENTO = QStringLiteral("0");
        }
        if (manif != u'0') {
            QDateTime event = n.DTRECBTO.addSecs(3600 * rnd.between(1, 240));
            const QDateTime now(today, QTime(0, 0));
            if (event > now) {
                event = n.DTRECBTO.addSecs(60);
            }
            n.DTHREVENTO = event;
            n.NRSEQEVENTO = QStringLiteral("1");
        }
        if (manif == u'5') {
            n.DSOBSSTATUSMANIF = rnd.chance(50)
                                     ? QStringLiteral("%1 - %2")
                                           .arg(rules::kOutOfDeadline)
                                           .arg(rules::outOfDeadlineMotivo(conclusiveDays))
                                     : rules::describe(575);
        }

        // Booked notes: those the company's records hold (synchronised groups 2 and 3). A few
        // notes still listed as not in the system (group 1) were booked after the last
        // synchronisation: their entry exists, the note does not know it yet. That choice draws
        // nothing from rnd, so every other value stays as it was.
        const QChar group = n.IDNOTA.at(0);
        std::optional<QDateTime> bookedLate;
        if ((group == u'2' || group == u'3') && rnd.chance(85)) {
            n.NRLANCTONF = pad(100000 + i, 10);
            n.CDFILIAL = dest.code;
            n.DTENTRSAID =
                QDateTime(std::min(authorised.addDays(rnd.between(0, 5)), today), QTime(0, 0));
        } else if (group == u'1' && i % 12 == 5) {
            bookedLate = QDateTime(std::min(authorised.addDays(i % 4), today), QTime(0, 0));
        }
        n.IDARQXMLNFE = (manif == u'1' || manif == u'3' || manif == u'4') && rnd.chance(85)
                            ? QStringLiteral("S")
                            : QStringLiteral("N");

        // The access key: cUF AAMM CNPJ/CPF(14) mod serie nNF tpEmis cNF cDV.
        const QString first43 =
            ufCode(issuer.state) + n.DTEMISSAO.date().toString(QStringLiteral("yyMM")) +
            issuer.number.rightJustified(14, u'0') + QStringLiteral("55") +
            pad(n.CDSERIE.toInt(), 3) + pad(number, 9) + QStringLiteral("1") + rnd.digits(8);
        n.NRACESSONF = first43 + QString::number(fiscal::accessKeyCheckDigit(first43));
        if (group == u'2' || group == u'3' || group == u'4') {
            n.NRACESSOINTG = n.NRACESSONF;
        }
        insertNoteInto(db, n);
        if (!n.NRLANCTONF.isEmpty()) {
            books.book(n, n.CDFILIAL, n.NRLANCTONF, n.DTENTRSAID);
        } else if (bookedLate) {
            books.book(n, dest.code, pad(100000 + i, 10), *bookedLate);
        }
        if (const rules::EventRule* rule = rules::eventByModuleCode(n.IDSTATUSMANIF)) {
            registered.push_back({n.CDEMPRESA,
                                  n.NRACESSONF,
                                  n.NRINSJURIESTDEST,
                                  n.IDAMBIENTEMANIF,
                                  rule,
                                  demoJustification(*rule, i),
                                  n.DTHREVENTO,
                                  {},
                                  0});
        }
    }
    writeDemoEvents(db, dialect, registered, events);
}

}  // namespace dfe58000

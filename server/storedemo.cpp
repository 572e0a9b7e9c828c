// Demo notes: deterministic for a given day (fixed seed mixed with the date), spread so that
// every situation code and synchronisation group occurs, some notes are booked, and the
// deadline warnings of the note query have something to show.

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "core/hosterror.h"
#include "demodata.h"
#include "fiscaldocs.h"
#include "rules.h"
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
    if (!q.exec(sql))
        throw host::EDatabaseError(
            QStringLiteral("Não foi possível ler os cadastros para as notas de demonstração: %1")
                .arg(q.lastError().text().trimmed()));
    QList<QStringList> rows;
    while (q.next()) {
        QStringList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i).toString();
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
        if (r < w)
            return i;
        r -= w;
        ++i;
    }
    return i - 1;
}

}  // namespace

void insertDemoNotes(QSqlDatabase& db, host::SqlDialect, int count, const QDate& today) {
    if (count <= 0)
        return;
    companydb::DemoRandom rnd(58001ull ^ quint64(today.toJulianDay()));

    QList<Branch> branches;
    for (const QStringList& r :
         select(db, QStringLiteral("SELECT CDFILIAL, CDEMPRESA, NRINSJURFILI, CDINSCESTA, "
                                   "SGESTADO, NMFILIAL FROM FILIAL ORDER BY CDFILIAL")))
        branches.append({r[0], r[1], r[2], r[3], r[4], r[5]});
    QList<Partner> suppliers, clients;
    for (const QStringList& r :
         select(db, QStringLiteral("SELECT CDFORNECED, NRINSJURFORN, IDTPIJURFORN, NMRAZSOCFORN, "
                                   "SGESTADO FROM FORNECEDOR ORDER BY CDFORNECED")))
        suppliers.append({QStringLiteral("F"), r[0], r[1], r[2], r[3], r[4]});
    for (const QStringList& r :
         select(db, QStringLiteral("SELECT CDCLIENTE, NRINSJURCLIE, IDTPIJURCLIE, NMRAZSOCCLIE, "
                                   "SGESTADO FROM CLIENTE ORDER BY CDCLIENTE")))
        clients.append({QStringLiteral("C"), r[0], r[1], r[2], r[3], r[4]});
    QStringList entryTypes, exitTypes;
    for (const QStringList& r :
         select(db, QStringLiteral("SELECT CDTIPOOPER, IDENTRSAIDOP FROM TIPOOPERAC "
                                   "ORDER BY CDTIPOOPER")))
        (r[1] == u"E" ? entryTypes : exitTypes) << r[0];
    if (branches.isEmpty() || suppliers.isEmpty() || clients.isEmpty() || entryTypes.isEmpty() ||
        exitTypes.isEmpty())
        throw host::EDatabaseError(QStringLiteral(
            "As notas de demonstração precisam das filiais, clientes, fornecedores e tipos de "
            "operação de demonstração."));

    const QStringList companies = {QStringLiteral("01"), QStringLiteral("02"),
                                   QStringLiteral("03")};
    const QStringList series = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                QStringLiteral("890")};
    const int conclusiveDays = rules::conclusiveDeadlineDays(today);

    for (int i = 0; i < count; ++i) {
        NoteRecord n;
        n.CDEMPRESA = companies.at(i % 10 < 6 ? 0 : i % 10 < 8 ? 1 : 2);
        QList<const Branch*> own;
        for (const Branch& b : branches)
            if (b.company == n.CDEMPRESA)
                own << &b;
        if (own.isEmpty())
            continue;
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

        // Authorisation spread over the last 120 days; some notes placed on purpose close to
        // their conclusive deadline, as open ones, so the query's warnings have content.
        QDate authorised = today.addDays(-rnd.between(0, 120));
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
            if (event > now)
                event = n.DTRECBTO.addSecs(60);
            n.DTHREVENTO = event;
            n.NRSEQEVENTO = QStringLiteral("1");
        }
        if (manif == u'5')
            n.DSOBSSTATUSMANIF = rnd.chance(50)
                                     ? QStringLiteral("%1 - %2")
                                           .arg(rules::kOutOfDeadline)
                                           .arg(rules::outOfDeadlineMotivo(conclusiveDays))
                                     : rules::describe(575);

        // Booked notes: those the company's records hold (synchronised groups 2 and 3).
        const QChar group = n.IDNOTA.at(0);
        if ((group == u'2' || group == u'3') && rnd.chance(85)) {
            n.NRLANCTONF = pad(100000 + i, 10);
            n.CDFILIAL = dest.code;
            n.DTENTRSAID = QDateTime(authorised.addDays(rnd.between(0, 5)), QTime(0, 0));
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
        if (group == u'2' || group == u'3' || group == u'4')
            n.NRACESSOINTG = n.NRACESSONF;
        insertNoteInto(db, n);
    }
}

}  // namespace dfe58000

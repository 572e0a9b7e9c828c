#include "authority.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QXmlStreamWriter>

#include "core/hosterror.h"
#include "documents.h"
#include "fiscaldocs.h"

namespace dfe58000 {

namespace {

QSqlQuery run(QSqlDatabase& db, const QString& sql, const QVariantList& binds) {
    return runSql(db, sql, binds, QStringLiteral("Erro ao gravar o evento"));
}

int registeredCount(QSqlDatabase& db, const QString& key, int tpEvento) {
    QSqlQuery q = run(
        db, QStringLiteral("SELECT COUNT(*) FROM EVENTOREG WHERE NRACESSONF = ? AND TPEVENTO = ?"),
        {key, tpEvento});
    return q.next() ? q.value(0).toInt() : 0;
}

// The conclusive event that prevails for the key: the last one registered (0 when there is
// none). Events registered before their order was kept come first, among themselves by protocol.
int currentConclusive(QSqlDatabase& db, const QString& key) {
    QSqlQuery q = run(db,
                      QStringLiteral("SELECT TPEVENTO FROM EVENTOREG WHERE NRACESSONF = ? AND "
                                     "TPEVENTO IN (210200, 210220, 210240) "
                                     "ORDER BY COALESCE(NRORDEMREG, 0) DESC, NRPROTOCOLO DESC"),
                      {key});
    return q.next() ? q.value(0).toInt() : 0;
}

// The insert of a registered event failed: true only when the database refused it for its key
// (the same type, key and sequence registered a moment ago); any other failure is not a
// duplicate. SQLite reports a trigger's RAISE with the same constraint code as a key conflict,
// so there the conflicting row itself must be there (the failed statement alone was undone and
// the transaction still reads).
bool isKeyConflict(host::SqlDialect dialect, const QSqlError& error, QSqlDatabase& db,
                   const QString& key, int tpEvento, int seq) {
    const QString code = error.nativeErrorCode();
    if (dialect != host::SqlDialect::SQLite)
        return code == u"23505";  // unique_violation
    if (code != u"19" && code != u"1555" && code != u"2067")
        return false;
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("SELECT 1 FROM EVENTOREG WHERE NRACESSONF = ? AND TPEVENTO = ? AND "
                       "NRSEQEVENTO = ?"));
    q.addBindValue(key);
    q.addBindValue(tpEvento);
    q.addBindValue(seq);
    return q.exec() && q.next();
}

// nProt: origin 1, UF code 91 (national environment), year, a 10-digit sequence. The sequence
// is a row of the database, drawn inside the event's transaction: every connection and every
// server process on the database gets a number of its own, and an event rolled back gives its
// number back. A number some registered event already holds (databases from before the sequence
// numbered by the clock) is passed over. order gets the sequence drawn: the order in which the
// key's events were registered.
QString newProtocol(QSqlDatabase& db, const QDateTime& when, qint64* order) {
    constexpr qint64 kLast = 9999999999;
    for (;;) {
        run(db,
            QStringLiteral(
                "UPDATE SEQPROTOCOLO SET NRULTIMOPROT = NRULTIMOPROT + 1 WHERE IDSEQUENCIA = 1"),
            {});
        QSqlQuery q = run(
            db, QStringLiteral("SELECT NRULTIMOPROT FROM SEQPROTOCOLO WHERE IDSEQUENCIA = 1"), {});
        if (!q.next())
            throw host::EDatabaseError(
                QStringLiteral("A sequência dos protocolos não existe no banco de dados."));
        const qint64 seq = q.value(0).toLongLong();
        if (seq < 1 || seq > kLast)
            throw host::EDatabaseError(
                QStringLiteral("A sequência dos protocolos está esgotada (%1).").arg(seq));
        const QString protocol = QStringLiteral("191") + when.toString(QStringLiteral("yy")) +
                                 QStringLiteral("%1").arg(seq, 10, 10, QChar(u'0'));
        if (!run(db, QStringLiteral("SELECT 1 FROM EVENTOREG WHERE NRPROTOCOLO = ?"), {protocol})
                 .next()) {
            *order = seq;
            return protocol;
        }
    }
}

// The author of every event of a lot: a CPF (11 characters, as the event writes it) or a CNPJ,
// numeric or alphanumeric, with right check digits. 0 when it passes, else 490 or 489.
int authorRejection(const QString& author) {
    if (author.size() == 11)
        return fiscal::isValidCpf(author) ? 0 : 490;
    return fiscal::isValidCnpj(author) ? 0 : 489;
}

// The authority's checks of the parts of a key whose check digit is right: 0 when it passes,
// else the rejection code.
int keyPartsRejection(const QString& key, const QDate& today) {
    static const QSet<int> ufCodes = {11, 12, 13, 14, 15, 16, 17, 21, 22, 23, 24, 25, 26, 27,
                                      28, 29, 31, 32, 33, 35, 41, 42, 43, 50, 51, 52, 53};
    if (!ufCodes.contains(key.left(2).toInt()))
        return 614;
    const int year = key.mid(2, 2).toInt();
    if (year < 6 || year > today.year() % 100)
        return 615;
    const int month = key.mid(4, 2).toInt();
    if (month < 1 || month > 12)
        return 616;
    const QString issuer = key.mid(6, 14);
    if (!fiscal::isValidCnpj(issuer) &&
        !(issuer.startsWith(QStringLiteral("000")) && fiscal::isValidCpf(issuer.mid(3))))
        return 617;
    const QString model = key.mid(20, 2);
    if (model != u"55" && model != u"65")
        return 618;
    if (key.mid(25, 9).toLongLong() == 0)
        return 619;
    const int tpEmis = key.mid(34, 1).toInt();
    if (tpEmis < 1 || tpEmis > 7)
        return 236;
    return 0;
}

EventResult reject(const StoredNote& note, int cStat) {
    EventResult r;
    r.cStat = cStat;
    r.xMotivo = rules::motivo(cStat);
    r.issuerRegistration = note.issuerRegistration;
    r.issuerName = note.issuerName;
    return r;
}

// The justification as the event log keeps it: a registered one exactly as sent (the layout check
// bounds it); one rejected or not part of the event only as far as the column holds.
QString storedJustification(const EventRequest& req, const EventResult& r) {
    if (r.registered && req.rule->justificationAllowed)
        return req.justification;
    return req.justification.left(rules::kJustificationMax);
}

void logEvent(QSqlDatabase& db, const QString& company, const EventRequest& req,
              const EventResult& r, const QString& xml) {
    run(db,
        QStringLiteral("INSERT INTO EVENTONFE (CDEMPRESA, NRACESSONF, TPEVENTO, NRSEQEVENTO, "
                       "NRINSJURAUTOR, DTHREVENTO, DTHRREGISTRO, CDSTAT, DSMOTIVO, NRPROTOCOLO, "
                       "DSJUSTIFICATIVA, DSXMLEVENTO, CDOPERADOR) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
                       "?, ?, ?, ?, ?)"),
        {company.isEmpty() ? QStringLiteral("--") : company, req.accessKey.left(44),
         req.rule->tpEvento, r.sequence, req.author.left(20), dbDateTime(req.when),
         r.registered ? dbDateTime(QDateTime::currentDateTime()) : dbDateTime({}), r.cStat,
         r.xMotivo.left(255), r.protocol, storedJustification(req, r), xml,
         req.operatorCode.left(20)});
}

}  // namespace

EventResult SimulatedAuthority::sendEvent(Store& store, const EventRequest& req) {
    QSqlDatabase& db = store.database();
    const rules::EventRule& rule = *req.rule;
    const QString key = req.accessKey;
    const bool validKey = key.size() == 44 && fiscal::isValidAccessKey(key);

    // SQLite takes the write lock at once, so two writers queue instead of failing midway.
    auto begin = [&] {
        const bool ok = store.dialect() == host::SqlDialect::SQLite
                            ? QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"))
                            : db.transaction();
        if (!ok)
            throw host::EDatabaseError(QStringLiteral("Não foi possível iniciar a transação: %1")
                                           .arg(db.lastError().text().trimmed()));
    };
    begin();
    try {
        // Everything about one key is decided by one client at a time: what is registered, the
        // sequence drawn and the note's situation. SQLite's write lock already serialises the
        // whole event; on PostgreSQL a lock on the key, held to the end of the transaction, does
        // it also for a key no note of the store has (136).
        if (store.dialect() != host::SqlDialect::SQLite && validKey)
            run(db, QStringLiteral("SELECT pg_advisory_xact_lock(58000, hashtext(?))"), {key});
        // The author's own note of the key, when the key is stored for more than one recipient.
        const StoredNote note = validKey ? findNoteByKey(db, key, req.author) : StoredNote();
        EventResult r;
        const QChar nfe = note.statusNFe.isEmpty() ? QChar() : note.statusNFe.at(0);
        const QString just = req.justification;
        const bool justBad = !just.isEmpty() && !rules::justificationFitsLayout(just);
        const int keyParts = validKey ? keyPartsRejection(key, QDate::currentDate()) : 0;
        // The event's layout first, then its author (the same for the whole lot), then the note.
        if (rule.justificationAllowed && justBad) {
            r = reject(note, 493);
        } else if (const int author = authorRejection(req.author); author != 0) {
            r = reject(note, author);
        } else if (!validKey) {
            r = reject(note, 236);
        } else if (keyParts != 0) {
            r = reject(note, keyParts);
        } else if (note.found && note.recipient != req.author) {
            r = reject(note, 575);
        } else if (note.found && (nfe == u'2' || nfe == u'3') && rule.tpEvento == 210210) {
            r = reject(note, 650);
        } else if (note.found && (nfe == u'2' || nfe == u'3') && rule.tpEvento == 210220) {
            r = reject(note, 651);
        } else if (rule.justificationRequired && just.isEmpty()) {
            r = reject(note, 595);
        } else if (!rule.conclusive && currentConclusive(db, key) != 0) {
            r = reject(note, 655);
        } else if (const int deadlineDays =
                       rule.conclusive ? rules::conclusiveDeadlineDays(QDate::currentDate())
                                       : rules::kCienciaDeadlineDays;
                   note.found && note.authorised.isValid() &&
                   QDate::currentDate() > note.authorised.addDays(deadlineDays)) {
            r = reject(note, rules::kOutOfDeadline);
            r.xMotivo = rules::outOfDeadlineMotivo(deadlineDays);
        } else {
            // A duplicate is the event the key already has in force: a Ciência registered before,
            // or the conclusive type that prevails now (a retry after a timeout, two clerks at
            // once). Another conclusive type replaces it, and the earlier type may come back
            // while it has sequences left: Confirmação, Desconhecimento, Confirmação registers
            // sequences 1, 1 and 2; a third Confirmação after another Desconhecimento is 594.
            const int count = registeredCount(db, key, rule.tpEvento);
            const int seq = rule.conclusive ? count + 1 : 1;
            const bool duplicate = rule.conclusive
                                       ? count > 0 && currentConclusive(db, key) == rule.tpEvento
                                       : count > 0;
            if (duplicate) {
                r = reject(note, 573);
                r.sequence = count;
            } else if (seq > rule.maxSequence) {
                r = reject(note, 594);
            } else {
                r = reject(note, note.found ? 135 : 136);
                r.sequence = seq;
                qint64 order = 0;
                r.protocol = newProtocol(db, req.when, &order);
                QSqlQuery ins(db);
                ins.prepare(
                    QStringLiteral("INSERT INTO EVENTOREG (NRACESSONF, TPEVENTO, "
                                   "NRSEQEVENTO, NRPROTOCOLO, NRORDEMREG) VALUES (?, ?, ?, ?, ?)"));
                ins.addBindValue(key);
                ins.addBindValue(rule.tpEvento);
                ins.addBindValue(seq);
                ins.addBindValue(r.protocol);
                ins.addBindValue(order);
                if (!ins.exec()) {
                    // The key of EVENTOREG refused it: the same event is already registered
                    // (by a client that does not take the key's lock). Any other failure is the
                    // error it is.
                    if (!isKeyConflict(store.dialect(), ins.lastError(), db, key, rule.tpEvento,
                                       seq)) {
                        // Undone before the statement is let go: PostgreSQL frees nothing in
                        // an aborted transaction.
                        const QString failure = ins.lastError().text().trimmed();
                        db.rollback();
                        begin();
                        throw host::EDatabaseError(
                            QStringLiteral("Erro ao gravar o evento: %1").arg(failure));
                    }
                    db.rollback();
                    begin();
                    r = reject(note, 573);
                    r.sequence = seq;
                } else {
                    r.registered = true;
                }
            }
        }
        if (r.sequence == 0)
            r.sequence = 1;
        const QString xml = r.registered ? signedProcEventoXml(store, req, r) : QString();
        logEvent(db, note.company, req, r, xml);
        // Only the author's own notes of the key change: a note of the same key kept for another
        // recipient (another company or registration) is not the author's to touch.
        if (r.registered && note.found) {
            // A Ciência never takes the place of a conclusive situation.
            run(db,
                QStringLiteral("UPDATE NOTADEST SET IDSTATUSMANIF = ?, IDTIPOEVENTO = ?, "
                               "DTHREVENTO = ?, NRSEQEVENTO = ?, DSOBSSTATUSMANIF = NULL "
                               "WHERE NRACESSONF = ? AND NRINSJURIESTDEST = ?") +
                    (rule.conclusive ? QString()
                                     : QStringLiteral(" AND IDSTATUSMANIF NOT IN ('1', '2', '3')")),
                {rule.moduleCode, QStringLiteral("3"), dbDateTime(req.when),
                 QString::number(r.sequence), key, req.author});
        } else if (note.found) {
            // A note without a registered manifestation shows as rejected, with the reason; a
            // manifestation already registered stays as it is.
            run(db,
                QStringLiteral("UPDATE NOTADEST SET IDSTATUSMANIF = '5', DSOBSSTATUSMANIF = ? "
                               "WHERE NRACESSONF = ? AND NRINSJURIESTDEST = ? "
                               "AND IDSTATUSMANIF IN ('0', '5')"),
                {QStringLiteral("%1 - %2").arg(r.cStat).arg(r.xMotivo).left(250), key, req.author});
        }
        if (!db.commit())
            throw host::EDatabaseError(QStringLiteral("Não foi possível gravar o evento: %1")
                                           .arg(db.lastError().text().trimmed()));
        return r;
    } catch (...) {
        db.rollback();
        throw;
    }
}

}  // namespace dfe58000

#include "authority.h"

#include <QSet>

#include "core/hosterror.h"
#include "fiscaldocs.h"
#include "nfexml.h"
#include "signer.h"

namespace dfe58000 {

namespace {

// nProt: origin 1, UF code 91 (national environment), year, a 10-digit sequence drawn from the
// store inside the event's transaction. A number some registered event already holds (databases
// from before the sequence numbered by the clock) is passed over. order gets the sequence drawn:
// the order in which the key's events were registered.
QString newProtocol(Store& store, const QDateTime& when, qint64* order) {
    constexpr qint64 kLast = 9999999999;
    for (;;) {
        const qint64 seq = store.nextProtocolNumber();
        if (seq < 1 || seq > kLast) {
            throw host::EDatabaseError(
                QStringLiteral("A sequência dos protocolos está esgotada (%1).").arg(seq));
        }
        const QString protocol = QStringLiteral("191") + when.toString(QStringLiteral("yy")) +
                                 QStringLiteral("%1").arg(seq, 10, 10, QChar(u'0'));
        if (!store.protocolTaken(protocol)) {
            *order = seq;
            return protocol;
        }
    }
}

// The author of every event of a lot: a CPF (11 characters, as the event writes it) or a CNPJ,
// numeric or alphanumeric, with right check digits. 0 when it passes, else 490 or 489.
int authorRejection(const QString& author) {
    if (author.size() == 11) {
        return fiscal::isValidCpf(author) ? 0 : 490;
    }
    return fiscal::isValidCnpj(author) ? 0 : 489;
}

// The authority's checks of the parts of a key whose check digit is right: 0 when it passes,
// else the rejection code.
int keyPartsRejection(const QString& key, const QDate& today) {
    static const QSet<int> ufCodes = {11, 12, 13, 14, 15, 16, 17, 21, 22, 23, 24, 25, 26, 27,
                                      28, 29, 31, 32, 33, 35, 41, 42, 43, 50, 51, 52, 53};
    if (!ufCodes.contains(key.left(2).toInt())) {
        return 614;
    }
    const int year = key.mid(2, 2).toInt();
    if (year < 6 || year > today.year() % 100) {
        return 615;
    }
    const int month = key.mid(4, 2).toInt();
    if (month < 1 || month > 12) {
        return 616;
    }
    const QString issuer = key.mid(6, 14);
    if (!fiscal::isValidCnpj(issuer) &&
        !(issuer.startsWith(QStringLiteral("000")) && fiscal::isValidCpf(issuer.mid(3)))) {
        return 617;
    }
    const QString model = key.mid(20, 2);
    if (model != u"55" && model != u"65") {
        return 618;
    }
    if (key.mid(25, 9).toLongLong() == 0) {
        return 619;
    }
    const int tpEmis = key.mid(34, 1).toInt();
    if (tpEmis < 1 || tpEmis > 7) {
        return 236;
    }
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
    if (r.registered && req.rule->justificationAllowed) {
        return req.justification;
    }
    return req.justification.left(rules::kJustificationMax);
}

// The archived procEventoNFe of a registered event, signed as its author signs it.
QString signedEventDocument(Store& store, const EventRequest& req, const EventResult& r,
                            const StoredNote& note, const QDateTime& registeredAt) {
    EventData e;
    e.accessKey = req.accessKey;
    e.author = req.author;
    e.rule = req.rule;
    e.justification = req.justification;
    e.when = req.when;
    e.sequence = r.sequence;
    e.cStat = r.cStat;
    e.xMotivo = r.xMotivo;
    e.protocol = r.protocol;
    e.registeredAt = registeredAt;
    e.tpAmb = environmentOf(note.environment);
    e.recipient = note.found ? registrationOf(note.recipient) : QString();
    return signXml(procEventoDocument(e), QStringLiteral("infEvento"),
                   ensureDemoCertificate(demoCertDir(store.databaseFile())));
}

}  // namespace

EventResult SimulatedAuthority::sendEvent(Store& store, const EventRequest& req) {
    const rules::EventRule& rule = *req.rule;
    const QString key = req.accessKey;
    const bool validKey = key.size() == 44 && fiscal::isValidAccessKey(key);
    // Deadlines and the key's year are judged on Brasília's date when the event arrives.
    const QDate today = store.clock().today();

    Store::Transaction tx(store);
    // Everything about one key is decided by one client at a time: what is registered, the
    // sequence drawn and the note's situation; also for a key no note of the store has (136).
    if (validKey) {
        store.lockKey(key);
    }
    // The author's own note of the key, when the key is stored for more than one recipient.
    const StoredNote note = validKey ? store.noteByKey(key, req.author) : StoredNote();
    EventResult r;
    const QChar nfe = note.statusNFe.isEmpty() ? QChar() : note.statusNFe.at(0);
    const QString just = req.justification;
    const bool justBad = !just.isEmpty() && !rules::justificationFitsLayout(just);
    const int keyParts = validKey ? keyPartsRejection(key, today) : 0;
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
    } else if (!rule.conclusive && store.conclusiveInForce(key) != 0) {
        r = reject(note, 655);
    } else if (const int deadlineDays = rule.conclusive ? rules::conclusiveDeadlineDays(today)
                                                        : rules::kCienciaDeadlineDays;
               note.found && note.authorised.isValid() &&
               today > note.authorised.addDays(deadlineDays)) {
        r = reject(note, rules::kOutOfDeadline);
        r.xMotivo = rules::outOfDeadlineMotivo(deadlineDays);
    } else {
        // A duplicate is the event the key already has in force: a Ciência registered before,
        // or the conclusive type that prevails now (a retry after a timeout, two clerks at
        // once). Another conclusive type replaces it, and the earlier type may come back while
        // it has sequences left: Confirmação, Desconhecimento, Confirmação registers sequences
        // 1, 1 and 2; a third Confirmação after another Desconhecimento is 594.
        const int count = store.registeredEventCount(key, rule.tpEvento);
        const int seq = rule.conclusive ? count + 1 : 1;
        const bool duplicate = rule.conclusive
                                   ? count > 0 && store.conclusiveInForce(key) == rule.tpEvento
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
            r.protocol = newProtocol(store, req.when, &order);
            // Refused for its key: the same event registered a moment ago by a client that does
            // not take the key's lock.
            r.registered =
                store.insertRegisteredEvent(tx, key, rule.tpEvento, seq, r.protocol, order);
            if (!r.registered) {
                r = reject(note, 573);
                r.sequence = seq;
            }
        }
    }
    if (r.sequence == 0) {
        r.sequence = 1;
    }
    const QDateTime registeredAt = r.registered ? store.clock().now() : QDateTime();

    EventLogRow log;
    log.company = note.company;
    log.key = key;
    log.tpEvento = rule.tpEvento;
    log.sequence = r.sequence;
    log.author = req.author;
    log.sentAt = req.when;
    log.registeredAt = registeredAt;
    log.cStat = r.cStat;
    log.xMotivo = r.xMotivo;
    log.protocol = r.protocol;
    log.justification = storedJustification(req, r);
    log.xml = r.registered ? signedEventDocument(store, req, r, note, registeredAt) : QString();
    log.operatorCode = req.operatorCode;
    store.logEvent(log);
    // Only the author's own notes of the key change: a note of the same key kept for another
    // recipient (another company or registration) is not the author's to touch.
    if (r.registered && note.found) {
        store.markManifested(key, req.author, rule.moduleCode, rule.conclusive, req.when,
                             r.sequence);
    } else if (note.found) {
        store.markRejected(key, req.author, QStringLiteral("%1 - %2").arg(r.cStat).arg(r.xMotivo));
    }
    tx.commit();
    return r;
}

}  // namespace dfe58000

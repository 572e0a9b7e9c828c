// The store's statements for events and documents, and its transactions.

#include <QSqlError>
#include <QSqlQuery>

#include "core/hosterror.h"
#include "store.h"

namespace dfe58000 {

using host::EDatabaseError;
using host::SqlDialect;

namespace {

QSqlQuery run(QSqlDatabase& db, const QString& sql, const QVariantList& binds) {
    return runSql(db, sql, binds, QStringLiteral("Erro do banco de dados"));
}

void execOrThrow(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        throw EDatabaseError(
            QStringLiteral("Erro do banco de dados: %1").arg(q.lastError().text().trimmed()));
    }
}

int count(QSqlQuery q) {
    return q.next() ? q.value(0).toInt() : 0;
}

// The insert of a registered event failed: true only when the database refused it for its key;
// any other failure is not a duplicate. SQLite reports a trigger's RAISE with the same
// constraint code as a key conflict, so there the conflicting row itself must be there (the
// failed statement alone was undone and the transaction still reads).
bool isKeyConflict(SqlDialect dialect, const QSqlError& error, QSqlDatabase& db, const QString& key,
                   int tpEvento, int seq) {
    const QString code = error.nativeErrorCode();
    if (dialect != SqlDialect::SQLite) {
        return code == u"23505";  // unique_violation
    }
    if (code != u"19" && code != u"1555" && code != u"2067") {
        return false;
    }
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("SELECT 1 FROM EVENTOREG WHERE NRACESSONF = ? AND TPEVENTO = ? AND "
                       "NRSEQEVENTO = ?"));
    q.addBindValue(key);
    q.addBindValue(tpEvento);
    q.addBindValue(seq);
    return q.exec() && q.next();
}

}  // namespace

Store::Transaction::Transaction(Store& store) : m_store(store) {
    begin();
}

Store::Transaction::~Transaction() {
    if (m_open) {
        m_store.m_db.rollback();
    }
}

void Store::Transaction::begin() {
    QSqlDatabase& db = m_store.m_db;
    const bool ok = m_store.m_dialect == SqlDialect::SQLite
                        ? QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"))
                        : db.transaction();
    if (!ok) {
        throw EDatabaseError(QStringLiteral("Não foi possível iniciar a transação: %1")
                                 .arg(db.lastError().text().trimmed()));
    }
    m_open = true;
}

void Store::Transaction::commit() {
    QSqlDatabase& db = m_store.m_db;
    if (!db.commit()) {
        throw EDatabaseError(QStringLiteral("Não foi possível gravar no banco de dados: %1")
                                 .arg(db.lastError().text().trimmed()));
    }
    m_open = false;
}

void Store::Transaction::restart() {
    m_store.m_db.rollback();
    m_open = false;
    begin();
}

QString Store::inSavepoint(const std::function<void()>& writes) {
    execOrThrow(m_db, QStringLiteral("SAVEPOINT DFE58000_NOTA"));
    try {
        writes();
        execOrThrow(m_db, QStringLiteral("RELEASE SAVEPOINT DFE58000_NOTA"));
        return {};
    } catch (const std::exception& e) {
        const auto* h = dynamic_cast<const host::EHostError*>(&e);
        const QString reason = h ? h->text() : QString::fromLocal8Bit(e.what());
        execOrThrow(m_db, QStringLiteral("ROLLBACK TO SAVEPOINT DFE58000_NOTA"));
        execOrThrow(m_db, QStringLiteral("RELEASE SAVEPOINT DFE58000_NOTA"));
        return reason.isEmpty() ? QStringLiteral("Erro do banco de dados") : reason;
    }
}

// ---- Events

void Store::lockKey(const QString& key) {
    if (m_dialect != SqlDialect::SQLite) {
        run(m_db, QStringLiteral("SELECT pg_advisory_xact_lock(58000, hashtext(?))"), {key});
    }
}

int Store::registeredEventCount(const QString& key, int tpEvento) {
    return count(
        run(m_db,
            QStringLiteral("SELECT COUNT(*) FROM EVENTOREG WHERE NRACESSONF = ? AND TPEVENTO = ?"),
            {key, tpEvento}));
}

// Events registered before their order was kept come first, among themselves by protocol.
int Store::conclusiveInForce(const QString& key) {
    QSqlQuery q = run(m_db,
                      QStringLiteral("SELECT TPEVENTO FROM EVENTOREG WHERE NRACESSONF = ? AND "
                                     "TPEVENTO IN (210200, 210220, 210240) "
                                     "ORDER BY COALESCE(NRORDEMREG, 0) DESC, NRPROTOCOLO DESC"),
                      {key});
    return q.next() ? q.value(0).toInt() : 0;
}

qint64 Store::nextProtocolNumber() {
    run(m_db,
        QStringLiteral(
            "UPDATE SEQPROTOCOLO SET NRULTIMOPROT = NRULTIMOPROT + 1 WHERE IDSEQUENCIA = 1"),
        {});
    QSqlQuery q = run(
        m_db, QStringLiteral("SELECT NRULTIMOPROT FROM SEQPROTOCOLO WHERE IDSEQUENCIA = 1"), {});
    if (!q.next()) {
        throw EDatabaseError(
            QStringLiteral("A sequência dos protocolos não existe no banco de dados."));
    }
    return q.value(0).toLongLong();
}

bool Store::protocolTaken(const QString& protocol) {
    return run(m_db, QStringLiteral("SELECT 1 FROM EVENTOREG WHERE NRPROTOCOLO = ?"), {protocol})
        .next();
}

bool Store::insertRegisteredEvent(Transaction& tx, const QString& key, int tpEvento, int sequence,
                                  const QString& protocol, qint64 order) {
    QSqlQuery ins(m_db);
    ins.prepare(
        QStringLiteral("INSERT INTO EVENTOREG (NRACESSONF, TPEVENTO, NRSEQEVENTO, NRPROTOCOLO, "
                       "NRORDEMREG) VALUES (?, ?, ?, ?, ?)"));
    ins.addBindValue(key);
    ins.addBindValue(tpEvento);
    ins.addBindValue(sequence);
    ins.addBindValue(protocol);
    ins.addBindValue(order);
    if (ins.exec()) {
        return true;
    }
    const bool conflict = isKeyConflict(m_dialect, ins.lastError(), m_db, key, tpEvento, sequence);
    const QString failure = ins.lastError().text().trimmed();
    // Undone while the statement still lives: PostgreSQL frees nothing in an aborted transaction.
    tx.restart();
    if (!conflict) {
        throw EDatabaseError(QStringLiteral("Erro ao gravar o evento: %1").arg(failure));
    }
    return false;
}

void Store::logEvent(const EventLogRow& r) {
    runSql(
        m_db,
        QStringLiteral("INSERT INTO EVENTONFE (CDEMPRESA, NRACESSONF, TPEVENTO, NRSEQEVENTO, "
                       "NRINSJURAUTOR, DTHREVENTO, DTHRREGISTRO, CDSTAT, DSMOTIVO, NRPROTOCOLO, "
                       "DSJUSTIFICATIVA, DSXMLEVENTO, CDOPERADOR) VALUES (?, ?, ?, ?, ?, ?, ?, "
                       "?, ?, ?, ?, ?, ?)"),
        {r.company.isEmpty() ? QStringLiteral("--") : r.company, r.key.left(44), r.tpEvento,
         r.sequence, r.author.left(20), dbDateTime(r.sentAt), dbDateTime(r.registeredAt), r.cStat,
         r.xMotivo.left(255), r.protocol, r.justification, r.xml, r.operatorCode.left(20)},
        QStringLiteral("Erro ao gravar o evento"));
}

void Store::markManifested(const QString& key, const QString& recipient, const QString& moduleCode,
                           bool conclusive, const QDateTime& when, int sequence) {
    runSql(
        m_db,
        QStringLiteral("UPDATE NOTADEST SET IDSTATUSMANIF = ?, IDTIPOEVENTO = ?, "
                       "DTHREVENTO = ?, NRSEQEVENTO = ?, DSOBSSTATUSMANIF = NULL "
                       "WHERE NRACESSONF = ? AND NRINSJURIESTDEST = ?") +
            (conclusive ? QString() : QStringLiteral(" AND IDSTATUSMANIF NOT IN ('1', '2', '3')")),
        {moduleCode, QStringLiteral("3"), dbDateTime(when), QString::number(sequence), key,
         recipient},
        QStringLiteral("Erro ao gravar o evento"));
}

void Store::markRejected(const QString& key, const QString& recipient, const QString& remark) {
    runSql(m_db,
           QStringLiteral("UPDATE NOTADEST SET IDSTATUSMANIF = '5', DSOBSSTATUSMANIF = ? "
                          "WHERE NRACESSONF = ? AND NRINSJURIESTDEST = ? "
                          "AND IDSTATUSMANIF IN ('0', '5')"),
           {remark.left(250), key, recipient}, QStringLiteral("Erro ao gravar o evento"));
}

// ---- Documents

bool Store::legalRegistrationExists(const QString& registration) {
    return run(m_db, QStringLiteral("SELECT 1 FROM INSCRESTAD WHERE NRINSJURIEST = ?"),
               {registration})
        .next();
}

NoteDocumentRow Store::noteForDocument(const QString& key) {
    QSqlQuery q = run(m_db,
                      QStringLiteral("SELECT NRINSJURNFORIG, IDTPIJUREMIT, NMRAZSOCEMIT, "
                                     "DTEMISSAO, DTRECBTO, VRNOTAFISC, NRINSJURIESTDEST, "
                                     "CDINSCESTADEST, IDENTRSAIDNF, IDAMBIENTEMANIF FROM NOTADEST "
                                     "WHERE NRACESSONF = ? ORDER BY CDEMPRESA"),
                      {key});
    NoteDocumentRow n;
    if (!q.next()) {
        return n;
    }
    n.found = true;
    n.issuer = q.value(0).toString();
    n.personType = q.value(1).toString();
    n.issuerName = q.value(2).toString();
    n.issued = fromDbDateTime(q.value(3));
    n.authorised = fromDbDateTime(q.value(4));
    n.value = q.value(5).toDouble();
    n.recipient = q.value(6).toString();
    n.recipientIe = q.value(7).toString();
    n.direction = q.value(8).toString();
    n.environment = q.value(9).toString();
    return n;
}

void Store::archiveDocument(const QString& key, const QDateTime& generatedAt, const QString& xml) {
    run(m_db, QStringLiteral("DELETE FROM DOCXMLNFE WHERE NRACESSONF = ?"), {key});
    run(m_db,
        QStringLiteral(
            "INSERT INTO DOCXMLNFE (NRACESSONF, DTHRGERACAO, DSTEXTOXML) VALUES (?, ?, ?)"),
        {key, dbDateTime(generatedAt), xml});
}

void Store::markXmlAvailable(const QString& key) {
    run(m_db, QStringLiteral("UPDATE NOTADEST SET IDARQXMLNFE = 'S' WHERE NRACESSONF = ?"), {key});
}

void Store::lockRegistration(const QString& registration) {
    if (m_dialect == SqlDialect::PostgreSQL) {
        run(m_db, QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?))"), {registration});
    }
}

int Store::downloadsSince(const QString& registration, const QDateTime& since, bool limited) {
    return count(
        run(m_db,
            QStringLiteral("SELECT COUNT(*) FROM DOWNLOADLOG WHERE NRINSJURIEST = ? AND "
                           "DTHRDOWNLOAD > ? AND ") +
                (limited ? QStringLiteral("CDSTATUS = 'L'") : QStringLiteral("CDSTATUS <> 'L'")),
            {registration, dbDateTime(since)}));
}

void Store::logDownload(const QString& registration, const QDateTime& when, const QString& key,
                        const QString& status, const QString& operatorCode) {
    run(m_db,
        QStringLiteral("INSERT INTO DOWNLOADLOG (NRINSJURIEST, DTHRDOWNLOAD, NRACESSONF, CDSTATUS, "
                       "CDOPERADOR) VALUES (?, ?, ?, ?, ?)"),
        {registration, dbDateTime(when), key.left(44), status, operatorCode.left(20)});
}

void Store::markDownloadFailed(const QString& registration, const QDateTime& when,
                               const QString& key) {
    run(m_db,
        QStringLiteral("UPDATE DOWNLOADLOG SET CDSTATUS = 'E' WHERE NRINSJURIEST = ? AND "
                       "DTHRDOWNLOAD = ? AND NRACESSONF = ? AND CDSTATUS = 'S'"),
        {registration, dbDateTime(when), key.left(44)});
}

}  // namespace dfe58000

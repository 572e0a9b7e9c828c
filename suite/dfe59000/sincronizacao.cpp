#include "sincronizacao.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <exception>

#include "core/hosterror.h"
#include "sql/adoibquery.h"
#include "sql/databasemodule.h"

namespace dfe59000 {

namespace {

using host::EDatabaseError;
using host::SqlDialect;

// The stored registration reduced the way the typed one is, so a value kept with its mask
// still matches.
const QString kPlainStoredRegistration = QStringLiteral(
    "UPPER(REPLACE(REPLACE(REPLACE(REPLACE(n.NRINSJURIESTDEST, '.', ''), '/', ''), '-', ''), "
    "' ', ''))");

// The entry a booked note takes when its key was booked more than once: the lowest branch, then
// the lowest entry number (the read below orders the same way).
QString entryColumn(const char* column) {
    return QStringLiteral(
               "(SELECT l.%1 FROM LANCTONF l WHERE l.CDEMPRESA = NOTADEST.CDEMPRESA AND "
               "l.NRACESSONF = NOTADEST.NRACESSONF ORDER BY l.CDFILIAL, l.NRLANCTONF LIMIT 1)")
        .arg(QString::fromLatin1(column));
}

void execControl(QSqlDatabase& db, const QString& statement) {
    QSqlQuery q(db);
    if (!q.exec(statement)) {
        throw EDatabaseError(
            QStringLiteral("%1: %2").arg(statement, q.lastError().text().trimmed()));
    }
}

// One note as read, with the entry its key has in the books (empty when none).
struct NoteState {
    QString key;
    QString group;
    QString entry, branch, entered;
    QString bookEntry, bookBranch, bookEntered;
};

struct Plan {
    QStringList toBooked;   // take group 2 (unless 2 or 3) and the entry's fields
    QStringList toMissing;  // take group 1, booking fields cleared
};

void classify(const NoteState& n, Plan& plan, SyncSummary& s) {
    ++s.examined;
    if (!n.bookEntry.isEmpty()) {
        const bool synchronised = n.group == u"2" || n.group == u"3";
        if (!synchronised) {
            ++s.synchronised;
            plan.toBooked << n.key;
            return;
        }
        ++s.unchanged;
        if (n.entry != n.bookEntry || n.branch != n.bookBranch || n.entered != n.bookEntered) {
            ++s.bookingUpdated;
            plan.toBooked << n.key;
        }
        return;
    }
    if (n.group != u"1") {
        ++s.notInSystem;
        plan.toMissing << n.key;
        return;
    }
    ++s.unchanged;
    if (!n.entry.isEmpty() || !n.branch.isEmpty() || !n.entered.isEmpty()) {
        ++s.bookingUpdated;
        plan.toMissing << n.key;
    }
}

}  // namespace

QString plainRegistration(const QString& text) {
    QString out;
    for (QChar c : text.toUpper()) {
        if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z')) {
            out += c;
        }
    }
    return out;
}

Synchroniser::Synchroniser(host::DatabaseModule& db, QString company, QString registration)
    : m_db(db), m_company(std::move(company)), m_registration(plainRegistration(registration)) {}

SyncSummary Synchroniser::run() {
    QSqlDatabase db = m_db.database();
    const bool sqlite = m_db.dialect() == SqlDialect::SQLite;
    // On SQLite the write lock is taken at once: a writer that came in between the read and
    // the updates would otherwise make them fail half-way.
    execControl(db, sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
    try {
        host::TADOIBQuery qry;
        qry.setObjectName(QStringLiteral("qryNotas"));
        qry.SetDatabaseModule(&m_db);
        const QStringList select = {
            QStringLiteral(
                "SELECT n.NRACESSONF, n.IDNOTA, n.NRLANCTONF, n.CDFILIAL, n.DTENTRSAID,"),
            QStringLiteral("       l.NRLANCTONF AS NRLANCTOLIVRO, l.CDFILIAL AS CDFILIALLIVRO,"),
            QStringLiteral("       l.DTENTRSAID AS DTENTRLIVRO"),
            QStringLiteral("  FROM NOTADEST n"),
            QStringLiteral("  LEFT JOIN LANCTONF l"),
            QStringLiteral("    ON l.CDEMPRESA = n.CDEMPRESA AND l.NRACESSONF = n.NRACESSONF"),
            QStringLiteral(" WHERE n.CDEMPRESA = :P_CDEMPRESA"),
            QStringLiteral("   AND %1 = :P_NRINSJURIEST").arg(kPlainStoredRegistration),
            QStringLiteral("   AND (n.IDNOTA IS NULL OR n.IDNOTA NOT IN ('4', '5', '6', '7'))"),
            QStringLiteral(" ORDER BY n.NRACESSONF, l.CDFILIAL, l.NRLANCTONF"),
        };
        qry.SQL = select;
        // PostgreSQL: the notes read stay locked until the commit, so nobody changes them in
        // between.
        qry.SQL_PG = select + QStringList{QStringLiteral("   FOR UPDATE OF n")};
        qry.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(m_company);
        qry.ParamByName(QStringLiteral("P_NRINSJURIEST")).SetAsString(m_registration);
        if (progress) {
            progress(0, -1);
        }
        qry.Open();

        SyncSummary summary;
        Plan plan;
        QString lastKey;
        const auto text = [&](const char* field) {
            return qry.FieldByName(QString::fromLatin1(field)).AsString().trimmed();
        };
        for (qry.First(); !qry.Eof(); qry.Next()) {
            NoteState n;
            n.key = text("NRACESSONF");
            if (n.key == lastKey) {
                continue;  // the same key booked again: the first entry counts
            }
            lastKey = n.key;
            n.group = text("IDNOTA");
            n.entry = text("NRLANCTONF");
            n.branch = text("CDFILIAL");
            n.entered = text("DTENTRSAID");
            n.bookEntry = text("NRLANCTOLIVRO");
            n.bookBranch = text("CDFILIALLIVRO");
            n.bookEntered = text("DTENTRLIVRO");
            classify(n, plan, summary);
        }
        qry.Close();

        const QString booked =
            QStringLiteral(
                "UPDATE NOTADEST SET IDNOTA = CASE WHEN IDNOTA IN ('2', '3') THEN IDNOTA ELSE '2' "
                "END, NRLANCTONF = %1, CDFILIAL = %2, DTENTRSAID = %3")
                .arg(entryColumn("NRLANCTONF"), entryColumn("CDFILIAL"), entryColumn("DTENTRSAID"));
        const QString missing = QStringLiteral(
            "UPDATE NOTADEST SET IDNOTA = '1', NRLANCTONF = NULL, CDFILIAL = NULL, "
            "DTENTRSAID = NULL");
        const int total = int(plan.toBooked.size() + plan.toMissing.size());
        int done = 0;
        if (progress) {
            progress(0, total);
        }
        const int step = qMax(1, batchSize);
        for (const auto& [statement, keys] :
             {std::pair{missing, &plan.toMissing}, std::pair{booked, &plan.toBooked}}) {
            for (qsizetype from = 0; from < keys->size(); from += step) {
                const QStringList batch = keys->mid(from, step);
                QStringList marks;
                for (qsizetype i = 0; i < batch.size(); ++i) {
                    marks << QStringLiteral(":K%1").arg(i);
                }
                host::TADOIBQuery upd;
                upd.setObjectName(QStringLiteral("qryAtualizaNotas"));
                upd.SetDatabaseModule(&m_db);
                upd.SQL =
                    QStringList{statement, QStringLiteral(" WHERE CDEMPRESA = :P_CDEMPRESA AND "
                                                          "NRACESSONF IN (%1)")
                                               .arg(marks.join(QStringLiteral(", ")))};
                upd.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(m_company);
                for (qsizetype i = 0; i < batch.size(); ++i) {
                    upd.ParamByName(QStringLiteral("K%1").arg(i)).SetAsString(batch.at(i));
                }
                upd.ExecSQL();
                done += int(batch.size());
                if (progress) {
                    progress(done, total);
                }
            }
        }
        execControl(db, QStringLiteral("COMMIT"));
        return summary;
    } catch (const host::EHostError& e) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        throw EDatabaseError(
            QStringLiteral("A sincronização foi desfeita; nenhuma nota foi alterada.\n%1")
                .arg(e.text()));
    } catch (...) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

}  // namespace dfe59000

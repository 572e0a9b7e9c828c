// NF-e synchronisation (DFE59000) loaded as the workspace loads it: by the time the loader
// returns, the addressed notes of the registration agree with the company's books, committed in
// one transaction, and the summary window says what changed.
#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressDialog>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "companydb.h"
#include "core/orvanta.h"
#include "fiscaldocs.h"
#include "forms/mdihost.h"
#include "sql/databasemodule.h"
#include "store.h"
#include "support/pgcluster.h"
#include "support/sqlrows.h"

using host::Orvanta;

namespace {

const QString kReg = QStringLiteral("48210375000102");
const QString kOtherReg = QStringLiteral("11222333000181");

// A 44-character key; the issuer's CNPJ sits in characters 7 to 20, as in a real key.
QString keyFor(int n, const QString& issuer = QStringLiteral("98765432000198")) {
    return QStringLiteral("352611") + issuer + QStringLiteral("55001") +
           QStringLiteral("%1").arg(n, 9, 10, QChar(u'0')) + QStringLiteral("1") +
           QStringLiteral("%1").arg(n, 8, 10, QChar(u'0')) + QStringLiteral("0");
}

const QString kLetterIssuer = QStringLiteral("1ABCDEFGH00017");

}  // namespace

class TestSincronizacao : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PgCluster> m_pg;
    std::unique_ptr<host::DatabaseModule> m_check;  // the test's own connection
    QMdiArea m_area;

    // A fresh company database with the application server's store, opened as the host opens
    // it; the test keeps a second connection of its own.
    bool useDatabase(bool postgres, int demoNotes = 0) {
        QString url = QStringLiteral("sqlite:") + m_dir->filePath(QStringLiteral("empresa.db"));
        if (postgres) {
            m_pg = std::make_unique<PgCluster>();
            if (!m_pg->ok()) {
                return false;
            }
            url = m_pg->createDatabase(QStringLiteral("empresa"));
        }
        companydb::SchemaComponent store = dfe58000::storeSchema();
        store.seedDemo = [](QSqlDatabase& db, host::SqlDialect dialect, int notes) {
            dfe58000::insertDemoNotes(db, dialect, notes, dfe58000::Clock().today(),
                                      dfe58000::DemoEvents::RegisteredOnly);
        };
        companydb::ensureDatabase(url, demoNotes, {store});
        host::DatabaseModule::Open(url);
        m_check = std::make_unique<host::DatabaseModule>(url, QStringLiteral("verifica"));
        return true;
    }

    QSqlDatabase db() const { return m_check->database(); }

    void exec(const QString& sql, const QVariantList& binds = {}) {
        QSqlQuery q(db());
        bool ok = false;
        if (binds.isEmpty()) {
            ok = q.exec(sql);  // DDL cannot be prepared on PostgreSQL
        } else {
            ok = q.prepare(sql);
            for (const QVariant& v : binds) {
                q.addBindValue(v);
            }
            ok = ok && q.exec();
        }
        QVERIFY2(ok, qPrintable(q.lastError().text() + QStringLiteral("\n") + sql));
    }

    QList<QStringList> rows(const QString& sql) { return testsupport::rowsAsText(db(), sql); }

    void addNote(const QString& key, const QString& group, const QString& registration = kReg,
                 const QString& company = QStringLiteral("01")) {
        dfe58000::NoteRecord n;
        n.CDEMPRESA = company;
        n.CDFILIALORIG = QStringLiteral("0001");
        n.NRACESSONF = key;
        n.IDNOTA = group;
        n.NRINSJURIESTDEST = registration;
        n.NRINSJURNFORIG = key.mid(6, 14);
        n.NMRAZSOCEMIT = QStringLiteral("Emitente %1").arg(key.right(5));
        n.NRNOTAFISC = key.mid(25, 9);
        n.CDSERIE = QStringLiteral("1");
        n.IDSTATUSNFE = QStringLiteral("1");
        n.IDSTATUSMANIF = QStringLiteral("0");
        n.DTEMISSAO = QDateTime(QDate(2026, 11, 2), QTime(10, 0));
        QSqlDatabase connection = db();
        dfe58000::insertNoteInto(connection, n);
    }

    // What the note shows of its booking (the note's own fields, set by hand).
    void markBooked(const QString& key, const QString& branch, const QString& entry,
                    const QDate& entered) {
        exec(QStringLiteral("UPDATE NOTADEST SET CDFILIAL = ?, NRLANCTONF = ?, DTENTRSAID = ? "
                            "WHERE NRACESSONF = ?"),
             {branch, entry, dfe58000::dbDateTime(QDateTime(entered, QTime(0, 0))), key});
    }

    void book(const QString& key, const QString& branch, const QString& entry, const QDate& entered,
              const QString& company = QStringLiteral("01")) {
        exec(QStringLiteral("INSERT INTO LANCTONF (CDEMPRESA, CDFILIAL, NRLANCTONF, NRACESSONF, "
                            "DTENTRSAID) VALUES (?, ?, ?, ?, ?)"),
             {company, branch, entry, key, dfe58000::dbDateTime(QDateTime(entered, QTime(0, 0)))});
    }

    // Group, entry, branch and entry date of one note.
    QStringList state(const QString& key, const QString& company = QStringLiteral("01")) {
        QSqlQuery q(db());
        q.prepare(
            QStringLiteral("SELECT IDNOTA, NRLANCTONF, CDFILIAL, DTENTRSAID FROM NOTADEST "
                           "WHERE CDEMPRESA = ? AND NRACESSONF = ?"));
        q.addBindValue(company);
        q.addBindValue(key);
        if (!q.exec() || !q.next()) {
            return {QStringLiteral("<sem nota>")};
        }
        return {q.value(0).toString().trimmed(), q.value(1).toString(), q.value(2).toString(),
                dfe58000::fromDbDateTime(q.value(3)).date().toString(Qt::ISODate)};
    }

    QList<QStringList> everyNote() {
        return rows(
            QStringLiteral("SELECT CDEMPRESA, NRACESSONF, IDNOTA, NRLANCTONF, CDFILIAL, "
                           "DTENTRSAID FROM NOTADEST ORDER BY CDEMPRESA, NRACESSONF"));
    }

    // Runs the module as the workspace does and gives back its summary window.
    QWidget* synchronise(const QVariant& params) {
        const qsizetype before = m_area.subWindowList().size();
        Orvanta::LoadBPL(QStringLiteral("DFE59000"), params);
        const QList<QMdiSubWindow*> subs = m_area.subWindowList(QMdiArea::CreationOrder);
        return subs.size() == before + 1 ? subs.last()->widget() : nullptr;
    }

    static QString text(QWidget* form, const char* name) {
        auto* label = form->findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QStringLiteral("<%1 ausente>").arg(name);
    }

    static QStringList counts(QWidget* form) {
        return {text(form, "lblSincronizadas"), text(form, "lblInexistentes"),
                text(form, "lblInalteradas"), text(form, "lblVerificadas")};
    }

    static bool progressStillShown() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QProgressDialog*>(w) && w->isVisible()) {
                return true;
            }
        }
        return false;
    }

    // A trigger that makes the database refuse the update of one note.
    void refuseUpdateOf(const QString& key, bool postgres) {
        if (postgres) {
            exec(QStringLiteral("CREATE FUNCTION RECUSA() RETURNS trigger AS $$ BEGIN IF "
                                "NEW.NRACESSONF = '%1' THEN RAISE EXCEPTION 'falha simulada'; "
                                "END IF; RETURN NEW; END $$ LANGUAGE plpgsql")
                     .arg(key));
            exec(
                QStringLiteral("CREATE TRIGGER TRG_RECUSA BEFORE UPDATE ON NOTADEST FOR EACH ROW "
                               "EXECUTE FUNCTION RECUSA()"));
        } else {
            exec(
                QStringLiteral("CREATE TRIGGER TRG_RECUSA BEFORE UPDATE ON NOTADEST WHEN "
                               "NEW.NRACESSONF = '%1' BEGIN SELECT RAISE(ABORT, 'falha simulada'); "
                               "END")
                    .arg(key));
        }
    }

  private slots:
    void initTestCase() {
        host::LoginContext c = Orvanta::context();
        c.empresa = QStringLiteral("01");
        c.moduleDir = QStringLiteral(ORVANTA_TEST_MODULE_DIR);
        Orvanta::setContext(c);
        m_area.resize(900, 700);
        m_area.show();
        host::MdiHost::setArea(&m_area);
    }
    void cleanupTestCase() { host::MdiHost::setArea(nullptr); }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() {
        m_area.closeAllSubWindows();
        host::DatabaseModule::Close();
        m_check.reset();
        m_pg.reset();
    }

    void groupsFollowTheBooks_data() {
        QTest::addColumn<bool>("postgres");
        QTest::addColumn<QString>("registration");  // as the notes keep it
        QTest::addColumn<QString>("typed");         // as the workspace passes it
        QTest::newRow("sqlite, masked") << false << kReg << QStringLiteral("48.210.375/0001-02");
        QTest::newRow("sqlite, plain") << false << kReg << kReg;
        QTest::newRow("sqlite, alphanumeric CNPJ typed in lower case")
            << false << QStringLiteral("12ABC34501DE35") << QStringLiteral("12.abc.345/01de-35");
        QTest::newRow("postgres, masked") << true << kReg << QStringLiteral("48.210.375/0001-02");
    }

    // Booked notes become synchronised with their entry, the others not in the system; notes
    // being imported or not at the authority, other registrations and other companies stay.
    void groupsFollowTheBooks() {
        QFETCH(bool, postgres);
        QFETCH(QString, registration);
        QFETCH(QString, typed);
        if (!useDatabase(postgres)) {
            QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + m_pg->error()));
        }
        const QDate d1(2026, 11, 3), d2(2026, 11, 4);
        // 1: red, booked since -> green with its entry.
        addNote(keyFor(1), QStringLiteral("1"), registration);
        book(keyFor(1), QStringLiteral("0001"), QStringLiteral("0000000011"), d1);
        // 2: red, not booked -> as it was.
        addNote(keyFor(2), QStringLiteral("1"), registration);
        // 3: green, its entry gone -> red, booking cleared.
        addNote(keyFor(3), QStringLiteral("2"), registration);
        markBooked(keyFor(3), QStringLiteral("0001"), QStringLiteral("0000000099"), d1);
        // 4: synchronised (3) and booked, booking fields missing -> keeps 3, fields filled.
        addNote(keyFor(4), QStringLiteral("3"), registration);
        book(keyFor(4), QStringLiteral("0002"), QStringLiteral("0000000044"), d2);
        // 5: green and booked as it says -> as it was.
        addNote(keyFor(5), QStringLiteral("2"), registration);
        markBooked(keyFor(5), QStringLiteral("0001"), QStringLiteral("0000000055"), d1);
        book(keyFor(5), QStringLiteral("0001"), QStringLiteral("0000000055"), d1);
        // 6 to 9: groups 4 to 7, booked or not -> never touched.
        for (int g = 4; g <= 7; ++g) {
            addNote(keyFor(g + 2), QString::number(g), registration);
            if (g % 2 == 0) {
                book(keyFor(g + 2), QStringLiteral("0001"),
                     QStringLiteral("00000000%1").arg(g + 60), d1);
            }
        }
        // 10: a key with letters in the issuer's CNPJ, red and booked -> green.
        const QString letters = keyFor(10, kLetterIssuer);
        addNote(letters, QStringLiteral("1"), registration);
        book(letters, QStringLiteral("0001"), QStringLiteral("0000000100"), d2);
        // 11: no group yet, not booked -> red.
        addNote(keyFor(11), QString(), registration);
        // 12: the same registration in another company, booked there -> not this company's.
        addNote(keyFor(12), QStringLiteral("1"), registration, QStringLiteral("02"));
        book(keyFor(12), QStringLiteral("0003"), QStringLiteral("0000000120"), d1,
             QStringLiteral("02"));
        // 13: this company, another registration -> not asked for.
        addNote(keyFor(13), QStringLiteral("1"), kOtherReg);
        book(keyFor(13), QStringLiteral("0001"), QStringLiteral("0000000130"), d1);
        // 14: booked twice -> the entry of the lowest branch.
        addNote(keyFor(14), QStringLiteral("1"), registration);
        book(keyFor(14), QStringLiteral("0002"), QStringLiteral("0000000140"), d1);
        book(keyFor(14), QStringLiteral("0001"), QStringLiteral("0000000141"), d2);

        QWidget* form = synchronise(QVariantList{typed});
        QVERIFY(form);
        QCOMPARE(form->objectName(), QStringLiteral("frmDFE59000"));
        QVERIFY(!progressStillShown());
        QCOMPARE(counts(form), (QStringList{"3", "2", "3 (1 com o lançamento atualizado)", "8"}));
        QVERIFY2(text(form, "lblInscricao").contains(fiscal::formatCnpj(registration)),
                 qPrintable(text(form, "lblInscricao")));

        const QString none;
        const QString day1 = d1.toString(Qt::ISODate), day2 = d2.toString(Qt::ISODate);
        QCOMPARE(state(keyFor(1)), (QStringList{"2", "0000000011", "0001", day1}));
        QCOMPARE(state(keyFor(2)), (QStringList{"1", none, none, none}));
        QCOMPARE(state(keyFor(3)), (QStringList{"1", none, none, none}));
        QCOMPARE(state(keyFor(4)), (QStringList{"3", "0000000044", "0002", day2}));
        QCOMPARE(state(keyFor(5)), (QStringList{"2", "0000000055", "0001", day1}));
        for (int g = 4; g <= 7; ++g) {
            QCOMPARE(state(keyFor(g + 2)), (QStringList{QString::number(g), none, none, none}));
        }
        QCOMPARE(state(letters), (QStringList{"2", "0000000100", "0001", day2}));
        QCOMPARE(state(keyFor(11)), (QStringList{"1", none, none, none}));
        QCOMPARE(state(keyFor(12), QStringLiteral("02")), (QStringList{"1", none, none, none}));
        QCOMPARE(state(keyFor(13)), (QStringList{"1", none, none, none}));
        QCOMPARE(state(keyFor(14)), (QStringList{"2", "0000000141", "0001", day2}));

        // Nothing left to do the second time.
        QWidget* again = synchronise(QVariantList{typed});
        QVERIFY(again);
        QCOMPARE(counts(again), (QStringList{"0", "0", "8", "8"}));
    }

    void failureLeavesEveryNoteAsItWas_data() {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgres") << true;
    }

    // The database refuses the very last update, after the earlier batches went through: the
    // whole synchronisation is undone and says so. Without the refusal the same run changes
    // every note.
    void failureLeavesEveryNoteAsItWas() {
        QFETCH(bool, postgres);
        if (!useDatabase(postgres)) {
            QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + m_pg->error()));
        }
        const int notes = 1200;
        QVERIFY(db().transaction());
        for (int n = 0; n < notes; ++n) {
            const QString key =
                keyFor(n, n % 3 == 0 ? kLetterIssuer : QStringLiteral("98765432000198"));
            if (n % 2 == 0) {
                addNote(key, QStringLiteral("1"));
                book(key, QStringLiteral("0001"), QStringLiteral("%1").arg(n, 10, 10, QChar(u'0')),
                     QDate(2026, 11, 5));
            } else {
                addNote(key, QStringLiteral("2"));
            }
        }
        QVERIFY(db().commit());
        const QString last = rows(QStringLiteral("SELECT MAX(NRACESSONF) FROM NOTADEST WHERE "
                                                 "IDNOTA = '1'"))
                                 .at(0)
                                 .at(0);
        refuseUpdateOf(last, postgres);
        const QList<QStringList> before = everyNote();

        QWidget* form = synchronise(QVariantList{kReg});
        QVERIFY(form);
        QVERIFY(!progressStillShown());
        const QString result = text(form, "lblResultado");
        QVERIFY2(result.contains(QStringLiteral("desfeita")) &&
                     result.contains(QStringLiteral("nenhuma nota foi alterada")) &&
                     result.contains(QStringLiteral("falha simulada")),
                 qPrintable(result));
        QVERIFY(!form->findChild<QWidget*>(QStringLiteral("grpContagem"))->isVisibleTo(form));
        QCOMPARE(everyNote(), before);

        exec(QStringLiteral("DROP TRIGGER TRG_RECUSA") +
             (postgres ? QStringLiteral(" ON NOTADEST") : QString()));
        QElapsedTimer clock;
        clock.start();
        form = synchronise(QVariantList{kReg});
        qInfo("%d notas sincronizadas em %lld ms", notes, clock.elapsed());
        QVERIFY(form);
        QCOMPARE(counts(form), (QStringList{"600", "600", "0", "1.200"}));
        QCOMPARE(rows(QStringLiteral("SELECT IDNOTA, COUNT(NRLANCTONF) FROM NOTADEST GROUP BY "
                                     "IDNOTA ORDER BY IDNOTA")),
                 (QList<QStringList>{{"1", "0"}, {"2", "600"}}));
    }

    // On fresh demo data the red notes booked since the last synchronisation turn green; the
    // green ones the books do not hold turn red; groups 4 to 7 stay as they were.
    void demoNotesBookedSinceTurnGreen() {
        QVERIFY(useDatabase(false, 600));
        const QList<QStringList> candidates = rows(QStringLiteral(
            "SELECT n.NRINSJURIESTDEST, COUNT(*) FROM NOTADEST n JOIN LANCTONF l ON "
            "l.CDEMPRESA = n.CDEMPRESA AND l.NRACESSONF = n.NRACESSONF WHERE n.CDEMPRESA = '01' "
            "AND n.IDNOTA = '1' GROUP BY n.NRINSJURIESTDEST ORDER BY 2 DESC, 1"));
        QVERIFY(!candidates.isEmpty());
        const QString registration = candidates.first().at(0);
        const QString turningGreen = candidates.first().at(1);
        QVERIFY(turningGreen.toInt() > 0);
        const QString turningRed =
            rows(QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE CDEMPRESA = '01' AND "
                                "NRINSJURIESTDEST = '%1' AND IDNOTA IN ('2', '3') AND "
                                "(NRLANCTONF IS NULL OR NRLANCTONF = '')")
                     .arg(registration))
                .at(0)
                .at(0);
        const QString notGroups123 =
            QStringLiteral(
                "SELECT CDEMPRESA, NRACESSONF, IDNOTA, NRLANCTONF FROM NOTADEST WHERE IDNOTA NOT "
                "IN "
                "('1', '2', '3') OR CDEMPRESA <> '01' OR NRINSJURIESTDEST <> '%1' ORDER BY 1, 2")
                .arg(registration);
        const QList<QStringList> untouched = rows(notGroups123);

        QWidget* form = synchronise(QVariantList{fiscal::formatCnpj(registration)});
        QVERIFY(form);
        QCOMPARE(text(form, "lblSincronizadas"), turningGreen);
        QCOMPARE(text(form, "lblInexistentes"), turningRed);
        QCOMPARE(rows(QStringLiteral("SELECT COUNT(*) FROM NOTADEST n JOIN LANCTONF l ON "
                                     "l.CDEMPRESA = n.CDEMPRESA AND l.NRACESSONF = n.NRACESSONF "
                                     "WHERE n.NRINSJURIESTDEST = '%1' AND (n.IDNOTA = '1' OR "
                                     "n.NRLANCTONF <> l.NRLANCTONF)")
                          .arg(registration)),
                 (QList<QStringList>{{"0"}}));
        QCOMPARE(rows(notGroups123), untouched);
    }

    void unusableRequestsAreExplained_data() {
        QTest::addColumn<QVariant>("params");
        QTest::addColumn<bool>("withStore");
        QTest::addColumn<QString>("says");
        QTest::newRow("no registration") << QVariant() << true << QStringLiteral("Informe");
        QTest::newRow("only the mask")
            << QVariant(QVariantList{"  ./-  "}) << true << QStringLiteral("Informe");
        QTest::newRow("too short")
            << QVariant(QVariantList{"48.210.375"}) << true << QStringLiteral("inválida");
        QTest::newRow("database without the server's store")
            << QVariant(QVariantList{kReg}) << false << QStringLiteral("NOTADEST");
    }

    void unusableRequestsAreExplained() {
        QFETCH(QVariant, params);
        QFETCH(bool, withStore);
        QFETCH(QString, says);
        const QString url = QStringLiteral("sqlite:") + m_dir->filePath(QStringLiteral("e.db"));
        companydb::ensureDatabase(
            url, 0,
            withStore ? QList{dfe58000::storeSchema()} : QList<companydb::SchemaComponent>{});
        host::DatabaseModule::Open(url);
        QWidget* form = synchronise(params);
        QVERIFY(form);
        QVERIFY(!progressStillShown());
        QVERIFY2(text(form, "lblResultado").contains(says), qPrintable(text(form, "lblResultado")));
        QVERIFY(!form->findChild<QWidget*>(QStringLiteral("grpContagem"))->isVisibleTo(form));
    }
};

QTEST_MAIN(TestSincronizacao)
#include "tst_sincronizacao.moc"

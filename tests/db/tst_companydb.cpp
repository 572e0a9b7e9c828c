#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "companydb.h"
#include "core/hosterror.h"
#include "fiscaldocs.h"
#include "support/pgcluster.h"
#include "support/sqlrows.h"

using host::SqlDialect;

namespace {

// A connection of the test's own to inspect what ensureDatabase left behind.
class Inspect {
  public:
    explicit Inspect(const QString& url) : m_name(QStringLiteral("inspect_%1").arg(++s_count)) {
        m_db = host::DatabaseModule::openConnection(host::DatabaseUrl::parse(url), m_name, false);
    }
    ~Inspect() {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    QList<QStringList> rows(const QString& sql) { return testsupport::rowsAsText(m_db, sql); }
    int count(const QString& table) {
        return rows(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).at(0).at(0).toInt();
    }
    QSqlDatabase& db() { return m_db; }

  private:
    static inline int s_count = 0;
    QString m_name;
    QSqlDatabase m_db;
};

const QStringList kTables = {
    QStringLiteral("EMPRESA ORDER BY CDEMPRESA"),
    QStringLiteral("INSCRESTAD ORDER BY CDEMPRESA, NRINSJURIEST, CDINSCESTA"),
    QStringLiteral("FILIAL ORDER BY CDFILIAL"),
    QStringLiteral("SERIEENTR ORDER BY CDSERIEENTR"),
    QStringLiteral("CLIENTE ORDER BY CDCLIENTE"),
    QStringLiteral("FORNECEDOR ORDER BY CDFORNECED"),
    QStringLiteral("TIPOOPERAC ORDER BY CDTIPOOPER"),
};

// Every row of every company table, as text.
QList<QStringList> dump(const QString& url) {
    Inspect in(url);
    QList<QStringList> all;
    for (const QString& t : kTables) {
        all += in.rows(QStringLiteral("SELECT * FROM ") + t);
    }
    return all;
}

}  // namespace

class TestCompanyDb : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void newSqliteDatabaseGetsSchemaAndDemoData();
    void demoRegistrationsHaveValidCheckDigits();
    void demoDataFitsTheColumnSizes();
    void oneCompanyHasTwoLegalRegistrations();
    void operationTypesForEntryAndExit();
    void demoDataIsDeterministic();
    void existingDatabaseIsLeftAsItIs();
    void firstVersionGetsTheBooksTable();
    void extraComponentIsInstalledOnceAndUpgraded();
    void newerSchemaThanProgramIsRefused();
    void failedCreationLeavesNoFile();
    void badUrlsGiveClearErrors_data();
    void badUrlsGiveClearErrors();
    void unreachableServerGivesClearError();
    void postgresGetsTheSameDemoData();

  private:
    QString sqliteUrl(const QString& name) const {
        return QStringLiteral("sqlite:") + m_dir.filePath(name);
    }
    QTemporaryDir m_dir;
    QString m_url;
};

void TestCompanyDb::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_url = sqliteUrl(QStringLiteral("empresa.db"));
    companydb::ensureDatabase(m_url);
}

void TestCompanyDb::newSqliteDatabaseGetsSchemaAndDemoData() {
    Inspect in(m_url);
    QCOMPARE(in.rows(QStringLiteral("SELECT CDEMPRESA FROM EMPRESA ORDER BY 1")),
             (QList<QStringList>{{"01"}, {"02"}, {"03"}}));
    QCOMPARE(in.count(QStringLiteral("CLIENTE")), 200);
    QCOMPARE(in.count(QStringLiteral("FORNECEDOR")), 200);
    QVERIFY(in.count(QStringLiteral("FILIAL")) >= 3);
    QVERIFY(in.count(QStringLiteral("SERIEENTR")) >= 3);
    QCOMPARE(in.rows(QStringLiteral("SELECT CDCOMPONENTE, NRVERSAO FROM SCHEMAVERSION")),
             (QList<QStringList>{{"EMPRESA", "2"}}));
    const auto codes = in.rows(QStringLiteral("SELECT CDFILIAL FROM FILIAL ORDER BY 1"));
    QCOMPARE(codes.first().first(), QStringLiteral("0001"));
}

void TestCompanyDb::demoRegistrationsHaveValidCheckDigits() {
    Inspect in(m_url);
    const QStringList sources = {
        QStringLiteral("SELECT IDTPIJURCLIE, NRINSJURCLIE FROM CLIENTE"),
        QStringLiteral("SELECT IDTPIJURFORN, NRINSJURFORN FROM FORNECEDOR"),
        QStringLiteral("SELECT IDTPIJURIEST, NRINSJURIEST FROM INSCRESTAD"),
        QStringLiteral("SELECT IDTPIJURFILI, NRINSJURFILI FROM FILIAL"),
    };
    for (const QString& sql : sources) {
        QSet<QString> kinds;
        int alphanumeric = 0;
        for (const QStringList& row : in.rows(sql)) {
            QVERIFY2(fiscal::isValidRegistration(row[0], row[1]),
                     qPrintable(sql + QStringLiteral(": ") + row.join(u' ')));
            kinds.insert(row[0]);
            if (row[0] == u"J" && fiscal::isAlphanumericCnpj(row[1])) {
                ++alphanumeric;
            }
        }
        if (sql.contains(u"CLIENTE") || sql.contains(u"FORNECEDOR")) {
            QCOMPARE(kinds, (QSet<QString>{"J", "F"}));
            QVERIFY2(alphanumeric >= 1, qPrintable(sql));
        }
    }
    // A registration never repeats within clients or within suppliers.
    QCOMPARE(in.rows(QStringLiteral("SELECT COUNT(DISTINCT NRINSJURCLIE) FROM CLIENTE"))[0][0],
             QStringLiteral("200"));
    QCOMPARE(in.rows(QStringLiteral("SELECT COUNT(DISTINCT NRINSJURFORN) FROM FORNECEDOR"))[0][0],
             QStringLiteral("200"));
}

void TestCompanyDb::demoDataFitsTheColumnSizes() {
    // SQLite does not enforce VARCHAR sizes; PostgreSQL would refuse the rows, and the screens
    // cut what does not fit.
    Inspect in(m_url);
    const QList<std::pair<QString, int>> limits = {
        {QStringLiteral("SELECT MAX(LENGTH(NMRAZSOCCLIE)) FROM CLIENTE"), 50},
        {QStringLiteral("SELECT MAX(LENGTH(NMRAZSOCFORN)) FROM FORNECEDOR"), 40},
        {QStringLiteral("SELECT MAX(LENGTH(NMEMPRESA)) FROM EMPRESA"), 40},
        {QStringLiteral("SELECT MAX(LENGTH(NMFILIAL)) FROM FILIAL"), 40},
        {QStringLiteral("SELECT MAX(LENGTH(CDINSCESTA)) FROM INSCRESTAD"), 16},
        {QStringLiteral("SELECT MAX(LENGTH(NMTIPOOPER)) FROM TIPOOPERAC"), 40},
        {QStringLiteral("SELECT MAX(LENGTH(DSSERIEENTR)) FROM SERIEENTR"), 20},
    };
    for (const auto& [sql, limit] : limits) {
        const int longest = in.rows(sql)[0][0].toInt();
        QVERIFY2(longest > 0 && longest <= limit, qPrintable(sql));
    }
    // Names are Portuguese: accented letters survive the round trip.
    QVERIFY(in.count(QStringLiteral("EMPRESA WHERE NMEMPRESA LIKE '%Metalúrgica%'")) == 1);
}

void TestCompanyDb::oneCompanyHasTwoLegalRegistrations() {
    Inspect in(m_url);
    const auto rows = in.rows(
        QStringLiteral("SELECT CDEMPRESA, COUNT(DISTINCT NRINSJURIEST), COUNT(*) FROM INSCRESTAD "
                       "GROUP BY CDEMPRESA ORDER BY CDEMPRESA"));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0][0], QStringLiteral("01"));
    QCOMPARE(rows[0][1].toInt(), 2);
    QVERIFY(rows[0][2].toInt() >= 3);
    QCOMPARE(rows[1][1].toInt(), 1);
    QVERIFY(rows[1][2].toInt() >= 2);  // one CNPJ with state registrations in two states
    // Every registration of a company shares its CNPJ root.
    const auto roots = in.rows(
        QStringLiteral("SELECT DISTINCT CDEMPRESA, SUBSTR(NRINSJURIEST, 1, 8) FROM INSCRESTAD"));
    QCOMPARE(roots.size(), 3);
}

void TestCompanyDb::operationTypesForEntryAndExit() {
    Inspect in(m_url);
    const auto rows = in.rows(QStringLiteral(
        "SELECT IDENTRSAIDOP, COUNT(*) FROM TIPOOPERAC GROUP BY IDENTRSAIDOP ORDER BY 1"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0][0], QStringLiteral("E"));
    QCOMPARE(rows[1][0], QStringLiteral("S"));
    QVERIFY(rows[0][1].toInt() >= 3 && rows[1][1].toInt() >= 3);
}

void TestCompanyDb::demoDataIsDeterministic() {
    const QString other = sqliteUrl(QStringLiteral("outra.db"));
    companydb::ensureDatabase(other);
    QCOMPARE(dump(other), dump(m_url));
}

void TestCompanyDb::existingDatabaseIsLeftAsItIs() {
    const QString url = sqliteUrl(QStringLiteral("existente.db"));
    companydb::ensureDatabase(url);
    {
        Inspect in(url);
        QSqlQuery q(in.db());
        QVERIFY(q.exec(QStringLiteral("DELETE FROM CLIENTE WHERE CDCLIENTE = 'C00001'")));
        QVERIFY(
            q.exec(QStringLiteral("UPDATE EMPRESA SET NMEMPRESA = 'Renomeada' "
                                  "WHERE CDEMPRESA = '03'")));
    }
    companydb::ensureDatabase(url);
    companydb::ensureDatabase(url);
    Inspect in(url);
    QCOMPARE(in.count(QStringLiteral("CLIENTE")), 199);
    QCOMPARE(in.count(QStringLiteral("FORNECEDOR")), 200);
    QCOMPARE(in.count(QStringLiteral("EMPRESA")), 3);
    QCOMPARE(in.rows(QStringLiteral("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = '03'"))[0][0],
             QStringLiteral("Renomeada"));
    QCOMPARE(in.count(QStringLiteral("SCHEMAVERSION")), 1);
}

void TestCompanyDb::extraComponentIsInstalledOnceAndUpgraded() {
    const QString url = sqliteUrl(QStringLiteral("componentes.db"));
    int seeded = 0;
    int notesSeen = 0;
    companydb::SchemaComponent store;
    store.name = QStringLiteral("LOJA");
    store.steps.append({1,
                        QStringLiteral("notas"),
                        {QStringLiteral("CREATE TABLE NOTA (NRNOTA INTEGER PRIMARY KEY)")},
                        {},
                        {}});
    store.seedDemo = [&](QSqlDatabase& db, SqlDialect, int demoNotes) {
        ++seeded;
        notesSeen = demoNotes;
        companydb::execStatement(db, QStringLiteral("INSERT INTO NOTA VALUES (1)"));
    };
    companydb::ensureDatabase(url, 7, {store});
    companydb::ensureDatabase(url, 7, {store});
    QCOMPARE(seeded, 1);
    QCOMPARE(notesSeen, 7);

    // Version 2 adds a column; an existing database receives only that step.
    store.steps.append({2,
                        QStringLiteral("valor"),
                        {},
                        {QStringLiteral("ALTER TABLE NOTA ADD COLUMN VRNOTA REAL")},
                        {QStringLiteral("ALTER TABLE NOTA ADD COLUMN VRNOTA NUMERIC(15,2)")}});
    companydb::ensureDatabase(url, 7, {store});
    QCOMPARE(seeded, 1);
    Inspect in(url);
    QCOMPARE(in.rows(QStringLiteral("SELECT NRNOTA, VRNOTA FROM NOTA")),
             (QList<QStringList>{{"1", ""}}));
    QCOMPARE(companydb::installedVersion(in.db(), SqlDialect::SQLite, QStringLiteral("LOJA")), 2);
    QCOMPARE(companydb::installedVersion(in.db(), SqlDialect::SQLite, QStringLiteral("EMPRESA")),
             2);
    QCOMPARE(companydb::installedVersion(in.db(), SqlDialect::SQLite, QStringLiteral("OUTRO")), 0);
}

void TestCompanyDb::newerSchemaThanProgramIsRefused() {
    const QString url = sqliteUrl(QStringLiteral("futuro.db"));
    companydb::ensureDatabase(url);
    {
        Inspect in(url);
        QSqlQuery q(in.db());
        QVERIFY(q.exec(QStringLiteral("UPDATE SCHEMAVERSION SET NRVERSAO = 99")));
    }
    try {
        companydb::ensureDatabase(url);
        QFAIL("a schema newer than the program was accepted");
    } catch (const host::EDatabaseError& e) {
        QVERIFY2(e.text().contains(u"99"), qPrintable(e.text()));
    }
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("futuro.db"))));
}

void TestCompanyDb::failedCreationLeavesNoFile() {
    const QString path = m_dir.filePath(QStringLiteral("falha/sub/empresa.db"));
    companydb::SchemaComponent broken;
    broken.name = QStringLiteral("QUEBRADO");
    broken.steps.append({1,
                         QStringLiteral("erro"),
                         {QStringLiteral("CREATE TABLE EMPRESA (X INTEGER)")},  // already exists
                         {},
                         {}});
    try {
        companydb::ensureDatabase(QStringLiteral("sqlite:") + path, 0, {broken});
        QFAIL("a failing schema step was accepted");
    } catch (const host::EDatabaseError& e) {
        QVERIFY2(e.text().contains(u"EMPRESA"), qPrintable(e.text()));
    }
    QVERIFY(!QFile::exists(path));
    // Nothing half-made stays behind: the next attempt starts from scratch and succeeds.
    companydb::ensureDatabase(QStringLiteral("sqlite:") + path);
    Inspect in(QStringLiteral("sqlite:") + path);
    QCOMPARE(in.count(QStringLiteral("CLIENTE")), 200);
}

void TestCompanyDb::badUrlsGiveClearErrors_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("no scheme") << "empresa.db"
                               << "sqlite:";
    QTest::newRow("unknown scheme") << "mysql:host=x"
                                    << "mysql";
    QTest::newRow("sqlite without path") << "sqlite:  "
                                         << "caminho";
    QTest::newRow("postgres without dbname") << "postgres:host=127.0.0.1"
                                             << "dbname";
    QTest::newRow("bad port") << "postgres:port=abc dbname=x"
                              << "abc";
    QTest::newRow("unknown key") << "postgres:dbname=x sslmode=disable"
                                 << "sslmode";
    QTest::newRow("missing equals") << "postgres:dbname x"
                                    << "dbname";
    QTest::newRow("open quote") << "postgres:dbname='x"
                                << "aspas";
    QTest::newRow("folder cannot be made") << "sqlite:/proc/nao/existe.db"
                                           << "/proc/nao";
}

// A company database of the first version receives the table of booked entries, empty, and
// keeps its rows; the entries are found by branch and entry number, one per pair.
void TestCompanyDb::firstVersionGetsTheBooksTable() {
    const QString url = sqliteUrl(QStringLiteral("versao1.db"));
    companydb::SchemaComponent v1 = companydb::companySchema();
    v1.steps = {v1.steps.first()};
    {
        QSqlDatabase db = host::DatabaseModule::openConnection(host::DatabaseUrl::parse(url),
                                                               QStringLiteral("v1"), true);
        companydb::ensureSchema(db, SqlDialect::SQLite, 0, {v1});
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));
    companydb::ensureDatabase(url);
    Inspect in(url);
    QCOMPARE(in.count(QStringLiteral("EMPRESA")), 3);
    QCOMPARE(in.count(QStringLiteral("LANCTONF")), 0);
    QCOMPARE(in.rows(QStringLiteral("SELECT NRVERSAO FROM SCHEMAVERSION")),
             (QList<QStringList>{{"2"}}));
    QSqlQuery q(in.db());
    const QString insert = QStringLiteral(
        "INSERT INTO LANCTONF (CDEMPRESA, CDFILIAL, NRLANCTONF, NRACESSONF) VALUES ('01', '0001', "
        "'0000000001', '%1')");
    QVERIFY(q.exec(insert.arg(QString(44, u'1'))));
    QVERIFY(!q.exec(insert.arg(QString(44, u'2'))));
}

void TestCompanyDb::badUrlsGiveClearErrors() {
    QFETCH(QString, url);
    QFETCH(QString, mentions);
    try {
        companydb::ensureDatabase(url);
        QFAIL("accepted");
    } catch (const host::EDatabaseError& e) {
        QVERIFY2(e.text().contains(mentions), qPrintable(e.text()));
    }
}

void TestCompanyDb::unreachableServerGivesClearError() {
    // Port 1 on the loopback: nothing listens there, so the connection is refused at once.
    try {
        companydb::ensureDatabase(
            QStringLiteral("postgres:host=127.0.0.1 port=1 dbname=x user=u password=segredo"));
        QFAIL("accepted");
    } catch (const host::EDatabaseError& e) {
        QVERIFY2(e.text().contains(u"port=1"), qPrintable(e.text()));
        QVERIFY2(!e.text().contains(u"segredo"), qPrintable(e.text()));
    }
}

void TestCompanyDb::postgresGetsTheSameDemoData() {
    PgCluster pg;
    if (!pg.ok()) {
        QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + pg.error()));
    }
    const QString url = pg.createDatabase(QStringLiteral("empresa"));
    QVERIFY2(!url.isEmpty(), qPrintable(pg.error()));
    companydb::ensureDatabase(url);
    companydb::ensureDatabase(url);
    QCOMPARE(dump(url), dump(m_url));
    Inspect in(url);
    QCOMPARE(in.count(QStringLiteral("SCHEMAVERSION")), 1);
    QCOMPARE(in.count(QStringLiteral("LANCTONF")), 0);
}

QTEST_GUILESS_MAIN(TestCompanyDb)
#include "tst_companydb.moc"

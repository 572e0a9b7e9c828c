#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "companydb.h"
#include "core/hosterror.h"
#include "sql/adoibquery.h"
#include "sql/databasemodule.h"
#include "support/pgcluster.h"

using host::DatabaseModule;
using host::EDatabaseError;
using host::FieldType;
using host::TADOIBQuery;

namespace {

QStringList column(TADOIBQuery& q, const QString& field) {
    QStringList values;
    for (q.First(); !q.Eof(); q.Next()) {
        values << q.FieldByName(field).AsString();
    }
    return values;
}

const QStringList kBranchQuery = {
    QStringLiteral("SELECT CDFILIAL, NMFILIAL"),
    QStringLiteral("  FROM FILIAL"),
    QStringLiteral(" WHERE ((CDFILIAL = :P_CDFILIAL) OR ('T' = :P_CDFILIAL))"),
    QStringLiteral(" ORDER BY CDFILIAL"),
};

const QStringList kCompanyQuery = {
    QStringLiteral("SELECT CDEMPRESA, NMEMPRESA"),
    QStringLiteral("FROM EMPRESA"),
    QStringLiteral("WHERE (CDEMPRESA = :P_CDEMPRESA OR 'T' = :P_TCDEMPRESA)"),
    QStringLiteral("ORDER BY CDEMPRESA"),
};

}  // namespace

// The query runs against the demo company database on SQLite and, where a cluster can be
// started, on PostgreSQL; every data-driven case runs on both.
class TestQuery : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();

    void namedParametersAreRewritten();
    void urlsAreParsed();
    void sharedModuleMustBeOpen();
    void absentSqliteFileIsNotCreated();

    void oneParameterUsedTwiceBindsBothPlaces_data() { dialects(); }
    void oneParameterUsedTwiceBindsBothPlaces();
    void companionParameterListsEverything_data() { dialects(); }
    void companionParameterListsEverything();
    void valuesAreBoundNotPasted_data() { dialects(); }
    void valuesAreBoundNotPasted();
    void statementForTheConnectedDatabaseRuns_data() { dialects(); }
    void statementForTheConnectedDatabaseRuns();
    void persistentFieldsKeepSizesAndLabels_data() { dialects(); }
    void persistentFieldsKeepSizesAndLabels();
    void fieldsComeFromTheResultColumns_data() { dialects(); }
    void fieldsComeFromTheResultColumns();
    void sqlErrorNamesDriverTextAndStatement_data() { dialects(); }
    void sqlErrorNamesDriverTextAndStatement();
    void missingParameterIsNamed_data() { dialects(); }
    void missingParameterIsNamed();
    void nullAndDateParameters_data() { dialects(); }
    void nullAndDateParameters();

  private:
    void dialects();
    DatabaseModule* module();

    QTemporaryDir m_dir;
    std::unique_ptr<PgCluster> m_pg;
    std::unique_ptr<DatabaseModule> m_sqlite;
    std::unique_ptr<DatabaseModule> m_postgres;
};

void TestQuery::initTestCase() {
    QVERIFY(m_dir.isValid());
    const QString url = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("empresa.db"));
    companydb::ensureDatabase(url);
    m_sqlite = std::make_unique<DatabaseModule>(url);
    m_pg = std::make_unique<PgCluster>();
    if (m_pg->ok()) {
        const QString pgUrl = m_pg->createDatabase(QStringLiteral("empresa"));
        QVERIFY2(!pgUrl.isEmpty(), qPrintable(m_pg->error()));
        companydb::ensureDatabase(pgUrl);
        m_postgres = std::make_unique<DatabaseModule>(pgUrl);
    }
}

void TestQuery::cleanupTestCase() {
    m_postgres.reset();
    m_sqlite.reset();
    m_pg.reset();
}

void TestQuery::dialects() {
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgres") << true;
}

DatabaseModule* TestQuery::module() {
    QFETCH(bool, postgres);
    if (!postgres) {
        return m_sqlite.get();
    }
    if (!m_postgres) {
        QTest::qSkip(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + m_pg->error()),
                     __FILE__, __LINE__);
    }
    return m_postgres.get();
}

#define QUERY_ON_DIALECT(q)              \
    DatabaseModule* mod = module();      \
    if (!mod)                            \
        return;                          \
    TADOIBQuery q;                       \
    q.setObjectName(QStringLiteral(#q)); \
    q.SetDatabaseModule(mod)

void TestQuery::namedParametersAreRewritten() {
    const auto p = host::rewriteNamedParameters(
        QStringLiteral("SELECT ':P_NAO', \"a:P_NAO\", x::text -- :P_NAO\n"
                       "FROM T /* :P_NAO */ WHERE A = :p_um OR 'T' = :P_UM AND B=:P_DOIS"));
    QCOMPARE(p.placeholders, (QStringList{"P_UM", "P_UM", "P_DOIS"}));
    QCOMPARE(p.sql, QStringLiteral("SELECT ':P_NAO', \"a:P_NAO\", x::text -- :P_NAO\n"
                                   "FROM T /* :P_NAO */ WHERE A = ? OR 'T' = ? AND B=?"));
    // An escaped quote inside a literal does not end it.
    const auto q = host::rewriteNamedParameters(QStringLiteral("SELECT 'd''x :A' || :B"));
    QCOMPARE(q.placeholders, QStringList{"B"});
}

void TestQuery::urlsAreParsed() {
    const auto pg = host::DatabaseUrl::parse(QStringLiteral(
        "postgres:host=db.local port=5433 dbname=empresa user=ana password='a b\\'c'"));
    QVERIFY(pg.dialect == host::SqlDialect::PostgreSQL);
    QCOMPARE(pg.host, QStringLiteral("db.local"));
    QCOMPARE(pg.port, 5433);
    QCOMPARE(pg.dbname, QStringLiteral("empresa"));
    QCOMPARE(pg.user, QStringLiteral("ana"));
    QCOMPARE(pg.password, QStringLiteral("a b'c"));
    QVERIFY(!pg.display().contains(u"a b"));
    const auto lite = host::DatabaseUrl::parse(QStringLiteral("sqlite:/tmp/x y.db"));
    QVERIFY(lite.dialect == host::SqlDialect::SQLite);
    QCOMPARE(lite.path, QStringLiteral("/tmp/x y.db"));
}

void TestQuery::sharedModuleMustBeOpen() {
    DatabaseModule::Close();
    QVERIFY(!DatabaseModule::hasInstance());
    TADOIBQuery q;
    q.SQL = QStringList{QStringLiteral("SELECT CDEMPRESA FROM EMPRESA")};
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, q.Open());

    DatabaseModule::Open(m_sqlite->url().display());
    q.Open();  // the shared instance when the query has no module of its own
    QCOMPARE(q.RecordCount(), 3);
    q.Close();
    DatabaseModule::Close();
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, DatabaseModule::instance());
}

void TestQuery::absentSqliteFileIsNotCreated() {
    const QString path = m_dir.filePath(QStringLiteral("nao-existe.db"));
    try {
        DatabaseModule m(QStringLiteral("sqlite:") + path);
        QFAIL("an absent database was opened");
    } catch (const EDatabaseError& e) {
        QVERIFY2(e.text().contains(path), qPrintable(e.text()));
    }
    QVERIFY(!QFile::exists(path));
}

void TestQuery::oneParameterUsedTwiceBindsBothPlaces() {
    QUERY_ON_DIALECT(qryPesqFilial);
    qryPesqFilial.SQL = kBranchQuery;
    qryPesqFilial.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QStringLiteral("T"));
    qryPesqFilial.Open();
    QCOMPARE(column(qryPesqFilial, QStringLiteral("CDFILIAL")),
             (QStringList{"0001", "0002", "0003", "0004", "0005", "0006"}));

    qryPesqFilial.Close();
    qryPesqFilial.ParamByName(QStringLiteral("p_cdfilial")).SetAsString(QStringLiteral("0002"));
    qryPesqFilial.Open();
    QCOMPARE(qryPesqFilial.RecordCount(), 1);
    QCOMPARE(qryPesqFilial.FieldByName(QStringLiteral("NMFILIAL")).AsString(),
             QStringLiteral("Filial Uberlândia"));

    qryPesqFilial.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QStringLiteral("9999"));
    qryPesqFilial.Open();  // opening again replaces the rows
    QVERIFY(qryPesqFilial.IsEmpty());
}

void TestQuery::companionParameterListsEverything() {
    QUERY_ON_DIALECT(qryEmpresa);
    qryEmpresa.SQL = kCompanyQuery;
    qryEmpresa.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(QStringLiteral("02"));
    qryEmpresa.ParamByName(QStringLiteral("P_TCDEMPRESA")).SetAsString(QString());
    qryEmpresa.Open();
    QCOMPARE(column(qryEmpresa, QStringLiteral("CDEMPRESA")), QStringList{"02"});
    QCOMPARE(qryEmpresa.FieldByName(QStringLiteral("NMEMPRESA")).AsString(),
             QStringLiteral("Metalúrgica Vale do Paraíba S/A"));

    qryEmpresa.Close();
    qryEmpresa.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(QString());
    qryEmpresa.ParamByName(QStringLiteral("P_TCDEMPRESA")).SetAsString(QStringLiteral("T"));
    qryEmpresa.Open();
    QCOMPARE(column(qryEmpresa, QStringLiteral("CDEMPRESA")), (QStringList{"01", "02", "03"}));
}

void TestQuery::valuesAreBoundNotPasted() {
    QUERY_ON_DIALECT(qryPesqFilial);
    qryPesqFilial.SQL = kBranchQuery;
    qryPesqFilial.ParamByName(QStringLiteral("P_CDFILIAL"))
        .SetAsString(QStringLiteral("x') OR ('1' = '1"));
    qryPesqFilial.Open();
    QVERIFY(qryPesqFilial.IsEmpty());
    // A value with a colon is data, not a parameter name.
    qryPesqFilial.SQL = QStringList{QStringLiteral("SELECT :P_TEXTO AS TEXTO")};
    qryPesqFilial.SQL_PG = QStringList{QStringLiteral("SELECT CAST(:P_TEXTO AS VARCHAR) AS TEXTO")};
    qryPesqFilial.ParamByName(QStringLiteral("P_TEXTO")).SetAsString(QStringLiteral(":P_X 'a'"));
    qryPesqFilial.Open();
    QCOMPARE(qryPesqFilial.FieldByName(QStringLiteral("TEXTO")).AsString(),
             QStringLiteral(":P_X 'a'"));
}

void TestQuery::statementForTheConnectedDatabaseRuns() {
    QUERY_ON_DIALECT(qry);
    QFETCH(bool, postgres);
    qry.SQL = QStringList{QStringLiteral("SELECT 'geral' AS ORIGEM")};
    qry.Open();
    QCOMPARE(qry.FieldByName(QStringLiteral("ORIGEM")).AsString(), QStringLiteral("geral"));

    qry.SQL_SQLITE =
        QStringList{QStringLiteral("SELECT 'sqlite' AS ORIGEM, sqlite_version() AS V")};
    qry.SQL_PG = QStringList{QStringLiteral("SELECT 'pg' AS ORIGEM, version()::text AS V")};
    qry.Open();
    QCOMPARE(qry.FieldByName(QStringLiteral("ORIGEM")).AsString(),
             postgres ? QStringLiteral("pg") : QStringLiteral("sqlite"));
    QVERIFY(qry.ActiveStatement().contains(postgres ? u"version()" : u"sqlite_version()"));

    // Blank lines do not count as a statement of their own.
    qry.SQL_SQLITE = QStringList{QStringLiteral("  ")};
    qry.SQL_PG = QStringList{QString()};
    qry.Open();
    QCOMPARE(qry.FieldByName(QStringLiteral("ORIGEM")).AsString(), QStringLiteral("geral"));
}

void TestQuery::persistentFieldsKeepSizesAndLabels() {
    QUERY_ON_DIALECT(qryEmpresa);
    qryEmpresa.SQL = kCompanyQuery;
    host::TField& code = qryEmpresa.AddField({QStringLiteral("CDEMPRESA"), FieldType::String, 2});
    code.SetDisplayLabel(QStringLiteral("Código"));
    qryEmpresa.AddField({QStringLiteral("NMEMPRESA"), FieldType::String, 40})
        .SetDisplayLabel(QStringLiteral("Nome"));
    qryEmpresa.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(QString());
    qryEmpresa.ParamByName(QStringLiteral("P_TCDEMPRESA")).SetAsString(QStringLiteral("T"));
    for (int round = 0; round < 2; ++round) {
        qryEmpresa.Open();
        QCOMPARE(qryEmpresa.FieldCount(), 2);
        QCOMPARE(qryEmpresa.RecordCount(), 3);
        QCOMPARE(qryEmpresa.FieldByName(QStringLiteral("CDEMPRESA")).DisplayLabel(),
                 QStringLiteral("Código"));
        QCOMPARE(qryEmpresa.FieldByName(QStringLiteral("NMEMPRESA")).Size(), 40);
        QCOMPARE(qryEmpresa.FieldByName(QStringLiteral("CDEMPRESA")).AsString(),
                 QStringLiteral("01"));
        qryEmpresa.Close();
    }
    // A declared field the statement does not return is reported by name.
    qryEmpresa.AddField({QStringLiteral("DSAPELIDO"), FieldType::String, 10});
    try {
        qryEmpresa.Open();
        QFAIL("opened without a declared field");
    } catch (const EDatabaseError& e) {
        QVERIFY2(e.text().contains(u"DSAPELIDO"), qPrintable(e.text()));
    }
    QVERIFY(!qryEmpresa.Active());
}

void TestQuery::fieldsComeFromTheResultColumns() {
    QUERY_ON_DIALECT(qry);
    qry.SQL = QStringList{QStringLiteral("SELECT cdtipooper, nmtipooper, identrsaidop"),
                          QStringLiteral("  FROM TIPOOPERAC"),
                          QStringLiteral(" WHERE IDENTRSAIDOP = :P_IDENTRSAIDOP"),
                          QStringLiteral(" ORDER BY CDTIPOOPER")};
    qry.ParamByName(QStringLiteral("P_IDENTRSAIDOP")).SetAsString(QStringLiteral("S"));
    qry.Open();
    QCOMPARE(qry.FieldCount(), 3);
    QCOMPARE(qry.Fields(0).FieldName(), QStringLiteral("CDTIPOOPER"));
    QCOMPARE(qry.Fields(2).FieldName(), QStringLiteral("IDENTRSAIDOP"));
    QVERIFY(qry.Fields(1).DataType() == FieldType::String);
    QVERIFY(qry.Fields(1).Size() >=
            qry.FieldByName(QStringLiteral("NMTIPOOPER")).AsString().size());
    QVERIFY(qry.RecordCount() >= 3);
    QVERIFY(qry.Locate(QStringLiteral("CDTIPOOPER"), QStringLiteral("51")));
    QCOMPARE(qry.FieldByName(QStringLiteral("NMTIPOOPER")).AsString(),
             QStringLiteral("Venda de mercadoria"));

    // Another statement on the same query brings its own fields.
    qry.SQL = QStringList{QStringLiteral("SELECT COUNT(*) AS TOTAL, :P_IDENTRSAIDOP AS ES"),
                          QStringLiteral("  FROM CLIENTE")};
    qry.SQL_PG = QStringList{
        QStringLiteral("SELECT COUNT(*) AS TOTAL, CAST(:P_IDENTRSAIDOP AS VARCHAR) AS ES"),
        QStringLiteral("  FROM CLIENTE")};
    qry.Open();
    QCOMPARE(qry.FieldCount(), 2);
    QVERIFY(qry.FieldByName(QStringLiteral("TOTAL")).DataType() == FieldType::Integer);
    QCOMPARE(qry.FieldByName(QStringLiteral("TOTAL")).AsInteger(), 200);
    QCOMPARE(qry.FieldByName(QStringLiteral("ES")).AsString(), QStringLiteral("S"));
    QVERIFY(qry.FindField(QStringLiteral("CDTIPOOPER")) == nullptr);
}

void TestQuery::sqlErrorNamesDriverTextAndStatement() {
    QUERY_ON_DIALECT(qryErrada);
    qryErrada.SQL = QStringList{QStringLiteral("SELECT CDNAOEXISTE"),
                                QStringLiteral("  FROM EMPRESA WHERE CDEMPRESA = :P_CDEMPRESA")};
    qryErrada.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(QStringLiteral("01"));
    try {
        qryErrada.Open();
        QFAIL("a bad statement ran");
    } catch (const EDatabaseError& e) {
        const QString text = e.text();
        QVERIFY2(text.contains(u"qryErrada"), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("SELECT CDNAOEXISTE\n  FROM EMPRESA")),
                 qPrintable(text));
        // The driver's own words name the column it does not know.
        QVERIFY2(text.section(u'\n', 0, 0).contains(u"cdnaoexiste", Qt::CaseInsensitive),
                 qPrintable(text));
    }
    QVERIFY(!qryErrada.Active());

    qryErrada.SQL.clear();
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, qryErrada.Open());
}

void TestQuery::missingParameterIsNamed() {
    QUERY_ON_DIALECT(qryEmpresa);
    qryEmpresa.SQL = kCompanyQuery;
    QCOMPARE(qryEmpresa.ParamNames(), (QStringList{"P_CDEMPRESA", "P_TCDEMPRESA"}));
    qryEmpresa.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(QStringLiteral("01"));
    try {
        qryEmpresa.Open();
        QFAIL("opened with a parameter without value");
    } catch (const EDatabaseError& e) {
        QVERIFY2(e.text().contains(u"P_TCDEMPRESA"), qPrintable(e.text()));
        QVERIFY2(!e.text().contains(u"P_CDEMPRESA\""), qPrintable(e.text()));
    }
    try {
        qryEmpresa.ParamByName(QStringLiteral("P_CDFILIAL"));
        QFAIL("a parameter outside the statement was found");
    } catch (const EDatabaseError& e) {
        QVERIFY2(e.text().contains(u"P_CDFILIAL"), qPrintable(e.text()));
    }
    // A parameter only the other database's statement uses may still be set.
    qryEmpresa.SQL_PG = QStringList{QStringLiteral("SELECT :P_SO_PG")};
    QVERIFY(qryEmpresa.FindParam(QStringLiteral("P_SO_PG")) != nullptr);
}

void TestQuery::nullAndDateParameters() {
    QUERY_ON_DIALECT(qry);
    qry.SQL = QStringList{
        QStringLiteral("SELECT CDEMPRESA FROM EMPRESA"),
        QStringLiteral(" WHERE (:P_NOME IS NULL OR NMEMPRESA = :P_NOME) AND :P_NUM > 0"),
        QStringLiteral(" ORDER BY 1")};
    qry.SQL_PG = QStringList{
        QStringLiteral("SELECT CDEMPRESA FROM EMPRESA"),
        QStringLiteral(" WHERE (CAST(:P_NOME AS VARCHAR) IS NULL OR NMEMPRESA = :P_NOME)"),
        QStringLiteral("   AND CAST(:P_NUM AS INTEGER) > 0 ORDER BY 1")};
    qry.ParamByName(QStringLiteral("P_NOME")).Clear();
    qry.ParamByName(QStringLiteral("P_NUM")).SetAsInteger(5);
    qry.Open();
    QCOMPARE(qry.RecordCount(), 3);
    qry.ParamByName(QStringLiteral("P_NOME"))
        .SetAsString(QStringLiteral("Distribuidora Serra Azul Ltda"));
    qry.Open();
    QCOMPARE(column(qry, QStringLiteral("CDEMPRESA")), QStringList{"03"});

    // An empty text is a value; only Clear binds NULL.
    qry.SQL = QStringList{QStringLiteral("SELECT COUNT(*) AS N FROM EMPRESA WHERE :P_X = ''")};
    qry.SQL_PG = QStringList{
        QStringLiteral("SELECT COUNT(*) AS N FROM EMPRESA WHERE CAST(:P_X AS VARCHAR) = ''")};
    qry.ParamByName(QStringLiteral("P_X")).SetAsString(QString());
    qry.Open();
    QCOMPARE(qry.FieldByName(QStringLiteral("N")).AsInteger(), 3);
    qry.ParamByName(QStringLiteral("P_X")).Clear();
    qry.Open();
    QCOMPARE(qry.FieldByName(QStringLiteral("N")).AsInteger(), 0);

    // Dates travel as dates: ISO text on SQLite, a date value on PostgreSQL.
    qry.SQL = QStringList{QStringLiteral("SELECT COUNT(*) AS N FROM EMPRESA"),
                          QStringLiteral(" WHERE :P_DATA = '2026-07-31'")};
    qry.SQL_PG = QStringList{QStringLiteral("SELECT COUNT(*) AS N FROM EMPRESA"),
                             QStringLiteral(" WHERE CAST(:P_DATA AS DATE) = DATE '2026-07-31'")};
    qry.ParamByName(QStringLiteral("P_DATA")).SetAsDate(QDate(2026, 7, 31));
    qry.Open();
    QCOMPARE(qry.FieldByName(QStringLiteral("N")).AsInteger(), 3);
    qry.ParamByName(QStringLiteral("P_DATA")).SetAsDate(QDate(2026, 8, 1));
    qry.Open();
    QCOMPARE(qry.FieldByName(QStringLiteral("N")).AsInteger(), 0);
}

QTEST_GUILESS_MAIN(TestQuery)
#include "tst_query.moc"

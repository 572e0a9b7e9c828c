#include "companydb.h"
#include "demodata.h"

namespace companydb {

QStringList SchemaStep::statements(host::SqlDialect dialect) const {
    return common + (dialect == host::SqlDialect::SQLite ? sqlite : postgres);
}

int SchemaComponent::latestVersion() const {
    int v = 0;
    for (const SchemaStep& s : steps) {
        v = qMax(v, s.version);
    }
    return v;
}

// The company tables the suite's lookups read. Sizes follow the fields the screens declare;
// codes are text, so "0001" and "01" keep their zeros. To change the schema, append a step with
// the next version: existing databases receive only the steps they lack.
const SchemaComponent& companySchema() {
    static const SchemaComponent component = [] {
        SchemaComponent c;
        c.name = QStringLiteral("EMPRESA");
        SchemaStep v1;
        v1.version = 1;
        v1.description = QStringLiteral("Cadastros da empresa");
        v1.common = {
            QStringLiteral("CREATE TABLE EMPRESA ("
                           " CDEMPRESA VARCHAR(2) NOT NULL PRIMARY KEY,"
                           " NMEMPRESA VARCHAR(40) NOT NULL)"),
            QStringLiteral("CREATE TABLE INSCRESTAD ("
                           " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA (CDEMPRESA),"
                           " NRINSJURIEST VARCHAR(20) NOT NULL,"
                           " IDTPIJURIEST CHAR(1) NOT NULL,"
                           " CDINSCESTA VARCHAR(16) NOT NULL,"
                           " SGESTADO CHAR(2) NOT NULL,"
                           " PRIMARY KEY (CDEMPRESA, NRINSJURIEST, CDINSCESTA))"),
            QStringLiteral("CREATE TABLE FILIAL ("
                           " CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY,"
                           " NMFILIAL VARCHAR(50) NOT NULL,"
                           " NRINSJURFILI VARCHAR(20) NOT NULL,"
                           " IDTPIJURFILI CHAR(1) NOT NULL,"
                           " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA (CDEMPRESA),"
                           " CDINSCESTA VARCHAR(16),"
                           " SGESTADO CHAR(2) NOT NULL)"),
            QStringLiteral("CREATE TABLE SERIEENTR ("
                           " CDSERIEENTR VARCHAR(5) NOT NULL PRIMARY KEY,"
                           " DSSERIEENTR VARCHAR(50) NOT NULL)"),
            QStringLiteral("CREATE TABLE CLIENTE ("
                           " CDCLIENTE VARCHAR(21) NOT NULL PRIMARY KEY,"
                           " NRINSJURCLIE VARCHAR(20) NOT NULL,"
                           " IDTPIJURCLIE CHAR(1) NOT NULL,"
                           " NMRAZSOCCLIE VARCHAR(50) NOT NULL,"
                           " SGESTADO CHAR(2))"),
            QStringLiteral("CREATE INDEX IX_CLIENTE_NRINSJUR ON CLIENTE (NRINSJURCLIE)"),
            QStringLiteral("CREATE TABLE FORNECEDOR ("
                           " CDFORNECED VARCHAR(21) NOT NULL PRIMARY KEY,"
                           " NRINSJURFORN VARCHAR(20) NOT NULL,"
                           " IDTPIJURFORN CHAR(1) NOT NULL,"
                           " NMRAZSOCFORN VARCHAR(40) NOT NULL,"
                           " SGESTADO CHAR(2))"),
            QStringLiteral("CREATE INDEX IX_FORNECEDOR_NRINSJUR ON FORNECEDOR (NRINSJURFORN)"),
            QStringLiteral("CREATE TABLE TIPOOPERAC ("
                           " CDTIPOOPER VARCHAR(2) NOT NULL PRIMARY KEY,"
                           " NMTIPOOPER VARCHAR(40) NOT NULL,"
                           " IDENTRSAIDOP CHAR(1) NOT NULL CHECK (IDENTRSAIDOP IN ('E', 'S')))"),
            QStringLiteral("CREATE INDEX IX_TIPOOPERAC_ES ON TIPOOPERAC (IDENTRSAIDOP)"),
        };
        v1.postgres = {
            QStringLiteral("COMMENT ON TABLE INSCRESTAD IS "
                           "'Inscrições jurídicas (CNPJ/CPF) e estaduais de cada empresa'"),
            QStringLiteral("COMMENT ON TABLE TIPOOPERAC IS "
                           "'Tipos de operação de entrada (E) e saída (S)'"),
        };
        c.steps.append(v1);
        // The company's booked fiscal entries: one row per note entered in the books, found by
        // branch and entry number (document viewing) or by access key (synchronisation with the
        // addressed notes). The application server's demo data fills it with the notes it
        // shows as booked.
        SchemaStep v2;
        v2.version = 2;
        v2.description = QStringLiteral("Lançamentos de notas fiscais");
        v2.common = {
            QStringLiteral("CREATE TABLE LANCTONF ("
                           " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA (CDEMPRESA),"
                           " CDFILIAL VARCHAR(4) NOT NULL,"
                           " NRLANCTONF VARCHAR(10) NOT NULL,"
                           " NRACESSONF VARCHAR(44) NOT NULL,"
                           " NRINSJUREMIT VARCHAR(20),"
                           " IDTPIJUREMIT CHAR(1),"
                           " NMRAZSOCEMIT VARCHAR(250),"
                           " NRNOTAFISC VARCHAR(20),"
                           " CDSERIE VARCHAR(5),"
                           " DTEMISSAO TIMESTAMP,"
                           " DTENTRSAID TIMESTAMP,"
                           " VRNOTAFISC DOUBLE PRECISION,"
                           " PRIMARY KEY (CDFILIAL, NRLANCTONF))"),
            QStringLiteral("CREATE INDEX IX_LANCTONF_CHAVE ON LANCTONF (NRACESSONF, CDEMPRESA)"),
        };
        v2.postgres = {
            QStringLiteral("COMMENT ON TABLE LANCTONF IS "
                           "'Lançamentos das notas fiscais escrituradas pela empresa'"),
        };
        c.steps.append(v2);
        c.seedDemo = [](QSqlDatabase& db, host::SqlDialect, int) { insertCompanyDemoData(db); };
        return c;
    }();
    return component;
}

}  // namespace companydb

#include "demodata.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>

#include "core/hosterror.h"
#include "fiscaldocs.h"

namespace companydb {

quint64 DemoRandom::next() {
    quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int DemoRandom::below(int n) {
    return n <= 0 ? 0 : int(next() % quint64(n));
}

int DemoRandom::between(int lo, int hi) {
    return lo + below(hi - lo + 1);
}

bool DemoRandom::chance(int percent) {
    return below(100) < percent;
}

const QString& DemoRandom::pick(const QStringList& list) {
    return list.at(below(list.size()));
}

QString DemoRandom::digits(int count) {
    QString s;
    s.reserve(count);
    for (int i = 0; i < count; ++i) {
        s.append(QChar(u'0' + below(10)));
    }
    return s;
}

namespace {

// Inserts rows into one table through a single prepared statement.
class Inserter {
  public:
    Inserter(QSqlDatabase& db, const QString& table, const QStringList& columns)
        : m_query(db), m_table(table) {
        QStringList marks;
        for (int i = 0; i < columns.size(); ++i) {
            marks << QStringLiteral("?");
        }
        const QString sql =
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
        if (!m_query.prepare(sql)) {
            fail();
        }
    }
    void row(const QVariantList& values) {
        for (int i = 0; i < values.size(); ++i) {
            m_query.bindValue(i, values.at(i));
        }
        if (!m_query.exec()) {
            fail();
        }
    }

  private:
    [[noreturn]] void fail() {
        throw host::EDatabaseError(
            QStringLiteral("Não foi possível gravar os dados de demonstração em %1: %2")
                .arg(m_table, m_query.lastError().text().trimmed()));
    }
    QSqlQuery m_query;
    QString m_table;
};

const QStringList kFirstNames = {
    QStringLiteral("Ana"),       QStringLiteral("Bruno"),     QStringLiteral("Carla"),
    QStringLiteral("Daniel"),    QStringLiteral("Eduarda"),   QStringLiteral("Fábio"),
    QStringLiteral("Gabriela"),  QStringLiteral("Henrique"),  QStringLiteral("Isabela"),
    QStringLiteral("João"),      QStringLiteral("Juliana"),   QStringLiteral("Lucas"),
    QStringLiteral("Mariana"),   QStringLiteral("Marcelo"),   QStringLiteral("Natália"),
    QStringLiteral("Otávio"),    QStringLiteral("Patrícia"),  QStringLiteral("Rafael"),
    QStringLiteral("Sônia"),     QStringLiteral("Tiago"),     QStringLiteral("Vânia"),
    QStringLiteral("Wagner"),    QStringLiteral("Luíza"),     QStringLiteral("Antônio"),
    QStringLiteral("Conceição"), QStringLiteral("Sebastião"), QStringLiteral("Helena"),
    QStringLiteral("Rodrigo"),   QStringLiteral("Cláudia"),   QStringLiteral("Paulo"),
};

const QStringList kSurnames = {
    QStringLiteral("Silva"),      QStringLiteral("Santos"),     QStringLiteral("Oliveira"),
    QStringLiteral("Souza"),      QStringLiteral("Rodrigues"),  QStringLiteral("Ferreira"),
    QStringLiteral("Alves"),      QStringLiteral("Pereira"),    QStringLiteral("Lima"),
    QStringLiteral("Gomes"),      QStringLiteral("Costa"),      QStringLiteral("Ribeiro"),
    QStringLiteral("Martins"),    QStringLiteral("Carvalho"),   QStringLiteral("Araújo"),
    QStringLiteral("Melo"),       QStringLiteral("Barbosa"),    QStringLiteral("Rocha"),
    QStringLiteral("Dias"),       QStringLiteral("Nascimento"), QStringLiteral("Moreira"),
    QStringLiteral("Cavalcanti"), QStringLiteral("Teixeira"),   QStringLiteral("Azevedo"),
    QStringLiteral("Brandão"),    QStringLiteral("Conceição"),  QStringLiteral("Pinheiro"),
    QStringLiteral("Monteiro"),   QStringLiteral("Fontes"),     QStringLiteral("Magalhães"),
};

const QStringList kPlaces = {
    QStringLiteral("Ipiranga"),    QStringLiteral("Paulista"),    QStringLiteral("Cerrado"),
    QStringLiteral("Serra Azul"),  QStringLiteral("Vale Verde"),  QStringLiteral("Itapuã"),
    QStringLiteral("Tietê"),       QStringLiteral("Guanabara"),   QStringLiteral("Pantanal"),
    QStringLiteral("Araguaia"),    QStringLiteral("Mantiqueira"), QStringLiteral("Jacarandá"),
    QStringLiteral("Sabiá"),       QStringLiteral("Horizonte"),   QStringLiteral("Bandeirantes"),
    QStringLiteral("Litoral Sul"), QStringLiteral("Planalto"),    QStringLiteral("Boa Vista"),
};

const QStringList kTrades = {
    QStringLiteral("Comércio de Alimentos"),
    QStringLiteral("Distribuidora"),
    QStringLiteral("Indústria Metalúrgica"),
    QStringLiteral("Materiais de Construção"),
    QStringLiteral("Transportes"),
    QStringLiteral("Papelaria"),
    QStringLiteral("Embalagens"),
    QStringLiteral("Autopeças"),
    QStringLiteral("Comércio de Cereais"),
    QStringLiteral("Produtos Químicos"),
    QStringLiteral("Móveis e Decoração"),
    QStringLiteral("Informática"),
    QStringLiteral("Tecidos e Confecções"),
    QStringLiteral("Laticínios"),
    QStringLiteral("Ferragens"),
    QStringLiteral("Farmacêutica"),
};

const QStringList kSuffixes = {QStringLiteral("Ltda"), QStringLiteral("S/A"), QStringLiteral("ME"),
                               QStringLiteral("EIRELI"), QStringLiteral("Ltda EPP")};

const QStringList kStates = {QStringLiteral("SP"), QStringLiteral("MG"), QStringLiteral("RJ"),
                             QStringLiteral("PR"), QStringLiteral("SC"), QStringLiteral("RS"),
                             QStringLiteral("GO"), QStringLiteral("BA"), QStringLiteral("PE")};

QString personName(DemoRandom& rnd) {
    QString name = rnd.pick(kFirstNames) + u' ' + rnd.pick(kSurnames);
    if (rnd.chance(60)) {
        name += u' ' + rnd.pick(kSurnames);
    }
    return name;
}

QString companyName(DemoRandom& rnd, int maxLength) {
    for (;;) {
        QString name;
        switch (rnd.below(3)) {
            case 0:
                name = rnd.pick(kSurnames) + QStringLiteral(" & ") + rnd.pick(kSurnames) + u' ' +
                       rnd.pick(kTrades);
                break;
            case 1:
                name = rnd.pick(kTrades) + u' ' + rnd.pick(kPlaces);
                break;
            default:
                name = rnd.pick(kPlaces) + u' ' + rnd.pick(kTrades);
                break;
        }
        name += u' ' + rnd.pick(kSuffixes);
        if (name.size() <= maxLength) {
            return name;
        }
    }
}

// A CNPJ of a new root with the given branch number; alphanumeric roots mix letters into the
// first eight characters, as the registrations issued since July 2026 do.
QString newCnpj(DemoRandom& rnd, bool alphanumeric, int branch = 1) {
    QString root;
    if (alphanumeric) {
        for (int i = 0; i < 8; ++i) {
            root.append(rnd.chance(50) ? QChar(u'A' + rnd.below(26)) : QChar(u'0' + rnd.below(10)));
        }
        if (!fiscal::isAlphanumericCnpj(root + QStringLiteral("0000"))) {
            root[0] = u'K';
        }
    } else {
        root = rnd.digits(8);
    }
    return fiscal::completeCnpj(root + QStringLiteral("%1").arg(branch, 4, 10, QChar(u'0')));
}

QString newCpf(DemoRandom& rnd) {
    for (;;) {
        const QString cpf = fiscal::completeCpf(rnd.digits(9));
        if (fiscal::isValidCpf(cpf)) {  // skips the repeated-digit numbers
            return cpf;
        }
    }
}

struct Company {
    const char* code;
    const char* name;
    const char* root;  // CNPJ root, 8 digits
};

// People (CPF) and companies (CNPJ) for CLIENTE and FORNECEDOR. Every twentieth company gets
// an alphanumeric CNPJ; numbers never repeat within the table.
void insertPartners(DemoRandom& rnd, Inserter& ins, const QString& codePrefix, int count,
                    int nameLength) {
    QSet<QString> used;
    int companies = 0;
    for (int i = 1; i <= count; ++i) {
        const bool person = rnd.chance(35);
        QString number;
        do {
            if (person) {
                number = newCpf(rnd);
            } else {
                number = newCnpj(rnd, (companies + 1) % 20 == 7);
            }
        } while (used.contains(number));
        used.insert(number);
        if (!person) {
            ++companies;
        }
        const QString name = person ? personName(rnd) : companyName(rnd, nameLength);
        const QString code = codePrefix + QStringLiteral("%1").arg(i, 5, 10, QChar(u'0'));
        ins.row({code, number, person ? QStringLiteral("F") : QStringLiteral("J"),
                 name.left(nameLength), rnd.pick(kStates)});
    }
}

}  // namespace

void insertCompanyDemoData(QSqlDatabase& db) {
    DemoRandom rnd(kCompanyDemoSeed);

    const Company companies[] = {
        {"01", "Comercial Ipiranga de Alimentos Ltda", "48210375"},
        {"02", "Metalúrgica Vale do Paraíba S/A", "61935502"},
        {"03", "Distribuidora Serra Azul Ltda", "07264118"},
    };
    Inserter empresa(db, QStringLiteral("EMPRESA"),
                     {QStringLiteral("CDEMPRESA"), QStringLiteral("NMEMPRESA")});
    for (const Company& c : companies) {
        empresa.row({QString::fromUtf8(c.code), QString::fromUtf8(c.name)});
    }

    // Branches: each establishment has a CNPJ of its company's root and one state registration.
    // Company 01 thus holds two legal registrations (head office and the Minas Gerais branch).
    struct Branch {
        const char* code;
        const char* name;
        int company;  // index into companies
        int number;   // establishment number of the CNPJ
        const char* state;
    };
    const Branch branches[] = {
        {"0001", "Matriz São Paulo", 0, 1, "SP"},
        {"0002", "Filial Uberlândia", 0, 2, "MG"},
        {"0003", "Depósito Guarulhos", 0, 1, "SP"},
        {"0004", "Matriz Taubaté", 1, 1, "SP"},
        {"0005", "Filial São José dos Campos", 1, 1, "SP"},
        {"0006", "Matriz Goiânia", 2, 1, "GO"},
    };
    Inserter filial(
        db, QStringLiteral("FILIAL"),
        {QStringLiteral("CDFILIAL"), QStringLiteral("NMFILIAL"), QStringLiteral("NRINSJURFILI"),
         QStringLiteral("IDTPIJURFILI"), QStringLiteral("CDEMPRESA"), QStringLiteral("CDINSCESTA"),
         QStringLiteral("SGESTADO")});
    Inserter inscr(
        db, QStringLiteral("INSCRESTAD"),
        {QStringLiteral("CDEMPRESA"), QStringLiteral("NRINSJURIEST"),
         QStringLiteral("IDTPIJURIEST"), QStringLiteral("CDINSCESTA"), QStringLiteral("SGESTADO")});
    for (const Branch& b : branches) {
        const Company& c = companies[b.company];
        const QString cnpj = fiscal::completeCnpj(
            QString::fromUtf8(c.root) + QStringLiteral("%1").arg(b.number, 4, 10, QChar(u'0')));
        const QString state = QString::fromUtf8(b.state);
        // State registrations: 12 digits in São Paulo, 13 in Minas Gerais, 9 in Goiás.
        const int ieLength = state == u"SP" ? 12 : state == u"MG" ? 13 : 9;
        const QString ie = rnd.digits(ieLength);
        filial.row({QString::fromUtf8(b.code), QString::fromUtf8(b.name), cnpj, QStringLiteral("J"),
                    QString::fromUtf8(c.code), ie, state});
        inscr.row({QString::fromUtf8(c.code), cnpj, QStringLiteral("J"), ie, state});
    }
    // The head office of company 02 is also registered in Rio de Janeiro, where it keeps a
    // warehouse without a branch of its own in the system.
    inscr.row({QStringLiteral("02"), fiscal::completeCnpj(QStringLiteral("619355020001")),
               QStringLiteral("J"), rnd.digits(8), QStringLiteral("RJ")});

    Inserter serie(db, QStringLiteral("SERIEENTR"),
                   {QStringLiteral("CDSERIEENTR"), QStringLiteral("DSSERIEENTR")});
    // Descriptions stay within 20 characters: the report's series list shows no more.
    serie.row({QStringLiteral("1"), QStringLiteral("NF-e série 1")});
    serie.row({QStringLiteral("2"), QStringLiteral("NF-e série 2 filiais")});
    serie.row({QStringLiteral("3"), QStringLiteral("Devoluções")});
    serie.row({QStringLiteral("890"), QStringLiteral("NF-e avulsa")});
    serie.row({QStringLiteral("U"), QStringLiteral("Série única")});

    Inserter cliente(db, QStringLiteral("CLIENTE"),
                     {QStringLiteral("CDCLIENTE"), QStringLiteral("NRINSJURCLIE"),
                      QStringLiteral("IDTPIJURCLIE"), QStringLiteral("NMRAZSOCCLIE"),
                      QStringLiteral("SGESTADO")});
    insertPartners(rnd, cliente, QStringLiteral("C"), 200, 50);
    Inserter fornec(db, QStringLiteral("FORNECEDOR"),
                    {QStringLiteral("CDFORNECED"), QStringLiteral("NRINSJURFORN"),
                     QStringLiteral("IDTPIJURFORN"), QStringLiteral("NMRAZSOCFORN"),
                     QStringLiteral("SGESTADO")});
    insertPartners(rnd, fornec, QStringLiteral("F"), 200, 40);

    Inserter oper(db, QStringLiteral("TIPOOPERAC"),
                  {QStringLiteral("CDTIPOOPER"), QStringLiteral("NMTIPOOPER"),
                   QStringLiteral("IDENTRSAIDOP")});
    const std::pair<const char*, const char*> entries[] = {
        {"01", "Compra para comercialização"},
        {"02", "Compra para industrialização"},
        {"03", "Compra de ativo imobilizado"},
        {"04", "Compra de material de uso e consumo"},
        {"05", "Devolução de venda"},
        {"06", "Transferência de filial"},
        {"07", "Retorno de remessa para conserto"},
        {"08", "Entrada em bonificação"},
    };
    for (const auto& [code, name] : entries) {
        oper.row({QString::fromUtf8(code), QString::fromUtf8(name), QStringLiteral("E")});
    }
    const std::pair<const char*, const char*> exits[] = {
        {"51", "Venda de mercadoria"},   {"52", "Venda de produção do estabelecimento"},
        {"53", "Devolução de compra"},   {"54", "Transferência para filial"},
        {"55", "Remessa para conserto"}, {"56", "Remessa em bonificação"},
    };
    for (const auto& [code, name] : exits) {
        oper.row({QString::fromUtf8(code), QString::fromUtf8(name), QStringLiteral("S")});
    }
}

}  // namespace companydb

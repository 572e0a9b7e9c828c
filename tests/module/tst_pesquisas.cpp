// The filter dialog's lookup fields as the clerk uses them: what a pick from each list copies,
// how the lists show their codes, the checks on leaving a field, the person-type masks of the
// registration edits, what typing lets through, and the lookup statements on PostgreSQL.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QSqlQuery>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "companydb.h"
#include "core/clientdataset.h"
#include "core/orvanta.h"
#include "sql/adoibquery.h"
#include "sql/databasemodule.h"
#include "store.h"
#include "support/pgcluster.h"
#include "support/scripteddialogs.h"
#include "ui/btnpesquisa.h"
#include "ui/consiste.h"
#include "ui/handler.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"
#include "workspacefixture.h"

using host::TMaskEdit;
using host::test::ScriptedDialogs;

namespace {

const char* const kRegistro = "48210375000102";  // company 01, head office
const char* const kRegistroMascarado = "48.210.375/0001-02";

// Edits and their texts are written "edit|text|edit|text".
//
// A pick from a lookup list. The list must offer the rows of `oferta` (bound to the
// registration typed first, where it takes one), in that order; the clerk picks the row whose
// `chave` is `escolha`, and the edits show `campos`. No choice: the list is empty and says so.
struct Escolha {
    const char *botao, *chave, *oferta, *escolha;
    int emitente;  // the issuer page the button is on
    const char *registro, *campos;
};
const char* const kIes =
    "SELECT CDINSCESTA FROM INSCRESTAD WHERE CDEMPRESA = '01' AND NRINSJURIEST = ? ORDER BY 1";
const char* const kFiliais = "SELECT CDFILIAL FROM FILIAL ORDER BY 1";
const Escolha kEscolhas[] = {
    {"btpInscrJurid", "NRINSJURIEST",
     "SELECT DISTINCT NRINSJURIEST FROM INSCRESTAD WHERE CDEMPRESA = '01' ORDER BY 1",
     "48210375000293", 0, "", "medInscrJurid|48210375000293"},
    {"btpIE", "CDINSCESTA", kIes, "999231244293", 0, kRegistro, "medIE|999231244293"},
    {"btpIE", "CDINSCESTA", kIes, "0401653667026", 0, "48210375000293", "medIE|0401653667026"},
    // A registration of company 02: none of company 01's state registrations belongs to it.
    {"btpIE", "CDINSCESTA", kIes, "", 0, "61935502000107", "medIE|"},
    {"btpFiliOrig", "CDFILIAL", kFiliais, "0002", 0, "",
     "medCdFiliOrig|0002|medNmFiliOrig|Filial Uberlândia"},
    {"btpSerie", "CDSERIEENTR", "SELECT CDSERIEENTR FROM SERIEENTR ORDER BY 1", "890", 0, "",
     "medCdSerie|890"},
    {"btpCliente", "NMRAZSOCCLIE", "SELECT NMRAZSOCCLIE FROM CLIENTE ORDER BY 1", "Ana Souza", 1,
     "", "medCdCliente|02840209233|medNmCliente|Ana Souza"},
    {"btpFornecedor", "NMRAZSOCFORN", "SELECT NMRAZSOCFORN FROM FORNECEDOR ORDER BY 1",
     "Comércio de Cereais Litoral Sul ME", 2, "",
     "medCdFornecedor|21L4YRHS000169|medNmFornecedor|Comércio de Cereais Litoral Sul ME"},
    {"btpFilial", "CDFILIAL", kFiliais, "0003", 3, "",
     "medCdFilial|0003|medNmFilial|Depósito Guarulhos"},
};

// A field left with a text typed in it, and what the edits show then. No message: the focus
// moves on.
struct Saida {
    const char* edit;
    int emitente;
    const char *registro, *digitado, *mensagem, *campos;
};
const Saida kSaidas[] = {
    {"medInscrJurid", 0, "", "11111111000191", "Inscrição jurídica não cadastrada.",
     "medInscrJurid|11111111000191"},
    {"medInscrJurid", 0, "", "48210375000293", "", "medInscrJurid|48210375000293"},
    {"medIE", 0, kRegistro, "0401653667026", "Inscrição Estadual não cadastrada.",
     "medIE|0401653667026"},
    {"medIE", 0, "48210375000293", "0401653667026", "", "medIE|0401653667026"},
    {"medCdFiliOrig", 0, "", "0099", "Filial não cadastrada.", "medCdFiliOrig|0099|medNmFiliOrig|"},
    {"medCdFiliOrig", 0, "", "2", "", "medCdFiliOrig|0002|medNmFiliOrig|Filial Uberlândia"},
    {"medCdFilial", 3, "", "99", "Filial não cadastrada.", "medCdFilial|0099|medNmFilial|"},
    {"medCdFilial", 3, "", "3", "", "medCdFilial|0003|medNmFilial|Depósito Guarulhos"},
    {"medCdSerie", 0, "", "999", "Série não cadastrada.", "medCdSerie|999"},
    {"medCdSerie", 0, "", "U", "", "medCdSerie|U"},
    {"medCdCliente", 1, "", "99999999000191", "Cliente não cadastrado.",
     "medCdCliente|99999999000191|medNmCliente|"},
    {"medCdCliente", 1, "", "06866066000145", "",
     "medCdCliente|06866066000145|medNmCliente|Ipiranga Produtos Químicos Ltda EPP"},
    {"medCdFornecedor", 2, "", "99999999000191", "Fornecedor não cadastrado.",
     "medCdFornecedor|99999999000191|medNmFornecedor|"},
    {"medCdFornecedor", 2, "", "57551236000133", "",
     "medCdFornecedor|57551236000133|medNmFornecedor|Mantiqueira Autopeças S/A"},
    {"medNotaInicial", 0, "", "45", "", "medNotaInicial|000000045"},
    // Nothing typed is nothing to report.
    {"medInscrJurid", 0, "", "", "", "medInscrJurid|"},
    {"medCdFiliOrig", 0, kRegistro, "", "", "medCdFiliOrig||medNmFiliOrig|"},
    {"medCdCliente", 1, "", "", "", "medCdCliente||medNmCliente|"},
    {"medCdFilial", 3, "", "", "", "medCdFilial||medNmFilial|"},
};

// A registration edit, its person type, and the fields that belong to the code in it with
// their values, as "edit|value|edit|value".
struct Mascara {
    const char* edit;
    int emitente;
    const char *codigo, *tipo, *mostrado, *dependentes;
};
const Mascara kMascaras[] = {
    {"medInscrJurid", 0, kRegistro, "J", kRegistroMascarado,
     "medIE|481491532792|medCdFiliOrig|0001|medNmFiliOrig|Matriz São Paulo|medCdSerie|1"},
    {"medCdCliente", 1, "02840209233", "F", "028.402.092-33", "medNmCliente|Ana Souza"},
    {"medCdCliente", 1, "11065XZ1000154", "J", "11.065.XZ1/0001-54",
     "medNmCliente|Paulista Informática S/A"},
    {"medCdFornecedor", 2, "21L4YRHS000169", "J", "21.L4Y.RHS/0001-69",
     "medNmFornecedor|Comércio de Cereais Litoral Sul ME"},
};

// The texts the edits named in `pares` show now, written as `pares` is.
QString naTela(const QString& pares) {
    QStringList out = pares.split(u'|');
    for (int i = 0; i + 1 < out.size(); i += 2) {
        out[i + 1] = frmFiltro->findChild<TMaskEdit*>(out.at(i))->Text();
    }
    return out.join(u'|');
}

void preenche(const QString& pares) {
    const QStringList p = pares.split(u'|');
    for (int i = 0; i + 1 < p.size(); i += 2) {
        frmFiltro->findChild<TMaskEdit*>(p.at(i))->SetText(p.at(i + 1));
    }
}

// First column of a statement on the company database, in the order it gives.
QStringList coluna(const QString& sql, const QString& valor) {
    QSqlQuery q(host::DatabaseModule::instance().database());
    q.prepare(sql);
    if (sql.contains(u'?')) {
        q.addBindValue(valor);
    }
    QStringList out;
    if (q.exec()) {
        while (q.next()) {
            out << q.value(0).toString();
        }
    }
    return out;
}

QList<QStringList> linhas(host::TClientDataSet& ds) {
    QList<QStringList> out;
    for (int r = 0; r < ds.RecordCount(); ++r) {
        QStringList linha;
        for (int i = 0; i < ds.FieldCount(); ++i) {
            linha << ds.Fields(i).ValueAt(r).toString();
        }
        out << linha;
    }
    return out;
}

template <size_t N, typename T>
void linhasDe(const T (&tabela)[N], const char* T::*campo) {
    QTest::addColumn<int>("i");
    for (size_t i = 0; i < N; ++i) {
        QTest::addRow("%zu %s", i, tabela[i].*campo) << int(i);
    }
}

}  // namespace

class TestPesquisas : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void aPickFillsTheFieldAndItsName_data() { linhasDe(kEscolhas, &Escolha::botao); }
    void aPickFillsTheFieldAndItsName();
    void clientListMasksItsCodesSupplierListDoesNot();
    void leavingAFieldChecksIt_data() { linhasDe(kSaidas, &Saida::edit); }
    void leavingAFieldChecksIt();
    void personTypeMaskLeavesTheNamesUntilAnotherCodeIsTyped_data() {
        linhasDe(kMascaras, &Mascara::edit);
    }
    void personTypeMaskLeavesTheNamesUntilAnotherCodeIsTyped();
    void typedLettersAreRaisedAndTheRegistrationLimited();
    void pastedRegistrationWithMaskCharactersIsTheSameNumber_data();
    void pastedRegistrationWithMaskCharactersIsTheSameNumber();
    void lookupStatementsGiveTheSameRowsOnPostgres();

  private:
    // Gives the widget the focus as the clerk's click would, running the exit and enter
    // handlers of the move; true when it holds the focus afterwards.
    static bool foca(QWidget* w) {
        w->setFocus(Qt::MouseFocusReason);
        return QApplication::focusWidget() == w;
    }
    // Leaves the field being edited for the access key, which checks nothing on entry.
    static void sai() { frmFiltro->edtChaveAcesso->setFocus(Qt::TabFocusReason); }
    static void pagina(int emitente) { frmFiltro->cboEmitente->setCurrentIndex(emitente); }
    template <typename W = TMaskEdit>
    static W* campo(const QString& nome) {
        return frmFiltro->findChild<W*>(nome);
    }

    ManifestacaoEnv m_env;
};

void TestPesquisas::initTestCase() {
    const QString erro = m_env.start({});
    QVERIFY2(erro.isEmpty(), qPrintable(erro));
    frmFiltro->show();
    QVERIFY(QTest::qWaitForWindowActive(frmFiltro));
    QVERIFY(QTest::qWaitFor([] { return host::Showavi::Level() == 0; }));
    QCOMPARE(frmFiltro->cdsVdInscrJurid->RecordCount(), 2);
}

void TestPesquisas::cleanupTestCase() {
    m_env.stop();
    QVERIFY_DIALOGS(*m_env.guarda);
}

void TestPesquisas::init() {
    // Texts first, so that the field holding the focus has nothing to report when it is left.
    TfrmFiltro& f = *frmFiltro;
    for (TMaskEdit* e : f.grbFiltroPadrao->findChildren<TMaskEdit*>()) {
        e->Clear();
    }
    f.medTodos->SetText(QStringLiteral("Todos"));
    f.medNotaInicial->SetText(QStringLiteral("000000000"));
    f.medNotaFinal->SetText(QStringLiteral("999999999"));
    f.edtChaveAcesso->clear();
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    sai();
    pagina(0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.edtChaveAcesso));
}

void TestPesquisas::aPickFillsTheFieldAndItsName() {
    QFETCH(int, i);
    const Escolha& e = kEscolhas[i];
    pagina(e.emitente);
    frmFiltro->medInscrJurid->SetText(e.registro);
    const QStringList esperada = coluna(e.oferta, e.registro);
    auto* btn = campo<host::TBtnPesquisa>(e.botao);
    QVERIFY(btn);

    ScriptedDialogs dlg;
    if (!*e.escolha) {
        QVERIFY(esperada.isEmpty());
        dlg.expectMessage(btn->EmptyError(), host::MsgType::Warning, host::MsgButton::Ok);
    } else {
        QCOMPARE(esperada.count(e.escolha), 1);
        dlg.setNextPick({int(esperada.indexOf(e.escolha))});
    }
    btn->click();
    QVERIFY_DIALOGS(dlg);
    if (*e.escolha) {
        const host::PickRequest& req = dlg.calls().value(0).pick;
        QStringList oferecida;
        for (int r = 0; r < req.source->RecordCount(); ++r) {
            oferecida << req.source->FieldByName(e.chave).ValueAt(r).toString();
        }
        QCOMPARE(oferecida, esperada);
    }
    QCOMPARE(naTela(e.campos), QString(e.campos));
}

void TestPesquisas::clientListMasksItsCodesSupplierListDoesNot() {
    TfrmFiltro& f = *frmFiltro;
    ScriptedDialogs dlg;
    dlg.setNextPick({}).setNextPick({});
    pagina(1);
    f.btpCliente->click();
    pagina(2);
    f.btpFornecedor->click();
    QVERIFY_DIALOGS(dlg);
    // A cancelled list copies nothing.
    QVERIFY(f.medCdCliente->Text().isEmpty() && f.medCdFornecedor->Text().isEmpty());

    const char* const casos[][2] = {{"C00001", "028.402.092-33"},
                                    {"C00004", "06.866.066/0001-45"},
                                    {"C00012", "11.065.XZ1/0001-54"},
                                    {"F00001", "57551236000133"},
                                    {"F00008", "21L4YRHS000169"}};
    for (const auto& [codigo, mostrado] : casos) {
        const bool cliente = codigo[0] == 'C';
        host::TADOIBQuery* lista = cliente ? f.qryCliente : f.qryFornecedor;
        host::TField& inscricao = lista->FieldByName(cliente ? "NRINSJURCLIE" : "NRINSJURFORN");
        QVERIFY2(lista->Locate(cliente ? "CDCLIENTE" : "CDFORNECED", QString(codigo)), codigo);
        QCOMPARE(inscricao.DisplayText(), QString(mostrado));
        // The list's grid asks by row, whatever row is current.
        const int linha = lista->RecNo() - 1;
        lista->First();
        QCOMPARE(inscricao.DisplayTextAt(linha), QString(mostrado));
    }
}

void TestPesquisas::leavingAFieldChecksIt() {
    QFETCH(int, i);
    const Saida& s = kSaidas[i];
    TMaskEdit* edit = campo(s.edit);
    QVERIFY(edit);
    pagina(s.emitente);
    if (edit != frmFiltro->medInscrJurid) {
        frmFiltro->medInscrJurid->SetText(s.registro);
    }
    QVERIFY(foca(edit));
    edit->SetText(s.digitado);

    ScriptedDialogs dlg;
    if (*s.mensagem) {
        dlg.expectError(s.mensagem);
    }
    sai();
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(QApplication::focusWidget(),
             *s.mensagem ? edit : static_cast<QWidget*>(frmFiltro->edtChaveAcesso));
    QCOMPARE(naTela(s.campos), QString(s.campos));
}

void TestPesquisas::personTypeMaskLeavesTheNamesUntilAnotherCodeIsTyped() {
    QFETCH(int, i);
    const Mascara& m = kMascaras[i];
    TMaskEdit* edit = campo(m.edit);
    pagina(m.emitente);
    QVERIFY(foca(edit));
    QVERIFY(edit->EditMaskText().isEmpty());
    edit->SetText(m.codigo);
    sai();
    QCOMPARE(edit->EditMaskText(), host::Consiste::PictPess(m.tipo));
    QCOMPARE(edit->Text(), QString(m.codigo));
    preenche(m.dependentes);

    // In and out again: the mask comes off and back, and what belongs to the code stays.
    for (int volta = 0; volta < 2; ++volta) {
        QVERIFY(foca(edit));
        QVERIFY(edit->EditMaskText().isEmpty());
        QCOMPARE(edit->EditText(), QString(m.codigo));
        QCOMPARE(naTela(m.dependentes), QString(m.dependentes));
        sai();
        QCOMPARE(edit->EditText(), QString(m.mostrado));
        QCOMPARE(naTela(m.dependentes), QString(m.dependentes));
    }
    // Another code typed over it takes all of that away.
    QVERIFY(foca(edit));
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("4821"));
    QCOMPARE(edit->Text(), QStringLiteral("4821"));
    QStringList vazios = QString(m.dependentes).split(u'|');
    for (int d = 1; d < vazios.size(); d += 2) {
        vazios[d].clear();
    }
    QCOMPARE(naTela(m.dependentes), vazios.join(u'|'));
}

void TestPesquisas::typedLettersAreRaisedAndTheRegistrationLimited() {
    const struct {
        const char* edit;
        int emitente;
        const char *teclas, *fica;
    } casos[] = {
        {"medInscrJurid", 0, "11065xz1000154", "11065XZ1000154"},
        {"medInscrJurid", 0, kRegistroMascarado, kRegistro},  // mask characters are refused
        {"medInscrJurid", 0, "1234567890abcdefghijk", "1234567890ABCDEFGHIJ"},
        {"medCdCliente", 1, "11065xz1000154", "11065XZ1000154"},
        {"medCdFornecedor", 2, "21l4yrhs000169", "21L4YRHS000169"},
        {"edtChaveAcesso", 0, "4126031106xz10001545500", "4126031106XZ10001545500"},
    };
    for (const auto& c : casos) {
        auto* edit = campo<QLineEdit>(c.edit);
        pagina(c.emitente);
        QVERIFY2(foca(edit), c.edit);
        edit->clear();
        QTest::keyClicks(edit, c.teclas);
        QVERIFY2(edit->text() == QLatin1String(c.fica),
                 qPrintable(c.teclas + (" -> " + edit->text())));
        edit->clear();
    }
}

void TestPesquisas::pastedRegistrationWithMaskCharactersIsTheSameNumber_data() {
    QTest::addColumn<QString>("colado");
    for (const char* colado : {kRegistroMascarado, "48,210,375/0001-02", "(48)210375/0001-02",
                               "48-210-375-0001-02", kRegistro}) {
        QTest::newRow(colado) << QString(colado);
    }
}

void TestPesquisas::pastedRegistrationWithMaskCharactersIsTheSameNumber() {
    QFETCH(QString, colado);
    TfrmFiltro& f = *frmFiltro;
    QCOMPARE(RetSemMascara(colado), QString(kRegistro));
    QVERIFY(foca(f.medInscrJurid));
    QApplication::clipboard()->setText(colado);
    f.medInscrJurid->paste();
    QCOMPARE(f.medInscrJurid->Text(), colado);
    ScriptedDialogs dlg;
    QVERIFY(host::runHandler(&f, [&] { f.Vd_InscrJurid(true); }));
    QVERIFY_DIALOGS(dlg);

    // Still in the field (the lookup buttons take no focus): the state registration button
    // lists that number's, and the check accepts one of them. A refusal is answered and noted.
    bool permite = true;
    f.btpIEBeforePesq(nullptr, permite);
    const int oferecidas = f.qryPesqInscrEstad->RecordCount();
    f.medIE->SetText(QStringLiteral("481491532792"));
    const bool aceita = host::runHandler(&f, [&] { f.Vd_InscrEstad(true); });
    const QStringList recusa = dlg.takeFailures();

    sai();
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.edtChaveAcesso));
    QCOMPARE(f.medInscrJurid->EditText(), QString(kRegistroMascarado));
    QCOMPARE(f.medInscrJurid->Text(), QString(kRegistro));

    QCOMPARE(oferecidas, 2);
    QVERIFY2(aceita, qPrintable(recusa.join(u'\n')));
}

void TestPesquisas::lookupStatementsGiveTheSameRowsOnPostgres() {
    PgCluster pg;
    if (!pg.ok()) {
        QSKIP(qPrintable(QStringLiteral("PostgreSQL indisponível: ") + pg.error()));
    }
    const QString pgUrl = pg.createDatabase(QStringLiteral("pesquisas"));
    QVERIFY2(!pgUrl.isEmpty(), qPrintable(pg.error()));
    companydb::ensureDatabase(pgUrl, 0, {dfe58000::storeSchema()});

    // Each query with the values the dialog binds: "T" for a whole list, else a typed code.
    TfrmFiltro& f = *frmFiltro;
    const struct {
        host::TADOIBQuery* q;
        int ordem;  // the column its rows are ordered by
        const char* valores;
    } consultas[] = {
        {f.qryPesqInscrEstad, 0, "P_CDEMPRESA|01|P_NRINSJURIEST|48210375000102"},
        {f.qryVdInscrEstad, 0,
         "P_CDEMPRESA|01|P_NRINSJURIEST|48210375000102|P_CDINSCESTA|999231244293"},
        {f.qryPesqFilial, 0, "P_CDFILIAL|T"},
        {f.qryPesqFilial, 0, "P_CDFILIAL|0003"},
        {f.qryFilial, 0, "P_CDFILIAL|0002"},
        {f.qrySerie, 0, "P_CDSERIE||P_TCDSERIE|T"},
        {f.qrySerie, 0, "P_CDSERIE|U|P_TCDSERIE|"},
        {f.qryCliente, 2, "P_NRINSJURCLIE||P_TNRINSJURCLIE|T"},
        {f.qryCliente, 2, "P_NRINSJURCLIE|11065XZ1000154|P_TNRINSJURCLIE|"},
        {f.qryFornecedor, 1, "P_NRINSJURFORN||P_TNRINSJURFORN|T"},
        {f.qryFornecedor, 1, "P_NRINSJURFORN|21L4YRHS000169|P_TNRINSJURFORN|"},
        {f.qryOperacao, 0, "P_IDENTRSAIDOP|E"},
        {f.qryOperacao, 0, "P_IDENTRSAIDOP|S"},
    };
    // The rows in their order; rows of equal order (two clients of the same name) may come in
    // either order, so those are sorted among themselves.
    const auto roda = [&] {
        QList<QList<QStringList>> out;
        for (const auto& c : consultas) {
            const QStringList v = QString(c.valores).split(u'|');
            c.q->Close();
            for (int i = 0; i + 1 < v.size(); i += 2) {
                c.q->ParamByName(v.at(i)).SetAsString(v.at(i + 1));
            }
            QList<QStringList> rows{{QStringLiteral("erro")}};
            try {
                c.q->Open();
                rows = linhas(*c.q);
            } catch (const std::exception& e) {
                rows.first() << QString::fromUtf8(e.what());
            }
            for (auto a = rows.begin(); a != rows.end();) {
                const auto b = std::find_if(a, rows.end(), [&](const QStringList& r) {
                    return r.value(c.ordem) != a->value(c.ordem);
                });
                std::sort(a, b);
                a = b;
            }
            out << rows;
        }
        return out;
    };
    const QList<QList<QStringList>> noSqlite = roda();
    host::DatabaseModule::Open(pgUrl);
    const QList<QList<QStringList>> noPostgres = roda();
    host::DatabaseModule::Open(m_env.url);

    for (int i = 0; i < int(std::size(consultas)); ++i) {
        const QList<QStringList>&sq = noSqlite.at(i), &pq = noPostgres.at(i);
        const QByteArray nome = consultas[i].q->objectName().toUtf8() + ' ' + consultas[i].valores;
        QVERIFY2(!sq.isEmpty() && sq.first().first() != QLatin1String("erro"), nome);
        QVERIFY2(pq == sq, nome + ": " + pq.value(0).join(u'|').toUtf8());
    }
    QVERIFY(noSqlite.at(3).size() == 1 && noSqlite.at(7).size() == 200);
}

QTEST_MAIN(TestPesquisas)
#include "tst_pesquisas.moc"

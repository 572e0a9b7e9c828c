// Confirming the filter and verifying the notes again, as the clerk does it, against the real
// application server on loopback and a company database holding notes made for each case: what
// the server receives, what the list shows after each answer, and the order of the checks.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>
#include <functional>
#include <memory>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "core/clientdataset.h"
#include "core/orvanta.h"
#include "rules.h"
#include "store.h"
#include "ui/buttonflat.h"
#include "ui/dateeditplus.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"
#include "workspacefixture.h"

using host::test::ScriptedDialogs;

namespace {

const QString kRegistro = QStringLiteral("48210375000102");  // company 01
const QString kIE = QStringLiteral("481491532792");          // of that registration

// Notes of company 01 by number: 1-2 must be manifested now, 11-12 are near their limit,
// 21-23 have time left.
const QList<int> kAgora = {1, 2};
const QList<int> kPerto = {11, 12};
const QList<int> kFolga = {21, 22, 23};

// An authorisation date that puts a note open for manifestation in the wanted deadline class
// today.
QDate autorizadaPara(dfe58000::rules::DeadlineClass wanted) {
    const QDate today = QDate::currentDate();
    for (int back = 0; back < 400; ++back) {
        const QDate a = today.addDays(-back);
        if (dfe58000::rules::classifyDeadline(QStringLiteral("1"), QStringLiteral("0"), a, today) ==
            wanted) {
            return a;
        }
    }
    return {};
}

dfe58000::NoteRecord nota(int numero, const QDate& autorizada) {
    // Registered under its issuer's key only.
    dfe58000::NoteRecord n = notaBase(numero, kRegistro, QStringLiteral("06274118000176"));
    n.NRINSJURNFORIG.clear();
    n.CDINSCESTADEST = kIE;
    n.DTEMISSAO = QDateTime(QDate::currentDate(), QTime(8, 0));
    n.DTRECBTO = QDateTime(autorizada, QTime(9, 0));
    n.VRNOTAFISC = 100.0 + numero;
    return n;
}

// Texts of arguments as they reached the server: dates in ISO form, an unset one as "<nulo>".
QStringList textos(const QVariantList& args) {
    QStringList out;
    for (const QVariant& v : args) {
        if (!v.isValid()) {
            out << QStringLiteral("<nulo>");
        } else if (v.typeId() == QMetaType::QDate) {
            out << v.toDate().toString(Qt::ISODate);
        } else if (v.typeId() == QMetaType::QDateTime) {
            out << v.toDateTime().date().toString(Qt::ISODate);
        } else {
            out << v.toString();
        }
    }
    return out;
}

QStringList numerosDaLista() {
    QStringList out;
    host::TClientDataSet* ds = frmManifestacao->cdsNotasDestinadas;
    if (!ds->Active()) {
        return out;
    }
    for (ds->First(); !ds->Eof(); ds->Next()) {
        out << ds->FieldByName(QStringLiteral("NRNOTAFISC")).AsString();
    }
    out.sort();
    return out;
}

QStringList numeros(const QList<int>& a, const QList<int>& b = {}, const QList<int>& c = {}) {
    QStringList out;
    for (const QList<int>* l : {&a, &b, &c}) {
        for (int n : *l) {
            out << QStringLiteral("%1").arg(n, 9, 10, QChar(u'0'));
        }
    }
    out.sort();
    return out;
}

}  // namespace

class TestConfirmacao : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();

    void verificationNeedsAConfirmedFilter();
    void confirmingSendsTheCriteriaAsTheServerExpects();
    void checksComeInOrderWithTheFocusOnTheField();
    void deadlineAnswersDecideWhatTheListShows();
    void anErrorAnswerKeepsListRecordAndDialog();
    void verificationResendsTheSavedCriteria();
    void verificationErrorKeepsTheListWithTheCounterAtZero();

  private:
    // Shows the dialog (created on first use) and waits until it stands idle.
    bool abre();
    // Sets every criterion back to what a plain query needs, for company 01.
    void padrao();
    QVariantList ultimosArgumentos() const;

    ManifestacaoEnv m_env;
    QDate m_inicio;
    QDate m_fim;
};

void TestConfirmacao::initTestCase() {
    using dfe58000::rules::DeadlineClass;
    ManifestacaoEnv::Opcoes o;
    for (int n : kAgora) {
        o.notas << nota(n, autorizadaPara(DeadlineClass::Now));
    }
    for (int n : kPerto) {
        o.notas << nota(n, autorizadaPara(DeadlineClass::Near));
    }
    for (int n : kFolga) {
        o.notas << nota(n, QDate::currentDate());
    }
    o.gravaPedidos = true;
    // The filter is built on first use, as the workspace builds it.
    o.filtro = false;
    const QString erro = m_env.start(o);
    QVERIFY2(erro.isEmpty(), qPrintable(erro));
    m_fim = host::Orvanta::context().dataProc;
    m_inicio = QDate(m_fim.year(), m_fim.month(), 1);
}

void TestConfirmacao::cleanupTestCase() {
    m_env.stop();
    QVERIFY_DIALOGS(*m_env.guarda);
}

bool TestConfirmacao::abre() {
    if (!frmFiltro) {
        frmFiltro = new TfrmFiltro();
        frmFiltro->DoCreate();
    }
    frmFiltro->show();
    frmFiltro->activateWindow();
    return QTest::qWaitForWindowActive(frmFiltro) &&
           QTest::qWaitFor([] { return host::Showavi::Level() == 0; });
}

void TestConfirmacao::padrao() {
    // Texts first: a page switch below may move the focus out of an edit, whose check on
    // leaving must then find nothing wrong.
    TfrmFiltro& f = *frmFiltro;
    frmManifestacao->medCdEmpresa->SetText(QStringLiteral("01"));
    f.medInscrJurid->SetText(kRegistro);
    f.medIE->Clear();
    f.medCdFiliOrig->Clear();
    f.medCdSerie->Clear();
    f.medCdCliente->Clear();
    f.medCdFornecedor->Clear();
    f.medCdFilial->Clear();
    f.cboEmitente->setCurrentIndex(0);
    f.depInicial->SetDate(m_inicio);
    f.depFinal->SetDate(m_fim);
    f.cboOperacao->setCurrentIndex(0);
    f.rbtTodosOper->click();
    for (QCheckBox* box : f.grbFiltroPadrao->findChildren<QCheckBox*>()) {
        box->setChecked(true);
    }
    f.medNotaInicial->SetText(QStringLiteral("000000000"));
    f.medNotaFinal->SetText(QStringLiteral("999999999"));
    f.edtChaveAcesso->clear();
}

QVariantList TestConfirmacao::ultimosArgumentos() const {
    return m_env.ultimosArgumentos(QStringLiteral("GetNotasDestinadas"));
}

void TestConfirmacao::verificationNeedsAConfirmedFilter() {
    QVERIFY(!frmFiltro);
    ScriptedDialogs dlg;
    dlg.expectError(QStringLiteral("Filtro deve ser informado."));
    frmManifestacao->sbtVerificar->click();
    QVERIFY_DIALOGS(dlg);

    QVERIFY(abre());
    frmFiltro->medInscrJurid->Clear();
    frmFiltro->hide();
    dlg.expectError(QStringLiteral("Inscrição jurídica deve ser informada."));
    frmManifestacao->sbtVerificar->click();
    QVERIFY_DIALOGS(dlg);
    QVERIFY(ultimosArgumentos().isEmpty());
}

void TestConfirmacao::confirmingSendsTheCriteriaAsTheServerExpects() {
    const QString inicio = m_inicio.toString(Qt::ISODate);
    const QString fim = m_fim.toString(Qt::ISODate);
    const QString chave = nota(21, QDate::currentDate()).NRACESSONF;
    const QStringList todos = {QStringLiteral("_0_1_2_3_"),
                               QStringLiteral("_0_1_2_3_4_5_"),
                               QStringLiteral("000000000"),
                               QStringLiteral("999999999"),
                               QStringLiteral("T"),
                               QStringLiteral("T"),
                               QStringLiteral("T"),
                               QStringLiteral("T"),
                               QStringLiteral("T"),
                               QStringLiteral("T"),
                               QStringLiteral("E"),
                               QStringLiteral("01"),
                               QStringLiteral("T"),
                               inicio,
                               fim,
                               QStringLiteral("_0_1_2_3_"),
                               kRegistro};
    struct Caso {
        const char* nome;
        std::function<void(TfrmFiltro&)> ajusta;
        QList<QPair<int, QString>> difere;  // argument index (0-based) and its text
        QStringList lista;                  // notes the list shows afterwards
    };
    const QList<Caso> casos = {
        {"everything", [](TfrmFiltro&) {}, {}, numeros(kAgora)},
        {"some situations",
         [](TfrmFiltro& f) {
             f.chkAutorizada->setChecked(false);
             f.chkDenegada->setChecked(false);
             for (QCheckBox* b : {f.chkSemManifestacao, f.chkCienciaOperacao,
                                  f.chkConfirmadaOperacao, f.chkOperacaoNRealizada}) {
                 b->setChecked(false);
             }
             f.ckcInexistenteSefaz->setChecked(false);
             f.ckcSefazXML->setChecked(false);
         },
         {{0, "_0_3_"}, {1, "_2_5_"}, {15, "_1_2_"}},
         {}},
        // Both note fields empty: any number, and the final number goes as the last attempt
        // left it.
        {"no note numbers",
         [](TfrmFiltro& f) {
             f.medNotaInicial->Clear();
             f.medNotaFinal->Clear();
         },
         {{2, "T"}},
         numeros(kAgora)},
        {"origin, series, state registration, key, range, exits and a list of types",
         [&](TfrmFiltro& f) {
             f.medIE->SetText(kIE);
             f.medCdFiliOrig->SetText(QStringLiteral("0001"));
             f.medCdSerie->SetText(QStringLiteral("1"));
             f.medNotaInicial->SetText(QStringLiteral("000000021"));
             f.medNotaFinal->SetText(QStringLiteral("000000023"));
             f.edtChaveAcesso->setText(QStringLiteral("  ") + chave + u' ');
             f.cboOperacao->setCurrentIndex(1);
             f.rbtListaOper->click();
             f.stFiltroCdTipoOper = QStringLiteral("51,53");
         },
         {{2, "000000021"},
          {3, "000000023"},
          {4, QStringLiteral("  ") + chave + u' '},
          {5, "0001"},
          {6, "1"},
          {9, "51,53"},
          {10, "S"},
          {12, kIE}},
         {}},
        {"a client with an alphanumeric CNPJ",
         [](TfrmFiltro& f) {
             f.cboEmitente->setCurrentIndex(1);
             f.medCdCliente->SetText(QStringLiteral("11065XZ1000154"));
         },
         {{7, "C"}, {8, "C00012"}},
         {}},
        {"any supplier",
         [](TfrmFiltro& f) { f.cboEmitente->setCurrentIndex(2); },
         {{7, "F"}, {8, "T"}},
         {}},
        {"a branch of the group",
         [](TfrmFiltro& f) {
             f.cboEmitente->setCurrentIndex(3);
             f.medCdFilial->SetText(QStringLiteral("0003"));
         },
         {{7, "L"}, {8, "0003"}},
         {}},
    };

    for (const Caso& caso : casos) {
        ScriptedDialogs dlg;
        QVERIFY2(abre(), caso.nome);
        padrao();
        caso.ajusta(*frmFiltro);
        if (!caso.lista.isEmpty()) {
            dlg.expectMessage(QStringLiteral("Existem notas que devem ser manifestadas agora. "
                                             "Favor realizar as devidas conclusões definitivas."),
                              host::MsgType::Error, host::MsgButton::Ok);
        }
        inMarcados = 3;
        frmFiltro->sbtConfirma->click();
        QVERIFY_DIALOGS(dlg);
        QVERIFY2(!frmFiltro->isVisible(), caso.nome);
        QVERIFY(boConfirma);
        QCOMPARE(inMarcados, 0);

        QStringList esperado = todos;
        for (const auto& [i, texto] : caso.difere) {
            esperado[i] = texto;
        }
        QCOMPARE(textos(ultimosArgumentos()), esperado);
        if (!caso.lista.isEmpty()) {
            QCOMPARE(numerosDaLista(), caso.lista);
        }
        QCOMPARE(frmManifestacao->sbtImprimir->isEnabled(),
                 !frmManifestacao->cdsNotasDestinadas->IsEmpty());
        QCOMPARE(frmManifestacao->mnuListagem->isEnabled(),
                 frmManifestacao->sbtImprimir->isEnabled());
    }
    // The record keeps what the last confirmation accepted.
    const TRecordFilter& r = frmFiltro->Filtro;
    QCOMPARE(r.inCbbIndex, 3);
    QCOMPARE(r.stCodFilial, QStringLiteral("0003"));
    QCOMPARE(r.stCdFilial, QStringLiteral("0003"));
    QCOMPARE(r.stNmFilial, QStringLiteral("Depósito Guarulhos"));
    QCOMPARE(r.stNrInsClie, QStringLiteral("11065XZ1000154"));  // other kinds keep theirs
    QCOMPARE(r.stCdCliente, QStringLiteral("C00012"));
    QCOMPARE(r.stTipoOper, QStringLiteral("T"));
    QVERIFY(r.boTipoOper);
    QCOMPARE(r.stInscrJurid, kRegistro);
    QCOMPARE(r.dtIniEmis, m_inicio);
    // An empty result disables printing.
    QVERIFY(frmManifestacao->cdsNotasDestinadas->IsEmpty());
    QVERIFY(!frmManifestacao->sbtImprimir->isEnabled());
}

void TestConfirmacao::checksComeInOrderWithTheFocusOnTheField() {
    struct Caso {
        const char* mensagem;  // empty: any text (the date edit's own)
        const char* foco;
        std::function<void(TfrmFiltro&)> ajusta;
    };
    const QList<Caso> casos = {
        {"Inscrição jurídica deve ser informada.", "medInscrJurid",
         [](TfrmFiltro& f) {
             f.medInscrJurid->Clear();
             f.depInicial->Clear();
             for (QCheckBox* b : f.grbFiltroPadrao->findChildren<QCheckBox*>()) {
                 b->setChecked(false);
             }
         }},
        {"Inscrição jurídica não cadastrada.", "medInscrJurid",
         [](TfrmFiltro& f) { f.medInscrJurid->SetText(QStringLiteral("11111111000191")); }},
        {"Inscrição Estadual não cadastrada.", "medIE",
         [](TfrmFiltro& f) { f.medIE->SetText(QStringLiteral("999")); }},
        {"Filial não cadastrada.", "medCdFiliOrig",
         [](TfrmFiltro& f) { f.medCdFiliOrig->SetText(QStringLiteral("0099")); }},
        // The branch page is checked whatever issuer kind is chosen.
        {"Filial não cadastrada.", "medCdFilial",
         [](TfrmFiltro& f) {
             f.medCdFilial->SetText(QStringLiteral("99"));
             f.cboEmitente->setCurrentIndex(1);
         }},
        {"Data inicial deve ser informada.", "depInicial",
         [](TfrmFiltro& f) {
             f.depInicial->Clear();
             f.depFinal->Clear();
         }},
        {"Data final deve ser informada.", "depFinal", [](TfrmFiltro& f) { f.depFinal->Clear(); }},
        {"", "depInicial",
         [](TfrmFiltro& f) { f.depInicial->setText(QStringLiteral("31022026")); }},
        {"Data de emissão final deve ser maior ou igual à inicial.", "depFinal",
         [this](TfrmFiltro& f) { f.depFinal->SetDate(m_inicio.addDays(-1)); }},
        {"Pelo menos um tipo de situação de nota fiscal deve ser marcada.", "chkSemSituacao",
         [](TfrmFiltro& f) {
             for (QCheckBox* b : f.grbSituacaoNFe->findChildren<QCheckBox*>()) {
                 b->setChecked(false);
             }
             for (QCheckBox* b : f.grbSituacaoManifestacao->findChildren<QCheckBox*>()) {
                 b->setChecked(false);
             }
         }},
        {"Pelo menos um tipo de situação da manifestação deve ser marcada.", "chkSemManifestacao",
         [](TfrmFiltro& f) {
             for (QCheckBox* b : f.grbSituacaoManifestacao->findChildren<QCheckBox*>()) {
                 b->setChecked(false);
             }
         }},
        {"Pelo menos um tipo de situação de sincronização deve ser selecionada.",
         "ckcInexistenteSefaz",
         [](TfrmFiltro& f) {
             for (QCheckBox* b : f.grbSincronizacao->findChildren<QCheckBox*>()) {
                 b->setChecked(false);
             }
         }},
        {"Número de Nota Fiscal inicial deve ser informado.", "medNotaInicial",
         [](TfrmFiltro& f) { f.medNotaInicial->Clear(); }},
        {"Número de Nota Fiscal final deve ser informado.", "medNotaFinal",
         [](TfrmFiltro& f) { f.medNotaFinal->Clear(); }},
        {"Número da Nota Fiscal inicial deve ser menor ou igual ao Número final.", "medNotaInicial",
         [](TfrmFiltro& f) {
             f.medNotaInicial->SetText(QStringLiteral("000000010"));
             f.medNotaFinal->SetText(QStringLiteral("000000002"));
         }},
        {"A Chave de  Acesso deve ser formada com 44 caracteres.", "edtChaveAcesso",
         [](TfrmFiltro& f) { f.edtChaveAcesso->setText(QString(43, u'1')); }},
        {"Cliente não cadastrado.", "medCdCliente",
         [](TfrmFiltro& f) {
             f.cboEmitente->setCurrentIndex(1);
             f.medCdCliente->SetText(QStringLiteral("99999999000191"));
         }},
        {"Fornecedor não cadastrado.", "medCdFornecedor",
         [](TfrmFiltro& f) {
             f.cboEmitente->setCurrentIndex(2);
             f.medCdFornecedor->SetText(QStringLiteral("99999999000191"));
         }},
        {"Tipo de Operação deve ser informado.", "rbtListaOper",
         [](TfrmFiltro& f) { f.rbtListaOper->click(); }},
    };

    QVERIFY(abre());
    // A list on screen, with marks, that no refused attempt may touch.
    padrao();
    {
        ScriptedDialogs dlg;
        dlg.expectMessage(QString(), host::MsgType::Error, host::MsgButton::Ok);
        frmFiltro->sbtConfirma->click();
        QVERIFY_DIALOGS(dlg);
    }
    QVERIFY(abre());
    const QStringList lista = numerosDaLista();
    QVERIFY(!lista.isEmpty());
    const int pedidos = int(m_env.server->receivedRequests().size());
    const TRecordFilter antes = frmFiltro->Filtro;

    const auto digitado = [] {
        TfrmFiltro& f = *frmFiltro;
        return QStringList{
            f.medInscrJurid->Text(),  f.medIE->Text(),        f.medNotaInicial->Text(),
            f.medNotaFinal->Text(),   f.medCdCliente->Text(), f.medCdFornecedor->Text(),
            f.edtChaveAcesso->text(), f.depInicial->Text(),   f.depFinal->Text()};
    };
    for (const Caso& caso : casos) {
        padrao();
        caso.ajusta(*frmFiltro);
        inMarcados = 2;
        const QStringList antesDoClique = digitado();
        ScriptedDialogs dlg;
        dlg.expectError(QString::fromUtf8(caso.mensagem));
        frmFiltro->sbtConfirma->click();
        QVERIFY_DIALOGS(dlg);
        QCOMPARE(digitado(), antesDoClique);
        QVERIFY2(frmFiltro->isVisible(), caso.mensagem);
        QVERIFY(boConfirma);
        QCOMPARE(frmFiltro->focusWidget()->objectName(), QString::fromLatin1(caso.foco));
        QCOMPARE(inMarcados, 2);
        QCOMPARE(int(m_env.server->receivedRequests().size()), pedidos);
        QCOMPARE(numerosDaLista(), lista);
    }
    // The record is as the last success left it.
    QVERIFY(frmFiltro->rbtListaOper->isChecked());
    QCOMPARE(frmFiltro->Filtro.stInscrJurid, antes.stInscrJurid);
    QCOMPARE(frmFiltro->Filtro.stNrNotaIni, antes.stNrNotaIni);
    inMarcados = 0;
    frmFiltro->hide();
}

void TestConfirmacao::deadlineAnswersDecideWhatTheListShows() {
    const QString bloqueio = QStringLiteral(
        "Existem notas que devem ser manifestadas agora. Favor realizar as devidas conclusões "
        "definitivas.");
    const QString aviso = QStringLiteral(
        "Existem notas que estão chegando ao prazo limite para a manifestação conclusiva. Deseja "
        "verificar somente elas?");
    struct Caso {
        const char* nome;
        int de, ate;
        std::function<void(ScriptedDialogs&)> espera;
        QStringList lista;
    };
    const QList<Caso> casos = {
        // Notes due now are all the list shows, whatever else is near; no question is asked.
        {"due now", 1, 23,
         [&](ScriptedDialogs& d) {
             d.expectMessage(bloqueio, host::MsgType::Error, host::MsgButton::Ok);
         },
         numeros(kAgora)},
        {"near, only those", 11, 23,
         [&](ScriptedDialogs& d) {
             d.expectMessage(aviso, host::MsgType::Warning, host::MsgButton::Yes);
         },
         numeros(kPerto)},
        {"near, all of them", 11, 23,
         [&](ScriptedDialogs& d) {
             d.expectMessage(aviso, host::MsgType::Warning, host::MsgButton::No);
         },
         numeros(kPerto, kFolga)},
        {"nothing pressing", 21, 23, [](ScriptedDialogs&) {}, numeros(kFolga)},
    };
    for (const Caso& caso : casos) {
        QVERIFY(abre());
        padrao();
        frmFiltro->medNotaInicial->SetText(QStringLiteral("%1").arg(caso.de, 9, 10, QChar(u'0')));
        frmFiltro->medNotaFinal->SetText(QStringLiteral("%1").arg(caso.ate, 9, 10, QChar(u'0')));
        ScriptedDialogs dlg;
        caso.espera(dlg);
        frmFiltro->sbtConfirma->click();
        QVERIFY_DIALOGS(dlg);
        QVERIFY2(!frmFiltro->isVisible(), caso.nome);
        QCOMPARE(numerosDaLista(), caso.lista);
        QVERIFY(frmManifestacao->sbtImprimir->isEnabled());
        QCOMPARE(host::Showavi::Level(), 0);
    }
}

void TestConfirmacao::anErrorAnswerKeepsListRecordAndDialog() {
    QVERIFY(abre());
    const QStringList lista = numerosDaLista();
    QVERIFY(!lista.isEmpty());
    const TRecordFilter antes = frmFiltro->Filtro;
    padrao();
    frmFiltro->medNotaInicial->SetText(QStringLiteral("000000001"));
    frmFiltro->medNotaFinal->SetText(QStringLiteral("000000002"));
    // A registration the dialog's list still holds, but that the company no longer has.
    const QString removido = QStringLiteral("11111111000191");
    host::TClientDataSet* lidas = frmFiltro->cdsVdInscrJurid;
    lidas->Append();
    lidas->FieldByName(QStringLiteral("NRINSJURIEST")).SetAsString(removido);
    lidas->FieldByName(QStringLiteral("IDTPIJURIEST")).SetAsString(QStringLiteral("J"));
    lidas->Post();
    frmFiltro->medInscrJurid->SetText(removido);
    inMarcados = 2;
    frmManifestacao->stManifestacao = QStringLiteral("4");
    ScriptedDialogs dlg;
    dlg.expectError(
        QStringLiteral("Inscrição jurídica %1 não cadastrada para a empresa 01.").arg(removido));
    frmFiltro->sbtConfirma->click();
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(ultimosArgumentos().value(16).toString(), removido);
    // The attempt reached the server: the counter and the remembered situation are reset, the
    // rest stays.
    QCOMPARE(inMarcados, 0);
    QVERIFY(frmManifestacao->stManifestacao.isEmpty());
    QVERIFY(frmFiltro->isVisible());
    QCOMPARE(numerosDaLista(), lista);
    QVERIFY(frmManifestacao->sbtImprimir->isEnabled());
    QCOMPARE(frmFiltro->Filtro.stNrNotaIni, antes.stNrNotaIni);
    QCOMPARE(frmFiltro->Filtro.stInscrJurid, antes.stInscrJurid);
    QCOMPARE(frmFiltro->stNrNotaInicial, QStringLiteral("000000001"));
    QCOMPARE(host::Showavi::Level(), 0);
    frmFiltro->hide();
}

void TestConfirmacao::verificationResendsTheSavedCriteria() {
    QVERIFY(abre());
    padrao();
    frmFiltro->medNotaInicial->Clear();
    frmFiltro->medNotaFinal->Clear();
    frmFiltro->cboEmitente->setCurrentIndex(1);
    frmFiltro->medCdCliente->SetText(QStringLiteral("06866066000145"));
    frmFiltro->medIE->SetText(kIE);
    {
        ScriptedDialogs dlg;
        dlg.expectMessage(QString(), host::MsgType::Error, host::MsgButton::Ok);
        frmFiltro->sbtConfirma->click();
        QVERIFY_DIALOGS(dlg);
    }
    QCOMPARE(numerosDaLista(), numeros(kAgora));
    const QStringList confirmados = textos(ultimosArgumentos());

    // The controls change, without a confirmation; the verification ignores them.
    QVERIFY(abre());
    frmFiltro->cboEmitente->setCurrentIndex(2);
    frmFiltro->chkAutorizada->setChecked(false);
    frmFiltro->medNotaInicial->SetText(QStringLiteral("000000005"));
    frmFiltro->hide();

    frmManifestacao->cdsNotasDestinadas->First();
    frmManifestacao->dbgPadraoDblClick();  // one note marked
    QCOMPARE(inMarcados, 1);
    ScriptedDialogs dlg;
    frmManifestacao->mnuVerificar->trigger();
    QStringList esperado = confirmados;
    esperado[2] = QString();  // the note numbers as typed: empty
    esperado[3] = QString();
    QCOMPARE(textos(ultimosArgumentos()), esperado);
    QCOMPARE(esperado[7], QStringLiteral("C"));
    QCOMPARE(esperado[8], QStringLiteral("C00004"));
    QCOMPARE(esperado[12], kIE);
    // Empty note numbers mean no bound: every note of the client is back, none marked.
    QCOMPARE(numerosDaLista(), numeros(kAgora, kPerto, kFolga));
    QCOMPARE(inMarcados, 0);
    QVERIFY(!frmManifestacao->sbtCiencia->isEnabled());
    QCOMPARE(host::Showavi::Level(), 0);

    // Every box of a list off is "_", which no note matches.
    frmFiltro->Filtro.boSemManif = frmFiltro->Filtro.boCiencia = false;
    frmFiltro->Filtro.boDesconhecida = frmFiltro->Filtro.boConfirmada = false;
    frmFiltro->Filtro.boNaoRealizada = frmFiltro->Filtro.boRejeitada = false;
    frmManifestacao->sbtVerificar->click();
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(textos(ultimosArgumentos()).value(1), QStringLiteral("_"));
    QVERIFY(frmManifestacao->cdsNotasDestinadas->IsEmpty());
}

void TestConfirmacao::verificationErrorKeepsTheListWithTheCounterAtZero() {
    QVERIFY(frmFiltro);
    frmFiltro->Filtro.boSemManif = true;
    frmManifestacao->sbtVerificar->click();
    const QStringList lista = numerosDaLista();
    QVERIFY(!lista.isEmpty());
    frmManifestacao->cdsNotasDestinadas->First();
    frmManifestacao->dbgPadraoDblClick();
    QCOMPARE(inMarcados, 1);

    // The server refuses the saved registration (no longer the company's).
    const QString registro = frmFiltro->Filtro.stInscrJurid;
    frmFiltro->Filtro.stInscrJurid = QStringLiteral("11111111000191");
    ScriptedDialogs dlg;
    dlg.expectError(
        QStringLiteral("Inscrição jurídica 11111111000191 não cadastrada para a empresa 01."));
    frmManifestacao->sbtVerificar->click();
    QVERIFY_DIALOGS(dlg);
    frmFiltro->Filtro.stInscrJurid = registro;
    QCOMPARE(numerosDaLista(), lista);
    frmManifestacao->cdsNotasDestinadas->First();
    QCOMPARE(
        frmManifestacao->cdsNotasDestinadas->FieldByName(QStringLiteral("IDMARCADO")).AsString(),
        QStringLiteral("S"));
    QCOMPARE(inMarcados, 0);
    QCOMPARE(host::Showavi::Level(), 0);
}

QTEST_MAIN(TestConfirmacao)
#include "tst_confirmacao.moc"

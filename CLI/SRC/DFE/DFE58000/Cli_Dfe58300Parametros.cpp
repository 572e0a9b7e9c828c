// What the report form adds to a report run: the criteria groups each report uses, the
// criteria checked and written into the report's query parameters, and the copy of the
// workspace's notes with their counts by synchronisation group.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStackedWidget>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58000Pesquisa.h"
#include "Cli_Dfe58100.h"
#include "Cli_Dfe58300.h"
#include "core/clientdataset.h"
#include "core/messages.h"
#include "report/reportengine.h"
#include "sql/adoibquery.h"
#include "ui/btnpesquisa.h"
#include "ui/consiste.h"
#include "ui/dateeditplus.h"
#include "ui/maskedit.h"

using namespace host;
using Pesquisa::kTodos;
using Pesquisa::OuTodos;

namespace {

// The synchronisation groups of the workspace's colour legend, counted in this order; each
// row of the count table is keyed by the group's lowest code.
struct GrupoNota {
    const char* filtro;
    const char* codigo;
};
constexpr GrupoNota kGrupos[] = {
    {"(IDNOTA = '1')", "1"},
    {"(IDNOTA = '2' OR IDNOTA = '3')", "2"},
    {"(IDNOTA = '4')", "4"},
    {"(IDNOTA = '5' OR IDNOTA = '6' OR IDNOTA = '7')", "5"},
};

// Writes a parameter only where the report declares it.
void poe(TReportParams& params, const char* nome, const QVariant& valor) {
    const QString n = QString::fromLatin1(nome);
    if (ExistParam(params, n)) {
        params.ParamByName(n).SetValue(valor);
    }
}

// "_" then the code and "_" of every box checked, in the order given.
QString situacoes(std::initializer_list<std::pair<const QCheckBox*, char>> caixas) {
    QString s = QStringLiteral("_");
    for (const auto& [caixa, codigo] : caixas) {
        if (caixa->isChecked()) {
            s += QLatin1Char(codigo);
            s += u'_';
        }
    }
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Report selection

void TfrmRelatorio::cbbReportNamesChange() {
    const int item = cbbReportNames->currentIndex();
    if (item < 0 || item >= FRepNames.size()) {
        return;
    }
    const QString stArquivo = lblCodRel->text().left(6) + FRepNames.at(item);

    for (QGroupBox* g : {grbSituacaoNFe, grbEmissao, grbOperacao, grbSituacaoManifestacao}) {
        Consiste::SetChildEnabled(g, true);
    }
    if (stArquivo == QLatin1String("DFE58303")) {
        Consiste::SetChildEnabled(grbSituacaoNFe, false);
        Consiste::SetChildEnabled(grbSituacaoManifestacao, false);
    }
    if (stArquivo == QLatin1String("DFE58304")) {
        copiaDoFiltro();
        for (QGroupBox* g : {grbSituacaoNFe, grbEmissao, grbOperacao, grbSituacaoManifestacao}) {
            Consiste::SetChildEnabled(g, false);
        }
    }
    // Enabling the whole group must not offer the operation-type list while "Todos" is on.
    if (btpOperacao->isEnabled()) {
        btpOperacao->setEnabled(rbtListaOper->isChecked());
    }
}

void TfrmRelatorio::copiaDoFiltro() {
    if (!frmFiltro) {
        return;
    }
    {
        const QSignalBlocker b1(cboOperacao);
        const QSignalBlocker b2(cboEmitente);
        const QSignalBlocker b3(depInicial);
        const QSignalBlocker b4(depFinal);
        cboOperacao->setCurrentIndex(frmFiltro->cboOperacao->currentIndex());
        cboEmitente->setCurrentIndex(frmFiltro->cboEmitente->currentIndex());
        nbkEmitente->setCurrentIndex(frmFiltro->cboEmitente->currentIndex());
        depInicial->SetDate(frmFiltro->depInicial->Date());
        depFinal->SetDate(frmFiltro->depFinal->Date());
    }
    // The operation-type list offers the direction the form shows.
    stIdEntrSaidOp = cboOperacao->currentIndex() == 0 ? QStringLiteral("E") : QStringLiteral("S");
}

// ---------------------------------------------------------------------------------------------
// Query parameters

void TfrmRelatorio::rpddPadraoBeforeGetQueryParams(TReportParams& params, bool&) {
    // Branches first, whatever issuer kind is chosen: qryFilial then holds the issuer branch.
    Vd_Filial(medCdFiliOrig);
    Vd_Filial(medCdFilial);

    medCdEmpresa->SetText(Consiste::Ajusta(medCdEmpresa->Text(), 2));
    AbreQryEmpresa(medCdEmpresa->Text(), QString());

    poe(params, "P_CDEMPRESA", OuTodos(medCdEmpresa->Text()));
    poe(params, "P_NRINSJURIEST", OuTodos(RetSemMascara(medInscrJurid->Text())));

    QString stIE = kTodos;
    if (!Consiste::EmptyString(medIE->Text())) {
        AbreQryIE(medCdEmpresa->Text(), RetSemMascara(medInscrJurid->Text()), medIE->Text());
        exigeLinha(medIE, qryPesqInscrEstad, "IE_N");
        stIE = medIE->Text();
    }
    poe(params, "P_CDINSCESTA", stIE);

    poe(params, "P_CDFILIORIG", OuTodos(medCdFiliOrig->Text()));

    QString stSerie = kTodos;
    if (!Consiste::EmptyString(medCdSerie->Text())) {
        stSerie = medCdSerie->Text();
        AbreQrySerie(stSerie, QString());
        exigeLinha(medCdSerie, qrySerieNF, "SERIE_N");
    }
    poe(params, "P_CDSERIE", stSerie);

    QString stIdEmitente;
    QString stCdEmitente;
    switch (cboEmitente->currentIndex()) {
        case 0:
            stIdEmitente = kTodos;
            stCdEmitente = kTodos;
            break;
        case 1:
            stIdEmitente = QStringLiteral("C");
            stCdEmitente = kTodos;
            if (!Consiste::EmptyString(medCdCliente->Text())) {
                AbreQryCliente(medCdCliente->Text(), QString());
                exigeLinha(medCdCliente, qryCliente, "CLIE_N");
                stCdEmitente = qryCliente->FieldByName(QStringLiteral("CDCLIENTE")).AsString();
            }
            break;
        case 2:
            stIdEmitente = QStringLiteral("F");
            stCdEmitente = kTodos;
            if (!Consiste::EmptyString(medCdFornecedor->Text())) {
                AbreQryFornecedor(medCdFornecedor->Text(), QString());
                exigeLinha(medCdFornecedor, qryFornecedor, "FORN_N");
                stCdEmitente = qryFornecedor->FieldByName(QStringLiteral("CDFORNECED")).AsString();
            }
            break;
        case 3:
            stIdEmitente = QStringLiteral("L");
            stCdEmitente = kTodos;
            if (!Consiste::EmptyString(medCdFilial->Text())) {
                stCdEmitente = qryFilial->FieldByName(QStringLiteral("CDFILIAL")).AsString();
            }
            break;
        default:
            break;
    }
    poe(params, "P_IDORIGDESTNF", stIdEmitente);
    poe(params, "P_CDCLIENTE", stCdEmitente);
    poe(params, "P_CDFORNECED", stCdEmitente);
    poe(params, "P_CDFILIAL", stCdEmitente);

    if (depInicial->IsEmpty()) {
        depInicial->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DTINI_DEVE")), true);
    }
    if (depFinal->IsEmpty()) {
        depFinal->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DTFIN_DEVE")), true);
    }
    if (depInicial->Date() > depFinal->Date()) {
        depFinal->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DATAEMISFIN_DEV")), true);
    }
    poe(params, "P_DTINICIAL", QDateTime(depInicial->Date(), QTime(0, 0)));
    poe(params, "P_DTFINAL", QDateTime(depFinal->Date(), QTime(0, 0)));

    const bool entrada = cboOperacao->currentIndex() == 0;
    poe(params, "P_IDENTRSAIDOP", entrada ? QStringLiteral("E") : QStringLiteral("S"));
    poe(params, "P_IDENTRSAIDNF", entrada ? QStringLiteral("1") : QStringLiteral("0"));

    if (rbtListaOper->isChecked() && stCdTipoOper.isEmpty()) {
        rbtListaOper->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("TIPOOPER_DEV")), true);
    }
    poe(params, "P_CDTIPOOPER", rbtListaOper->isChecked() ? stCdTipoOper : kTodos);

    const QString stSituacaoNF = situacoes(
        {{chkSemSituacao, '0'}, {chkAutorizada, '1'}, {chkDenegada, '2'}, {chkCancelada, '3'}});
    if (stSituacaoNF == QLatin1String("_")) {
        chkSemSituacao->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("SITUACAONF_DEV")), true);
    }
    poe(params, "P_IDSTATUSNFE", stSituacaoNF);
    if (ExistParam(params, QStringLiteral("P_IDSTATUSNFENF"))) {
        QString stStatusNFeNF = stSituacaoNF;
        stStatusNFeNF.replace(u'0', u'P');
        stStatusNFeNF.replace(u'1', u'A');
        stStatusNFeNF.replace(u'2', u'D');
        stStatusNFeNF.replace(u'3', u'C');
        poe(params, "P_IDSTATUSNFENF", stStatusNFeNF);
    }

    const QString stSituacaoManifestacao = situacoes({{chkSemManifestacao, '0'},
                                                      {chkConfirmadaOperacao, '1'},
                                                      {chkDesconhecida, '2'},
                                                      {chkOperacaoNRealizada, '3'},
                                                      {chkCienciaOperacao, '4'}});
    if (stSituacaoManifestacao == QLatin1String("_")) {
        chkSemManifestacao->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("SITUMANIFESTA_DEV")), true);
    }
    poe(params, "P_IDSTATUSMANIF", stSituacaoManifestacao);

    QString stChaveAcesso = kTodos;
    if (!Consiste::EmptyString(medChaveAcesso->Text())) {
        stChaveAcesso = medChaveAcesso->Text();
        if (stChaveAcesso.trimmed().size() != 44) {
            medChaveAcesso->setFocus();
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("CHAVEACES_44")), true);
        }
    }
    poe(params, "P_NRACESSONFE", stChaveAcesso);
}

// ---------------------------------------------------------------------------------------------
// Note copies and counts

void TfrmRelatorio::copiaNotas() {
    TClientDataSet* lista = frmManifestacao ? frmManifestacao->cdsNotasDestinadas : nullptr;
    if (lista && lista->Active()) {
        cdsNotasDestinadas->SetData(lista->Data());
    } else {
        cdsNotasDestinadas->EmptyDataSet();
    }
    // The count looks at every note copied, not at the group the last count left filtered.
    cdsAux->SetFiltered(false);
    cdsAux->SetData(cdsNotasDestinadas->Data());
    if (cdsAux->RecordCount() > 0) {
        Quantidade_Notas();
    }
}

void TfrmRelatorio::Quantidade_Notas() {
    if (!cdsContaNotas->Active()) {
        cdsContaNotas->CreateDataSet();
    } else {
        cdsContaNotas->EmptyDataSet();
    }

    TField& idNota = cdsContaNotas->FieldByName(QStringLiteral("IDNOTA"));
    TField& quantidade = cdsContaNotas->FieldByName(QStringLiteral("Quantidade"));
    for (const GrupoNota& grupo : kGrupos) {
        cdsAux->SetFiltered(false);
        cdsAux->SetFilter(QString::fromLatin1(grupo.filtro));
        cdsAux->SetFiltered(true);
        const double dbQuantidade = cdsAux->RecordCount();
        if (cdsContaNotas->State() == DataSetState::Browse) {
            cdsContaNotas->Insert();
        }
        idNota.SetAsString(QString::fromLatin1(grupo.codigo));
        quantidade.SetAsFloat(dbQuantidade);
        cdsContaNotas->Post();
    }
}

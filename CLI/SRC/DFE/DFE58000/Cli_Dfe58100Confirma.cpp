// Confirming the filter: the criteria checked in their order, the request for the notes, the
// deadline warnings that decide what the list shows, and the criteria kept for verification.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "Rdm_Dfe58000.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "core/messages.h"
#include "rdmmanifestacao.h"
#include "sql/adoibquery.h"
#include "ui/consiste.h"
#include "ui/dateeditplus.h"
#include "ui/dialogs.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"

using namespace host;

namespace {

const QString kTodos = QStringLiteral("T");

QString ouTodos(const QString& text) {
    return Consiste::EmptyString(text) ? kTodos : text;
}

qint64 numeroDaNota(const QString& text) {
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    if (!ok) {
        throw EHostError(QStringLiteral("Número de Nota Fiscal inválido: \"%1\".").arg(text));
    }
    return n;
}

// Whatever way the confirmation ends once its request is being prepared, the print command
// follows the list and the wait window goes away.
class FechoDaConfirmacao {
  public:
    FechoDaConfirmacao() = default;
    ~FechoDaConfirmacao() {
        if (!frmManifestacao) {
            return;
        }
        const TClientDataSet* lista = frmManifestacao->cdsNotasDestinadas;
        const bool linhas = lista->Active() && !lista->IsEmpty();
        frmManifestacao->sbtImprimir->setEnabled(linhas);
        frmManifestacao->mnuListagem->setEnabled(frmManifestacao->sbtImprimir->isEnabled());
    }
    FechoDaConfirmacao(const FechoDaConfirmacao&) = delete;
    FechoDaConfirmacao& operator=(const FechoDaConfirmacao&) = delete;
};

}  // namespace

void TfrmFiltro::sbtConfirmaClick() {
    if (!frmManifestacao) {
        throw EHostError(QStringLiteral(
            "A tela de manifestação não está aberta: não há onde mostrar as notas."));
    }
    boConfirma = true;

    Vd_InscrJurid(true);
    Vd_InscrEstad(false);
    Vd_Filial(medCdFiliOrig, false);
    Vd_Filial(medCdFilial, false);
    if (depInicial->IsEmpty()) {
        depInicial->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DATAINI_DEVE")), true);
    }
    if (depFinal->IsEmpty()) {
        depFinal->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DATAFIN_DEVE")), true);
    }
    confereData(depInicial);
    confereData(depFinal);
    if (depInicial->Date() > depFinal->Date()) {
        depFinal->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("DATAEMISFIN_DEV")), true);
    }

    stSituacaoNF =
        Rdm_Dfe58000::ListaSituacoesNF(chkSemSituacao->isChecked(), chkAutorizada->isChecked(),
                                       chkDenegada->isChecked(), chkCancelada->isChecked());
    stSituacaoManifesta = Rdm_Dfe58000::ListaSituacoesManif(
        chkSemManifestacao->isChecked(), chkConfirmadaOperacao->isChecked(),
        chkDesconhecida->isChecked(), chkOperacaoNRealizada->isChecked(),
        chkCienciaOperacao->isChecked(), chkRejeitada->isChecked());
    stSincronizacao = Rdm_Dfe58000::ListaSincronizacao(
        ckcInexistenteSefaz->isChecked(), ckcInexistenteSistema->isChecked(),
        ckcSefazSistema->isChecked(), ckcSefazXML->isChecked());

    FechoDaConfirmacao fecho;

    const QString nenhuma = QStringLiteral("_");
    if (stSituacaoNF == nenhuma) {
        chkSemSituacao->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("SITUNF_DEV")), true);
    }
    if (stSituacaoManifesta == nenhuma) {
        chkSemManifestacao->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("SITU_DEV")), true);
    }
    if (stSincronizacao == nenhuma) {
        ckcInexistenteSefaz->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("SITUSI_DEV")), true);
    }

    // Both note numbers empty: any number; the final one then goes as the last attempt left it.
    if (Consiste::EmptyString(medNotaFinal->Text()) &&
        Consiste::EmptyString(medNotaInicial->Text())) {
        stNrNotaInicial = kTodos;
    } else {
        if (Consiste::EmptyString(medNotaInicial->Text())) {
            medNotaInicial->setFocus();
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("NOTAINI_DEV")), true);
        }
        if (Consiste::EmptyString(medNotaFinal->Text())) {
            medNotaFinal->setFocus();
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("NOTAFIN_DEV")), true);
        }
        stNrNotaInicial = medNotaInicial->Text();
        stNrNotaFinal = medNotaFinal->Text();
    }
    if (stNrNotaInicial != kTodos && numeroDaNota(stNrNotaInicial) > numeroDaNota(stNrNotaFinal)) {
        medNotaInicial->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("NOTAINI_MENOR")), true);
    }

    if (Consiste::EmptyString(edtChaveAcesso->text())) {
        stChaveAcesso = kTodos;
    } else if (edtChaveAcesso->text().trimmed().size() != 44) {
        edtChaveAcesso->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("CHAVE_DEV44")), true);
    } else {
        stChaveAcesso = edtChaveAcesso->text();
    }

    stInscEstadual = ouTodos(medIE->Text());
    stFiliOrig = ouTodos(medCdFiliOrig->Text());
    stSerie = ouTodos(medCdSerie->Text());

    const int emitente = cboEmitente->currentIndex();
    stIdEmitente = Rdm_Dfe58000::TipoEmitente(emitente);
    stEmitente = stIdEmitente.isEmpty() ? QString() : kTodos;
    if (emitente == 1 && !Consiste::EmptyString(medCdCliente->Text())) {
        AbreQryCliente(medCdCliente->Text(), QString());
        exigeLinha(medCdCliente, qryCliente, "CLI_NCAD");
        stEmitente = qryCliente->FieldByName(QStringLiteral("CDCLIENTE")).AsString();
    } else if (emitente == 2 && !Consiste::EmptyString(medCdFornecedor->Text())) {
        AbreQryFornecedor(medCdFornecedor->Text(), QString());
        exigeLinha(medCdFornecedor, qryFornecedor, "FOR_NCAD");
        stEmitente = qryFornecedor->FieldByName(QStringLiteral("CDFORNECED")).AsString();
    } else if (emitente == 3) {
        stEmitente = ouTodos(medCdFilial->Text());
    }

    if (rbtListaOper->isChecked() && stFiltroCdTipoOper.isEmpty()) {
        rbtListaOper->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("TIPOOPER_DEV")), true);
    }
    const QString stTipooper = rbtListaOper->isChecked() ? stFiltroCdTipoOper : kTodos;
    stFiltroIdEntrsaidOp = Rdm_Dfe58000::IdEntrSaidOp(cboOperacao->currentIndex());

    ShowAviGuard avi(frmManifestacao, Showavi::kConsultando);

    TNotasDestinadasArgs args;
    args.stSituacaoNF = stSituacaoNF;
    args.stSituacaoManifesta = stSituacaoManifesta;
    args.stNrNotaInicial = stNrNotaInicial;
    args.stNrNotaFinal = stNrNotaFinal;
    args.stChaveAcesso = stChaveAcesso;
    args.stFiliOrig = stFiliOrig;
    args.stSerie = stSerie;
    args.stIdEmitente = stIdEmitente;
    args.stEmitente = stEmitente;
    args.stTipoOper = stTipooper;
    args.stFiltroIdEntrsaidOp = stFiltroIdEntrsaidOp;
    args.stCdEmpresa = frmManifestacao->medCdEmpresa->Text();
    args.stInscEstadual = stInscEstadual;
    args.dtIniEmis = depInicial->Date();
    args.dtFinEmis = depFinal->Date();
    args.stSincronizacao = stSincronizacao;
    args.stInscrJurid = medInscrJurid->Text();
    const QVariantList OleResult = Rdm_Dfe58000::GetNotasDestinadas(args);

    using namespace rdmManifestacao::GetNotasDestinadas;
    if (OleResult.at(Status).toString() != QLatin1String(kOk)) {
        // Refused by the server: the list stays, its marks no longer counted. A call that got
        // no answer, or one that cannot be read, changes nothing.
        frmManifestacao->stManifestacao.clear();
        inMarcados = 0;
        Consiste::MensErro(OleResult.at(Mensagem).toString(), true);
    }

    // The three lists of the answer are checked before the clerk is told of any of them.
    const QByteArray notas = Rdm_Dfe58000::Pacote(OleResult.at(Notas), kName);
    const QByteArray prazoProximo = Rdm_Dfe58000::Pacote(OleResult.at(NotasPrazoProximo), kName);
    const QByteArray manifestarAgora =
        Rdm_Dfe58000::Pacote(OleResult.at(NotasManifestarAgora), kName);
    const QList<FieldDef> campos = frmManifestacao->cdsNotasDestinadas->FieldDefs();
    for (const QByteArray* pacote : {&notas, &prazoProximo, &manifestarAgora}) {
        Rdm_Dfe58000::ConfereLayout(*pacote, campos, kName, QStringLiteral("A lista de notas"));
    }

    // The list shows the notes due now when there are any, else, if the clerk wants them, those
    // near their limit, else every note found. The choice is made before the list is loaded, so
    // a long list is loaded once.
    TClientDataSet* temp = frmManifestacao->cdsNotasTemp;
    QByteArray mostrar = notas;
    Rdm_Dfe58000::CarregaPacote(*temp, manifestarAgora, kName);
    if (!temp->IsEmpty()) {
        dialogs().message(msgPadrao->Msg(QStringLiteral("MENSAGEM_BLOQUEIO")), MsgType::Error,
                          MsgButton::Ok, this);
        mostrar = manifestarAgora;
    } else {
        Rdm_Dfe58000::CarregaPacote(*temp, prazoProximo, kName);
        if (!temp->IsEmpty() &&
            dialogs().message(msgPadrao->Msg(QStringLiteral("AVISO_PRAZOLIMITE")), MsgType::Warning,
                              MsgButton::Yes | MsgButton::No, this) == MsgButton::Yes) {
            mostrar = prazoProximo;
        }
    }
    temp->Close();
    frmManifestacao->CarregaNotas(mostrar);
    frmManifestacao->stManifestacao.clear();

    guardaFiltro(stTipooper);
    close();
}

void TfrmFiltro::guardaFiltro(const QString& stTipooper) {
    TRecordFilter& f = Filtro;
    f.stTipoOper = stTipooper;
    f.stChaveAcesso = stChaveAcesso;
    f.stCdInscEsta = medIE->Text();
    f.stCdFiliOrig = stFiliOrig;
    f.stNmFiliOrig = medNmFiliOrig->Text();
    f.stCdSerie = stSerie;
    f.inCbbIndex = cboEmitente->currentIndex();
    switch (f.inCbbIndex) {
        case 0:
            f.stNrInsClie.clear();
            f.stCdCliente.clear();
            f.stNmRazClie.clear();
            f.stCdFilial.clear();
            f.stCodFilial.clear();
            f.stNmFilial.clear();
            f.stNrInsForn.clear();
            f.stCdFornec.clear();
            f.stNmRazForn.clear();
            break;
        case 1:
            AbreQryCliente(medCdCliente->Text(), QString());
            f.stNrInsClie = medCdCliente->Text();
            f.stCdCliente = Consiste::EmptyString(medCdCliente->Text())
                                ? kTodos
                                : qryCliente->FieldByName(QStringLiteral("CDCLIENTE")).AsString();
            f.stNmRazClie = medNmCliente->Text();
            break;
        case 2:
            AbreQryFornecedor(medCdFornecedor->Text(), QString());
            f.stNrInsForn = medCdFornecedor->Text();
            f.stCdFornec =
                Consiste::EmptyString(medCdFornecedor->Text())
                    ? kTodos
                    : qryFornecedor->FieldByName(QStringLiteral("CDFORNECED")).AsString();
            f.stNmRazForn = medNmFornecedor->Text();
            break;
        case 3:
            f.stCdFilial = medCdFilial->Text();
            f.stCodFilial = ouTodos(medCdFilial->Text());
            f.stNmFilial = medNmFilial->Text();
            break;
        default:
            break;
    }
    f.dtIniEmis = depInicial->Date();
    f.dtFinEmis = depFinal->Date();
    f.inCbbIdOper = cboOperacao->currentIndex();
    f.boTipoOper = rbtTodosOper->isChecked();
    f.boSemSituacao = chkSemSituacao->isChecked();
    f.boAceita = chkAutorizada->isChecked();
    f.boDenegada = chkDenegada->isChecked();
    f.boCancelada = chkCancelada->isChecked();
    f.boSemManif = chkSemManifestacao->isChecked();
    f.boCiencia = chkCienciaOperacao->isChecked();
    f.boDesconhecida = chkDesconhecida->isChecked();
    f.boConfirmada = chkConfirmadaOperacao->isChecked();
    f.boNaoRealizada = chkOperacaoNRealizada->isChecked();
    f.boRejeitada = chkRejeitada->isChecked();
    f.stNrNotaIni = medNotaInicial->Text();
    f.stNrNotaFim = medNotaFinal->Text();
    f.boInexistenteSefaz = ckcInexistenteSefaz->isChecked();
    f.boInexistenteSistema = ckcInexistenteSistema->isChecked();
    f.boSefazSistema = ckcSefazSistema->isChecked();
    f.boSefazXml = ckcSefazXML->isChecked();
    f.stInscrJurid = medInscrJurid->Text();
}

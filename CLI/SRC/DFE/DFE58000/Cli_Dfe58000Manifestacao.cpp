// The manifestation events: Ciência, Confirmação and Desconhecimento sent from the toolbar for
// every marked note, and the way into the justification dialog of Operação não Realizada. Each
// send ends with the result popup and a verification, so the list shows the new situations.

#include <optional>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "Cli_Dfe58110.h"
#include "Cli_Dfe58140.h"
#include "Cli_Dfe58160.h"
#include "Rdm_Dfe58000.h"
#include "core/messages.h"
#include "core/orvanta.h"
#include "rdmmanifestacao.h"
#include "ui/consiste.h"
#include "ui/dateeditplus.h"
#include "ui/dialogs.h"
#include "ui/maskedit.h"
#include "ui/numberedit.h"
#include "ui/showavi.h"

using namespace host;

namespace rm = rdmManifestacao::setManifestacao;

namespace {

bool pergunta(TfrmManifestacao* form, const QString& key) {
    return dialogs().message(form->msgPadrao->Msg(key), MsgType::Warning,
                             MsgButton::Yes | MsgButton::No, form) == MsgButton::Yes;
}

}  // namespace

void TfrmManifestacao::sbtCienciaClick() {
    ExecutaManifestacao(QStringLiteral("4"));
}

void TfrmManifestacao::sbtConfirmaOperacaoClick() {
    ExecutaManifestacao(QStringLiteral("1"));
}

void TfrmManifestacao::sbtDesconhecimentoClick() {
    if (pergunta(this, QStringLiteral("CONFIRMAR_IMPXML"))) {
        ExecutaManifestacao(QStringLiteral("2"));
    }
}

void TfrmManifestacao::ExecutaManifestacao(const QString& P_TIPOMANIFESTA) {
    if (!frmFiltro || Consiste::EmptyString(frmFiltro->medInscrJurid->Text())) {
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_DEVE")), true);
    }
    if (inMarcados == 0) {
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("PRECISO_SELECIONAR")), true);
    }
    if (inMarcados >= 2 && !pergunta(this, QStringLiteral("MANI_AVISO"))) {
        return;
    }
    InsereCdsFiltrado();
    {
        std::optional<ShowAviGuard> avi(std::in_place, this, Showavi::kProcessando);
        const QVariantList resultado =
            Rdm_Dfe58000::setManifestacao(frmFiltro->medInscrJurid->Text(), cdsMarcados->Data(),
                                          P_TIPOMANIFESTA, QString(), Orvanta::Operador());
        if (resultado.at(rm::Status).toString() == QLatin1String(rm::kErro)) {
            Consiste::MensErro(resultado.at(rm::Mensagem).toString(), true);
        }
        PreparaResultado(resultado);
        avi.reset();
        MostraResultado();
    }
    // The list is queried again: the marks go and the new situations show.
    sbtVerificarClick();
}

void TfrmManifestacao::sbtOperacaoNRealizadaClick() {
    if (inMarcados == 0) {
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("PRECISO_SELECIONAR")), true);
    }
    if (!pergunta(this, QStringLiteral("CONFIRMAR_IMPXML"))) {
        return;
    }
    if (inMarcados >= 2 && !pergunta(this, QStringLiteral("MANI_AVISO"))) {
        return;
    }
    if (!frmOperacaoNRealizada) {
        frmOperacaoNRealizada = new TfrmOperacaoNRealizada(this);
        frmOperacaoNRealizada->DoCreate();
    }
    TfrmOperacaoNRealizada& dlg = *frmOperacaoNRealizada;
    InsereCdsFiltrado();
    const bool umaNota = cdsMarcados->RecordCount() == 1;
    dlg.panNota->setVisible(umaNota);
    if (umaNota) {
        // The marked note, read where it stands in the list (the cursor does not move).
        const TClientDataSet& ds = *cdsNotasDestinadas;
        const TField& marca = ds.FieldByName(QStringLiteral("IDMARCADO"));
        for (int i = 0; i < ds.RecordCount(); ++i) {
            if (marca.ValueAt(i).toString().compare(QStringLiteral("S"), Qt::CaseInsensitive)) {
                continue;
            }
            auto valor = [&](const char* field) {
                return ds.FieldByName(QLatin1String(field)).ValueAt(i);
            };
            dlg.medInscricao->SetText(valor("NRINSJURNFORIG").toString());
            dlg.medRazaoSocial->SetText(valor("NMRAZSOCEMIT").toString());
            dlg.depEmissao->SetDate(valor("DTEMISSAO").toDateTime().date());
            dlg.medNrNotaFisc->SetText(valor("NRNOTAFISC").toString());
            dlg.nedValor->SetValue(valor("VRNOTAFISC").toDouble());
            dlg.medChaveAcesso->SetText(valor("NRACESSONF").toString());
            break;
        }
    }
    dlg.ShowModal();
    sbtVerificarClick();
}

void TfrmManifestacao::FormulariosDeResultado() {
    // Owned by the workspace: they go with it, and their unit variables are cleared then.
    if (!frmPopUp) {
        frmPopUp = new TfrmPopUp(dtsNotasErradas, this);
        frmPopUp->DoCreate();
    }
    if (!frmConcluiXML) {
        frmConcluiXML = new TfrmConcluiXML(this);
        frmConcluiXML->DoCreate();
    }
}

void TfrmManifestacao::PreparaResultado(const QVariantList& resultado) {
    FormulariosDeResultado();
    if (cdsNotasErradas->Active() && !cdsNotasErradas->IsEmpty()) {
        cdsNotasErradas->EmptyDataSet();
    }
    cdsNotasErradas->SetData(resultado.at(rm::NotasErradas).toByteArray());
    frmPopUp->stPopEnviado = QString::number(cdsMarcados->RecordCount());
    frmPopUp->stPopSucesso = resultado.at(rm::Registrados).toString();
    frmPopUp->stPopErro = resultado.at(rm::Erros).toString();
}

void TfrmManifestacao::MostraResultado() {
    frmPopUp->ShowModal();
}

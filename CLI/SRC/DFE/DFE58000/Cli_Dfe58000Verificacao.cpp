// Verification: the notes of the last confirmed filter asked for again, so the situations on
// screen are current. Every command that changes notes on the server ends with it.

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "Rdm_Dfe58000.h"
#include "core/messages.h"
#include "rdmmanifestacao.h"
#include "ui/consiste.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"

using namespace host;

void TfrmManifestacao::sbtVerificarClick() {
    if (!frmFiltro) {
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("FILTRO_DEV")), true);
    }
    if (Consiste::EmptyString(frmFiltro->medInscrJurid->Text())) {
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_DEVE")), true);
    }
    ShowAviGuard avi(this, Showavi::kConsultando);

    // The criteria of the last confirmation, whatever the dialog's controls show now.
    const TRecordFilter& f = frmFiltro->Filtro;
    TNotasDestinadasArgs args;
    args.stSituacaoNF =
        Rdm_Dfe58000::ListaSituacoesNF(f.boSemSituacao, f.boAceita, f.boDenegada, f.boCancelada);
    args.stSituacaoManifesta =
        Rdm_Dfe58000::ListaSituacoesManif(f.boSemManif, f.boConfirmada, f.boDesconhecida,
                                          f.boNaoRealizada, f.boCiencia, f.boRejeitada);
    args.stNrNotaInicial = f.stNrNotaIni;
    args.stNrNotaFinal = f.stNrNotaFim;
    args.stChaveAcesso = f.stChaveAcesso;
    args.stFiliOrig = f.stCdFiliOrig;
    args.stSerie = f.stCdSerie;
    args.stIdEmitente = Rdm_Dfe58000::TipoEmitente(f.inCbbIndex);
    switch (f.inCbbIndex) {
        case 0:
            args.stEmitente = QStringLiteral("T");
            break;
        case 1:
            args.stEmitente = f.stCdCliente;
            break;
        case 2:
            args.stEmitente = f.stCdFornec;
            break;
        case 3:
            args.stEmitente = f.stCodFilial;
            break;
        default:
            break;
    }
    args.stTipoOper = f.stTipoOper;
    args.stFiltroIdEntrsaidOp = Rdm_Dfe58000::IdEntrSaidOp(f.inCbbIdOper);
    args.stCdEmpresa = medCdEmpresa->Text();
    args.stInscEstadual = frmFiltro->stInscEstadual;
    args.dtIniEmis = f.dtIniEmis;
    args.dtFinEmis = f.dtFinEmis;
    args.stSincronizacao = Rdm_Dfe58000::ListaSincronizacao(
        f.boInexistenteSefaz, f.boInexistenteSistema, f.boSefazSistema, f.boSefazXml);
    args.stInscrJurid = f.stInscrJurid;

    const QVariantList resultado = Rdm_Dfe58000::GetNotasDestinadas(args);
    using namespace rdmManifestacao::GetNotasDestinadas;
    if (resultado.at(Status).toString() != QLatin1String(kOk)) {
        // Refused by the server: the list stays as it is, its marks no longer counted. A call
        // that got no answer, or one that cannot be read, changes nothing.
        inMarcados = 0;
        Consiste::MensErro(resultado.at(Mensagem).toString(), true);
    }
    CarregaNotas(Rdm_Dfe58000::Pacote(resultado.at(Notas), kName));
}

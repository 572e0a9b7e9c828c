// The toolbar commands beyond the events: the XML files of the marked notes, generated or
// downloaded by the server into a directory the clerk chooses, and the suite's modules of
// document viewing and NF-e synchronisation. Each ends with a verification, so the list shows
// the notes as they now stand.

#include <optional>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58000ArquivoXml.h"
#include "Cli_Dfe58100.h"
#include "Cli_Dfe58160.h"
#include "Rdm_Dfe58000.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "core/messages.h"
#include "core/orvanta.h"
#include "rdmmanifestacao.h"
#include "ui/consiste.h"
#include "ui/dialogs.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"

using namespace host;

namespace {

// A count of the server's answer, which comes as text.
int contagem(const QVariant& valor, const char* metodo) {
    bool ok = false;
    const int n = valor.toString().trimmed().toInt(&ok);
    if (!ok) {
        Rdm_Dfe58000::RespostaInvalida(
            metodo, QStringLiteral("A contagem \"%1\" não é um número.").arg(valor.toString()));
    }
    return n;
}

}  // namespace

QString TfrmManifestacao::EscolheDiretorio() {
    const QString escolhido = dialogs().chooseDirectory(
        QStringLiteral("Selecione o diretório dos arquivos XML"), QString(), true, this);
    if (escolhido.isEmpty()) {
        return {};
    }
    // Refused before anything is asked of the server: a download spent on a directory that
    // cannot take the files would count against the hourly limit for nothing.
    ArquivoXml::VerificaGravavel(escolhido);
    return ArquivoXml::ComSeparador(escolhido);
}

void TfrmManifestacao::GravaArquivosXml(const QVariant& documentos, const char* metodo,
                                        const QString& stDiretorio) {
    Rdm_Dfe58000::CarregaPacote(*cdsDocumentoXML, documentos, metodo);
    const ArquivoXml::Resultado gravacao = ArquivoXml::Grava(*cdsDocumentoXML, stDiretorio);
    const QString recusas = ArquivoXml::TextoRecusas(gravacao.recusas);
    if (!recusas.isEmpty()) {
        dialogs().message(recusas, MsgType::Warning, MsgButton::Ok, this);
    }
}

void TfrmManifestacao::sbtGeraXMLClick() {
    namespace gx = rdmManifestacao::GeraXml;
    const QString stDiretorio = EscolheDiretorio();
    if (stDiretorio.isEmpty()) {
        return;
    }
    InsereCdsFiltrado();
    QVariantList oleGeraXML;
    {
        ShowAviGuard avi(this, Showavi::kProcessando, msgPadrao->Msg(QStringLiteral("GeraXml")));
        oleGeraXML = Rdm_Dfe58000::GeraXml(cdsMarcados->Data(), Orvanta::Operador());
    }
    if (oleGeraXML.at(gx::Status).toString() != QLatin1String(gx::kOk)) {
        Consiste::MensErro(oleGeraXML.at(gx::Mensagem).toString(), true);
    }
    // The whole answer is read before any file is written.
    const int inSucesso = contagem(oleGeraXML.at(gx::Gerados), gx::kName);
    const int inErro = contagem(oleGeraXML.at(gx::NaoGerados), gx::kName);
    GravaArquivosXml(oleGeraXML.at(gx::Documentos), gx::kName, stDiretorio);
    FormulariosDeResultado();
    frmConcluiXML->stIdMensagem = QStringLiteral("G");
    frmConcluiXML->stSucesso = QString::number(inSucesso);
    frmConcluiXML->stErro = QString::number(inErro);
    frmConcluiXML->ShowModal();
    sbtVerificarClick();
}

void TfrmManifestacao::sbtDownloadXMLClick() {
    namespace dx = rdmManifestacao::DownloadXML;
    const QString stDiretorio = EscolheDiretorio();
    if (stDiretorio.isEmpty()) {
        return;
    }
    InsereCdsFiltrado();
    QVariantList oleResult;
    {
        ShowAviGuard avi(this, Showavi::kConsultando,
                         msgPadrao->Msg(QStringLiteral("REALIZANDO_DOWN")));
        oleResult = Rdm_Dfe58000::DownloadXML(
            cdsMarcados->Data(), frmFiltro ? frmFiltro->medInscrJurid->Text() : QString(),
            Orvanta::Operador());
        const QString status = oleResult.at(dx::Status).toString();
        if (status == QLatin1String(dx::kErro) || status == QLatin1String(dx::kErroDown)) {
            Consiste::MensErro(oleResult.at(dx::Mensagem).toString(), true);
        }
    }
    const QString status = oleResult.at(dx::Status).toString();
    const bool soLimite = status == QLatin1String(dx::kLimite);
    // The whole answer is read before any file is written.
    int inSucesso = 0, inErro = 0;
    if (!soLimite) {
        inSucesso = contagem(oleResult.at(dx::Recebidos), dx::kName);
        inErro = contagem(oleResult.at(dx::NaoRecebidos), dx::kName);
    }
    GravaArquivosXml(oleResult.at(dx::Documentos), dx::kName, stDiretorio);
    if (soLimite) {
        FormulariosDeResultado();
        frmConcluiXML->stIdMensagem = QStringLiteral("L");
        frmConcluiXML->ShowModal();
        sbtVerificarClick();
        return;
    }
    FormulariosDeResultado();
    if (status == QLatin1String(dx::kLimiteParcial)) {
        dialogs().message(msgPadrao->Msg(QStringLiteral("LIMITE_CONSULTA")), MsgType::Warning,
                          MsgButton::Ok, this);
    }
    frmConcluiXML->stIdMensagem = QStringLiteral("D");
    frmConcluiXML->stSucesso = QString::number(inSucesso);
    frmConcluiXML->stErro = QString::number(inErro);
    frmConcluiXML->ShowModal();
    sbtVerificarClick();
}

void TfrmManifestacao::sbtVisualizarDocumentoClick() {
    const TClientDataSet& ds = *cdsNotasDestinadas;
    Orvanta::LoadBPL(QStringLiteral("DFE15200"),
                     QVariantList{ds.FieldByName(QStringLiteral("CDFILIAL")).AsString(),
                                  ds.FieldByName(QStringLiteral("NRLANCTONF")).AsString()});
}

void TfrmManifestacao::sbtSincronizarNFEClick() {
    if (!frmFiltro || Consiste::EmptyString(frmFiltro->medInscrJurid->Text())) {
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_DEVE")), true);
    }
    Orvanta::LoadBPL(QStringLiteral("DFE59000"), QVariantList{frmFiltro->medInscrJurid->Text()});
    sbtVerificarClick();
}

#pragma once

// The module's calls to the application server's remote module rdmManifestacao, through the
// workspace's connection netManifestacao: one function per method, each giving back the answer
// as Consiste::CheckResultServ checked it (a plain error text is reported there and ends the
// operation). The argument encodings that more than one handler sends are built here too, so
// the filter's confirmation and the verification send the same request the same way.

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QVariantList>

namespace host {
class TClientDataSet;
struct FieldDef;
}  // namespace host

#ifndef DFE58000_EXPORT
#define DFE58000_EXPORT __attribute__((visibility("default")))
#endif

// The seventeen arguments of GetNotasDestinadas. "T" in a string means any value.
struct DFE58000_EXPORT TNotasDestinadasArgs {
    QString stSituacaoNF;          // NF-e situations, ListaSituacoesNF
    QString stSituacaoManifesta;   // manifestation situations, ListaSituacoesManif
    QString stNrNotaInicial;       // note numbers from, or "T"
    QString stNrNotaFinal;         // note numbers to
    QString stChaveAcesso;         // access key, or "T"
    QString stFiliOrig;            // origin branch, or "T"
    QString stSerie;               // series, or "T"
    QString stIdEmitente;          // issuer kind, TipoEmitente
    QString stEmitente;            // issuer code, or "T"
    QString stTipoOper;            // operation types, or "T"
    QString stFiltroIdEntrsaidOp;  // "E" or "S", IdEntrSaidOp
    QString stCdEmpresa;           // company code
    QString stInscEstadual;        // state registration, or "T"
    QDate dtIniEmis;               // issue date from
    QDate dtFinEmis;               // issue date to
    QString stSincronizacao;       // synchronisation situations, ListaSincronizacao
    QString stInscrJurid;          // the company's legal registration
};

namespace Rdm_Dfe58000 {

// Situation lists: "_" followed by the code and "_" of each situation switched on, in the
// order of the arguments ("_0_1_2_3_" with all on, "_" with none).
DFE58000_EXPORT QString ListaSituacoesNF(bool semSituacao, bool autorizada, bool denegada,
                                         bool cancelada);
DFE58000_EXPORT QString ListaSituacoesManif(bool semManifestacao, bool confirmada,
                                            bool desconhecida, bool naoRealizada, bool ciencia,
                                            bool rejeitada);
DFE58000_EXPORT QString ListaSincronizacao(bool inexistenteSefaz, bool inexistenteSistema,
                                           bool sefazSistema, bool sefazXml);
// Issuer kind by the index of the filter's issuer combo: 0 "T", 1 "C" (client), 2 "F"
// (supplier), 3 "L" (branch); any other index "" (the server then takes any issuer).
DFE58000_EXPORT QString TipoEmitente(int inCbbIndex);
// Direction of the operation by the index of the filter's operation combo: 0 "E", else "S".
DFE58000_EXPORT QString IdEntrSaidOp(int inCbbIdOper);

// The call itself; the answer's elements are named by rdmManifestacao::GetNotasDestinadas.
DFE58000_EXPORT QVariantList GetNotasDestinadas(const TNotasDestinadasArgs& args);
// The company's legal registrations: element 0 "S" and element 1 their packet, or element 1
// the reason of a refusal.
DFE58000_EXPORT QVariantList getCarregaPesquisas(const QString& stCdEmpresa);
// One manifestation event ("1".."4") for every note of the marked-notes packet; the answer's
// elements are named by rdmManifestacao::setManifestacao and are always all there (missing ones
// empty), so a short answer is never read out of bounds.
DFE58000_EXPORT QVariantList setManifestacao(const QString& stInscrJurid,
                                             const QByteArray& cdsMarcados,
                                             const QString& P_TIPOMANIFESTA,
                                             const QString& stJustificativa,
                                             const QString& stOperador);
// The XML documents of the marked notes, generated (GeraXml) or downloaded (DownloadXML); the
// answers' elements are named by rdmManifestacao::GeraXml and ::DownloadXML and are always all
// there.
DFE58000_EXPORT QVariantList GeraXml(const QByteArray& cdsMarcados, const QString& stOperador);
DFE58000_EXPORT QVariantList DownloadXML(const QByteArray& cdsMarcados, const QString& stInscrJurid,
                                         const QString& stOperador);

// What an answer carries, read as the module reads it. An answer the module cannot read is the
// server's fault and is reported as such: host::EHostError "Resposta inválida do servidor de
// aplicação HOST:PORT para METHOD. DETAIL", with whatever was to receive it left as it was.
//
// The packet of an element of the answer to metodo; any other value is refused.
DFE58000_EXPORT QByteArray Pacote(const QVariant& elemento, const char* metodo);
// The packet of an element loaded into ds (SetData: built on the side, ds untouched on failure).
DFE58000_EXPORT void CarregaPacote(host::TClientDataSet& ds, const QVariant& elemento,
                                   const char* metodo);
// A packet whose fields are not campos (each by name, of its type; texts of either kind) is
// refused before anything is loaded from it. oQue names the packet in the message.
DFE58000_EXPORT void ConfereLayout(const QByteArray& pacote, const QList<host::FieldDef>& campos,
                                   const char* metodo, const QString& oQue);
[[noreturn]] DFE58000_EXPORT void RespostaInvalida(const char* metodo, const QString& detalhe);

}  // namespace Rdm_Dfe58000

#pragma once

// The remote module rdmManifestacao of the application server DFE58000, as both sides see it:
// each method's name, its positional arguments in call order (name and kind) and the elements of
// its result array. The module builds its calls from these indexes and the server checks and
// reads its requests with them, so an argument's place is written down once, here.

#include <array>
#include <span>

namespace rdmManifestacao {

inline constexpr char kServerName[] = "DFE58000.rdmManifestacao";

enum class ArgKind {
    Text,    // a string
    Date,    // a date (the server also takes a date-time and uses its date)
    Packet,  // a data packet (a client data set's whole content)
};

struct ArgSpec {
    const char* name;
    ArgKind kind;
    // The client may leave the argument unset (sent as null); the server reads it as "".
    bool mayBeUnset = false;
};

struct MethodSpec {
    const char* name;
    std::span<const ArgSpec> args;
};

// Results are arrays indexed 0 to 4; counts travel as decimal text.
inline constexpr int kResultSize = 5;

namespace GetNotasDestinadas {
inline constexpr char kName[] = "GetNotasDestinadas";
enum Arg : int {
    stSituacaoNF,          // NF-e situations: "_0_1_2_3_", "_" for none, "T" for all
    stSituacaoManifesta,   // manifestation situations, the same way
    stNrNotaInicial,       // note numbers from; "T" lifts the range, "" no lower bound
    stNrNotaFinal,         // note numbers to; "" (or unset) no upper bound
    stChaveAcesso,         // access key or "T"
    stFiliOrig,            // origin branch or "T"
    stSerie,               // series or "T"
    stIdEmitente,          // issuer kind "T", "C", "F", "L" (or empty)
    stEmitente,            // issuer code or "T"
    stTipoOper,            // operation types "01,05" or "T"
    stFiltroIdEntrsaidOp,  // direction "E" or "S"
    stCdEmpresa,           // company code
    stInscEstadual,        // state registration or "T"
    dtIniEmis,             // issue date from
    dtFinEmis,             // issue date to
    stSincronizacao,       // synchronisation situations, as the other lists
    stInscrJurid,          // the company's legal registration (CNPJ/CPF)
    kArgCount
};
inline constexpr std::array<ArgSpec, kArgCount> kArgs = {{
    {"stSituacaoNF", ArgKind::Text},
    {"stSituacaoManifesta", ArgKind::Text},
    {"stNrNotaInicial", ArgKind::Text},
    {"stNrNotaFinal", ArgKind::Text, true},
    {"stChaveAcesso", ArgKind::Text},
    {"stFiliOrig", ArgKind::Text},
    {"stSerie", ArgKind::Text},
    {"stIdEmitente", ArgKind::Text},
    {"stEmitente", ArgKind::Text},
    {"stTipoOper", ArgKind::Text},
    {"stFiltroIdEntrsaidOp", ArgKind::Text},
    {"stCdEmpresa", ArgKind::Text},
    {"stInscEstadual", ArgKind::Text},
    {"dtIniEmis", ArgKind::Date},
    {"dtFinEmis", ArgKind::Date},
    {"stSincronizacao", ArgKind::Text},
    {"stInscrJurid", ArgKind::Text},
}};
enum Result : int {
    Status,                // "OK" on success
    Mensagem,              // the failure's text
    Notas,                 // packet: every matching note
    NotasPrazoProximo,     // packet: those near the limit for a conclusive manifestation
    NotasManifestarAgora,  // packet: those that must be manifested now
};
inline constexpr char kOk[] = "OK";
}  // namespace GetNotasDestinadas

namespace setManifestacao {
inline constexpr char kName[] = "setManifestacao";
enum Arg : int {
    stInscrJurid,     // the company's legal registration (author of the events)
    cdsMarcados,      // packet of the marked notes (NRACESSONF, IDCONSULTADO)
    P_TIPOMANIFESTA,  // "1" Confirmação, "2" Desconhecimento, "3" Não Realizada, "4" Ciência
    stJustificativa,  // empty except for "3"
    stOperador,       // the operator's code
    kArgCount
};
inline constexpr std::array<ArgSpec, kArgCount> kArgs = {{
    {"stInscrJurid", ArgKind::Text},
    {"cdsMarcados", ArgKind::Packet},
    {"P_TIPOMANIFESTA", ArgKind::Text},
    {"justificativa", ArgKind::Text},
    {"operador", ArgKind::Text},
}};
enum Result : int {
    Status,        // "ERRO" when the request could not be processed
    Mensagem,      // the failure's text
    Registrados,   // events registered
    Erros,         // events rejected
    NotasErradas,  // packet: the rejected notes with their reasons
};
inline constexpr char kErro[] = "ERRO";
}  // namespace setManifestacao

namespace getCarregaPesquisas {
inline constexpr char kName[] = "getCarregaPesquisas";
enum Arg : int { stCdEmpresa, kArgCount };
inline constexpr std::array<ArgSpec, kArgCount> kArgs = {{
    {"stCdEmpresa", ArgKind::Text},
}};
// A plain string instead of the array is an error text.
enum Result : int {
    Status,      // "S" on success
    Inscricoes,  // packet (NRINSJURIEST, IDTPIJURIEST), or the failure's text
};
inline constexpr char kOk[] = "S";
}  // namespace getCarregaPesquisas

namespace GeraXml {
inline constexpr char kName[] = "GeraXml";
enum Arg : int { cdsMarcados, stOperador, kArgCount };
inline constexpr std::array<ArgSpec, kArgCount> kArgs = {{
    {"cdsMarcados", ArgKind::Packet},
    {"operador", ArgKind::Text},
}};
enum Result : int { Status, Mensagem, Gerados, NaoGerados, Documentos };
inline constexpr char kOk[] = "S";
}  // namespace GeraXml

namespace DownloadXML {
inline constexpr char kName[] = "DownloadXML";
enum Arg : int { cdsMarcados, stInscrJurid, stOperador, kArgCount };
inline constexpr std::array<ArgSpec, kArgCount> kArgs = {{
    {"cdsMarcados", ArgKind::Packet},
    {"stInscrJurid", ArgKind::Text},
    {"operador", ArgKind::Text},
}};
enum Result : int { Status, Mensagem, Recebidos, NaoRecebidos, Documentos };
inline constexpr char kErro[] = "ERRO";
inline constexpr char kErroDown[] = "ERRO_DOWN";
inline constexpr char kLimite[] = "L";           // the hourly limit was already reached
inline constexpr char kLimiteParcial[] = "LCA";  // the limit was reached part-way
}  // namespace DownloadXML

// Every method, for a dispatcher that checks requests against their argument lists.
inline constexpr std::array<MethodSpec, 5> kMethods = {{
    {GetNotasDestinadas::kName, GetNotasDestinadas::kArgs},
    {setManifestacao::kName, setManifestacao::kArgs},
    {getCarregaPesquisas::kName, getCarregaPesquisas::kArgs},
    {GeraXml::kName, GeraXml::kArgs},
    {DownloadXML::kName, DownloadXML::kArgs},
}};

}  // namespace rdmManifestacao

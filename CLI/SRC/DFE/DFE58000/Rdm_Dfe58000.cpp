#include "Rdm_Dfe58000.h"

#include "Cli_Dfe58000.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "core/packet.h"
#include "net/netconnection.h"
#include "rdmmanifestacao.h"
#include "ui/consiste.h"

#include <algorithm>

using namespace host;

namespace Rdm_Dfe58000 {

namespace {

QString lista(std::initializer_list<bool> situacoes) {
    QString s = QStringLiteral("_");
    int codigo = 0;
    for (bool on : situacoes) {
        if (on) {
            s += QString::number(codigo) + u'_';
        }
        ++codigo;
    }
    return s;
}

// The workspace's connection: every call of the module goes through it.
TNetConnection& conexao() {
    if (!frmManifestacao || !frmManifestacao->netManifestacao) {
        throw EHostError(QStringLiteral(
            "A tela de manifestação não está aberta: sem conexão com o servidor de aplicação."));
    }
    return *frmManifestacao->netManifestacao;
}

QVariantList chama(const char* metodo, const QVariantList& args) {
    const QVariant resposta = conexao().AppServer(QString::fromLatin1(metodo), args);
    // The results, or a refusal's text; anything else says nothing to the clerk on its own.
    const bool resultados =
        resposta.typeId() == QMetaType::QVariantList && !resposta.toList().isEmpty();
    const bool recusa =
        resposta.typeId() == QMetaType::QString && !Consiste::EmptyString(resposta.toString());
    if (!resultados && !recusa) {
        RespostaInvalida(metodo, QStringLiteral("A resposta não traz a lista de resultados."));
    }
    return Consiste::CheckResultServ(resposta, true, 0);
}

// A call that changes something on the server. When the request went out and no answer came,
// the server may have done it all the same: the clerk is told so, with what to do.
QVariantList chamaAlterando(const char* metodo, const QVariantList& args, int elementos,
                            const QString& seFeito) {
    QVariantList resultado;
    try {
        resultado = chama(metodo, args);
    } catch (const ENetCallLost& e) {
        throw ENetCallLost(e.text() + u' ' + seFeito);
    }
    while (resultado.size() < elementos) {
        resultado.append(QVariant());
    }
    return resultado;
}

}  // namespace

QString ListaSituacoesNF(bool semSituacao, bool autorizada, bool denegada, bool cancelada) {
    return lista({semSituacao, autorizada, denegada, cancelada});
}

QString ListaSituacoesManif(bool semManifestacao, bool confirmada, bool desconhecida,
                            bool naoRealizada, bool ciencia, bool rejeitada) {
    return lista({semManifestacao, confirmada, desconhecida, naoRealizada, ciencia, rejeitada});
}

QString ListaSincronizacao(bool inexistenteSefaz, bool inexistenteSistema, bool sefazSistema,
                           bool sefazXml) {
    return lista({inexistenteSefaz, inexistenteSistema, sefazSistema, sefazXml});
}

QString TipoEmitente(int inCbbIndex) {
    switch (inCbbIndex) {
        case 0:
            return QStringLiteral("T");
        case 1:
            return QStringLiteral("C");
        case 2:
            return QStringLiteral("F");
        case 3:
            return QStringLiteral("L");
        default:
            return {};
    }
}

QString IdEntrSaidOp(int inCbbIdOper) {
    return inCbbIdOper == 0 ? QStringLiteral("E") : QStringLiteral("S");
}

QVariantList GetNotasDestinadas(const TNotasDestinadasArgs& a) {
    using namespace rdmManifestacao::GetNotasDestinadas;
    QVariantList args(kArgCount);
    args[stSituacaoNF] = a.stSituacaoNF;
    args[stSituacaoManifesta] = a.stSituacaoManifesta;
    args[stNrNotaInicial] = a.stNrNotaInicial;
    args[stNrNotaFinal] = a.stNrNotaFinal;
    args[stChaveAcesso] = a.stChaveAcesso;
    args[stFiliOrig] = a.stFiliOrig;
    args[stSerie] = a.stSerie;
    args[stIdEmitente] = a.stIdEmitente;
    args[stEmitente] = a.stEmitente;
    args[stTipoOper] = a.stTipoOper;
    args[stFiltroIdEntrsaidOp] = a.stFiltroIdEntrsaidOp;
    args[stCdEmpresa] = a.stCdEmpresa;
    args[stInscEstadual] = a.stInscEstadual;
    args[dtIniEmis] = a.dtIniEmis;
    args[dtFinEmis] = a.dtFinEmis;
    args[stSincronizacao] = a.stSincronizacao;
    args[stInscrJurid] = a.stInscrJurid;
    return chama(kName, args);
}

QVariantList getCarregaPesquisas(const QString& stCdEmpresa) {
    using namespace rdmManifestacao::getCarregaPesquisas;
    QVariantList args(kArgCount);
    args[rdmManifestacao::getCarregaPesquisas::stCdEmpresa] = stCdEmpresa;
    return chama(kName, args);
}

QVariantList setManifestacao(const QString& stInscrJurid, const QByteArray& cdsMarcados,
                             const QString& P_TIPOMANIFESTA, const QString& stJustificativa,
                             const QString& stOperador) {
    namespace rm = rdmManifestacao::setManifestacao;
    QVariantList args(rm::kArgCount);
    args[rm::stInscrJurid] = stInscrJurid;
    args[rm::cdsMarcados] = cdsMarcados;
    args[rm::P_TIPOMANIFESTA] = P_TIPOMANIFESTA;
    args[rm::stJustificativa] = stJustificativa;
    args[rm::stOperador] = stOperador;
    // Sending the events again blind could register them twice.
    return chamaAlterando(rm::kName, args, rm::NotasErradas + 1,
                          QStringLiteral("Os eventos podem ter sido registrados mesmo assim: "
                                         "verifique a situação das notas antes de enviar de "
                                         "novo."));
}

QVariantList GeraXml(const QByteArray& cdsMarcados, const QString& stOperador) {
    namespace gx = rdmManifestacao::GeraXml;
    QVariantList args(gx::kArgCount);
    args[gx::cdsMarcados] = cdsMarcados;
    args[gx::stOperador] = stOperador;
    QVariantList resultado = chama(gx::kName, args);
    while (resultado.size() <= gx::Documentos) {
        resultado.append(QVariant());
    }
    return resultado;
}

QVariantList DownloadXML(const QByteArray& cdsMarcados, const QString& stInscrJurid,
                         const QString& stOperador) {
    namespace dx = rdmManifestacao::DownloadXML;
    QVariantList args(dx::kArgCount);
    args[dx::cdsMarcados] = cdsMarcados;
    args[dx::stInscrJurid] = stInscrJurid;
    args[dx::stOperador] = stOperador;
    // Each download counts against the hourly limit, answered or not.
    return chamaAlterando(dx::kName, args, dx::Documentos + 1,
                          QStringLiteral("Os XMLs podem ter sido baixados mesmo assim e contam no "
                                         "limite de 20 downloads por hora."));
}

void RespostaInvalida(const char* metodo, const QString& detalhe) {
    QString onde, nome = QString::fromLatin1(metodo);
    if (frmManifestacao && frmManifestacao->netManifestacao) {
        const TNetConnection& net = *frmManifestacao->netManifestacao;
        onde = QStringLiteral(" %1:%2").arg(net.Host()).arg(net.Port());
        if (!net.ServerName().isEmpty()) {
            nome = net.ServerName() + u'.' + nome;
        }
    }
    throw EHostError(QStringLiteral("Resposta inválida do servidor de aplicação%1 para %2. %3")
                         .arg(onde, nome, detalhe));
}

QByteArray Pacote(const QVariant& elemento, const char* metodo) {
    // Text converts to bytes all too readily: only a byte string is a packet on this wire.
    if (elemento.isNull()) {
        RespostaInvalida(metodo, QStringLiteral("Falta um pacote de dados na resposta."));
    }
    if (elemento.typeId() != QMetaType::QByteArray) {
        RespostaInvalida(metodo, QStringLiteral("Um pacote de dados veio como outro valor (%1).")
                                     .arg(QString::fromLatin1(elemento.typeName())));
    }
    return elemento.toByteArray();
}

void CarregaPacote(TClientDataSet& ds, const QVariant& elemento, const char* metodo) {
    const QByteArray pacote = Pacote(elemento, metodo);
    try {
        ds.SetData(pacote);
    } catch (const EPacketError& e) {
        RespostaInvalida(metodo, e.text());
    } catch (const EDataSetError& e) {
        RespostaInvalida(metodo, e.text());
    }
}

void ConfereLayout(const QByteArray& pacote, const QList<FieldDef>& campos, const char* metodo,
                   const QString& oQue) {
    QList<FieldDef> recebidos;
    try {
        PacketReader leitor(pacote);
        recebidos = leitor.fields();
    } catch (const EPacketError& e) {
        RespostaInvalida(metodo, e.text());
    }
    auto texto = [](FieldType t) { return t == FieldType::String || t == FieldType::Memo; };
    for (const FieldDef& campo : campos) {
        const auto it = std::find_if(recebidos.cbegin(), recebidos.cend(), [&](const FieldDef& r) {
            return r.name.compare(campo.name, Qt::CaseInsensitive) == 0;
        });
        if (it == recebidos.cend()) {
            RespostaInvalida(
                metodo,
                QStringLiteral("%1 veio em outro formato: sem o campo %2.").arg(oQue, campo.name));
        }
        if (it->type != campo.type && !(texto(it->type) && texto(campo.type))) {
            RespostaInvalida(
                metodo,
                QStringLiteral("%1 veio em outro formato: o campo %2 é %3 em vez de %4.")
                    .arg(oQue, campo.name, fieldTypeName(it->type), fieldTypeName(campo.type)));
        }
    }
}

}  // namespace Rdm_Dfe58000

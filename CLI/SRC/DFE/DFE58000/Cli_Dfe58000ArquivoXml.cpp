#include "Cli_Dfe58000ArquivoXml.h"

#include <QDir>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QXmlStreamReader>

#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "ui/consiste.h"

using host::EHostError;

namespace ArquivoXml {

namespace {

const QString kDeclaracao = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
constexpr int kRecusasListadas = 20;

}  // namespace

QString ComSeparador(const QString& diretorio) {
    const QString nativo = QDir::toNativeSeparators(diretorio);
    if (nativo.endsWith(QDir::separator())) {
        return nativo;
    }
    return nativo + QDir::separator();
}

void VerificaGravavel(const QString& diretorio) {
    QTemporaryFile teste(QDir(diretorio).filePath(QStringLiteral(".dfe58000-XXXXXX")));
    if (!QFileInfo(diretorio).isDir() || !teste.open()) {
        throw EHostError(
            QStringLiteral("Não é possível gravar arquivos no diretório \"%1\"%2. Escolha outro "
                           "diretório.")
                .arg(QDir::toNativeSeparators(diretorio),
                     QFileInfo(diretorio).isDir() ? QStringLiteral(": ") + teste.errorString()
                                                  : QStringLiteral(": o diretório não existe")));
    }
}

bool ChaveValida(const QString& chave) {
    static const QRegularExpression padrao(QStringLiteral("\\A[0-9]{6}[A-Z0-9]{12}[0-9]{26}\\z"));
    return padrao.match(chave).hasMatch();
}

QByteArray Conteudo(const QString& texto) {
    QStringView resto(texto);
    if (resto.startsWith(QChar(0xFEFF))) {
        resto = resto.mid(1);
    }

    // Read through once, declaration included, to be sure it is a document; nothing from it is
    // written back. A declaration that is not one (such as "<?xml?>") is an error here, not
    // something to replace.
    QXmlStreamReader leitor(resto.toString());
    bool declarado = false;
    while (!leitor.atEnd()) {
        switch (leitor.readNext()) {
            case QXmlStreamReader::StartDocument:
                declarado = !leitor.documentVersion().isEmpty();
                break;
            case QXmlStreamReader::DTD:
                throw EHostError(QStringLiteral("o documento traz uma DTD"));
            case QXmlStreamReader::EntityReference:
                throw EHostError(QStringLiteral("o documento usa entidades declaradas por ele"));
            default:
                break;
        }
    }
    if (leitor.hasError()) {
        throw EHostError(QStringLiteral("XML inválido na linha %1, coluna %2: %3")
                             .arg(QString::number(leitor.lineNumber()),
                                  QString::number(leitor.columnNumber()), leitor.errorString()));
    }

    // The document's own declaration gives way to the one the file must carry. Whether it has
    // one is the reader's word: "<?xml" followed by a character XML does not count as white
    // space (a form feed) starts a processing instruction, which is content and stays.
    if (declarado) {
        const qsizetype fim = resto.indexOf(u"?>");
        if (fim < 0) {
            throw EHostError(QStringLiteral("declaração XML sem fim"));
        }
        resto = resto.mid(fim + 2);
    }
    const QString corpo = resto.toString();

    QByteArray bytes = kDeclaracao.toUtf8();
    if (!corpo.isEmpty() && !corpo.front().isSpace()) {
        bytes += '\n';
    }
    bytes += corpo.toUtf8();
    return bytes;
}

Resultado Grava(host::TClientDataSet& docs, const QString& diretorio) {
    Resultado r;
    const host::TField& chave = docs.FieldByName(QStringLiteral("NRACESSONF"));
    const host::TField& texto = docs.FieldByName(QStringLiteral("DSTEXTOXML"));
    for (docs.First(); !docs.Eof(); docs.Next()) {
        const QString xml = texto.AsString();
        if (host::Consiste::EmptyString(xml)) {
            continue;
        }
        const QString nrAcesso = chave.AsString();
        if (!ChaveValida(nrAcesso)) {
            r.recusas.append({nrAcesso, QStringLiteral("chave de acesso inválida")});
            continue;
        }
        QByteArray bytes;
        try {
            bytes = Conteudo(xml);
        } catch (const EHostError& e) {
            r.recusas.append({nrAcesso, e.text()});
            continue;
        }
        const QString nome = diretorio + QStringLiteral("NFe") + nrAcesso + QStringLiteral(".xml");
        QSaveFile arquivo(nome);
        if (!arquivo.open(QIODevice::WriteOnly) || arquivo.write(bytes) != bytes.size() ||
            !arquivo.commit()) {
            throw EHostError(QStringLiteral("Não foi possível gravar o arquivo \"%1\": %2.")
                                 .arg(QDir::toNativeSeparators(nome), arquivo.errorString()));
        }
        ++r.gravados;
    }
    return r;
}

QString TextoRecusas(const QList<Recusa>& recusas) {
    if (recusas.isEmpty()) {
        return {};
    }
    QString texto = QStringLiteral("O XML destas notas não foi gravado:");
    for (qsizetype i = 0; i < recusas.size() && i < kRecusasListadas; ++i) {
        const Recusa& r = recusas.at(i);
        const QString chave =
            r.chave.trimmed().isEmpty() ? QStringLiteral("(sem chave)") : r.chave.left(60);
        texto += QStringLiteral("\n%1: %2").arg(chave, r.motivo);
    }
    if (recusas.size() > kRecusasListadas) {
        texto += QStringLiteral("\n... e mais %1.").arg(recusas.size() - kRecusasListadas);
    }
    return texto;
}

}  // namespace ArquivoXml

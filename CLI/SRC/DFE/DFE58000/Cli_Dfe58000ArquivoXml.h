#pragma once

// The XML files of the notes as the server returns them: one file per document, named "NFe" +
// access key + ".xml" in the directory the clerk chose.
//
// A file is the server's document byte for byte, only its declaration set to version "1.0" and
// encoding "UTF-8": the signed content is never parsed into a tree and written back, so the
// signature still verifies. Each file is written under a temporary name and renamed into place,
// so a full disk or a killed program never leaves half a document under the final name.
//
// A document is refused, and reported, when its key is not an access key (a key is part of a
// path: nothing but [0-9]{6}[A-Z0-9]{12}[0-9]{26} may be) or its text is not a well-formed
// document, or brings a DTD (never resolved, never fetched).

#include <QList>
#include <QString>

namespace host {
class TClientDataSet;
}

namespace ArquivoXml {

// The directory with the platform's separator at its end, added only when missing.
QString ComSeparador(const QString& diretorio);

// Raises host::EHostError naming the directory when a file cannot be created in it.
void VerificaGravavel(const QString& diretorio);

// Whether the text is an access key that can name a file.
bool ChaveValida(const QString& chave);

// The bytes of the file for one document. Raises host::EHostError with the reason when the text
// is not a well-formed document or brings a DTD.
QByteArray Conteudo(const QString& texto);

struct Recusa {
    QString chave;
    QString motivo;
};

struct Resultado {
    int gravados = 0;
    QList<Recusa> recusas;
};

// Writes the documents of docs (fields NRACESSONF and DSTEXTOXML), in order, into diretorio
// (ending in its separator): a row with an empty text writes nothing, a later row with the
// same key replaces the earlier file. A file that cannot be written raises host::EHostError;
// the files written before it stay.
Resultado Grava(host::TClientDataSet& docs, const QString& diretorio);

// The clerk's text for the refused documents, one line each (the first 20, then how many
// more); empty when none was refused.
QString TextoRecusas(const QList<Recusa>& recusas);

}  // namespace ArquivoXml

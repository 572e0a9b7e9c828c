#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include "net/wire.h"
#include "rdmmanifestacao.h"
#include "store.h"

// The remote module rdmManifestacao: the methods the client calls by name, with positional
// arguments and one result each. Names, argument lists and result places come from
// rdmmanifestacao.h, which the module builds its calls from too.
namespace dfe58000 {

using rdmManifestacao::kServerName;

// Answers one request. Every failure becomes a reply: a request for another server, an unknown
// method, a wrong argument count or type gives an error reply with a clear text; a failure the
// method reports itself (an unknown company, a malformed criterion) comes in the method's own
// result layout. Deadlines are counted from the store's clock.
host::wire::Reply dispatch(Store& store, const host::wire::Request& request);

// The methods themselves, with their arguments already checked for count and type.
QVariant getCarregaPesquisas(Store& store, const QString& company);
// args: the rdmManifestacao::GetNotasDestinadas arguments in their places, texts as QString
// and the two issue dates as QDate.
QVariant getNotasDestinadas(Store& store, const QVariantList& args, const QDate& today);
// stInscrJurid, packet of marked notes (NRACESSONF), event code "1".."4", justification,
// operator. Each note is sent on its own; see TaxAuthority.
QVariant setManifestacao(Store& store, const QString& registration, const QByteArray& marked,
                         const QString& code, const QString& justification,
                         const QString& operatorCode);

// Parses a situation list such as "_0_1_3_" against the codes it may hold; "T" gives no
// restriction (an unset optional) and "_" an empty list, which no note matches. Throws
// host::EHostError naming the argument when malformed.
std::optional<QStringList> parseSituationList(const QString& text, const QString& allowed,
                                              const QString& argumentName);
// Parses an operation-type list: "T", or codes separated by commas ("01,05,12").
QStringList parseOperationTypes(const QString& text);

}  // namespace dfe58000

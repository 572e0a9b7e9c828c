#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include "net/wire.h"
#include "store.h"

// The remote module rdmManifestacao: the methods the client calls by name, with positional
// arguments and one result each.
namespace dfe58000 {

inline constexpr char kServerName[] = "DFE58000.rdmManifestacao";

// Answers one request. Every failure becomes a reply: a request for another server, an unknown
// method, a wrong argument count or type gives an error reply with a clear text; a failure the
// method reports itself (an unknown company, a malformed criterion) comes in the method's own
// result layout. today is the date the deadlines are counted from.
host::wire::Reply dispatch(Store& store, const host::wire::Request& request,
                           const QDate& today = QDate::currentDate());

// The methods themselves, with their arguments already checked for count and type.
QVariant getCarregaPesquisas(Store& store, const QString& company);
QVariant getNotasDestinadas(Store& store, const QVariantList& args, const QDate& today);
// stInscrJurid, packet of marked notes (NRACESSONF), event code "1".."4", justification,
// operator. Each note is sent on its own; see TaxAuthority.
QVariant setManifestacao(Store& store, const QString& registration, const QByteArray& marked,
                         const QString& code, const QString& justification,
                         const QString& operatorCode);

// Parses a situation list such as "_0_1_3_" against the codes it may hold; "T" gives no
// restriction (an unset optional). Throws host::EHostError naming the argument when malformed.
std::optional<QStringList> parseSituationList(const QString& text, const QString& allowed,
                                              const QString& argumentName);
// Parses an operation-type list: "T", or codes separated by commas ("01,05,12").
QStringList parseOperationTypes(const QString& text);

}  // namespace dfe58000

#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include "authority.h"
#include "store.h"

// XML generation and download of the addressed notes' documents.
namespace dfe58000 {

// The authorised NF-e (nfeProc: the NF-e signed by its issuer and the authorisation protocol) of
// a stored note, built from the note's own fields. Empty when the store has no note with that
// key; host::EHostError when it cannot be signed (signer.h), so nothing unsigned is stored.
QString nfeProcXml(Store& store, const QString& accessKey);

// The archived procEventoNFe (evento signed by its author + retEvento) of a registered event,
// signed with the store's demo certificate; host::EHostError when signing fails.
QString signedProcEventoXml(Store& store, const EventRequest& request, const EventResult& result);

// GeraXml(packet of marked notes, operator).
QVariant geraXml(Store& store, const QByteArray& marked, const QString& operatorCode);
// DownloadXML(packet of marked notes, legal registration, operator), within the hourly limit of
// rules::kDownloadsPerHour per legal registration, shared by every client.
QVariant downloadXml(Store& store, const QByteArray& marked, const QString& registration,
                     const QString& operatorCode);

// The access keys of a packet of marked notes (field NRACESSONF); host::EHostError when the
// packet cannot be read or lacks the field.
QStringList markedKeys(const QByteArray& marked);

}  // namespace dfe58000

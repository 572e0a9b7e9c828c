#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include "store.h"

// XML generation and download of the addressed notes' documents.
namespace dfe58000 {

// The authorised NF-e (nfeProc: the NF-e signed by its issuer and the authorisation protocol) of
// a stored note, built from the note's own fields. Empty when the store has no note with that
// key; host::EHostError when it cannot be signed (signer.h), so nothing unsigned is stored.
QString nfeProcXml(Store& store, const QString& accessKey);

// GeraXml(packet of marked notes, operator).
QVariant geraXml(Store& store, const QByteArray& marked, const QString& operatorCode);
// GeraXml and DownloadXML read the notes, build and sign the documents with no transaction open,
// then write the results in short transactions of a few notes each; a note that fails (building,
// signing, its writes) is reported in its own row and the others go on. DownloadXML(packet of
// marked notes, legal registration, operator), within the hourly limit of rules::kDownloadsPerHour
// queries by key per legal registration, kept in DOWNLOADLOG and shared by every client and server
// process on the database. now is the moment of the request (by default the store's clock).
QVariant downloadXml(Store& store, const QByteArray& marked, const QString& registration,
                     const QString& operatorCode);
QVariant downloadXml(Store& store, const QByteArray& marked, const QString& registration,
                     const QString& operatorCode, const QDateTime& now);

// The access keys of a packet of marked notes (field NRACESSONF); host::EHostError when the
// packet cannot be read or lacks the field.
QStringList markedKeys(const QByteArray& marked);

}  // namespace dfe58000

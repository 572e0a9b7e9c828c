#pragma once

#include <QString>

class QXmlStreamWriter;

// Enveloped XML-DSig signatures of the server's documents, made the way an issuer signs its
// NF-e or a recipient its event: RSA-SHA1 over the element named by Reference URI="#Id",
// transforms enveloped-signature + C14N, SHA-1 digest and the signer's certificate in KeyInfo.
// The signing runs in process with the XML security library (libxmlsec1, OpenSSL engine) on a
// demo certificate; the certificate itself is made once with the openssl program.
namespace dfe58000 {

// A self-signed RSA 2048 certificate and its unencrypted private key, both PEM.
struct DemoCertificate {
    QString keyFile;
    QString certFile;
};

// Subject CNPJ of the demo certificate.
inline constexpr char kDemoCertCnpj[] = "11222333000181";

// Where the demo certificate lives: the directory in the environment variable
// DFE58000_CERT_DIR when set; otherwise "democert" next to the SQLite database file; otherwise
// (databaseFile empty: PostgreSQL, an in-memory database) ~/.dfe58000/democert.
QString demoCertDir(const QString& databaseFile);

// The certificate of that directory, created with `openssl req -x509` the first time (key.pem
// and cert.pem). One process at a time creates it, under a lock file in the directory, and the
// files are written under temporary names and renamed, so concurrent first runs share one pair
// and never see half-written files. host::EHostError when it cannot be created.
DemoCertificate ensureDemoCertificate(const QString& dir);

// Writes an empty signature (template) that signs the element whose Id attribute is referenceId;
// signXml fills it.
void writeSignatureTemplate(QXmlStreamWriter& w, const QString& referenceId);

// Signs the templates of a document whose signed element is <elementName Id="..."> in the NF-e
// namespace. Returns the signed document; host::EHostError when it cannot be signed, so nothing
// unsigned is stored. Safe to call from several threads at once.
QString signXml(const QString& xml, const QString& elementName, const DemoCertificate& cert);

}  // namespace dfe58000

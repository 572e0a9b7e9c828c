#include "signer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <QXmlStreamWriter>

#include "core/hosterror.h"

namespace dfe58000 {

namespace {

const QString kDsig = QStringLiteral("http://www.w3.org/2000/09/xmldsig#");
const QString kC14n = QStringLiteral("http://www.w3.org/TR/2001/REC-xml-c14n-20010315");
const QString kNfeNs = QStringLiteral("http://www.portalfiscal.inf.br/nfe");
constexpr int kToolTimeoutMs = 60000;

// Runs a tool to the end; its error output (or why it did not run) on failure.
bool runTool(const QString& program, const QStringList& args, QString* error) {
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        *error = QStringLiteral("programa %1 não encontrado (pacote %1)").arg(program);
        return false;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(path, args);
    if (!p.waitForStarted(kToolTimeoutMs)) {
        *error = QStringLiteral("não foi possível executar %1: %2").arg(program, p.errorString());
        return false;
    }
    if (!p.waitForFinished(kToolTimeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        *error = QStringLiteral("%1 não terminou no tempo limite").arg(program);
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        *error = QStringLiteral("%1 terminou com código %2: %3")
                     .arg(program)
                     .arg(p.exitCode())
                     .arg(err.left(600));
        return false;
    }
    return true;
}

QMutex& certMutex() {
    static QMutex m;
    return m;
}

}  // namespace

QString demoCertDir(const QString& databaseFile) {
    const QString fromEnv = qEnvironmentVariable("DFE58000_CERT_DIR");
    if (!fromEnv.isEmpty())
        return QDir(fromEnv).absolutePath();
    if (!databaseFile.isEmpty())
        return QFileInfo(databaseFile).absoluteDir().filePath(QStringLiteral("democert"));
    return QDir::home().filePath(QStringLiteral(".dfe58000/democert"));
}

DemoCertificate ensureDemoCertificate(const QString& dirPath) {
    QDir dir(dirPath);
    DemoCertificate cert{dir.filePath(QStringLiteral("key.pem")),
                         dir.filePath(QStringLiteral("cert.pem"))};
    QMutexLocker lock(&certMutex());
    if (QFileInfo::exists(cert.keyFile) && QFileInfo::exists(cert.certFile))
        return cert;
    if (!dir.mkpath(QStringLiteral(".")))
        throw host::EHostError(
            QStringLiteral("Não foi possível criar o diretório do certificado de demonstração %1.")
                .arg(dirPath));
    const QString tag = QUuid::createUuid().toString(QUuid::Id128);
    const QString keyTmp = cert.keyFile + QStringLiteral(".") + tag;
    const QString certTmp = cert.certFile + QStringLiteral(".") + tag;
    QString error;
    const bool ok =
        runTool(QStringLiteral("openssl"),
                {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                 QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-sha256"),
                 QStringLiteral("-days"), QStringLiteral("3650"), QStringLiteral("-subj"),
                 QStringLiteral("/CN=ORVANTA DEMO:%1").arg(QLatin1String(kDemoCertCnpj)),
                 QStringLiteral("-keyout"), keyTmp, QStringLiteral("-out"), certTmp},
                &error);
    if (!ok || !QFileInfo::exists(keyTmp) || !QFileInfo::exists(certTmp)) {
        QFile::remove(keyTmp);
        QFile::remove(certTmp);
        throw host::EHostError(
            QStringLiteral("Não foi possível criar o certificado de demonstração: %1").arg(error));
    }
    // Another process may have won the race: its pair stays, ours is dropped. The key goes in
    // last so that a present key always has its certificate beside it.
    if (QFileInfo::exists(cert.keyFile)) {
        QFile::remove(keyTmp);
        QFile::remove(certTmp);
        return cert;
    }
    QFile::remove(cert.certFile);
    if (!QFile::rename(certTmp, cert.certFile) || !QFile::rename(keyTmp, cert.keyFile)) {
        QFile::remove(keyTmp);
        QFile::remove(certTmp);
        if (!QFileInfo::exists(cert.keyFile) || !QFileInfo::exists(cert.certFile))
            throw host::EHostError(
                QStringLiteral("Não foi possível gravar o certificado de demonstração em %1.")
                    .arg(dirPath));
    }
    return cert;
}

void writeSignatureTemplate(QXmlStreamWriter& w, const QString& referenceId) {
    auto algorithm = [&](const QString& element, const QString& uri) {
        w.writeEmptyElement(kDsig, element);
        w.writeAttribute(QStringLiteral("Algorithm"), uri);
    };
    w.writeDefaultNamespace(kDsig);
    w.writeStartElement(kDsig, QStringLiteral("Signature"));
    w.writeStartElement(kDsig, QStringLiteral("SignedInfo"));
    algorithm(QStringLiteral("CanonicalizationMethod"), kC14n);
    algorithm(QStringLiteral("SignatureMethod"), kDsig + QStringLiteral("rsa-sha1"));
    w.writeStartElement(kDsig, QStringLiteral("Reference"));
    w.writeAttribute(QStringLiteral("URI"), QStringLiteral("#") + referenceId);
    w.writeStartElement(kDsig, QStringLiteral("Transforms"));
    algorithm(QStringLiteral("Transform"), kDsig + QStringLiteral("enveloped-signature"));
    algorithm(QStringLiteral("Transform"), kC14n);
    w.writeEndElement();  // Transforms
    algorithm(QStringLiteral("DigestMethod"), kDsig + QStringLiteral("sha1"));
    w.writeTextElement(kDsig, QStringLiteral("DigestValue"), QString());
    w.writeEndElement();  // Reference
    w.writeEndElement();  // SignedInfo
    w.writeTextElement(kDsig, QStringLiteral("SignatureValue"), QString());
    w.writeStartElement(kDsig, QStringLiteral("KeyInfo"));
    w.writeStartElement(kDsig, QStringLiteral("X509Data"));
    w.writeTextElement(kDsig, QStringLiteral("X509Certificate"), QString());
    w.writeEndElement();  // X509Data
    w.writeEndElement();  // KeyInfo
    w.writeEndElement();  // Signature
}

QString signXml(const QString& xml, const QString& elementName, const DemoCertificate& cert) {
    QTemporaryDir work;
    if (!work.isValid())
        throw host::EHostError(
            QStringLiteral("Não foi possível criar a área temporária da assinatura: %1")
                .arg(work.errorString()));
    const QString in = work.filePath(QStringLiteral("in.xml"));
    const QString out = work.filePath(QStringLiteral("out.xml"));
    {
        QFile f(in);
        if (!f.open(QIODevice::WriteOnly) || f.write(xml.toUtf8()) < 0)
            throw host::EHostError(
                QStringLiteral("Não foi possível preparar o XML para assinatura: %1")
                    .arg(f.errorString()));
    }
    QString error;
    if (!runTool(
            QStringLiteral("xmlsec1"),
            {QStringLiteral("--sign"), QStringLiteral("--privkey-pem"),
             cert.keyFile + QStringLiteral(",") + cert.certFile, QStringLiteral("--id-attr:Id"),
             kNfeNs + QStringLiteral(":") + elementName, QStringLiteral("--output"), out, in},
            &error))
        throw host::EHostError(QStringLiteral("Falha ao assinar o XML: %1").arg(error));
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly))
        throw host::EHostError(
            QStringLiteral("Falha ao assinar o XML: sem resultado (%1)").arg(f.errorString()));
    const QString signedXml = QString::fromUtf8(f.readAll());
    if (signedXml.isEmpty() || signedXml.contains(QStringLiteral("<DigestValue/>")) ||
        signedXml.contains(QStringLiteral("<SignatureValue/>")))
        throw host::EHostError(QStringLiteral("Falha ao assinar o XML: assinatura incompleta."));
    return signedXml;
}

}  // namespace dfe58000

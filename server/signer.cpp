#include "signer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>
#include <QXmlStreamWriter>
#include <memory>
#include <mutex>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <xmlsec/crypto.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>

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

// The XML security library with its OpenSSL engine, set up once for the process and left up
// to its end (other threads may be signing until then).
void ensureXmlSec() {
    static std::once_flag once;
    static QString failure;
    std::call_once(once, [] {
        xmlInitParser();
        if (xmlSecInit() < 0) {
            failure = QStringLiteral("a biblioteca xmlsec não iniciou");
        } else if (xmlSecCheckVersion() != 1) {
            failure = QStringLiteral("versão da biblioteca xmlsec incompatível");
        } else if (xmlSecCryptoAppInit(nullptr) < 0 || xmlSecCryptoInit() < 0) {
            failure = QStringLiteral("o motor criptográfico da xmlsec não iniciou");
        }
    });
    if (!failure.isEmpty()) {
        throw host::EHostError(QStringLiteral("Falha ao assinar o XML: %1.").arg(failure));
    }
}

struct DocFree {
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
using XmlDoc = std::unique_ptr<xmlDoc, DocFree>;
struct CtxFree {
    void operator()(xmlSecDSigCtxPtr c) const { xmlSecDSigCtxDestroy(c); }
};
using SignContext = std::unique_ptr<xmlSecDSigCtx, CtxFree>;

// The key of a certificate pair, read once per file pair; each signature gets its own copy
// (a context destroys the key it was given).
xmlSecKeyPtr signingKey(const DemoCertificate& cert) {
    static QMutex mutex;
    // Kept for the life of the process: the table is never destroyed, so the keys stay
    // reachable to the end and no exit-time destructor runs after xmlsec is shut down.
    static auto* const keys = new QHash<QString, xmlSecKeyPtr>;
    QMutexLocker lock(&mutex);
    const QString id = cert.keyFile + QChar(u'\n') + cert.certFile;
    xmlSecKeyPtr key = keys->value(id);
    if (!key) {
        const QByteArray keyFile = QFile::encodeName(cert.keyFile);
        const QByteArray certFile = QFile::encodeName(cert.certFile);
        key = xmlSecCryptoAppKeyLoad(keyFile.constData(), xmlSecKeyDataFormatPem, nullptr, nullptr,
                                     nullptr);
        if (!key) {
            throw host::EHostError(
                QStringLiteral("Falha ao assinar o XML: chave %1 ilegível.").arg(cert.keyFile));
        }
        if (xmlSecCryptoAppKeyCertLoad(key, certFile.constData(), xmlSecKeyDataFormatPem) < 0) {
            xmlSecKeyDestroy(key);
            throw host::EHostError(QStringLiteral("Falha ao assinar o XML: certificado %1 "
                                                  "ilegível.")
                                       .arg(cert.certFile));
        }
        keys->insert(id, key);
    }
    xmlSecKeyPtr copy = xmlSecKeyDuplicate(key);
    if (!copy) {
        throw host::EHostError(QStringLiteral("Falha ao assinar o XML: sem memória."));
    }
    return copy;
}

// The Id attributes of the signed elements, declared as IDs so that Reference URI="#..."
// finds them (the documents carry no DTD saying so).
void registerIds(xmlNodePtr node, const QByteArray& elementName) {
    for (xmlNodePtr n = node; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) {
            continue;
        }
        if (xmlStrEqual(n->name, BAD_CAST elementName.constData()) && n->ns &&
            xmlStrEqual(n->ns->href, BAD_CAST "http://www.portalfiscal.inf.br/nfe")) {
            if (xmlAttrPtr attr = xmlHasProp(n, BAD_CAST "Id")) {
                xmlChar* value = xmlNodeListGetString(n->doc, attr->children, 1);
                if (value && !xmlGetID(n->doc, value)) {
                    xmlAddID(nullptr, n->doc, value, attr);
                }
                xmlFree(value);
            }
        }
        registerIds(n->children, elementName);
    }
}

void collectSignatures(xmlNodePtr node, QList<xmlNodePtr>& out) {
    for (xmlNodePtr n = node; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) {
            continue;
        }
        if (xmlSecCheckNodeName(n, xmlSecNodeSignature, xmlSecDSigNs)) {
            out.append(n);
        } else {
            collectSignatures(n->children, out);
        }
    }
}

}  // namespace

QString demoCertDir(const QString& databaseFile) {
    const QString fromEnv = qEnvironmentVariable("DFE58000_CERT_DIR");
    if (!fromEnv.isEmpty()) {
        return QDir(fromEnv).absolutePath();
    }
    if (!databaseFile.isEmpty()) {
        return QFileInfo(databaseFile).absoluteDir().filePath(QStringLiteral("democert"));
    }
    return QDir::home().filePath(QStringLiteral(".dfe58000/democert"));
}

DemoCertificate ensureDemoCertificate(const QString& dirPath) {
    QDir dir(dirPath);
    DemoCertificate cert{dir.filePath(QStringLiteral("key.pem")),
                         dir.filePath(QStringLiteral("cert.pem"))};
    QMutexLocker lock(&certMutex());
    if (QFileInfo::exists(cert.keyFile) && QFileInfo::exists(cert.certFile)) {
        return cert;
    }
    if (!dir.mkpath(QStringLiteral("."))) {
        throw host::EHostError(
            QStringLiteral("Não foi possível criar o diretório do certificado de demonstração %1.")
                .arg(dirPath));
    }
    // One process at a time makes the pair: two server processes starting together must not
    // end up with the key of one and the certificate of the other.
    QLockFile creating(dir.filePath(QStringLiteral(".criando.lock")));
    creating.setStaleLockTime(120000);
    if (!creating.tryLock(120000)) {
        throw host::EHostError(
            QStringLiteral("O certificado de demonstração em %1 está sendo criado por outro "
                           "processo há tempo demais.")
                .arg(dirPath));
    }
    if (QFileInfo::exists(cert.keyFile) && QFileInfo::exists(cert.certFile)) {
        return cert;
    }
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
    // The private key is its owner's alone, whatever the umask.
    if (!QFile::setPermissions(keyTmp, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        QFile::remove(keyTmp);
        QFile::remove(certTmp);
        throw host::EHostError(
            QStringLiteral("Não foi possível proteger a chave do certificado de demonstração em "
                           "%1.")
                .arg(dirPath));
    }
    // A key left without its certificate (an interrupted first run) is made again. The key goes
    // in last so that a present key always has its certificate beside it.
    QFile::remove(cert.keyFile);
    QFile::remove(cert.certFile);
    if (!QFile::rename(certTmp, cert.certFile) || !QFile::rename(keyTmp, cert.keyFile)) {
        QFile::remove(keyTmp);
        QFile::remove(certTmp);
        if (!QFileInfo::exists(cert.keyFile) || !QFileInfo::exists(cert.certFile)) {
            throw host::EHostError(
                QStringLiteral("Não foi possível gravar o certificado de demonstração em %1.")
                    .arg(dirPath));
        }
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
    ensureXmlSec();
    const QByteArray text = xml.toUtf8();
    XmlDoc doc(
        xmlReadMemory(text.constData(), int(text.size()), nullptr, nullptr, XML_PARSE_NONET));
    if (!doc) {
        throw host::EHostError(QStringLiteral("Falha ao assinar o XML: documento mal formado."));
    }
    const QByteArray name = elementName.toUtf8();
    registerIds(xmlDocGetRootElement(doc.get()), name);
    QList<xmlNodePtr> templates;
    collectSignatures(xmlDocGetRootElement(doc.get()), templates);
    if (templates.isEmpty()) {
        throw host::EHostError(QStringLiteral("Falha ao assinar o XML: documento sem assinatura."));
    }
    for (xmlNodePtr node : templates) {
        SignContext ctx(xmlSecDSigCtxCreate(nullptr));
        if (!ctx) {
            throw host::EHostError(QStringLiteral("Falha ao assinar o XML: sem memória."));
        }
        ctx->signKey = signingKey(cert);
        if (xmlSecDSigCtxSign(ctx.get(), node) < 0 || ctx->status != xmlSecDSigStatusSucceeded) {
            throw host::EHostError(
                QStringLiteral("Falha ao assinar o XML: a assinatura de %1 não foi feita.")
                    .arg(elementName));
        }
    }
    xmlChar* out = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc.get(), &out, &size);
    const QString signedXml = QString::fromUtf8(reinterpret_cast<const char*>(out), size);
    xmlFree(out);
    if (signedXml.isEmpty() || signedXml.contains(QStringLiteral("<DigestValue/>")) ||
        signedXml.contains(QStringLiteral("<SignatureValue/>"))) {
        throw host::EHostError(QStringLiteral("Falha ao assinar o XML: assinatura incompleta."));
    }
    return signedXml;
}

}  // namespace dfe58000

// The documents the server writes, checked by the national schemas and by an XML-DSig verifier:
// the archived events (procEventoNFe) and the NF-e (nfeProc), both signed with the store's demo
// certificate, produced through the server's own methods on a fresh SQLite store.

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <tuple>

#include "companydb.h"
#include "core/packet.h"
#include "documentnotes.h"
#include "fiscaldocs.h"
#include "methods.h"
#include "serverfixture.h"
#include "signer.h"
#include "store.h"

using dfe58000::NoteRecord;
using dfe58000::Store;
using host::wire::Reply;
using host::wire::Request;

namespace {

const QString kReg = QStringLiteral("48210375000102");
const QString kNfeNs = QStringLiteral("http://www.portalfiscal.inf.br/nfe");

const QString kIssuer = QStringLiteral("11222333000181");
const QString kAlnumIssuer = testnotes::kAlphanumericIssuer;
// Recipients of the company besides kReg: a CNPJ with letters and a person's CPF.
const QString kAlnumReg = fiscal::completeCnpj(QStringLiteral("AB3CD4EF5GH6"));
const QString kCpfReg = QStringLiteral("52998224725");

QString keyFor(int number, const QString& issuer = kIssuer) {
    return testnotes::keyFor(number, issuer);
}

NoteRecord note(int number, const QString& manif, const QString& xml = QStringLiteral("S")) {
    return testnotes::documentNote(number, manif, kReg, xml, 3, kIssuer);
}

using testnotes::marked;

Reply call(Store& store, const QString& method, const QVariantList& args) {
    return dfe58000::dispatch(store,
                              Request{QStringLiteral("DFE58000.rdmManifestacao"), method, args});
}

// The documents of a GeraXml or DownloadXML answer, by key (only those that came with XML).
QMap<QString, QString> documents(const Reply& r) {
    QMap<QString, QString> out;
    const QVariantList res = r.result.toList();
    if (res.value(4).typeId() != QMetaType::QByteArray) {
        return out;
    }
    for (const QVariantList& row : host::decodePacket(res.value(4).toByteArray()).rows) {
        if (!row.value(1).toString().isEmpty()) {
            out.insert(row.value(0).toString(), row.value(1).toString());
        }
    }
    return out;
}

struct ToolRun {
    bool ok = false;
    QString output;
};

ToolRun runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStandardPaths::findExecutable(program), args);
    ToolRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.output = program + QStringLiteral(" did not finish");
        return r;
    }
    r.output = QString::fromLocal8Bit(p.readAll());
    r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return r;
}

}  // namespace

class TestXmlSchema : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void eventsValidateAndCarryTheRecipientsSignature();
    void nfeOfEveryKindOfNoteValidatesAndVerifies();
    void alteredDocumentsAreCaught();
    void signingFailureWritesNothing();
    void alphanumericKeysAndRegistrationsValidate();
    void malformedKeysAndRegistrationsFailTheSchemas();
    void oneAlphanumericKeyAmongNumericOnes();
    void documentsSignedOnSeveralThreadsAtOnceVerify();

  private:
    void registerRecipient(const QString& registration, const QString& personType);
    QString eventXml(const QString& key);
    QString write(const QString& name, const QString& xml);
    ToolRun validate(const QString& file, const QString& schema);
    ToolRun verify(const QString& file, const QString& signedElement);
    QString certFile() const { return m_db.dir->filePath(QStringLiteral("democert/cert.pem")); }

    QString m_schemas;
    StoreFixture m_db;
};

void TestXmlSchema::initTestCase() {
    for (const char* tool : {"xmllint", "xmlsec1", "openssl"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps installs "
                                            "xmlsec1, libxml2-utils and openssl)")
                                 .arg(QLatin1String(tool))));
        }
    }
    m_schemas = QDir(QStringLiteral(ORVANTA_SOURCE_DIR "/../shared/schemas/nfe")).absolutePath();
    QVERIFY2(QFile::exists(m_schemas + QStringLiteral("/procNFe_v4.00.xsd")),
             qPrintable(QStringLiteral("schemas not found in ") + m_schemas));
    qunsetenv("DFE58000_CERT_DIR");
}

void TestXmlSchema::init() {
    m_db.open(QStringLiteral("x.db"));
}

void TestXmlSchema::cleanup() {
    qunsetenv("DFE58000_CERT_DIR");
    m_db.close();
}

QString TestXmlSchema::write(const QString& name, const QString& xml) {
    const QString path = m_db.dir->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(xml.toUtf8()) < 0) {
        return {};
    }
    return path;
}

ToolRun TestXmlSchema::validate(const QString& file, const QString& schema) {
    return runTool(QStringLiteral("xmllint"),
                   {QStringLiteral("--noout"), QStringLiteral("--nonet"),
                    QStringLiteral("--schema"), m_schemas + QStringLiteral("/") + schema, file});
}

ToolRun TestXmlSchema::verify(const QString& file, const QString& signedElement) {
    return runTool(
        QStringLiteral("xmlsec1"),
        {QStringLiteral("--verify"), QStringLiteral("--pubkey-cert-pem"), certFile(),
         QStringLiteral("--id-attr:Id"), kNfeNs + QStringLiteral(":") + signedElement, file});
}

void TestXmlSchema::eventsValidateAndCarryTheRecipientsSignature() {
    for (int i = 1; i <= 4; ++i) {
        m_db.store->insertNote(note(i, QStringLiteral("0"), QStringLiteral("N")));
    }
    const struct {
        int number;
        QString code;
        QString justification;
    } events[] = {{1, QStringLiteral("4"), {}},
                  {2, QStringLiteral("1"), {}},
                  {3, QStringLiteral("3"), QStringLiteral("Mercadoria não entregue: devolução")},
                  {4, QStringLiteral("2"), {}}};
    for (const auto& e : events) {
        const Reply r = call(
            *m_db.store, QStringLiteral("setManifestacao"),
            {kReg, marked({keyFor(e.number)}), e.code, e.justification, QStringLiteral("OPER01")});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.result.toList().value(2).toString(), QStringLiteral("1"));
    }
    // Another conclusive type replaces the first, and the first coming back is its sequence 2,
    // with an Id of its own.
    for (const QString& code : {QStringLiteral("2"), QStringLiteral("1")}) {
        QCOMPARE(call(*m_db.store, QStringLiteral("setManifestacao"),
                      {kReg, marked({keyFor(2)}), code, QString(), QString()})
                     .result.toList()
                     .value(2)
                     .toString(),
                 QStringLiteral("1"));
    }

    QSqlQuery q(m_db.store->database());
    QVERIFY(
        q.exec(QStringLiteral("SELECT NRACESSONF, TPEVENTO, NRSEQEVENTO, DSXMLEVENTO FROM "
                              "EVENTONFE WHERE CDSTAT = 135 ORDER BY NRACESSONF, "
                              "NRSEQEVENTO")));
    int count = 0;
    QString firstCertificate;
    while (q.next()) {
        ++count;
        const QString xml = q.value(3).toString();
        const QString id = QStringLiteral("ID%1%2%3")
                               .arg(q.value(1).toString(), q.value(0).toString())
                               .arg(q.value(2).toInt(), 2, 10, QChar(u'0'));
        QVERIFY2(xml.contains(QStringLiteral("Id=\"%1\"").arg(id)), qPrintable(xml));
        QVERIFY(xml.contains(QStringLiteral("<Reference URI=\"#%1\">").arg(id)));
        const QString file = write(QStringLiteral("evento%1.xml").arg(count), xml);
        const ToolRun valid = validate(file, QStringLiteral("procConfRecebtoNFe_v1.00.xsd"));
        QVERIFY2(valid.ok, qPrintable(valid.output + xml));
        const ToolRun sig = verify(file, QStringLiteral("infEvento"));
        QVERIFY2(sig.ok, qPrintable(sig.output));
        const QString cert = xml.section(QStringLiteral("<X509Certificate>"), 1, 1)
                                 .section(QStringLiteral("</X509Certificate>"), 0, 0)
                                 .remove(QRegularExpression(QStringLiteral("\\s")));
        QVERIFY(!cert.isEmpty());
        if (firstCertificate.isEmpty()) {
            firstCertificate = cert;
        }
        QCOMPARE(cert, firstCertificate);  // one demo certificate, made once
    }
    QCOMPARE(count, 6);

    // The certificate in KeyInfo is the demo one beside the database.
    const ToolRun subject = runTool(
        QStringLiteral("openssl"), {QStringLiteral("x509"), QStringLiteral("-noout"),
                                    QStringLiteral("-subject"), QStringLiteral("-in"), certFile()});
    QVERIFY2(subject.output.contains(QStringLiteral("ORVANTA DEMO:") +
                                     QLatin1String(dfe58000::kDemoCertCnpj)),
             qPrintable(subject.output));
    QFile pem(certFile());
    QVERIFY(pem.open(QIODevice::ReadOnly));
    QString pemBody = QString::fromLatin1(pem.readAll());
    pemBody.remove(QStringLiteral("-----BEGIN CERTIFICATE-----"))
        .remove(QStringLiteral("-----END CERTIFICATE-----"))
        .remove(QRegularExpression(QStringLiteral("\\s")));
    QCOMPARE(firstCertificate, pemBody);
}

void TestXmlSchema::nfeOfEveryKindOfNoteValidatesAndVerifies() {
    NoteRecord plain = note(10, QStringLiteral("4"));
    NoteRecord cpfIssuer = note(11, QStringLiteral("4"));
    cpfIssuer.IDTPIJUREMIT = QStringLiteral("F");
    cpfIssuer.NRINSJURNFORIG = QStringLiteral("52998224725");
    cpfIssuer.NRACESSONF = keyFor(11, QStringLiteral("00052998224725"));
    NoteRecord awkward = note(12, QStringLiteral("4"));
    awkward.NMRAZSOCEMIT = QStringLiteral("  Comércio\tŁódź — “Ltda”  ");
    awkward.CDINSCESTADEST.clear();  // recipient without state registration
    awkward.VRNOTAFISC = 0;
    awkward.IDENTRSAIDNF = QStringLiteral("0");
    NoteRecord noName = note(13, QStringLiteral("4"));
    noName.NMRAZSOCEMIT.clear();
    noName.VRNOTAFISC = 98765432.1;
    for (const NoteRecord& n : {plain, cpfIssuer, awkward, noName}) {
        m_db.store->insertNote(n);
    }
    m_db.store->insertNote(note(14, QStringLiteral("0"), QStringLiteral("N")));

    const Reply gen = call(
        *m_db.store, QStringLiteral("GeraXml"),
        {marked({plain.NRACESSONF, cpfIssuer.NRACESSONF, awkward.NRACESSONF, noName.NRACESSONF}),
         QStringLiteral("OPER01")});
    QVERIFY2(gen.ok, qPrintable(gen.error));
    QMap<QString, QString> docs = documents(gen);
    QCOMPARE(docs.size(), 4);

    // A downloaded document after Ciência registered through the server.
    QVERIFY(call(*m_db.store, QStringLiteral("setManifestacao"),
                 {kReg, marked({keyFor(14)}), QStringLiteral("4"), QString(), QString()})
                .ok);
    const Reply down = call(*m_db.store, QStringLiteral("DownloadXML"),
                            {marked({keyFor(14)}), kReg, QStringLiteral("OPER01")});
    QVERIFY2(down.ok, qPrintable(down.error));
    const QMap<QString, QString> downloaded = documents(down);
    QCOMPARE(downloaded.size(), 1);
    docs.insert(downloaded);

    int i = 0;
    for (auto it = docs.cbegin(); it != docs.cend(); ++it) {
        const QString& xml = it.value();
        QVERIFY(
            xml.contains(QStringLiteral("<infNFe Id=\"NFe%1\" versao=\"4.00\">").arg(it.key())));
        QVERIFY(xml.contains(QStringLiteral("<chNFe>%1</chNFe>").arg(it.key())));
        const QString file = write(QStringLiteral("nfe%1.xml").arg(++i), xml);
        const ToolRun valid = validate(file, QStringLiteral("procNFe_v4.00.xsd"));
        QVERIFY2(valid.ok, qPrintable(valid.output + xml));
        const ToolRun sig = verify(file, QStringLiteral("infNFe"));
        QVERIFY2(sig.ok, qPrintable(sig.output));
    }
    // The stored values reach the document.
    QVERIFY(docs.value(cpfIssuer.NRACESSONF).contains(QStringLiteral("<emit><CPF>52998224725")));
    QVERIFY(docs.value(noName.NRACESSONF).contains(QStringLiteral("<vNF>98765432.10</vNF>")));
    QVERIFY(docs.value(awkward.NRACESSONF).contains(QStringLiteral("<tpNF>0</tpNF>")));
    QVERIFY(docs.value(awkward.NRACESSONF).contains(QStringLiteral("<indIEDest>9</indIEDest>")));
    QVERIFY(docs.value(plain.NRACESSONF)
                .contains(QStringLiteral("<xNome>Fornecedor &amp; Filhos &lt;Ltda&gt;</xNome>")));
}

void TestXmlSchema::alteredDocumentsAreCaught() {
    m_db.store->insertNote(note(20, QStringLiteral("4")));
    const QString xml =
        documents(call(*m_db.store, QStringLiteral("GeraXml"), {marked({keyFor(20)}), QString()}))
            .value(keyFor(20));
    QVERIFY(xml.contains(QStringLiteral("<vNF>1234.50</vNF>")));
    const QString good = write(QStringLiteral("good.xml"), xml);
    QVERIFY(validate(good, QStringLiteral("procNFe_v4.00.xsd")).ok);
    QVERIFY(verify(good, QStringLiteral("infNFe")).ok);

    // A changed value keeps the layout but breaks the signature.
    QString altered = xml;
    altered.replace(QStringLiteral("<vNF>1234.50</vNF>"), QStringLiteral("<vNF>1.00</vNF>"));
    const QString forged = write(QStringLiteral("forged.xml"), altered);
    QVERIFY(validate(forged, QStringLiteral("procNFe_v4.00.xsd")).ok);
    QVERIFY(!verify(forged, QStringLiteral("infNFe")).ok);

    // A missing mandatory group breaks the layout.
    QString noTransport = xml;
    noTransport.remove(QStringLiteral("<transp><modFrete>9</modFrete></transp>"));
    QVERIFY(noTransport != xml);
    QVERIFY(!validate(write(QStringLiteral("notransp.xml"), noTransport),
                      QStringLiteral("procNFe_v4.00.xsd"))
                 .ok);

    // Another key does not verify it.
    const QString otherDir = m_db.dir->filePath(QStringLiteral("other"));
    const mode_t antes = ::umask(0);  // a careless umask: the key stays private all the same
    const dfe58000::DemoCertificate other = dfe58000::ensureDemoCertificate(otherDir);
    ::umask(antes);
    const QFileDevice::Permissions outros = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFile::permissions(other.keyFile) & outros, QFileDevice::Permissions());
    QVERIFY(
        !runTool(QStringLiteral("xmlsec1"),
                 {QStringLiteral("--verify"), QStringLiteral("--pubkey-cert-pem"), other.certFile,
                  QStringLiteral("--id-attr:Id"), kNfeNs + QStringLiteral(":infNFe"), good})
             .ok);
}

void TestXmlSchema::signingFailureWritesNothing() {
    m_db.store->insertNote(note(30, QStringLiteral("0")));
    // The certificate directory cannot be created under a plain file.
    const QString blocker = write(QStringLiteral("blocker"), QStringLiteral("x"));
    qputenv("DFE58000_CERT_DIR", (blocker + QStringLiteral("/cert")).toLocal8Bit());

    const Reply event =
        call(*m_db.store, QStringLiteral("setManifestacao"),
             {kReg, marked({keyFor(30)}), QStringLiteral("4"), QString(), QString()});
    // The note comes back among the rejected ones, with the reason.
    QVERIFY2(event.ok, qPrintable(event.error));
    QCOMPARE(event.result.toList().value(2).toString(), QStringLiteral("0"));
    const QList<QVariantList> rejected =
        host::decodePacket(event.result.toList().value(4).toByteArray()).rows;
    QCOMPARE(rejected.size(), 1);
    QVERIFY2(rejected.at(0).value(3).toString().contains(QStringLiteral("certificado")),
             qPrintable(rejected.at(0).value(3).toString()));
    // GeraXml reports the note among the not generated, with the reason.
    const Reply gen =
        call(*m_db.store, QStringLiteral("GeraXml"), {marked({keyFor(30)}), QString()});
    QVERIFY2(gen.ok, qPrintable(gen.error));
    QCOMPARE(gen.result.toList().value(2).toString(), QStringLiteral("0"));
    const QList<QVariantList> notGenerated =
        host::decodePacket(gen.result.toList().value(4).toByteArray()).rows;
    QCOMPARE(notGenerated.size(), 1);
    QVERIFY(notGenerated.at(0).value(1).toString().isEmpty());
    QVERIFY2(notGenerated.at(0).value(3).toString().contains(QStringLiteral("certificado")),
             qPrintable(notGenerated.at(0).value(3).toString()));

    auto count = [&](const QString& sql) {
        QSqlQuery q(m_db.store->database());
        return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
    };
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM EVENTOREG")), 0);
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM EVENTONFE")), 0);
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM DOCXMLNFE")), 0);
    QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE IDSTATUSMANIF = '0'")), 1);

    // Once the certificate can be made, the same event goes through.
    qunsetenv("DFE58000_CERT_DIR");
    const Reply again =
        call(*m_db.store, QStringLiteral("setManifestacao"),
             {kReg, marked({keyFor(30)}), QStringLiteral("4"), QString(), QString()});
    QVERIFY2(again.ok, qPrintable(again.error));
    QCOMPARE(again.result.toList().value(2).toString(), QStringLiteral("1"));
}

void TestXmlSchema::registerRecipient(const QString& registration, const QString& personType) {
    QSqlQuery q(m_db.store->database());
    q.prepare(
        QStringLiteral("INSERT INTO INSCRESTAD (CDEMPRESA, NRINSJURIEST, IDTPIJURIEST, "
                       "CDINSCESTA, SGESTADO) VALUES ('01', ?, ?, '110042490114', 'SP')"));
    q.addBindValue(registration);
    q.addBindValue(personType);
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
}

// The archived document of the last event registered for a key.
QString TestXmlSchema::eventXml(const QString& key) {
    QSqlQuery q(m_db.store->database());
    q.prepare(
        QStringLiteral("SELECT DSXMLEVENTO FROM EVENTONFE WHERE NRACESSONF = ? AND CDSTAT = "
                       "135 ORDER BY NRSEQEVENTO DESC"));
    q.addBindValue(key);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

void TestXmlSchema::alphanumericKeysAndRegistrationsValidate() {
    registerRecipient(kAlnumReg, QStringLiteral("J"));
    registerRecipient(kCpfReg, QStringLiteral("F"));
    // Both parties with letters, in homologation.
    NoteRecord both = testnotes::documentNote(40, QStringLiteral("0"), kAlnumReg,
                                              QStringLiteral("N"), 3, kAlnumIssuer);
    both.IDAMBIENTEMANIF = QStringLiteral("2");
    // Only the issuer, with the XML already available.
    NoteRecord issuer = testnotes::documentNote(41, QStringLiteral("4"), kReg, QStringLiteral("S"),
                                                3, kAlnumIssuer);
    issuer.IDAMBIENTEMANIF = QStringLiteral("1");
    // A person as the recipient.
    NoteRecord person = note(42, QStringLiteral("0"), QStringLiteral("N"));
    person.NRINSJURIESTDEST = kCpfReg;
    person.IDAMBIENTEMANIF = QStringLiteral("1");
    for (const NoteRecord& n : {both, issuer, person}) {
        m_db.store->insertNote(n);
    }
    QVERIFY(both.NRACESSONF.mid(6, 14) == kAlnumIssuer);
    QVERIFY(fiscal::isValidAccessKey(both.NRACESSONF));

    for (const auto& [reg, key, code] :
         {std::tuple{kAlnumReg, both.NRACESSONF, QStringLiteral("4")},
          std::tuple{QStringLiteral("529.982.247-25"), person.NRACESSONF, QStringLiteral("1")}}) {
        const Reply r = call(*m_db.store, QStringLiteral("setManifestacao"),
                             {reg, marked({key}), code, QString(), QStringLiteral("OPER01")});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.result.toList().value(2).toString(), QStringLiteral("1"));
    }
    const Reply gen =
        call(*m_db.store, QStringLiteral("GeraXml"), {marked({issuer.NRACESSONF}), QString()});
    QVERIFY2(gen.ok, qPrintable(gen.error));
    const Reply down = call(*m_db.store, QStringLiteral("DownloadXML"),
                            {marked({both.NRACESSONF}), kAlnumReg, QStringLiteral("OPER01")});
    QVERIFY2(down.ok, qPrintable(down.error));
    QMap<QString, QString> nfes = documents(gen);
    nfes.insert(documents(down));
    QCOMPARE(nfes.size(), 2);

    for (auto it = nfes.cbegin(); it != nfes.cend(); ++it) {
        const QString& xml = it.value();
        QVERIFY2(xml.contains(QStringLiteral("<infNFe Id=\"NFe%1\"").arg(it.key())),
                 qPrintable(xml));
        QVERIFY(xml.contains(QStringLiteral("<chNFe>%1</chNFe>").arg(it.key())));
        QVERIFY(xml.contains(QStringLiteral("<emit><CNPJ>%1</CNPJ>").arg(kAlnumIssuer)));
        const QString file = write(QStringLiteral("alnum-nfe-%1.xml").arg(it.key()), xml);
        const ToolRun valid = validate(file, QStringLiteral("procNFe_v4.00.xsd"));
        QVERIFY2(valid.ok, qPrintable(valid.output + xml));
        const ToolRun sig = verify(file, QStringLiteral("infNFe"));
        QVERIFY2(sig.ok, qPrintable(sig.output));
    }
    const QString bothNfe = nfes.value(both.NRACESSONF);
    QVERIFY(bothNfe.contains(QStringLiteral("<dest><CNPJ>%1</CNPJ>").arg(kAlnumReg)));
    QCOMPARE(bothNfe.count(QStringLiteral("<tpAmb>2</tpAmb>")), 2);  // ide and infProt
    QCOMPARE(nfes.value(issuer.NRACESSONF).count(QStringLiteral("<tpAmb>1</tpAmb>")), 2);

    // The events: the author, the key in chNFe and Id, the recipient in the answer.
    const QString bothEvent = eventXml(both.NRACESSONF);
    const QString personEvent = eventXml(person.NRACESSONF);
    QVERIFY(bothEvent.contains(
        QStringLiteral("<CNPJ>%1</CNPJ><chNFe>%2</chNFe>").arg(kAlnumReg, both.NRACESSONF)));
    QVERIFY(bothEvent.contains(QStringLiteral("Id=\"ID210210") + both.NRACESSONF +
                               QStringLiteral("01\"")));
    QVERIFY2(bothEvent.contains(QStringLiteral("<nSeqEvento>1</nSeqEvento><CNPJDest>%1</"
                                               "CNPJDest><dhRegEvento>")
                                    .arg(kAlnumReg)),
             qPrintable(bothEvent));
    QCOMPARE(bothEvent.count(QStringLiteral("<tpAmb>2</tpAmb>")), 2);  // evento and retEvento
    QVERIFY(personEvent.contains(QStringLiteral("<CPF>%1</CPF>").arg(kCpfReg)));
    QVERIFY(personEvent.contains(QStringLiteral("<CPFDest>%1</CPFDest>").arg(kCpfReg)));
    QVERIFY(!personEvent.contains(QStringLiteral("CNPJDest")));
    QCOMPARE(personEvent.count(QStringLiteral("<tpAmb>1</tpAmb>")), 2);
    int i = 0;
    for (const QString& xml : {bothEvent, personEvent}) {
        const QString file = write(QStringLiteral("alnum-event%1.xml").arg(++i), xml);
        const ToolRun valid = validate(file, QStringLiteral("procConfRecebtoNFe_v1.00.xsd"));
        QVERIFY2(valid.ok, qPrintable(valid.output + xml));
        const ToolRun sig = verify(file, QStringLiteral("infEvento"));
        QVERIFY2(sig.ok, qPrintable(sig.output));
    }
}

void TestXmlSchema::malformedKeysAndRegistrationsFailTheSchemas() {
    registerRecipient(kAlnumReg, QStringLiteral("J"));
    const NoteRecord n = testnotes::documentNote(50, QStringLiteral("0"), kAlnumReg,
                                                 QStringLiteral("N"), 3, kAlnumIssuer);
    m_db.store->insertNote(n);
    const QString key = n.NRACESSONF;
    QVERIFY(call(*m_db.store, QStringLiteral("setManifestacao"),
                 {kAlnumReg, marked({key}), QStringLiteral("4"), QString(), QString()})
                .ok);
    const QString nfe = documents(call(*m_db.store, QStringLiteral("DownloadXML"),
                                       {marked({key}), kAlnumReg, QStringLiteral("OPER01")}))
                            .value(key);
    const QString event = eventXml(key);
    QVERIFY(!nfe.isEmpty() && !event.isEmpty());

    auto changed = [](QString s, int pos, QChar c) {
        s[pos] = c;
        return s;
    };
    const int letter = key.indexOf(QRegularExpression(QStringLiteral("[A-Z]")));
    QVERIFY(letter >= 6 && letter < 18);
    const QString lowerKey = changed(key, letter, key.at(letter).toLower());
    const QString letterInIssuerDigit = changed(key, 18, u'A');  // the issuer's CNPJ digits
    const QString letterInKeyDigit = changed(key, 43, u'A');     // the key's check digit
    const QString lowerIssuer = kAlnumIssuer.toLower();
    const QString letterInCnpjDigit = changed(kAlnumReg, 13, u'A');
    const struct {
        const char* what;
        const QString& document;
        QString from, to;
        const char* schema;
    } cases[] = {
        {"key with a lower-case letter", nfe, key, lowerKey, "procNFe_v4.00.xsd"},
        {"letter in the key's CNPJ digits", nfe, key, letterInIssuerDigit, "procNFe_v4.00.xsd"},
        {"letter in the key's check digit", nfe, key, letterInKeyDigit, "procNFe_v4.00.xsd"},
        {"issuer CNPJ in lower case", nfe, QStringLiteral("<CNPJ>") + kAlnumIssuer,
         QStringLiteral("<CNPJ>") + lowerIssuer, "procNFe_v4.00.xsd"},
        {"recipient CNPJ with a letter in a check digit", nfe, QStringLiteral("<CNPJ>") + kAlnumReg,
         QStringLiteral("<CNPJ>") + letterInCnpjDigit, "procNFe_v4.00.xsd"},
        {"event key with a lower-case letter", event, key, lowerKey,
         "procConfRecebtoNFe_v1.00.xsd"},
        {"event key with a letter in a check digit", event, key, letterInKeyDigit,
         "procConfRecebtoNFe_v1.00.xsd"},
        {"author CNPJ in lower case", event, QStringLiteral("<CNPJ>") + kAlnumReg,
         QStringLiteral("<CNPJ>") + kAlnumReg.toLower(), "procConfRecebtoNFe_v1.00.xsd"},
        {"recipient CNPJ of the answer with a letter in a check digit", event,
         QStringLiteral("<CNPJDest>") + kAlnumReg, QStringLiteral("<CNPJDest>") + letterInCnpjDigit,
         "procConfRecebtoNFe_v1.00.xsd"},
    };
    // The documents as made pass.
    QVERIFY(
        validate(write(QStringLiteral("nfe.xml"), nfe), QStringLiteral("procNFe_v4.00.xsd")).ok);
    QVERIFY(validate(write(QStringLiteral("event.xml"), event),
                     QStringLiteral("procConfRecebtoNFe_v1.00.xsd"))
                .ok);
    int i = 0;
    for (const auto& c : cases) {
        QVERIFY2(c.document.contains(c.from), c.what);
        const QString bad = QString(c.document).replace(c.from, c.to);
        const QString file = write(QStringLiteral("bad%1.xml").arg(++i), bad);
        QVERIFY2(!validate(file, QLatin1String(c.schema)).ok, c.what);
    }
}

void TestXmlSchema::oneAlphanumericKeyAmongNumericOnes() {
    QStringList keys;
    for (int i = 60; i <= 63; ++i) {
        NoteRecord n = i == 62 ? testnotes::documentNote(i, QStringLiteral("4"), kReg,
                                                         QStringLiteral("S"), 3, kAlnumIssuer)
                               : note(i, QStringLiteral("4"));
        m_db.store->insertNote(n);
        keys << n.NRACESSONF;
    }
    QVERIFY(fiscal::isAlphanumericCnpj(keys.at(2).mid(6, 14)));
    for (const QString& method : {QStringLiteral("GeraXml"), QStringLiteral("DownloadXML")}) {
        const Reply r =
            method == u"GeraXml"
                ? call(*m_db.store, method, {marked(keys), QStringLiteral("OPER01")})
                : call(*m_db.store, method, {marked(keys), kReg, QStringLiteral("OPER01")});
        QVERIFY2(r.ok, qPrintable(r.error));
        const QVariantList res = r.result.toList();
        const QString status = res.value(0).toString();
        QVERIFY2(status == u"S" || status == u"OK", qPrintable(res.value(1).toString()));
        QCOMPARE(res.value(2).toString(), QStringLiteral("4"));
        QCOMPARE(res.value(3).toString(), QStringLiteral("0"));
        const QMap<QString, QString> docs = documents(r);
        QStringList sorted = keys;
        sorted.sort();
        QCOMPARE(docs.keys(), sorted);
        for (const QString& key : keys) {
            const QString file =
                write(QStringLiteral("%1-%2.xml").arg(method, key), docs.value(key));
            const ToolRun valid = validate(file, QStringLiteral("procNFe_v4.00.xsd"));
            QVERIFY2(valid.ok, qPrintable(method + u' ' + key + u' ' + valid.output));
        }
    }
}

// The server's workers sign at the same time: every document still carries its own valid
// signature.
void TestXmlSchema::documentsSignedOnSeveralThreadsAtOnceVerify() {
    for (int n = 40; n < 56; ++n) {
        m_db.store->insertNote(note(n, QStringLiteral("4")));
    }
    const QString url = m_db.store->database().databaseName();
    QMap<QString, QString> docs;
    QMutex mutex;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([&, t] {
            Store store(QStringLiteral("sqlite:") + url);
            QStringList keys;
            for (int n = 40 + t * 4; n < 44 + t * 4; ++n) {
                keys << keyFor(n);
            }
            const auto got =
                documents(call(store, QStringLiteral("GeraXml"), {marked(keys), QString()}));
            QMutexLocker lock(&mutex);
            docs.insert(got);
        }));
        threads.back()->start();
    }
    for (auto& t : threads) {
        t->wait();
    }
    QCOMPARE(docs.size(), 16);
    for (auto it = docs.cbegin(); it != docs.cend(); ++it) {
        const QString file = write(it.key() + QStringLiteral(".xml"), it.value());
        const ToolRun v = verify(file, QStringLiteral("infNFe"));
        QVERIFY2(v.ok, qPrintable(v.output));
    }
}

QTEST_GUILESS_MAIN(TestXmlSchema)
#include "tst_xmlschema.moc"

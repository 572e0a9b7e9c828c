#include "documents.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QXmlStreamWriter>
#include <algorithm>
#include <functional>

#include "core/hosterror.h"
#include "core/packet.h"
#include "fiscaldocs.h"
#include "rules.h"
#include "signer.h"

namespace dfe58000 {

using host::FieldDef;
using host::FieldType;

namespace {

const QList<FieldDef>& documentFields() {
    static const QList<FieldDef> fields = {
        {QStringLiteral("NRACESSONF"), FieldType::String, 44, false},
        {QStringLiteral("DSTEXTOXML"), FieldType::Memo, 0, false},
        {QStringLiteral("CDSTATUS"), FieldType::String, 3, false},
        {QStringLiteral("DSSTATUS"), FieldType::String, 4000, false},
    };
    return fields;
}

QSqlQuery run(QSqlDatabase& db, const QString& sql, const QVariantList& binds) {
    return runSql(db, sql, binds, QStringLiteral("Erro do banco de dados"));
}

QByteArray documentPacket(const QList<QVariantList>& rows) {
    host::PacketWriter w(documentFields(), rows.size());
    for (const QVariantList& r : rows)
        w.row(r);
    return w.finish();
}

QVariantList failure(const QString& status, const QString& text) {
    return {status, text, QStringLiteral("0"), QStringLiteral("0"), QString()};
}

void begin(Store& store) {
    QSqlDatabase& db = store.database();
    const bool ok = store.dialect() == host::SqlDialect::SQLite
                        ? QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"))
                        : db.transaction();
    if (!ok)
        throw host::EDatabaseError(QStringLiteral("Não foi possível iniciar a transação: %1")
                                       .arg(db.lastError().text().trimmed()));
}

void archive(QSqlDatabase& db, const QString& key, const QString& xml) {
    run(db, QStringLiteral("DELETE FROM DOCXMLNFE WHERE NRACESSONF = ?"), {key});
    run(db,
        QStringLiteral("INSERT INTO DOCXMLNFE (NRACESSONF, DTHRGERACAO, DSTEXTOXML) VALUES (?, ?, "
                       "?)"),
        {key, dbDateTime(QDateTime::currentDateTime()), xml});
}

}  // namespace

QStringList markedKeys(const QByteArray& marked) {
    const host::DecodedPacket p = host::decodePacket(marked);
    int col = -1;
    for (int i = 0; i < p.fields.size(); ++i)
        if (p.fields.at(i).name.compare(QStringLiteral("NRACESSONF"), Qt::CaseInsensitive) == 0)
            col = i;
    if (col < 0)
        throw host::EHostError(
            QStringLiteral("O pacote de notas marcadas não tem o campo NRACESSONF."));
    QStringList keys;
    for (const QVariantList& row : p.rows)
        keys << row.at(col).toString().trimmed();
    return keys;
}

namespace {

const QString kNfeNs = QStringLiteral("http://www.portalfiscal.inf.br/nfe");

// Date-times of the documents: Brasília time with an explicit offset, as the national layout
// requires (no "Z", whole hours).
QString brTime(const QDateTime& dt) {
    const QDateTime t =
        (dt.isValid() ? dt : QDateTime::currentDateTime()).toOffsetFromUtc(-3 * 3600);
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QStringLiteral("-03:00");
}

// Free text as the national layout accepts it: Latin-1 printable characters, no blank at either
// end, single blanks inside, at most max characters; fallback when nothing is left.
QString layoutText(const QString& text, int max, const QString& fallback) {
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text)
        clean += (c.unicode() < 0x20 || c.unicode() > 0xFF || c.unicode() == 0x7F ||
                  (c.unicode() >= 0x80 && c.unicode() < 0xA0))
                     ? QChar(u' ')
                     : c;
    clean = clean.simplified().left(max).trimmed();
    return clean.size() < 2 ? fallback : clean;
}

QString digitsOnly(const QString& text) {
    QString d;
    for (const QChar c : text)
        if (c.isDigit() && c.unicode() < 0x80)
            d += c;
    return d;
}

// A legal registration as the documents carry it: no mask characters, upper-case letters.
QString registrationOf(const QVariant& stored) {
    return fiscal::stripMask(stored.toString()).toUpper();
}

bool isCpfShape(const QString& s) {
    return s.size() == 11 && digitsOnly(s) == s;
}

// The form the documents accept for a CNPJ: 12 characters 0-9 or A-Z, then two digits.
bool isCnpjShape(const QString& s) {
    if (s.size() != 14 || digitsOnly(s.right(2)).size() != 2)
        return false;
    for (const QChar c : s.left(12))
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z')))
            return false;
    return true;
}

// The note's environment as tpAmb: "2" homologation, anything else production.
QString environmentOf(const QVariant& stored) {
    return stored.toString().trimmed() == u"2" ? QStringLiteral("2") : QStringLiteral("1");
}

QString money(double v) {
    return QString::number(v < 0 ? 0.0 : v, 'f', 2);
}

// The capital of each state (IBGE code, name, abbreviation, postal code): the place of the
// simulated issue.
struct Place {
    int uf;
    const char* code;
    const char* city;
    const char* abbrev;
    const char* cep;
};
const Place& placeOf(int uf) {
    static const Place places[] = {{11, "1100205", "Porto Velho", "RO", "76801000"},
                                   {12, "1200401", "Rio Branco", "AC", "69900000"},
                                   {13, "1302603", "Manaus", "AM", "69005000"},
                                   {14, "1400100", "Boa Vista", "RR", "69301000"},
                                   {15, "1501402", "Belem", "PA", "66010000"},
                                   {16, "1600303", "Macapa", "AP", "68900000"},
                                   {17, "1721000", "Palmas", "TO", "77001000"},
                                   {21, "2111300", "Sao Luis", "MA", "65010000"},
                                   {22, "2211001", "Teresina", "PI", "64000000"},
                                   {23, "2304400", "Fortaleza", "CE", "60025000"},
                                   {24, "2408102", "Natal", "RN", "59025000"},
                                   {25, "2507507", "Joao Pessoa", "PB", "58010000"},
                                   {26, "2611606", "Recife", "PE", "50010000"},
                                   {27, "2704302", "Maceio", "AL", "57020000"},
                                   {28, "2800308", "Aracaju", "SE", "49010000"},
                                   {29, "2927408", "Salvador", "BA", "40020000"},
                                   {31, "3106200", "Belo Horizonte", "MG", "30130000"},
                                   {32, "3205309", "Vitoria", "ES", "29010000"},
                                   {33, "3304557", "Rio de Janeiro", "RJ", "20010000"},
                                   {35, "3550308", "Sao Paulo", "SP", "01001000"},
                                   {41, "4106902", "Curitiba", "PR", "80010000"},
                                   {42, "4205407", "Florianopolis", "SC", "88010000"},
                                   {43, "4314902", "Porto Alegre", "RS", "90010000"},
                                   {50, "5002704", "Campo Grande", "MS", "79002000"},
                                   {51, "5103403", "Cuiaba", "MT", "78005000"},
                                   {52, "5208707", "Goiania", "GO", "74003000"},
                                   {53, "5300108", "Brasilia", "DF", "70040000"}};
    for (const Place& p : places)
        if (p.uf == uf)
            return p;
    return places[19];  // Sao Paulo
}

struct NfeData {
    QString key;
    QString issuer;
    bool issuerCpf = false;
    QString issuerName;
    QDateTime issued, authorised;
    double value = 0;
    QString recipient, recipientIe;
    bool entry = false;  // tpNF 0
    QString tpAmb;
};

void text(QXmlStreamWriter& w, const QString& name, const QString& value) {
    w.writeTextElement(kNfeNs, name, value);
}

// The NF-e 4.00 of a note: the stored fields where the note has them, the minimum a valid
// document needs elsewhere (one item with the whole value, no tax due, no transport, one
// payment).
void writeNFe(QXmlStreamWriter& w, const NfeData& n) {
    const QString& key = n.key;
    const Place& place = placeOf(key.left(2).toInt());
    const QString value = money(n.value);
    w.writeStartElement(kNfeNs, QStringLiteral("NFe"));
    w.writeStartElement(kNfeNs, QStringLiteral("infNFe"));
    w.writeAttribute(QStringLiteral("Id"), QStringLiteral("NFe") + key);
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("4.00"));
    w.writeStartElement(kNfeNs, QStringLiteral("ide"));
    text(w, QStringLiteral("cUF"), key.left(2));
    text(w, QStringLiteral("cNF"), key.mid(35, 8));
    text(w, QStringLiteral("natOp"), QStringLiteral("Venda de mercadoria"));
    text(w, QStringLiteral("mod"), key.mid(20, 2));
    text(w, QStringLiteral("serie"), QString::number(key.mid(22, 3).toInt()));
    text(w, QStringLiteral("nNF"), QString::number(key.mid(25, 9).toLongLong()));
    text(w, QStringLiteral("dhEmi"), brTime(n.issued));
    text(w, QStringLiteral("tpNF"), n.entry ? QStringLiteral("0") : QStringLiteral("1"));
    text(w, QStringLiteral("idDest"), QStringLiteral("1"));
    text(w, QStringLiteral("cMunFG"), QLatin1String(place.code));
    text(w, QStringLiteral("tpImp"), QStringLiteral("1"));
    text(w, QStringLiteral("tpEmis"), key.mid(34, 1));
    text(w, QStringLiteral("cDV"), key.right(1));
    text(w, QStringLiteral("tpAmb"), n.tpAmb);
    text(w, QStringLiteral("finNFe"), QStringLiteral("1"));
    text(w, QStringLiteral("indFinal"), QStringLiteral("0"));
    text(w, QStringLiteral("indPres"), QStringLiteral("9"));
    text(w, QStringLiteral("procEmi"), QStringLiteral("0"));
    text(w, QStringLiteral("verProc"), QStringLiteral("DFE58000-SIM"));
    w.writeEndElement();  // ide

    w.writeStartElement(kNfeNs, QStringLiteral("emit"));
    text(w, n.issuerCpf ? QStringLiteral("CPF") : QStringLiteral("CNPJ"), n.issuer);
    text(w, QStringLiteral("xNome"), n.issuerName);
    w.writeStartElement(kNfeNs, QStringLiteral("enderEmit"));
    text(w, QStringLiteral("xLgr"), QStringLiteral("Rua Principal"));
    text(w, QStringLiteral("nro"), QStringLiteral("100"));
    text(w, QStringLiteral("xBairro"), QStringLiteral("Centro"));
    text(w, QStringLiteral("cMun"), QLatin1String(place.code));
    text(w, QStringLiteral("xMun"), QLatin1String(place.city));
    text(w, QStringLiteral("UF"), QLatin1String(place.abbrev));
    text(w, QStringLiteral("CEP"), QLatin1String(place.cep));
    text(w, QStringLiteral("cPais"), QStringLiteral("1058"));
    text(w, QStringLiteral("xPais"), QStringLiteral("Brasil"));
    w.writeEndElement();  // enderEmit
    text(w, QStringLiteral("IE"), QStringLiteral("ISENTO"));
    text(w, QStringLiteral("CRT"), QStringLiteral("3"));
    w.writeEndElement();  // emit

    w.writeStartElement(kNfeNs, QStringLiteral("dest"));
    text(w, n.recipient.size() == 11 ? QStringLiteral("CPF") : QStringLiteral("CNPJ"), n.recipient);
    text(w, QStringLiteral("indIEDest"),
         n.recipientIe.isEmpty() ? QStringLiteral("9") : QStringLiteral("1"));
    if (!n.recipientIe.isEmpty())
        text(w, QStringLiteral("IE"), n.recipientIe);
    w.writeEndElement();  // dest

    w.writeStartElement(kNfeNs, QStringLiteral("det"));
    w.writeAttribute(QStringLiteral("nItem"), QStringLiteral("1"));
    w.writeStartElement(kNfeNs, QStringLiteral("prod"));
    text(w, QStringLiteral("cProd"), QStringLiteral("1"));
    text(w, QStringLiteral("cEAN"), QStringLiteral("SEM GTIN"));
    text(w, QStringLiteral("xProd"), QStringLiteral("Mercadorias diversas"));
    text(w, QStringLiteral("NCM"), QStringLiteral("00"));
    text(w, QStringLiteral("CFOP"), n.entry ? QStringLiteral("1949") : QStringLiteral("5102"));
    text(w, QStringLiteral("uCom"), QStringLiteral("UN"));
    text(w, QStringLiteral("qCom"), QStringLiteral("1.0000"));
    text(w, QStringLiteral("vUnCom"), value);
    text(w, QStringLiteral("vProd"), value);
    text(w, QStringLiteral("cEANTrib"), QStringLiteral("SEM GTIN"));
    text(w, QStringLiteral("uTrib"), QStringLiteral("UN"));
    text(w, QStringLiteral("qTrib"), QStringLiteral("1.0000"));
    text(w, QStringLiteral("vUnTrib"), value);
    text(w, QStringLiteral("indTot"), QStringLiteral("1"));
    w.writeEndElement();  // prod
    w.writeStartElement(kNfeNs, QStringLiteral("imposto"));
    w.writeStartElement(kNfeNs, QStringLiteral("ICMS"));
    w.writeStartElement(kNfeNs, QStringLiteral("ICMS40"));
    text(w, QStringLiteral("orig"), QStringLiteral("0"));
    text(w, QStringLiteral("CST"), QStringLiteral("41"));
    w.writeEndElement();  // ICMS40
    w.writeEndElement();  // ICMS
    w.writeStartElement(kNfeNs, QStringLiteral("PIS"));
    w.writeStartElement(kNfeNs, QStringLiteral("PISNT"));
    text(w, QStringLiteral("CST"), QStringLiteral("07"));
    w.writeEndElement();
    w.writeEndElement();  // PIS
    w.writeStartElement(kNfeNs, QStringLiteral("COFINS"));
    w.writeStartElement(kNfeNs, QStringLiteral("COFINSNT"));
    text(w, QStringLiteral("CST"), QStringLiteral("07"));
    w.writeEndElement();
    w.writeEndElement();  // COFINS
    w.writeEndElement();  // imposto
    w.writeEndElement();  // det

    w.writeStartElement(kNfeNs, QStringLiteral("total"));
    w.writeStartElement(kNfeNs, QStringLiteral("ICMSTot"));
    const QString zero = QStringLiteral("0.00");
    for (const char* name :
         {"vBC", "vICMS", "vICMSDeson", "vFCP", "vBCST", "vST", "vFCPST", "vFCPSTRet"})
        text(w, QLatin1String(name), zero);
    text(w, QStringLiteral("vProd"), value);
    for (const char* name :
         {"vFrete", "vSeg", "vDesc", "vII", "vIPI", "vIPIDevol", "vPIS", "vCOFINS", "vOutro"})
        text(w, QLatin1String(name), zero);
    text(w, QStringLiteral("vNF"), value);
    w.writeEndElement();  // ICMSTot
    w.writeEndElement();  // total
    w.writeStartElement(kNfeNs, QStringLiteral("transp"));
    text(w, QStringLiteral("modFrete"), QStringLiteral("9"));
    w.writeEndElement();  // transp
    w.writeStartElement(kNfeNs, QStringLiteral("pag"));
    w.writeStartElement(kNfeNs, QStringLiteral("detPag"));
    text(w, QStringLiteral("tPag"), QStringLiteral("15"));
    text(w, QStringLiteral("vPag"), value);
    w.writeEndElement();  // detPag
    w.writeEndElement();  // pag
    w.writeEndElement();  // infNFe
    writeSignatureTemplate(w, QStringLiteral("NFe") + key);
    w.writeEndElement();  // NFe
}

}  // namespace

QString nfeProcXml(Store& store, const QString& key) {
    QSqlQuery q = run(store.database(),
                      QStringLiteral("SELECT NRINSJURNFORIG, IDTPIJUREMIT, NMRAZSOCEMIT, "
                                     "NRNOTAFISC, CDSERIE, DTEMISSAO, DTRECBTO, VRNOTAFISC, "
                                     "NRINSJURIESTDEST, CDINSCESTADEST, IDENTRSAIDNF, "
                                     "IDAMBIENTEMANIF FROM NOTADEST WHERE NRACESSONF = ? ORDER BY "
                                     "CDEMPRESA"),
                      {key});
    if (!q.next())
        return {};
    if (!fiscal::isValidAccessKey(key))
        throw host::EHostError(
            QStringLiteral("Chave de acesso inválida para gerar o XML: %1").arg(key));
    NfeData n;
    n.key = key;
    n.issuerCpf = q.value(1).toString() == u"F";
    // The issuer's registration is part of the key (a CNPJ there may hold letters); the stored
    // one is used when it is sound.
    n.issuer = registrationOf(q.value(0));
    if (!(n.issuerCpf ? isCpfShape(n.issuer) : isCnpjShape(n.issuer))) {
        const QString fromKey = key.mid(6, 14);
        n.issuerCpf =
            n.issuerCpf && fromKey.startsWith(QStringLiteral("000")) && isCpfShape(fromKey.mid(3));
        n.issuer = n.issuerCpf ? fromKey.mid(3) : fromKey;
    }
    n.issuerName = layoutText(q.value(2).toString(), 60, QStringLiteral("Emitente"));
    n.issued = fromDbDateTime(q.value(5));
    n.authorised = fromDbDateTime(q.value(6));
    if (!n.authorised.isValid())
        n.authorised = n.issued;
    n.value = q.value(7).toDouble();
    n.recipient = registrationOf(q.value(8));
    if (!isCpfShape(n.recipient) && !isCnpjShape(n.recipient))
        throw host::EHostError(
            QStringLiteral("A nota %1 não tem destinatário válido (CNPJ/CPF).").arg(key));
    n.recipientIe = digitsOnly(q.value(9).toString()).left(14);
    if (n.recipientIe.size() < 2)
        n.recipientIe.clear();
    n.entry = q.value(10).toString() == u"0";
    n.tpAmb = environmentOf(q.value(11));
    q.finish();  // no read lock held while the document is signed

    QString out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument(QStringLiteral("1.0"));
    w.writeDefaultNamespace(kNfeNs);
    w.writeStartElement(kNfeNs, QStringLiteral("nfeProc"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("4.00"));
    writeNFe(w, n);
    w.writeStartElement(kNfeNs, QStringLiteral("protNFe"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("4.00"));
    w.writeStartElement(kNfeNs, QStringLiteral("infProt"));
    text(w, QStringLiteral("tpAmb"), n.tpAmb);
    text(w, QStringLiteral("verAplic"), QStringLiteral("DFE58000-SIM"));
    text(w, QStringLiteral("chNFe"), key);
    text(w, QStringLiteral("dhRecbto"), brTime(n.authorised));
    text(w, QStringLiteral("nProt"),
         QStringLiteral("1") + key.left(2) + n.authorised.toString(QStringLiteral("yy")) +
             key.mid(25, 9) + QStringLiteral("1"));
    text(w, QStringLiteral("cStat"), QStringLiteral("100"));
    text(w, QStringLiteral("xMotivo"), QStringLiteral("Autorizado o uso da NF-e"));
    w.writeEndElement();  // infProt
    w.writeEndElement();  // protNFe
    w.writeEndElement();  // nfeProc
    w.writeEndDocument();
    return signXml(out, QStringLiteral("infNFe"), ensureDemoCertificate(demoCertDir(store)));
}

namespace {

// What an event's document takes from its note: the environment and the recipient.
struct EventNote {
    QString tpAmb = QStringLiteral("1");
    QString recipient;  // CNPJ or CPF; empty when unknown
};

EventNote eventNoteOf(Store& store, const QString& key) {
    QSqlQuery q = run(store.database(),
                      QStringLiteral("SELECT IDAMBIENTEMANIF, NRINSJURIESTDEST FROM NOTADEST WHERE "
                                     "NRACESSONF = ? ORDER BY CDEMPRESA"),
                      {key});
    EventNote note;
    if (q.next()) {
        note.tpAmb = environmentOf(q.value(0));
        note.recipient = registrationOf(q.value(1));
    }
    return note;
}

QString eventDocument(const EventRequest& req, const EventResult& r, const EventNote& note) {
    const QString seq = QStringLiteral("%1").arg(r.sequence, 2, 10, QChar(u'0'));
    const QString tp = QString::number(req.rule->tpEvento);
    const QString id = QStringLiteral("ID") + tp + req.accessKey + seq;
    const QString dh = brTime(req.when);
    QString out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument(QStringLiteral("1.0"));
    w.writeDefaultNamespace(kNfeNs);
    w.writeStartElement(kNfeNs, QStringLiteral("procEventoNFe"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    w.writeStartElement(kNfeNs, QStringLiteral("evento"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    w.writeStartElement(kNfeNs, QStringLiteral("infEvento"));
    w.writeAttribute(QStringLiteral("Id"), id);
    text(w, QStringLiteral("cOrgao"), QStringLiteral("91"));
    text(w, QStringLiteral("tpAmb"), note.tpAmb);
    text(w, req.author.size() == 11 ? QStringLiteral("CPF") : QStringLiteral("CNPJ"), req.author);
    text(w, QStringLiteral("chNFe"), req.accessKey);
    text(w, QStringLiteral("dhEvento"), dh);
    text(w, QStringLiteral("tpEvento"), tp);
    text(w, QStringLiteral("nSeqEvento"), QString::number(r.sequence));
    text(w, QStringLiteral("verEvento"), QStringLiteral("1.00"));
    w.writeStartElement(kNfeNs, QStringLiteral("detEvento"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    text(w, QStringLiteral("descEvento"), req.rule->descEvento);
    // As sent: the authority only registers a justification that fits the layout.
    if (req.rule->justificationAllowed && !req.justification.isEmpty())
        text(w, QStringLiteral("xJust"), req.justification);
    w.writeEndElement();  // detEvento
    w.writeEndElement();  // infEvento
    writeSignatureTemplate(w, id);
    w.writeEndElement();  // evento
    w.writeStartElement(kNfeNs, QStringLiteral("retEvento"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    w.writeStartElement(kNfeNs, QStringLiteral("infEvento"));
    text(w, QStringLiteral("tpAmb"), note.tpAmb);
    text(w, QStringLiteral("verAplic"), QStringLiteral("DFE58000-SIM"));
    text(w, QStringLiteral("cOrgao"), QStringLiteral("91"));
    text(w, QStringLiteral("cStat"), QString::number(r.cStat));
    text(w, QStringLiteral("xMotivo"), layoutText(r.xMotivo, 255, QStringLiteral("Evento")));
    text(w, QStringLiteral("chNFe"), req.accessKey);
    text(w, QStringLiteral("tpEvento"), tp);
    text(w, QStringLiteral("xEvento"), req.rule->xEvento);
    text(w, QStringLiteral("nSeqEvento"), QString::number(r.sequence));
    if (isCpfShape(note.recipient))
        text(w, QStringLiteral("CPFDest"), note.recipient);
    else if (isCnpjShape(note.recipient))
        text(w, QStringLiteral("CNPJDest"), note.recipient);
    text(w, QStringLiteral("dhRegEvento"), brTime(QDateTime::currentDateTime()));
    text(w, QStringLiteral("nProt"), r.protocol);
    w.writeEndElement();  // infEvento
    w.writeEndElement();  // retEvento
    w.writeEndElement();  // procEventoNFe
    w.writeEndDocument();
    return out;
}

}  // namespace

// Without the store the note is not known: a production document without the recipient.
QString procEventoXml(const EventRequest& req, const EventResult& r) {
    return eventDocument(req, r, EventNote());
}

QString signedProcEventoXml(Store& store, const EventRequest& request, const EventResult& result) {
    return signXml(eventDocument(request, result, eventNoteOf(store, request.accessKey)),
                   QStringLiteral("infEvento"), ensureDemoCertificate(demoCertDir(store)));
}

namespace {

// What became of one marked note: its row in the answer's packet.
struct NoteOutcome {
    QString key;
    QString status = QStringLiteral("N");  // S served, N not eligible, E failed, L hourly limit
    QString text;
    QString xml;
    QVariantList row() const { return {key.left(44), xml, status, text}; }
};

const QString kServed = QStringLiteral("S");
const QString kFailed = QStringLiteral("E");
const QString kLimited = QStringLiteral("L");

QString reasonOf(const std::exception& e) {
    if (const auto* h = dynamic_cast<const host::EHostError*>(&e))
        return h->text();
    return QString::fromLocal8Bit(e.what());
}

void fail(NoteOutcome& o, const QString& text) {
    o.status = kFailed;
    o.text = text;
    o.xml.clear();
}

// Builds and signs the note's document with no transaction open: a failure is that note's.
void build(Store& store, NoteOutcome& o) {
    try {
        o.xml = nfeProcXml(store, o.key);
        if (o.xml.isEmpty())
            fail(o, QStringLiteral("Nota não encontrada."));
    } catch (const std::exception& e) {
        fail(o, QStringLiteral("Falha ao gerar o XML: %1").arg(reasonOf(e)));
    }
}

void execOrThrow(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw host::EDatabaseError(
            QStringLiteral("Erro do banco de dados: %1").arg(q.lastError().text().trimmed()));
}

// One note's writes inside the open transaction under a savepoint: when they fail only they are
// undone. Returns the failure's text, empty when they succeed.
template <typename Writes>
QString inSavepoint(QSqlDatabase& db, Writes&& writes) {
    execOrThrow(db, QStringLiteral("SAVEPOINT DFE58000_NOTA"));
    try {
        writes();
        execOrThrow(db, QStringLiteral("RELEASE SAVEPOINT DFE58000_NOTA"));
        return {};
    } catch (const std::exception& e) {
        const QString reason = reasonOf(e);
        execOrThrow(db, QStringLiteral("ROLLBACK TO SAVEPOINT DFE58000_NOTA"));
        execOrThrow(db, QStringLiteral("RELEASE SAVEPOINT DFE58000_NOTA"));
        return reason;
    }
}

using NoteWrites = std::function<void(QSqlDatabase&, const NoteOutcome&)>;

// The results of the built documents in one short write transaction: served runs for each built
// note (a note whose writes fail becomes a failure), then failed for each failed one. When the
// transaction itself cannot be completed no built note counts as served.
void storeOutcomes(Store& store, QList<NoteOutcome>& notes, const NoteWrites& served,
                   const NoteWrites& failed) {
    QSqlDatabase& db = store.database();
    const bool anything = std::any_of(notes.cbegin(), notes.cend(), [&](const NoteOutcome& o) {
        return o.status == kServed || (failed && o.status == kFailed);
    });
    if (!anything)
        return;
    try {
        begin(store);
        try {
            for (NoteOutcome& o : notes) {
                if (o.status == kServed) {
                    const QString reason = inSavepoint(db, [&] { served(db, o); });
                    if (!reason.isEmpty())
                        fail(o, QStringLiteral("Falha ao gravar o XML: %1").arg(reason));
                }
                if (o.status == kFailed && failed)
                    inSavepoint(db, [&] { failed(db, o); });
            }
            if (!db.commit())
                throw host::EDatabaseError(db.lastError().text());
        } catch (...) {
            db.rollback();
            throw;
        }
    } catch (const std::exception& e) {
        for (NoteOutcome& o : notes)
            if (o.status == kServed)
                fail(o, QStringLiteral("Falha ao gravar o XML: %1").arg(reasonOf(e)));
    }
}

int servedCount(const QList<NoteOutcome>& notes) {
    return int(std::count_if(notes.cbegin(), notes.cend(),
                             [](const NoteOutcome& o) { return o.status == kServed; }));
}

QByteArray documentPacket(const QList<NoteOutcome>& notes) {
    QList<QVariantList> rows;
    for (const NoteOutcome& o : notes)
        rows.append(o.row());
    return documentPacket(rows);
}

}  // namespace

QVariant geraXml(Store& store, const QByteArray& marked, const QString&) {
    QStringList keys;
    try {
        keys = markedKeys(marked);
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO"), e.text());
    }
    if (keys.isEmpty())
        return failure(QStringLiteral("ERRO"), QStringLiteral("Nenhuma nota marcada."));
    QSqlDatabase& db = store.database();
    // Which notes get their document: reads only, so no lock is held while they are signed.
    QList<NoteOutcome> notes;
    for (const QString& key : keys) {
        NoteOutcome o;
        o.key = key;
        try {
            const StoredNote d = findNoteByKey(db, key);
            if (!d.found)
                o.text = QStringLiteral("Nota não encontrada.");
            else if (d.xmlAvailable != u"S")
                o.text = QStringLiteral("XML da nota não disponível para geração.");
            else if (!fiscal::isValidAccessKey(key))
                o.text = QStringLiteral("Chave de acesso inválida.");
            else
                o.status = kServed;
        } catch (const std::exception& e) {
            fail(o, reasonOf(e));
        }
        notes.append(o);
    }
    for (NoteOutcome& o : notes)
        if (o.status == kServed)
            build(store, o);
    storeOutcomes(store, notes,
                  [](QSqlDatabase& d, const NoteOutcome& o) { archive(d, o.key, o.xml); }, {});
    for (NoteOutcome& o : notes)
        if (o.status == kServed)
            o.text = QStringLiteral("XML gerado.");
    const int generated = servedCount(notes);
    return QVariantList{QStringLiteral("S"), QString(), QString::number(generated),
                        QString::number(keys.size() - generated), documentPacket(notes)};
}

QVariant downloadXml(Store& store, const QByteArray& marked, const QString& registration,
                     const QString& operatorCode) {
    return downloadXml(store, marked, registration, operatorCode, QDateTime::currentDateTime());
}

QVariant downloadXml(Store& store, const QByteArray& marked, const QString& registrationArg,
                     const QString& operatorCode, const QDateTime& now) {
    const QString registration = fiscal::stripMask(registrationArg).toUpper();
    QStringList keys;
    try {
        keys = markedKeys(marked);
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO"), e.text());
    }
    if (registration.isEmpty())
        return failure(QStringLiteral("ERRO"),
                       QStringLiteral("Inscrição jurídica deve ser informada."));
    QSqlDatabase& db = store.database();
    try {
        QSqlQuery q = run(db, QStringLiteral("SELECT 1 FROM INSCRESTAD WHERE NRINSJURIEST = ?"),
                          {registration});
        if (!q.next())
            return failure(QStringLiteral("ERRO"), QStringLiteral("Inscrição jurídica %1 não "
                                                                  "cadastrada.")
                                                       .arg(registrationArg));
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO_DOWN"), e.text());
    }
    if (keys.isEmpty())
        return failure(QStringLiteral("ERRO"), QStringLiteral("Nenhuma nota marcada."));

    // Which notes the registration may receive: reads only, nothing locked.
    QList<NoteOutcome> notes;
    for (const QString& key : keys) {
        NoteOutcome o;
        o.key = key;
        try {
            const StoredNote d = findNoteByKey(db, key);
            const QChar manif = d.statusManif.isEmpty() ? QChar() : d.statusManif.at(0);
            if (!d.found) {
                o.text = QStringLiteral("Nota não encontrada.");
            } else if (registrationOf(d.recipient) != registration) {
                o.text = QStringLiteral("A nota não é destinada à inscrição %1.").arg(registration);
            } else if (manif != u'1' && manif != u'3' && manif != u'4') {
                o.text = QStringLiteral(
                    "O XML completo só é liberado após Ciência, Confirmação "
                    "ou Operação não Realizada.");
            } else if (!d.authorised.isValid()) {
                o.text = QStringLiteral(
                    "A nota não tem data de autorização: o XML não pode ser baixado.");
            } else if (d.authorised.addDays(rules::kDownloadMaxAgeDays) < now.date()) {
                o.text = QStringLiteral("Documento autorizado há mais de %1 dias.")
                             .arg(rules::kDownloadMaxAgeDays);
            } else if (!fiscal::isValidAccessKey(key)) {
                o.text = QStringLiteral("Chave de acesso inválida.");
            } else {
                o.status = kServed;
            }
        } catch (const std::exception& e) {
            fail(o, reasonOf(e));
        }
        notes.append(o);
    }

    // The hourly accounting, one short transaction serialised per registration so that clients
    // and server processes on the same database share the limit exactly. Every query by key
    // counts, served or not; the one past the limit and every one after it within the hour get
    // 656 and are logged as "L", and a registration with an "L" in the last hour stays blocked:
    // each attempt inside the block starts its hour again.
    bool limitAtStart = false, limitPartWay = false;
    try {
        begin(store);
        try {
            if (store.dialect() == host::SqlDialect::PostgreSQL)
                run(db, QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?))"),
                    {registration});
            const QVariant since = dbDateTime(now.addSecs(-3600));
            auto count = [&](const QString& condition) {
                QSqlQuery c = run(db,
                                  QStringLiteral("SELECT COUNT(*) FROM DOWNLOADLOG WHERE "
                                                 "NRINSJURIEST = ? AND DTHRDOWNLOAD > ? AND ") +
                                      condition,
                                  {registration, since});
                return c.next() ? c.value(0).toInt() : 0;
            };
            int used = count(QStringLiteral("CDSTATUS <> 'L'"));
            bool blocked =
                count(QStringLiteral("CDSTATUS = 'L'")) > 0 || used >= rules::kDownloadsPerHour;
            limitAtStart = blocked;
            for (NoteOutcome& o : notes) {
                if (!blocked && used >= rules::kDownloadsPerHour)
                    blocked = true;
                if (blocked) {
                    o.status = kLimited;
                    o.text = rules::describe(656);
                } else {
                    ++used;
                }
                run(db,
                    QStringLiteral("INSERT INTO DOWNLOADLOG (NRINSJURIEST, DTHRDOWNLOAD, "
                                   "NRACESSONF, CDSTATUS, CDOPERADOR) VALUES (?, ?, ?, ?, ?)"),
                    {registration, dbDateTime(now), o.key.left(44), o.status,
                     operatorCode.left(20)});
            }
            limitPartWay = blocked && !limitAtStart;
            if (!db.commit())
                throw host::EDatabaseError(db.lastError().text());
        } catch (...) {
            db.rollback();
            throw;
        }
    } catch (const std::exception& e) {
        return failure(QStringLiteral("ERRO_DOWN"), reasonOf(e));
    }

    for (NoteOutcome& o : notes)
        if (o.status == kServed)
            build(store, o);
    storeOutcomes(
        store, notes,
        [](QSqlDatabase& d, const NoteOutcome& o) {
            archive(d, o.key, o.xml);
            run(d, QStringLiteral("UPDATE NOTADEST SET IDARQXMLNFE = 'S' WHERE NRACESSONF = ?"),
                {o.key});
        },
        [&](QSqlDatabase& d, const NoteOutcome& o) {
            run(d,
                QStringLiteral("UPDATE DOWNLOADLOG SET CDSTATUS = 'E' WHERE NRINSJURIEST = ? AND "
                               "DTHRDOWNLOAD = ? AND NRACESSONF = ? AND CDSTATUS = 'S'"),
                {registration, dbDateTime(now), o.key.left(44)});
        });
    for (NoteOutcome& o : notes)
        if (o.status == kServed)
            o.text = QStringLiteral("XML recebido.");
    const int received = servedCount(notes);
    const QString status = limitAtStart   ? QStringLiteral("L")
                           : limitPartWay ? QStringLiteral("LCA")
                                          : QStringLiteral("OK");
    return QVariantList{status, QString(), QString::number(received),
                        QString::number(keys.size() - received), documentPacket(notes)};
}

}  // namespace dfe58000

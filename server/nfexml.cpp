#include "nfexml.h"

#include <QXmlStreamWriter>

#include "clock.h"
#include "fiscaldocs.h"
#include "signer.h"

namespace dfe58000 {

namespace {

const QString kNfeNs = QStringLiteral("http://www.portalfiscal.inf.br/nfe");

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
    for (const Place& p : places) {
        if (p.uf == uf) {
            return p;
        }
    }
    return places[19];  // Sao Paulo
}

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
    if (!n.recipientIe.isEmpty()) {
        text(w, QStringLiteral("IE"), n.recipientIe);
    }
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
         {"vBC", "vICMS", "vICMSDeson", "vFCP", "vBCST", "vST", "vFCPST", "vFCPSTRet"}) {
        text(w, QLatin1String(name), zero);
    }
    text(w, QStringLiteral("vProd"), value);
    for (const char* name :
         {"vFrete", "vSeg", "vDesc", "vII", "vIPI", "vIPIDevol", "vPIS", "vCOFINS", "vOutro"}) {
        text(w, QLatin1String(name), zero);
    }
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

QString brTime(const QDateTime& dt) {
    const QDateTime t = inBrasilia(dt);
    const int offset = t.offsetFromUtc() / 60;
    const int a = offset < 0 ? -offset : offset;
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QChar(u'-') : QChar(u'+'))
               .arg(a / 60, 2, 10, QChar(u'0'))
               .arg(a % 60, 2, 10, QChar(u'0'));
}

QString layoutText(const QString& text, int max, const QString& fallback) {
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text) {
        clean += (c.unicode() < 0x20 || c.unicode() > 0xFF || c.unicode() == 0x7F ||
                  (c.unicode() >= 0x80 && c.unicode() < 0xA0))
                     ? QChar(u' ')
                     : c;
    }
    clean = clean.simplified().left(max).trimmed();
    return clean.size() < 2 ? fallback : clean;
}

QString digitsOnly(const QString& text) {
    QString d;
    for (const QChar c : text) {
        if (c.isDigit() && c.unicode() < 0x80) {
            d += c;
        }
    }
    return d;
}

QString registrationOf(const QString& stored) {
    return fiscal::stripMask(stored).toUpper();
}

bool isCpfShape(const QString& s) {
    return s.size() == 11 && digitsOnly(s) == s;
}

bool isCnpjShape(const QString& s) {
    if (s.size() != 14 || digitsOnly(s.right(2)).size() != 2) {
        return false;
    }
    for (const QChar c : s.left(12)) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z'))) {
            return false;
        }
    }
    return true;
}

QString environmentOf(const QString& stored) {
    return stored.trimmed() == u"2" ? QStringLiteral("2") : QStringLiteral("1");
}

QString nfeProcDocument(const NfeData& n) {
    const QString& key = n.key;
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
    return out;
}

QString procEventoDocument(const EventData& e) {
    const QString seq = QStringLiteral("%1").arg(e.sequence, 2, 10, QChar(u'0'));
    const QString tp = QString::number(e.rule->tpEvento);
    const QString id = QStringLiteral("ID") + tp + e.accessKey + seq;
    const QString dh = brTime(e.when);
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
    text(w, QStringLiteral("tpAmb"), e.tpAmb);
    text(w, e.author.size() == 11 ? QStringLiteral("CPF") : QStringLiteral("CNPJ"), e.author);
    text(w, QStringLiteral("chNFe"), e.accessKey);
    text(w, QStringLiteral("dhEvento"), dh);
    text(w, QStringLiteral("tpEvento"), tp);
    text(w, QStringLiteral("nSeqEvento"), QString::number(e.sequence));
    text(w, QStringLiteral("verEvento"), QStringLiteral("1.00"));
    w.writeStartElement(kNfeNs, QStringLiteral("detEvento"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    text(w, QStringLiteral("descEvento"), e.rule->descEvento);
    // As sent: the authority only registers a justification that fits the layout.
    if (e.rule->justificationAllowed && !e.justification.isEmpty()) {
        text(w, QStringLiteral("xJust"), e.justification);
    }
    w.writeEndElement();  // detEvento
    w.writeEndElement();  // infEvento
    writeSignatureTemplate(w, id);
    w.writeEndElement();  // evento
    w.writeStartElement(kNfeNs, QStringLiteral("retEvento"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    w.writeStartElement(kNfeNs, QStringLiteral("infEvento"));
    text(w, QStringLiteral("tpAmb"), e.tpAmb);
    text(w, QStringLiteral("verAplic"), QStringLiteral("DFE58000-SIM"));
    text(w, QStringLiteral("cOrgao"), QStringLiteral("91"));
    text(w, QStringLiteral("cStat"), QString::number(e.cStat));
    text(w, QStringLiteral("xMotivo"), layoutText(e.xMotivo, 255, QStringLiteral("Evento")));
    text(w, QStringLiteral("chNFe"), e.accessKey);
    text(w, QStringLiteral("tpEvento"), tp);
    text(w, QStringLiteral("xEvento"), e.rule->xEvento);
    text(w, QStringLiteral("nSeqEvento"), QString::number(e.sequence));
    if (isCpfShape(e.recipient)) {
        text(w, QStringLiteral("CPFDest"), e.recipient);
    } else if (isCnpjShape(e.recipient)) {
        text(w, QStringLiteral("CNPJDest"), e.recipient);
    }
    text(w, QStringLiteral("dhRegEvento"), brTime(e.registeredAt));
    text(w, QStringLiteral("nProt"), e.protocol);
    w.writeEndElement();  // infEvento
    w.writeEndElement();  // retEvento
    w.writeEndElement();  // procEventoNFe
    w.writeEndDocument();
    return out;
}

}  // namespace dfe58000

// Writes the seed corpus of the fuzz targets: packets, frames, requests, filter expressions,
// masks and documents as the project's own code makes them, the requests and documents from a
// store with the same demo notes the dispatch target uses.
//
//   fuzz-seeds OUTDIR      (OUTDIR/<target>/<name>, one file per seed)

#include <QCborStreamWriter>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

#include "companydb.h"
#include "core/packet.h"
#include "methods.h"
#include "net/wire.h"
#include "notarecord.h"
#include "store.h"

namespace {

using host::FieldDef;
using host::FieldType;
namespace wire = host::wire;

// Seeds above this size are left out: the fuzzers work best from small inputs.
constexpr qsizetype kMaxSeed = 48 * 1024;
constexpr int kDemoNotes = 40;  // as fuzz_dispatch.cpp

QString g_out;
int g_written = 0;

void seed(const char* target, const QByteArray& bytes) {
    if (bytes.size() > kMaxSeed) {
        return;
    }
    const QString dir = g_out + u'/' + QLatin1String(target);
    QDir().mkpath(dir);
    // Named by content, so a seed written twice is one file.
    const QString name = QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(16));
    QFile f(dir + u'/' + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
    }
    ++g_written;
}

QList<FieldDef> allTypes() {
    return {{QStringLiteral("S"), FieldType::String, 10, false},
            {QStringLiteral("F"), FieldType::String, 3, true},
            {QStringLiteral("M"), FieldType::Memo, 0, false},
            {QStringLiteral("I"), FieldType::Integer, 0, false},
            {QStringLiteral("D"), FieldType::Float, 0, false},
            {QStringLiteral("B"), FieldType::Boolean, 0, false},
            {QStringLiteral("DT"), FieldType::Date, 0, false},
            {QStringLiteral("TS"), FieldType::DateTime, 0, false}};
}

QList<QVariantList> allTypesRows() {
    return {{QStringLiteral("abc"), QStringLiteral("X"), QStringLiteral("memo ç"), 42, 1.25, true,
             QDate(2026, 12, 8), QDateTime(QDate(2026, 12, 8), QTime(13, 45, 1, 500))},
            {QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
             QVariant()},
            {QString(), QStringLiteral("AB"), QString(QStringLiteral("x")).repeated(300),
             -9223372036854775807LL - 1, -0.0, false, QDate(1, 1, 1),
             QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999))},
            {QStringLiteral("日本"), QStringLiteral("Z"), QStringLiteral(""), 9223372036854775807LL,
             1e-300, true, QDate(1969, 12, 31), QDateTime(QDate(1600, 2, 29), QTime(0, 0))}};
}

// Packets written by hand with QCborStreamWriter: the layouts the reader takes but the writer
// does not make (indefinite arrays, integers for floats, half floats, longer heads).
QByteArray handPacket(bool indefiniteRows, bool oddValues) {
    QByteArray out;
    QCborStreamWriter w(&out);
    w.startArray(4);
    w.append(QLatin1String(host::kPacketMagic));
    w.append(quint64(host::kPacketVersion));
    w.startArray(3);
    for (const auto& [name, type] : {std::pair{"A", 1}, std::pair{"N", 4}, std::pair{"T", 7}}) {
        w.startArray(4);
        w.append(QLatin1String(name));
        w.append(quint64(type));
        w.append(quint64(type == 1 ? 8 : 0));
        w.append(false);
        w.endArray();
    }
    w.endArray();
    if (indefiniteRows) {
        w.startArray();
    } else {
        w.startArray(2);
    }
    for (int r = 0; r < 2; ++r) {
        if (oddValues) {
            w.startArray();
        } else {
            w.startArray(3);
        }
        w.append(QStringLiteral("row%1").arg(r));
        if (oddValues) {
            w.append(qfloat16(1.5));
        } else {
            w.append(qint64(r * 7));
        }
        w.append(qint64(1765200000000LL + r));
        w.endArray();
    }
    w.endArray();
    w.endArray();
    return out;
}

void packetSeeds() {
    seed("packet", host::encodePacket(allTypes(), allTypesRows()));
    seed("packet", host::encodePacket(allTypes(), {}));
    seed("packet", host::encodePacket(allTypes(), allTypesRows().mid(0, 1)));
    seed("packet", host::encodePacket({{QStringLiteral("X"), FieldType::Integer, 0, false}},
                                      {{1}, {2}, {QVariant()}}));
    for (bool indefinite : {false, true}) {
        for (bool odd : {false, true}) {
            seed("packet", handPacket(indefinite, odd));
        }
    }
    // Rows counted at the end, as the server streams them.
    host::PacketWriter w(allTypes(), host::PacketWriter::kRowsCountedAtFinish);
    for (const QVariantList& row : allTypesRows()) {
        w.row(row);
    }
    seed("packet", w.finish());
}

QByteArray markedOf(const QStringList& keys) {
    QList<QVariantList> rows;
    for (const QString& k : keys) {
        rows.append({k, QStringLiteral("N")});
    }
    return host::encodePacket({{QStringLiteral("NRACESSONF"), FieldType::String, 50, false},
                               {QStringLiteral("IDCONSULTADO"), FieldType::String, 1, false}},
                              rows);
}

QVariantList notesArgs(const QString& company, const QString& registration, const QDate& today) {
    return {QStringLiteral("_0_1_2_3_"),
            QStringLiteral("_0_1_2_3_4_5_"),
            QStringLiteral("T"),
            QString(),
            QStringLiteral("T"),
            QStringLiteral("T"),
            QStringLiteral("T"),
            QStringLiteral("T"),
            QStringLiteral("T"),
            QStringLiteral("T"),
            QStringLiteral("E"),
            company,
            QStringLiteral("T"),
            today.addYears(-1),
            today,
            QStringLiteral("_0_1_2_3_"),
            registration};
}

QByteArray payloadOf(const QByteArray& frame) {
    return frame.sliced(wire::kHeaderSize);
}

// Requests, their replies from a store of demo notes and the documents those replies carry.
void storeSeeds() {
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("seeds.db"));
    companydb::ensureDatabase(url, kDemoNotes, {dfe58000::storeSchema()});
    dfe58000::Store store(url);
    const QDate today = store.clock().today();

    QStringList keys;
    QString company = QStringLiteral("01");
    QString registration;
    QSqlQuery q(store.database());
    q.exec(
        QStringLiteral("SELECT NRACESSONF, CDEMPRESA, NRINSJURIESTDEST FROM NOTADEST "
                       "ORDER BY NRACESSONF"));
    while (q.next() && keys.size() < 6) {
        keys << q.value(0).toString();
        company = q.value(1).toString();
        registration = q.value(2).toString();
    }
    namespace rm = rdmManifestacao;
    const QString server = QLatin1String(rm::kServerName);
    QList<wire::Request> requests = {
        {server, QLatin1String(rm::getCarregaPesquisas::kName), {company}},
        {server, QLatin1String(rm::getCarregaPesquisas::kName), {QStringLiteral("99")}},
        {server, QLatin1String(rm::GetNotasDestinadas::kName),
         notesArgs(company, registration, today)},
        {server, QLatin1String(rm::GetNotasDestinadas::kName),
         notesArgs(company, QStringLiteral("T"), today)},
        {server, QLatin1String(rm::GeraXml::kName), {markedOf(keys.mid(0, 2)), QString()}},
        {server, QLatin1String(rm::GeraXml::kName), {markedOf({}), QStringLiteral("OPER01")}},
        {server,
         QLatin1String(rm::DownloadXML::kName),
         {markedOf(keys.mid(2, 2)), registration, QStringLiteral("OPER01")}},
        {server,
         QLatin1String(rm::setManifestacao::kName),
         {registration, markedOf(keys.mid(4, 1)), QStringLiteral("4"), QString(),
          QStringLiteral("OPER01")}},
        {server,
         QLatin1String(rm::setManifestacao::kName),
         {registration, markedOf(keys.mid(4, 2)), QStringLiteral("3"),
          QStringLiteral("Mercadoria não recebida pelo destinatário"), QStringLiteral("OPER01")}},
        {server, QLatin1String(rm::GeraXml::kName), {markedOf(keys), QStringLiteral("OPER02")}},
        {server,
         QLatin1String(rm::DownloadXML::kName),
         {markedOf(
              keys.mid(0, 1) << QStringLiteral("35261248210375000102550010000000011000000010")),
          QStringLiteral("48210375000102"), QStringLiteral("OPER01")}},
        {server,
         QLatin1String(rm::setManifestacao::kName),
         {registration, markedOf(keys.mid(1, 1)), QStringLiteral("1"), QString(),
          QStringLiteral("OPER01")}},
        {server,
         QLatin1String(rm::setManifestacao::kName),
         {registration, markedOf(keys.mid(2, 1)), QStringLiteral("2"), QString(),
          QStringLiteral("OPER01")}},
        {server,
         QLatin1String(rm::setManifestacao::kName),
         {registration, markedOf(keys.mid(3, 1)), QStringLiteral("3"), QStringLiteral("curta"),
          QStringLiteral("OPER01")}},
        {server,
         QLatin1String(rm::setManifestacao::kName),
         {registration, QByteArray("not a packet"), QStringLiteral("4"), QString(), QString()}},
        {server, QLatin1String(rm::getCarregaPesquisas::kName), {company, company}},
        {server, QLatin1String(rm::getCarregaPesquisas::kName), {QVariant()}},
        {server, QLatin1String(rm::GeraXml::kName), {QStringLiteral("x"), 1}},
        {server, QStringLiteral("getnotasdestinadas"), notesArgs(company, registration, today)},
        {server, QStringLiteral("Desconhecido"), {1, true, 2.5, QVariantList{QDate(2026, 1, 1)}}},
        {QStringLiteral("Outro.Servidor"),
         QLatin1String(rm::getCarregaPesquisas::kName),
         {company}},
    };

    // GetNotasDestinadas with each criterion narrowed in turn.
    namespace notas = rm::GetNotasDestinadas;
    const QList<std::pair<int, QVariant>> narrowed = {
        {notas::stSituacaoNF, QStringLiteral("_")},
        {notas::stSituacaoNF, QStringLiteral("_0_9_")},
        {notas::stSituacaoManifesta, QStringLiteral("T")},
        {notas::stNrNotaInicial, QStringLiteral("10")},
        {notas::stNrNotaFinal, QStringLiteral("abc")},
        {notas::stChaveAcesso, keys.value(0)},
        {notas::stFiliOrig, QStringLiteral("0001")},
        {notas::stSerie, QStringLiteral("1")},
        {notas::stIdEmitente, QStringLiteral("C")},
        {notas::stEmitente, QStringLiteral("123")},
        {notas::stTipoOper, QStringLiteral("01,5,ZZ")},
        {notas::stTipoOper, QStringLiteral("01,,")},
        {notas::stFiltroIdEntrsaidOp, QStringLiteral("S")},
        {notas::stInscEstadual, QStringLiteral("123456789")},
        {notas::dtIniEmis, QDateTime(today.addDays(-30), QTime(10, 0))},
        {notas::dtFinEmis, QDate()},
        {notas::dtFinEmis, QStringLiteral("2026-12-08")},
        {notas::stSincronizacao, QStringLiteral("_1_")},
    };
    for (const auto& [at, value] : narrowed) {
        QVariantList args = notesArgs(company, registration, today);
        args[at] = value;
        requests.append({server, QLatin1String(notas::kName), args});
    }

    QByteArray stream(1, '\x05');  // the wire target's first byte picks the piece sizes
    for (const wire::Request& r : requests) {
        const QByteArray frame = wire::requestFrame(r);
        seed("dispatch", payloadOf(frame));
        seed("wire", QByteArray(1, char(r.args.size())) + frame);
        stream += frame;

        const wire::Reply reply = dfe58000::dispatch(store, r);
        const QByteArray replyFrame = wire::replyFrame(reply);
        seed("wire", QByteArray(1, '\x00') + replyFrame);
        if (!reply.ok) {
            continue;
        }
        // The packets of the reply, and the documents they carry.
        const QVariantList result = reply.result.toList();
        for (const QVariant& v : result) {
            if (v.typeId() != QMetaType::QByteArray || v.toByteArray().isEmpty()) {
                continue;
            }
            const QByteArray packet = v.toByteArray();
            seed("packet", packet);
            const host::DecodedPacket p = host::decodePacket(packet);
            int keyAt = -1, xmlAt = -1;
            for (int i = 0; i < p.fields.size(); ++i) {
                if (p.fields.at(i).name == u"NRACESSONF") {
                    keyAt = i;
                }
                if (p.fields.at(i).name == u"DSTEXTOXML") {
                    xmlAt = i;
                }
            }
            if (keyAt < 0 || xmlAt < 0) {
                continue;
            }
            for (const QVariantList& row : p.rows) {
                const QString xml = row.at(xmlAt).toString();
                if (!xml.isEmpty()) {
                    seed("arquivoxml", (row.at(keyAt).toString() + u'\n' + xml).toUtf8());
                }
            }
        }
    }
    seed("wire", stream);
    // A stream cut in the middle of a frame, and one with a broken length.
    seed("wire", stream.left(stream.size() - 3));
    seed("wire", QByteArray("\x01\x00\x00\x00\x00", 5));
}

void valueSeeds() {
    const QList<QVariant> values = {
        QVariant(),
        true,
        0,
        -1,
        qlonglong(1) << 40,
        qulonglong(18446744073709551615ULL),
        0.5,
        QStringLiteral("texto"),
        QDate(2026, 12, 8),
        QDateTime(QDate(2026, 12, 8), QTime(8, 30, 0, 250)),
        QVariantList{1, QVariantList{QStringLiteral("a"), QVariantList{}}},
        host::encodePacket(allTypes(), allTypesRows())};
    for (const QVariant& v : values) {
        seed("wire", QByteArray(1, '\x03') + wire::frame(wire::encodeValue(v)));
        seed("wire", QByteArray(1, '\x00') + wire::replyFrame(wire::Reply::success(v)));
    }
    seed("wire", QByteArray(1, '\x02') +
                     wire::replyFrame(wire::Reply::failure(QStringLiteral("Falha na chamada."))));
}

void filterSeeds() {
    for (const char* e : {
             "NOME = 'beta'",
             "nome <> 'Ação' AND QTD > 0",
             "NOT (ATIVO = 1) OR VALOR >= 1.5",
             "(COD = '01' OR COD = '0002') AND NOT OBS = ''",
             "DATA < '2000-01-01'",
             "HORA >= '2026-01-02 10:00:00'",
             "DATA = '02/01/2026'",
             "NOME = 'O''Neil'",
             "QTD <= -7 OR QTD != 1",
             "VALOR > 1e10",
             "'beta' = NOME",
             "3 < QTD",
             "ATIVO = 'T' AND HORA <> ''",
             "((((NOME = 'x'))))",
             "NOME =",
             "COD = 'A1' AND (QTD = 9000000000 OR VALOR < 0)",
             "OBS <> 'x' OR OBS = ''",
             "ATIVO = 0 AND NOT (DATA >= '1970-01-01')",
             "HORA < '2000-01-01T00:00:01'",
             "VALOR = -0.25 OR VALOR > 1e299",
             "QTD = 'abc'",
             "DATA = ''",
             "NOME = 'Acao'",
             "nome = 'BETA' or cod = 'a1'",
             "(NOME = 'x'",
             "NOME = 'x')",
             "FALTA = 'x'",
             "NOME = 'x' AND",
             "NOT NOT NOT QTD > 0",
             "QTD >= 1 AND QTD <= 1 AND VALOR <> 0",
             "COD = ' '",
             "HORA >= '31/12/9999 23:59:59'",
         }) {
        seed("filterexpr", QByteArray(e));
    }
}

void maskSeeds() {
    const char* pairs[][2] = {
        {">aaaa;0; ", "abcd"},
        {"00.000.000/0000-00;0;_", "48210375000102"},
        {">aa.aaa.aaa/aaaa-99;0;_", "12abc34500AB99"},
        {"000.000.000-00;0;_", "12345678901"},
        {"!99/99/0000;1;_", "08/12/2026"},
        {"00:00;1;_", "1230"},
        {"99999-999;0;_", "01310 100"},
        {"LL-0000;1; ", "ab1234"},
        {"<ccCC>ll;0;*", "XyZw Ab"},
        {"\\(00\\) 0000-0000;0;_", "1133334444"},
        {"#999;1;_", "-12"},
        {">A<a<>c;0;#", "zZ9"},
        {";", "x"},
        {"\\", "\\"},
        {"0;0;", ""},
        {"00000-000;1;_", "12345678"},
        {"(99) 99999-9999;0;_", "11987654321"},
        {">LLL-0A00;0;_", "abc1d23"},
        {"aaaaaaaaaaaa;0; ", "ABCdef123456"},
        {"99.999.999/9999-99;1;_", "48.210.375/0001-02"},
        {"!000;1;0", "7"},
        {"00/00/0000;1; ", "3 1 2026"},
        {"\\;00;0;_", "1\\;2"},
        {"CCCCCCCC;0;_", "çãé€日本ab"},
        {">cccc;0;_", "ßaÿz"},
        {"0000;0;", "1_2_"},
        {"AAAA;1;A", "A1B2"},
        {"LLLL;0;_", "a b c d"},
        {";0;_", "123"},
        {"9999;x;_", "-1-2"},
    };
    for (const auto& p : pairs) {
        seed("maskedit", QByteArray(p[0]) + '\0' + QByteArray(p[1]));
    }
}

void documentSeeds() {
    const char* key = "35261248210375000102550010000000011000000010";
    const char* docs[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"4.00\"><NFe/></nfeProc>",
        "<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>\n<a>ç</a>",
        "\xEF\xBB\xBF<a b=\"1\">texto &amp; mais</a>",
        "<a><![CDATA[x]]><!-- nota --><?pi dados?></a>",
        "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",
        "<?xml version=\"1.0\"?><a>&nao;</a>",
        "<?xml version=\"1.0\"",
        "<a></b>",
        "   ",
        "<a xmlns=\"http://www.portalfiscal.inf.br/nfe\"><b/></a>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a/>\r\n",
        "<?xml version=\"1.0\"?><!-- x --><a/><!-- y -->",
        "<?xml version=\"1.1\"?><a/>",
        "<?xml-stylesheet href=\"a.xsl\"?><a/>",
        "<?xml?><a/>",
        "<a>\xF0\x9F\x98\x80 &#233; &#x1F600;</a>",
        "<a><b></a>",
        "<a/><b/>",
        "<a>&lt;&gt;&quot;&apos;</a>",
        "<!DOCTYPE a SYSTEM \"http://example.com/a.dtd\"><a/>",
        "<a x='1' x='2'/>",
        "<p:a xmlns:p=\"urn:x\"><p:b p:c=\"1\"/></p:a>",
    };
    for (const char* d : docs) {
        seed("arquivoxml", QByteArray(key) + '\n' + QByteArray(d));
    }
    seed("arquivoxml", QByteArray("../../etc/passwd\n<a/>"));
    seed("arquivoxml", QByteArray("3526124821037500010255001000000001100000001\n<a/>"));
    seed("arquivoxml", QByteArray("35261248ABCDEF000102550010000000011000000010\n<a/>"));
}

}  // namespace

// The signer keeps the keys it has read until the process ends.
extern "C" const char* __asan_default_options() {
    return "leak_check_at_exit=0";
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz-seeds OUTDIR\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    packetSeeds();
    valueSeeds();
    filterSeeds();
    maskSeeds();
    documentSeeds();
    storeSeeds();
    std::printf("%d seeds written under %s\n", g_written, qPrintable(g_out));
    return 0;
}

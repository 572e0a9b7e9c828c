// The module's XML files: the input is "key\ntext", written as a document of the server with
// Grava into a directory of its own. Only a valid access key with a well-formed document without
// DTD gives a file, NFe<key>.xml in that directory and nowhere else; what is refused writes
// nothing. A written file starts with the declaration, is well-formed and holds the document's
// own content.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <cstdint>

#include "Cli_Dfe58000ArquivoXml.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "fuzzcheck.h"

namespace {

using host::FieldType;
using host::TClientDataSet;

QTemporaryDir* g_root = nullptr;  // holds only "out", where the files go
QString g_out;
QStringList g_rootListing;
QStringList g_besideListing;  // the files a document could have gone to outside the root

QStringList listing(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// What the module's files (and their temporary names) would be called, above the root and in
// the working directory, where other programs may be making files of their own.
QStringList beside() {
    QStringList out;
    for (const QString& dir : {QDir::currentPath(), g_root->path() + QStringLiteral("/..")}) {
        for (const QString& name : QDir(dir).entryList(
                 {QStringLiteral("*NFe*")},
                 QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            out << dir + u'/' + name;
        }
    }
    return out;
}

// The document's content as a reader sees it: each token but the declaration and the white
// space outside the root element, with its name, text and attributes.
QStringList tokens(QXmlStreamReader& r, bool& ok) {
    QStringList out;
    int depth = 0;
    while (!r.atEnd()) {
        const QXmlStreamReader::TokenType t = r.readNext();
        if (t == QXmlStreamReader::StartDocument || t == QXmlStreamReader::Invalid) {
            continue;
        }
        if (t == QXmlStreamReader::Characters && depth == 0 && r.isWhitespace()) {
            continue;
        }
        if (t == QXmlStreamReader::StartElement) {
            ++depth;
        }
        if (t == QXmlStreamReader::EndElement) {
            --depth;
        }
        QStringList item = {QString::number(int(t)), r.qualifiedName().toString(),
                            r.text().toString(), r.processingInstructionTarget().toString(),
                            r.processingInstructionData().toString()};
        for (const QXmlStreamAttribute& a : r.attributes()) {
            item << a.qualifiedName().toString() + u'=' + a.value().toString();
        }
        out << item.join(u'|');
    }
    ok = !r.hasError();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    // In memory where the system has it: every file written is synced to disk on commit.
    static QTemporaryDir root(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                  ? QStringLiteral("/dev/shm/fuzz_arquivoxml-XXXXXX")
                                  : QDir::tempPath() + QStringLiteral("/fuzz_arquivoxml-XXXXXX"));
    if (!root.isValid() || !QDir(root.path()).mkdir(QStringLiteral("out"))) {
        fuzz::fail("no temporary directory");
    }
    g_root = &root;
    g_out = root.filePath(QStringLiteral("out"));
    g_rootListing = listing(root.path());
    g_besideListing = beside();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype cut = bytes.indexOf('\n');
    const QString key = QString::fromUtf8(cut < 0 ? bytes : bytes.first(cut));
    const QString text = cut < 0 ? QString() : QString::fromUtf8(bytes.sliced(cut + 1));

    bool accepted = false;
    try {
        (void)ArquivoXml::Conteudo(text);
        accepted = true;
    } catch (const host::EHostError&) {
    }
    const bool keyValid = ArquivoXml::ChaveValida(key);

    TClientDataSet docs;
    docs.AddField({QStringLiteral("NRACESSONF"), FieldType::String, 60, false});
    docs.AddField({QStringLiteral("DSTEXTOXML"), FieldType::Memo, 0, false});
    docs.CreateDataSet();
    docs.Append();
    docs.FieldByName(QStringLiteral("NRACESSONF")).SetAsString(key);
    docs.FieldByName(QStringLiteral("DSTEXTOXML")).SetAsString(text);
    docs.Post();

    ArquivoXml::Resultado r;
    try {
        r = ArquivoXml::Grava(docs, ArquivoXml::ComSeparador(g_out));
    } catch (const host::EHostError& e) {
        fuzz::fail("writing a document into a writable directory failed", e.text());
    }
    (void)ArquivoXml::TextoRecusas(r.recusas);

    fuzz::check(listing(g_root->path()) == g_rootListing, "a file was made beside the directory");
    fuzz::check(beside() == g_besideListing, "a file was made outside the directory");
    const QStringList written = listing(g_out);
    const bool empty = text.trimmed().isEmpty();
    if (empty || !keyValid || !accepted) {
        fuzz::check(written.isEmpty(), "a refused document was written", written.join(u' '));
        fuzz::check(r.gravados == 0, "a refused document was counted");
        fuzz::check(empty || r.recusas.size() == 1, "a refused document was not reported");
        return 0;
    }
    const QString name = QStringLiteral("NFe") + key + QStringLiteral(".xml");
    fuzz::check(written == QStringList{name}, "the file is not NFe<key>.xml alone",
                written.join(u' '));
    fuzz::check(r.gravados == 1 && r.recusas.isEmpty(), "the written document was not counted");

    QFile file(QDir(g_out).filePath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        fuzz::fail("the written file cannot be read");
    }
    const QByteArray content = file.readAll();
    file.close();
    file.remove();
    fuzz::check(content.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
                "the file does not start with its declaration");

    QXmlStreamReader fromFile(content);
    bool fileOk = false;
    const QStringList inFile = tokens(fromFile, fileOk);
    fuzz::check(fileOk, "the written file is not well-formed", fromFile.errorString());

    QStringView body(text);
    if (body.startsWith(QChar(0xFEFF))) {
        body = body.mid(1);
    }
    QXmlStreamReader fromText(body.toString());
    bool textOk = false;
    const QStringList inText = tokens(fromText, textOk);
    fuzz::check(textOk, "an accepted document is not well-formed", fromText.errorString());
    fuzz::check(inFile == inText, "the file's content differs from the document's");
    return 0;
}

// The module's XML files without the workspace: which documents Conteudo takes and what Grava
// writes of them. The declaration a document brings is replaced only when it is one; anything
// that is not a well-formed document, declaration included, is refused and writes nothing.

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "Cli_Dfe58000ArquivoXml.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"

namespace {

const char kChave[] = "35261248210375000102550010000000011000000010";
const QByteArray kDeclaracao = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

}  // namespace

class TestArquivoXml : public QObject {
    Q_OBJECT

  private slots:
    void declarationsThatAreNotOneAreRefused_data();
    void declarationsThatAreNotOneAreRefused();
    void aDeclarationIsReplaced_data();
    void aDeclarationIsReplaced();
};

void TestArquivoXml::declarationsThatAreNotOneAreRefused_data() {
    QTest::addColumn<QByteArray>("entrada");  // "key\ntext", as the fuzzer feeds Grava
    // The first as the fuzzer found it: an empty declaration was taken for one and replaced.
    QTest::newRow("empty declaration") << QByteArray(kChave) + "\n<?xml?><a/>";
    QTest::newRow("no version") << QByteArray(kChave) + "\n<?xml encoding=\"UTF-8\"?><a/>";
    QTest::newRow("a second declaration")
        << QByteArray(kChave) + "\n<?xml version=\"1.0\"?><?xml version=\"1.0\"?><a/>";
    QTest::newRow("bad version") << QByteArray(kChave) + "\n<?xml version=\"?>\"?><a/>";
}

void TestArquivoXml::declarationsThatAreNotOneAreRefused() {
    QFETCH(QByteArray, entrada);
    const qsizetype corte = entrada.indexOf('\n');
    const QString chave = QString::fromUtf8(entrada.first(corte));
    const QString texto = QString::fromUtf8(entrada.sliced(corte + 1));

    QVERIFY_THROWS_EXCEPTION(host::EHostError, ArquivoXml::Conteudo(texto));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    host::TClientDataSet docs;
    docs.AddField({QStringLiteral("NRACESSONF"), host::FieldType::String, 60, false});
    docs.AddField({QStringLiteral("DSTEXTOXML"), host::FieldType::Memo, 0, false});
    docs.CreateDataSet();
    docs.Append();
    docs.FieldByName(QStringLiteral("NRACESSONF")).SetAsString(chave);
    docs.FieldByName(QStringLiteral("DSTEXTOXML")).SetAsString(texto);
    docs.Post();
    const ArquivoXml::Resultado r = ArquivoXml::Grava(docs, ArquivoXml::ComSeparador(dir.path()));
    QCOMPARE(r.gravados, 0);
    QCOMPARE(r.recusas.size(), 1);
    QCOMPARE(r.recusas.at(0).chave, chave);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void TestArquivoXml::aDeclarationIsReplaced_data() {
    QTest::addColumn<QString>("texto");
    QTest::addColumn<QByteArray>("arquivo");
    QTest::newRow("version only") << QStringLiteral("<?xml version=\"1.0\"?><a/>")
                                  << kDeclaracao + "\n<a/>";
    QTest::newRow("another encoding and standalone")
        << QStringLiteral("<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>\n<a>ç</a>")
        << kDeclaracao + "\n<a>\xC3\xA7</a>";
    QTest::newRow("byte order mark, no declaration")
        << QStringLiteral("\uFEFF<a/>") << kDeclaracao + "\n<a/>";
    QTest::newRow("a processing instruction named like one")
        << QStringLiteral("<?xml-stylesheet href=\"a.xsl\"?><a/>")
        << kDeclaracao + "\n<?xml-stylesheet href=\"a.xsl\"?><a/>";
    // As the fuzzer found it: a form feed is white space to QChar but not to XML, so this is a
    // processing instruction, and it was dropped from the file as if it were the declaration.
    QTest::newRow("a processing instruction after a form feed")
        << QString::fromUtf8("<?xml\fs\xE5?><a/>") << kDeclaracao + "\n<?xml\fs\xEF\xBF\xBD?><a/>";
}

void TestArquivoXml::aDeclarationIsReplaced() {
    QFETCH(QString, texto);
    QFETCH(QByteArray, arquivo);
    QCOMPARE(ArquivoXml::Conteudo(texto), arquivo);
}

QTEST_GUILESS_MAIN(TestArquivoXml)
#include "tst_arquivoxml.moc"

// The module loader: finding a module by code in the module directory, starting it through the
// entry that takes parameters (or the older one without), and the clear failures.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QtTest>

#include "core/hosterror.h"
#include "core/orvanta.h"
#include "forms/mdihost.h"

using host::Orvanta;

class TestLoadBpl : public QObject {
    Q_OBJECT

  private:
    // The message of the EHostError that LoadBPL raises for this code (empty when none).
    static QString loadError(const QString& code, const QVariant& params = {}) {
        try {
            Orvanta::LoadBPL(code, params);
        } catch (const host::EHostError& e) {
            return e.text();
        }
        return {};
    }

    static void useModuleDir(const QString& dir) {
        host::LoginContext c = Orvanta::context();
        c.moduleDir = dir;
        Orvanta::setContext(c);
    }

  private slots:
    void init() {
        useModuleDir(QStringLiteral(ORVANTA_TEST_MODULE_DIR));
        for (const char* p :
             {"tst00001.runs", "tst00001.params", "tst00001.noargs", "tst00003.runs"}) {
            qApp->setProperty(p, QVariant());
        }
    }

    void startsModuleWithItsParameters() {
        const QVariantList params{QStringLiteral("0001"), QStringLiteral("123")};
        Orvanta::LoadBPL(QStringLiteral("TST00001"), params);
        QCOMPARE(qApp->property("tst00001.runs").toInt(), 1);
        QCOMPARE(qApp->property("tst00001.params").toList(), params);
        // The entry with parameters wins over the parameterless one.
        QCOMPARE(qApp->property("tst00001.noargs").toInt(), 0);

        // A second opening starts the same, already loaded module again.
        Orvanta::LoadBPL(QStringLiteral("TST00001"), QVariantList{QStringLiteral("X")});
        QCOMPARE(qApp->property("tst00001.runs").toInt(), 2);
        QCOMPARE(qApp->property("tst00001.params").toList(), QVariantList{QStringLiteral("X")});
    }

    void startsModuleWithOnlyTheParameterlessEntry() {
        Orvanta::LoadBPL(QStringLiteral("TST00003"), QVariantList{QStringLiteral("ignored")});
        QCOMPARE(qApp->property("tst00003.runs").toInt(), 1);
    }

    void unknownCodeIsAClearError() {
        const QString text = loadError(QStringLiteral("ZZZ99999"));
        QVERIFY2(text.contains(QStringLiteral("ZZZ99999")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("não encontrado")), qPrintable(text));
    }

    void libraryWithoutEntryIsAClearError() {
        const QString text = loadError(QStringLiteral("TST00002"));
        QVERIFY2(text.contains(QStringLiteral("TST00002")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("ponto de entrada")), qPrintable(text));
    }

    void malformedCodeNeverReachesTheFileSystem_data() {
        QTest::addColumn<QString>("code");
        QTest::newRow("empty") << QString();
        QTest::newRow("parent dir") << QStringLiteral("../modules/TST00001");
        QTest::newRow("slash") << QStringLiteral("a/TST00001");
        QTest::newRow("blank") << QStringLiteral("TST 00001");
        QTest::newRow("too long") << QString(40, QLatin1Char('A'));
    }
    void malformedCodeNeverReachesTheFileSystem() {
        QFETCH(QString, code);
        const QString text = loadError(code);
        QVERIFY2(text.contains(QStringLiteral("inválido")), qPrintable(text));
        QVERIFY(!qApp->property("tst00001.runs").isValid());
    }

    void fileThatIsNotALibraryIsAClearError() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile junk(dir.filePath(QStringLiteral("libTST00009.so")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not an ELF file at all");
        junk.close();
        useModuleDir(dir.path());
        const QString text = loadError(QStringLiteral("TST00009"));
        QVERIFY2(text.startsWith(QStringLiteral("Não foi possível carregar o módulo TST00009")),
                 qPrintable(text));
    }

    void moduleDirDefaultsBesideTheProgram() {
        useModuleDir(QString());
        const QString expected =
            QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../modules"))
                .filePath(QStringLiteral("libABC.so"));
        QCOMPARE(QDir::cleanPath(Orvanta::modulePath(QStringLiteral("ABC"))),
                 QDir::cleanPath(expected));
    }

    // The suite's modules open their window in the host's area even when what they were given
    // cannot be used; the window says why.
    void suiteModulesOpenInTheArea() {
        QMdiArea area;
        area.resize(800, 600);
        area.show();
        host::MdiHost::setArea(&area);
        Orvanta::LoadBPL(QStringLiteral("DFE15200"), QVariantList{QStringLiteral("0001")});
        Orvanta::LoadBPL(QStringLiteral("DFE59000"), QVariantList{QStringLiteral("123")});
        host::MdiHost::setArea(nullptr);

        const QList<QMdiSubWindow*> subs = area.subWindowList(QMdiArea::CreationOrder);
        QCOMPARE(subs.size(), 2);
        QCOMPARE(subs[0]->windowTitle(), QStringLiteral("DFE15200 - Visualização de Documento"));
        QCOMPARE(subs[1]->windowTitle(), QStringLiteral("DFE59000 - Sincronização de NF-e"));
        QVERIFY(subs[1]->isMaximized());
        auto says = [](QMdiSubWindow* sub, const char* name) {
            auto* label = sub->findChild<QLabel*>(QString::fromLatin1(name));
            return label ? label->text() : QString();
        };
        QVERIFY2(says(subs[0], "lblMensagem").startsWith(QStringLiteral("Informe a filial")),
                 qPrintable(says(subs[0], "lblMensagem")));
        QVERIFY2(says(subs[1], "lblResultado").contains(QStringLiteral("\"123\"")),
                 qPrintable(says(subs[1], "lblResultado")));
    }

    void parameterTexts_data() {
        QTest::addColumn<QVariant>("params");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("none") << QVariant() << QStringList();
        QTest::newRow("variant list") << QVariant(QVariantList{QStringLiteral("0001"), 123})
                                      << QStringList{QStringLiteral("0001"), QStringLiteral("123")};
        QTest::newRow("string list")
            << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")})
            << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("single text") << QVariant(QStringLiteral("12345678000199"))
                                     << QStringList{QStringLiteral("12345678000199")};
        QTest::newRow("empty list") << QVariant(QVariantList{}) << QStringList();
    }
    void parameterTexts() {
        QFETCH(QVariant, params);
        QFETCH(QStringList, texts);
        QCOMPARE(Orvanta::paramTexts(params), texts);
    }
};

QTEST_MAIN(TestLoadBpl)
#include "tst_loadbpl.moc"

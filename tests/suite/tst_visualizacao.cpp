// Document viewing (DFE15200) loaded as the workspace loads it: the booked entry of the branch
// and entry number it is given, from the logged-in company's books, or a message saying why
// there is nothing to show.
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "companydb.h"
#include "core/orvanta.h"
#include "forms/mdihost.h"
#include "sql/databasemodule.h"

using host::Orvanta;

class TestVisualizacao : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    QString m_url;
    QMdiArea m_area;

    void setCompany(const QString& company) {
        host::LoginContext c = Orvanta::context();
        c.empresa = company;
        c.moduleDir = QStringLiteral(ORVANTA_TEST_MODULE_DIR);
        Orvanta::setContext(c);
    }

    // Opens the module with these parameters and gives back its window.
    QWidget* open(const QVariantList& params) {
        const qsizetype before = m_area.subWindowList().size();
        Orvanta::LoadBPL(QStringLiteral("DFE15200"), params);
        const QList<QMdiSubWindow*> subs = m_area.subWindowList(QMdiArea::CreationOrder);
        if (subs.size() != before + 1) {
            return nullptr;
        }
        return subs.last()->widget();
    }

    static QString text(QWidget* form, const char* name) {
        if (auto* label = form->findChild<QLabel*>(QString::fromLatin1(name))) {
            return label->text();
        }
        if (auto* edit = form->findChild<QLineEdit*>(QString::fromLatin1(name))) {
            return edit->text();
        }
        return QStringLiteral("<%1 ausente>").arg(QString::fromLatin1(name));
    }

    static bool visible(QWidget* form, const char* name) {
        QWidget* w = form->findChild<QWidget*>(QString::fromLatin1(name));
        return w && w->isVisibleTo(form);
    }

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { setCompany(QStringLiteral("01")); }
    void cleanup() { m_area.closeAllSubWindows(); }
    void showsTheEntryOfBranchThenNumber_data();
    void showsTheEntryOfBranchThenNumber();
    void missingEntryIsNamed_data();
    void missingEntryIsNamed();
    void badParametersAreExplained_data();
    void badParametersAreExplained();
    void databaseThatCannotAnswerIsExplained();
};

void TestVisualizacao::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_url = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("empresa.db"));
    companydb::ensureDatabase(m_url, 0);
    host::DatabaseModule::Open(m_url);
    QSqlQuery q(host::DatabaseModule::instance().database());
    QVERIFY(q.prepare(QStringLiteral(
        "INSERT INTO LANCTONF (CDEMPRESA, CDFILIAL, NRLANCTONF, NRACESSONF, NRINSJUREMIT, "
        "IDTPIJUREMIT, NMRAZSOCEMIT, NRNOTAFISC, CDSERIE, DTEMISSAO, DTENTRSAID, VRNOTAFISC) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")));
    const QList<QVariantList> entries = {
        // Branch 0001, entry 123: an alphanumeric CNPJ issuer, issued in the afternoon.
        {"01", "0001", "0000000123", "3526111ABCDEFGH00017155001000004567100000012",
         "1ABCDEFGH00017", "J", "Alfa Componentes Ltda", "000004567", "1",
         "2026-11-05 14:30:00.000", "2026-11-07 00:00:00.000", 1234.56},
        // The same numbers the other way round: branch 0123, entry 1. A person issuer.
        {"01", "0123", "0000000001", "35261100012345678909550020000000891000000345", "12345678909",
         "F", "João da Silva", "000000089", "2", "2026-10-01 00:00:00.000",
         "2026-10-02 00:00:00.000", 99.9},
        // Another company's entry: never shown to company 01.
        {"02", "0003", "0000000777", "35261198765432000198550010000007771000000777",
         "98765432000198", "J", "Beta SA", "000000777", "1", "2026-09-01 00:00:00.000",
         "2026-09-03 00:00:00.000", 5000000.0},
    };
    for (const QVariantList& values : entries) {
        for (int i = 0; i < values.size(); ++i) {
            q.bindValue(i, values.at(i));
        }
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
    m_area.resize(900, 700);
    m_area.show();
    host::MdiHost::setArea(&m_area);
}

void TestVisualizacao::cleanupTestCase() {
    host::MdiHost::setArea(nullptr);
    host::DatabaseModule::Close();
}

void TestVisualizacao::showsTheEntryOfBranchThenNumber_data() {
    QTest::addColumn<QVariantList>("params");
    QTest::addColumn<QStringList>("shown");  // registration, name, number, series, dates, value
    const QStringList first = {"1A.BCD.EFG/H000-17",
                               "Alfa Componentes Ltda",
                               "000004567",
                               "1",
                               "05/11/2026 14:30:00",
                               "07/11/2026",
                               "1.234,56"};
    QTest::newRow("branch 0001, entry 123") << QVariantList{"0001", "123"} << first;
    QTest::newRow("stored forms") << QVariantList{"0001", "0000000123"} << first;
    QTest::newRow("branch without zeros") << QVariantList{"1", "123"} << first;
    QTest::newRow("blanks around") << QVariantList{" 0001 ", " 123 "} << first;
    QTest::newRow("branch 0123, entry 1")
        << QVariantList{"0123", "1"}
        << QStringList{"123.456.789-09", "João da Silva", "000000089", "2",
                       "01/10/2026",     "02/10/2026",    "99,90"};
}

void TestVisualizacao::showsTheEntryOfBranchThenNumber() {
    QFETCH(QVariantList, params);
    QFETCH(QStringList, shown);
    QWidget* form = open(params);
    QVERIFY(form);
    QCOMPARE(form->objectName(), QStringLiteral("frmDFE15200"));
    QCOMPARE(form->windowTitle(), QStringLiteral("DFE15200 - Visualização de Documento"));
    QVERIFY(visible(form, "grpDocumento"));
    QVERIFY(!visible(form, "lblMensagem"));
    const QStringList actual = {text(form, "lblInscricaoEmitente"),
                                text(form, "lblRazaoSocial"),
                                text(form, "lblNumero"),
                                text(form, "lblSerie"),
                                text(form, "lblEmissao"),
                                text(form, "lblEntrada"),
                                text(form, "lblValor")};
    QCOMPARE(actual, shown);
    QCOMPARE(text(form, "edtChave").size(), 44);
}

void TestVisualizacao::missingEntryIsNamed_data() {
    QTest::addColumn<QString>("company");
    QTest::addColumn<QVariantList>("params");
    QTest::newRow("no such entry") << "01" << QVariantList{"0001", "999"};
    QTest::newRow("entry of another branch") << "01" << QVariantList{"0123", "123"};
    QTest::newRow("another company's entry") << "01" << QVariantList{"0003", "777"};
    QTest::newRow("logged in elsewhere") << "02" << QVariantList{"0001", "123"};
}

void TestVisualizacao::missingEntryIsNamed() {
    QFETCH(QString, company);
    QFETCH(QVariantList, params);
    setCompany(company);
    QWidget* form = open(params);
    QVERIFY(form);
    QVERIFY(!visible(form, "grpDocumento"));
    QVERIFY(visible(form, "lblMensagem"));
    const QString message = text(form, "lblMensagem");
    QVERIFY2(message.contains(QStringLiteral("não encontrado")), qPrintable(message));
    QVERIFY2(message.contains(params.at(0).toString().rightJustified(4, u'0')),
             qPrintable(message));
    QVERIFY2(message.contains(params.at(1).toString()), qPrintable(message));
}

void TestVisualizacao::badParametersAreExplained_data() {
    QTest::addColumn<QVariant>("params");
    QTest::addColumn<QString>("says");
    QTest::newRow("none") << QVariant() << QStringLiteral("Informe a filial");
    QTest::newRow("branch only") << QVariant(QVariantList{"0001"})
                                 << QStringLiteral("Informe a filial");
    QTest::newRow("blank entry") << QVariant(QVariantList{"0001", "  "})
                                 << QStringLiteral("Informe a filial");
    QTest::newRow("letters in the branch")
        << QVariant(QVariantList{"00A1", "123"}) << QStringLiteral("Filial inválida");
    QTest::newRow("branch too long")
        << QVariant(QVariantList{"00001", "123"}) << QStringLiteral("Filial inválida");
    QTest::newRow("entry not a number")
        << QVariant(QVariantList{"0001", "12-3"}) << QStringLiteral("lançamento inválido");
    QTest::newRow("entry too long")
        << QVariant(QVariantList{"0001", "12345678901"}) << QStringLiteral("lançamento inválido");
}

void TestVisualizacao::badParametersAreExplained() {
    QFETCH(QVariant, params);
    QFETCH(QString, says);
    const qsizetype before = m_area.subWindowList().size();
    Orvanta::LoadBPL(QStringLiteral("DFE15200"), params);
    const QList<QMdiSubWindow*> subs = m_area.subWindowList(QMdiArea::CreationOrder);
    QCOMPARE(subs.size(), before + 1);
    QWidget* form = subs.last()->widget();
    QVERIFY(!visible(form, "grpDocumento"));
    QVERIFY2(text(form, "lblMensagem").contains(says), qPrintable(text(form, "lblMensagem")));
}

void TestVisualizacao::databaseThatCannotAnswerIsExplained() {
    host::DatabaseModule::Close();
    QWidget* form = open({QStringLiteral("0001"), QStringLiteral("123")});
    host::DatabaseModule::Open(m_url);
    QVERIFY(form);
    QVERIFY(!visible(form, "grpDocumento"));
    const QString message = text(form, "lblMensagem");
    QVERIFY2(message.startsWith(QStringLiteral("Não foi possível ler o lançamento 123 da filial "
                                               "0001")),
             qPrintable(message));
}

QTEST_MAIN(TestVisualizacao)
#include "tst_visualizacao.moc"

#include <QCborArray>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "support/scripteddialogs.h"
#include "ui/consiste.h"
#include "ui/dbgrid.h"
#include "ui/handler.h"

using namespace host;

class TestConsiste : public QObject {
    Q_OBJECT

  private slots:
    void mensErroEndsTheHandlerButCleanUpRuns();
    void mensErroWithoutStopGoesOn();
    void checkResultServ_data();
    void checkResultServ();
    void checkResultServWithoutStopReturnsNothing();
    void emptyString_data();
    void emptyString();
    void ajusta_data();
    void ajusta();
    void pictPess_data();
    void pictPess();
    void priDiaMes();
    void maxNumber_data();
    void maxNumber();
    void setChildEnabled();
    void indiceColFindsTheGridColumnOfAField();
};

void TestConsiste::mensErroEndsTheHandlerButCleanUpRuns() {
    test::ScriptedDialogs dlg;
    dlg.expectError("Empresa não cadastrada.");
    bool cleanedUp = false;
    bool after = false;
    const bool finished = runHandler(nullptr, [&] {
        auto guard = qScopeGuard([&] { cleanedUp = true; });
        Consiste::MensErro("Empresa não cadastrada.", true);
        after = true;
    });
    QVERIFY(!finished);
    QVERIFY(cleanedUp);
    QVERIFY(!after);
    QCOMPARE(dlg.calls().size(), 1);
    QCOMPARE(dlg.calls()[0].kind, test::DialogCall::Error);
    QVERIFY_DIALOGS(dlg);
}

void TestConsiste::mensErroWithoutStopGoesOn() {
    test::ScriptedDialogs dlg;
    dlg.expectError("Só um aviso.");
    bool after = false;
    QVERIFY(runHandler(nullptr, [&] {
        Consiste::MensErro("Só um aviso.", false);
        after = true;
    }));
    QVERIFY(after);
    QVERIFY_DIALOGS(dlg);
}

void TestConsiste::checkResultServ_data() {
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<QString>("error");  // empty: the array comes back
    QTest::addColumn<QVariantList>("expected");

    const QVariantList five{"OK", "", "3", "0", QByteArray("pkt")};
    QTest::newRow("array of five") << QVariant(five) << QString() << five;
    QTest::newRow("short array padded")
        << QVariant(QVariantList{"S", "x"}) << QString()
        << QVariantList{"S", "x", QVariant(), QVariant(), QVariant()};
    QTest::newRow("string list") << QVariant(QStringList{"ERRO", "falhou", "0", "0", ""})
                                 << QString() << QVariantList{"ERRO", "falhou", "0", "0", ""};
    QTest::newRow("cbor array") << QVariant::fromValue(QCborArray{"OK", "", "1", "2", "z"})
                                << QString() << QVariantList{"OK", "", "1", "2", "z"};
    QTest::newRow("server error text")
        << QVariant("Empresa sem certificado digital.")
        << QString("Empresa sem certificado digital.") << QVariantList();
    const QString invalid = "Resposta inválida do servidor de aplicação.";
    QTest::newRow("integer") << QVariant(42) << invalid << QVariantList();
    QTest::newRow("nothing") << QVariant() << invalid << QVariantList();
    QTest::newRow("empty array") << QVariant(QVariantList()) << invalid << QVariantList();
    QTest::newRow("blank string") << QVariant("   ") << invalid << QVariantList();
    QTest::newRow("packet bytes") << QVariant(QByteArray("\xa1\x01", 2)) << invalid
                                  << QVariantList();
}

void TestConsiste::checkResultServ() {
    QFETCH(QVariant, result);
    QFETCH(QString, error);
    QFETCH(QVariantList, expected);

    test::ScriptedDialogs dlg;
    if (!error.isEmpty()) {
        dlg.expectError(error);
    }
    QVariantList got;
    bool reached = false;
    const bool finished = runHandler(nullptr, [&] {
        got = Consiste::CheckResultServ(result, true, 0);
        reached = true;
    });
    QCOMPARE(finished, error.isEmpty());
    QCOMPARE(reached, error.isEmpty());
    QCOMPARE(got, expected);
    QVERIFY_DIALOGS(dlg);
}

void TestConsiste::checkResultServWithoutStopReturnsNothing() {
    test::ScriptedDialogs dlg;
    dlg.expectError("Falha na consulta.");
    QVariantList got{"stale"};
    QVERIFY(runHandler(nullptr,
                       [&] { got = Consiste::CheckResultServ("Falha na consulta.", false, 0); }));
    QVERIFY(got.isEmpty());
    QVERIFY_DIALOGS(dlg);
}

void TestConsiste::emptyString_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("empty");
    QTest::newRow("null") << QString() << true;
    QTest::newRow("empty") << QString("") << true;
    QTest::newRow("blanks") << QString("   ") << true;
    QTest::newRow("tab and newline") << QString("\t\n") << true;
    QTest::newRow("zero") << QString("0") << false;
    QTest::newRow("padded") << QString("  1 ") << false;
}

void TestConsiste::emptyString() {
    QFETCH(QString, text);
    QFETCH(bool, empty);
    QCOMPARE(Consiste::EmptyString(text), empty);
}

void TestConsiste::ajusta_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("company 1") << "1" << 2 << "01";
    QTest::newRow("company 01") << "01" << 2 << "01";
    QTest::newRow("branch 1") << "1" << 4 << "0001";
    QTest::newRow("branch 12") << "12" << 4 << "0012";
    QTest::newRow("note 123") << "123" << 9 << "000000123";
    QTest::newRow("blanks trimmed") << " 7 " << 2 << "07";
    QTest::newRow("longer left as is") << "12345" << 4 << "12345";
    QTest::newRow("empty stays empty") << "" << 2 << "";
    QTest::newRow("blank stays empty") << "  " << 4 << "";
    QTest::newRow("letters padded too") << "A" << 2 << "0A";
}

void TestConsiste::ajusta() {
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(Consiste::Ajusta(text, width), expected);
}

void TestConsiste::pictPess_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("mask");
    QTest::newRow("J") << "J"
                       << ">aa.aaa.aaa/aaaa-99;0;_";
    QTest::newRow("j lower") << "j"
                             << ">aa.aaa.aaa/aaaa-99;0;_";
    QTest::newRow("F") << "F"
                       << "999.999.999-99;0;_";
    QTest::newRow("F padded") << " F "
                              << "999.999.999-99;0;_";
    QTest::newRow("E") << "E"
                       << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestConsiste::pictPess() {
    QFETCH(QString, kind);
    QFETCH(QString, mask);
    QCOMPARE(Consiste::PictPess(kind), mask);
}

void TestConsiste::priDiaMes() {
    QCOMPARE(Consiste::PriDiaMes(QDate(2026, 12, 8)), QDate(2026, 12, 1));
    QCOMPARE(Consiste::PriDiaMes(QDate(2024, 2, 29)), QDate(2024, 2, 1));
    QCOMPARE(Consiste::PriDiaMes(QDate(2027, 1, 1)), QDate(2027, 1, 1));
    QVERIFY(!Consiste::PriDiaMes(QDate()).isValid());
}

void TestConsiste::maxNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxDigits");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength");
    QTest::addColumn<bool>("accepted");

    const QString nineteen = "1234567890123456789";
    const QString twenty = nineteen + "0";
    QTest::newRow("digit into empty") << "" << 20 << 0 << "5" << 0 << 0 << true;
    QTest::newRow("20th digit") << nineteen << 20 << 0 << "5" << 19 << 0 << true;
    QTest::newRow("21st digit") << twenty << 20 << 0 << "5" << 20 << 0 << false;
    QTest::newRow("21st digit in the middle") << twenty << 20 << 0 << "5" << 3 << 0 << false;
    QTest::newRow("replacing one of 20") << twenty << 20 << 0 << "5" << 3 << 1 << true;
    QTest::newRow("replacing all of 20") << twenty << 20 << 0 << "5" << 0 << 20 << true;
    QTest::newRow("backspace when full") << twenty << 20 << 0 << "\b" << 20 << 0 << true;
    QTest::newRow("ctrl+v when full") << twenty << 20 << 0 << "\x16" << 20 << 0 << true;
    QTest::newRow("empty key") << twenty << 20 << 0 << "" << 20 << 0 << true;
    QTest::newRow("space refused") << "" << 20 << 0 << " " << 0 << 0 << false;
    QTest::newRow("dot refused") << "12" << 20 << 0 << "." << 2 << 0 << false;
    QTest::newRow("slash refused") << "12" << 20 << 0 << "/" << 2 << 0 << false;
    QTest::newRow("letter in a CNPJ field") << "12" << 20 << 0 << "A" << 2 << 0 << true;
    QTest::newRow("lower letter in a CNPJ field") << "12" << 20 << 0 << "b" << 2 << 0 << true;
    QTest::newRow("letter counts as a digit")
        << nineteen + "A" << 20 << 0 << "B" << 20 << 0 << false;
    QTest::newRow("accent refused") << "12" << 20 << 0 << "Á" << 2 << 0 << false;
    QTest::newRow("letter in a short field") << "1" << 9 << 0 << "A" << 1 << 0 << false;
    QTest::newRow("mask literals not counted")
        << "12.345.678/0001-9" << 14 << 0 << "5" << 17 << 0 << true;
    QTest::newRow("comma without decimals") << "12" << 20 << 0 << "," << 2 << 0 << false;
    QTest::newRow("comma with decimals") << "12" << 5 << 2 << "," << 2 << 0 << true;
    QTest::newRow("second comma") << "12,3" << 5 << 2 << "," << 4 << 0 << false;
    QTest::newRow("third decimal") << "1,23" << 5 << 2 << "4" << 4 << 0 << false;
    QTest::newRow("second decimal") << "1,2" << 5 << 2 << "4" << 3 << 0 << true;
    QTest::newRow("selection past end clamped") << "12" << 3 << 0 << "3" << 10 << 10 << true;
}

void TestConsiste::maxNumber() {
    QFETCH(QString, text);
    QFETCH(int, maxDigits);
    QFETCH(int, decimals);
    QFETCH(QString, key);
    QFETCH(int, selStart);
    QFETCH(int, selLength);
    QFETCH(bool, accepted);
    QCOMPARE(Consiste::MaxNumber(text, maxDigits, decimals, key, selStart, selLength), accepted);
}

void TestConsiste::setChildEnabled() {
    QWidget form;
    auto* group = new QGroupBox(&form);
    auto* a = new QLineEdit(group);
    auto* b = new QCheckBox(group);
    auto* inner = new QWidget(group);
    auto* deep = new QLineEdit(inner);
    auto* outside = new QLineEdit(&form);
    auto* l = new QVBoxLayout(group);
    l->addWidget(a);
    l->addWidget(b);
    l->addWidget(inner);

    Consiste::SetChildEnabled(group, false);
    QVERIFY(group->isEnabled());
    QVERIFY(!a->isEnabled());
    QVERIFY(!b->isEnabled());
    QVERIFY(!deep->isEnabled());
    QVERIFY(outside->isEnabled());

    Consiste::SetChildEnabled(group, true);
    QVERIFY(a->isEnabled());
    QVERIFY(b->isEnabled());
    QVERIFY(deep->isEnabled());

    QVERIFY_THROWS_EXCEPTION(EProgrammingError, Consiste::SetChildEnabled(nullptr, true));
}

void TestConsiste::indiceColFindsTheGridColumnOfAField() {
    TClientDataSet ds;
    ds.AddField({"NRACESSONF", FieldType::String, 44, false});
    ds.AddField({"VRNOTAFISC", FieldType::Float, 0, false});
    ds.CreateDataSet();
    TDataSource source;
    source.SetDataSet(&ds);
    TDBGrid grid;
    grid.SetDataSource(&source);
    QCOMPARE(Consiste::IndiceCol(&grid, "VRNOTAFISC"), 1);
    QCOMPARE(Consiste::IndiceCol(&grid, "NRACESSONF"), 0);
    QCOMPARE(Consiste::IndiceCol(&grid, "NADA"), -1);
    QVERIFY_THROWS_EXCEPTION(EProgrammingError,
                             Consiste::IndiceCol(static_cast<TDBGrid*>(nullptr), "VRNOTAFISC"));
}

QTEST_MAIN(TestConsiste)
#include "tst_consiste.moc"

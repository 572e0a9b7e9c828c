#include <QtTest>

#include "core/hosterror.h"
#include "fiscaldocs.h"

class TestFiscalDocs : public QObject {
    Q_OBJECT

  private slots:
    void cnpj_data();
    void cnpj();
    void cnpjCheckDigitsOfPublishedExamples();
    void cnpjBaseWithBadCharactersIsRefused();
    void cpf_data();
    void cpf();
    void registrationFollowsPersonType();
    void masksAreStrippedAndApplied();
    void accessKey_data();
    void accessKey();
    void accessKeyDigitIsWeightedFromTheRight();
    void accessKeyDigitRefusesBadBodies();
};

void TestFiscalDocs::cnpj_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("valid");
    QTest::newRow("classic example") << "11222333000181" << true;
    QTest::newRow("second example") << "11444777000161" << true;
    QTest::newRow("alphanumeric, Receita example") << "12ABC34501DE35" << true;
    QTest::newRow("first digit wrong") << "11222333000191" << false;
    QTest::newRow("second digit wrong") << "11222333000182" << false;
    QTest::newRow("alphanumeric, digit wrong") << "12ABC34501DE36" << false;
    QTest::newRow("letter in check digits") << "12ABC34501DE3A" << false;
    QTest::newRow("lower-case letters") << "12abc34501de35" << false;
    QTest::newRow("all zeros") << "00000000000000" << false;
    QTest::newRow("too short") << "1122233300018" << false;
    QTest::newRow("with mask") << "11.222.333/0001-81" << false;
    QTest::newRow("empty") << "" << false;
}

void TestFiscalDocs::cnpj() {
    QFETCH(QString, number);
    QFETCH(bool, valid);
    QCOMPARE(fiscal::isValidCnpj(number), valid);
}

void TestFiscalDocs::cnpjCheckDigitsOfPublishedExamples() {
    QCOMPARE(fiscal::cnpjCheckDigits(QStringLiteral("112223330001")), QStringLiteral("81"));
    QCOMPARE(fiscal::completeCnpj(QStringLiteral("12ABC34501DE")),
             QStringLiteral("12ABC34501DE35"));
    // A remainder below 2 gives a zero digit; this base needs it on the first digit.
    const QString cnpj = fiscal::completeCnpj(QStringLiteral("000000010001"));
    QVERIFY(fiscal::isValidCnpj(cnpj));
    QVERIFY(fiscal::isAlphanumericCnpj(QStringLiteral("12ABC34501DE35")));
    QVERIFY(!fiscal::isAlphanumericCnpj(QStringLiteral("11222333000181")));
}

void TestFiscalDocs::cnpjBaseWithBadCharactersIsRefused() {
    QVERIFY_THROWS_EXCEPTION(host::EHostError, fiscal::cnpjCheckDigits(QStringLiteral("1122")));
    QVERIFY_THROWS_EXCEPTION(host::EHostError,
                             fiscal::cnpjCheckDigits(QStringLiteral("11222333000*")));
    QVERIFY_THROWS_EXCEPTION(host::EHostError, fiscal::cpfCheckDigits(QStringLiteral("52998224A")));
}

void TestFiscalDocs::cpf_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("valid");
    QTest::newRow("classic example") << "52998224725" << true;
    QTest::newRow("second example") << "11144477735" << true;
    QTest::newRow("first digit wrong") << "52998224735" << false;
    QTest::newRow("second digit wrong") << "52998224724" << false;
    QTest::newRow("repeated digit") << "11111111111" << false;
    QTest::newRow("all zeros") << "00000000000" << false;
    QTest::newRow("letter") << "5299822472A" << false;
    QTest::newRow("too long") << "529982247250" << false;
}

void TestFiscalDocs::cpf() {
    QFETCH(QString, number);
    QFETCH(bool, valid);
    QCOMPARE(fiscal::isValidCpf(number), valid);
    if (valid) {
        QCOMPARE(fiscal::completeCpf(number.left(9)), number);
    }
}

void TestFiscalDocs::registrationFollowsPersonType() {
    QVERIFY(fiscal::isValidRegistration(QStringLiteral("J"), QStringLiteral("11222333000181")));
    QVERIFY(!fiscal::isValidRegistration(QStringLiteral("F"), QStringLiteral("11222333000181")));
    QVERIFY(fiscal::isValidRegistration(QStringLiteral("F"), QStringLiteral("52998224725")));
    QVERIFY(!fiscal::isValidRegistration(QStringLiteral("J"), QStringLiteral("52998224725")));
    QVERIFY(!fiscal::isValidRegistration(QStringLiteral("X"), QStringLiteral("52998224725")));
}

void TestFiscalDocs::masksAreStrippedAndApplied() {
    QCOMPARE(fiscal::stripMask(QStringLiteral(" 11.222.333/0001-81 ")),
             QStringLiteral("11222333000181"));
    QCOMPARE(fiscal::stripMask(QStringLiteral("(529),982.247-25")), QStringLiteral("52998224725"));
    QCOMPARE(fiscal::formatCnpj(QStringLiteral("12ABC34501DE35")),
             QStringLiteral("12.ABC.345/01DE-35"));
    QCOMPARE(fiscal::formatCpf(QStringLiteral("52998224725")), QStringLiteral("529.982.247-25"));
    QCOMPARE(fiscal::formatCpf(QStringLiteral("123")), QStringLiteral("123"));
}

void TestFiscalDocs::accessKey_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("valid");
    // The worked example of the taxpayer's manual.
    QTest::newRow("manual example") << "52060433009911002506550120000007800267301615" << true;
    QTest::newRow("digit wrong") << "52060433009911002506550120000007800267301614" << false;
    QTest::newRow("remainder 0 or 1 gives 0")
        << "35230111222333000181550010000123451000000010" << true;
    QTest::newRow("43 characters") << "5206043300991100250655012000000780026730161" << false;
    QTest::newRow("letter outside the CNPJ")
        << "5A060433009911002506550120000007800267301615" << false;
    QTest::newRow("blank") << "                                            " << false;
}

void TestFiscalDocs::accessKey() {
    QFETCH(QString, key);
    QFETCH(bool, valid);
    QCOMPARE(fiscal::isValidAccessKey(key), valid);
}

void TestFiscalDocs::accessKeyDigitIsWeightedFromTheRight() {
    // Weighting from the left would give 5 here; from the right it is 8.
    QCOMPARE(
        fiscal::accessKeyCheckDigit(QStringLiteral("3517060853052800018455000000000480114301100")),
        8);
    // An issuer with an alphanumeric CNPJ: its letters count like in the CNPJ digits.
    const QString body = QStringLiteral("352607") + QStringLiteral("12ABC34501DE35") +
                         QStringLiteral("55001000000123100000001");
    QCOMPARE(body.size(), 43);
    const int dv = fiscal::accessKeyCheckDigit(body);
    QVERIFY(fiscal::isValidAccessKey(body + QString::number(dv)));
    QVERIFY(!fiscal::isValidAccessKey(body + QString::number((dv + 1) % 10)));
}

void TestFiscalDocs::accessKeyDigitRefusesBadBodies() {
    QVERIFY_THROWS_EXCEPTION(host::EHostError, fiscal::accessKeyCheckDigit(QStringLiteral("123")));
    QVERIFY_THROWS_EXCEPTION(
        host::EHostError,
        fiscal::accessKeyCheckDigit(QStringLiteral("35170608530528000184550000000004801143011-0")));
}

QTEST_GUILESS_MAIN(TestFiscalDocs)
#include "tst_fiscaldocs.moc"

#include <QTest>

#include "ui/numberedit.h"
#include "widgetfixtures.h"

using host::TNumberEdit;

class TstNumberEdit : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { widgettest::pinLocale(); }

    void formats_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("grouped") << "#,##0.00" << 1234.5 << "1.234,50";
        QTest::newRow("millions") << "#,##0.00" << 1234567.891 << "1.234.567,89";
        QTest::newRow("negative") << "#,##0.00" << -1234.5 << "-1.234,50";
        QTest::newRow("not grouped") << "###0.00" << 1234.5 << "1234,50";
        QTest::newRow("zero") << "#,##0.00" << 0.0 << "0,00";
        QTest::newRow("tiny negative") << "#,##0.00" << -0.001 << "0,00";
        QTest::newRow("no decimals") << "0" << 12.6 << "13";
        QTest::newRow("optional integer digit") << "#.00" << 0.5 << ",50";
    }
    void formats() {
        QFETCH(QString, format);
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(TNumberEdit::FormatNumber(value, format), text);
    }

    void showsValueRightAligned() {
        TNumberEdit e;
        QVERIFY(e.alignment() & Qt::AlignRight);
        QCOMPARE(e.DisplayFormat(), QStringLiteral("#,##0.00"));
        e.SetValue(1234.5);
        QCOMPARE(e.text(), QStringLiteral("1.234,50"));
        QCOMPARE(e.Value(), 1234.5);
    }

    void typingAcceptsDigitsCommaAndMinusOnly() {
        TNumberEdit e;
        QTest::keyClicks(&e, QStringLiteral("-12a3x,5b"));
        QCOMPARE(e.text(), QStringLiteral("-123,5"));
        QCOMPARE(e.Value(), -123.5);
        QTest::keyClicks(&e, QStringLiteral(",7-"));  // a second comma or minus is refused
        QCOMPARE(e.text(), QStringLiteral("-123,57"));
    }

    void keypadDecimalKeyGivesAComma() {
        TNumberEdit e;
        QTest::keyClicks(&e, QStringLiteral("3"));
        QTest::keyClick(&e, Qt::Key_Period, Qt::KeypadModifier);
        QTest::keyClicks(&e, QStringLiteral("25"));
        QCOMPARE(e.Value(), 3.25);
    }

    void leavingTheEditFormatsIt() {
        QWidget w;
        auto* e = new TNumberEdit(&w);
        auto* other = new TNumberEdit(&w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        e->setFocus();
        QTest::keyClicks(e, QStringLiteral("1234,5"));
        other->setFocus();
        QTRY_COMPARE(e->text(), QStringLiteral("1.234,50"));
        QCOMPARE(e->Value(), 1234.5);
    }

    void emptyIsZeroAndGarbageIsAnError() {
        TNumberEdit e;
        QVERIFY(e.IsEmpty());
        QCOMPARE(e.Value(), 0.0);
        e.setText(QStringLiteral("12,3,4"));
        QVERIFY_THROWS_EXCEPTION(host::EHostError, e.Value());
        QVERIFY_THROWS_EXCEPTION(host::EHostError, e.SetValue(qInf()));
    }
};

QTEST_MAIN(TstNumberEdit)
#include "tst_numberedit.moc"

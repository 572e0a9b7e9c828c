#include <QSignalSpy>
#include <QTest>

#include "core/hosterror.h"
#include "support/scripteddialogs.h"
#include "ui/maskedit.h"
#include "widgetfixtures.h"

using host::TMaskEdit;

namespace {
const QString kCnpj = QStringLiteral("99.999.999/9999-99;0;_");
const QString kCpf = QStringLiteral("999.999.999-99;0;_");
const QString kCnpjAlfa = QStringLiteral(">aa.aaa.aaa/aaaa-99;0;_");
}  // namespace

class TstMaskEdit : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { widgettest::pinLocale(); }

    void formatMaskText_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("cnpj") << kCnpj << "12345678000199"
                              << "12.345.678/0001-99";
        QTest::newRow("cpf") << kCpf << "12345678901"
                             << "123.456.789-01";
        QTest::newRow("already formatted") << kCpf << "123.456.789-01"
                                           << "123.456.789-01";
        QTest::newRow("short value") << kCpf << "1234"
                                     << "123.4__.___-__";
        QTest::newRow("empty value") << kCpf << ""
                                     << "";
        QTest::newRow("no mask") << ""
                                 << "abc"
                                 << "abc";
        QTest::newRow("alphanumeric cnpj") << kCnpjAlfa << "12abc34500019a"
                                           << "12.ABC.345/0001-9_";
        QTest::newRow("escaped literal") << "\\A99;0;_"
                                         << "12"
                                         << "A12";
    }
    void formatMaskText() {
        QFETCH(QString, mask);
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QCOMPARE(host::FormatMaskText(mask, value), shown);
    }

    void digitsOnlyPositionsRefuseOtherKeys() {
        TMaskEdit e;
        e.SetEditMask(QStringLiteral("99;0; "));
        QTest::keyClicks(&e, QStringLiteral("a1x2"));
        QCOMPARE(e.Text(), QStringLiteral("12"));
        QTest::keyClicks(&e, QStringLiteral("3"));  // the mask is full
        QCOMPARE(e.Text(), QStringLiteral("12"));
    }

    void partialEntryHasNoBlanksInValue() {
        TMaskEdit e;
        e.SetEditMask(QStringLiteral("999999999;0; "));
        QTest::keyClicks(&e, QStringLiteral("123"));
        QCOMPARE(e.Text(), QStringLiteral("123"));
        QCOMPARE(e.EditText(), QStringLiteral("123      "));
    }

    void upperCaseMask() {
        TMaskEdit e;
        e.SetEditMask(QStringLiteral(">aaaa;0; "));
        QTest::keyClicks(&e, QStringLiteral("ab-1cz"));
        QCOMPARE(e.Text(), QStringLiteral("AB1C"));
    }

    void literalsShownButNotStored() {
        TMaskEdit e;
        e.SetEditMask(kCnpj);
        QTest::keyClicks(&e, QStringLiteral("12345678000199"));
        QCOMPARE(e.EditText(), QStringLiteral("12.345.678/0001-99"));
        QCOMPARE(e.Text(), QStringLiteral("12345678000199"));
    }

    void literalsStoredWhenSaveIsOne() {
        TMaskEdit e;
        e.SetEditMask(QStringLiteral("99/99;1;_"));
        QTest::keyClicks(&e, QStringLiteral("0512"));
        QCOMPARE(e.Text(), QStringLiteral("05/12"));
    }

    void alphanumericCnpjTakesLettersButNotInCheckDigits() {
        TMaskEdit e;
        e.SetEditMask(kCnpjAlfa);
        QTest::keyClicks(&e, QStringLiteral("12abc345de01xy"));
        // Letters are raised in the first twelve positions; the check digits refuse them.
        QCOMPARE(e.Text(), QStringLiteral("12ABC345DE01"));
        QTest::keyClicks(&e, QStringLiteral("98"));
        QCOMPARE(e.EditText(), QStringLiteral("12.ABC.345/DE01-98"));
    }

    void maxLengthWithoutMask() {
        TMaskEdit e;
        e.SetMaxLength(5);
        QTest::keyClicks(&e, QStringLiteral("ABCDEFG"));
        QCOMPARE(e.Text(), QStringLiteral("ABCDE"));
        e.SetMaxLength(0);
        QTest::keyClicks(&e, QStringLiteral("FG"));
        QCOMPARE(e.Text(), QStringLiteral("ABCDEFG"));
    }

    void setTextEmitsChangedOnlyOnRealChange() {
        TMaskEdit e;
        e.SetEditMask(QStringLiteral("99;0; "));
        QSignalSpy spy(&e, &TMaskEdit::changed);
        e.SetText(QStringLiteral("01"));
        QCOMPARE(spy.count(), 1);
        e.SetText(QStringLiteral("01"));
        QCOMPARE(spy.count(), 1);
        e.SetText(QString());
        QCOMPARE(spy.count(), 2);
        QCOMPARE(e.Text(), QString());
        QTest::keyClicks(&e, QStringLiteral("7"));
        QCOMPARE(spy.count(), 3);
    }

    void maskOnAnEmptyEditIsNoChange() {
        TMaskEdit e;
        QSignalSpy spy(&e, &TMaskEdit::changed);
        e.SetEditMask(kCnpj);
        e.SetEditMask(QString());
        QCOMPARE(spy.count(), 0);
    }

    void changingTheMaskKeepsTheValue() {
        TMaskEdit e;
        QSignalSpy spy(&e, &TMaskEdit::changed);
        QTest::keyClicks(&e, QStringLiteral("12345678000199"));
        const int typed = spy.count();
        QCOMPARE(typed, 14);

        e.SetEditMask(kCnpj);
        QCOMPARE(e.EditText(), QStringLiteral("12.345.678/0001-99"));
        QCOMPARE(e.Text(), QStringLiteral("12345678000199"));
        QCOMPARE(spy.count(), typed + 1);  // what the edit shows changed once

        // The user edits bare digits again once the mask is cleared.
        e.SetEditMask(QString());
        QCOMPARE(e.EditText(), QStringLiteral("12345678000199"));
        QCOMPARE(spy.count(), typed + 2);

        // A mask change that shows the same text is no change.
        e.SetText(QStringLiteral("AB"));
        const int before = spy.count();
        e.SetEditMask(QStringLiteral("cc;0;_"));
        QCOMPARE(e.EditText(), QStringLiteral("AB"));
        QCOMPARE(spy.count(), before);
    }

    void blockedSignalsDetachTheChangeHandler() {
        TMaskEdit e;
        e.SetText(QStringLiteral("12345678000199"));
        QSignalSpy spy(&e, &TMaskEdit::changed);
        {
            const QSignalBlocker block(&e);
            e.SetEditMask(kCnpj);
        }
        QCOMPARE(spy.count(), 0);
        // ...and the edit still knows what it shows: typing over it is one change.
        e.selectAll();
        QTest::keyClicks(&e, QStringLiteral("9"));
        QCOMPARE(spy.count(), 1);
    }

    void setTextLaysValueOverMask() {
        TMaskEdit e;
        e.SetEditMask(kCpf);
        e.SetText(QStringLiteral("12345678901"));
        QCOMPARE(e.EditText(), QStringLiteral("123.456.789-01"));
        e.SetText(QStringLiteral("987.654.321-00"));
        QCOMPARE(e.Text(), QStringLiteral("98765432100"));
        e.SetText(QStringLiteral("12a"));  // characters no position takes are dropped
        QCOMPARE(e.Text(), QStringLiteral("12"));
    }

    // A ';' literal (escaped in the mask) takes its place in the edit as in the mask, whether
    // the value keeps literals or not. The first mask is the one the fuzzer found the edit
    // showing nothing with.
    void escapedSemicolonLiteral_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("value");
        QTest::newRow("fuzzer's mask") << QStringLiteral("\\;00;0;_") << QString() << QString();
        QTest::newRow("without literals")
            << QStringLiteral("\\;00;0;_") << QStringLiteral("12") << QStringLiteral("12");
        QTest::newRow("with literals")
            << QStringLiteral("00\\;00;1;_") << QStringLiteral("1234") << QStringLiteral("12;34");
    }
    void escapedSemicolonLiteral() {
        QFETCH(QString, mask);
        QFETCH(QString, typed);
        QFETCH(QString, value);
        const host::EditMask m = host::EditMask::parse(mask);
        TMaskEdit e;
        e.SetEditMask(mask);
        e.SetText(typed);
        QCOMPARE(e.EditText().size(), qsizetype(m.positions.size()));
        QCOMPARE(e.Text(), value);
        e.Clear();
        QTest::keyClicks(&e, typed);
        QCOMPARE(e.Text(), value);
    }

    // The key handler sees each typed character first: it may let it through, replace it or
    // refuse it; one that stops (an error on the way) refuses the key, and the edit goes on.
    void keyPressHandlerReplacesOrRefusesKeys() {
        host::test::ScriptedDialogs dlg;
        TMaskEdit e;
        QStringList seen;
        e.OnKeyPress = [&](QString& key) {
            seen << key;
            if (key == u"x") {
                key.clear();
            } else if (key == u"!") {
                throw host::EHostError(QStringLiteral("Tecla recusada."));
            } else {
                key = key.toUpper();
            }
        };
        dlg.expectError(QStringLiteral("Tecla recusada."));
        QTest::keyClicks(&e, QStringLiteral("ax1!b"));
        QCOMPARE(e.Text(), QStringLiteral("A1B"));
        QCOMPARE(seen, (QStringList{"a", "x", "1", "!", "b"}));
        QTest::keyClick(&e, Qt::Key_Backspace);  // editing keys pass by the handler
        QCOMPARE(e.Text(), QStringLiteral("A1"));
        QCOMPARE(seen.size(), 5);
        QVERIFY_DIALOGS(dlg);
    }
};

QTEST_MAIN(TstMaskEdit)
#include "tst_maskedit.moc"

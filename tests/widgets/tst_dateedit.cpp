#include <QCalendarWidget>
#include <QSignalSpy>
#include <QTest>

#include "ui/dateeditplus.h"
#include "widgetfixtures.h"

using host::TDateEditPlus;

class TstDateEdit : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { widgettest::pinLocale(); }

    void startsEmptyAndEmptyIsValid() {
        TDateEditPlus e;
        QVERIFY(e.IsEmpty());
        QVERIFY(!e.Date().isValid());
        QCOMPARE(e.Text(), QString());
        e.CheckValidDate();  // must not throw
    }

    void typedDates_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QDate>("date");
        QTest::newRow("full") << "08122026" << QDate(2026, 12, 8);
        QTest::newRow("leap day") << "29022028" << QDate(2028, 2, 29);
        QTest::newRow("two-digit year") << "010326" << QDate(2026, 3, 1);
        QTest::newRow("letters ignored") << "0a1b032026" << QDate(2026, 3, 1);
    }
    void typedDates() {
        QFETCH(QString, typed);
        QFETCH(QDate, date);
        TDateEditPlus e;
        QTest::keyClicks(&e, typed);
        QCOMPARE(e.Date(), date);
        e.CheckValidDate();
    }

    void invalidDatesFailTheCheck_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("31 February") << "31022026";
        QTest::newRow("month 13") << "01132026";
        QTest::newRow("incomplete") << "0102";
        QTest::newRow("day zero") << "00012026";
        QTest::newRow("not a leap year") << "29022026";
    }
    void invalidDatesFailTheCheck() {
        QFETCH(QString, typed);
        TDateEditPlus e;
        QTest::keyClicks(&e, typed);
        QVERIFY(!e.IsEmpty());
        QVERIFY(!e.Date().isValid());
        try {
            e.CheckValidDate();
            QFAIL("CheckValidDate accepted an invalid date");
        } catch (const host::EHostError& err) {
            QVERIFY2(err.text().startsWith(QStringLiteral("Data inválida")),
                     qPrintable(err.text()));
        }
    }

    void setDateAndClear() {
        TDateEditPlus e;
        QSignalSpy spy(&e, &TDateEditPlus::changed);
        e.SetDate(QDate(2026, 1, 5));
        QCOMPARE(e.Text(), QStringLiteral("05/01/2026"));
        QCOMPARE(e.Date(), QDate(2026, 1, 5));
        QVERIFY(spy.count() >= 1);
        e.SetDate(QDate());
        QVERIFY(e.IsEmpty());
        QVERIFY(!e.Date().isValid());
    }

    void validDatesAreBlueWithTheirWeekday() {
        TDateEditPlus e;
        const QColor normal = e.palette().color(QPalette::Text);
        e.SetDate(QDate(2026, 12, 8));
        QCOMPARE(e.palette().color(QPalette::Text), QColor(0, 0, 255));
        QCOMPARE(e.toolTip(), QStringLiteral("Terça"));
        e.setText(QStringLiteral("31/02/2026"));
        QCOMPARE(e.palette().color(QPalette::Text), normal);
        QVERIFY(e.toolTip().isEmpty());
    }

    void weekdayNames() {
        QStringList names;
        for (int d = 6; d <= 12; ++d) {  // 06/12/2026 is a Sunday
            names << TDateEditPlus::WeekdayName(QDate(2026, 12, d));
        }
        QCOMPARE(names, (QStringList{"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta",
                                     "Sábado"}));
        QVERIFY(TDateEditPlus::WeekdayName(QDate()).isEmpty());
    }

    void calendarPicksADate() {
        TDateEditPlus e;
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
        e.SetDate(QDate(2026, 5, 10));
        e.ShowCalendar();
        QCalendarWidget* cal = e.Calendar();
        QVERIFY(cal);
        QCOMPARE(cal->selectedDate(), QDate(2026, 5, 10));
        QCOMPARE(cal->firstDayOfWeek(), Qt::Sunday);
        emit cal->clicked(QDate(2026, 5, 20));
        QCOMPARE(e.Date(), QDate(2026, 5, 20));
        QVERIFY(!cal->window()->isVisible());
    }
};

QTEST_MAIN(TstDateEdit)
#include "tst_dateedit.moc"

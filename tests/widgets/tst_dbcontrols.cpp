#include <QTest>
#include <QToolButton>

#include "ui/dbedit.h"
#include "ui/dbnavigator.h"
#include "widgetfixtures.h"

using host::TDBEdit;
using host::TDBNavigator;

class TstDbControls : public QObject {
    Q_OBJECT

    std::unique_ptr<host::TClientDataSet> ds;
    std::unique_ptr<host::TDataSource> src;

    QList<bool> navStates(const TDBNavigator& nav) const {
        QList<bool> s;
        for (auto b :
             {TDBNavigator::First, TDBNavigator::Prior, TDBNavigator::Next, TDBNavigator::Last}) {
            s << nav.ButtonWidget(b)->isEnabled();
        }
        return s;
    }

  private slots:
    void initTestCase() { widgettest::pinLocale(); }
    void init() {
        ds = widgettest::makeDataSet(widgettest::fiveRows());
        src = std::make_unique<host::TDataSource>();
        src->SetDataSet(ds.get());
    }
    void cleanup() {
        src.reset();
        ds.reset();
    }

    void dbEditFollowsTheCurrentRow() {
        TDBEdit e;
        e.SetReadOnly(true);
        e.SetDataSource(src.get());
        e.SetDataField(QStringLiteral("VALOR"));
        QCOMPARE(e.text(), QStringLiteral("10,00"));
        ds->SetRecNo(2);
        QCOMPARE(e.text(), QStringLiteral("1234,50"));

        ds->Edit();
        ds->FieldByName(QStringLiteral("VALOR")).SetAsFloat(5);
        ds->Post();
        QCOMPARE(e.text(), QStringLiteral("5,00"));

        // Changes of other rows leave it alone; a reload shows the new current row.
        ds->DisableControls();
        ds->Last();
        QCOMPARE(e.text(), QStringLiteral("5,00"));
        ds->EnableControls();
        QCOMPARE(e.text(), QStringLiteral("7,00"));

        ds->EmptyDataSet();
        QCOMPARE(e.text(), QString());
        e.SetDataField(QStringLiteral("NADA"));  // an unknown field shows nothing
        QCOMPARE(e.text(), QString());
    }

    void editableDbEditWritesTheField() {
        QWidget w;
        auto* e = new TDBEdit(&w);
        auto* other = new QLineEdit(&w);
        e->SetDataSource(src.get());
        e->SetDataField(QStringLiteral("NOME"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        e->setFocus();
        e->selectAll();
        QTest::keyClicks(e, QStringLiteral("Zeta"));
        other->setFocus();
        QTRY_COMPARE(ds->FieldByName(QStringLiteral("NOME")).AsString(), QStringLiteral("Zeta"));
        ds->Next();
        ds->First();
        QCOMPARE(ds->FieldByName(QStringLiteral("NOME")).AsString(), QStringLiteral("Zeta"));
    }

    void navigatorEnablesByPosition() {
        TDBNavigator nav;
        nav.SetDataSource(src.get());
        QCOMPARE(navStates(nav), (QList<bool>{false, false, true, true}));
        nav.BtnClick(TDBNavigator::Next);
        QCOMPARE(ds->RecNo(), 2);
        QCOMPARE(navStates(nav), (QList<bool>{true, true, true, true}));
        nav.ButtonWidget(TDBNavigator::Last)->click();
        QCOMPARE(ds->RecNo(), 5);
        QCOMPARE(navStates(nav), (QList<bool>{true, true, false, false}));
        ds->SetRecNo(3);  // moves made elsewhere count too
        QCOMPARE(navStates(nav), (QList<bool>{true, true, true, true}));
        nav.ButtonWidget(TDBNavigator::Prior)->click();
        QCOMPARE(ds->RecNo(), 2);
        ds->EmptyDataSet();
        QCOMPARE(navStates(nav), (QList<bool>{false, false, false, false}));
        nav.SetDataSource(nullptr);
        QCOMPARE(navStates(nav), (QList<bool>{false, false, false, false}));
    }
};

QTEST_MAIN(TstDbControls)
#include "tst_dbcontrols.moc"

#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

#include "core/hosterror.h"
#include "support/scripteddialogs.h"
#include "ui/consiste.h"
#include "ui/dialogs.h"
#include "ui/focusevents.h"

using host::FocusEvents;

namespace {

// A form with two panels: pan1 holds ed1a and ed1b, pan2 holds ed2; every one of them logs
// its enter and exit.
struct Form {
    QStringList log;  // first: the handlers may still write to it while the window goes
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QFrame* pan1 = new QFrame(window.get());
    QLineEdit* ed1a = new QLineEdit(pan1);
    QLineEdit* ed1b = new QLineEdit(pan1);
    QFrame* pan2 = new QFrame(window.get());
    QLineEdit* ed2 = new QLineEdit(pan2);

    Form() {
        pan1->setObjectName("pan1");
        ed1a->setObjectName("ed1a");
        ed1b->setObjectName("ed1b");
        pan2->setObjectName("pan2");
        ed2->setObjectName("ed2");
        auto* l1 = new QHBoxLayout(pan1);
        l1->addWidget(ed1a);
        l1->addWidget(ed1b);
        auto* l2 = new QHBoxLayout(pan2);
        l2->addWidget(ed2);
        auto* l = new QVBoxLayout(window.get());
        l->addWidget(pan1);
        l->addWidget(pan2);
        for (QWidget* w :
             {static_cast<QWidget*>(pan1), static_cast<QWidget*>(ed1a), static_cast<QWidget*>(ed1b),
              static_cast<QWidget*>(pan2), static_cast<QWidget*>(ed2)}) {
            logEvents(w);
        }
    }

    void logEvents(QWidget* w) {
        const QString name = w->objectName();
        FocusEvents::setEnter(w, [this, name] { log << "enter " + name; });
        FocusEvents::setExit(w, [this, name] { log << "exit " + name; });
    }

    // Shows the form with the focus in ed1a and an empty log.
    bool showWithFocusIn(QWidget* first) {
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get())) {
            return false;
        }
        first->setFocus();
        if (!QTest::qWaitFor([&] { return first->hasFocus(); })) {
            return false;
        }
        log.clear();
        return true;
    }
};

}  // namespace

class TestFocusEvents : public QObject {
    Q_OBJECT

  private slots:
    void leavingAPanelRunsInnerExitsThenOuterThenEntersOuterFirst();
    void movingInsideAPanelLeavesThePanelAlone();
    void firstFocusOfAFormEntersItsContainers();
    void stoppingExitKeepsFocusWhereTheHandlerPutIt();
    void stoppingExitWithoutFocusGoesBackToTheControlLeft();
    void stopInContainerExitStillRanTheControlsExit();
    void messageBoxOpenedByAnExitDoesNotCountAsLeaving();
    void dialogOpenedFromTheFormRunsItsOwnHandlersOnly();
    void explicitExitCheckRunsTheChainWithoutMovingFocus();
    void destroyedControlCountsAsItsPanelWhenFocusMovesOn();
    void handlerRemovedAndReplaced();
    void switchingMdiChildrenLeavesNeitherForm();
};

void TestFocusEvents::leavingAPanelRunsInnerExitsThenOuterThenEntersOuterFirst() {
    Form f;
    QVERIFY(f.showWithFocusIn(f.ed1a));
    f.ed2->setFocus();
    QTRY_VERIFY(f.ed2->hasFocus());
    QCOMPARE(f.log, QStringList({"exit ed1a", "exit pan1", "enter pan2", "enter ed2"}));

    f.log.clear();
    f.ed1b->setFocus();
    QCOMPARE(f.log, QStringList({"exit ed2", "exit pan2", "enter pan1", "enter ed1b"}));
}

void TestFocusEvents::movingInsideAPanelLeavesThePanelAlone() {
    Form f;
    QVERIFY(f.showWithFocusIn(f.ed1a));
    QTest::keyClick(f.ed1a, Qt::Key_Tab);
    QTRY_VERIFY(f.ed1b->hasFocus());
    QCOMPARE(f.log, QStringList({"exit ed1a", "enter ed1b"}));
}

void TestFocusEvents::firstFocusOfAFormEntersItsContainers() {
    Form f;
    f.ed1b->setFocus();  // the form's first control, before it is shown
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTRY_VERIFY(f.ed1b->hasFocus());
    QCOMPARE(f.log, QStringList({"enter pan1", "enter ed1b"}));
}

void TestFocusEvents::stoppingExitKeepsFocusWhereTheHandlerPutIt() {
    Form f;
    host::test::ScriptedDialogs dlg;
    dlg.expectError("Empresa deve ser informada.");
    bool cleanedUp = false;
    FocusEvents::setExit(f.pan1, [&] {
        f.log << "exit pan1";
        auto cleanup = qScopeGuard([&] { cleanedUp = true; });
        f.ed1a->setFocus();
        host::Consiste::MensErro("Empresa deve ser informada.");
        f.log << "after MensErro";
    });
    QVERIFY(f.showWithFocusIn(f.ed1b));
    f.ed2->setFocus();
    QCOMPARE(f.log, QStringList({"exit ed1b", "exit pan1"}));
    QVERIFY(cleanedUp);
    QCOMPARE(f.window->focusWidget(), f.ed1a);
    QTRY_VERIFY(f.ed1a->hasFocus());

    // Staying inside the panel afterwards is an ordinary move inside it.
    f.log.clear();
    f.ed1b->setFocus();
    QCOMPARE(f.log, QStringList({"exit ed1a", "enter ed1b"}));
    QVERIFY_DIALOGS(dlg);
}

void TestFocusEvents::stoppingExitWithoutFocusGoesBackToTheControlLeft() {
    Form f;
    // A silent stop (a cancelled choice) that leaves the focus alone.
    FocusEvents::setExit(f.ed1b, [&] {
        f.log << "exit ed1b";
        host::Consiste::Abort();
    });
    QVERIFY(f.showWithFocusIn(f.ed1b));
    f.ed2->setFocus();
    QCOMPARE(f.log, QStringList({"exit ed1b"}));
    QTRY_VERIFY(f.ed1b->hasFocus());
    QCOMPARE(f.window->focusWidget(), f.ed1b);

    // The guard against its own setFocus did not stick: the next move is followed again.
    FocusEvents::setExit(f.ed1b, [&] { f.log << "exit ed1b"; });
    f.log.clear();
    f.ed2->setFocus();
    QCOMPARE(f.log, QStringList({"exit ed1b", "exit pan1", "enter pan2", "enter ed2"}));
}

void TestFocusEvents::stopInContainerExitStillRanTheControlsExit() {
    Form f;
    host::test::ScriptedDialogs dlg;
    dlg.expectError("falhou");
    FocusEvents::setExit(f.pan1, [&] {
        f.log << "exit pan1";
        throw host::EHostError("falhou");  // not a stop: shown by the boundary, still ends
    });
    QVERIFY(f.showWithFocusIn(f.ed1a));
    f.ed2->setFocus();
    QCOMPARE(f.log, QStringList({"exit ed1a", "exit pan1"}));
    QTRY_VERIFY(f.ed1a->hasFocus());
    QVERIFY_DIALOGS(dlg);
}

void TestFocusEvents::messageBoxOpenedByAnExitDoesNotCountAsLeaving() {
    Form f;
    // A real message box (the default seam), answered by the test while it is up.
    QVERIFY(host::installedDialogs() == nullptr);
    bool boxSeen = false;
    FocusEvents::setExit(f.pan1, [&] {
        f.log << "exit pan1";
        host::test::ModalAction ok([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            boxSeen = box != nullptr;
            if (box) {
                box->button(QMessageBox::Ok)->click();
            } else {
                modal->close();
            }
        });
        host::dialogs().message("Aviso ao sair", host::MsgType::Warning, host::MsgButton::Ok,
                                f.window.get());
    });
    QVERIFY(f.showWithFocusIn(f.ed1a));
    f.ed2->setFocus();
    QVERIFY(boxSeen);
    QCOMPARE(f.log, QStringList({"exit ed1a", "exit pan1", "enter pan2", "enter ed2"}));

    // Focus returns to the form from the box; nothing more fires, now or after.
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTRY_VERIFY(f.ed2->hasFocus());
    QTest::qWait(20);
    QCOMPARE(f.log.size(), 4);
}

void TestFocusEvents::dialogOpenedFromTheFormRunsItsOwnHandlersOnly() {
    Form f;
    QVERIFY(f.showWithFocusIn(f.ed1a));

    QDialog dialog(f.window.get());
    auto* da = new QLineEdit(&dialog);
    auto* db = new QLineEdit(&dialog);
    auto* l = new QVBoxLayout(&dialog);
    l->addWidget(da);
    l->addWidget(db);
    FocusEvents::setExit(da, [&] { f.log << "exit da"; });
    FocusEvents::setEnter(db, [&] { f.log << "enter db"; });
    da->setFocus();

    host::test::ModalAction work([&](QWidget* modal) {
        QTRY_VERIFY(da->hasFocus());
        db->setFocus();
        QTRY_VERIFY(db->hasFocus());
        static_cast<QDialog*>(modal)->accept();
    });
    dialog.exec();
    QVERIFY(work.done());
    QCOMPARE(f.log, QStringList({"exit da", "enter db"}));

    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTRY_VERIFY(f.ed1a->hasFocus());
    QCOMPARE(f.log, QStringList({"exit da", "enter db"}));
}

void TestFocusEvents::explicitExitCheckRunsTheChainWithoutMovingFocus() {
    Form f;
    QVERIFY(f.showWithFocusIn(f.ed1a));
    QVERIFY(FocusEvents::checkExit());
    QCOMPARE(f.log, QStringList({"exit ed1a", "exit pan1"}));
    QVERIFY(f.ed1a->hasFocus());

    f.log.clear();
    QVERIFY(FocusEvents::checkExit(nullptr, f.pan1));
    QCOMPARE(f.log, QStringList({"exit ed1a"}));

    host::test::ScriptedDialogs dlg;
    dlg.expectError("Inválido.");
    FocusEvents::setExit(f.ed1a, [&] {
        f.log << "exit ed1a";
        host::Consiste::MensErro("Inválido.");
    });
    f.log.clear();
    QVERIFY(!FocusEvents::checkExit());
    QCOMPARE(f.log, QStringList({"exit ed1a"}));
    QVERIFY(f.ed1a->hasFocus());
    QVERIFY_DIALOGS(dlg);

    // A check does not disturb the tracking of the next real move.
    FocusEvents::setExit(f.ed1a, {});
    f.log.clear();
    f.ed2->setFocus();
    QCOMPARE(f.log, QStringList({"exit pan1", "enter pan2", "enter ed2"}));
}

void TestFocusEvents::destroyedControlCountsAsItsPanelWhenFocusMovesOn() {
    Form f;
    QVERIFY(f.showWithFocusIn(f.ed1b));
    delete f.ed1b;
    f.ed1b = nullptr;
    f.ed2->setFocus();
    QTRY_VERIFY(f.ed2->hasFocus());
    // The panel is still left, and entering pan2 does not re-enter the window's other parts.
    QVERIFY(f.log.contains("exit pan1"));
    QVERIFY(!f.log.contains("enter pan1"));
    QCOMPARE(f.log.mid(f.log.indexOf("exit pan1")),
             QStringList({"exit pan1", "enter pan2", "enter ed2"}));
}

void TestFocusEvents::handlerRemovedAndReplaced() {
    Form f;
    QVERIFY(f.showWithFocusIn(f.ed1a));
    FocusEvents::clear(f.pan1);
    FocusEvents::setEnter(f.ed2, [&] { f.log << "new enter ed2"; });
    f.ed2->setFocus();
    QCOMPARE(f.log, QStringList({"exit ed1a", "enter pan2", "new enter ed2"}));

    // A handler that destroys the control being left does not break the move.
    FocusEvents::setExit(f.ed2, [&] {
        f.log << "exit ed2";
        f.ed2->deleteLater();
    });
    f.log.clear();
    f.ed1a->setFocus();
    QCOMPARE(f.log, QStringList({"exit ed2", "exit pan2", "enter ed1a"}));
    QTest::qWait(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    f.ed1b->setFocus();
    QCOMPARE(f.log.last(), QString("enter ed1b"));
}

void TestFocusEvents::switchingMdiChildrenLeavesNeitherForm() {
    // The forms' logs outlive the area, whose widgets call them until they are gone.
    auto formA = std::make_unique<Form>();
    auto formB = std::make_unique<Form>();
    QMdiArea area;  // owns the forms' windows as MDI children
    QMdiSubWindow* subA = area.addSubWindow(formA->window.release());
    QMdiSubWindow* subB = area.addSubWindow(formB->window.release());
    area.resize(800, 600);
    area.show();
    QVERIFY(QTest::qWaitForWindowActive(&area));
    QCOMPARE(FocusEvents::scopeOf(formA->ed1a), subA);

    area.setActiveSubWindow(subA);
    formA->ed1a->setFocus();
    QTRY_VERIFY(formA->ed1a->hasFocus());
    formA->log.clear();
    formB->log.clear();

    area.setActiveSubWindow(subB);
    formB->ed2->setFocus();
    QTRY_VERIFY(formB->ed2->hasFocus());
    QVERIFY(formA->log.isEmpty());  // form A was not left: its panel still holds its focus

    area.setActiveSubWindow(subA);
    QTRY_VERIFY(formA->ed1a->hasFocus());
    QVERIFY(formA->log.isEmpty());
    QVERIFY(!formB->log.contains("exit pan2"));

    formA->ed2->setFocus();
    QCOMPARE(formA->log, QStringList({"exit ed1a", "exit pan1", "enter pan2", "enter ed2"}));
}

QTEST_MAIN(TestFocusEvents)
#include "tst_focusevents.moc"

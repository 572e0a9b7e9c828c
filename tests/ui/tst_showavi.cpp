#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "core/hosterror.h"
#include "support/scripteddialogs.h"
#include "ui/consiste.h"
#include "ui/dialogs.h"
#include "ui/handler.h"
#include "ui/showavi.h"

using namespace host;

class TestShowavi : public QObject {
    Q_OBJECT

  private slots:
    void cleanup();
    void showsOverTheFormAndHides();
    void nestedShowsKeepTheWindowUntilTheLastHide();
    void blocksInputToTheFormWhileShown();
    void guardHidesWhenTheOperationStops();
    void unmatchedHideChangesNothing();
    void errorShownWhileBusySetsTheBusyWindowAside();
};

void TestShowavi::cleanup() {
    while (Showavi::Level() > 0) {
        Showavi::DeactiveShowAvi();
    }
}

void TestShowavi::showsOverTheFormAndHides() {
    QWidget form;
    form.resize(600, 400);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    Showavi::ActiveShowAvi(&form, Showavi::kConsultando);
    QWidget* busy = Showavi::Window();
    QVERIFY(busy);
    QVERIFY(busy->isVisible());
    QCOMPARE(busy->parentWidget(), &form);
    QCOMPARE(busy->windowModality(), Qt::ApplicationModal);
    QCOMPARE(busy->findChild<QLabel*>()->text(), QString("Consultando..."));
    QCOMPARE(QApplication::activeModalWidget(), busy);
    QPointer<QWidget> watch(busy);
    Showavi::DeactiveShowAvi();
    QVERIFY(!watch);
    QVERIFY(!Showavi::Window());
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    Showavi::ActiveShowAvi(&form, Showavi::kProcessando, "Gerando XML");
    QCOMPARE(Showavi::Window()->findChild<QLabel*>()->text(), QString("Gerando XML"));
    Showavi::DeactiveShowAvi();
    QCOMPARE(Showavi::CaptionOf(1), QString("Processando..."));
    QCOMPARE(Showavi::CaptionOf(99), QString("Aguarde..."));
}

void TestShowavi::nestedShowsKeepTheWindowUntilTheLastHide() {
    QWidget form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    {
        ShowAviGuard outer(&form, Showavi::kProcessando);
        QWidget* busy = Showavi::Window();
        {
            ShowAviGuard inner(&form, Showavi::kConsultando, "Realizando o download dos XMLs");
            QCOMPARE(Showavi::Level(), 2);
            QCOMPARE(Showavi::Window(), busy);  // one window, its text changed
            QCOMPARE(busy->findChild<QLabel*>()->text(), QString("Realizando o download dos XMLs"));
        }
        QCOMPARE(Showavi::Level(), 1);
        QVERIFY(Showavi::Window() && Showavi::Window()->isVisible());
    }
    QCOMPARE(Showavi::Level(), 0);
    QVERIFY(!Showavi::Window());
}

void TestShowavi::blocksInputToTheFormWhileShown() {
    QWidget form;
    auto* button = new QPushButton("Verificar", &form);
    (new QVBoxLayout(&form))->addWidget(button);
    form.resize(300, 200);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QSignalSpy clicked(button, &QPushButton::clicked);
    // Clicks through the window system, as the user's are, so that modality applies.
    const QPoint at = button->mapTo(&form, button->rect().center());
    auto click = [&] { QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, at); };

    {
        ShowAviGuard busy(&form, Showavi::kConsultando);
        QTest::qWait(20);  // the screen keeps painting; the loop turns freely
        QCOMPARE(QApplication::activeModalWidget(), Showavi::Window());
        click();
        QCOMPARE(clicked.count(), 0);
    }
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    click();
    QCOMPARE(clicked.count(), 1);
}

void TestShowavi::guardHidesWhenTheOperationStops() {
    test::ScriptedDialogs dlg;
    dlg.expectError("Erro na consulta.");
    bool wasUp = false;
    runHandler(nullptr, [&] {
        ShowAviGuard busy(nullptr, Showavi::kConsultando);
        wasUp = Showavi::Window() != nullptr;
        throw ENetError("Erro na consulta.");
    });
    QVERIFY(wasUp);
    QCOMPARE(Showavi::Level(), 0);
    QVERIFY(!Showavi::Window());
    QVERIFY_DIALOGS(dlg);
}

void TestShowavi::unmatchedHideChangesNothing() {
    Showavi::DeactiveShowAvi();
    QCOMPARE(Showavi::Level(), 0);
    Showavi::ActiveShowAvi(nullptr, 1);
    QCOMPARE(Showavi::Level(), 1);
    Showavi::DeactiveShowAvi();
    Showavi::DeactiveShowAvi();
    QCOMPARE(Showavi::Level(), 0);
    QVERIFY(!Showavi::Window());
}

void TestShowavi::errorShownWhileBusySetsTheBusyWindowAside() {
    QWidget form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ShowAviGuard busy(&form, Showavi::kProcessando);
    bool busyVisibleDuringBox = true;
    bool boxIsTheModal = false;
    test::ModalAction ok([&](QWidget* modal) {
        busyVisibleDuringBox = Showavi::Window()->isVisible();
        boxIsTheModal = qobject_cast<QMessageBox*>(modal) != nullptr;
        modal->close();
    });
    dialogs().error("Erro ao gerar o XML.", &form);
    QVERIFY(boxIsTheModal);
    QVERIFY(!busyVisibleDuringBox);
    QVERIFY(Showavi::Window()->isVisible());  // back until its guard ends
}

QTEST_MAIN(TestShowavi)
#include "tst_showavi.moc"

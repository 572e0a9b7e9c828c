#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <memory>

#include "core/clientdataset.h"
#include "support/scripteddialogs.h"
#include "ui/dialogs.h"
#include "ui/handler.h"
#include "ui/pesqlista.h"
#include "ui/picklistdialog.h"

using namespace host;

namespace {

const QString kTitles = "Tipo de Operação|Tipo de Operação não cadastrado.";

// The operation types of a direction, as the filter's query lists them.
struct Operations {
    TClientDataSet ds;
    TDataSource source;

    explicit Operations(const QList<QPair<QString, QString>>& rows) {
        ds.AddField({"CDTIPOOPER", FieldType::String, 2, false}).SetDisplayLabel("Código");
        ds.AddField({"NMTIPOOPER", FieldType::String, 40, false}).SetDisplayLabel("Nome");
        ds.AddField({"IDENTRSAIDOP", FieldType::String, 1, false});
        ds.CreateDataSet();
        for (const auto& [code, name] : rows) {
            ds.Append();
            ds.FieldByName("CDTIPOOPER").SetAsString(code);
            ds.FieldByName("NMTIPOOPER").SetAsString(name);
            ds.Post();
        }
        ds.First();
        source.SetDataSet(&ds);
    }
};

QList<QPair<QString, QString>> sampleRows() {
    return {{"01", "Compra para comercialização"},
            {"05", "Devolução de venda"},
            {"12", "Transferência"},
            {"20", "Remessa para conserto"}};
}

}  // namespace

class TestPesqlista : public QObject {
    Q_OBJECT

  private slots:
    void chosenKeysComeBackJoinedInListOrder();
    void previousChoiceIsPreselected();
    void cancelLeavesResultUnchanged();
    void emptyListShowsItsTextAndLeavesResult();
    void singleChoiceGivesOneKey();
    void missingSourceOrFieldIsAClearError();

    void pickListDialogShowsVisibleFieldsAndJumpsOnTyping();
    void pickListDialogMultipleChoice();
    void defaultListWindowGivesTheUsersChoice();
};

void TestPesqlista::chosenKeysComeBackJoinedInListOrder() {
    Operations ops(sampleRows());
    test::ScriptedDialogs dlg;
    dlg.setNextPick({3, 0, 1});  // in any order: the list order counts
    QString result = "";
    QVERIFY(Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", kTitles, false, result));
    QCOMPARE(result, QString("01,05,20"));

    const PickRequest& req = dlg.calls().at(0).pick;
    QCOMPARE(req.title, QString("Tipo de Operação"));
    QVERIFY(req.multiple);
    QCOMPARE(req.keyField, QString("CDTIPOOPER"));
    QCOMPARE(req.source, &ops.ds);
    QVERIFY_DIALOGS(dlg);
}

void TestPesqlista::previousChoiceIsPreselected() {
    Operations ops(sampleRows());
    test::ScriptedDialogs dlg;
    dlg.setNextPick({2});
    QString result = "05, 12,99";  // 99 is no longer listed
    QVERIFY(Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", kTitles, false, result));
    QCOMPARE(dlg.calls().at(0).pick.preselected, QList<int>({1, 2}));
    QCOMPARE(result, QString("12"));

    // "All" is not a list of codes: nothing is preselected.
    result = "T";
    dlg.setNextPick({0});
    QVERIFY(Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", kTitles, false, result));
    QVERIFY(dlg.calls().at(1).pick.preselected.isEmpty());
    QCOMPARE(result, QString("01"));
    QVERIFY_DIALOGS(dlg);
}

void TestPesqlista::cancelLeavesResultUnchanged() {
    Operations ops(sampleRows());
    test::ScriptedDialogs dlg;
    dlg.setNextPick({});
    QString result = "05,12";
    QVERIFY(!Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", kTitles, false, result));
    QCOMPARE(result, QString("05,12"));
    QVERIFY_DIALOGS(dlg);
}

void TestPesqlista::emptyListShowsItsTextAndLeavesResult() {
    Operations ops({});
    test::ScriptedDialogs dlg;
    dlg.expectMessage("Tipo de Operação não cadastrado.", MsgType::Warning, MsgButton::Ok);
    QString result = "";
    QVERIFY(!Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", kTitles, false, result));
    QCOMPARE(result, QString(""));
    QVERIFY_DIALOGS(dlg);

    // A closed data set is an empty list too; without a bar the title is the whole text.
    ops.ds.Close();
    dlg.expectMessage("Não há registros para seleção.", MsgType::Warning, MsgButton::Ok);
    result = "T";
    QVERIFY(!Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", "Operações", false, result));
    QCOMPARE(result, QString("T"));
    QVERIFY_DIALOGS(dlg);
}

void TestPesqlista::singleChoiceGivesOneKey() {
    Operations ops(sampleRows());
    test::ScriptedDialogs dlg;
    dlg.setNextPick({2});
    QString result = "20";
    QVERIFY(Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", kTitles, true, result));
    QCOMPARE(result, QString("12"));
    QVERIFY(!dlg.calls().at(0).pick.multiple);
    QCOMPARE(dlg.calls().at(0).pick.preselected, QList<int>({3}));
    QVERIFY_DIALOGS(dlg);
}

void TestPesqlista::missingSourceOrFieldIsAClearError() {
    Operations ops(sampleRows());
    QString result = "01";
    QVERIFY_THROWS_EXCEPTION(
        EHostError, Pesqlista::PesquisaLista(nullptr, "CDTIPOOPER", kTitles, false, result));
    TDataSource empty;
    QVERIFY_THROWS_EXCEPTION(
        EHostError, Pesqlista::PesquisaLista(&empty, "CDTIPOOPER", kTitles, false, result));
    QVERIFY_THROWS_EXCEPTION(
        EHostError, Pesqlista::PesquisaLista(&ops.source, "CDNADA", kTitles, false, result));
    QCOMPARE(result, QString("01"));
}

void TestPesqlista::pickListDialogShowsVisibleFieldsAndJumpsOnTyping() {
    Operations ops(sampleRows());
    ops.ds.FieldByName("IDENTRSAIDOP").SetVisible(false);
    PickRequest req;
    req.title = "Tipo de Operação";
    req.source = &ops.ds;
    req.keyField = "CDTIPOOPER";
    PickListDialog dlg(req);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QString("Tipo de Operação"));
    QCOMPARE(dlg.model()->rowCount(), 4);
    QCOMPARE(dlg.model()->columnCount(), 2);  // the hidden field is not offered
    QCOMPARE(dlg.model()->headerData(0, Qt::Horizontal).toString(), QString("Código"));
    QCOMPARE(dlg.model()->headerData(1, Qt::Horizontal).toString(), QString("Nome"));
    QCOMPARE(dlg.model()->index(2, 1).data().toString(), QString("Transferência"));

    QTest::keyClicks(dlg.searchEdit(), "1");
    QCOMPARE(dlg.view()->currentIndex().row(), 2);
    QCOMPARE(dlg.chosenRows(), QList<int>({2}));
    QTest::keyClick(dlg.searchEdit(), Qt::Key_Backspace);
    QTest::keyClicks(dlg.searchEdit(), "2");
    QCOMPARE(dlg.chosenRows(), QList<int>({3}));
    QTest::keyClicks(dlg.searchEdit(), "9");  // "29": no such code, the row stays
    QCOMPARE(dlg.chosenRows(), QList<int>({3}));
    QTest::keyClick(dlg.searchEdit(), Qt::Key_Up);
    QCOMPARE(dlg.chosenRows(), QList<int>({2}));
}

void TestPesqlista::pickListDialogMultipleChoice() {
    Operations ops(sampleRows());
    PickRequest req;
    req.source = &ops.ds;
    req.keyField = "CDTIPOOPER";
    req.columns = QStringList{"NMTIPOOPER"};
    req.multiple = true;
    req.preselected = {1, 3};
    PickListDialog dlg(req);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.model()->columnCount(), 1);
    QCOMPARE(dlg.chosenRows(), QList<int>({1, 3}));

    // A click toggles a row without touching the others.
    QTableView* view = dlg.view();
    const QRect row0 = view->visualRect(dlg.model()->index(0, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row0.center());
    QCOMPARE(dlg.chosenRows(), QList<int>({0, 1, 3}));
    const QRect row3 = view->visualRect(dlg.model()->index(3, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row3.center());
    QCOMPARE(dlg.chosenRows(), QList<int>({0, 1}));

    // Typing moves without choosing.
    QTest::keyClicks(dlg.searchEdit(), "2");
    QCOMPARE(view->currentIndex().row(), 3);
    QCOMPARE(dlg.chosenRows(), QList<int>({0, 1}));
}

void TestPesqlista::defaultListWindowGivesTheUsersChoice() {
    QVERIFY(installedDialogs() == nullptr);
    Operations ops(sampleRows());
    QString title;
    test::ModalAction choose([&](QWidget* modal) {
        auto* list = qobject_cast<PickListDialog*>(modal);
        QVERIFY(list);
        title = list->windowTitle();
        QCOMPARE(list->chosenRows(), QList<int>({0}));  // the previous choice
        list->view()->selectionModel()->select(
            list->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(list->searchEdit(), Qt::Key_Return);  // OK is the default button
    });
    QString result = "01";
    QVERIFY(Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", kTitles, false, result));
    QCOMPARE(title, QString("Tipo de Operação"));
    QCOMPARE(result, QString("01,12"));

    test::ModalAction cancel([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    QVERIFY(!Pesqlista::PesquisaLista(&ops.source, "CDTIPOOPER", kTitles, false, result));
    QCOMPARE(result, QString("01,12"));
}

QTEST_MAIN(TestPesqlista)
#include "tst_pesqlista.moc"

// The base forms every screen of the suite derives from: their named components, the standard
// commands and menus, closing, and the dialogs' confirm / cancel roads.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

#include "core/clientdataset.h"
#include "core/messages.h"
#include "forms/frmfiltropadrao.h"
#include "forms/frmpadraogrid.h"
#include "forms/frmrotigeral.h"
#include "forms/mdihost.h"
#include "support/scripteddialogs.h"
#include "ui/buttonflat.h"
#include "ui/dbgrid.h"
#include "ui/dbnavigator.h"

using namespace host;

namespace {

// A screen that records which of its handlers ran, and can refuse to close.
class RecordingGrid : public TfrmPadraoGrid {
  public:
    QStringList ran;
    TCloseAction closeAction = TCloseAction::caFree;
    QList<int> keys;
    int consumeKey = 0;

  protected:
    void FormClose(TCloseAction& action) override {
        TfrmPadraoGrid::FormClose(action);
        ran << QStringLiteral("FormClose");
        action = closeAction;
    }
    void FormKeyDown(int& key, Qt::KeyboardModifiers shift) override {
        TfrmPadraoGrid::FormKeyDown(key, shift);
        keys << key;
        if (key == consumeKey) {
            key = 0;
        }
    }
    void sbtIncluirClick() override { ran << QStringLiteral("sbtIncluir"); }
    void sbtAlterarClick() override { ran << QStringLiteral("sbtAlterar"); }
    void sbtExcluirClick() override { ran << QStringLiteral("sbtExcluir"); }
    void sbtProcurarClick() override { ran << QStringLiteral("sbtProcurar"); }
    void sbtOrdenarClick() override { ran << QStringLiteral("sbtOrdenar"); }
    void sbtVerificarClick() override {
        ran << QStringLiteral("sbtVerificar");
        throw EHostError(QStringLiteral("Servidor fora do ar."));
    }
    void sbtCancelarClick() override { ran << QStringLiteral("sbtCancelar"); }
    void sbtConfirmarClick() override { ran << QStringLiteral("sbtConfirmar"); }
    void sbtImprimirClick() override { ran << QStringLiteral("sbtImprimir"); }
    void sbtFecharClick() override {
        ran << QStringLiteral("sbtFechar");
        TfrmPadraoGrid::sbtFecharClick();
    }
};

class RecordingFilter : public TfrmFiltroPadrao {
  public:
    QStringList ran;

  protected:
    void sbtCancelClick() override {
        ran << QStringLiteral("sbtCancelClick");
        TfrmFiltroPadrao::sbtCancelClick();
    }
    void FormClose(TCloseAction& action) override {
        TfrmFiltroPadrao::FormClose(action);
        ran << QStringLiteral("FormClose");
    }
};

class RecordingRoutine : public TfrmRotiGeral {
  public:
    TCloseAction closeAction = TCloseAction::caHide;

  protected:
    void FormClose(TCloseAction& action) override {
        TfrmRotiGeral::FormClose(action);
        action = closeAction;
    }
};

// A list of three rows with a code and a name.
void fillList(TClientDataSet& ds) {
    ds.AddField({QStringLiteral("CODIGO"), FieldType::String, 4, false});
    ds.AddField({QStringLiteral("NOME"), FieldType::String, 30, false});
    ds.CreateDataSet();
    for (const auto& [code, name] :
         {std::pair{"0003", "Gama"}, std::pair{"0001", "Alfa"}, std::pair{"0002", "Beta"}}) {
        ds.Append();
        ds.FieldByName(QStringLiteral("CODIGO")).SetAsString(QString::fromLatin1(code));
        ds.FieldByName(QStringLiteral("NOME")).SetAsString(QString::fromLatin1(name));
        ds.Post();
    }
    ds.First();
}

}  // namespace

class TestBaseForms : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
    void cleanup() { MdiHost::setArea(nullptr); }

    void gridScreenHasItsComponents() {
        TfrmPadraoGrid form;
        form.resize(1040, 572);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        auto* panMenu = form.findChild<QFrame*>(QStringLiteral("panMenu"));
        QVERIFY(panMenu);
        QCOMPARE(panMenu->height(), 28);
        const struct {
            const char* name;
            int left;
            const char* hint;
        } buttons[] = {
            {"sbtIncluir", 1, "Incluir"},     {"sbtAlterar", 22, "Alterar"},
            {"sbtExcluir", 43, "Excluir"},    {"sbtProcurar", 64, "Procurar"},
            {"sbtOrdenar", 85, "Ordenar"},    {"sbtVerificar", 106, "Verificar"},
            {"sbtCancelar", 127, "Cancelar"}, {"sbtConfirmar", 148, "Confirmar"},
            {"sbtImprimir", 424, "Imprimir"}, {"sbtFechar", 460, "Fechar"},
            {"sbtAjuda", 496, "Ajuda"},
        };
        for (const auto& b : buttons) {
            auto* button = panMenu->findChild<TButtonFlat*>(QLatin1String(b.name));
            QVERIFY2(button, b.name);
            QCOMPARE(button->geometry(), QRect(b.left, button->y(), 21, 21));
            QVERIFY(button->y() + 21 <= 28);
            QCOMPARE(button->toolTip(), QString::fromUtf8(b.hint));
            QVERIFY2(!button->icon().isNull(), b.name);
        }

        auto* menu = form.findChild<QMenu*>(QStringLiteral("mnuManutencao"));
        QVERIFY(menu);
        QVERIFY(form.findChild<QMenuBar*>()->actions().contains(menu->menuAction()));
        for (const char* item :
             {"mnuIncluir", "mnuAlterar", "mnuExcluir", "mnuProcurar", "mnuOrdenar", "mnuVerificar",
              "mnuCancelar", "mnuConfirmar", "mnuListagem", "mnuFechar"}) {
            auto* action = form.findChild<QAction*>(QLatin1String(item));
            QVERIFY2(action, item);
            QVERIFY2(menu->actions().contains(action), item);
        }

        auto* pages = form.findChild<QTabWidget*>(QStringLiteral("pgcPadrao"));
        QVERIFY(pages);
        auto* sheet = form.findChild<QWidget*>(QStringLiteral("tshPadrao"));
        QVERIFY(sheet);
        QCOMPARE(pages->indexOf(sheet), 0);
        auto* grid = sheet->findChild<TDBGrid*>(QStringLiteral("dbgPadrao"));
        QVERIFY(grid);
        auto* source = form.findChild<TDataSource*>(QStringLiteral("dtsPadrao"));
        QVERIFY(source);
        QCOMPARE(grid->DataSource(), source);
        auto* navPanel = form.findChild<QFrame*>(QStringLiteral("panNavigator"));
        QVERIFY(navPanel);
        QVERIFY(navPanel->findChild<TDBNavigator*>(QStringLiteral("dbnPadrao")));
        QVERIFY(form.findChild<TMessages*>(QStringLiteral("msgPadrao")));
        QVERIFY(form.findChild<QLabel*>(QStringLiteral("lblCodTela")));
    }

    void menuItemsMirrorButtons_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("handler");
        QTest::newRow("incluir") << "mnuIncluir"
                                 << "sbtIncluir";
        QTest::newRow("alterar") << "mnuAlterar"
                                 << "sbtAlterar";
        QTest::newRow("excluir") << "mnuExcluir"
                                 << "sbtExcluir";
        QTest::newRow("procurar") << "mnuProcurar"
                                  << "sbtProcurar";
        QTest::newRow("ordenar") << "mnuOrdenar"
                                 << "sbtOrdenar";
        QTest::newRow("cancelar") << "mnuCancelar"
                                  << "sbtCancelar";
        QTest::newRow("confirmar") << "mnuConfirmar"
                                   << "sbtConfirmar";
        QTest::newRow("listagem") << "mnuListagem"
                                  << "sbtImprimir";
    }
    void menuItemsMirrorButtons() {
        QFETCH(QString, item);
        QFETCH(QString, handler);
        RecordingGrid form;
        auto* action = form.findChild<QAction*>(item);
        auto* button = form.findChild<TButtonFlat*>(handler);
        QVERIFY(action && button);
        button->setEnabled(true);
        action->setEnabled(true);
        action->trigger();
        QCOMPARE(form.ran, QStringList{handler});
        button->click();
        QCOMPARE(form.ran, (QStringList{handler, handler}));
        // A disabled command does not run from its menu item either.
        button->setEnabled(false);
        action->trigger();
        QCOMPARE(form.ran.size(), 2);
    }

    void failingHandlerShowsItsMessageAndGoesOn() {
        test::ScriptedDialogs dlg;
        dlg.expectError(QStringLiteral("Servidor fora do ar."));
        RecordingGrid form;
        form.sbtVerificar->setEnabled(true);
        form.mnuVerificar->setEnabled(true);
        form.mnuVerificar->trigger();
        QCOMPARE(form.ran, QStringList{QStringLiteral("sbtVerificar")});
        QVERIFY_DIALOGS(dlg);
    }

    void standardCommandsFollowTheListState() {
        test::ScriptedDialogs dlg;
        TfrmPadraoGrid form;
        TClientDataSet list;
        form.dtsPadrao->SetDataSet(&list);
        form.DoCreate();
        // Nothing open: nothing to include, alter or confirm.
        QVERIFY(!form.sbtIncluir->isEnabled());
        QVERIFY(!form.sbtAlterar->isEnabled());
        QVERIFY(!form.sbtConfirmar->isEnabled());

        fillList(list);
        QVERIFY(form.sbtIncluir->isEnabled());
        QVERIFY(form.sbtAlterar->isEnabled() && form.mnuAlterar->isEnabled());
        QVERIFY(form.sbtImprimir->isEnabled() && form.mnuListagem->isEnabled());
        QVERIFY(!form.sbtConfirmar->isEnabled() && !form.mnuConfirmar->isEnabled());

        form.sbtAlterar->click();
        QCOMPARE(list.State(), DataSetState::Edit);
        QVERIFY(form.sbtConfirmar->isEnabled() && form.sbtCancelar->isEnabled());
        QVERIFY(!form.sbtIncluir->isEnabled() && !form.mnuExcluir->isEnabled());
        list.FieldByName(QStringLiteral("NOME")).SetAsString(QStringLiteral("Delta"));
        form.sbtCancelar->click();
        QCOMPARE(list.State(), DataSetState::Browse);
        QCOMPARE(list.FieldByName(QStringLiteral("NOME")).AsString(), QStringLiteral("Gama"));

        form.sbtIncluir->click();
        QCOMPARE(list.State(), DataSetState::Insert);
        list.FieldByName(QStringLiteral("CODIGO")).SetAsString(QStringLiteral("0004"));
        form.mnuConfirmar->trigger();
        QCOMPARE(list.State(), DataSetState::Browse);
        QCOMPARE(list.RecordCount(), 4);

        // Deleting asks first; only Yes deletes.
        dlg.expectMessage(QStringLiteral("Confirma exclusão?"), MsgButton::No);
        form.sbtExcluir->click();
        QCOMPARE(list.RecordCount(), 4);
        dlg.expectMessage(QStringLiteral("Confirma exclusão?"), MsgButton::Yes);
        form.sbtExcluir->click();
        QCOMPARE(list.RecordCount(), 3);

        // Sorting orders the list by the grid's current column.
        form.dbgPadrao->Columns().Add(QStringLiteral("CODIGO"));
        form.dbgPadrao->Columns().Add(QStringLiteral("NOME"));
        form.dbgPadrao->SetSelectedIndex(1);
        form.sbtOrdenar->click();
        QCOMPARE(list.IndexFieldNames(), QStringLiteral("NOME"));
        list.First();
        QCOMPARE(list.FieldByName(QStringLiteral("NOME")).AsString(), QStringLiteral("Alfa"));

        // Searching goes to the row picked in the list.
        dlg.setNextPick({2});
        form.sbtProcurar->click();
        QCOMPARE(list.RecNo(), 3);
        QVERIFY_DIALOGS(dlg);
    }

    void closingTheScreenDestroysItAndAnnouncesIt() {
        QMdiArea area;
        area.resize(800, 600);
        area.show();
        MdiHost::setArea(&area);

        for (const char* how : {"button", "menu", "sub-window"}) {
            auto* form = CreateForm<RecordingGrid>();
            QSignalSpy destroying(form, &TfrmPadraoGrid::formDestroying);
            form->ShowForm();
            QPointer<QMdiSubWindow> sub = MdiHost::subWindowOf(form);
            QVERIFY2(sub, how);
            QVERIFY(sub->isMaximized());
            if (qstrcmp(how, "button") == 0) {
                // Restored, the screen has the size it was designed with.
                sub->showNormal();
                QCOMPARE(form->size(), QSize(1040, 572));
            }
            QPointer<TfrmPadraoGrid> alive(form);
            if (qstrcmp(how, "button") == 0) {
                form->sbtFechar->click();
            } else if (qstrcmp(how, "menu") == 0) {
                form->mnuFechar->trigger();
            } else {
                sub->close();
            }
            QTRY_VERIFY2(!alive, how);
            QTRY_VERIFY2(!sub, how);
            QCOMPARE(destroying.count(), 1);
            QCOMPARE(destroying.first().first().value<TfrmPadraoGrid*>(), form);
        }
        QVERIFY(area.subWindowList().isEmpty());
    }

    void screenWithoutTheHostAreaIsAWindowOfItsOwn() {
        auto* form = CreateForm<RecordingGrid>();
        QSignalSpy destroying(form, &TfrmPadraoGrid::formDestroying);
        QPointer<TfrmPadraoGrid> alive(form);
        form->ShowForm();
        QVERIFY(form->isWindow() && form->isVisible());
        QVERIFY(!MdiHost::subWindowOf(form));
        // A screen that only hides is kept for the next showing.
        form->closeAction = TCloseAction::caHide;
        form->sbtFechar->click();
        QTest::qWait(20);
        QVERIFY(alive && !form->isVisible());
        QCOMPARE(destroying.count(), 0);
        form->ShowForm();
        QVERIFY(form->isVisible());
        form->closeAction = TCloseAction::caFree;
        form->sbtFechar->click();
        QTRY_VERIFY(!alive);
        QCOMPARE(destroying.count(), 1);
    }

    void screenThatRefusesToCloseStays() {
        QMdiArea area;
        area.show();
        MdiHost::setArea(&area);
        auto* form = CreateForm<RecordingGrid>();
        form->closeAction = TCloseAction::caNone;
        QSignalSpy destroying(form, &TfrmPadraoGrid::formDestroying);
        form->ShowForm();
        QPointer<TfrmPadraoGrid> alive(form);
        form->sbtFechar->click();
        QTest::qWait(20);
        QVERIFY(alive);
        QVERIFY(MdiHost::subWindowOf(form)->isVisible());
        QCOMPARE(destroying.count(), 0);
        QVERIFY(form->ran.contains(QStringLiteral("FormClose")));
        form->closeAction = TCloseAction::caFree;
        form->CloseForm();
        QTRY_VERIFY(!alive);
        QCOMPARE(destroying.count(), 1);
    }

    void keyPreviewSeesKeysBeforeTheControls() {
        RecordingGrid form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        int gridKeys = 0;
        form.dbgPadrao->OnKeyDown = [&](int&, Qt::KeyboardModifiers) { ++gridKeys; };
        form.consumeKey = Qt::Key_F5;
        QTest::keyClick(form.dbgPadrao, Qt::Key_F5);
        QCOMPARE(form.keys, QList<int>{Qt::Key_F5});
        QCOMPARE(gridKeys, 0);
        QTest::keyClick(form.dbgPadrao, Qt::Key_F6);
        QCOMPARE(form.keys, (QList<int>{Qt::Key_F5, Qt::Key_F6}));
        QCOMPARE(gridKeys, 1);
        form.SetKeyPreview(false);
        QTest::keyClick(form.dbgPadrao, Qt::Key_F5);
        QCOMPARE(form.keys.size(), 2);
        QCOMPARE(gridKeys, 2);
    }

    void filterDialogHasItsComponents() {
        TfrmFiltroPadrao dlg;
        auto* frame = dlg.findChild<QGroupBox*>(QStringLiteral("grbFiltroPadrao"));
        auto* column = dlg.findChild<QFrame*>(QStringLiteral("panMenu"));
        QVERIFY(frame && column);
        const struct {
            const char* name;
            const char* text;
        } buttons[] = {
            {"sbtConfirma", "Confirmar"}, {"sbtCancel", "Cancelar"}, {"sbtHelp", "Ajuda"}};
        for (const auto& b : buttons) {
            auto* button = column->findChild<TButtonFlat*>(QLatin1String(b.name));
            QVERIFY2(button, b.name);
            QCOMPARE(button->text(), QString::fromUtf8(b.text));
        }
        QVERIFY(dlg.findChild<QLabel*>(QStringLiteral("lblCodTela")));
        QVERIFY(dlg.findChild<TMessages*>(QStringLiteral("msgPadrao")));
        auto* panBotao = dlg.findChild<QFrame*>(QStringLiteral("panBotao"));
        QVERIFY(panBotao);
        QVERIFY(panBotao->findChild<TButtonFlat*>(QStringLiteral("btfSaveOpc")));
        QVERIFY(panBotao->findChild<TButtonFlat*>(QStringLiteral("btfLoadOpc")));
        QVERIFY(dlg.findChild<QMenu*>(QStringLiteral("ppmOpcoes")));
        QVERIFY(dlg.findChild<QMenu*>(QStringLiteral("PopupMenu1")));
        QVERIFY(dlg.findChild<TClientDataSet*>(QStringLiteral("cdsCarregaOpcoes")));
        // Criteria on the left, 609 wide, the button column from there to the edge.
        dlg.layout()->activate();
        QCOMPARE(dlg.size(), QSize(664, 467));
        QCOMPARE(column->geometry().left(), 609);
        QCOMPARE(frame->geometry(), QRect(0, 0, 609, 467));
    }

    void escapeCancelsTheFilter() {
        RecordingFilter dlg;
        auto* edit = new QLineEdit(dlg.grbFiltroPadrao);
        edit->setObjectName(QStringLiteral("edtCodigo"));
        int result = -1;
        QTimer::singleShot(0, &dlg, [&] {
            edit->setText(QStringLiteral("123"));
            QTest::keyClick(edit, Qt::Key_Escape);
        });
        result = dlg.ShowModal();
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(dlg.ran,
                 (QStringList{QStringLiteral("sbtCancelClick"), QStringLiteral("FormClose")}));
        QVERIFY(!dlg.isVisible());
        // Hidden, not destroyed: the criteria wait for the next showing.
        QCOMPARE(edit->text(), QStringLiteral("123"));
    }

    void filterConfirmAndCloseRoads() {
        RecordingFilter dlg;
        QTimer::singleShot(0, &dlg, [&] { dlg.sbtConfirma->click(); });
        QCOMPARE(dlg.ShowModal(), int(QDialog::Accepted));
        QCOMPARE(dlg.ran, QStringList{QStringLiteral("FormClose")});

        // The window's close button reaches FormClose but not the Cancel handler.
        dlg.ran.clear();
        QTimer::singleShot(0, &dlg, [&] { dlg.close(); });
        QCOMPARE(dlg.ShowModal(), int(QDialog::Rejected));
        QCOMPARE(dlg.ran, QStringList{QStringLiteral("FormClose")});
    }

    void filterOptionsAreSavedAndLoadedByName() {
        TfrmFiltroPadrao dlg;
        auto* layout = new QVBoxLayout(dlg.grbFiltroPadrao);
        auto* edit = new QLineEdit(dlg.grbFiltroPadrao);
        edit->setObjectName(QStringLiteral("edtSerie"));
        auto* check = new QCheckBox(dlg.grbFiltroPadrao);
        check->setObjectName(QStringLiteral("chkTodas"));
        auto* combo = new QComboBox(dlg.grbFiltroPadrao);
        combo->setObjectName(QStringLiteral("cboSituacao"));
        combo->addItems(
            {QStringLiteral("Todas"), QStringLiteral("Autorizadas"), QStringLiteral("Canceladas")});
        auto* r1 = new QRadioButton(dlg.grbFiltroPadrao);
        r1->setObjectName(QStringLiteral("rbtTodos"));
        auto* r2 = new QRadioButton(dlg.grbFiltroPadrao);
        r2->setObjectName(QStringLiteral("rbtLista"));
        for (QWidget* w : std::initializer_list<QWidget*>{edit, check, combo, r1, r2}) {
            layout->addWidget(w);
        }

        edit->setText(QStringLiteral("001"));
        check->setChecked(true);
        combo->setCurrentIndex(2);
        r2->setChecked(true);
        dlg.SaveOptions(QStringLiteral("Canceladas da série 1"));
        edit->setText(QStringLiteral("999"));
        check->setChecked(false);
        combo->setCurrentIndex(0);
        r1->setChecked(true);
        dlg.SaveOptions(QStringLiteral("Outra"));

        QVERIFY(dlg.LoadOptions(QStringLiteral("canceladas DA SÉRIE 1")));
        QCOMPARE(edit->text(), QStringLiteral("001"));
        QVERIFY(check->isChecked());
        QCOMPARE(combo->currentIndex(), 2);
        QVERIFY(r2->isChecked() && !r1->isChecked());

        // Saving under an existing name replaces that set.
        edit->setText(QStringLiteral("002"));
        dlg.SaveOptions(QStringLiteral("Outra"));
        QCOMPARE(dlg.OptionNames(),
                 (QStringList{QStringLiteral("Canceladas da série 1"), QStringLiteral("Outra")}));
        edit->clear();
        QVERIFY(dlg.LoadOptions(QStringLiteral("Outra")));
        QCOMPARE(edit->text(), QStringLiteral("002"));

        QVERIFY(!dlg.LoadOptions(QStringLiteral("Inexistente")));
        QCOMPARE(edit->text(), QStringLiteral("002"));
        QVERIFY_EXCEPTION_THROWN(dlg.SaveOptions(QStringLiteral("  ")), EHostError);
    }

    void routineDialogRoads() {
        RecordingRoutine dlg;
        QVERIFY(dlg.findChild<QGroupBox*>(QStringLiteral("grbDadosRel")));
        QVERIFY(dlg.findChild<QLabel*>(QStringLiteral("lblCodTela")));
        QVERIFY(dlg.findChild<TMessages*>(QStringLiteral("msgPadrao")));
        auto* column = dlg.findChild<QFrame*>(QStringLiteral("panMenu"));
        QVERIFY(column);
        auto* help = column->findChild<QFrame*>(QStringLiteral("panHelp"));
        auto* buttons = column->findChild<QFrame*>(QStringLiteral("panBotoes"));
        QVERIFY(help && buttons);
        QVERIFY(help->findChild<TButtonFlat*>(QStringLiteral("sbtHelp")));
        QVERIFY(buttons->findChild<TButtonFlat*>(QStringLiteral("sbtConfirma")));

        QTimer::singleShot(0, &dlg, [&] { dlg.sbtConfirma->click(); });
        QCOMPARE(dlg.ShowModal(), int(QDialog::Accepted));
        QTimer::singleShot(0, &dlg, [&] { QTest::keyClick(&dlg, Qt::Key_Escape); });
        QCOMPARE(dlg.ShowModal(), int(QDialog::Rejected));

        // A dialog that refuses to close stays up through Escape.
        dlg.closeAction = TCloseAction::caNone;
        dlg.show();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        dlg.closeAction = TCloseAction::caHide;
        dlg.close();
        QVERIFY(!dlg.isVisible());
    }

    void routineDialogClosedForGoodIsDestroyed() {
        auto* dlg = new RecordingRoutine;
        dlg->closeAction = TCloseAction::caFree;
        QSignalSpy destroying(dlg, &TDialogPadrao::formDestroying);
        QPointer<RecordingRoutine> alive(dlg);
        QTimer::singleShot(0, dlg, [dlg] { dlg->sbtConfirma->click(); });
        QCOMPARE(dlg->ShowModal(), int(QDialog::Accepted));
        QCOMPARE(destroying.count(), 1);
        QTRY_VERIFY(!alive);
    }
};

QTEST_MAIN(TestBaseForms)
#include "tst_baseforms.moc"

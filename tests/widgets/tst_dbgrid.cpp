#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QTest>

#include "support/scripteddialogs.h"
#include "ui/dbgrid.h"
#include "widgetfixtures.h"

using host::TClientDataSet;
using host::TColumn;
using host::TDataSource;
using host::TDBGrid;

class TstDbGrid : public QObject {
    Q_OBJECT

    std::unique_ptr<TClientDataSet> ds;
    std::unique_ptr<TDataSource> src;
    std::unique_ptr<TDBGrid> grid;

    QString cell(int row, int col, int role = Qt::DisplayRole) const {
        return grid->model()->data(grid->model()->index(row, col), role).toString();
    }
    void clickRow(int row) {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(row, 0).center());
    }
    void show() {
        grid->resize(520, 300);
        grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    }

  private slots:
    void initTestCase() { widgettest::pinLocale(); }

    void init() {
        ds = widgettest::makeDataSet(widgettest::fiveRows());
        src = std::make_unique<TDataSource>();
        src->SetDataSet(ds.get());
        grid = std::make_unique<TDBGrid>();
        grid->Columns().Add(QStringLiteral("CODIGO"));
        grid->Columns().Add(QStringLiteral("NOME"), QStringLiteral("Razão Social"), 200);
        TColumn& valor = grid->Columns().Add(QStringLiteral("VALOR"));
        valor.SetAlignment(Qt::AlignRight);
        valor.SetTitleAlignment(Qt::AlignRight);
        grid->SetDataSource(src.get());
    }

    void cleanup() {
        grid.reset();
        src.reset();
        ds.reset();
    }

    void showsDisplayTextsAndTitles() {
        QCOMPARE(grid->model()->rowCount(), 5);
        QCOMPARE(grid->model()->columnCount(), 3);
        QCOMPARE(cell(0, 0), QStringLiteral("0001"));
        QCOMPARE(cell(4, 1), QStringLiteral("Épsilon"));
        QCOMPARE(cell(1, 2), QStringLiteral("1234,50"));
        QCOMPARE(cell(2, 2), ds->FieldByName(QStringLiteral("VALOR")).DisplayTextAt(2));
        auto title = [&](int c) { return grid->model()->headerData(c, Qt::Horizontal).toString(); };
        QCOMPARE(title(0), QStringLiteral("Código"));  // the field's label
        QCOMPARE(title(1), QStringLiteral("Razão Social"));
        QCOMPARE(grid->columnWidth(1), 200);
        QVERIFY(grid->columnWidth(0) > 20);
    }

    void rightAlignedColumnAndTitle() {
        const int cellAlign =
            grid->model()->data(grid->model()->index(0, 2), Qt::TextAlignmentRole).toInt();
        QVERIFY(cellAlign & Qt::AlignRight);
        const int titleAlign =
            grid->model()->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt();
        QVERIFY(titleAlign & Qt::AlignRight);
        const int codeAlign =
            grid->model()->data(grid->model()->index(0, 0), Qt::TextAlignmentRole).toInt();
        QVERIFY(codeAlign & Qt::AlignLeft);
    }

    void followsTheCursorBothWays() {
        show();
        QCOMPARE(grid->currentIndex().row(), 0);
        ds->SetRecNo(4);
        QCOMPARE(grid->currentIndex().row(), 3);
        QVERIFY(grid->selectionModel()->isRowSelected(3, QModelIndex()));
        QVERIFY(!grid->selectionModel()->isRowSelected(0, QModelIndex()));

        clickRow(1);
        QCOMPARE(ds->RecNo(), 2);
        QVERIFY(grid->selectionModel()->isRowSelected(1, QModelIndex()));

        ds->Last();
        QCOMPARE(grid->currentIndex().row(), 4);
    }

    void rowEditsReachTheGrid() {
        ds->SetRecNo(3);
        ds->Edit();
        ds->FieldByName(QStringLiteral("NOME")).SetAsString(QStringLiteral("Gama Alterada"));
        ds->Post();
        QCOMPARE(cell(2, 1), QStringLiteral("Gama Alterada"));
        ds->Append();
        ds->FieldByName(QStringLiteral("CODIGO")).SetAsString(QStringLiteral("0006"));
        ds->Post();
        QCOMPARE(grid->model()->rowCount(), 6);
    }

    void titleClickFiresAndDoesNotSort() {
        show();
        QStringList clicked;
        grid->OnTitleClick = [&](TColumn& c) { clicked << c.FieldName(); };
        QHeaderView* h = grid->horizontalHeader();
        const QPoint at(h->sectionViewportPosition(1) + 10, h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(clicked, QStringList{QStringLiteral("NOME")});
        QVERIFY(!h->isSortIndicatorShown());
        QCOMPARE(cell(0, 1), QStringLiteral("Alfa"));
        QCOMPARE(cell(4, 1), QStringLiteral("Épsilon"));
        QCOMPARE(ds->RecNo(), 1);
    }

    void keyDownSeesEveryKeyBeforeTheGrid() {
        show();
        QList<int> keys;
        bool swallow = true;
        grid->OnKeyDown = [&](int& key, Qt::KeyboardModifiers) {
            keys << key;
            if (swallow) {
                key = 0;
            }
        };
        QTest::keyClick(grid.get(), Qt::Key_Space);
        QTest::keyClick(grid.get(), Qt::Key_Down);
        QCOMPARE(keys, (QList<int>{Qt::Key_Space, Qt::Key_Down}));
        QCOMPARE(ds->RecNo(), 1);  // swallowed: the grid did not move

        swallow = false;
        QTest::keyClick(grid.get(), Qt::Key_Down);
        QCOMPARE(ds->RecNo(), 2);
        // Letters do not jump to a matching row.
        QTest::keyClick(grid.get(), Qt::Key_D);
        QCOMPARE(ds->RecNo(), 2);
    }

    void keyHandlerFailureIsReportedAndSwallowsTheKey() {
        show();
        host::test::ScriptedDialogs dlg;
        dlg.expectError(QStringLiteral("tecla recusada"));
        grid->OnKeyDown = [](int&, Qt::KeyboardModifiers) {
            throw host::EHostError(QStringLiteral("tecla recusada"));
        };
        QTest::keyClick(grid.get(), Qt::Key_Down);
        QCOMPARE(ds->RecNo(), 1);
        QVERIFY_DIALOGS(dlg);
    }

    void doubleClickRunsOnTheClickedRow() {
        show();
        int recNoSeen = 0;
        int calls = 0;
        grid->OnDblClick = [&] {
            ++calls;
            recNoSeen = ds->RecNo();
        };
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(2, 1).center());
        QCOMPARE(calls, 1);
        QCOMPARE(recNoSeen, 3);
    }

    void ownerDrawSeesTheRowItDraws() {
        show();
        ds->SetRecNo(2);
        struct Seen {
            int row;
            int col;
            QString codigo;
            bool selected;
            QRect rect;
        };
        QList<Seen> seen;
        grid->OnDrawColumnCell = [&](QPainter& p, const QRect& r, int col, const TColumn& c,
                                     const host::DrawCellState& st) {
            QCOMPARE(c.Index(), col);
            seen.append({st.viewRow, col, ds->FieldByName(QStringLiteral("CODIGO")).AsString(),
                         st.selected, r});
            p.fillRect(r, st.background);
        };
        grid->grab();
        QVERIFY(!seen.isEmpty());
        const auto rows = widgettest::fiveRows();
        QSet<int> rowsDrawn;
        for (const Seen& s : seen) {
            QCOMPARE(s.codigo, rows[s.row].codigo);
            QCOMPARE(s.selected, s.row == 1);
            QCOMPARE(s.rect, grid->CellRect(s.row, s.col));
            rowsDrawn << s.row;
        }
        QCOMPARE(rowsDrawn.size(), 5);
        QCOMPARE(ds->RecNo(), 2);  // the cursor is back where it was
    }

    void paintingReadsOnlyVisibleRows() {
        QList<widgettest::Rows> many;
        for (int i = 0; i < 20000; ++i) {
            many.append({QString::number(i), QStringLiteral("Nome %1").arg(i), double(i)});
        }
        auto big = widgettest::makeDataSet(many);
        src->SetDataSet(big.get());
        show();
        int calls = 0;
        grid->OnDrawColumnCell = [&](QPainter&, const QRect&, int, const TColumn&,
                                     const host::DrawCellState&) { ++calls; };
        grid->grab();
        const int visibleRows = grid->viewport()->height() / grid->rowHeight(0) + 2;
        QVERIFY(calls > 0);
        QVERIFY2(calls <= visibleRows * 3, qPrintable(QString::number(calls)));
        big->Last();
        QCOMPARE(grid->currentIndex().row(), 19999);
        src->SetDataSet(ds.get());
    }

    void disabledControlsFreezeUntilEnabled() {
        show();
        const int resets = grid->GridModel()->ResetCount();
        ds->DisableControls();
        ds->SetRecNo(2);
        ds->Edit();
        ds->FieldByName(QStringLiteral("NOME")).SetAsString(QStringLiteral("Beta 2"));
        ds->Post();
        ds->Append();
        ds->FieldByName(QStringLiteral("CODIGO")).SetAsString(QStringLiteral("0009"));
        ds->Post();
        QCOMPARE(grid->GridModel()->ResetCount(), resets);
        QCOMPARE(grid->model()->rowCount(), 5);
        QCOMPARE(grid->currentIndex().row(), 0);
        ds->EnableControls();
        QCOMPARE(grid->GridModel()->ResetCount(), resets + 1);
        QCOMPARE(grid->model()->rowCount(), 6);
        QCOMPARE(cell(1, 1), QStringLiteral("Beta 2"));
        QCOMPARE(grid->currentIndex().row(), ds->RecNo() - 1);
    }

    void locksReleaseOnException() {
        show();
        const int resets = grid->GridModel()->ResetCount();
        try {
            host::DataSetControlsLock freeze(*ds);
            host::TDBGridUpdateLock paint(*grid);
            ds->SetRecNo(5);
            QVERIFY(!grid->viewport()->updatesEnabled());
            throw host::EHostError(QStringLiteral("falha no meio"));
        } catch (const host::EHostError&) {
        }
        QVERIFY(!ds->ControlsDisabled());
        QVERIFY(!grid->Updating());
        QVERIFY(grid->viewport()->updatesEnabled());
        QCOMPARE(grid->GridModel()->ResetCount(), resets + 1);
        QCOMPARE(grid->currentIndex().row(), 4);
    }

    void gridFreezeDefersCursorFollowing() {
        show();
        grid->BeginUpdate();
        ds->SetRecNo(3);
        QCOMPARE(grid->currentIndex().row(), 0);
        grid->EndUpdate();
        QCOMPARE(grid->currentIndex().row(), 2);
    }

    void columnsLookupHideAndCurrentColumn() {
        show();
        QCOMPARE(grid->columnIndexOfField(QStringLiteral("valor")), 2);
        QCOMPARE(grid->columnIndexOfField(QStringLiteral("NADA")), -1);
        QVERIFY(grid->Columns().Find(QStringLiteral("NOME")));
        QVERIFY_THROWS_EXCEPTION(host::EProgrammingError, grid->Columns().Items(3));

        grid->Columns().Items(1).SetVisible(false);
        QVERIFY(grid->isColumnHidden(1));
        grid->Columns().Items(1).SetVisible(true);
        QVERIFY(!grid->isColumnHidden(1));

        ds->SetRecNo(4);
        grid->SetSelectedIndex(2);
        QCOMPARE(grid->SelectedIndex(), 2);
        QCOMPARE(grid->currentIndex().row(), 3);
        QCOMPARE(ds->RecNo(), 4);
    }

    void withoutColumnsShowsTheVisibleFields() {
        ds->FieldByName(QStringLiteral("NOME")).SetVisible(false);
        TDBGrid plain;
        plain.SetDataSource(src.get());
        QCOMPARE(plain.Columns().Count(), 2);
        QCOMPARE(plain.Columns()[1].FieldName(), QStringLiteral("VALOR"));
        QCOMPARE(plain.model()->data(plain.model()->index(3, 1)).toString(),
                 QStringLiteral("99,90"));
    }

    void outlivesItsDataSetAndSource() {
        show();
        ds.reset();
        QCOMPARE(grid->model()->rowCount(), 0);
        src.reset();
        QVERIFY(!grid->DataSource());
        grid->grab();
    }

    void failingDisplayTextIsReportedOnce() {
        host::test::ScriptedDialogs dlg;
        dlg.expectError(QStringLiteral("texto impossível"));
        ds->FieldByName(QStringLiteral("NOME")).SetOnGetText([](host::TField&, QString&, bool) {
            throw host::EHostError(QStringLiteral("texto impossível"));
        });
        show();
        grid->grab();
        grid->grab();
        QTest::qWait(20);
        QCOMPARE(cell(0, 0), QStringLiteral("0001"));  // other columns still show
        QVERIFY_DIALOGS(dlg);
    }

    void editableGridWritesTheField() {
        grid->SetReadOnly(false);
        QVERIFY(grid->model()->flags(grid->model()->index(0, 1)) & Qt::ItemIsEditable);
        QVERIFY(grid->model()->setData(grid->model()->index(2, 1), QStringLiteral("Novo")));
        QCOMPARE(ds->RecNo(), 3);
        QCOMPARE(ds->FieldByName(QStringLiteral("NOME")).AsString(), QStringLiteral("Novo"));
        // F2 opens an editor on the current cell; Enter writes it back.
        show();
        ds->SetRecNo(4);
        grid->SetSelectedIndex(1);
        grid->setFocus();
        QTest::keyClick(grid.get(), Qt::Key_F2);
        auto* editor = grid->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("Delta Editado"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(cell(3, 1), QStringLiteral("Delta Editado"));

        grid->SetReadOnly(true);
        QVERIFY(!grid->model()->setData(grid->model()->index(1, 1), QStringLiteral("X")));
        QCOMPARE(cell(1, 1), QStringLiteral("Beta"));
    }
};

QTEST_MAIN(TstDbGrid)
#include "tst_dbgrid.moc"

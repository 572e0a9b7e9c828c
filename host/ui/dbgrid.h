#pragma once

#include "core/clientdataset.h"
#include "ui/datasourcelink.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace host {

class TClientDataSet;
class TDataSource;
class TField;
class TDBGrid;
class TDBGridColumns;

// One column of a data grid: which field it shows and how.
class TColumn {
  public:
    const QString& FieldName() const { return m_fieldName; }
    int Index() const { return m_index; }
    // The field in the grid's current data set; nullptr when there is none or it is unknown.
    TField* Field() const;

    // Title: the one given, else the field's display label, else the field name.
    QString Title() const;
    void SetTitle(const QString& title);
    // Width in pixels; -1 derives it from the field's display width and the title.
    int Width() const { return m_width; }
    void SetWidth(int pixels);
    // Alignment of the cell text; unset, the field's own alignment.
    Qt::Alignment Alignment() const;
    void SetAlignment(Qt::Alignment a);
    Qt::Alignment TitleAlignment() const { return m_titleAlignment; }
    void SetTitleAlignment(Qt::Alignment a);
    bool Visible() const { return m_visible; }
    void SetVisible(bool v);
    // Font of the title; unset, the header's font.
    std::optional<QFont> TitleFont() const { return m_titleFont; }
    void SetTitleFont(const QFont& f);

  private:
    friend class TDBGridColumns;
    TColumn(TDBGridColumns* owner, QString fieldName, int index)
        : m_owner(owner), m_fieldName(std::move(fieldName)), m_index(index) {}
    void changed();

    TDBGridColumns* m_owner;
    QString m_fieldName;
    int m_index;
    QString m_title;
    int m_width = -1;
    std::optional<Qt::Alignment> m_alignment;
    Qt::Alignment m_titleAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool m_visible = true;
    std::optional<QFont> m_titleFont;
};

// The grid's column list. Column indexes are the positions in this list, hidden columns
// included (the index a draw handler receives).
class TDBGridColumns {
  public:
    explicit TDBGridColumns(TDBGrid* grid) : m_grid(grid) {}
    TColumn& Add(const QString& fieldName, const QString& title = QString(), int width = -1);
    int Count() const { return int(m_items.size()); }
    TColumn& Items(int index) const;  // out of range: EProgrammingError
    TColumn& operator[](int index) const { return Items(index); }
    TColumn* Find(const QString& fieldName) const;  // case-insensitive; nullptr when absent
    int IndexOf(const QString& fieldName) const;    // -1 when absent
    void Clear();
    TDBGrid* Grid() const { return m_grid; }

  private:
    friend class TColumn;
    friend class TDBGrid;
    friend class TDBGridModel;
    void columnChanged(int index);
    // Without columns of its own the grid shows the data set's visible fields.
    void rebuildAuto(TClientDataSet* ds);
    TDBGrid* m_grid;
    std::vector<std::unique_ptr<TColumn>> m_items;
    bool m_auto = false;  // built from the data set's visible fields, not by the form
};

// The table model of a grid: rows are the data set's view, columns the grid's columns, cell
// text the field's display text of that row. Only the rows asked for are ever read.
class TDBGridModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit TDBGridModel(TDBGrid* grid);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Everything may have changed: rows and columns are read again.
    void refresh();
    void refreshRow(int viewRow);
    void refreshColumn(int column);
    // Number of resets so far (a frozen pass must end in exactly one).
    int ResetCount() const { return m_resets; }

  private:
    TDBGrid* m_grid;
    int m_rows = 0;
    int m_resets = 0;
};

// State of a data cell handed to the owner-draw handler, with the colours the grid used for it.
struct DrawCellState {
    int viewRow = -1;
    bool selected = false;
    bool focused = false;  // the grid has the focus and this is the current cell
    QColor background;     // selection colour on the selected row, cell colour elsewhere
    QColor foreground;
};

// A data-aware grid over a data source. It follows the data set's cursor both ways, reads only
// the rows it paints, and goes quiet while the data set's controls are disabled (one reset when
// they are enabled again). Titles are clickable and never sort.
class TDBGrid : public QTableView {
    Q_OBJECT

  public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    TDataSource* DataSource() const { return m_link.source(); }
    void SetDataSource(TDataSource* source);
    TClientDataSet* DataSet() const;

    TDBGridColumns& Columns() { return m_columns; }
    const TDBGridColumns& Columns() const { return m_columns; }
    int columnIndexOfField(const QString& field) const;

    // Draws the cells' text before the owner-draw handler runs; off, only the background and
    // the focus are drawn and the handler draws the rest.
    bool DefaultDrawing() const { return m_defaultDrawing; }
    void SetDefaultDrawing(bool on);
    // Read-only (the default) grids never edit; otherwise F2 or a click on the current cell
    // opens an editor whose text is written to the field of that row and posted.
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool ro);
    bool RowSelect() const;
    void SetRowSelect(bool on);

    // The current column (the old SelectedIndex).
    int SelectedIndex() const;
    void SetSelectedIndex(int column);

    // Repaint freeze of the grid itself (counted); the model is reset once at the last EndUpdate
    // when anything arrived meanwhile.
    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return m_updating > 0; }

    TDBGridModel* GridModel() const { return m_model; }
    QRect CellRect(int viewRow, int column) const;

    // Events. Each runs inside the host's handler boundary.
    // Every data cell, after the default drawing; the data set is positioned on the cell's
    // row while it runs (its cursor comes back afterwards, without scroll events).
    std::function<void(QPainter& painter, const QRect& cell, int columnIndex, const TColumn& column,
                       const DrawCellState& state)>
        OnDrawColumnCell;
    std::function<void(TColumn& column)> OnTitleClick;
    // Every key press, before the grid's own handling; setting key to 0 swallows it.
    std::function<void(int& key, Qt::KeyboardModifiers modifiers)> OnKeyDown;
    std::function<void()> OnDblClick;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

  private:
    friend class TDBGridModel;
    friend class TDBGridColumns;
    friend class TDBGridDelegate;
    void bindSource();
    void onDataChanged();
    void onRowChanged(int viewRow);
    void onCursorMoved(int viewRow);
    void afterReset();
    void applyColumnLayout(int column);
    int defaultWidth(const TColumn& c) const;
    void selectCursorRow();
    bool frozen() const;
    void reportLater(const QString& text);
    // Letters typed in the grid do not move the cursor to a matching row.
    void keyboardSearch(const QString&) override {}

    DataSourceLink m_link;
    TDBGridColumns m_columns;
    TDBGridModel* m_model = nullptr;
    bool m_defaultDrawing = true;
    bool m_readOnly = true;
    int m_updating = 0;
    bool m_pending = false;
    bool m_syncing = false;
    bool m_reportQueued = false;
    QString m_lastReported;
};

// Freezes a grid's repainting for a scope (BeginUpdate / EndUpdate), also when it is left by an
// exception.
class TDBGridUpdateLock {
  public:
    explicit TDBGridUpdateLock(TDBGrid& grid) : m_grid(grid) { m_grid.BeginUpdate(); }
    ~TDBGridUpdateLock() { m_grid.EndUpdate(); }
    TDBGridUpdateLock(const TDBGridUpdateLock&) = delete;
    TDBGridUpdateLock& operator=(const TDBGridUpdateLock&) = delete;

  private:
    TDBGrid& m_grid;
};

// DisableControls / EnableControls of a data set for a scope: every view of it is told once,
// at the end, that everything may have changed.
class DataSetControlsLock {
  public:
    explicit DataSetControlsLock(TClientDataSet& ds);
    ~DataSetControlsLock();
    DataSetControlsLock(const DataSetControlsLock&) = delete;
    DataSetControlsLock& operator=(const DataSetControlsLock&) = delete;

  private:
    TClientDataSet& m_ds;
};

}  // namespace host

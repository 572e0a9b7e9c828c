#include "ui/dbgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "ui/dialogs.h"
#include "ui/handler.h"

namespace host {

// --- columns --------------------------------------------------------------------------------

TField* TColumn::Field() const {
    TClientDataSet* ds = m_owner->Grid()->DataSet();
    return ds ? ds->FindField(m_fieldName) : nullptr;
}

QString TColumn::Title() const {
    if (!m_title.isEmpty()) {
        return m_title;
    }
    if (TField* f = Field()) {
        return f->DisplayLabel();
    }
    return m_fieldName;
}

void TColumn::SetTitle(const QString& title) {
    m_title = title;
    changed();
}

void TColumn::SetWidth(int pixels) {
    m_width = pixels < 0 ? -1 : pixels;
    changed();
}

Qt::Alignment TColumn::Alignment() const {
    if (m_alignment) {
        return *m_alignment;
    }
    if (TField* f = Field()) {
        return f->Alignment();
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

void TColumn::SetAlignment(Qt::Alignment a) {
    if (!(a & Qt::AlignVertical_Mask)) {
        a |= Qt::AlignVCenter;
    }
    m_alignment = a;
    changed();
}

void TColumn::SetTitleAlignment(Qt::Alignment a) {
    if (!(a & Qt::AlignVertical_Mask)) {
        a |= Qt::AlignVCenter;
    }
    m_titleAlignment = a;
    changed();
}

void TColumn::SetVisible(bool v) {
    m_visible = v;
    changed();
}

void TColumn::SetTitleFont(const QFont& f) {
    m_titleFont = f;
    changed();
}

void TColumn::changed() {
    // A column the form touches is its own from now on, even if the grid made it.
    m_owner->m_auto = false;
    m_owner->columnChanged(m_index);
}

TColumn& TDBGridColumns::Add(const QString& fieldName, const QString& title, int width) {
    if (m_auto) {
        m_items.clear();
        m_auto = false;
    }
    m_items.push_back(
        std::unique_ptr<TColumn>(new TColumn(this, fieldName.trimmed(), int(m_items.size()))));
    TColumn& c = *m_items.back();
    c.m_title = title;
    c.m_width = width < 0 ? -1 : width;
    m_grid->GridModel()->refresh();
    return c;
}

TColumn& TDBGridColumns::Items(int index) const {
    if (index < 0 || index >= Count()) {
        throw EProgrammingError(
            QStringLiteral("Coluna %1 inexistente na grade (%2 colunas).").arg(index).arg(Count()));
    }
    return *m_items[size_t(index)];
}

TColumn* TDBGridColumns::Find(const QString& fieldName) const {
    const int i = IndexOf(fieldName);
    return i < 0 ? nullptr : m_items[size_t(i)].get();
}

int TDBGridColumns::IndexOf(const QString& fieldName) const {
    const QString name = fieldName.trimmed();
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i]->FieldName().compare(name, Qt::CaseInsensitive) == 0) {
            return int(i);
        }
    }
    return -1;
}

void TDBGridColumns::Clear() {
    m_items.clear();
    m_auto = false;
    m_grid->GridModel()->refresh();
}

void TDBGridColumns::rebuildAuto(TClientDataSet* ds) {
    if (!ds || !(m_items.empty() || m_auto)) {
        return;
    }
    m_items.clear();
    for (int i = 0; i < ds->FieldCount(); ++i) {
        const TField& f = ds->Fields(i);
        if (f.Visible()) {
            m_items.push_back(
                std::unique_ptr<TColumn>(new TColumn(this, f.FieldName(), int(m_items.size()))));
        }
    }
    m_auto = !m_items.empty();
}

void TDBGridColumns::columnChanged(int index) {
    m_grid->applyColumnLayout(index);
    m_grid->GridModel()->refreshColumn(index);
}

// --- model ----------------------------------------------------------------------------------

TDBGridModel::TDBGridModel(TDBGrid* grid) : QAbstractTableModel(grid), m_grid(grid) {}

int TDBGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int TDBGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_grid->Columns().Count();
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= columnCount()) {
        return {};
    }
    const TColumn& c = m_grid->Columns().Items(index.column());
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(int(c.Alignment()));
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) {
        return {};
    }
    TClientDataSet* ds = m_grid->DataSet();
    // Rows come and go while the controls are disabled; until the reset only rows that still
    // exist are read.
    if (!ds || !ds->Active() || index.row() >= ds->RecordCount()) {
        return {};
    }
    try {
        TField* f = c.Field();
        if (!f) {
            return {};
        }
        if (role == Qt::EditRole) {
            return f->ValueAt(index.row()).toString();
        }
        return f->DisplayTextAt(index.row());
    } catch (const EHostError& e) {
        m_grid->reportLater(e.text());
    } catch (const std::exception& e) {
        m_grid->reportLater(QString::fromLocal8Bit(e.what()));
    }
    return {};
}

bool TDBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (m_grid->ReadOnly() || role != Qt::EditRole || !index.isValid()) {
        return false;
    }
    TClientDataSet* ds = m_grid->DataSet();
    TField* f = m_grid->Columns().Items(index.column()).Field();
    if (!ds || !f) {
        return false;
    }
    return runHandler(m_grid, [&] {
        ds->SetRecNo(index.row() + 1);
        if (ds->State() == DataSetState::Browse) {
            ds->Edit();
        }
        f->SetAsString(value.toString());
        ds->Post();
    });
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        return role == Qt::DisplayRole ? QVariant(section + 1) : QVariant();
    }
    if (section < 0 || section >= columnCount()) {
        return {};
    }
    const TColumn& c = m_grid->Columns().Items(section);
    switch (role) {
        case Qt::DisplayRole:
            return c.Title();
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(int(c.TitleAlignment()));
        case Qt::FontRole:
            if (c.TitleFont()) {
                return *c.TitleFont();
            }
            return {};
        default:
            return {};
    }
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!m_grid->ReadOnly()) {
        f |= Qt::ItemIsEditable;
    }
    return f;
}

void TDBGridModel::refresh() {
    beginResetModel();
    TClientDataSet* ds = m_grid->DataSet();
    m_grid->m_columns.rebuildAuto(ds);
    m_rows = ds && ds->Active() ? ds->RecordCount() : 0;
    ++m_resets;
    endResetModel();
    m_grid->afterReset();
}

void TDBGridModel::refreshRow(int viewRow) {
    if (viewRow < 0 || viewRow >= m_rows || columnCount() == 0) {
        return;
    }
    emit dataChanged(index(viewRow, 0), index(viewRow, columnCount() - 1));
}

void TDBGridModel::refreshColumn(int column) {
    if (column < 0 || column >= columnCount()) {
        return;
    }
    emit headerDataChanged(Qt::Horizontal, column, column);
    if (m_rows > 0) {
        emit dataChanged(index(0, column), index(m_rows - 1, column));
    }
}

// --- delegate -------------------------------------------------------------------------------

class TDBGridDelegate : public QStyledItemDelegate {
  public:
    explicit TDBGridDelegate(TDBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (m_grid->DefaultDrawing()) {
            QStyledItemDelegate::paint(painter, option, index);
        } else {
            QStyleOptionViewItem o(option);
            initStyleOption(&o, index);
            o.text.clear();
            const QWidget* w = o.widget;
            QStyle* style = w ? w->style() : QApplication::style();
            style->drawControl(QStyle::CE_ItemViewItem, &o, painter, w);
        }
        if (!m_grid->OnDrawColumnCell) {
            return;
        }
        TClientDataSet* ds = m_grid->DataSet();
        const int row = index.row();
        if (!ds || !ds->Active() || row >= ds->RecordCount() ||
            index.column() >= m_grid->Columns().Count()) {
            return;
        }
        DrawCellState st;
        st.viewRow = row;
        st.selected = option.state.testFlag(QStyle::State_Selected);
        st.focused = option.state.testFlag(QStyle::State_HasFocus);
        st.background = option.palette.color(QPalette::Active,
                                             st.selected ? QPalette::Highlight : QPalette::Base);
        st.foreground = option.palette.color(
            QPalette::Active, st.selected ? QPalette::HighlightedText : QPalette::Text);
        const TColumn& column = m_grid->Columns().Items(index.column());
        painter->save();
        painter->setClipRect(option.rect);
        painter->setFont(option.font);
        painter->setPen(st.foreground);
        try {
            ds->WithRowAsCurrent(row, [&] {
                m_grid->OnDrawColumnCell(*painter, option.rect, index.column(), column, st);
            });
        } catch (const EHostError& e) {
            m_grid->reportLater(e.text());
        } catch (const std::exception& e) {
            m_grid->reportLater(QString::fromLocal8Bit(e.what()));
        }
        painter->restore();
    }

  private:
    TDBGrid* m_grid;
};

// --- grid -----------------------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent), m_columns(this) {
    m_model = new TDBGridModel(this);
    setModel(m_model);
    setItemDelegate(new TDBGridDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setTabKeyNavigation(true);
    setWordWrap(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    // Fixed row heights: the view never measures rows it does not show.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* h = horizontalHeader();
    h->setSectionsClickable(true);
    h->setSortIndicatorShown(false);
    h->setHighlightSections(false);
    h->setStretchLastSection(false);
    h->setSectionResizeMode(QHeaderView::Interactive);
    // The selection stays visible when the grid loses the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

    connect(h, &QHeaderView::sectionClicked, this, [this](int section) {
        if (!OnTitleClick || section < 0 || section >= m_columns.Count()) {
            return;
        }
        runHandler(this, [&] { OnTitleClick(m_columns.Items(section)); });
    });
}

TDBGrid::~TDBGrid() = default;

TClientDataSet* TDBGrid::DataSet() const {
    return m_link.dataSet();
}

void TDBGrid::SetDataSource(TDataSource* source) {
    if (!m_link.attach(source)) {
        return;
    }
    if (source) {
        m_link.on(&TDataSource::dataSetChanged, this, [this] {
            if (m_columns.m_auto) {
                m_columns.m_items.clear();
            }
            onDataChanged();
        });
        m_link.on(&TDataSource::dataChanged, this, &TDBGrid::onDataChanged);
        m_link.on(&TDataSource::rowChanged, this, &TDBGrid::onRowChanged);
        m_link.on(&TDataSource::currentChanged, this, &TDBGrid::onCursorMoved);
        m_link.on(&QObject::destroyed, this, [this] {
            m_link.release();
            if (m_columns.m_auto) {
                m_columns.m_items.clear();
            }
            m_model->refresh();
        });
    }
    if (m_columns.m_auto) {
        m_columns.m_items.clear();
    }
    m_model->refresh();
}

int TDBGrid::columnIndexOfField(const QString& field) const {
    return m_columns.IndexOf(field);
}

void TDBGrid::SetDefaultDrawing(bool on) {
    m_defaultDrawing = on;
    viewport()->update();
}

void TDBGrid::SetReadOnly(bool ro) {
    m_readOnly = ro;
    setEditTriggers(ro ? QAbstractItemView::NoEditTriggers
                       : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

bool TDBGrid::RowSelect() const {
    return selectionBehavior() == QAbstractItemView::SelectRows;
}

void TDBGrid::SetRowSelect(bool on) {
    setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    selectCursorRow();
}

int TDBGrid::SelectedIndex() const {
    const QModelIndex cur = currentIndex();
    return cur.isValid() ? cur.column() : -1;
}

void TDBGrid::SetSelectedIndex(int column) {
    if (column < 0 || column >= m_columns.Count()) {
        throw EProgrammingError(QStringLiteral("Coluna %1 inexistente na grade (%2 colunas).")
                                    .arg(column)
                                    .arg(m_columns.Count()));
    }
    const int row = currentIndex().isValid() ? currentIndex().row() : -1;
    if (row < 0) {
        return;
    }
    m_syncing = true;
    selectionModel()->setCurrentIndex(m_model->index(row, column), QItemSelectionModel::NoUpdate);
    m_syncing = false;
}

void TDBGrid::BeginUpdate() {
    if (m_updating++ == 0) {
        viewport()->setUpdatesEnabled(false);
    }
}

void TDBGrid::EndUpdate() {
    if (m_updating == 0) {
        return;
    }
    if (--m_updating == 0) {
        viewport()->setUpdatesEnabled(true);
        TClientDataSet* ds = DataSet();
        if (m_pending && !(ds && ds->ControlsDisabled())) {
            m_pending = false;
            m_model->refresh();
        }
        viewport()->update();
    }
}

QRect TDBGrid::CellRect(int viewRow, int column) const {
    return visualRect(m_model->index(viewRow, column));
}

bool TDBGrid::frozen() const {
    TClientDataSet* ds = DataSet();
    return m_updating > 0 || (ds && ds->ControlsDisabled());
}

void TDBGrid::onDataChanged() {
    if (frozen()) {
        m_pending = true;
        return;
    }
    m_pending = false;
    m_model->refresh();
}

void TDBGrid::onRowChanged(int viewRow) {
    if (frozen()) {
        m_pending = true;
        return;
    }
    TClientDataSet* ds = DataSet();
    const int rows = ds && ds->Active() ? ds->RecordCount() : 0;
    if (rows != m_model->rowCount()) {
        m_model->refresh();
    } else {
        m_model->refreshRow(viewRow);
    }
}

void TDBGrid::onCursorMoved(int) {
    if (frozen()) {
        m_pending = true;
        return;
    }
    selectCursorRow();
}

void TDBGrid::afterReset() {
    for (int i = 0; i < m_columns.Count(); ++i) {
        applyColumnLayout(i);
    }
    selectCursorRow();
}

void TDBGrid::applyColumnLayout(int column) {
    if (column < 0 || column >= m_columns.Count() || column >= m_model->columnCount()) {
        return;
    }
    const TColumn& c = m_columns.Items(column);
    setColumnHidden(column, !c.Visible());
    if (c.Visible()) {
        setColumnWidth(column, c.Width() >= 0 ? c.Width() : defaultWidth(c));
    }
}

int TDBGrid::defaultWidth(const TColumn& c) const {
    const QFontMetrics cellMetrics(font());
    const TField* f = c.Field();
    const int chars = f ? f->DisplayWidth() : 10;
    const int byField = cellMetrics.horizontalAdvance(QLatin1Char('0')) * chars + 8;
    const QFontMetrics titleMetrics(c.TitleFont() ? *c.TitleFont() : horizontalHeader()->font());
    const int byTitle = titleMetrics.horizontalAdvance(c.Title()) + 14;
    // Long text fields would otherwise make columns wider than a screen.
    return std::clamp(std::max(byField, byTitle), 24, 400);
}

void TDBGrid::selectCursorRow() {
    TClientDataSet* ds = DataSet();
    if (!ds || !ds->Active() || m_model->columnCount() == 0) {
        return;
    }
    const int row = ds->CurrentViewRow();
    if (row < 0 || row >= m_model->rowCount()) {
        return;
    }
    int col = currentIndex().isValid() ? currentIndex().column() : -1;
    if (col < 0 || isColumnHidden(col)) {
        col = 0;
        while (col < m_model->columnCount() - 1 && isColumnHidden(col)) {
            ++col;
        }
    }
    const QModelIndex idx = m_model->index(row, col);
    m_syncing = true;
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
    if (RowSelect()) {
        flags |= QItemSelectionModel::Rows;
    }
    selectionModel()->setCurrentIndex(idx, flags);
    m_syncing = false;
    if (viewport()->updatesEnabled()) {
        scrollTo(idx);
    }
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (m_syncing || !current.isValid()) {
        return;
    }
    TClientDataSet* ds = DataSet();
    if (!ds || !ds->Active() || frozen() || current.row() == ds->CurrentViewRow()) {
        return;
    }
    const int row = current.row();
    if (!runHandler(this, [&] { ds->SetRecNo(row + 1); })) {
        // The data set refused to move (a pending edit that cannot be posted): the grid goes
        // back to the row the cursor is on.
        QTimer::singleShot(0, this, [this] { selectCursorRow(); });
    }
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    if (OnKeyDown) {
        int key = event->key();
        const bool ok = runHandler(this, [&] { OnKeyDown(key, event->modifiers()); });
        if (!ok || key == 0) {
            event->accept();
            return;
        }
        if (key != event->key()) {
            QKeyEvent changed(event->type(), key, event->modifiers());
            QTableView::keyPressEvent(&changed);
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (OnDblClick && event->button() == Qt::LeftButton) {
        runHandler(this, [&] { OnDblClick(); });
    }
}

void TDBGrid::reportLater(const QString& text) {
    // A failure while painting is shown once, after the paint, and not again for every cell.
    if (m_reportQueued || text == m_lastReported) {
        return;
    }
    m_reportQueued = true;
    m_lastReported = text;
    QTimer::singleShot(0, this, [this, text] {
        m_reportQueued = false;
        dialogs().error(text, this);
    });
}

DataSetControlsLock::DataSetControlsLock(TClientDataSet& ds) : m_ds(ds) {
    m_ds.DisableControls();
}
DataSetControlsLock::~DataSetControlsLock() {
    m_ds.EnableControls();
}

}  // namespace host

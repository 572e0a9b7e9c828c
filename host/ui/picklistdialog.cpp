#include "ui/picklistdialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "core/clientdataset.h"

namespace host {

PickListModel::PickListModel(TClientDataSet* source, const QStringList& columns, QObject* parent)
    : QAbstractTableModel(parent), m_source(source) {
    if (!source) {
        return;
    }
    if (columns.isEmpty()) {
        for (int i = 0; i < source->FieldCount(); ++i) {
            if (source->Fields(i).Visible()) {
                m_fields.append(&source->Fields(i));
            }
        }
    } else {
        for (const QString& name : columns) {
            m_fields.append(&source->FieldByName(name));  // unknown name: EDataSetError
        }
    }
}

int PickListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_source || !m_source->Active()) {
        return 0;
    }
    return m_source->RecordCount();
}

int PickListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_fields.size());
}

TField* PickListModel::fieldAt(int column) const {
    return column >= 0 && column < m_fields.size() ? m_fields[column] : nullptr;
}

QVariant PickListModel::data(const QModelIndex& index, int role) const {
    TField* f = fieldAt(index.column());
    if (!f || !index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return f->DisplayTextAt(index.row());
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(f->Alignment());
        default:
            return {};
    }
}

QVariant PickListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return {};
    }
    if (orientation == Qt::Vertical) {
        return section + 1;
    }
    TField* f = fieldAt(section);
    return f ? QVariant(f->DisplayLabel()) : QVariant();
}

PickListDialog::PickListDialog(const PickRequest& req, QWidget* parent)
    : QDialog(parent), m_source(req.source), m_keyField(req.keyField), m_multiple(req.multiple) {
    setWindowTitle(req.title.isEmpty() ? tr("Pesquisa") : req.title);
    setObjectName(QStringLiteral("PickListDialog"));

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(tr("Procurar:"), this);
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("edtProcurar"));
    label->setBuddy(m_search);
    layout->addWidget(label);
    layout->addWidget(m_search);

    m_model = new PickListModel(req.source, req.columns, this);
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("dbgLista"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Multiple choice toggles a row per click or space, without modifier keys, as a list of
    // marks would; single choice follows the current row.
    m_view->setSelectionMode(m_multiple ? QAbstractItemView::MultiSelection
                                        : QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->setVisible(false);
    m_view->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < m_model->columnCount(); ++c) {
        const int chars = std::clamp(m_model->fieldAt(c)->DisplayWidth(), 4, 60);
        m_view->setColumnWidth(c, m_view->fontMetrics().averageCharWidth() * (chars + 2));
    }
    layout->addWidget(m_view);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancelar"));
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(m_search, &QLineEdit::textEdited, this, [this](const QString& t) { jumpTo(t); });
    m_search->installEventFilter(this);
    if (!m_multiple) {
        connect(m_view, &QAbstractItemView::doubleClicked, this, &QDialog::accept);
    }

    const int rows = m_model->rowCount();
    for (int r : req.preselected) {
        if (r >= 0 && r < rows) {
            m_view->selectionModel()->select(
                m_model->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    if (rows > 0) {
        const int first = req.preselected.isEmpty() ? 0 : std::max(0, int(req.preselected[0]));
        QModelIndex idx = m_model->index(std::min(first, rows - 1), 0);
        // A lookup button that searches by key opens the list on the row of the code typed.
        if (!req.startKey.trimmed().isEmpty()) {
            const int at = jumpTo(req.startKey);
            if (at >= 0) {
                idx = m_model->index(at, 0);
            }
        }
        m_view->selectionModel()->setCurrentIndex(
            idx, m_multiple ? QItemSelectionModel::NoUpdate
                            : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    m_search->setFocus();
    resize(520, 360);
}

int PickListDialog::jumpTo(const QString& text) {
    if (text.isEmpty() || !m_source) {
        return -1;
    }
    // The key field first; without one, the first column.
    TField* key = m_keyField.isEmpty() ? m_model->fieldAt(0) : m_source->FindField(m_keyField);
    if (!key) {
        return -1;
    }
    const int rows = m_model->rowCount();
    for (int r = 0; r < rows; ++r) {
        const QString value = key->ValueAt(r).toString().trimmed();
        if (value.startsWith(text.trimmed(), Qt::CaseInsensitive) ||
            key->DisplayTextAt(r).startsWith(text.trimmed(), Qt::CaseInsensitive)) {
            const QModelIndex idx = m_model->index(r, 0);
            m_view->selectionModel()->setCurrentIndex(
                idx, m_multiple ? QItemSelectionModel::NoUpdate
                                : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_view->scrollTo(idx);
            return r;
        }
    }
    return -1;
}

QList<int> PickListDialog::chosenRows() const {
    QList<int> rows;
    const QModelIndexList sel = m_view->selectionModel()->selectedRows();
    for (const QModelIndex& i : sel) {
        rows.append(i.row());
    }
    if (rows.isEmpty() && !m_multiple && m_view->currentIndex().isValid()) {
        rows.append(m_view->currentIndex().row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

bool PickListDialog::eventFilter(QObject* watched, QEvent* event) {
    // Up and down in the search box move through the list without leaving the box.
    if (watched == m_search && event->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        const int rows = m_model->rowCount();
        const int cur = m_view->currentIndex().isValid() ? m_view->currentIndex().row() : -1;
        int next = -1;
        if (ke->key() == Qt::Key_Down) {
            next = std::min(cur + 1, rows - 1);
        } else if (ke->key() == Qt::Key_Up) {
            next = std::max(cur - 1, 0);
        }
        if (next >= 0 && rows > 0) {
            m_view->selectionModel()->setCurrentIndex(
                m_model->index(next, 0),
                m_multiple ? QItemSelectionModel::NoUpdate
                           : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace host

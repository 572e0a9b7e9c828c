#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QList>
#include <QPointer>

#include "ui/dialogs.h"

class QLineEdit;
class QTableView;
class QDialogButtonBox;

namespace host {

class TClientDataSet;
class TField;

// The rows of a data set's view as a read-only table: one column per chosen field, the
// field's display text and alignment, its display label as the header.
class PickListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // columns: field names; empty = the visible fields of the data set.
    PickListModel(TClientDataSet* source, const QStringList& columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    TField* fieldAt(int column) const;

  private:
    QPointer<TClientDataSet> m_source;
    QList<TField*> m_fields;
};

// The host's pick list window: the rows of a data set, a search box that jumps to the first
// row whose key starts with the typed text, OK and Cancel. One row or several.
class PickListDialog : public QDialog {
    Q_OBJECT

  public:
    PickListDialog(const PickRequest& req, QWidget* parent = nullptr);

    // The chosen view rows, ascending. In single choice the current row counts as chosen.
    QList<int> chosenRows() const;

    QTableView* view() const { return m_view; }
    QLineEdit* searchEdit() const { return m_search; }
    PickListModel* model() const { return m_model; }

    // Moves to the first row whose key text starts with text (case-insensitive); returns the
    // row, or -1 when none (the current row then stays).
    int jumpTo(const QString& text);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    PickListModel* m_model = nullptr;
    QTableView* m_view = nullptr;
    QLineEdit* m_search = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    TClientDataSet* m_source = nullptr;
    QString m_keyField;
    bool m_multiple = false;
};

}  // namespace host

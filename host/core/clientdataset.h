#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include "core/fielddef.h"
#include "core/hosterror.h"

namespace host {

enum class DataSetState { Inactive, Browse, Edit, Insert };

class TClientDataSet;

// One column of a data set, reached with FieldByName. Reads and writes go to the current row.
// Null values are an invalid QVariant; AsString of a null is "".
class TField {
  public:
    const QString& FieldName() const { return m_def.name; }
    const FieldDef& Def() const { return m_def; }
    FieldType DataType() const { return m_def.type; }
    int Size() const { return m_def.size; }
    int Index() const { return m_index; }
    TClientDataSet& DataSet() const { return *m_owner; }

    QVariant Value() const;
    void SetValue(const QVariant& v);  // the data set must be in Edit or Insert state
    bool IsNull() const;
    void Clear();

    QString AsString() const;
    void SetAsString(const QString& s);
    qint64 AsInteger() const;
    void SetAsInteger(qint64 v);
    double AsFloat() const;
    void SetAsFloat(double v);
    bool AsBoolean() const;
    void SetAsBoolean(bool v);
    QDateTime AsDateTime() const;  // a Date field gives midnight of that day
    void SetAsDateTime(const QDateTime& v);
    QDate AsDate() const;
    void SetAsDate(const QDate& v);

    // Display text of the current row: OnGetText when set, else the value formatted by
    // DisplayFormat (Float: "###0.00"-style patterns, '#', '0', ',' and '.' understood) or
    // by the pt_BR short date / date and time.
    QString DisplayText() const;
    // Display text of any row by its position in the data set's view (the grid's model).
    QString DisplayTextAt(int viewRow) const;
    QVariant ValueAt(int viewRow) const;

    // Display properties, as the old toolkit's persistent fields carried them.
    QString DisplayLabel() const { return m_label.isEmpty() ? m_def.name : m_label; }
    void SetDisplayLabel(const QString& s) { m_label = s; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool v) { m_visible = v; }
    int DisplayWidth() const { return m_displayWidth > 0 ? m_displayWidth : defaultWidth(); }
    void SetDisplayWidth(int chars) { m_displayWidth = chars; }
    Qt::Alignment Alignment() const { return m_alignment; }
    void SetAlignment(Qt::Alignment a) { m_alignment = a; }
    const QString& DisplayFormat() const { return m_displayFormat; }
    void SetDisplayFormat(const QString& f) { m_displayFormat = f; }
    const QString& EditMask() const { return m_editMask; }
    void SetEditMask(const QString& m) { m_editMask = m; }

    // The old toolkit's OnGetText(Sender, var Text, DisplayText). The handler sees the data
    // set positioned on the row being displayed.
    using GetTextHandler = std::function<void(TField& sender, QString& text, bool displayText)>;
    void SetOnGetText(GetTextHandler h) { m_onGetText = std::move(h); }
    bool HasOnGetText() const { return bool(m_onGetText); }

  private:
    friend class TClientDataSet;
    TField(TClientDataSet* owner, FieldDef def, int index)
        : m_owner(owner), m_def(std::move(def)), m_index(index) {}
    int defaultWidth() const;
    QString formatValue(const QVariant& v) const;

    TClientDataSet* m_owner;
    FieldDef m_def;
    int m_index;
    QString m_label;
    bool m_visible = true;
    int m_displayWidth = 0;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    QString m_displayFormat;
    QString m_editMask;
    GetTextHandler m_onGetText;
};

// In-memory data set: field definitions and rows, whole content in and out as a data packet
// (CBOR, see packet.h), an index order, a filter expression, a cursor with the usual
// navigation and editing states. Every move of the cursor fires AfterScroll; the signals feed
// data sources, grids and data-aware edits.
//
// The view is the rows that pass the filter (when Filtered), in index order (when
// IndexFieldNames is set) or else in insertion order. RecNo and every navigation work on the
// view. Editing happens on the current row; moving the cursor, filtering, reindexing or
// closing posts a pending edit first, as the old toolkit did.
class TClientDataSet : public QObject {
    Q_OBJECT

  public:
    explicit TClientDataSet(QObject* parent = nullptr);
    ~TClientDataSet() override;

    // --- structure -----------------------------------------------------------------------
    // Persistent fields: declared before the data arrives; a packet then fills them by name
    // (its extra fields are ignored, a missing one is an EDataSetError). Without persistent
    // fields the packet's own definitions become the fields.
    TField& AddField(const FieldDef& def);
    void ClearFields();  // only while inactive
    int FieldCount() const;
    TField& Fields(int index) const;
    TField& FieldByName(const QString& name) const;  // unknown name: EDataSetError
    TField* FindField(const QString& name) const;    // unknown name: nullptr
    QList<FieldDef> FieldDefs() const;

    // Makes an empty, open data set from the fields declared so far.
    void CreateDataSet();

    // --- content as a packet ---------------------------------------------------------------
    QByteArray Data() const;  // every row, in insertion order, whatever the filter
    // Replaces the whole content and opens the data set on the first row of the view.
    // A packet that cannot be decoded raises EPacketError and leaves the data set as it was.
    void SetData(const QByteArray& packet);

    // --- open / close ------------------------------------------------------------------------
    void Open();   // a data set with fields and no rows opens empty
    void Close();  // drops the rows; fields stay
    bool Active() const;
    DataSetState State() const;
    void EmptyDataSet();  // removes all rows, stays open

    // --- navigation over the view ----------------------------------------------------------
    int RecordCount() const;  // rows in the view
    bool IsEmpty() const;
    int RecNo() const;  // 1-based position in the view, 0 when empty
    void SetRecNo(int recNo);
    void First();
    void Last();
    void Next();
    void Prior();
    void MoveBy(int distance);
    bool Eof() const;
    bool Bof() const;

    // Locates the first view row whose fields (names separated by ';') equal the values
    // (a QVariantList for several fields). Returns false and leaves the cursor when none.
    enum LocateOption { loCaseInsensitive = 1, loPartialKey = 2 };
    bool Locate(const QString& fieldNames, const QVariant& values, int options = 0);

    // --- editing -----------------------------------------------------------------------------
    void Edit();
    void Insert();  // new row at the cursor; Append adds at the end of the view
    void Append();
    void Post();
    void Cancel();
    void Delete();

    // --- order and filter --------------------------------------------------------------------
    // "NMRAZSOCEMIT;DTEMISSAO;VRNOTAFISC": ascending, strings compared without regard to case
    // or accents, nulls first. Empty: insertion order.
    QString IndexFieldNames() const;
    void SetIndexFieldNames(const QString& names);

    // Expressions: FIELD = 'text', FIELD <> 'text', AND, OR, NOT, parentheses. Field names are
    // case-insensitive; a bad expression raises EDataSetError when Filtered is switched on.
    QString Filter() const;
    void SetFilter(const QString& expression);
    bool Filtered() const;
    void SetFiltered(bool on);

    // --- controls --------------------------------------------------------------------------
    // While disabled, views are not told about changes; EnableControls (balanced) tells them
    // once that everything may have changed.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const;

    // Events of the old toolkit. AfterScroll runs after every move of the cursor, controls
    // disabled or not.
    std::function<void(TClientDataSet&)> AfterScroll;
    std::function<void(TClientDataSet&)> AfterPost;

    // Raw access for views (grid model): the row of the view at a position, without moving
    // the cursor. The value of a pending edit is seen on the current row.
    QVariant ValueAt(int viewRow, int fieldIndex) const;

    // Position of the cursor as a 0-based view index (-1 when empty).
    int CurrentViewRow() const;

    // Runs f with the cursor temporarily on viewRow (used to compute display texts of other
    // rows with OnGetText handlers that read the "current" row). No AfterScroll is fired.
    void WithRowAsCurrent(int viewRow, const std::function<void()>& f) const;

  signals:
    void stateChanged();               // Inactive/Browse/Edit/Insert changed
    void dataChanged();                // the whole view changed (open, close, load, filter, index)
    void rowChanged(int viewRow);      // one row's values changed
    void currentChanged(int viewRow);  // the cursor moved

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
    friend class TField;
    friend class DataSetLoader;
};

// The link between a data set and the controls that show it (grid, data-aware edits,
// navigator, lookup buttons). OnStateChange is the old toolkit's state-change event.
class TDataSource : public QObject {
    Q_OBJECT

  public:
    explicit TDataSource(QObject* parent = nullptr) : QObject(parent) {}
    TClientDataSet* DataSet() const { return m_dataSet; }
    void SetDataSet(TClientDataSet* ds);

    std::function<void(TDataSource&)> OnStateChange;

  signals:
    void dataSetChanged();
    void stateChanged();
    void dataChanged();
    void rowChanged(int viewRow);
    void currentChanged(int viewRow);

  private:
    TClientDataSet* m_dataSet = nullptr;
    QList<QMetaObject::Connection> m_links;
};

}  // namespace host

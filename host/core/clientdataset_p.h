#pragma once

// The state of a TClientDataSet, shared by the sources that implement it: the fields, the
// rows (see rowstorage.h), the index order and filtered view over them, the cursor and the
// pending edit.

#include <QHash>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

#include "core/clientdataset.h"
#include "core/filterexpr.h"
#include "core/rowstorage.h"

namespace host {

struct TClientDataSet::Impl {
    using Slot = rows::Slot;
    using RowPtr = rows::RowPtr;

    TClientDataSet* q;

    std::vector<std::unique_ptr<TField>> fields;
    QHash<QString, int> fieldIndex;  // upper-case name
    bool fieldsFromPacket = false;

    bool active = false;
    DataSetState state = DataSetState::Inactive;

    int nullWords = 0;
    std::vector<rows::StringPool> pools;             // one per field (text fields use theirs)
    std::vector<std::unique_ptr<Slot[]>> rowBlocks;  // the loaded rows (Blocks)
    std::vector<RowPtr> base;                        // insertion order (the packet's order)
    std::vector<Slot*> order;                        // index order (or insertion order)
    std::vector<Slot*> view;                         // order, filtered
    int cur = -1;
    bool bof = true;
    bool eof = true;

    QString indexNames;
    std::vector<int> indexFields;

    QString filterText;
    bool filtered = false;
    FilterExpr filter;  // compiled when active and filtered

    // The pending edit, copy-on-write: only the fields set since Edit/Insert hold a value
    // here (modified[f]); any other field of an edited row is read from the row itself, and
    // of an inserted row is null. touched lists the set fields, so that Post stores and
    // clearing resets only those.
    std::vector<QVariant> buffer;
    std::vector<quint8> modified;
    std::vector<int> touched;
    Slot* editRow = nullptr;       // Edit: the row being changed
    Slot* insertBefore = nullptr;  // Insert: the row the new one goes before (null: the end)

    int disableCount = 0;
    bool pendingData = false;
    bool pendingState = false;
    mutable int tempRow = -1;  // WithRowAsCurrent

    explicit Impl(TClientDataSet* owner) : q(owner) {}
    ~Impl() { releaseBlocks(); }

    void releaseBlocks();

    int fieldCount() const { return int(fields.size()); }
    const FieldDef& def(int f) const { return fields[size_t(f)]->m_def; }
    QString name() const;

    // --- rows (clientdataset.cpp) --------------------------------------------------------------
    static int wordsFor(int nFields) { return (nFields + 63) / 64; }
    RowPtr newRow() const;

    bool isNull(const Slot* row, int f) const { return (row[f >> 6] >> (f & 63)) & 1; }
    Slot slot(const Slot* row, int f) const { return row[nullWords + f]; }
    void setNull(Slot* row, int f) {
        row[f >> 6] |= Slot(1) << (f & 63);
        row[nullWords + f] = 0;
    }
    void setSlot(Slot* row, int f, Slot v) {
        row[f >> 6] &= ~(Slot(1) << (f & 63));
        row[nullWords + f] = v;
    }

    void clearRows();
    void prepareStorage();
    void openEmpty();

    // --- values (clientdataset_values.cpp) -----------------------------------------------------
    QVariant cellValue(const Slot* row, int f) const;
    // The stored form of a non-text value already converted to the field's type.
    Slot slotOf(int f, const QVariant& v) const;
    // Stores a value already converted to the field's type (see coerce).
    void storeValue(Slot* row, int f, const QVariant& v);
    // A value converted to field f's type (EDataSetError when it does not fit), a String cut
    // to the field's size.
    QVariant coerce(int f, const QVariant& v) const;

    bool editing() const { return state == DataSetState::Edit || state == DataSetState::Insert; }
    QVariant valueAtView(int viewRow, int f) const;
    // Value of field f in the pending edit.
    QVariant editValue(int f) const;
    QVariant currentValue(int f) const;
    // Text of a String/Memo field on the current row, without going through a variant.
    QString currentText(int f) const;
    void setCurrentValue(int f, const QVariant& v);

    // --- notifications and checks (clientdataset.cpp) -----------------------------------------
    void notifyData();
    void notifyRow(int viewRow);
    void notifyCurrent();
    void setState(DataSetState s);
    void scrolled();

    void checkActive() const;
    void checkBrowseMode();

    int resolve(const QString& fieldName) const {
        return fieldIndex.value(fieldName.trimmed().toUpper(), -1);
    }
    void rebuildFieldIndex();
    // Fields of the given definitions, in place of none (a data set being loaded).
    void makeFields(const QList<FieldDef>& defs) {
        for (int i = 0; i < defs.size(); ++i) {
            fields.push_back(std::unique_ptr<TField>(new TField(q, defs[i], i)));
        }
        rebuildFieldIndex();
    }
    void setFieldSize(int f, int size) { fields[size_t(f)]->m_def.size = size; }

    // --- index (clientdataset_index.cpp) -------------------------------------------------------
    std::vector<int> resolveIndex(const QString& names) const;
    int compareField(const Slot* a, const Slot* b, int f) const;
    int compareRows(const Slot* a, const Slot* b) const;
    void sortRows(std::vector<Slot*>& rows) const;
    std::vector<qint64> textRanks(int f) const;
    void rebuildOrder();

    // --- filter (clientdataset_filter.cpp) -----------------------------------------------------
    FilterExpr compileFilter(const QString& text) const;
    bool filterActive() const { return filtered && !filter.isEmpty(); }
    bool passes(const Slot* row) const;
    void rebuildView();

    // --- cursor and editing (clientdataset_cursor.cpp, clientdataset_edit.cpp) ----------------
    int viewPosOf(const Slot* row) const;
    void clampCursor();
    void clearEdit();
    // An empty pending edit sized for the current fields.
    void beginEdit();

    // --- loading (clientdataset_packet.cpp, datasetloader.cpp) ---------------------------------
    // Decodes a packet into fresh storage, then swaps it in; any failure leaves everything
    // as it was.
    void load(const QByteArray& packet);
    // Takes the content loaded into fresh (its fields when the data set has no persistent
    // ones, its rows), opens on the first row of the view with the index and filter given.
    void takeLoaded(Impl& fresh, bool persistent, std::vector<int> idx, FilterExpr flt);
};

}  // namespace host

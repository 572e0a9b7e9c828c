#include "core/clientdataset.h"

#include <QHash>
#include <QLocale>
#include <QTime>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/filterexpr.h"
#include "core/packet.h"
#include "core/rowstorage.h"
#include "core/textfold.h"

namespace host {

namespace {

using rows::Blocks;
using rows::doubleSlot;
using rows::isText;
using rows::RowPtr;
using rows::RowRelease;
using rows::Slot;
using rows::slotDouble;
using rows::StringPool;

QString formatDateTimeText(qint64 millis) {
    qint64 days;
    int ms;
    packetSplitMillis(millis, days, ms);
    const QDate d = packetDate(days);
    QString text = d.toString(QStringLiteral("dd/MM/yyyy"));
    if (ms != 0) {
        text += u' ';
        text += QTime::fromMSecsSinceStartOfDay(ms).toString(QStringLiteral("hh:mm:ss"));
    }
    return text;
}

QLocale plainLocale() {
    QLocale loc;
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    return loc;
}

// Delphi-style numeric display formats: '0' a digit always shown, '#' a digit shown when
// significant, ',' anywhere in the integer part turns on thousands grouping, '.' the decimal
// point; other characters before and after the digits are kept literally. Only the first
// ';'-separated section is used.
QString formatNumber(double value, const QString& format) {
    QString fmt = format.section(u';', 0, 0);
    int first = -1, last = -1;
    for (int i = 0; i < fmt.size(); ++i) {
        const QChar c = fmt[i];
        if (c == u'0' || c == u'#' || c == u'.' || c == u',') {
            if (first < 0) {
                first = i;
            }
            last = i;
        }
    }
    if (first < 0) {
        return fmt;
    }
    const QString prefix = fmt.left(first);
    const QString suffix = fmt.mid(last + 1);
    const QString body = fmt.mid(first, last - first + 1);
    const int dot = int(body.indexOf(u'.'));
    const QString intPart = dot >= 0 ? body.left(dot) : body;
    const QString fracPart = dot >= 0 ? body.mid(dot + 1) : QString();
    const bool group = intPart.contains(u',');
    const int minInt = int(intPart.count(u'0'));
    const int minFrac = int(fracPart.count(u'0'));
    const int maxFrac = minFrac + int(fracPart.count(u'#'));

    QLocale loc;
    loc.setNumberOptions(group ? QLocale::DefaultNumberOptions : QLocale::OmitGroupSeparator);
    const double rounded = std::abs(value);
    QString digits = loc.toString(rounded, 'f', maxFrac);
    const QString point = loc.decimalPoint();
    if (maxFrac > minFrac) {
        // Drop optional trailing zeros.
        int keep = int(digits.size());
        int fracDigits = maxFrac;
        while (fracDigits > minFrac && digits.at(keep - 1) == u'0') {
            --keep;
            --fracDigits;
        }
        digits.truncate(keep);
        if (fracDigits == 0 && digits.endsWith(point)) {
            digits.chop(point.size());
        }
    }
    const int pointAt =
        maxFrac > 0 && digits.contains(point) ? int(digits.indexOf(point)) : int(digits.size());
    QString intDigits = digits.left(pointAt);
    const QString rest = digits.mid(pointAt);
    if (minInt == 0 && intDigits == u"0") {
        intDigits.clear();
    } else {
        int count = 0;
        for (QChar c : intDigits) {
            count += c.isDigit() ? 1 : 0;
        }
        if (count < minInt) {
            intDigits.prepend(QString(minInt - count, u'0'));
        }
    }
    QString out = intDigits + rest;
    bool nonZero = false;
    for (QChar c : out) {
        if (c.isDigit() && c != u'0') {
            nonZero = true;
            break;
        }
    }
    if (value < 0 && nonZero) {
        out.prepend(loc.negativeSign());
    }
    return prefix + out + suffix;
}

}  // namespace

// ============================================================================================

struct TClientDataSet::Impl {
    TClientDataSet* q;

    std::vector<std::unique_ptr<TField>> fields;
    QHash<QString, int> fieldIndex;  // upper-case name
    bool fieldsFromPacket = false;

    bool active = false;
    DataSetState state = DataSetState::Inactive;

    int nullWords = 0;
    std::vector<StringPool> pools;                   // one per field (text fields use theirs)
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

    void releaseBlocks() {
        base.clear();
        Blocks::giveBack(rowBlocks);
        for (StringPool& p : pools) {
            p.releaseBlocks();
        }
    }

    int fieldCount() const { return int(fields.size()); }
    const FieldDef& def(int f) const { return fields[size_t(f)]->m_def; }
    QString name() const {
        return q->objectName().isEmpty() ? QStringLiteral("conjunto de dados") : q->objectName();
    }

    // --- rows ---------------------------------------------------------------------------------
    static int wordsFor(int nFields) { return (nFields + 63) / 64; }

    RowPtr newRow() const {
        const size_t n = size_t(nullWords + fieldCount());
        RowPtr row(new Slot[n]);
        std::memset(row.get(), 0, n * sizeof(Slot));
        for (int f = 0; f < fieldCount(); ++f) {
            row[size_t(f >> 6)] |= Slot(1) << (f & 63);  // every field starts null
        }
        return row;
    }

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

    QVariant cellValue(const Slot* row, int f) const {
        if (isNull(row, f)) {
            return {};
        }
        const Slot s = slot(row, f);
        switch (def(f).type) {
            case FieldType::String:
            case FieldType::Memo:
                return QVariant(pools[size_t(f)].text(s));
            case FieldType::Integer:
                return QVariant(qint64(s));
            case FieldType::Float:
                return QVariant(slotDouble(s));
            case FieldType::Boolean:
                return QVariant(s != 0);
            case FieldType::Date:
                return QVariant(packetDate(qint64(s)));
            case FieldType::DateTime:
                return QVariant(packetDateTime(qint64(s)));
        }
        return {};
    }

    // The stored form of a non-text value already converted to the field's type.
    Slot slotOf(int f, const QVariant& v) const {
        switch (def(f).type) {
            case FieldType::Integer:
                return Slot(v.toLongLong());
            case FieldType::Float:
                return doubleSlot(v.toDouble());
            case FieldType::Boolean:
                return v.toBool() ? 1 : 0;
            case FieldType::Date:
                return Slot(packetDays(v.toDate()));
            case FieldType::DateTime:
                return Slot(packetMillis(v.toDateTime()));
            default:
                return 0;
        }
    }

    // Stores a value already converted to the field's type (see coerce).
    void storeValue(Slot* row, int f, const QVariant& v) {
        if (!v.isValid()) {
            setNull(row, f);
            return;
        }
        switch (def(f).type) {
            case FieldType::String:
            case FieldType::Memo:
                setSlot(row, f, pools[size_t(f)].add(v.toString()));
                break;
            case FieldType::Integer:
                setSlot(row, f, Slot(v.toLongLong()));
                break;
            case FieldType::Float:
                setSlot(row, f, doubleSlot(v.toDouble()));
                break;
            case FieldType::Boolean:
                setSlot(row, f, v.toBool() ? 1 : 0);
                break;
            case FieldType::Date:
                setSlot(row, f, Slot(packetDays(v.toDate())));
                break;
            case FieldType::DateTime:
                setSlot(row, f, Slot(packetMillis(v.toDateTime())));
                break;
        }
    }

    QVariant coerce(int f, const QVariant& v) const {
        QVariant out;
        try {
            out = packetCoerce(v, def(f));
        } catch (const EPacketError& e) {
            throw EDataSetError(e.text());
        }
        if (out.isValid() && def(f).type == FieldType::String && def(f).size > 0) {
            const QString s = out.toString();
            if (s.size() > def(f).size) {
                out = QVariant(s.left(def(f).size));
            }
        }
        return out;
    }

    // --- current row ------------------------------------------------------------------------
    bool editing() const { return state == DataSetState::Edit || state == DataSetState::Insert; }

    QVariant valueAtView(int viewRow, int f) const {
        if (viewRow < 0 || viewRow >= int(view.size()) || f < 0 || f >= fieldCount()) {
            return {};
        }
        const Slot* row = view[size_t(viewRow)];
        if (state == DataSetState::Edit && row == editRow && modified[size_t(f)]) {
            return buffer[size_t(f)];
        }
        return cellValue(row, f);
    }

    // Value of field f in the pending edit.
    QVariant editValue(int f) const {
        if (modified[size_t(f)] || state == DataSetState::Insert) {
            return buffer[size_t(f)];
        }
        return cellValue(editRow, f);
    }

    QVariant currentValue(int f) const {
        if (tempRow >= 0) {
            return valueAtView(tempRow, f);
        }
        if (editing()) {
            return editValue(f);
        }
        return valueAtView(cur, f);
    }

    // Text of a String/Memo field on the current row, without going through a variant.
    QString currentText(int f) const {
        const Slot* row = nullptr;
        if (tempRow >= 0) {
            if (tempRow >= int(view.size())) {
                return {};
            }
            row = view[size_t(tempRow)];
            if (state == DataSetState::Edit && row == editRow && modified[size_t(f)]) {
                return buffer[size_t(f)].toString();
            }
        } else if (editing()) {
            if (modified[size_t(f)] || state == DataSetState::Insert) {
                return buffer[size_t(f)].toString();
            }
            row = editRow;
        } else {
            if (cur < 0 || cur >= int(view.size())) {
                return {};
            }
            row = view[size_t(cur)];
        }
        if (isNull(row, f)) {
            return {};
        }
        return pools[size_t(f)].text(slot(row, f));
    }

    void setCurrentValue(int f, const QVariant& v) {
        if (!editing()) {
            throw EDataSetError(
                QStringLiteral(
                    "%1 não está em edição ou inclusão: o campo %2 não pode ser alterado.")
                    .arg(name(), def(f).name));
        }
        buffer[size_t(f)] = coerce(f, v);
        if (!modified[size_t(f)]) {
            modified[size_t(f)] = 1;
            touched.push_back(f);
        }
        if (state == DataSetState::Edit) {
            notifyRow(cur);
        }
    }

    // --- notifications ------------------------------------------------------------------------
    void notifyData() {
        if (disableCount > 0) {
            pendingData = true;
        } else {
            emit q->dataChanged();
        }
    }
    void notifyRow(int viewRow) {
        if (disableCount > 0) {
            pendingData = true;
        } else {
            emit q->rowChanged(viewRow);
        }
    }
    void notifyCurrent() {
        if (disableCount > 0) {
            pendingData = true;
        } else {
            emit q->currentChanged(cur);
        }
    }
    void setState(DataSetState s) {
        if (state == s) {
            return;
        }
        state = s;
        if (disableCount > 0) {
            pendingState = true;
        } else {
            emit q->stateChanged();
        }
    }
    void scrolled() {
        notifyCurrent();
        if (q->AfterScroll) {
            q->AfterScroll(*q);
        }
    }

    // --- checks -------------------------------------------------------------------------------
    void checkActive() const {
        if (!active) {
            throw EDataSetError(QStringLiteral("%1 está fechado.").arg(name()));
        }
    }
    void checkBrowseMode() {
        checkActive();
        if (editing()) {
            q->Post();
        }
    }

    int resolve(const QString& fieldName) const {
        return fieldIndex.value(fieldName.trimmed().toUpper(), -1);
    }

    void rebuildFieldIndex() {
        fieldIndex.clear();
        for (int i = 0; i < fieldCount(); ++i) {
            fields[size_t(i)]->m_index = i;
            fieldIndex.insert(fields[size_t(i)]->m_def.name.toUpper(), i);
        }
    }

    // --- index --------------------------------------------------------------------------------
    std::vector<int> resolveIndex(const QString& names) const {
        std::vector<int> out;
        const QStringList parts = names.split(u';', Qt::SkipEmptyParts);
        for (const QString& p : parts) {
            const QString n = p.trimmed();
            if (n.isEmpty()) {
                continue;
            }
            const int f = resolve(n);
            if (f < 0) {
                throw EDataSetError(
                    QStringLiteral("Campo de índice \"%1\" não existe em %2.").arg(n, name()));
            }
            out.push_back(f);
        }
        return out;
    }

    int compareField(const Slot* a, const Slot* b, int f) const {
        const bool na = isNull(a, f), nb = isNull(b, f);
        if (na || nb) {
            return na == nb ? 0 : (na ? -1 : 1);
        }
        const Slot sa = slot(a, f), sb = slot(b, f);
        switch (def(f).type) {
            case FieldType::String:
            case FieldType::Memo:
                if (sa == sb) {
                    return 0;
                }
                return foldCompare(pools[size_t(f)].text(sa), pools[size_t(f)].text(sb));
            case FieldType::Float: {
                const double da = slotDouble(sa), db = slotDouble(sb);
                return da < db ? -1 : (db < da ? 1 : 0);
            }
            default: {
                const qint64 ia = qint64(sa), ib = qint64(sb);
                return ia < ib ? -1 : (ib < ia ? 1 : 0);
            }
        }
    }

    int compareRows(const Slot* a, const Slot* b) const {
        for (int f : indexFields) {
            const int c = compareField(a, b, f);
            if (c != 0) {
                return c;
            }
        }
        return 0;
    }

    // Sorts rows (given in insertion order) by the index fields, stably. Each index field
    // becomes one 64-bit key per row: a text's rank among the column's distinct folded texts
    // (each distinct text is folded and sorted once), a number or date as itself (a double
    // through an order-keeping bit mapping), null as the smallest key. The sort itself then
    // compares plain integers.
    void sortRows(std::vector<Slot*>& rows) const {
        if (indexFields.empty() || rows.size() < 2) {
            return;
        }
        const size_t n = rows.size();
        const size_t nc = indexFields.size();
        constexpr qint64 kNullKey = std::numeric_limits<qint64>::min();
        std::vector<qint64> keys(n * nc);
        for (size_t c = 0; c < nc; ++c) {
            const int f = indexFields[c];
            const FieldType type = def(f).type;
            if (isText(type)) {
                // Ranks are by entry: a cell of bytes (see StringPool) becomes one first.
                for (Slot* r : rows) {
                    if (!isNull(r, f)) {
                        r[nullWords + f] = pools[size_t(f)].entry(slot(r, f));
                    }
                }
                const std::vector<qint64> rank = textRanks(f);
                for (size_t i = 0; i < n; ++i) {
                    const Slot* r = rows[i];
                    keys[i * nc + c] = isNull(r, f) ? kNullKey : rank[size_t(slot(r, f))];
                }
            } else if (type == FieldType::Float) {
                for (size_t i = 0; i < n; ++i) {
                    const Slot* r = rows[i];
                    if (isNull(r, f)) {
                        keys[i * nc + c] = kNullKey;
                        continue;
                    }
                    qint64 bits = std::bit_cast<qint64>(slotDouble(slot(r, f)));
                    if (bits < 0) {
                        bits ^= std::numeric_limits<qint64>::max();
                    }
                    keys[i * nc + c] = bits;
                }
            } else {
                for (size_t i = 0; i < n; ++i) {
                    const Slot* r = rows[i];
                    keys[i * nc + c] = isNull(r, f) ? kNullKey : qint64(slot(r, f));
                }
            }
        }
        std::vector<quint32> perm(n);
        for (size_t i = 0; i < n; ++i) {
            perm[i] = quint32(i);
        }
        const qint64* k = keys.data();
        std::stable_sort(perm.begin(), perm.end(), [k, nc](quint32 x, quint32 y) {
            const qint64* a = k + size_t(x) * nc;
            const qint64* b = k + size_t(y) * nc;
            for (size_t c = 0; c < nc; ++c) {
                if (a[c] != b[c]) {
                    return a[c] < b[c];
                }
            }
            return false;
        });
        std::vector<Slot*> sorted(n);
        for (size_t i = 0; i < n; ++i) {
            sorted[i] = rows[perm[i]];
        }
        rows.swap(sorted);
    }

    // Rank (from 0) of every pool entry of a text column in folded order; equal folded texts
    // share a rank.
    std::vector<qint64> textRanks(int f) const {
        const StringPool& pool = pools[size_t(f)];
        const size_t m = pool.strings.size();
        std::vector<char16_t> arena;
        std::vector<std::pair<quint32, quint32>> span(m);  // offset, length
        for (size_t i = 0; i < m; ++i) {
            const QString& text = pool.strings[i];
            span[i] = {quint32(arena.size()), quint32(text.size())};
            foldAppend(text, arena);
        }
        auto view = [&](quint32 id) {
            return std::u16string_view(arena.data() + span[id].first, span[id].second);
        };
        std::vector<quint32> ids(m);
        for (size_t i = 0; i < m; ++i) {
            ids[i] = quint32(i);
        }
        std::sort(ids.begin(), ids.end(), [&](quint32 a, quint32 b) { return view(a) < view(b); });
        std::vector<qint64> rank(m);
        qint64 r = 0;
        for (size_t i = 0; i < m; ++i) {
            if (i > 0 && view(ids[i]) != view(ids[i - 1])) {
                ++r;
            }
            rank[ids[i]] = r;
        }
        return rank;
    }

    void rebuildOrder() {
        order.clear();
        order.reserve(base.size());
        for (const auto& r : base) {
            order.push_back(r.get());
        }
        sortRows(order);
    }

    // --- filter -------------------------------------------------------------------------------
    FilterExpr compileFilter(const QString& text) const {
        return FilterExpr::compile(text, [this](const QString& n, FieldDef& out) {
            const int f = resolve(n);
            if (f >= 0) {
                out = def(f);
            }
            return f;
        });
    }

    bool filterActive() const { return filtered && !filter.isEmpty(); }

    bool passes(const Slot* row) const {
        return filter.eval([&](const FilterExpr::Comparison& c) {
            const int f = c.field;
            const bool null = isNull(row, f);
            if (isText(c.type)) {
                static const QString empty;
                const QString& s = null ? empty : pools[size_t(f)].text(slot(row, f));
                if (c.op == FilterExpr::Op::Eq) {
                    return s == c.text;
                }
                if (c.op == FilterExpr::Op::Ne) {
                    return s != c.text;
                }
                return FilterExpr::applyOp(c.op, s.compare(c.text));
            }
            if (null || c.null) {
                if (c.op == FilterExpr::Op::Eq) {
                    return null && c.null;
                }
                if (c.op == FilterExpr::Op::Ne) {
                    return !(null && c.null);
                }
                return false;
            }
            const Slot s = slot(row, f);
            if (c.type == FieldType::Float) {
                const double v = slotDouble(s);
                return FilterExpr::applyOp(c.op, v < c.d ? -1 : (c.d < v ? 1 : 0));
            }
            const qint64 v = qint64(s);
            return FilterExpr::applyOp(c.op, v < c.i ? -1 : (c.i < v ? 1 : 0));
        });
    }

    void rebuildView() {
        if (!filterActive()) {
            view = order;
            return;
        }
        view.clear();
        view.reserve(order.size());
        for (Slot* r : order) {
            if (passes(r)) {
                view.push_back(r);
            }
        }
    }

    int viewPosOf(const Slot* row) const {
        if (!row) {
            return -1;
        }
        auto it = std::find(view.begin(), view.end(), row);
        return it == view.end() ? -1 : int(it - view.begin());
    }

    void clampCursor() {
        if (view.empty()) {
            cur = -1;
        } else if (cur < 0) {
            cur = 0;
        } else if (cur >= int(view.size())) {
            cur = int(view.size()) - 1;
        }
    }

    void clearEdit() {
        for (int f : touched) {
            if (size_t(f) < buffer.size()) {
                buffer[size_t(f)] = QVariant();
                modified[size_t(f)] = 0;
            }
        }
        touched.clear();
        editRow = nullptr;
        insertBefore = nullptr;
    }

    // An empty pending edit sized for the current fields.
    void beginEdit() {
        clearEdit();
        const size_t n = size_t(fieldCount());
        if (buffer.size() != n) {
            buffer.assign(n, QVariant());
            modified.assign(n, 0);
        }
    }

    void clearRows() {
        view.clear();
        order.clear();
        base.clear();
        Blocks::giveBack(rowBlocks);
        for (StringPool& p : pools) {
            p.clear();
        }
        cur = -1;
        bof = eof = true;
    }

    void prepareStorage() {
        nullWords = wordsFor(fieldCount());
        for (StringPool& p : pools) {
            p.releaseBlocks();
        }
        pools.clear();
        pools.resize(size_t(fieldCount()));
    }

    void openEmpty() {
        if (fields.empty()) {
            throw EDataSetError(QStringLiteral("%1 não tem campos para abrir.").arg(name()));
        }
        std::vector<int> idx = resolveIndex(indexNames);
        FilterExpr flt = filtered ? compileFilter(filterText) : FilterExpr();
        prepareStorage();
        clearRows();
        clearEdit();
        indexFields = std::move(idx);
        filter = std::move(flt);
        active = true;
        setState(DataSetState::Browse);
        notifyData();
        scrolled();
    }

    // Decodes a packet into fresh storage, then swaps it in; any failure leaves everything
    // as it was.
    void load(const QByteArray& packet);
};

// ============================================================================================

void TClientDataSet::Impl::load(const QByteArray& packet) {
    PacketReader reader(packet);
    const QList<FieldDef>& pf = reader.fields();

    const bool persistent = !fields.empty() && !fieldsFromPacket;
    QList<FieldDef> defs;
    std::vector<int> target(size_t(pf.size()), -1);  // packet column -> field
    if (persistent) {
        QHash<QString, int> byName;
        for (int p = 0; p < pf.size(); ++p) {
            byName.insert(pf[p].name.toUpper(), p);
        }
        for (int f = 0; f < fieldCount(); ++f) {
            const int p = byName.value(def(f).name.toUpper(), -1);
            if (p < 0) {
                throw EDataSetError(QStringLiteral("Campo %1 de %2 não veio no pacote de dados.")
                                        .arg(def(f).name, name()));
            }
            target[size_t(p)] = f;
            defs.append(def(f));
        }
    } else {
        defs = pf;
        for (int p = 0; p < pf.size(); ++p) {
            target[size_t(p)] = p;
        }
    }
    if (defs.isEmpty()) {
        throw EPacketError(QStringLiteral("Pacote de dados sem campos."));
    }

    // Build the new content on the side.
    Impl fresh(q);
    for (int i = 0; i < defs.size(); ++i) {
        fresh.fields.push_back(std::unique_ptr<TField>(new TField(q, defs[i], i)));
    }
    fresh.rebuildFieldIndex();
    fresh.prepareStorage();
    std::vector<int> idx = fresh.resolveIndex(indexNames);
    FilterExpr flt = filtered ? fresh.compileFilter(filterText) : FilterExpr();

    if (reader.rowCountHint() > 0) {
        fresh.base.reserve(size_t(reader.rowCountHint()));
    }
    const int nf = fresh.fieldCount();
    // Codes repeat endlessly: their raw bytes map straight to a pool entry.
    struct ShortCache {
        quint64 key[64];
        quint32 id[64];
        ShortCache() { std::fill(std::begin(key), std::end(key), ~quint64(0)); }
    };
    std::vector<ShortCache> caches(static_cast<size_t>(nf));
    // Longer texts are looked up by their bytes while that pays (issuer names repeat, access
    // keys do not), so a repeated text costs neither a QString nor a UTF-8 decoding.
    struct RawLoad {
        QHash<QByteArray, quint32> index;
        bool interning = true;
        quint32 lookups = 0;
        quint32 hits = 0;
        Slot add(QByteArrayView raw, StringPool& pool, Utf8Text& utf8) {
            if (!interning) {
                // Kept as bytes till read; the decoder would refuse just what is not valid.
                if (raw.isValidUtf8()) {
                    return pool.addBytes(raw);
                }
                pool.strings.push_back(utf8.decode(raw));
                return quint32(pool.strings.size() - 1);
            }
            ++lookups;
            const QByteArray probe = QByteArray::fromRawData(raw.data(), raw.size());
            auto it = index.constFind(probe);
            if (it != index.cend()) {
                ++hits;
                return it.value();
            }
            pool.strings.push_back(utf8.decode(raw));
            const quint32 id = quint32(pool.strings.size() - 1);
            index.insert(QByteArray(raw.data(), raw.size()), id);
            if (lookups == StringPool::kProbe && hits < StringPool::kMinHitsPerProbe) {
                interning = false;
                index = QHash<QByteArray, quint32>();
            }
            return id;
        }
    };
    std::vector<RawLoad> rawLoads(static_cast<size_t>(nf));
    Utf8Text utf8;
    reader.setShortTexts(true);
    reader.setRawTexts(true);
    PacketCell cell;
    std::vector<FieldType> fromTypes, toTypes;
    for (const FieldDef& def : pf) {
        fromTypes.push_back(def.type);
    }
    for (const FieldDef& def : std::as_const(defs)) {
        toTypes.push_back(def.type);
    }
    const size_t width = size_t(fresh.nullWords + nf);
    const size_t rowsPerBlock = Blocks::kBlockSlots / width;
    size_t blockRows = rowsPerBlock;
    while (reader.nextRow()) {
        RowPtr row;
        if (rowsPerBlock == 0) {
            row = RowPtr(new Slot[width]);  // wider than a block
        } else {
            if (blockRows == rowsPerBlock) {
                fresh.rowBlocks.push_back(Blocks::take());
                blockRows = 0;
            }
            row = RowPtr(fresh.rowBlocks.back().get() + blockRows++ * width, RowRelease{false});
        }
        std::memset(row.get(), 0, sizeof(Slot) * width);
        for (int p = 0; p < pf.size(); ++p) {
            reader.readCell(cell);
            const int f = target[size_t(p)];
            if (f < 0) {
                continue;
            }
            if (cell.null) {
                fresh.setNull(row.get(), f);
                continue;
            }
            const FieldType from = fromTypes[size_t(p)];
            const FieldType to = toTypes[size_t(f)];
            if (from == to || (isText(from) && isText(to))) {
                switch (to) {
                    case FieldType::String:
                    case FieldType::Memo: {
                        Slot id;
                        if (cell.isShort) {
                            ShortCache& c = caches[size_t(f)];
                            const size_t at = size_t((cell.shortKey * 0x9E3779B97F4A7C15ull) >> 58);
                            if (c.key[at] == cell.shortKey) {
                                id = c.id[at];
                            } else {
                                id = fresh.pools[size_t(f)].add(
                                    PacketCell::shortText(cell.shortKey));
                                c.key[at] = cell.shortKey;
                                c.id[at] = id;
                            }
                        } else {
                            id = rawLoads[size_t(f)].add(cell.raw, fresh.pools[size_t(f)], utf8);
                        }
                        fresh.setSlot(row.get(), f, id);
                        break;
                    }
                    case FieldType::Float:
                        fresh.setSlot(row.get(), f, doubleSlot(cell.d));
                        break;
                    default:
                        fresh.setSlot(row.get(), f, Slot(cell.i));
                        break;
                }
                continue;
            }
            // Different types in packet and field: convert through a variant.
            QVariant v;
            switch (from) {
                case FieldType::String:
                case FieldType::Memo:
                    v = cell.isShort ? PacketCell::shortText(cell.shortKey) : utf8.decode(cell.raw);
                    break;
                case FieldType::Integer:
                    v = cell.i;
                    break;
                case FieldType::Float:
                    v = cell.d;
                    break;
                case FieldType::Boolean:
                    v = cell.i != 0;
                    break;
                case FieldType::Date:
                    v = packetDate(cell.i);
                    break;
                case FieldType::DateTime:
                    v = packetDateTime(cell.i);
                    break;
            }
            fresh.storeValue(row.get(), f, fresh.coerce(f, v));
        }
        reader.endRow();
        fresh.base.push_back(std::move(row));
    }

    // Commit.
    if (!persistent) {
        // Fields of the packet: a field that keeps its name and type keeps its TField (and
        // its display settings and handlers), so a reopened query does not strand references.
        for (auto& f : fresh.fields) {
            const int old = resolve(f->m_def.name);
            if (old >= 0 && fields[size_t(old)] && def(old).type == f->m_def.type) {
                std::unique_ptr<TField> kept = std::move(fields[size_t(old)]);
                kept->m_def = f->m_def;
                f = std::move(kept);
            }
        }
        fields.swap(fresh.fields);
        rebuildFieldIndex();
        fieldsFromPacket = true;
    }
    clearEdit();
    nullWords = fresh.nullWords;
    pools.swap(fresh.pools);
    base.swap(fresh.base);
    rowBlocks.swap(fresh.rowBlocks);
    indexFields = std::move(idx);
    filter = std::move(flt);
    rebuildOrder();
    rebuildView();
    cur = view.empty() ? -1 : 0;
    bof = true;
    eof = view.empty();
    active = true;
    setState(DataSetState::Browse);
    notifyData();
    scrolled();
}

// ============================================================================================
// TField

QVariant TField::Value() const {
    return m_owner->d->currentValue(m_index);
}

void TField::SetValue(const QVariant& v) {
    m_owner->d->setCurrentValue(m_index, v);
}

bool TField::IsNull() const {
    return !Value().isValid();
}

void TField::Clear() {
    SetValue(QVariant());
}

QString TField::AsString() const {
    if (isText(m_def.type)) {
        return m_owner->d->currentText(m_index);
    }
    const QVariant v = Value();
    if (!v.isValid()) {
        return {};
    }
    switch (m_def.type) {
        case FieldType::String:
        case FieldType::Memo:
            return v.toString();
        case FieldType::Integer:
            return QString::number(v.toLongLong());
        case FieldType::Float:
            return plainLocale().toString(v.toDouble(), 'g', 15);
        case FieldType::Boolean:
            return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        case FieldType::Date:
            return v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
        case FieldType::DateTime:
            return formatDateTimeText(packetMillis(v.toDateTime()));
    }
    return v.toString();
}

void TField::SetAsString(const QString& s) {
    SetValue(QVariant(s));
}

qint64 TField::AsInteger() const {
    const QVariant v = Value();
    if (!v.isValid()) {
        return 0;
    }
    switch (m_def.type) {
        case FieldType::Integer:
            return v.toLongLong();
        case FieldType::Float: {
            // Rounded half away from zero; a value no qint64 holds (or NaN) is no integer.
            const double r = std::round(v.toDouble());
            if (!(r >= -0x1p63 && r < 0x1p63)) {
                throw EDataSetError(QStringLiteral("%1 não cabe num valor inteiro (campo %2).")
                                        .arg(QString::number(v.toDouble(), 'g', 17), m_def.name));
            }
            return qint64(r);
        }
        case FieldType::Boolean:
            return v.toBool() ? 1 : 0;
        case FieldType::String:
        case FieldType::Memo: {
            bool ok = false;
            const qint64 n = v.toString().trimmed().toLongLong(&ok);
            if (!ok) {
                throw EDataSetError(
                    QStringLiteral("\"%1\" não é um valor inteiro válido (campo %2).")
                        .arg(v.toString(), m_def.name));
            }
            return n;
        }
        default:
            throw EDataSetError(QStringLiteral("O campo %1 (%2) não pode ser lido como inteiro.")
                                    .arg(m_def.name, fieldTypeName(m_def.type)));
    }
}

void TField::SetAsInteger(qint64 v) {
    SetValue(QVariant(v));
}

double TField::AsFloat() const {
    const QVariant v = Value();
    if (!v.isValid()) {
        return 0;
    }
    switch (m_def.type) {
        case FieldType::Integer:
        case FieldType::Float:
            return v.toDouble();
        case FieldType::Boolean:
            return v.toBool() ? 1 : 0;
        case FieldType::String:
        case FieldType::Memo: {
            try {
                const QVariant n =
                    packetCoerce(v, FieldDef{m_def.name, FieldType::Float, 0, false});
                return n.isValid() ? n.toDouble() : 0;
            } catch (const EPacketError&) {
                throw EDataSetError(
                    QStringLiteral("\"%1\" não é um valor numérico válido (campo %2).")
                        .arg(v.toString(), m_def.name));
            }
        }
        default:
            throw EDataSetError(QStringLiteral("O campo %1 (%2) não pode ser lido como número.")
                                    .arg(m_def.name, fieldTypeName(m_def.type)));
    }
}

void TField::SetAsFloat(double v) {
    SetValue(QVariant(v));
}

bool TField::AsBoolean() const {
    const QVariant v = Value();
    if (!v.isValid()) {
        return false;
    }
    try {
        const QVariant b = packetCoerce(v, FieldDef{m_def.name, FieldType::Boolean, 0, false});
        return b.isValid() && b.toBool();
    } catch (const EPacketError&) {
        throw EDataSetError(QStringLiteral("\"%1\" não é um valor lógico válido (campo %2).")
                                .arg(v.toString(), m_def.name));
    }
}

void TField::SetAsBoolean(bool v) {
    SetValue(QVariant(v));
}

QDateTime TField::AsDateTime() const {
    const QVariant v = Value();
    if (!v.isValid()) {
        return {};
    }
    try {
        const QVariant dt = packetCoerce(v, FieldDef{m_def.name, FieldType::DateTime, 0, false});
        return dt.toDateTime();
    } catch (const EPacketError&) {
        throw EDataSetError(QStringLiteral("\"%1\" não é uma data válida (campo %2).")
                                .arg(v.toString(), m_def.name));
    }
}

void TField::SetAsDateTime(const QDateTime& v) {
    SetValue(v.isValid() ? QVariant(v) : QVariant());
}

QDate TField::AsDate() const {
    const QDateTime dt = AsDateTime();
    return dt.isValid() ? dt.date() : QDate();
}

void TField::SetAsDate(const QDate& v) {
    SetValue(v.isValid() ? QVariant(v) : QVariant());
}

QString TField::formatValue(const QVariant& v) const {
    if (!v.isValid()) {
        return {};
    }
    switch (m_def.type) {
        case FieldType::Integer:
            return m_displayFormat.isEmpty()
                       ? QString::number(v.toLongLong())
                       : formatNumber(double(v.toLongLong()), m_displayFormat);
        case FieldType::Float:
            return m_displayFormat.isEmpty() ? plainLocale().toString(v.toDouble(), 'g', 15)
                                             : formatNumber(v.toDouble(), m_displayFormat);
        case FieldType::Boolean:
            return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        case FieldType::Date:
            return v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
        case FieldType::DateTime:
            return formatDateTimeText(packetMillis(v.toDateTime()));
        default:
            return v.toString();
    }
}

QString TField::DisplayText() const {
    if (m_onGetText) {
        QString text;
        m_onGetText(const_cast<TField&>(*this), text, true);
        return text;
    }
    return formatValue(Value());
}

QString TField::DisplayTextAt(int viewRow) const {
    if (m_onGetText) {
        QString text;
        m_owner->WithRowAsCurrent(viewRow,
                                  [&]() { m_onGetText(const_cast<TField&>(*this), text, true); });
        return text;
    }
    return formatValue(m_owner->d->valueAtView(viewRow, m_index));
}

QVariant TField::ValueAt(int viewRow) const {
    return m_owner->d->valueAtView(viewRow, m_index);
}

int TField::defaultWidth() const {
    switch (m_def.type) {
        case FieldType::String:
            return m_def.size > 0 ? m_def.size : 20;
        case FieldType::Memo:
            return 10;
        case FieldType::Integer:
        case FieldType::Float:
        case FieldType::Date:
            return 10;
        case FieldType::Boolean:
            return 5;
        case FieldType::DateTime:
            return 18;
    }
    return 10;
}

// ============================================================================================
// TClientDataSet

TClientDataSet::TClientDataSet(QObject* parent) : QObject(parent), d(new Impl(this)) {}

TClientDataSet::~TClientDataSet() = default;

TField& TClientDataSet::AddField(const FieldDef& def) {
    if (d->active) {
        throw EDataSetError(QStringLiteral("Campo %1: não se declara campo com %2 aberto.")
                                .arg(def.name, d->name()));
    }
    if (def.name.trimmed().isEmpty()) {
        throw EDataSetError(QStringLiteral("Campo sem nome em %1.").arg(d->name()));
    }
    if (int(def.type) < 1 || int(def.type) > 7) {
        throw EDataSetError(QStringLiteral("Campo %1 com tipo desconhecido.").arg(def.name));
    }
    if (d->fieldsFromPacket) {
        d->fields.clear();
        d->fieldIndex.clear();
        d->fieldsFromPacket = false;
    }
    if (d->resolve(def.name) >= 0) {
        throw EDataSetError(QStringLiteral("Campo %1 repetido em %2.").arg(def.name, d->name()));
    }
    const int index = d->fieldCount();
    d->fields.push_back(std::unique_ptr<TField>(new TField(this, def, index)));
    d->fieldIndex.insert(def.name.trimmed().toUpper(), index);
    return *d->fields.back();
}

void TClientDataSet::ClearFields() {
    if (d->active) {
        throw EDataSetError(
            QStringLiteral("Os campos de %1 não podem ser removidos com ele aberto.")
                .arg(d->name()));
    }
    d->fields.clear();
    d->fieldIndex.clear();
    d->fieldsFromPacket = false;
}

int TClientDataSet::FieldCount() const {
    return d->fieldCount();
}

TField& TClientDataSet::Fields(int index) const {
    if (index < 0 || index >= d->fieldCount()) {
        throw EDataSetError(
            QStringLiteral("Campo de número %1 não existe em %2.").arg(index).arg(d->name()));
    }
    return *d->fields[size_t(index)];
}

TField& TClientDataSet::FieldByName(const QString& name) const {
    TField* f = FindField(name);
    if (!f) {
        throw EDataSetError(
            QStringLiteral("Campo \"%1\" não encontrado em %2.").arg(name, d->name()));
    }
    return *f;
}

TField* TClientDataSet::FindField(const QString& name) const {
    const int i = d->resolve(name);
    return i < 0 ? nullptr : d->fields[size_t(i)].get();
}

QList<FieldDef> TClientDataSet::FieldDefs() const {
    QList<FieldDef> out;
    out.reserve(d->fieldCount());
    for (const auto& f : d->fields) {
        out.append(f->m_def);
    }
    return out;
}

void TClientDataSet::CreateDataSet() {
    if (d->active) {
        Close();
    }
    d->fieldsFromPacket = false;
    d->openEmpty();
}

QByteArray TClientDataSet::Data() const {
    const QList<FieldDef> defs = FieldDefs();
    if (defs.isEmpty()) {
        return {};
    }
    PacketWriter w(defs, qsizetype(d->base.size()),
                   qsizetype(d->base.size()) * defs.size() * 6 + 256);
    const int nf = d->fieldCount();
    for (const auto& rowPtr : d->base) {
        const Slot* row = rowPtr.get();
        w.beginRow();
        for (int f = 0; f < nf; ++f) {
            if (d->isNull(row, f)) {
                w.null();
                continue;
            }
            const Slot s = d->slot(row, f);
            switch (defs[f].type) {
                case FieldType::String:
                case FieldType::Memo:
                    w.string(d->pools[size_t(f)].text(s));
                    break;
                case FieldType::Integer:
                    w.integer(qint64(s));
                    break;
                case FieldType::Float:
                    w.floating(slotDouble(s));
                    break;
                case FieldType::Boolean:
                    w.boolean(s != 0);
                    break;
                case FieldType::Date:
                    w.dateDays(qint64(s));
                    break;
                case FieldType::DateTime:
                    w.dateTimeMillis(qint64(s));
                    break;
            }
        }
        w.endRow();
    }
    return w.finish();
}

void TClientDataSet::SetData(const QByteArray& packet) {
    d->load(packet);
}

void TClientDataSet::Open() {
    if (d->active) {
        return;
    }
    d->openEmpty();
}

void TClientDataSet::Close() {
    if (!d->active) {
        return;
    }
    if (d->editing()) {
        Post();
    }
    d->clearEdit();
    d->clearRows();
    d->active = false;
    d->setState(DataSetState::Inactive);
    d->notifyData();
}

bool TClientDataSet::Active() const {
    return d->active;
}

DataSetState TClientDataSet::State() const {
    return d->state;
}

void TClientDataSet::EmptyDataSet() {
    d->checkActive();
    d->clearEdit();
    d->clearRows();
    d->setState(DataSetState::Browse);
    d->notifyData();
    d->scrolled();
}

int TClientDataSet::RecordCount() const {
    return d->active ? int(d->view.size()) : 0;
}

bool TClientDataSet::IsEmpty() const {
    if (!d->active) {
        return true;
    }
    return d->view.empty() && d->state != DataSetState::Insert;
}

int TClientDataSet::RecNo() const {
    return d->active && d->cur >= 0 ? d->cur + 1 : 0;
}

void TClientDataSet::SetRecNo(int recNo) {
    d->checkBrowseMode();
    if (d->view.empty()) {
        return;
    }
    d->cur = std::clamp(recNo, 1, int(d->view.size())) - 1;
    d->bof = d->eof = false;
    d->scrolled();
}

void TClientDataSet::First() {
    d->checkBrowseMode();
    d->cur = d->view.empty() ? -1 : 0;
    d->bof = true;
    d->eof = d->view.empty();
    d->scrolled();
}

void TClientDataSet::Last() {
    d->checkBrowseMode();
    d->cur = int(d->view.size()) - 1;
    d->eof = true;
    d->bof = d->view.empty();
    d->scrolled();
}

void TClientDataSet::Next() {
    MoveBy(1);
}

void TClientDataSet::Prior() {
    MoveBy(-1);
}

void TClientDataSet::MoveBy(int distance) {
    d->checkBrowseMode();
    const int n = int(d->view.size());
    if (n == 0) {
        d->bof = d->eof = true;
        return;
    }
    const qint64 wanted = qint64(d->cur) + distance;
    const int target = int(std::clamp<qint64>(wanted, 0, n - 1));
    if (distance > 0) {
        d->bof = false;
        d->eof = wanted > n - 1;
    } else if (distance < 0) {
        d->eof = false;
        d->bof = wanted < 0;
    }
    if (target != d->cur) {
        d->cur = target;
        d->scrolled();
    }
}

bool TClientDataSet::Eof() const {
    return !d->active || d->eof;
}

bool TClientDataSet::Bof() const {
    return !d->active || d->bof;
}

bool TClientDataSet::Locate(const QString& fieldNames, const QVariant& values, int options) {
    d->checkBrowseMode();
    const QStringList names = fieldNames.split(u';', Qt::SkipEmptyParts);
    if (names.isEmpty()) {
        throw EDataSetError(QStringLiteral("Locate sem campos em %1.").arg(d->name()));
    }
    QVariantList wanted;
    if (names.size() == 1) {
        if (values.metaType().id() == QMetaType::QVariantList && values.toList().size() == 1) {
            wanted = values.toList();
        } else {
            wanted.append(values);
        }
    } else {
        wanted = values.toList();
        if (wanted.size() != names.size()) {
            throw EDataSetError(QStringLiteral("Locate em %1: %2 campos e %3 valores.")
                                    .arg(d->name())
                                    .arg(names.size())
                                    .arg(wanted.size()));
        }
    }
    struct Key {
        int field;
        bool text;
        QString s;
        QVariant v;
        Slot slot = 0;
    };
    std::vector<Key> keys;
    for (int i = 0; i < names.size(); ++i) {
        const int f = d->resolve(names[i]);
        if (f < 0) {
            throw EDataSetError(QStringLiteral("Campo \"%1\" não encontrado em %2.")
                                    .arg(names[i].trimmed(), d->name()));
        }
        Key k{f, isText(d->def(f).type), {}, {}, 0};
        if (k.text) {
            const QVariant& w = wanted[i];
            k.v = w.isValid() && !w.isNull() ? QVariant(w.toString()) : QVariant();
            k.s = k.v.toString();
        } else {
            k.v = d->coerce(f, wanted[i]);
            if (k.v.isValid()) {
                // Compare stored numbers, not variants (no date-time built per row).
                k.slot = d->slotOf(f, k.v);
            }
        }
        keys.push_back(std::move(k));
    }
    const bool ci = options & loCaseInsensitive;
    const bool partial = options & loPartialKey;
    const Qt::CaseSensitivity cs = ci ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (int r = 0; r < int(d->view.size()); ++r) {
        const Slot* row = d->view[size_t(r)];
        bool match = true;
        for (const Key& k : keys) {
            const bool null = d->isNull(row, k.field);
            if (k.text) {
                if (!k.v.isValid()) {
                    match = null;
                } else if (null) {
                    match = k.s.isEmpty();
                } else {
                    const QString& s = d->pools[size_t(k.field)].text(d->slot(row, k.field));
                    match = partial ? s.startsWith(k.s, cs) : s.compare(k.s, cs) == 0;
                }
            } else if (!k.v.isValid()) {
                match = null;
            } else {
                match = !null && d->slot(row, k.field) == k.slot;
            }
            if (!match) {
                break;
            }
        }
        if (match) {
            d->cur = r;
            d->bof = d->eof = false;
            d->scrolled();
            return true;
        }
    }
    return false;
}

void TClientDataSet::Edit() {
    d->checkActive();
    if (d->editing()) {
        return;
    }
    if (d->view.empty()) {
        Insert();
        return;
    }
    Slot* row = d->view[size_t(d->cur)];
    d->beginEdit();
    d->editRow = row;
    d->setState(DataSetState::Edit);
}

void TClientDataSet::Insert() {
    d->checkBrowseMode();
    d->beginEdit();
    d->insertBefore = d->cur >= 0 ? d->view[size_t(d->cur)] : nullptr;
    d->setState(DataSetState::Insert);
    d->scrolled();
}

void TClientDataSet::Append() {
    d->checkBrowseMode();
    d->beginEdit();
    d->insertBefore = nullptr;
    d->setState(DataSetState::Insert);
    d->scrolled();
}

void TClientDataSet::Post() {
    d->checkActive();
    if (!d->editing()) {
        throw EDataSetError(QStringLiteral("%1 não está em edição ou inclusão.").arg(d->name()));
    }
    bool moved = false;
    if (d->state == DataSetState::Edit) {
        Slot* row = d->editRow;
        bool indexChanged = false;
        for (int f : d->touched) {
            d->storeValue(row, f, d->buffer[size_t(f)]);
            if (std::find(d->indexFields.begin(), d->indexFields.end(), f) !=
                d->indexFields.end()) {
                indexChanged = true;
            }
        }
        d->clearEdit();
        if (indexChanged) {
            auto it = std::find(d->order.begin(), d->order.end(), row);
            d->order.erase(it);
            auto pos = std::upper_bound(
                d->order.begin(), d->order.end(), row,
                [this](const Slot* a, const Slot* b) { return d->compareRows(a, b) < 0; });
            d->order.insert(pos, row);
        }
        if (indexChanged || d->filterActive()) {
            const bool stillVisible = !d->filterActive() || d->passes(row);
            const bool wasAt =
                d->cur >= 0 && d->cur < int(d->view.size()) && d->view[size_t(d->cur)] == row;
            if (indexChanged || !stillVisible) {
                d->rebuildView();
                const int pos = d->viewPosOf(row);
                if (pos >= 0) {
                    moved = pos != d->cur;
                    d->cur = pos;
                } else {
                    d->clampCursor();
                    moved = true;
                }
                d->setState(DataSetState::Browse);
                d->notifyData();
            } else {
                d->setState(DataSetState::Browse);
                if (wasAt) {
                    d->notifyRow(d->cur);
                }
            }
        } else {
            d->setState(DataSetState::Browse);
            d->notifyRow(d->cur);
        }
    } else {
        RowPtr owned = d->newRow();
        Slot* row = owned.get();
        for (int f = 0; f < d->fieldCount(); ++f) {
            d->storeValue(row, f, d->buffer[size_t(f)]);
        }
        Slot* before = d->insertBefore;
        auto bit = d->base.end();
        if (before) {
            bit = std::find_if(d->base.begin(), d->base.end(),
                               [before](const RowPtr& r) { return r.get() == before; });
        }
        d->base.insert(bit, std::move(owned));
        if (!d->indexFields.empty()) {
            auto pos = std::upper_bound(
                d->order.begin(), d->order.end(), row,
                [this](const Slot* a, const Slot* b) { return d->compareRows(a, b) < 0; });
            d->order.insert(pos, row);
        } else {
            auto oit =
                before ? std::find(d->order.begin(), d->order.end(), before) : d->order.end();
            d->order.insert(oit, row);
        }
        d->clearEdit();
        d->rebuildView();
        const int pos = d->viewPosOf(row);
        if (pos >= 0) {
            d->cur = pos;
        } else {
            d->clampCursor();
        }
        d->bof = d->eof = false;
        moved = true;
        d->setState(DataSetState::Browse);
        d->notifyData();
    }
    if (moved) {
        d->scrolled();
    }
    if (AfterPost) {
        AfterPost(*this);
    }
}

void TClientDataSet::Cancel() {
    if (!d->active || !d->editing()) {
        return;
    }
    const bool inserting = d->state == DataSetState::Insert;
    d->clearEdit();
    d->setState(DataSetState::Browse);
    if (inserting) {
        d->scrolled();
    } else {
        d->notifyRow(d->cur);
    }
}

void TClientDataSet::Delete() {
    d->checkActive();
    if (d->state == DataSetState::Insert) {
        Cancel();
        return;
    }
    if (d->state == DataSetState::Edit) {
        d->clearEdit();
        d->setState(DataSetState::Browse);
    }
    if (d->view.empty()) {
        throw EDataSetError(
            QStringLiteral("%1 está vazio: não há registro para excluir.").arg(d->name()));
    }
    Slot* row = d->view[size_t(d->cur)];
    d->view.erase(d->view.begin() + d->cur);
    d->order.erase(std::find(d->order.begin(), d->order.end(), row));
    d->base.erase(std::find_if(d->base.begin(), d->base.end(),
                               [row](const RowPtr& r) { return r.get() == row; }));
    d->clampCursor();
    d->eof = d->view.empty();
    d->bof = d->view.empty();
    d->notifyData();
    d->scrolled();
}

QString TClientDataSet::IndexFieldNames() const {
    return d->indexNames;
}

void TClientDataSet::SetIndexFieldNames(const QString& names) {
    if (!d->active) {
        d->indexNames = names;
        return;
    }
    std::vector<int> idx = d->resolveIndex(names);
    d->checkBrowseMode();
    const Slot* current = d->cur >= 0 ? d->view[size_t(d->cur)] : nullptr;
    d->indexNames = names;
    d->indexFields = std::move(idx);
    d->rebuildOrder();
    d->rebuildView();
    const int pos = d->viewPosOf(current);
    d->cur = pos >= 0 ? pos : (d->view.empty() ? -1 : 0);
    d->notifyData();
    d->notifyCurrent();
}

QString TClientDataSet::Filter() const {
    return d->filterText;
}

void TClientDataSet::SetFilter(const QString& expression) {
    if (d->active && d->filtered) {
        FilterExpr compiled = d->compileFilter(expression);
        d->checkBrowseMode();
        d->filterText = expression;
        d->filter = std::move(compiled);
        d->rebuildView();
        d->notifyData();
        First();
        return;
    }
    if (d->filtered && !d->fields.empty()) {
        d->compileFilter(expression);  // report a bad expression now
    }
    d->filterText = expression;
}

bool TClientDataSet::Filtered() const {
    return d->filtered;
}

void TClientDataSet::SetFiltered(bool on) {
    if (on == d->filtered) {
        return;
    }
    if (!d->active) {
        if (on && !d->fields.empty()) {
            d->compileFilter(d->filterText);
        }
        d->filtered = on;
        return;
    }
    FilterExpr compiled = on ? d->compileFilter(d->filterText) : FilterExpr();
    d->checkBrowseMode();
    d->filtered = on;
    d->filter = std::move(compiled);
    d->rebuildView();
    d->notifyData();
    First();
}

void TClientDataSet::DisableControls() {
    ++d->disableCount;
}

void TClientDataSet::EnableControls() {
    if (d->disableCount == 0) {
        return;
    }
    if (--d->disableCount > 0) {
        return;
    }
    const bool state = d->pendingState;
    const bool data = d->pendingData;
    d->pendingState = d->pendingData = false;
    if (state) {
        emit stateChanged();
    }
    if (data) {
        emit dataChanged();
        emit currentChanged(d->cur);
    }
}

bool TClientDataSet::ControlsDisabled() const {
    return d->disableCount > 0;
}

QVariant TClientDataSet::ValueAt(int viewRow, int fieldIndex) const {
    return d->valueAtView(viewRow, fieldIndex);
}

int TClientDataSet::CurrentViewRow() const {
    return d->active ? d->cur : -1;
}

void TClientDataSet::WithRowAsCurrent(int viewRow, const std::function<void()>& f) const {
    struct Restore {
        int& slot;
        int saved;
        ~Restore() { slot = saved; }
    } restore{d->tempRow, d->tempRow};
    d->tempRow = viewRow;
    f();
}

// ============================================================================================
// TDataSource

void TDataSource::SetDataSet(TClientDataSet* ds) {
    if (ds == m_dataSet) {
        return;
    }
    for (const QMetaObject::Connection& c : m_links) {
        disconnect(c);
    }
    m_links.clear();
    m_dataSet = ds;
    if (ds) {
        m_links << connect(ds, &TClientDataSet::stateChanged, this, [this]() {
            emit stateChanged();
            if (OnStateChange) {
                OnStateChange(*this);
            }
        });
        m_links << connect(ds, &TClientDataSet::dataChanged, this, &TDataSource::dataChanged);
        m_links << connect(ds, &TClientDataSet::rowChanged, this, &TDataSource::rowChanged);
        m_links << connect(ds, &TClientDataSet::currentChanged, this, &TDataSource::currentChanged);
        m_links << connect(ds, &QObject::destroyed, this, [this]() {
            m_links.clear();
            m_dataSet = nullptr;
            emit dataSetChanged();
        });
    }
    emit dataSetChanged();
}

}  // namespace host

// Values of the cells: read from the stored slots, converted and stored, and the current
// row's values as the fields see them, pending edit included.

#include <QDate>
#include <QDateTime>

#include "core/clientdataset_p.h"
#include "core/packet.h"

namespace host {

using rows::doubleSlot;
using rows::Slot;
using rows::slotDouble;

QVariant TClientDataSet::Impl::cellValue(const Slot* row, int f) const {
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

Slot TClientDataSet::Impl::slotOf(int f, const QVariant& v) const {
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

void TClientDataSet::Impl::storeValue(Slot* row, int f, const QVariant& v) {
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

QVariant TClientDataSet::Impl::coerce(int f, const QVariant& v) const {
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

QVariant TClientDataSet::Impl::valueAtView(int viewRow, int f) const {
    if (viewRow < 0 || viewRow >= int(view.size()) || f < 0 || f >= fieldCount()) {
        return {};
    }
    const Slot* row = view[size_t(viewRow)];
    if (state == DataSetState::Edit && row == editRow && modified[size_t(f)]) {
        return buffer[size_t(f)];
    }
    return cellValue(row, f);
}

QVariant TClientDataSet::Impl::editValue(int f) const {
    if (modified[size_t(f)] || state == DataSetState::Insert) {
        return buffer[size_t(f)];
    }
    return cellValue(editRow, f);
}

QVariant TClientDataSet::Impl::currentValue(int f) const {
    if (tempRow >= 0) {
        return valueAtView(tempRow, f);
    }
    if (editing()) {
        return editValue(f);
    }
    return valueAtView(cur, f);
}

QString TClientDataSet::Impl::currentText(int f) const {
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

void TClientDataSet::Impl::setCurrentValue(int f, const QVariant& v) {
    if (!editing()) {
        throw EDataSetError(
            QStringLiteral("%1 não está em edição ou inclusão: o campo %2 não pode ser alterado.")
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

}  // namespace host

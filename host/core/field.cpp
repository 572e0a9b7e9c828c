// TField: a column of a data set as its users see it, the current row's value read and written
// in any of the usual types, and its display text.

#include <QDate>
#include <QDateTime>
#include <cmath>

#include "core/clientdataset_p.h"
#include "core/displayformat.h"
#include "core/packet.h"

namespace host {

using rows::isText;

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

}  // namespace host

#include "report/reportformat.h"

#include <QLocale>
#include <QTimeZone>

namespace host::reportformat {

namespace {

const QLocale& ptBR() {
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

// Digits at s[from, from + n) as a number; -1 when one is not a digit.
int digitsAt(const QString& s, int from, int n) {
    if (from + n > s.size()) {
        return -1;
    }
    int v = 0;
    for (int i = from; i < from + n; ++i) {
        const QChar c = s.at(i);
        if (c < u'0' || c > u'9') {
            return -1;
        }
        v = v * 10 + (c.unicode() - u'0');
    }
    return v;
}

// Dates are kept as naive wall-clock values; marking them UTC spares the time-zone look-up
// that a local date-time costs on construction.
QDateTime naive(const QDate& d, const QTime& t) {
    return QDateTime(d, t, Qt::UTC);
}

QString applyMask(const QString& value, const QString& mask) {
    QString out;
    out.reserve(mask.size());
    int k = 0;
    for (const QChar m : mask) {
        if (m == u'9') {
            out += value.at(k++);
        } else {
            out += m;
        }
    }
    return out;
}

bool isCnpjChars(const QString& s) {
    if (s.size() != 14) {
        return false;
    }
    for (int i = 0; i < 14; ++i) {
        const QChar c = s.at(i);
        const bool digit = c >= u'0' && c <= u'9';
        const bool letter = c >= u'A' && c <= u'Z';
        if (!(digit || (letter && i < 12))) {
            return false;
        }
    }
    return true;
}

bool isCpfChars(const QString& s) {
    if (s.size() != 11) {
        return false;
    }
    for (const QChar c : s) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

}  // namespace

QString money(double value) {
    return ptBR().toString(value, 'f', 2);
}

QString moneyPlain(double value) {
    QString s = QString::number(value, 'f', 2);
    s.replace(u'.', u',');
    return s;
}

QString registration(const QString& number, const QString& kind) {
    const QString n = number.trimmed().toUpper();
    const QString k = kind.trimmed().left(1).toUpper();
    if ((k == u"J" || (k.isEmpty() && n.size() == 14)) && isCnpjChars(n)) {
        return applyMask(n, QStringLiteral("99.999.999/9999-99"));
    }
    if ((k == u"F" || (k.isEmpty() && n.size() == 11)) && isCpfChars(n)) {
        return applyMask(n, QStringLiteral("999.999.999-99"));
    }
    return number.trimmed();
}

QDateTime toDateTime(const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        return {};
    }
    switch (value.typeId()) {
        case QMetaType::QDateTime: {
            const QDateTime d = value.toDateTime();
            return naive(d.date(), d.time());
        }
        case QMetaType::QDate:
            return naive(value.toDate(), QTime(0, 0));
        default:
            break;
    }
    const QString s = value.toString().trimmed();
    // "yyyy-MM-dd", then optionally " HH:mm", ":ss", ".zzz" (a 'T' is taken for the blank).
    const int y = digitsAt(s, 0, 4), mo = digitsAt(s, 5, 2), d = digitsAt(s, 8, 2);
    if (y < 0 || mo < 0 || d < 0 || s.at(4) != u'-' || s.at(7) != u'-') {
        return {};
    }
    const QDate date(y, mo, d);
    if (!date.isValid()) {
        return {};
    }
    int h = 0, mi = 0, se = 0, ms = 0;
    if (s.size() >= 16 && (s.at(10) == u' ' || s.at(10) == u'T')) {
        h = digitsAt(s, 11, 2);
        mi = digitsAt(s, 14, 2);
        if (s.size() >= 19) {
            se = digitsAt(s, 17, 2);
        }
        if (s.size() >= 23 && s.at(19) == u'.') {
            ms = digitsAt(s, 20, 3);
        }
    }
    const QTime time(h, mi, se, ms < 0 ? 0 : ms);
    return time.isValid() ? naive(date, time) : naive(date, QTime(0, 0));
}

QDateTime brasiliaNow() {
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    static const QTimeZone zone(QByteArrayLiteral("America/Sao_Paulo"));
    // Without the zone database, Brasília's offset (-03:00, no daylight time since 2019).
    const QDateTime there = zone.isValid() ? utc.toTimeZone(zone) : utc.addSecs(-3 * 3600);
    return naive(there.date(), there.time());
}

QVariant normalise(ColumnFormat format, const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        return {};
    }
    switch (format) {
        case ColumnFormat::Date:
        case ColumnFormat::DateTime: {
            const QDateTime d = toDateTime(value);
            return d.isValid() ? QVariant(d) : QVariant();
        }
        case ColumnFormat::Money: {
            if (value.typeId() == QMetaType::Double) {
                return value;
            }
            if (value.typeId() == QMetaType::QString) {
                bool ok = false;
                double v = value.toString().toDouble(&ok);
                if (!ok) {
                    v = ptBR().toDouble(value.toString(), &ok);
                }
                return ok ? QVariant(v) : QVariant();
            }
            return value.toDouble();
        }
        case ColumnFormat::Integer: {
            bool ok = false;
            const qlonglong v = value.toLongLong(&ok);
            if (ok) {
                return v;
            }
            const double dv = value.toDouble(&ok);
            return ok ? QVariant(qlonglong(qRound64(dv))) : QVariant();
        }
        case ColumnFormat::Text:
        case ColumnFormat::Registration:
            return value.typeId() == QMetaType::QString ? value : QVariant(value.toString());
    }
    return value;
}

QString cell(const ReportColumn& column, const QVariant& value, const QString& kind) {
    if (!value.isValid() || value.isNull()) {
        return {};
    }
    switch (column.format) {
        case ColumnFormat::Date: {
            const QDateTime d = toDateTime(value);
            return d.isValid() ? d.date().toString(QStringLiteral("dd/MM/yyyy")) : QString();
        }
        case ColumnFormat::DateTime: {
            const QDateTime d = toDateTime(value);
            return d.isValid() ? d.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : QString();
        }
        case ColumnFormat::Money:
            return money(value.toDouble());
        case ColumnFormat::Integer:
            return QString::number(value.toLongLong());
        case ColumnFormat::Registration:
            return registration(value.toString(), kind);
        case ColumnFormat::Text:
            break;
    }
    const QString text = value.toString();
    if (!column.labels.isEmpty()) {
        const auto it = column.labels.constFind(text.trimmed());
        if (it != column.labels.constEnd()) {
            return *it;
        }
    }
    return text;
}

}  // namespace host::reportformat

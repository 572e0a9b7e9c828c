#include "ui/numberedit.h"

#include <QKeyEvent>
#include <QLocale>
#include <QRegularExpressionValidator>
#include <cmath>

#include "core/hosterror.h"

namespace host {

namespace {

struct NumberFormat {
    int decimals = 0;
    bool grouping = false;
    int minIntDigits = 0;
};

NumberFormat parseFormat(const QString& format) {
    NumberFormat nf;
    const int dot = format.indexOf(QLatin1Char('.'));
    const QString intPart = dot < 0 ? format : format.left(dot);
    nf.grouping = intPart.contains(QLatin1Char(','));
    nf.minIntDigits = int(intPart.count(QLatin1Char('0')));
    if (dot >= 0) {
        for (int i = dot + 1; i < format.size(); ++i) {
            const QChar c = format.at(i);
            if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
                ++nf.decimals;
            }
        }
    }
    return nf;
}

}  // namespace

TNumberEdit::TNumberEdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const QLocale loc;
    const QString group = QRegularExpression::escape(loc.groupSeparator());
    const QString dec = QRegularExpression::escape(loc.decimalPoint());
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^-?[0-9%1]*(%2[0-9]*)?$").arg(group, dec)), this));
    connect(this, &QLineEdit::textChanged, this, &TNumberEdit::changed);
}

void TNumberEdit::SetDisplayFormat(const QString& format) {
    m_format = format;
    reformat();
}

QString TNumberEdit::FormatNumber(double value, const QString& format) {
    const NumberFormat nf = parseFormat(format);
    QLocale loc;
    if (!nf.grouping) {
        loc.setNumberOptions(loc.numberOptions() | QLocale::OmitGroupSeparator);
    }
    // A value that rounds to zero shows without a minus sign ("0,00", not "-0,00").
    if (std::abs(value) * std::pow(10.0, nf.decimals) < 0.5) {
        value = 0.0;
    }
    QString s = loc.toString(value, 'f', nf.decimals);
    // "#.00" shows 0.5 as ",50"; "0.00" as "0,50".
    if (nf.minIntDigits == 0) {
        const QString zero = QStringLiteral("0") + loc.decimalPoint();
        if (s.startsWith(zero) && nf.decimals > 0) {
            s.remove(0, 1);
        } else if (s.startsWith(QLatin1Char('-') + zero) && nf.decimals > 0) {
            s.remove(1, 1);
        }
    }
    return s;
}

double TNumberEdit::ParseNumber(const QString& text, bool* ok) {
    const QLocale loc;
    QString t = text.trimmed();
    t.remove(loc.groupSeparator());
    if (t.isEmpty()) {
        if (ok) {
            *ok = true;
        }
        return 0.0;
    }
    if (t.startsWith(loc.decimalPoint())) {
        t.prepend(QLatin1Char('0'));
    } else if (t.startsWith(QLatin1Char('-') + loc.decimalPoint())) {
        t.insert(1, QLatin1Char('0'));
    }
    QLocale c(loc);
    c.setNumberOptions(QLocale::DefaultNumberOptions);
    bool good = false;
    const double v = c.toDouble(t, &good);
    if (ok) {
        *ok = good && std::isfinite(v);
    }
    return good ? v : 0.0;
}

double TNumberEdit::Value() const {
    bool ok = false;
    const double v = ParseNumber(text(), &ok);
    if (!ok) {
        throw EHostError(QStringLiteral("Valor inválido: \"%1\".").arg(text()));
    }
    return v;
}

void TNumberEdit::SetValue(double value) {
    if (!std::isfinite(value)) {
        throw EHostError(QStringLiteral("Valor numérico inválido."));
    }
    setText(FormatNumber(value, m_format));
}

void TNumberEdit::reformat() {
    bool ok = false;
    const double v = ParseNumber(text(), &ok);
    if (ok && !IsEmpty()) {
        setText(FormatNumber(v, m_format));
    }
}

void TNumberEdit::keyPressEvent(QKeyEvent* event) {
    const QLocale loc;
    if (event->key() == Qt::Key_Period && event->modifiers().testFlag(Qt::KeypadModifier) &&
        loc.decimalPoint() != QStringLiteral(".")) {
        insert(loc.decimalPoint());
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TNumberEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    reformat();
}

}  // namespace host

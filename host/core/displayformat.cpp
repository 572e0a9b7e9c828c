#include "core/displayformat.h"

#include <QDate>
#include <QTime>
#include <cmath>

#include "core/packet.h"

namespace host {

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

}  // namespace host

#include "clock.h"

namespace dfe58000 {

const QTimeZone& brasiliaZone() {
    static const QTimeZone zone = [] {
        QTimeZone z(QByteArrayLiteral("America/Sao_Paulo"));
        return z.isValid() ? z : QTimeZone(-3 * 3600);
    }();
    return zone;
}

QDateTime inBrasilia(const QDateTime& moment) {
    if (!moment.isValid()) {
        return {};
    }
    if (moment.timeSpec() == Qt::LocalTime) {
        return QDateTime(moment.date(), moment.time(), brasiliaZone());
    }
    return moment.toTimeZone(brasiliaZone());
}

QDateTime Clock::now() const {
    return QDateTime::currentDateTimeUtc().toTimeZone(brasiliaZone());
}

}  // namespace dfe58000

#include "ui/consiste.h"

#include <QApplication>
#include <QCborArray>
#include <QCborValue>
#include <QJsonArray>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <optional>

#include "ui/dialogs.h"

namespace host::Consiste {

void MensErro(const QString& text, bool stop) {
    dialogs().error(text, QApplication::activeWindow());
    if (stop) {
        throw EStop();
    }
}

void Abort() {
    throw EStop();
}

namespace {

// The array held by an answer, or nothing when it is not an array.
std::optional<QVariantList> arrayOf(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::QVariantList:
            return v.toList();
        case QMetaType::QStringList: {
            QVariantList list;
            for (const QString& s : v.toStringList()) {
                list.append(s);
            }
            return list;
        }
        case QMetaType::QCborArray:
            return v.value<QCborArray>().toVariantList();
        case QMetaType::QJsonArray:
            return v.toJsonArray().toVariantList();
        case QMetaType::QCborValue: {
            const QCborValue c = v.value<QCborValue>();
            if (c.isArray()) {
                return c.toArray().toVariantList();
            }
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

std::optional<QString> errorTextOf(const QVariant& v) {
    if (v.typeId() == QMetaType::QString) {
        return v.toString();
    }
    if (v.typeId() == QMetaType::QCborValue && v.value<QCborValue>().isString()) {
        return v.value<QCborValue>().toString();
    }
    return std::nullopt;
}

}  // namespace

QVariantList CheckResultServ(const QVariant& result, bool stop, int) {
    if (std::optional<QVariantList> list = arrayOf(result); list && !list->isEmpty()) {
        while (list->size() < 5) {
            list->append(QVariant());
        }
        return *list;
    }
    if (std::optional<QString> text = errorTextOf(result); text && !EmptyString(*text)) {
        MensErro(*text, stop);
        return {};
    }
    MensErro(QStringLiteral("Resposta inválida do servidor de aplicação."), stop);
    return {};
}

bool EmptyString(const QString& text) {
    return text.trimmed().isEmpty();
}

QString Ajusta(const QString& text, int width) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() >= width) {
        return t;
    }
    return QString(width - t.size(), QLatin1Char('0')) + t;
}

QString PictPess(const QString& kind) {
    const QString k = kind.trimmed().toUpper();
    if (k.startsWith(QLatin1Char('J'))) {
        return QStringLiteral(">aa.aaa.aaa/aaaa-99;0;_");
    }
    if (k.startsWith(QLatin1Char('F'))) {
        return QStringLiteral("999.999.999-99;0;_");
    }
    return {};
}

QDate PriDiaMes(const QDate& date) {
    if (!date.isValid()) {
        return {};
    }
    return QDate(date.year(), date.month(), 1);
}

void SetChildEnabled(QWidget* container, bool enabled) {
    if (!container) {
        throw EProgrammingError(QStringLiteral("SetChildEnabled sem contêiner."));
    }
    const auto children = container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* w : children) {
        if (!w->isWindow()) {
            w->setEnabled(enabled);
        }
    }
}

namespace {

bool isLetter(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

}  // namespace

bool MaxNumber(const QString& text, int maxDigits, int decimals, const QString& key, int selStart,
               int selLength) {
    if (key.isEmpty()) {
        return true;
    }
    const QChar c = key.at(0);
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
        return true;  // backspace, tab, Ctrl+C/V/X and the like
    }
    const bool registration = decimals <= 0 && maxDigits >= 14;
    const bool isDigit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const bool isComma = c == QLatin1Char(',');
    if (!isDigit && !isComma && !(registration && isLetter(c))) {
        return false;
    }
    if (isComma && decimals <= 0) {
        return false;
    }

    // The text as it would be with the selection replaced by the key.
    const int start = std::clamp(selStart, 0, int(text.size()));
    const int length = std::clamp(selLength, 0, int(text.size()) - start);
    QString after = text;
    after.replace(start, length, key.left(1));

    if (isComma && after.count(QLatin1Char(',')) > 1) {
        return false;
    }
    const int comma = after.indexOf(QLatin1Char(','));
    int counted = 0;
    int fraction = 0;
    for (int i = 0; i < after.size(); ++i) {
        const QChar d = after.at(i);
        const bool counts =
            (d >= QLatin1Char('0') && d <= QLatin1Char('9')) || (registration && isLetter(d));
        if (!counts) {
            continue;
        }
        ++counted;
        if (comma >= 0 && i > comma) {
            ++fraction;
        }
    }
    return counted <= maxDigits && (decimals <= 0 || fraction <= decimals);
}

}  // namespace host::Consiste

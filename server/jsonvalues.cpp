#include "jsonvalues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "core/hosterror.h"
#include "core/packet.h"

namespace dfe58000::json {

using host::EHostError;

namespace {

QByteArray packetFromRows(const QJsonValue& rowsValue) {
    if (!rowsValue.isArray()) {
        throw EHostError(QStringLiteral("\"packet\" deve ser uma lista de linhas."));
    }
    const QJsonArray rows = rowsValue.toArray();
    QStringList names;
    QList<int> sizes;
    for (const QJsonValue& r : rows) {
        if (!r.isObject()) {
            throw EHostError(QStringLiteral("Cada linha de \"packet\" deve ser um objeto."));
        }
        const QJsonObject o = r.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (!it.value().isString() && !it.value().isNull()) {
                throw EHostError(
                    QStringLiteral("O campo %1 de \"packet\" deve ser texto.").arg(it.key()));
            }
            qsizetype i = names.indexOf(it.key());
            if (i < 0) {
                names << it.key();
                sizes << 1;
                i = names.size() - 1;
            }
            sizes[i] = qMax(sizes[i], int(it.value().toString().size()));
        }
    }
    QList<host::FieldDef> fields;
    for (int i = 0; i < names.size(); ++i) {
        fields.append({names[i], host::FieldType::String, sizes[i], false});
    }
    QList<QVariantList> values;
    for (const QJsonValue& r : rows) {
        const QJsonObject o = r.toObject();
        QVariantList row;
        for (const QString& n : names) {
            row << (o.value(n).isString() ? QVariant(o.value(n).toString()) : QVariant());
        }
        values << row;
    }
    return host::encodePacket(fields, values);
}

QVariant argument(const QJsonValue& v) {
    static const QRegularExpression datePattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    switch (v.type()) {
        case QJsonValue::Null:
            return QVariant();
        case QJsonValue::Bool:
            return v.toBool();
        case QJsonValue::Double: {
            const double d = v.toDouble();
            if (d == double(qint64(d))) {
                return QVariant(qint64(d));
            }
            return d;
        }
        case QJsonValue::String: {
            const QString s = v.toString();
            if (datePattern.match(s).hasMatch()) {
                const QDate d = QDate::fromString(s, QStringLiteral("yyyy-MM-dd"));
                if (!d.isValid()) {
                    throw EHostError(QStringLiteral("Data inválida: \"%1\".").arg(s));
                }
                return d;
            }
            return s;
        }
        case QJsonValue::Array: {
            QVariantList list;
            for (const QJsonValue& e : v.toArray()) {
                list << argument(e);
            }
            return list;
        }
        case QJsonValue::Object: {
            const QJsonObject o = v.toObject();
            if (o.size() == 1 && o.contains(QStringLiteral("packet"))) {
                return packetFromRows(o.value(QStringLiteral("packet")));
            }
            throw EHostError(
                QStringLiteral("Um objeto só é aceito na forma {\"packet\": [{linha}, ...]}."));
        }
        default:
            throw EHostError(QStringLiteral("Valor JSON não suportado."));
    }
}

}  // namespace

QVariantList argumentsFromJson(const QByteArray& text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        throw EHostError(QStringLiteral("Argumentos JSON inválidos (posição %1): %2")
                             .arg(error.offset)
                             .arg(error.errorString()));
    }
    if (!doc.isArray()) {
        throw EHostError(QStringLiteral("Os argumentos devem ser uma lista JSON, como [\"01\"]."));
    }
    QVariantList args;
    for (const QJsonValue& v : doc.array()) {
        args << argument(v);
    }
    return args;
}

QJsonValue resultToJson(const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        return QJsonValue::Null;
    }
    switch (value.typeId()) {
        case QMetaType::QByteArray: {
            const host::DecodedPacket p = host::decodePacket(value.toByteArray());
            QJsonArray fields;
            for (const host::FieldDef& f : p.fields) {
                fields << f.name;
            }
            QJsonArray rows;
            for (const QVariantList& r : p.rows) {
                QJsonArray row;
                for (const QVariant& v : r) {
                    row << resultToJson(v);
                }
                rows << row;
            }
            return QJsonObject{{QStringLiteral("fields"), fields}, {QStringLiteral("rows"), rows}};
        }
        case QMetaType::QVariantList:
        case QMetaType::QStringList: {
            QJsonArray a;
            for (const QVariant& v : value.toList()) {
                a << resultToJson(v);
            }
            return a;
        }
        case QMetaType::QDate:
            return value.toDate().toString(QStringLiteral("yyyy-MM-dd"));
        case QMetaType::QDateTime:
            return value.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        case QMetaType::Bool:
            return value.toBool();
        case QMetaType::Double:
        case QMetaType::Float:
            return value.toDouble();
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            return double(value.toLongLong());
        default:
            return value.toString();
    }
}

}  // namespace dfe58000::json

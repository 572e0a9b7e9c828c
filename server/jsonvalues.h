#pragma once

#include <QJsonValue>
#include <QVariant>
#include <QVariantList>

// Conversions between the JSON an operator types at dfe58000-call and the values of the wire
// protocol:
//   arguments  a JSON array; {"packet": [{row}, ...]} becomes a data packet whose fields are
//              the keys of the rows (texts), "YYYY-MM-DD" a date, other texts stay texts;
//   results    data packets come out as {"fields": [names], "rows": [[values], ...]}, dates as
//              "YYYY-MM-DD" and date-times as "YYYY-MM-DDTHH:mm:ss".
// Malformed input raises host::EHostError with a plain text.
namespace dfe58000::json {

QVariantList argumentsFromJson(const QByteArray& text);
QJsonValue resultToJson(const QVariant& value);

}  // namespace dfe58000::json

#include "core/packet.h"

#include <QFloat16>
#include <QLocale>
#include <QMutex>
#include <QSet>
#include <QStringDecoder>
#include <QTime>
#include <QtEndian>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace host {

namespace {

constexpr qint64 kJulian1970 = 2440588;             // QDate(1970, 1, 1).toJulianDay()
constexpr qint64 kMinDays = 1721426 - kJulian1970;  // 0001-01-01
constexpr qint64 kMaxDays = 5373484 - kJulian1970;  // 9999-12-31
constexpr qint64 kMsPerDay = 86400000;

[[noreturn]] void coerceFail(const QVariant& v, const FieldDef& def) {
    throw EPacketError(QStringLiteral("Valor \"%1\" inválido para o campo %2 (%3).")
                           .arg(v.toString().left(60), def.name, fieldTypeName(def.type)));
}

bool isIntegral(const QVariant& v) {
    switch (v.metaType().id()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return true;
        default:
            return false;
    }
}

bool isFloating(const QVariant& v) {
    const int id = v.metaType().id();
    return id == QMetaType::Double || id == QMetaType::Float;
}

bool isText(const QVariant& v) {
    const int id = v.metaType().id();
    return id == QMetaType::QString || id == QMetaType::QByteArray || id == QMetaType::QChar;
}

double parseNumber(const QString& text, bool* ok) {
    const QString t = text.trimmed();
    double d = t.toDouble(ok);
    if (!*ok) {
        d = QLocale().toDouble(t, ok);
    }
    if (!*ok) {
        // "1.234,56": the pt_BR way, whatever the default locale is.
        d = QLocale(QLocale::Portuguese, QLocale::Brazil).toDouble(t, ok);
    }
    return d;
}

QDate parseDate(const QString& text) {
    const QString t = text.trimmed();
    for (const char* fmt : {"dd/MM/yyyy", "d/M/yyyy", "yyyy-MM-dd"}) {
        QDate d = QDate::fromString(t, QLatin1String(fmt));
        if (d.isValid()) {
            return d;
        }
    }
    return {};
}

QDateTime parseDateTime(const QString& text) {
    const QString t = text.trimmed();
    for (const char* fmt : {"dd/MM/yyyy hh:mm:ss", "dd/MM/yyyy hh:mm", "dd/MM/yyyy hh:mm:ss.zzz",
                            "yyyy-MM-ddThh:mm:ss", "yyyy-MM-ddThh:mm:ss.zzz", "yyyy-MM-dd hh:mm:ss",
                            "yyyy-MM-ddThh:mm"}) {
        QDateTime dt = QDateTime::fromString(t, QLatin1String(fmt));
        if (dt.isValid()) {
            return dt;
        }
    }
    QDate d = parseDate(t);
    if (d.isValid()) {
        return QDateTime(d, QTime(0, 0));
    }
    return {};
}

}  // namespace

QString fieldTypeName(FieldType type) {
    switch (type) {
        case FieldType::String:
            return QStringLiteral("String");
        case FieldType::Memo:
            return QStringLiteral("Memo");
        case FieldType::Integer:
            return QStringLiteral("Integer");
        case FieldType::Float:
            return QStringLiteral("Float");
        case FieldType::Boolean:
            return QStringLiteral("Boolean");
        case FieldType::Date:
            return QStringLiteral("Date");
        case FieldType::DateTime:
            return QStringLiteral("DateTime");
    }
    return QStringLiteral("tipo %1").arg(int(type));
}

// --- dates --------------------------------------------------------------------------------------

qint64 packetDays(const QDate& date) {
    return date.toJulianDay() - kJulian1970;
}

QDate packetDate(qint64 days) {
    return QDate::fromJulianDay(days + kJulian1970);
}

qint64 packetMillis(const QDate& date, const QTime& time) {
    return packetDays(date) * kMsPerDay + (time.isValid() ? time.msecsSinceStartOfDay() : 0);
}

qint64 packetMillis(const QDateTime& dt) {
    return packetMillis(dt.date(), dt.time());
}

void packetSplitMillis(qint64 millis, qint64& days, int& msOfDay) {
    days = millis / kMsPerDay;
    qint64 rest = millis % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --days;
    }
    msOfDay = int(rest);
}

QDateTime packetDateTime(qint64 millis) {
    qint64 days;
    int ms;
    packetSplitMillis(millis, days, ms);
    return QDateTime(packetDate(days), QTime::fromMSecsSinceStartOfDay(ms));
}

bool packetDaysInRange(qint64 days) {
    return days >= kMinDays && days <= kMaxDays;
}

bool packetMillisInRange(qint64 millis) {
    return millis >= kMinDays * kMsPerDay && millis < (kMaxDays + 1) * kMsPerDay;
}

QVariant packetCoerce(const QVariant& v, const FieldDef& def) {
    if (!v.isValid() || v.isNull()) {
        return {};
    }
    const int id = v.metaType().id();
    switch (def.type) {
        case FieldType::String:
        case FieldType::Memo:
            if (id == QMetaType::QString) {
                return v;
            }
            if (isText(v) || isIntegral(v) || isFloating(v) || id == QMetaType::Bool) {
                return v.toString();
            }
            if (id == QMetaType::QDate) {
                return v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
            }
            if (id == QMetaType::QDateTime) {
                return v.toDateTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
            }
            coerceFail(v, def);
        case FieldType::Integer: {
            if (id == QMetaType::LongLong) {
                return v;
            }
            if (id == QMetaType::ULongLong) {
                if (v.toULongLong() > quint64(std::numeric_limits<qint64>::max())) {
                    coerceFail(v, def);
                }
                return QVariant(qint64(v.toULongLong()));
            }
            if (isIntegral(v) || id == QMetaType::Bool) {
                return QVariant(v.toLongLong());
            }
            if (isFloating(v)) {
                const double d = v.toDouble();
                if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.2e18) {
                    return QVariant(qint64(d));
                }
                coerceFail(v, def);
            }
            if (isText(v)) {
                const QString t = v.toString().trimmed();
                if (t.isEmpty()) {
                    return {};
                }
                bool ok = false;
                const qint64 n = t.toLongLong(&ok);
                if (ok) {
                    return QVariant(n);
                }
            }
            coerceFail(v, def);
        }
        case FieldType::Float: {
            if (id == QMetaType::Double) {
                return v;
            }
            if (isIntegral(v) || isFloating(v)) {
                return QVariant(v.toDouble());
            }
            if (isText(v)) {
                const QString t = v.toString().trimmed();
                if (t.isEmpty()) {
                    return {};
                }
                bool ok = false;
                const double d = parseNumber(t, &ok);
                if (ok) {
                    return QVariant(d);
                }
            }
            coerceFail(v, def);
        }
        case FieldType::Boolean: {
            if (id == QMetaType::Bool) {
                return v;
            }
            if (isIntegral(v)) {
                return QVariant(v.toLongLong() != 0);
            }
            if (isText(v)) {
                const QString t = v.toString().trimmed().toUpper();
                if (t.isEmpty()) {
                    return {};
                }
                if (t == u"S" || t == u"T" || t == u"TRUE" || t == u"1" || t == u"Y" ||
                    t == u"SIM") {
                    return QVariant(true);
                }
                if (t == u"N" || t == u"F" || t == u"FALSE" || t == u"0" || t == u"NAO" ||
                    t == u"NÃO") {
                    return QVariant(false);
                }
            }
            coerceFail(v, def);
        }
        case FieldType::Date: {
            QDate d;
            if (id == QMetaType::QDate) {
                d = v.toDate();
            } else if (id == QMetaType::QDateTime) {
                const QDateTime dt = v.toDateTime();
                if (!dt.isValid()) {
                    return {};
                }
                d = dt.date();
            } else if (isText(v)) {
                const QString t = v.toString().trimmed();
                if (t.isEmpty()) {
                    return {};
                }
                d = parseDate(t);
                if (!d.isValid()) {
                    const QDateTime dt = parseDateTime(t);
                    d = dt.date();
                }
                if (!d.isValid()) {
                    coerceFail(v, def);
                }
            } else {
                coerceFail(v, def);
            }
            if (!d.isValid()) {
                return {};
            }
            if (!packetDaysInRange(packetDays(d))) {
                coerceFail(v, def);
            }
            return QVariant(d);
        }
        case FieldType::DateTime: {
            QDateTime dt;
            if (id == QMetaType::QDateTime) {
                dt = v.toDateTime();
                if (!dt.isValid()) {
                    return {};
                }
            } else if (id == QMetaType::QDate) {
                const QDate d = v.toDate();
                if (!d.isValid()) {
                    return {};
                }
                dt = QDateTime(d, QTime(0, 0));
            } else if (isText(v)) {
                const QString t = v.toString().trimmed();
                if (t.isEmpty()) {
                    return {};
                }
                dt = parseDateTime(t);
                if (!dt.isValid()) {
                    coerceFail(v, def);
                }
            } else {
                coerceFail(v, def);
            }
            if (!packetDaysInRange(packetDays(dt.date()))) {
                coerceFail(v, def);
            }
            // Keep the wall-clock value, whatever zone the caller's value carried.
            return QVariant(QDateTime(dt.date(), dt.time()));
        }
    }
    coerceFail(v, def);
}

// --- writer -------------------------------------------------------------------------------------
// The packet is encoded by hand into one growing buffer: a QCborStreamWriter goes through a
// QIODevice call per item, which cost more than the rest of writing a large answer.

namespace {

constexpr quint8 kMajorUnsigned = 0;
constexpr quint8 kMajorNegative = 1;
constexpr quint8 kMajorText = 3;
constexpr quint8 kMajorArray = 4;
constexpr char kFalse = char(0xF4);
constexpr char kTrue = char(0xF5);
constexpr char kNull = char(0xF6);
constexpr char kDouble = char(0xFB);

// Bytes of an item head carrying value (the shortest form).
int headSize(quint64 value) {
    return value < 24 ? 1 : value <= 0xFF ? 2 : value <= 0xFFFF ? 3 : value <= 0xFFFFFFFFu ? 5 : 9;
}

void putHead(char* out, quint8 major, quint64 value) {
    const char type = char(major << 5);
    switch (headSize(value)) {
        case 1:
            out[0] = char(type | char(value));
            break;
        case 2:
            out[0] = char(type | 24);
            out[1] = char(value);
            break;
        case 3:
            out[0] = char(type | 25);
            qToBigEndian(quint16(value), out + 1);
            break;
        case 5:
            out[0] = char(type | 26);
            qToBigEndian(quint32(value), out + 1);
            break;
        default:
            out[0] = char(type | 27);
            qToBigEndian(value, out + 1);
            break;
    }
}

// The buffers of the large packets written lately, by any thread. Once nothing holds such a
// packet any more (its answer went out, a data set took its rows), the next writer writes into
// the same memory. A server answering large queries one after the other, on whichever of its
// threads, thus reuses pages it already has: fresh ones from the system cost a page fault each
// the first time they are written, more than writing the bytes themselves.
class SpareBuffers {
  public:
    static constexpr qsizetype kMinBytes = 64 * 1024;  // smaller ones cost little to allocate
    static constexpr int kMaxBuffers = 8;
    static constexpr qsizetype kMaxBytes = 96 * 1024 * 1024;

    // The largest buffer no packet uses any more, emptied, when it holds at least `bytes`;
    // else a null one.
    QByteArray take(qsizetype bytes) {
        QMutexLocker lock(&m_lock);
        qsizetype best = -1;
        for (qsizetype i = 0; i < m_held.size(); ++i) {
            if (m_held[i].isDetached() && allocated(m_held[i]) >= bytes &&
                (best < 0 || allocated(m_held[i]) > allocated(m_held[best]))) {
                best = i;
            }
        }
        if (best < 0) {
            return {};
        }
        QByteArray b = m_held.takeAt(best);
        QByteArray::DataPointer& d = b.data_ptr();
        d.setBegin(d.data() - d.freeSpaceAtBegin());
        d.size = 0;
        b.resize(b.capacity());  // in place: the buffer is this thread's alone
        return b;
    }

    // Remembers the buffer of a packet handed out (or one no packet uses), to take it again
    // once it is free.
    void keep(const QByteArray& buffer) {
        if (allocated(buffer) < kMinBytes) {
            return;
        }
        QMutexLocker lock(&m_lock);
        m_held.append(buffer);
        qsizetype total = 0;
        for (QByteArray& b : m_held) {
            total += allocated(b);
        }
        while (m_held.size() > kMaxBuffers || (total > kMaxBytes && m_held.size() > 1)) {
            total -= allocated(m_held.first());
            m_held.removeFirst();  // the oldest goes
        }
    }

  private:
    static qsizetype allocated(const QByteArray& b) {
        return b.capacity() + const_cast<QByteArray&>(b).data_ptr().freeSpaceAtBegin();
    }

    QMutex m_lock;
    QList<QByteArray> m_held;
};

SpareBuffers& spareBuffers() {
    // Never destroyed: a writer may finish a packet during the program's exit.
    static SpareBuffers* spares = new SpareBuffers;
    return *spares;
}

}  // namespace

PacketWriter::PacketWriter(const QList<FieldDef>& fields, qsizetype rowCount,
                           qsizetype reserveBytes)
    : m_fields(fields), m_expectedRows(rowCount < 0 ? kRowsCountedAtFinish : rowCount) {
    const qsizetype initial = qMax<qsizetype>(reserveBytes, 256 + 64 * m_fields.size());
    m_bytes = spareBuffers().take(initial);
    if (m_bytes.isNull()) {
        m_bytes.resize(initial);
    }
    if (m_fields.size() > kPacketMaxFields) {
        throw EPacketError(QStringLiteral("Pacote com campos demais (%1).").arg(m_fields.size()));
    }
    QSet<QString> names;
    for (const FieldDef& f : m_fields) {
        if (f.name.isEmpty()) {
            throw EPacketError(QStringLiteral("Campo sem nome no pacote."));
        }
        if (int(f.type) < 1 || int(f.type) > 7) {
            throw EPacketError(QStringLiteral("Campo %1 com tipo desconhecido.").arg(f.name));
        }
        const QString key = f.name.toUpper();
        if (names.contains(key)) {
            throw EPacketError(QStringLiteral("Campo %1 repetido no pacote.").arg(f.name));
        }
        names.insert(key);
    }
    head(kMajorArray, 4);
    text(QString::fromLatin1(kPacketMagic));
    head(kMajorUnsigned, kPacketVersion);
    head(kMajorArray, quint64(m_fields.size()));
    for (const FieldDef& f : m_fields) {
        head(kMajorArray, 4);
        text(f.name);
        head(kMajorUnsigned, quint64(f.type));
        head(kMajorUnsigned, quint64(qMax(0, f.size)));
        byte(f.fixed ? kTrue : kFalse);
    }
    m_rowsAt = m_len;
    if (m_expectedRows >= 0) {
        head(kMajorArray, quint64(m_expectedRows));
    } else {
        room(9);  // the longest head of the count, written by finish()
    }
}

char* PacketWriter::room(qsizetype bytes) {
    const qsizetype need = m_len + bytes;
    if (need > m_bytes.size()) {
        m_bytes.resize(qMax(need, m_bytes.size() * 2));
    }
    char* at = m_bytes.data() + m_len;
    m_len = need;
    return at;
}

void PacketWriter::head(quint8 major, quint64 value) {
    putHead(room(headSize(value)), major, value);
}

void PacketWriter::text(QStringView s) {
    // The head is placed for a length equal to the characters (the common, plain-ASCII
    // case) with room for the longest UTF-8 form behind it; it moves only when the bytes
    // came to a length of another head size.
    const int guessHead = headSize(quint64(s.size()));
    const qsizetype start = m_len;
    char* at = room(9 + s.size() * 3);  // any head, then the bytes wherever the head ends
    char* end = m_utf8.appendToBuffer(at + guessHead, s);
    const qsizetype length = end - (at + guessHead);
    const int h = headSize(quint64(length));
    if (h != guessHead) {
        std::memmove(at + h, at + guessHead, size_t(length));
    }
    putHead(at, kMajorText, quint64(length));
    m_len = start + h + length;
}

void PacketWriter::beginRow() {
    if (m_finished || m_col != -1) {
        throw EPacketError(QStringLiteral("Linha de pacote começada fora de ordem."));
    }
    if (m_expectedRows >= 0 && m_rows >= m_expectedRows) {
        throw EPacketError(
            QStringLiteral("Pacote com mais linhas que as %1 anunciadas.").arg(m_expectedRows));
    }
    head(kMajorArray, quint64(m_fields.size()));
    m_col = 0;
}

void PacketWriter::checkCell() {
    if (m_col < 0 || m_col >= m_fields.size()) {
        throw EPacketError(QStringLiteral("Valor fora de uma linha do pacote."));
    }
}

void PacketWriter::null() {
    checkCell();
    byte(kNull);
    ++m_col;
}

void PacketWriter::string(const QString& s) {
    checkCell();
    text(s);
    ++m_col;
}

void PacketWriter::utf8(QByteArrayView bytes) {
    checkCell();
    // Valid UTF-8 (what the decoder below accepts, checked without making a QString) goes as
    // it is.
    bool copy = bytes.isValidUtf8();
    if (!copy) {
        QStringDecoder check(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = check.decode(bytes);
        copy = !check.hasError();
        if (!copy) {
            text(decoded);
        }
    }
    if (copy) {
        head(kMajorText, quint64(bytes.size()));
        std::memcpy(room(bytes.size()), bytes.data(), size_t(bytes.size()));
    }
    ++m_col;
}

void PacketWriter::integer(qint64 v) {
    checkCell();
    if (v >= 0) {
        head(kMajorUnsigned, quint64(v));
    } else {
        head(kMajorNegative, quint64(-1 - v));
    }
    ++m_col;
}

void PacketWriter::floating(double v) {
    checkCell();
    char* at = room(9);
    at[0] = kDouble;
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    qToBigEndian(bits, at + 1);
    ++m_col;
}

void PacketWriter::boolean(bool v) {
    checkCell();
    byte(v ? kTrue : kFalse);
    ++m_col;
}

void PacketWriter::dateDays(qint64 days) {
    integer(days);
}

void PacketWriter::dateTimeMillis(qint64 millis) {
    integer(millis);
}

void PacketWriter::value(const QVariant& raw) {
    checkCell();
    const FieldDef& def = m_fields.at(m_col);
    const QVariant v = packetCoerce(raw, def);
    if (!v.isValid()) {
        null();
        return;
    }
    switch (def.type) {
        case FieldType::String:
        case FieldType::Memo:
            string(v.toString());
            break;
        case FieldType::Integer:
            integer(v.toLongLong());
            break;
        case FieldType::Float:
            floating(v.toDouble());
            break;
        case FieldType::Boolean:
            boolean(v.toBool());
            break;
        case FieldType::Date:
            dateDays(packetDays(v.toDate()));
            break;
        case FieldType::DateTime:
            dateTimeMillis(packetMillis(v.toDateTime()));
            break;
    }
}

void PacketWriter::endRow() {
    if (m_col != m_fields.size()) {
        throw EPacketError(QStringLiteral("Linha %1 do pacote com %2 valores; esperados %3.")
                               .arg(m_rows + 1)
                               .arg(qMax(0, m_col))
                               .arg(m_fields.size()));
    }
    m_col = -1;
    ++m_rows;
}

void PacketWriter::row(const QVariantList& values) {
    if (values.size() != m_fields.size()) {
        throw EPacketError(QStringLiteral("Linha %1 do pacote com %2 valores; esperados %3.")
                               .arg(m_rows + 1)
                               .arg(values.size())
                               .arg(m_fields.size()));
    }
    beginRow();
    for (const QVariant& v : values) {
        value(v);
    }
    endRow();
}

QByteArrayView PacketWriter::encoded(qsizetype from, qsizetype to) const {
    if (m_finished || from < 0 || from > to || to > m_len) {
        throw EPacketError(
            QStringLiteral("Trecho %1..%2 fora do pacote escrito.").arg(from).arg(to));
    }
    return QByteArrayView(m_bytes.constData() + from, to - from);
}

void PacketWriter::encodedRow(QByteArrayView row) {
    // The row's own head must announce this packet's field count; the values are trusted to
    // be what a writer of the same fields wrote.
    const quint64 fields = quint64(m_fields.size());
    const int h = headSize(fields);
    if (row.size() < h + qsizetype(fields)) {
        throw EPacketError(QStringLiteral("Linha codificada curta demais para o pacote."));
    }
    char expected[9];
    putHead(expected, kMajorArray, fields);
    if (std::memcmp(expected, row.data(), size_t(h)) != 0) {
        throw EPacketError(QStringLiteral("Linha codificada com outro número de campos."));
    }
    if (m_finished || m_col != -1) {
        throw EPacketError(QStringLiteral("Linha de pacote começada fora de ordem."));
    }
    if (m_expectedRows >= 0 && m_rows >= m_expectedRows) {
        throw EPacketError(
            QStringLiteral("Pacote com mais linhas que as %1 anunciadas.").arg(m_expectedRows));
    }
    std::memcpy(room(row.size()), row.data(), size_t(row.size()));
    ++m_rows;
}

QByteArray PacketWriter::finish() {
    if (m_finished) {
        return m_bytes;
    }
    if (m_col != -1) {
        throw EPacketError(QStringLiteral("Pacote terminado no meio de uma linha."));
    }
    if (m_expectedRows >= 0 && m_rows != m_expectedRows) {
        throw EPacketError(
            QStringLiteral("Pacote com %1 linhas; anunciadas %2.").arg(m_rows).arg(m_expectedRows));
    }
    m_bytes.truncate(m_len);
    if (m_bytes.capacity() - m_len > qMax<qsizetype>(m_len / 4, 4096)) {
        if (m_len < SpareBuffers::kMinBytes && m_bytes.capacity() >= SpareBuffers::kMinBytes) {
            // A small packet in a large spare buffer: the packet gets a buffer of its size and
            // the large one waits for the next writer.
            QByteArray own(m_bytes.constData(), m_len);
            spareBuffers().keep(m_bytes);
            m_bytes = std::move(own);
        } else {
            m_bytes.squeeze();  // the buffer doubled as it grew: give most of the slack back
        }
    }
    if (m_expectedRows < 0) {
        // The count's head at the end of the room left for it, right before the rows; the
        // header and field definitions move up by what the head did not need, and the packet
        // then starts that much further into its buffer. Only the few hundred bytes before
        // the rows move, not the rows.
        const int h = headSize(quint64(m_rows));
        const qsizetype gap = 9 - h;
        char* base = m_bytes.data();
        putHead(base + m_rowsAt + gap, kMajorArray, quint64(m_rows));
        std::memmove(base + gap, base, size_t(m_rowsAt));
        m_bytes.remove(0, gap);  // the buffer is this writer's alone: no bytes move
        m_len -= gap;
    }
    spareBuffers().keep(m_bytes);
    m_finished = true;
    return m_bytes;
}

// --- reader -------------------------------------------------------------------------------------

PacketReader::PacketReader(const QByteArray& packet)
    : m_r(packet), m_packet(packet), m_size(packet.size()) {
    if (packet.isEmpty()) {
        fail(QStringLiteral("pacote vazio"));
    }
    readHeader(m_fields);
    for (const FieldDef& def : m_fields) {
        m_types.push_back(def.type);
    }
    m_fast = true;
}

void PacketReader::readHeader(QList<FieldDef>& fields) {
    if (!m_r.isArray() || !m_r.isLengthKnown() || m_r.length() != 4) {
        fail(QStringLiteral("o pacote não começa por uma lista de 4 itens"));
    }
    m_r.enterContainer();
    checkReader();
    if (!m_r.isString()) {
        fail(QStringLiteral("marca do pacote ausente"));
    }
    const QString magic = readText("marca");
    if (magic != QLatin1String(kPacketMagic)) {
        fail(QStringLiteral("marca \"%1\" desconhecida").arg(magic.left(20)));
    }
    if (!m_r.isUnsignedInteger()) {
        fail(QStringLiteral("versão do pacote ausente"));
    }
    const quint64 version = m_r.toUnsignedInteger();
    m_r.next();
    checkReader();
    if (version != quint64(kPacketVersion)) {
        fail(QStringLiteral("versão %1 não suportada").arg(version));
    }
    if (!m_r.isArray() || !m_r.isLengthKnown()) {
        fail(QStringLiteral("lista de campos ausente"));
    }
    const quint64 nFields = m_r.length();
    if (nFields > quint64(kPacketMaxFields)) {
        fail(QStringLiteral("%1 campos é mais que o máximo de %2")
                 .arg(nFields)
                 .arg(kPacketMaxFields));
    }
    m_r.enterContainer();
    checkReader();
    QSet<QString> names;
    while (m_r.hasNext()) {
        if (!m_r.isArray() || !m_r.isLengthKnown() || m_r.length() != 4) {
            fail(QStringLiteral("definição do campo %1 malformada").arg(fields.size() + 1));
        }
        m_r.enterContainer();
        checkReader();
        FieldDef def;
        if (!m_r.isString()) {
            fail(QStringLiteral("nome do campo %1 ausente").arg(fields.size() + 1));
        }
        def.name = readText("nome de campo");
        if (def.name.isEmpty() || def.name.size() > 256) {
            fail(QStringLiteral("nome do campo %1 inválido").arg(fields.size() + 1));
        }
        if (names.contains(def.name.toUpper())) {
            fail(QStringLiteral("campo %1 repetido").arg(def.name));
        }
        names.insert(def.name.toUpper());
        if (!m_r.isUnsignedInteger()) {
            fail(QStringLiteral("tipo do campo %1 ausente").arg(def.name));
        }
        const quint64 type = m_r.toUnsignedInteger();
        m_r.next();
        checkReader();
        if (type < 1 || type > 7) {
            fail(QStringLiteral("tipo %1 desconhecido no campo %2").arg(type).arg(def.name));
        }
        def.type = FieldType(type);
        if (!m_r.isUnsignedInteger()) {
            fail(QStringLiteral("tamanho do campo %1 ausente").arg(def.name));
        }
        const quint64 size = m_r.toUnsignedInteger();
        m_r.next();
        checkReader();
        if (size > 1000000) {
            fail(QStringLiteral("tamanho %1 absurdo no campo %2").arg(size).arg(def.name));
        }
        def.size = int(size);
        if (!m_r.isBool()) {
            fail(QStringLiteral("largura fixa do campo %1 ausente").arg(def.name));
        }
        def.fixed = m_r.toBool();
        m_r.next();
        checkReader();
        if (m_r.hasNext()) {
            fail(QStringLiteral("definição do campo %1 malformada").arg(def.name));
        }
        m_r.leaveContainer();
        checkReader();
        fields.append(def);
    }
    m_r.leaveContainer();
    checkReader();
    if (!m_r.isArray()) {
        fail(QStringLiteral("lista de linhas ausente"));
    }
    const qint64 rowsAt = m_r.currentOffset();
    m_rowsDeclared = -1;
    if (m_r.isLengthKnown()) {
        const qint64 left = m_size - rowsAt;
        m_rowHint = qsizetype(qMin<quint64>(m_r.length(), quint64(qMax<qint64>(0, left))));
        m_rowsDeclared = qint64(qMin<quint64>(m_r.length(), quint64(m_size)));
    }
    m_r.enterContainer();
    checkReader();
    // The first row follows the head of the row array.
    quint8 major = 0;
    quint64 count = 0;
    qsizetype head = 1;
    m_pos = rowsAt;
    if (!fastHead(major, count, head)) {
        head = 1;  // indefinite length: the head is one byte
    }
    m_pos = rowsAt + head;
}

namespace {

// The head of the CBOR item at p, with avail bytes from p on: its major type, its value (or
// length) and its own length. False, with nothing set but the major type, for an indefinite
// length, a reserved value or a head cut short.
inline bool readHead(const uchar* p, qsizetype avail, quint8& major, quint64& value,
                     qsizetype& length) {
    major = quint8(p[0] >> 5);
    const int info = p[0] & 0x1f;
    if (info < 24) {
        value = quint64(info);
        length = 1;
        return true;
    }
    if (info > 27) {
        return false;  // indefinite length, or reserved
    }
    const qsizetype extra = qsizetype(1) << (info - 24);
    if (avail < 1 + extra) {
        return false;
    }
    switch (extra) {
        case 1:
            value = p[1];
            break;
        case 2:
            value = qFromBigEndian<quint16>(p + 1);
            break;
        case 4:
            value = qFromBigEndian<quint32>(p + 1);
            break;
        default:
            value = qFromBigEndian<quint64>(p + 1);
            break;
    }
    length = 1 + extra;
    return true;
}

}  // namespace

bool PacketReader::fastHead(quint8& major, quint64& value, qsizetype& length) const {
    if (m_pos >= m_size) {
        return false;
    }
    return readHead(reinterpret_cast<const uchar*>(m_packet.constData()) + m_pos, m_size - m_pos,
                    major, value, length);
}

bool PacketReader::fastNextRow(bool& more) {
    quint8 major = 0;
    quint64 count = 0;
    qsizetype head = 0;
    const bool allRead = m_rowsDeclared >= 0 && m_rowNo >= m_rowsDeclared;
    const bool breakNext =
        m_rowsDeclared < 0 && m_pos < m_size && uchar(m_packet.constData()[m_pos]) == 0xff;
    if (allRead || breakNext) {
        // The rows are over; the packet ends with them (its array of 4 closes with the rows).
        if (m_pos + (breakNext ? 1 : 0) != m_size) {
            return false;
        }
        m_done = true;
        more = false;
        return true;
    }
    if (!fastHead(major, count, head) || major != 4 || count != quint64(m_fields.size())) {
        return false;
    }
    m_pos += head;
    m_col = 0;
    more = true;
    return true;
}

bool PacketReader::fastReadCell(PacketCell& cell) {
    if (m_col < 0 || m_col >= m_fields.size() || m_pos >= m_size) {
        return false;
    }
    const auto* p = reinterpret_cast<const uchar*>(m_packet.constData()) + m_pos;
    if (p[0] == 0xf6) {  // null
        cell.null = true;
        ++m_pos;
        ++m_col;
        return true;
    }
    quint8 major = 0;
    quint64 value = 0;
    qsizetype head = 0;
    const bool plainHead = readHead(p, m_size - m_pos, major, value, head);
    // An integer of the qint64 range (major type 0 or 1).
    auto integer = [&](qint64& out) {
        if (!plainHead || (major != 0 && major != 1) ||
            value > quint64(std::numeric_limits<qint64>::max())) {
            return false;
        }
        out = major == 0 ? qint64(value) : -1 - qint64(value);
        return true;
    };
    switch (m_types[size_t(m_col)]) {
        case FieldType::String:
        case FieldType::Memo: {
            if (!plainHead || major != 3 || value > quint64(m_size - m_pos - head)) {
                return false;
            }
            const char* text = m_packet.constData() + m_pos + head;
            const qsizetype len = qsizetype(value);
            if (m_shortTexts && len <= PacketCell::kShortMax) {
                quint64 key = 0;
                std::memcpy(&key, text, size_t(len));
                cell.shortKey = key | (quint64(len) << 56);
                cell.isShort = true;
            } else if (m_rawTexts) {
                cell.isShort = false;
                cell.isRaw = true;
                cell.raw = QByteArrayView(text, len);
            } else {
                QString decoded = m_utf8.decode(QByteArrayView(text, len));
                if (m_utf8.hasError()) {
                    m_utf8.resetState();
                    return false;  // QCborStreamReader tells what is wrong with it
                }
                cell.isShort = false;
                cell.isRaw = false;
                cell.s = std::move(decoded);
            }
            m_pos += head + len;
            break;
        }
        case FieldType::Integer:
            if (!integer(cell.i)) {
                return false;
            }
            m_pos += head;
            break;
        case FieldType::Float:
            if (p[0] == 0xfb && m_size - m_pos >= 9) {
                cell.d = std::bit_cast<double>(qFromBigEndian<quint64>(p + 1));
                m_pos += 9;
            } else if (p[0] == 0xfa && m_size - m_pos >= 5) {
                cell.d = double(std::bit_cast<float>(qFromBigEndian<quint32>(p + 1)));
                m_pos += 5;
            } else if (p[0] == 0xf9 && m_size - m_pos >= 3) {
                cell.d = double(float(std::bit_cast<qfloat16>(qFromBigEndian<quint16>(p + 1))));
                m_pos += 3;
            } else {
                qint64 i = 0;
                if (!integer(i)) {
                    return false;
                }
                cell.d = double(i);
                m_pos += head;
            }
            break;
        case FieldType::Boolean:
            if (p[0] != 0xf4 && p[0] != 0xf5) {
                return false;
            }
            cell.i = p[0] == 0xf5 ? 1 : 0;
            ++m_pos;
            break;
        case FieldType::Date:
            if (!integer(cell.i) || !packetDaysInRange(cell.i)) {
                return false;
            }
            m_pos += head;
            break;
        case FieldType::DateTime:
            if (!integer(cell.i) || !packetMillisInRange(cell.i)) {
                return false;
            }
            m_pos += head;
            break;
    }
    cell.null = false;
    ++m_col;
    return true;
}

void PacketReader::leaveFastPath() {
    m_fast = false;
    // From the first byte again: the header, the rows read so far, the values of this row.
    m_r.reset();
    QList<FieldDef> again;
    readHeader(again);
    for (qsizetype i = 0; i < m_rowNo; ++i) {
        skipValue();
    }
    if (m_col >= 0) {
        m_r.enterContainer();
        checkReader();
        for (int i = 0; i < m_col; ++i) {
            skipValue();
        }
    }
}

void PacketReader::skipValue() {
    if (m_r.isArray()) {
        m_r.enterContainer();
        checkReader();
        while (m_r.hasNext()) {
            skipValue();
        }
        m_r.leaveContainer();
        checkReader();
        return;
    }
    if (m_r.isString()) {
        // Read as it was, in raw bytes: its UTF-8 is not checked here either.
        char c;
        auto r = m_r.readStringChunk(&c, 1);
        while (r.status == QCborStreamReader::Ok) {
            r = m_r.readStringChunk(&c, 1);
        }
        checkReader();
        return;
    }
    m_r.next();
    checkReader();
}

void PacketReader::fail(const QString& what) const {
    QString text = QStringLiteral("Pacote de dados inválido: %1").arg(what);
    if (m_r.lastError() != QCborError::NoError) {
        if (m_r.lastError() == QCborError::EndOfFile) {
            text += QStringLiteral(" (pacote truncado)");
        } else {
            text += QStringLiteral(" (%1)").arg(m_r.lastError().toString());
        }
    }
    text += QStringLiteral(", na posição %1.").arg(m_r.currentOffset());
    throw EPacketError(text);
}

void PacketReader::checkReader() const {
    if (m_r.lastError() != QCborError::NoError) {
        fail(m_r.lastError() == QCborError::EndOfFile ? QStringLiteral("fim inesperado")
                                                      : QStringLiteral("CBOR malformado"));
    }
}

QString PacketReader::readText(const char* what) {
    QString s;
    auto r = m_r.readString();
    while (r.status == QCborStreamReader::Ok) {
        s += r.data;
        r = m_r.readString();
    }
    if (r.status == QCborStreamReader::Error) {
        fail(QStringLiteral("texto ilegível (%1)").arg(QLatin1String(what)));
    }
    return s;
}

bool PacketReader::nextRow() {
    if (m_done) {
        return false;
    }
    if (m_fast) {
        bool more = false;
        if (m_col == -1 && fastNextRow(more)) {
            return more;
        }
        leaveFastPath();
    }
    if (m_col != -1) {
        fail(QStringLiteral("linha %1 não terminada").arg(m_rowNo + 1));
    }
    checkReader();
    if (!m_r.hasNext()) {
        checkReader();
        m_r.leaveContainer();  // rows
        checkReader();
        if (m_r.hasNext()) {
            fail(QStringLiteral("itens a mais depois das linhas"));
        }
        m_r.leaveContainer();  // top
        // At the end of the bytes the reader may report "end of file" for the next (absent)
        // item: that is the clean end. Anything left after the top-level item is garbage.
        if (m_r.currentOffset() != m_size) {
            fail(QStringLiteral("dados após o fim do pacote"));
        }
        if (m_r.lastError() != QCborError::NoError && m_r.lastError() != QCborError::EndOfFile) {
            checkReader();
        }
        m_done = true;
        return false;
    }
    if (!m_r.isArray()) {
        fail(QStringLiteral("linha %1 não é uma lista").arg(m_rowNo + 1));
    }
    if (m_r.isLengthKnown() && m_r.length() != quint64(m_fields.size())) {
        fail(QStringLiteral("linha %1 com %2 valores; esperados %3")
                 .arg(m_rowNo + 1)
                 .arg(m_r.length())
                 .arg(m_fields.size()));
    }
    m_r.enterContainer();
    checkReader();
    m_col = 0;
    return true;
}

void PacketReader::readCell(PacketCell& cell) {
    if (m_fast) {
        if (fastReadCell(cell)) {
            return;
        }
        leaveFastPath();
    }
    if (m_col < 0 || m_col >= m_fields.size() || !m_r.hasNext()) {
        fail(QStringLiteral("linha %1 com valores a menos; esperados %2")
                 .arg(m_rowNo + 1)
                 .arg(m_fields.size()));
    }
    const FieldDef& def = m_fields.at(m_col);
    auto wrongType = [&]() {
        fail(QStringLiteral("valor de tipo errado no campo %1 (%2) da linha %3")
                 .arg(def.name, fieldTypeName(def.type))
                 .arg(m_rowNo + 1));
    };
    if (m_r.isNull()) {
        cell.null = true;
        m_r.next();
        checkReader();
        ++m_col;
        return;
    }
    cell.null = false;
    switch (def.type) {
        case FieldType::String:
        case FieldType::Memo:
            if (!m_r.isString()) {
                wrongType();
            }
            if (m_shortTexts && m_r.isLengthKnown() && m_r.length() <= PacketCell::kShortMax) {
                const qsizetype len = qsizetype(m_r.length());
                char buf[8] = {};
                qsizetype total = 0;
                for (;;) {
                    const auto r = m_r.readStringChunk(buf + total, 8 - total);
                    if (r.status == QCborStreamReader::Ok) {
                        total += r.data;
                        if (total > len) {
                            break;
                        }
                        continue;
                    }
                    if (r.status == QCborStreamReader::EndOfString) {
                        break;
                    }
                    fail(QStringLiteral("texto ilegível no campo %1").arg(def.name));
                }
                if (total != len) {
                    fail(QStringLiteral("texto malformado no campo %1").arg(def.name));
                }
                quint64 key = 0;
                std::memcpy(&key, buf, PacketCell::kShortMax);
                cell.shortKey = key | (quint64(len) << 56);
                cell.isShort = true;
                ++m_col;
                return;
            }
            cell.isShort = false;
            if (m_rawTexts) {
                readRaw(def);
                cell.isRaw = true;
                cell.raw = QByteArrayView(m_raw.data(), qsizetype(m_raw.size()));
                ++m_col;
                return;
            }
            cell.isRaw = false;
            cell.s = readText("valor");
            ++m_col;
            return;
        case FieldType::Integer:
            if (!m_r.isInteger()) {
                wrongType();
            }
            cell.i = readInteger("inteiro");
            break;
        case FieldType::Float:
            if (m_r.isDouble()) {
                cell.d = m_r.toDouble();
            } else if (m_r.isFloat()) {
                cell.d = double(m_r.toFloat());
            } else if (m_r.isFloat16()) {
                cell.d = double(float(m_r.toFloat16()));
            } else if (m_r.isInteger()) {
                cell.d = double(readInteger("número"));
                ++m_col;
                return;
            } else {
                wrongType();
            }
            m_r.next();
            break;
        case FieldType::Boolean:
            if (!m_r.isBool()) {
                wrongType();
            }
            cell.i = m_r.toBool() ? 1 : 0;
            m_r.next();
            break;
        case FieldType::Date:
            if (!m_r.isInteger()) {
                wrongType();
            }
            cell.i = readInteger("data");
            if (!packetDaysInRange(cell.i)) {
                fail(QStringLiteral("data fora do intervalo no campo %1 da linha %2")
                         .arg(def.name)
                         .arg(m_rowNo + 1));
            }
            ++m_col;
            return;
        case FieldType::DateTime:
            if (!m_r.isInteger()) {
                wrongType();
            }
            cell.i = readInteger("data e hora");
            if (!packetMillisInRange(cell.i)) {
                fail(QStringLiteral("data e hora fora do intervalo no campo %1 da linha %2")
                         .arg(def.name)
                         .arg(m_rowNo + 1));
            }
            ++m_col;
            return;
    }
    checkReader();
    ++m_col;
}

qint64 PacketReader::readInteger(const char* what) {
    qint64 v = 0;
    if (m_r.isUnsignedInteger()) {
        const quint64 u = m_r.toUnsignedInteger();
        if (u > quint64(std::numeric_limits<qint64>::max())) {
            fail(QStringLiteral("%1 grande demais").arg(QLatin1String(what)));
        }
        v = qint64(u);
    } else {
        // Qt gives the absolute value of the negative number (0 stands for -2^64).
        const quint64 n = quint64(m_r.toNegativeInteger());
        constexpr quint64 kMinAbs = quint64(1) << 63;
        if (n == 0 || n > kMinAbs) {
            fail(QStringLiteral("%1 pequeno demais").arg(QLatin1String(what)));
        }
        v = n == kMinAbs ? std::numeric_limits<qint64>::min() : -qint64(n);
    }
    m_r.next();
    checkReader();
    return v;
}

void PacketReader::endRow() {
    if (m_fast) {
        // The row's head announced exactly one value per field.
        if (m_col == m_fields.size()) {
            m_col = -1;
            ++m_rowNo;
            return;
        }
        leaveFastPath();
    }
    if (m_col != m_fields.size() || m_r.hasNext()) {
        fail(QStringLiteral("linha %1 com valores a mais; esperados %2")
                 .arg(m_rowNo + 1)
                 .arg(m_fields.size()));
    }
    m_r.leaveContainer();
    checkReader();
    m_col = -1;
    ++m_rowNo;
}

void PacketReader::readRaw(const FieldDef& def) {
    m_raw.clear();
    if (m_r.isLengthKnown()) {
        const quint64 len = m_r.length();
        if (len > quint64(m_size - m_r.currentOffset())) {
            fail(QStringLiteral("texto do campo %1 maior que o pacote").arg(def.name));
        }
        m_raw.reserve(size_t(len));
    }
    for (;;) {
        const size_t have = m_raw.size();
        const size_t room = qMax<size_t>(m_raw.capacity() - have, 64);
        m_raw.resize(have + room);
        const auto r = m_r.readStringChunk(m_raw.data() + have, qsizetype(room));
        if (r.status == QCborStreamReader::Ok) {
            m_raw.resize(have + size_t(r.data));
            continue;
        }
        m_raw.resize(have);
        if (r.status == QCborStreamReader::EndOfString) {
            return;
        }
        fail(QStringLiteral("texto ilegível no campo %1").arg(def.name));
    }
}

QString Utf8Text::decode(QByteArrayView bytes) {
    QString s = m_decoder.decode(bytes);
    if (m_decoder.hasError()) {
        throw EPacketError(QStringLiteral("Pacote de dados inválido: texto com UTF-8 malformado."));
    }
    return s;
}

QString PacketCell::shortText(quint64 key) {
    const int len = int(key >> 56);
    char buf[8];
    std::memcpy(buf, &key, 8);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = decoder.decode(QByteArrayView(buf, len));
    if (decoder.hasError()) {
        throw EPacketError(QStringLiteral("Pacote de dados inválido: texto com UTF-8 malformado."));
    }
    return s;
}

// --- whole packets ------------------------------------------------------------------------------

QByteArray encodePacket(const QList<FieldDef>& fields, const QList<QVariantList>& rows) {
    PacketWriter w(fields, rows.size());
    for (const QVariantList& r : rows) {
        w.row(r);
    }
    return w.finish();
}

DecodedPacket decodePacket(const QByteArray& packet) {
    PacketReader r(packet);
    DecodedPacket out;
    out.fields = r.fields();
    if (r.rowCountHint() > 0) {
        out.rows.reserve(r.rowCountHint());
    }
    PacketCell cell;
    while (r.nextRow()) {
        QVariantList row;
        row.reserve(out.fields.size());
        for (const FieldDef& def : out.fields) {
            r.readCell(cell);
            if (cell.null) {
                row.append(QVariant());
                continue;
            }
            switch (def.type) {
                case FieldType::String:
                case FieldType::Memo:
                    row.append(QVariant(std::move(cell.s)));
                    cell.s = QString();
                    break;
                case FieldType::Integer:
                    row.append(QVariant(cell.i));
                    break;
                case FieldType::Float:
                    row.append(QVariant(cell.d));
                    break;
                case FieldType::Boolean:
                    row.append(QVariant(cell.i != 0));
                    break;
                case FieldType::Date:
                    row.append(QVariant(packetDate(cell.i)));
                    break;
                case FieldType::DateTime:
                    row.append(QVariant(packetDateTime(cell.i)));
                    break;
            }
        }
        r.endRow();
        out.rows.append(std::move(row));
    }
    return out;
}

QList<FieldDef> packetFields(const QByteArray& packet) {
    return decodePacket(packet).fields;
}

bool looksLikePacket(const QByteArray& bytes) {
    QCborStreamReader r(bytes);
    if (!r.isArray()) {
        return false;
    }
    r.enterContainer();
    if (r.lastError() != QCborError::NoError || !r.isString()) {
        return false;
    }
    QString s;
    auto chunk = r.readString();
    while (chunk.status == QCborStreamReader::Ok) {
        s += chunk.data;
        if (s.size() > 16) {
            return false;
        }
        chunk = r.readString();
    }
    return chunk.status == QCborStreamReader::EndOfString && s == QLatin1String(kPacketMagic);
}

}  // namespace host

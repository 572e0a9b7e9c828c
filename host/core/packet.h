#pragma once

// Data packets: the whole content of a data set (field definitions and rows) as one CBOR
// (RFC 8949) item, written by PacketWriter's own encoder (preferred, shortest forms, as
// QCborStreamWriter would write them) and read with QCborStreamReader. The same codec serves
// the client data set, the wire protocol and the application server.
//
// Layout (one top-level definite-length array of 4 items):
//
//   [ "ORVPKT",                                  magic text
//     1,                                         format version (unsigned integer)
//     [ [name, type, size, fixed], ... ],        field definitions, in column order:
//                                                  name  text, non-empty, unique ignoring case
//                                                  type  unsigned, FieldType (1 String .. 7
//                                                  DateTime) size  unsigned, characters of a
//                                                  String, else 0 fixed bool, fixed-width String
//     [ [v1, v2, ... vN], ... ] ]                rows (definite or indefinite length array), each
//                                                an array of exactly N values, one per field
//
// Values, by field type; any value may be CBOR null (a null field):
//   String, Memo   text string (UTF-8)
//   Integer        integer (major type 0 or 1), within qint64
//   Float          floating point (half, single or double); an integer is also accepted
//   Boolean        true / false
//   Date           integer: days since 1970-01-01 (proleptic Gregorian, 1970-01-01 = 0)
//   DateTime       integer: milliseconds since 1970-01-01 00:00:00.000 of the naive local
//                  date-time, computed arithmetically (days * 86400000 + ms of the day): no
//                  time zone is applied, so a value always comes back as the same date and
//                  wall-clock time. Both date kinds must lie within the years 1 to 9999.
//
// Nothing may follow the top-level array. A packet that breaks any of these rules raises
// EPacketError with a text that says what is wrong; the reader never trusts a declared length
// for memory reservation beyond what the remaining bytes could hold.

#include <QByteArray>
#include <QCborStreamReader>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QVariant>
#include <string>
#include <vector>

#include "core/fielddef.h"
#include "core/hosterror.h"

namespace host {

inline constexpr char kPacketMagic[] = "ORVPKT";
inline constexpr int kPacketVersion = 1;
inline constexpr int kPacketMaxFields = 4096;

// --- naive date / date-time numbers -------------------------------------------------------
// Days since 1970-01-01 of a date (no time zone involved).
qint64 packetDays(const QDate& date);
QDate packetDate(qint64 days);
// Milliseconds since 1970-01-01 00:00 of the date-time's own date and wall-clock time.
qint64 packetMillis(const QDateTime& dt);
qint64 packetMillis(const QDate& date, const QTime& time);
// The naive local date-time of a millisecond count (Qt::LocalTime).
QDateTime packetDateTime(qint64 millis);
// Splits a millisecond count into days and milliseconds of the day (floor division).
void packetSplitMillis(qint64 millis, qint64& days, int& msOfDay);
// True when days (or millis) lie within years 1..9999.
bool packetDaysInRange(qint64 days);
bool packetMillisInRange(qint64 millis);

// Converts a QVariant to the value a field of that type carries (QString, qint64, double,
// bool, QDate, QDateTime), or an invalid QVariant for null. Throws EPacketError when the value
// does not fit the type.
QVariant packetCoerce(const QVariant& value, const FieldDef& def);

// --- writing ------------------------------------------------------------------------------------
// Streams a packet row by row. rowCount must be the exact number of rows that follow, or
// kRowsCountedAtFinish when the writer learns it as it goes: finish() then writes the count the
// rows came to.
class PacketWriter {
  public:
    static constexpr qsizetype kRowsCountedAtFinish = -1;

    PacketWriter(const QList<FieldDef>& fields, qsizetype rowCount, qsizetype reserveBytes = 0);
    PacketWriter(const PacketWriter&) = delete;
    PacketWriter& operator=(const PacketWriter&) = delete;

    // One row: every field in order, through the typed calls below or value().
    void beginRow();
    void null();
    void string(const QString& s);
    // A text given as UTF-8 bytes (bytes that are not valid UTF-8 go as the replacement
    // characters QString::fromUtf8 makes of them).
    void utf8(QByteArrayView bytes);
    void integer(qint64 v);
    void floating(double v);
    void boolean(bool v);
    void dateDays(qint64 days);
    void dateTimeMillis(qint64 millis);
    // A QVariant of (or convertible to) the type of the next field; invalid/null gives null.
    void value(const QVariant& v);
    void endRow();

    // A whole row of QVariants (one per field).
    void row(const QVariantList& values);

    // Bytes written so far. A row's bytes lie between the positions taken before beginRow()
    // and after endRow(); encoded() gives them back until finish().
    qsizetype position() const { return m_len; }
    QByteArrayView encoded(qsizetype from, qsizetype to) const;
    // One whole row as another writer with the same fields encoded it (see position()).
    void encodedRow(QByteArrayView row);

    QByteArray finish();

  private:
    void checkCell();
    char* room(qsizetype bytes);
    void head(quint8 major, quint64 value);
    void text(QStringView s);
    void byte(char b) { *room(1) = b; }

    QList<FieldDef> m_fields;
    QByteArray m_bytes;  // its size is the capacity; m_len bytes of it are written
    qsizetype m_len = 0;
    qsizetype m_rowsAt = 0;  // where the row array's head goes when counted at finish
    QStringEncoder m_utf8{QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
    qsizetype m_expectedRows;
    qsizetype m_rows = 0;
    int m_col = -1;  // -1 outside a row
    bool m_finished = false;
};

// --- reading ------------------------------------------------------------------------------------
// One decoded value: the active member follows the field's type.
struct PacketCell {
    bool null = true;
    qint64 i = 0;  // Integer, Boolean (0/1), Date (days), DateTime (millis)
    double d = 0;  // Float
    QString s;     // String, Memo
    // With PacketReader::setShortTexts(true), a text of at most 7 UTF-8 bytes comes as its
    // raw bytes instead of s: bytes 0-6 of shortKey, the length in the top byte. Codes like
    // "N" or "0001" then cost no allocation; shortText() makes the QString when needed.
    bool isShort = false;
    quint64 shortKey = 0;

    // With PacketReader::setRawTexts(true), every other text comes as its UTF-8 bytes in raw
    // (valid until the next readCell; not yet checked as UTF-8: see Utf8Text).
    bool isRaw = false;
    QByteArrayView raw;

    static constexpr int kShortMax = 7;
    // The text of a short key; throws EPacketError when the bytes are not valid UTF-8.
    static QString shortText(quint64 key);
};

// Pulls a packet apart: the header and field definitions are read (and checked) by the
// constructor, the rows one value at a time. Every failure is an EPacketError.
//
// Rows as PacketWriter writes them (a definite array of exactly one value per field; null,
// texts of known length, integers, floating point and booleans, each of the field's type and
// in range) are read straight from the bytes. At anything else (other encodings, broken
// packets) the reader goes back to QCborStreamReader at the same row and value, so such
// packets read, and fail, just as they always did.
class PacketReader {
  public:
    explicit PacketReader(const QByteArray& packet);
    PacketReader(const PacketReader&) = delete;
    PacketReader& operator=(const PacketReader&) = delete;

    const QList<FieldDef>& fields() const { return m_fields; }
    // Upper bound of the rows (the declared count, capped by the bytes left), or -1.
    qsizetype rowCountHint() const { return m_rowHint; }

    // Moves to the next row; false when the rows are over and the packet ended cleanly.
    bool nextRow();
    // The value of the next field of the current row (in field order).
    void readCell(PacketCell& cell);
    // Ends the current row (every field must have been read).
    void endRow();
    // Short texts as raw keys (see PacketCell); off by default.
    void setShortTexts(bool on) { m_shortTexts = on; }
    void setRawTexts(bool on) { m_rawTexts = on; }

  private:
    [[noreturn]] void fail(const QString& what) const;
    void checkReader() const;
    // Header and field definitions, up to the first row (the constructor, and again when the
    // reading goes back to QCborStreamReader).
    void readHeader(QList<FieldDef>& fields);
    QString readText(const char* what);
    void readRaw(const FieldDef& def);
    qint64 readInteger(const char* what);

    // Reading straight from the bytes: each returns false, having moved nothing, at anything
    // it does not take; the caller then goes on with QCborStreamReader (leaveFastPath()).
    bool fastNextRow(bool& more);
    bool fastReadCell(PacketCell& cell);
    bool fastHead(quint8& major, quint64& value, qsizetype& length) const;
    // Puts QCborStreamReader where the reading is: the current row and value.
    void leaveFastPath();
    // Passes over a value read before (rows hold arrays and plain values only).
    void skipValue();

    mutable QCborStreamReader m_r;  // lastError() is not const
    QByteArray m_packet;
    qint64 m_size = 0;
    QList<FieldDef> m_fields;
    qsizetype m_rowHint = -1;
    qsizetype m_rowNo = 0;
    int m_col = -1;
    bool m_done = false;
    bool m_shortTexts = false;
    bool m_rawTexts = false;
    std::string m_raw;

    std::vector<FieldType> m_types;  // of m_fields
    bool m_fast = false;
    qsizetype m_pos = 0;         // next byte, while reading straight from the bytes
    qint64 m_rowsDeclared = -1;  // -1: rows of indefinite length
    QStringDecoder m_utf8{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
};

// Turns raw text bytes into a QString; EPacketError when they are not valid UTF-8.
class Utf8Text {
  public:
    QString decode(QByteArrayView bytes);

  private:
    QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
};

// --- whole packets as values -----------------------------------------------------------------
struct DecodedPacket {
    QList<FieldDef> fields;
    QList<QVariantList> rows;  // values as packetCoerce gives them
};

QByteArray encodePacket(const QList<FieldDef>& fields, const QList<QVariantList>& rows);
DecodedPacket decodePacket(const QByteArray& packet);
// Only the field definitions (the rows are checked too).
QList<FieldDef> packetFields(const QByteArray& packet);
// True when the bytes start like a packet (magic text); no full check.
bool looksLikePacket(const QByteArray& bytes);

QString fieldTypeName(FieldType type);

}  // namespace host

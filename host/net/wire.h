#pragma once

// The application server's wire protocol, shared by the client connection (TNetConnection)
// and the application server.
//
// Framing: every message is a 4-byte big-endian payload length followed by that many bytes
// of CBOR (RFC 8949). A length of zero or above the frame limit is a broken stream.
//
// Messages, each one CBOR map with text keys:
//   request  {"server": text, "method": text, "args": array}
//   reply    {"result": value}   or   {"error": text}
// Unknown keys are skipped, so either side may add keys later; a missing or mistyped key,
// or both "result" and "error" in one reply, is a malformed message.
//
// Values (QVariant <-> CBOR):
//   invalid QVariant / nullptr      <-> null (undefined is read as null too)
//   bool                            <-> true / false
//   signed and unsigned integers    <-> integers; read back as int when the value fits,
//                                       else qlonglong (qulonglong above the qint64 range)
//   double, float                   <-> floating point (half, single and double are read)
//   QString, QChar                  <-> text string
//   QByteArray                      <-> byte string. On this wire a QByteArray is ALWAYS a
//                                       data packet (the CBOR of a client data set, written
//                                       by the packet codec); the bytes travel untouched.
//   QDate                           <-> tag 1004 (RFC 8943 full-date) over "yyyy-MM-dd";
//                                       an invalid QDate travels as the empty text
//   QDateTime (naive local time)    <-> tag kTagLocalDateTime over "yyyy-MM-ddTHH:mm:ss.zzz",
//                                       no offset: both ends read it as their local time;
//                                       an invalid QDateTime travels as the empty text
//   QVariantList, QStringList       <-> array (nested to any depth up to kMaxNesting);
//                                       read back as QVariantList
// Any other kind of value (maps, QTime, QPoint...) cannot be sent and raises ENetError.
//
// Every failure, on writing or reading, raises host::ENetError with a plain text.

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <optional>

namespace host::wire {

// Largest payload either side accepts: big enough for any packet of notes the module sends
// or receives, small enough that a corrupted length cannot make a reader allocate gigabytes.
constexpr qsizetype kMaxFrameSize = 256 * 1024 * 1024;

// Size of the length prefix of a frame.
constexpr qsizetype kHeaderSize = 4;

// Deepest array nesting a reader accepts (results are arrays of packets, a few levels deep).
constexpr int kMaxNesting = 64;

// CBOR tag of a calendar date: RFC 8943 "full-date" text.
constexpr quint64 kTagDate = 1004;

// CBOR tag of a naive local date and time. Private to this protocol (no registered tag
// carries a date-time without an offset).
constexpr quint64 kTagLocalDateTime = 20038;

struct Request {
    QString server;  // remote module, e.g. "DFE58000.rdmManifestacao"
    QString method;  // method name, e.g. "GetNotasDestinadas"
    QVariantList args;
};

struct Reply {
    bool ok = true;
    QVariant result;  // when ok
    QString error;    // when !ok

    static Reply success(const QVariant& value) { return Reply{true, value, {}}; }
    static Reply failure(const QString& text) { return Reply{false, {}, text}; }
};

// Byte strings of at least this size (packets of notes) are never copied into a frame nor out
// of a payload: see replyFramePieces() and the decode functions.
constexpr qsizetype kSharedPieceSize = 64 * 1024;

// --- whole frames (length prefix included), ready to write to a socket ----------------------
QByteArray requestFrame(const Request& request);
QByteArray replyFrame(const Reply& reply);
// The same reply frame as the pieces it can be written in, one after the other: the encoded
// bytes, and each byte string of kSharedPieceSize or more as a piece of its own that shares the
// reply's QByteArray. An answer of megabytes of packets then goes to the socket uncopied.
QList<QByteArray> replyFramePieces(const Reply& reply);

// --- payloads (the bytes of one frame without its length prefix) ----------------------------
// A byte string of kSharedPieceSize or more that a payload carries comes out as a slice of the
// payload (see sharedSlice()), not a copy.
Request decodeRequest(const QByteArray& payload);
Reply decodeReply(const QByteArray& payload);

// One value as bare CBOR, and back (the whole input must be exactly one value).
QByteArray encodeValue(const QVariant& value);
QVariant decodeValue(const QByteArray& cbor);

// Bytes [from, from + size) of bytes as a QByteArray that shares their allocation instead of
// copying them: the allocation lives while any slice of it does, and a slice detaches (copies)
// on its first change like any shared QByteArray. Unlike QByteArray's own allocations a slice
// is not followed by a '\0' (as with QByteArray::fromRawData); raw data is copied instead.
QByteArray sharedSlice(const QByteArray& bytes, qsizetype from, qsizetype size);

// Frames a payload (length prefix + bytes); raises ENetError above the frame limit.
QByteArray frame(const QByteArray& payload, qsizetype maxFrameSize = kMaxFrameSize);

// Collects the bytes of a stream as they arrive, in pieces of any size, and hands out the
// payload of each complete frame in order. A header declaring a length of zero or above the
// limit raises ENetError as soon as its four bytes are in: the stream cannot be trusted
// after that, and the owner should drop the connection.
//
// A payload of kSharedPieceSize or more is a slice of the buffer (sharedSlice()), not a copy.
// Once every byte is handed out and nothing holds a slice any more, the next frame is read
// into the same memory: a client that asks again and again for answers of megabytes does not
// make the system hand it (and zero) fresh pages for each one.
class FrameBuffer {
  public:
    // keepBytes: the most memory the buffer keeps for the next frames once it is spent.
    explicit FrameBuffer(qsizetype maxFrameSize = kMaxFrameSize,
                         qsizetype keepBytes = kReserveLimit)
        : m_max(maxFrameSize), m_keep(keepBytes) {}

    void append(QByteArrayView bytes) {
        reuseSpent();
        m_data.append(bytes.data(), bytes.size());
    }
    // Appends what the device has ready. Once a frame's length is known, room for all of it is
    // taken at once (up to kReserveLimit), so a large answer is copied once on its way in.
    void readFrom(QIODevice& device);
    static constexpr qsizetype kReserveLimit = 64 * 1024 * 1024;

    // The next complete payload, or nothing while its bytes are still missing.
    std::optional<QByteArray> takeFrame();

    // Bytes received and not yet handed out (a partial frame, or frames not yet taken).
    qsizetype pending() const { return m_data.size() - m_start; }
    bool isEmpty() const { return pending() == 0; }
    // Drops the bytes not yet handed out.
    void clear();

  private:
    // With every byte handed out: empties the buffer, keeping its memory when nothing else
    // holds it (and it is not huge).
    void reuseSpent();

    QByteArray m_data;
    qsizetype m_start = 0;  // first byte not yet handed out
    qsizetype m_max;
    qsizetype m_keep;
};

}  // namespace host::wire

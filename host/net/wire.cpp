#include "net/wire.h"

#include "core/hosterror.h"

#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QDate>
#include <QDateTime>
#include <QStringList>
#include <QTime>
#include <QtEndian>
#include <cstring>
#include <limits>
#include <utility>

namespace host::wire {

namespace {

const QString kWriteFailure =
    QStringLiteral("Não foi possível montar a mensagem para o servidor: %1");
const QString kReadFailure = QStringLiteral("Mensagem inválida na comunicação com o servidor: %1");

[[noreturn]] void failWrite(const QString& detail) {
    throw ENetError(kWriteFailure.arg(detail));
}

[[noreturn]] void failRead(const QString& detail) {
    throw ENetError(kReadFailure.arg(detail));
}

const char* const kDateTimeFormat = "yyyy-MM-ddTHH:mm:ss.zzz";
const char* const kDateTimeFormatNoMs = "yyyy-MM-ddTHH:mm:ss";

// --- writing --------------------------------------------------------------------------------

QByteArray joined(const QList<QByteArray>& pieces) {
    return pieces.size() == 1 ? pieces.first() : pieces.join();
}

// Where the encoder's bytes go: appended to the bytes already there (room for the frame header),
// except that a large byte string announced beforehand (expect()) becomes a piece of its own
// that shares the caller's QByteArray: a reply's packets are never copied into its frame.
class PieceSink : public QIODevice {
  public:
    PieceSink(QByteArray start, bool shareLarge)
        : m_current(std::move(start)), m_share(shareLarge) {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }

    // The byte string the encoder writes next; its bytes travel as their own piece when large.
    void expect(const QByteArray& bytes) {
        if (m_share && bytes.size() >= kSharedPieceSize) {
            m_expected = bytes;
        }
    }

    QList<QByteArray> take() {
        if (!m_current.isEmpty() || m_pieces.isEmpty()) {
            m_pieces.append(std::move(m_current));
        }
        m_current = QByteArray();
        return std::exchange(m_pieces, {});
    }

  protected:
    qint64 readData(char*, qint64) override { return -1; }

    qint64 writeData(const char* data, qint64 len) override {
        if (!m_expected.isNull() && data == m_expected.constData() && len == m_expected.size()) {
            // The string's own bytes (its head went just before): shared, not copied.
            m_pieces.append(std::move(m_current));
            m_current = QByteArray();
            m_pieces.append(std::exchange(m_expected, QByteArray()));
            return len;
        }
        m_current.append(data, qsizetype(len));
        return len;
    }

  private:
    QList<QByteArray> m_pieces;
    QByteArray m_current;
    QByteArray m_expected;
    bool m_share;
};

class Encoder {
  public:
    // start: bytes the encoded ones follow (the frame header's room). shareLarge: large byte
    // strings become pieces of their own (see PieceSink).
    explicit Encoder(QByteArray start = {}, bool shareLarge = false)
        : m_sink(std::move(start), shareLarge), m_writer(&m_sink) {}

    QCborStreamWriter& writer() { return m_writer; }
    QList<QByteArray> pieces() { return m_sink.take(); }
    QByteArray bytes() { return joined(m_sink.take()); }

    void text(const QString& s) { m_writer.append(s); }

    void value(const QVariant& v, int depth = 0) {
        if (depth > kMaxNesting) {
            failWrite(QStringLiteral("listas aninhadas em mais de %1 níveis").arg(kMaxNesting));
        }
        switch (v.typeId()) {
            case QMetaType::UnknownType:
            case QMetaType::Nullptr:
                m_writer.appendNull();
                return;
            case QMetaType::Bool:
                m_writer.append(v.toBool());
                return;
            case QMetaType::Int:
            case QMetaType::Short:
            case QMetaType::Long:
            case QMetaType::LongLong:
            case QMetaType::SChar:
            case QMetaType::Char:
                m_writer.append(qint64(v.toLongLong()));
                return;
            case QMetaType::UInt:
            case QMetaType::UShort:
            case QMetaType::ULong:
            case QMetaType::ULongLong:
            case QMetaType::UChar:
                m_writer.append(quint64(v.toULongLong()));
                return;
            case QMetaType::Double:
            case QMetaType::Float:
                m_writer.append(v.toDouble());
                return;
            case QMetaType::QString:
            case QMetaType::QChar:
                m_writer.append(v.toString());
                return;
            case QMetaType::QByteArray: {
                const QByteArray bytes = v.toByteArray();
                m_sink.expect(bytes);
                m_writer.append(bytes);
                return;
            }
            case QMetaType::QDate:
                date(v.toDate());
                return;
            case QMetaType::QDateTime:
                dateTime(v.toDateTime());
                return;
            case QMetaType::QVariantList: {
                const QVariantList list = v.toList();
                m_writer.startArray(quint64(list.size()));
                for (const QVariant& item : list) {
                    value(item, depth + 1);
                }
                m_writer.endArray();
                return;
            }
            case QMetaType::QStringList: {
                const QStringList list = v.toStringList();
                m_writer.startArray(quint64(list.size()));
                for (const QString& item : list) {
                    m_writer.append(item);
                }
                m_writer.endArray();
                return;
            }
            default:
                failWrite(QStringLiteral("valor do tipo %1 não pode ser enviado")
                              .arg(QString::fromLatin1(v.typeName())));
        }
    }

  private:
    void date(const QDate& d) {
        m_writer.append(QCborTag(kTagDate));
        if (!d.isValid()) {
            m_writer.append(QString());
            return;
        }
        if (d.year() < 1 || d.year() > 9999) {
            failWrite(QStringLiteral("data fora do intervalo aceito (anos 1 a 9999)"));
        }
        m_writer.append(d.toString(Qt::ISODate));
    }

    void dateTime(const QDateTime& dt) {
        m_writer.append(QCborTag(kTagLocalDateTime));
        if (!dt.isValid()) {
            m_writer.append(QString());
            return;
        }
        // The wall-clock reading of the sender: local time, or the stated time of a UTC or
        // offset QDateTime converted to local time first.
        const QDateTime local = dt.toLocalTime();
        if (local.date().year() < 1 || local.date().year() > 9999) {
            failWrite(QStringLiteral("data e hora fora do intervalo aceito (anos 1 a 9999)"));
        }
        m_writer.append(local.toString(QLatin1String(kDateTimeFormat)));
    }

    PieceSink m_sink;
    QCborStreamWriter m_writer;
};

QByteArray headerRoom() {
    return QByteArray(kHeaderSize, '\0');
}

// Fills the header of a frame whose payload follows the first kHeaderSize bytes of its first
// piece.
QList<QByteArray> sealFrame(QList<QByteArray> pieces, qsizetype maxFrameSize) {
    qsizetype bytes = 0;
    for (const QByteArray& piece : pieces) {
        bytes += piece.size();
    }
    const qsizetype payload = bytes - kHeaderSize;
    if (payload > maxFrameSize) {
        failWrite(QStringLiteral("a mensagem tem %1 bytes, acima do limite de %2 bytes")
                      .arg(payload)
                      .arg(maxFrameSize));
    }
    qToBigEndian(quint32(payload), pieces.first().data());
    return pieces;
}

// --- reading --------------------------------------------------------------------------------

class Decoder {
  public:
    explicit Decoder(const QByteArray& bytes)
        : m_bytes(bytes), m_size(bytes.size()), m_reader(bytes) {}

    QCborStreamReader& reader() { return m_reader; }

    void check() {
        if (m_reader.lastError() != QCborError::NoError) {
            failRead(describe(m_reader.lastError()));
        }
    }

    void advance() {
        m_reader.next(kMaxNesting);
        check();
    }

    QVariant value(int depth = 0) {
        check();
        if (depth > kMaxNesting) {
            failRead(QStringLiteral("listas aninhadas em mais de %1 níveis").arg(kMaxNesting));
        }
        switch (m_reader.type()) {
            case QCborStreamReader::UnsignedInteger: {
                const quint64 n = m_reader.toUnsignedInteger();
                advance();
                if (n <= quint64(std::numeric_limits<int>::max())) {
                    return int(n);
                }
                if (n <= quint64(std::numeric_limits<qint64>::max())) {
                    return qlonglong(n);
                }
                return qulonglong(n);
            }
            case QCborStreamReader::NegativeInteger: {
                // CBOR stores -1 - n; the reader hands out n + 1 (wrapping to 0 for n = 2^64 - 1).
                const quint64 n = quint64(m_reader.toNegativeInteger()) - 1;
                advance();
                if (n > quint64(std::numeric_limits<qint64>::max())) {
                    failRead(QStringLiteral("inteiro negativo fora do intervalo de 64 bits"));
                }
                const qint64 v = -1 - qint64(n);
                if (v >= std::numeric_limits<int>::min()) {
                    return int(v);
                }
                return qlonglong(v);
            }
            case QCborStreamReader::ByteArray:
                return byteString();
            case QCborStreamReader::String:
                return textString();
            case QCborStreamReader::Array:
                return array(depth);
            case QCborStreamReader::Map:
                failRead(QStringLiteral("mapa onde se esperava um valor"));
            case QCborStreamReader::Tag:
                return tagged();
            case QCborStreamReader::SimpleType: {
                const QCborSimpleType s = m_reader.toSimpleType();
                advance();
                switch (s) {
                    case QCborSimpleType::False:
                        return false;
                    case QCborSimpleType::True:
                        return true;
                    case QCborSimpleType::Null:
                    case QCborSimpleType::Undefined:
                        return QVariant();
                    default:
                        failRead(QStringLiteral("valor simples CBOR %1 desconhecido").arg(int(s)));
                }
            }
            case QCborStreamReader::Float16: {
                const double d = double(float(m_reader.toFloat16()));
                advance();
                return d;
            }
            case QCborStreamReader::Float: {
                const double d = double(m_reader.toFloat());
                advance();
                return d;
            }
            case QCborStreamReader::Double: {
                const double d = m_reader.toDouble();
                advance();
                return d;
            }
            case QCborStreamReader::Invalid:
                break;
        }
        check();
        failRead(QStringLiteral("dados CBOR inválidos"));
    }

    QString textString() {
        if (!m_reader.isString()) {
            failRead(QStringLiteral("texto esperado"));
        }
        QString out;
        auto r = m_reader.readString();
        while (r.status == QCborStreamReader::Ok) {
            out += r.data;
            r = m_reader.readString();
        }
        if (r.status == QCborStreamReader::Error) {
            check();
            failRead(QStringLiteral("texto inválido"));
        }
        return out;
    }

    QByteArray byteString() {
        // A large string of known length (a packet) shares the message's bytes.
        if (m_reader.isLengthKnown() && m_reader.length() >= quint64(kSharedPieceSize)) {
            const qsizetype at = qsizetype(m_reader.currentOffset());
            const quint64 length = m_reader.length();
            const qsizetype head = headSize(uchar(m_bytes.at(at)) & 0x1f);
            if (head > 0 && length <= quint64(m_size - at - head)) {
                QByteArray out = sharedSlice(m_bytes, at + head, qsizetype(length));
                advance();  // skips the string without reading it
                return out;
            }
        }
        QByteArray out;
        auto r = m_reader.readByteArray();
        while (r.status == QCborStreamReader::Ok) {
            if (out.isEmpty()) {
                out = std::move(r.data);
            } else {
                out += r.data;
            }
            r = m_reader.readByteArray();
        }
        if (r.status == QCborStreamReader::Error) {
            check();
            failRead(QStringLiteral("sequência de bytes inválida"));
        }
        // An empty packet is still a packet, not a null value.
        if (out.isNull()) {
            out = QByteArray("");
        }
        return out;
    }

    QVariantList array(int depth) {
        QVariantList list;
        if (m_reader.isLengthKnown()) {
            // Never trust a declared length further than the bytes that could hold it.
            const quint64 declared = m_reader.length();
            const quint64 room = quint64(m_size - m_reader.currentOffset());
            list.reserve(qsizetype(std::min(declared, room)));
        }
        if (!m_reader.enterContainer()) {
            check();
        }
        while (m_reader.lastError() == QCborError::NoError && m_reader.hasNext()) {
            list.append(value(depth + 1));
        }
        check();
        if (!m_reader.leaveContainer()) {
            check();
        }
        return list;
    }

    QVariant tagged() {
        const quint64 tag = quint64(m_reader.toTag());
        advance();
        if (tag != kTagDate && tag != kTagLocalDateTime) {
            failRead(QStringLiteral("marca CBOR %1 desconhecida").arg(tag));
        }
        if (!m_reader.isString()) {
            failRead(QStringLiteral("data sem texto na marca CBOR %1").arg(tag));
        }
        const QString text = textString();
        if (tag == kTagDate) {
            if (text.isEmpty()) {
                return QDate();
            }
            const QDate d = QDate::fromString(text, Qt::ISODate);
            if (!d.isValid() || text.size() != 10) {
                failRead(QStringLiteral("data inválida \"%1\"").arg(text));
            }
            return d;
        }
        if (text.isEmpty()) {
            return QDateTime();
        }
        // Milliseconds are always written, and optional on reading.
        QDateTime dt = QDateTime::fromString(text, QLatin1String(kDateTimeFormat));
        if (!dt.isValid()) {
            dt = QDateTime::fromString(text, QLatin1String(kDateTimeFormatNoMs));
        }
        if (!dt.isValid()) {
            failRead(QStringLiteral("data e hora inválida \"%1\"").arg(text));
        }
        return dt;
    }

    // Reads the keys of a map at the top of the message, handing each to the visitor, which
    // reads the value or returns false to have it skipped.
    template <typename Visit>
    void topMap(Visit visit) {
        check();
        if (!m_reader.isMap()) {
            failRead(QStringLiteral("a mensagem não é um mapa CBOR"));
        }
        if (!m_reader.enterContainer()) {
            check();
        }
        QStringList seen;
        while (m_reader.lastError() == QCborError::NoError && m_reader.hasNext()) {
            if (!m_reader.isString()) {
                failRead(QStringLiteral("chave da mensagem não é texto"));
            }
            const QString key = textString();
            if (seen.contains(key)) {
                failRead(QStringLiteral("chave \"%1\" repetida").arg(key));
            }
            seen.append(key);
            check();
            if (!m_reader.hasNext()) {
                failRead(QStringLiteral("chave \"%1\" sem valor").arg(key));
            }
            if (!visit(key)) {
                advance();
            }
        }
        check();
        if (!m_reader.leaveContainer()) {
            check();
        }
        finish();
    }

    // The whole input must be one item.
    void finish() {
        check();
        if (m_reader.currentOffset() != m_size) {
            failRead(QStringLiteral("%1 bytes a mais depois da mensagem")
                         .arg(m_size - m_reader.currentOffset()));
        }
    }

  private:
    static QString describe(QCborError e) {
        switch (e.c) {
            case QCborError::EndOfFile:
                return QStringLiteral("dados CBOR incompletos");
            case QCborError::DataTooLarge:
                return QStringLiteral("dados CBOR grandes demais");
            default:
                return QStringLiteral("dados CBOR inválidos (%1)").arg(e.toString());
        }
    }

    // Bytes of the head of an item of known length by its additional information; 0 for an
    // indefinite length.
    static qsizetype headSize(int info) {
        if (info < 24) {
            return 1;
        }
        switch (info) {
            case 24:
                return 2;
            case 25:
                return 3;
            case 26:
                return 5;
            case 27:
                return 9;
            default:
                return 0;
        }
    }

    const QByteArray m_bytes;
    qint64 m_size;
    QCborStreamReader m_reader;
};

}  // namespace

// --- public ---------------------------------------------------------------------------------

QByteArray requestFrame(const Request& request) {
    if (request.method.isEmpty()) {
        failWrite(QStringLiteral("nome do método vazio"));
    }
    // Packets among the arguments are copied once, straight into a frame of the final size.
    Encoder e(headerRoom(), true);
    e.writer().startMap(3);
    e.text(QStringLiteral("server"));
    e.text(request.server);
    e.text(QStringLiteral("method"));
    e.text(request.method);
    e.text(QStringLiteral("args"));
    e.writer().startArray(quint64(request.args.size()));
    for (const QVariant& arg : request.args) {
        e.value(arg, 1);
    }
    e.writer().endArray();
    e.writer().endMap();
    return joined(sealFrame(e.pieces(), kMaxFrameSize));
}

QList<QByteArray> replyFramePieces(const Reply& reply) {
    Encoder e(headerRoom(), true);
    e.writer().startMap(1);
    if (reply.ok) {
        e.text(QStringLiteral("result"));
        e.value(reply.result);
    } else {
        e.text(QStringLiteral("error"));
        e.text(reply.error);
    }
    e.writer().endMap();
    return sealFrame(e.pieces(), kMaxFrameSize);
}

QByteArray replyFrame(const Reply& reply) {
    return joined(replyFramePieces(reply));
}

Request decodeRequest(const QByteArray& payload) {
    Decoder d(payload);
    Request req;
    bool hasServer = false, hasMethod = false, hasArgs = false;
    d.topMap([&](const QString& key) {
        if (key == QLatin1String("server")) {
            if (!d.reader().isString()) {
                failRead(QStringLiteral("\"server\" não é texto"));
            }
            req.server = d.textString();
            hasServer = true;
            return true;
        }
        if (key == QLatin1String("method")) {
            if (!d.reader().isString()) {
                failRead(QStringLiteral("\"method\" não é texto"));
            }
            req.method = d.textString();
            hasMethod = true;
            return true;
        }
        if (key == QLatin1String("args")) {
            if (!d.reader().isArray()) {
                failRead(QStringLiteral("\"args\" não é uma lista"));
            }
            req.args = d.array(0);
            hasArgs = true;
            return true;
        }
        return false;
    });
    if (!hasServer || !hasMethod || !hasArgs) {
        failRead(QStringLiteral("pedido sem \"%1\"")
                     .arg(!hasServer   ? "server"
                          : !hasMethod ? "method"
                                       : "args"));
    }
    if (req.method.isEmpty()) {
        failRead(QStringLiteral("pedido com o nome do método vazio"));
    }
    return req;
}

Reply decodeReply(const QByteArray& payload) {
    Decoder d(payload);
    Reply reply;
    bool hasResult = false, hasError = false;
    d.topMap([&](const QString& key) {
        if (key == QLatin1String("result")) {
            reply.result = d.value(0);
            hasResult = true;
            return true;
        }
        if (key == QLatin1String("error")) {
            if (!d.reader().isString()) {
                failRead(QStringLiteral("\"error\" não é texto"));
            }
            reply.error = d.textString();
            hasError = true;
            return true;
        }
        return false;
    });
    if (hasResult == hasError) {
        failRead(hasResult ? QStringLiteral("resposta com \"result\" e \"error\" ao mesmo tempo")
                           : QStringLiteral("resposta sem \"result\" nem \"error\""));
    }
    reply.ok = hasResult;
    return reply;
}

QByteArray encodeValue(const QVariant& value) {
    Encoder e({}, true);
    e.value(value);
    return e.bytes();
}

QVariant decodeValue(const QByteArray& cbor) {
    Decoder d(cbor);
    QVariant v = d.value();
    d.finish();
    return v;
}

QByteArray sharedSlice(const QByteArray& bytes, qsizetype from, qsizetype size) {
    Q_ASSERT(from >= 0 && size >= 0 && from + size <= bytes.size());
    QByteArray out = bytes;  // one more reference to the same allocation
    QByteArray::DataPointer& d = out.data_ptr();
    if (!d.isMutable()) {
        return bytes.mid(from, size);  // raw data, owned by somebody else: copied
    }
    d.setBegin(d.data() + from);
    d.size = size;
    return out;
}

QByteArray frame(const QByteArray& payload, qsizetype maxFrameSize) {
    if (payload.size() > maxFrameSize) {
        failWrite(QStringLiteral("a mensagem tem %1 bytes, acima do limite de %2 bytes")
                      .arg(payload.size())
                      .arg(maxFrameSize));
    }
    QByteArray out(kHeaderSize, '\0');
    qToBigEndian(quint32(payload.size()), out.data());
    out.append(payload);
    return out;
}

// --- FrameBuffer ----------------------------------------------------------------------------

std::optional<QByteArray> FrameBuffer::takeFrame() {
    if (pending() < kHeaderSize) {
        return std::nullopt;
    }
    const quint32 length = qFromBigEndian<quint32>(m_data.constData() + m_start);
    if (length == 0) {
        throw ENetError(kReadFailure.arg(QStringLiteral("mensagem de tamanho zero")));
    }
    if (qint64(length) > qint64(m_max)) {
        throw ENetError(kReadFailure.arg(
            QStringLiteral("tamanho declarado de %1 bytes, acima do limite de %2 bytes")
                .arg(length)
                .arg(m_max)));
    }
    if (pending() - kHeaderSize < qsizetype(length)) {
        return std::nullopt;
    }
    const qsizetype at = m_start + kHeaderSize;
    m_start = at + qsizetype(length);
    if (m_start == m_data.size()) {
        // The last frame in: handed out whole when large, the buffer kept for the next ones
        // (reuseSpent()).
        if (qsizetype(length) >= kSharedPieceSize) {
            return sharedSlice(m_data, at, qsizetype(length));
        }
        QByteArray payload = m_data.mid(at, qsizetype(length));
        reuseSpent();
        return payload;
    }
    QByteArray payload = qsizetype(length) >= kSharedPieceSize
                             ? sharedSlice(m_data, at, qsizetype(length))
                             : m_data.mid(at, qsizetype(length));
    if (m_start > m_data.size() / 2) {
        // Drop what was handed out once it is most of the buffer, so a long-lived stream of
        // small frames costs linear time overall.
        m_data.remove(0, m_start);
        m_start = 0;
    }
    return payload;
}

void FrameBuffer::reuseSpent() {
    if (pending() != 0) {
        return;
    }
    m_start = 0;
    if (m_data.isDetached() &&
        m_data.capacity() + m_data.data_ptr().freeSpaceAtBegin() <= m_keep + kHeaderSize) {
        // Nothing holds a payload of it any more: the same memory takes the next frames.
        QByteArray::DataPointer& d = m_data.data_ptr();
        d.setBegin(d.data() - d.freeSpaceAtBegin());
        d.size = 0;
        *d.data() = '\0';
        return;
    }
    m_data = QByteArray();
}

void FrameBuffer::readFrom(QIODevice& device) {
    const qint64 available = device.bytesAvailable();
    if (available <= 0) {
        return;
    }
    reuseSpent();
    const qsizetype before = m_data.size();
    if (pending() + available >= kHeaderSize) {
        // The head of the first frame not yet taken, maybe partly still in the device.
        char head[kHeaderSize];
        const qsizetype have = qMin<qsizetype>(pending(), kHeaderSize);
        std::memcpy(head, m_data.constData() + m_start, size_t(have));
        if (have == kHeaderSize ||
            device.peek(head + have, kHeaderSize - have) == kHeaderSize - have) {
            const qsizetype frame = kHeaderSize + qsizetype(qFromBigEndian<quint32>(head));
            const qsizetype want = m_start + qMin(frame, kReserveLimit);
            if (frame <= kHeaderSize + m_max && want > m_data.capacity()) {
                m_data.reserve(want);
            }
        }
    }
    m_data.resize(before + qsizetype(available));
    const qint64 got = device.read(m_data.data() + before, available);
    m_data.resize(before + qsizetype(qMax<qint64>(got, 0)));
}

void FrameBuffer::clear() {
    m_start = m_data.size();
    reuseSpent();
}

}  // namespace host::wire

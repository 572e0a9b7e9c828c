#include "net/wire.h"

#include "core/hosterror.h"

#include <QBuffer>
#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QDate>
#include <QDateTime>
#include <QStringList>
#include <QTime>
#include <QtEndian>
#include <cstring>
#include <limits>

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

// Writes CBOR behind whatever the target already holds (room for the frame header).
class Encoder {
  public:
    explicit Encoder(QByteArray* target) : m_buffer(target), m_writer(&m_buffer) {
        m_buffer.open(QIODevice::WriteOnly | QIODevice::Append);
    }

    QCborStreamWriter& writer() { return m_writer; }

    void text(const QString& s) { m_writer.append(s); }

    void value(const QVariant& v, int depth = 0) {
        if (depth > kMaxNesting)
            failWrite(QStringLiteral("listas aninhadas em mais de %1 níveis").arg(kMaxNesting));
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
            case QMetaType::QByteArray:
                m_writer.append(v.toByteArray());
                return;
            case QMetaType::QDate:
                date(v.toDate());
                return;
            case QMetaType::QDateTime:
                dateTime(v.toDateTime());
                return;
            case QMetaType::QVariantList: {
                const QVariantList list = v.toList();
                m_writer.startArray(quint64(list.size()));
                for (const QVariant& item : list)
                    value(item, depth + 1);
                m_writer.endArray();
                return;
            }
            case QMetaType::QStringList: {
                const QStringList list = v.toStringList();
                m_writer.startArray(quint64(list.size()));
                for (const QString& item : list)
                    m_writer.append(item);
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
        if (d.year() < 1 || d.year() > 9999)
            failWrite(QStringLiteral("data fora do intervalo aceito (anos 1 a 9999)"));
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
        if (local.date().year() < 1 || local.date().year() > 9999)
            failWrite(QStringLiteral("data e hora fora do intervalo aceito (anos 1 a 9999)"));
        m_writer.append(local.toString(QLatin1String(kDateTimeFormat)));
    }

    QBuffer m_buffer;
    QCborStreamWriter m_writer;
};

// Bytes a value will take, near enough to reserve them at once: an answer carrying a packet of
// megabytes is then copied once into its frame instead of through a growing buffer.
qsizetype roughSize(const QVariant& v, int depth = 0) {
    switch (v.typeId()) {
        case QMetaType::QByteArray:
            return 9 + v.toByteArray().size();
        case QMetaType::QString:
            return 9 + 3 * v.toString().size();
        case QMetaType::QVariantList:
        case QMetaType::QStringList: {
            qsizetype n = 9;
            if (depth < kMaxNesting)
                for (const QVariant& item : v.toList())
                    n += roughSize(item, depth + 1);
            return n;
        }
        default:
            return 32;
    }
}

QByteArray withHeaderRoom(qsizetype payload = 0) {
    QByteArray out(kHeaderSize, '\0');
    out.reserve(kHeaderSize + 64 + qMin(payload, kMaxFrameSize));
    return out;
}

// Fills the header of a frame whose payload follows the first kHeaderSize bytes.
QByteArray sealFrame(QByteArray bytes, qsizetype maxFrameSize) {
    const qsizetype payload = bytes.size() - kHeaderSize;
    if (payload > maxFrameSize)
        failWrite(QStringLiteral("a mensagem tem %1 bytes, acima do limite de %2 bytes")
                      .arg(payload)
                      .arg(maxFrameSize));
    qToBigEndian(quint32(payload), bytes.data());
    return bytes;
}

// --- reading --------------------------------------------------------------------------------

class Decoder {
  public:
    explicit Decoder(const QByteArray& bytes) : m_size(bytes.size()), m_reader(bytes) {}

    QCborStreamReader& reader() { return m_reader; }

    void check() {
        if (m_reader.lastError() != QCborError::NoError)
            failRead(describe(m_reader.lastError()));
    }

    void advance() {
        m_reader.next(kMaxNesting);
        check();
    }

    QVariant value(int depth = 0) {
        check();
        if (depth > kMaxNesting)
            failRead(QStringLiteral("listas aninhadas em mais de %1 níveis").arg(kMaxNesting));
        switch (m_reader.type()) {
            case QCborStreamReader::UnsignedInteger: {
                const quint64 n = m_reader.toUnsignedInteger();
                advance();
                if (n <= quint64(std::numeric_limits<int>::max()))
                    return int(n);
                if (n <= quint64(std::numeric_limits<qint64>::max()))
                    return qlonglong(n);
                return qulonglong(n);
            }
            case QCborStreamReader::NegativeInteger: {
                // CBOR stores -1 - n; the reader hands out n + 1 (wrapping to 0 for n = 2^64 - 1).
                const quint64 n = quint64(m_reader.toNegativeInteger()) - 1;
                advance();
                if (n > quint64(std::numeric_limits<qint64>::max()))
                    failRead(QStringLiteral("inteiro negativo fora do intervalo de 64 bits"));
                const qint64 v = -1 - qint64(n);
                if (v >= std::numeric_limits<int>::min())
                    return int(v);
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
        if (!m_reader.isString())
            failRead(QStringLiteral("texto esperado"));
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
        QByteArray out;
        auto r = m_reader.readByteArray();
        while (r.status == QCborStreamReader::Ok) {
            if (out.isEmpty())
                out = std::move(r.data);
            else
                out += r.data;
            r = m_reader.readByteArray();
        }
        if (r.status == QCborStreamReader::Error) {
            check();
            failRead(QStringLiteral("sequência de bytes inválida"));
        }
        // An empty packet is still a packet, not a null value.
        if (out.isNull())
            out = QByteArray("");
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
        if (!m_reader.enterContainer())
            check();
        while (m_reader.lastError() == QCborError::NoError && m_reader.hasNext())
            list.append(value(depth + 1));
        check();
        if (!m_reader.leaveContainer())
            check();
        return list;
    }

    QVariant tagged() {
        const quint64 tag = quint64(m_reader.toTag());
        advance();
        if (tag != kTagDate && tag != kTagLocalDateTime)
            failRead(QStringLiteral("marca CBOR %1 desconhecida").arg(tag));
        if (!m_reader.isString())
            failRead(QStringLiteral("data sem texto na marca CBOR %1").arg(tag));
        const QString text = textString();
        if (tag == kTagDate) {
            if (text.isEmpty())
                return QDate();
            const QDate d = QDate::fromString(text, Qt::ISODate);
            if (!d.isValid() || text.size() != 10)
                failRead(QStringLiteral("data inválida \"%1\"").arg(text));
            return d;
        }
        if (text.isEmpty())
            return QDateTime();
        // Milliseconds are always written, and optional on reading.
        QDateTime dt = QDateTime::fromString(text, QLatin1String(kDateTimeFormat));
        if (!dt.isValid())
            dt = QDateTime::fromString(text, QLatin1String(kDateTimeFormatNoMs));
        if (!dt.isValid())
            failRead(QStringLiteral("data e hora inválida \"%1\"").arg(text));
        return dt;
    }

    // Reads the keys of a map at the top of the message, handing each to the visitor, which
    // reads the value or returns false to have it skipped.
    template <typename Visit>
    void topMap(Visit visit) {
        check();
        if (!m_reader.isMap())
            failRead(QStringLiteral("a mensagem não é um mapa CBOR"));
        if (!m_reader.enterContainer())
            check();
        QStringList seen;
        while (m_reader.lastError() == QCborError::NoError && m_reader.hasNext()) {
            if (!m_reader.isString())
                failRead(QStringLiteral("chave da mensagem não é texto"));
            const QString key = textString();
            if (seen.contains(key))
                failRead(QStringLiteral("chave \"%1\" repetida").arg(key));
            seen.append(key);
            check();
            if (!m_reader.hasNext())
                failRead(QStringLiteral("chave \"%1\" sem valor").arg(key));
            if (!visit(key))
                advance();
        }
        check();
        if (!m_reader.leaveContainer())
            check();
        finish();
    }

    // The whole input must be one item.
    void finish() {
        check();
        if (m_reader.currentOffset() != m_size)
            failRead(QStringLiteral("%1 bytes a mais depois da mensagem")
                         .arg(m_size - m_reader.currentOffset()));
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

    qint64 m_size;
    QCborStreamReader m_reader;
};

}  // namespace

// --- public ---------------------------------------------------------------------------------

QByteArray requestFrame(const Request& request) {
    if (request.method.isEmpty())
        failWrite(QStringLiteral("nome do método vazio"));
    QByteArray out = withHeaderRoom();
    {
        Encoder e(&out);
        e.writer().startMap(3);
        e.text(QStringLiteral("server"));
        e.text(request.server);
        e.text(QStringLiteral("method"));
        e.text(request.method);
        e.text(QStringLiteral("args"));
        e.writer().startArray(quint64(request.args.size()));
        for (const QVariant& arg : request.args)
            e.value(arg, 1);
        e.writer().endArray();
        e.writer().endMap();
    }
    return sealFrame(std::move(out), kMaxFrameSize);
}

QByteArray replyFrame(const Reply& reply) {
    QByteArray out = withHeaderRoom(reply.ok ? roughSize(reply.result) : 0);
    {
        Encoder e(&out);
        e.writer().startMap(1);
        if (reply.ok) {
            e.text(QStringLiteral("result"));
            e.value(reply.result);
        } else {
            e.text(QStringLiteral("error"));
            e.text(reply.error);
        }
        e.writer().endMap();
    }
    return sealFrame(std::move(out), kMaxFrameSize);
}

Request decodeRequest(const QByteArray& payload) {
    Decoder d(payload);
    Request req;
    bool hasServer = false, hasMethod = false, hasArgs = false;
    d.topMap([&](const QString& key) {
        if (key == QLatin1String("server")) {
            if (!d.reader().isString())
                failRead(QStringLiteral("\"server\" não é texto"));
            req.server = d.textString();
            hasServer = true;
            return true;
        }
        if (key == QLatin1String("method")) {
            if (!d.reader().isString())
                failRead(QStringLiteral("\"method\" não é texto"));
            req.method = d.textString();
            hasMethod = true;
            return true;
        }
        if (key == QLatin1String("args")) {
            if (!d.reader().isArray())
                failRead(QStringLiteral("\"args\" não é uma lista"));
            req.args = d.array(0);
            hasArgs = true;
            return true;
        }
        return false;
    });
    if (!hasServer || !hasMethod || !hasArgs)
        failRead(QStringLiteral("pedido sem \"%1\"")
                     .arg(!hasServer   ? "server"
                          : !hasMethod ? "method"
                                       : "args"));
    if (req.method.isEmpty())
        failRead(QStringLiteral("pedido com o nome do método vazio"));
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
            if (!d.reader().isString())
                failRead(QStringLiteral("\"error\" não é texto"));
            reply.error = d.textString();
            hasError = true;
            return true;
        }
        return false;
    });
    if (hasResult == hasError)
        failRead(hasResult ? QStringLiteral("resposta com \"result\" e \"error\" ao mesmo tempo")
                           : QStringLiteral("resposta sem \"result\" nem \"error\""));
    reply.ok = hasResult;
    return reply;
}

QByteArray encodeValue(const QVariant& value) {
    QByteArray out;
    {
        Encoder e(&out);
        e.value(value);
    }
    return out;
}

QVariant decodeValue(const QByteArray& cbor) {
    Decoder d(cbor);
    QVariant v = d.value();
    d.finish();
    return v;
}

QByteArray frame(const QByteArray& payload, qsizetype maxFrameSize) {
    if (payload.size() > maxFrameSize)
        failWrite(QStringLiteral("a mensagem tem %1 bytes, acima do limite de %2 bytes")
                      .arg(payload.size())
                      .arg(maxFrameSize));
    QByteArray out(kHeaderSize, '\0');
    qToBigEndian(quint32(payload.size()), out.data());
    out.append(payload);
    return out;
}

// --- FrameBuffer ----------------------------------------------------------------------------

std::optional<QByteArray> FrameBuffer::takeFrame() {
    if (pending() < kHeaderSize)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(m_data.constData() + m_start);
    if (length == 0)
        throw ENetError(kReadFailure.arg(QStringLiteral("mensagem de tamanho zero")));
    if (qint64(length) > qint64(m_max))
        throw ENetError(kReadFailure.arg(
            QStringLiteral("tamanho declarado de %1 bytes, acima do limite de %2 bytes")
                .arg(length)
                .arg(m_max)));
    if (pending() - kHeaderSize < qsizetype(length))
        return std::nullopt;
    if (m_start == 0 && m_data.size() == kHeaderSize + qsizetype(length)) {
        // The buffer is this frame and nothing else: hand it over whole, its head cut off
        // (which moves no bytes).
        QByteArray payload = std::move(m_data);
        m_data = QByteArray();
        payload.remove(0, kHeaderSize);
        return payload;
    }
    QByteArray payload = m_data.mid(m_start + kHeaderSize, qsizetype(length));
    m_start += kHeaderSize + qsizetype(length);
    if (m_start == m_data.size()) {
        m_data.clear();
        m_start = 0;
    } else if (m_start > m_data.size() / 2) {
        // Drop what was handed out once it is most of the buffer, so a long-lived stream of
        // small frames costs linear time overall.
        m_data.remove(0, m_start);
        m_start = 0;
    }
    return payload;
}

void FrameBuffer::readFrom(QIODevice& device) {
    const qint64 available = device.bytesAvailable();
    if (available <= 0) {
        return;
    }
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
    m_data.clear();
    m_start = 0;
}

}  // namespace host::wire

#include <QDate>
#include <QDateTime>
#include <QPoint>
#include <QRandomGenerator>
#include <QTime>
#include <QVariantMap>
#include <QtEndian>
#include <QtTest>
#include <cstring>
#include <limits>

#include "core/hosterror.h"
#include "net/wire.h"

using namespace host;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// Same value and same type, all the way down a list.
bool sameValue(const QVariant& a, const QVariant& b, QString* why) {
    if (a.typeId() != b.typeId()) {
        *why = QStringLiteral("type %1 vs %2").arg(a.typeName(), b.typeName());
        return false;
    }
    if (a.typeId() == QMetaType::QVariantList) {
        const QVariantList la = a.toList(), lb = b.toList();
        if (la.size() != lb.size()) {
            *why = QStringLiteral("list size %1 vs %2").arg(la.size()).arg(lb.size());
            return false;
        }
        for (qsizetype i = 0; i < la.size(); ++i) {
            if (!sameValue(la[i], lb[i], why)) {
                return false;
            }
        }
        return true;
    }
    if (a.typeId() == QMetaType::QDateTime) {
        const QDateTime da = a.toDateTime(), db = b.toDateTime();
        if (da.isValid() != db.isValid() || (da.isValid() && da != db)) {
            *why = da.toString(Qt::ISODateWithMs) + " vs " + db.toString(Qt::ISODateWithMs);
            return false;
        }
        return true;
    }
    if (a != b) {
        *why = a.toString() + " vs " + b.toString();
        return false;
    }
    return true;
}

QByteArray payloadOf(const QByteArray& frame) {
    return frame.mid(wire::kHeaderSize);
}

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ENetError& e) {
        return e.text();
    }
    return QStringLiteral("<no ENetError>");
}

// A sequential device fed piece by piece, as a socket receives.
class Pieces : public QIODevice {
  public:
    Pieces() { open(QIODevice::ReadOnly); }
    void feed(const QByteArray& bytes) { m_data += bytes; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_data.size() + QIODevice::bytesAvailable(); }

  protected:
    qint64 readData(char* out, qint64 max) override {
        const qint64 n = std::min<qint64>(max, m_data.size());
        std::memcpy(out, m_data.constData(), size_t(n));
        m_data.remove(0, n);
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray m_data;
};

}  // namespace

class TestWire : public QObject {
    Q_OBJECT

  private slots:
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void bytesMatchTheCborStandard_data();
    void bytesMatchTheCborStandard();
    void messagesHaveTheAgreedLayout();
    void readsCborFromOtherWriters_data();
    void readsCborFromOtherWriters();
    void messagesRoundTrip();
    void unsupportedValuesAreRefused();
    void malformedInputIsRejected_data();
    void malformedInputIsRejected();
    void framesSurviveAnySplit();
    void framesSurviveRandomPieces();
    void framesReadFromADevice();
    void frameLengthIsGuarded();
    void largeByteStringsAreNotCopied();
    void heldPayloadsSurviveLaterFrames();
};

void TestWire::valuesRoundTrip_data() {
    QTest::addColumn<QVariant>("sent");
    QTest::addColumn<QVariant>("expected");

    const QDate date(2024, 2, 29);
    const QDateTime stamp(QDate(2023, 12, 31), QTime(23, 59, 58, 765));
    const QByteArray packet("\x00\x01\xff packet \x00", 12);

    QTest::newRow("null") << QVariant() << QVariant();
    QTest::newRow("nullptr") << QVariant::fromValue(nullptr) << QVariant();
    QTest::newRow("true") << QVariant(true) << QVariant(true);
    QTest::newRow("false") << QVariant(false) << QVariant(false);
    QTest::newRow("zero") << QVariant(0) << QVariant(0);
    QTest::newRow("minus one") << QVariant(-1) << QVariant(-1);
    QTest::newRow("int max") << QVariant(std::numeric_limits<int>::max())
                             << QVariant(std::numeric_limits<int>::max());
    QTest::newRow("int min") << QVariant(std::numeric_limits<int>::min())
                             << QVariant(std::numeric_limits<int>::min());
    QTest::newRow("above int") << QVariant(qlonglong(1) << 31) << QVariant(qlonglong(1) << 31);
    QTest::newRow("below int") << QVariant(qlonglong(std::numeric_limits<int>::min()) - 1)
                               << QVariant(qlonglong(std::numeric_limits<int>::min()) - 1);
    QTest::newRow("int64 max") << QVariant(std::numeric_limits<qlonglong>::max())
                               << QVariant(std::numeric_limits<qlonglong>::max());
    QTest::newRow("int64 min") << QVariant(std::numeric_limits<qlonglong>::min())
                               << QVariant(std::numeric_limits<qlonglong>::min());
    QTest::newRow("uint64 max") << QVariant(std::numeric_limits<qulonglong>::max())
                                << QVariant(std::numeric_limits<qulonglong>::max());
    QTest::newRow("small uint") << QVariant(7u) << QVariant(7);
    QTest::newRow("double") << QVariant(1234.5678) << QVariant(1234.5678);
    QTest::newRow("whole double stays double") << QVariant(2.0) << QVariant(2.0);
    QTest::newRow("float") << QVariant(1.5f) << QVariant(1.5);
    QTest::newRow("empty text") << QVariant(QString("")) << QVariant(QString(""));
    QTest::newRow("accented text") << QVariant(QString("Operação não Realizada ✓"))
                                   << QVariant(QString("Operação não Realizada ✓"));
    QTest::newRow("char") << QVariant(QChar('S')) << QVariant(QString("S"));
    QTest::newRow("packet") << QVariant(packet) << QVariant(packet);
    QTest::newRow("empty packet") << QVariant(QByteArray()) << QVariant(QByteArray(""));
    QTest::newRow("date") << QVariant(date) << QVariant(date);
    QTest::newRow("invalid date") << QVariant(QDate()) << QVariant(QDate());
    QTest::newRow("date time") << QVariant(stamp) << QVariant(stamp);
    QTest::newRow("invalid date time") << QVariant(QDateTime()) << QVariant(QDateTime());
    QTest::newRow("empty list") << QVariant(QVariantList()) << QVariant(QVariantList());
    QTest::newRow("string list") << QVariant(QStringList{"a", "b"})
                                 << QVariant(QVariantList{QString("a"), QString("b")});

    // The shape of a server result: status, message, counts and packets, with dates inside.
    const QVariantList nested{
        QString("OK"),
        QString(""),
        packet,
        QVariantList{date, QVariantList{stamp, QByteArray("x"), QVariant()}, 3, -4.25},
        QVariantList{},
    };
    QTest::newRow("nested result") << QVariant(nested) << QVariant(nested);
}

void TestWire::valuesRoundTrip() {
    QFETCH(QVariant, sent);
    QFETCH(QVariant, expected);
    const QVariant back = wire::decodeValue(wire::encodeValue(sent));
    QString why;
    QVERIFY2(sameValue(back, expected, &why), qPrintable(why));
}

void TestWire::bytesMatchTheCborStandard_data() {
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("cbor");

    // Examples from RFC 8949 appendix A and RFC 8943.
    QTest::newRow("10") << QVariant(10) << hex("0a");
    QTest::newRow("100") << QVariant(100) << hex("1864");
    QTest::newRow("-1000") << QVariant(-1000) << hex("3903e7");
    QTest::newRow("2^64-1") << QVariant(std::numeric_limits<qulonglong>::max())
                            << hex("1bffffffffffffffff");
    QTest::newRow("1.1") << QVariant(1.1) << hex("fb3ff199999999999a");
    QTest::newRow("false") << QVariant(false) << hex("f4");
    QTest::newRow("true") << QVariant(true) << hex("f5");
    QTest::newRow("null") << QVariant() << hex("f6");
    QTest::newRow("IETF") << QVariant(QString("IETF")) << hex("6449455446");
    QTest::newRow("ü") << QVariant(QString::fromUtf8("\u00fc")) << hex("62c3bc");
    QTest::newRow("h'01020304'") << QVariant(QByteArray("\x01\x02\x03\x04")) << hex("4401020304");
    QTest::newRow("[1,[2,3],[4,5]]")
        << QVariant(QVariantList{1, QVariantList{2, 3}, QVariantList{4, 5}})
        << hex("8301820203820405");
    QTest::newRow("full-date") << QVariant(QDate(1940, 10, 9))
                               << hex("d903ec6a313934302d31302d3039");
    // Private tag 20038 (0x4e46) over "2024-01-02T03:04:05.678".
    QTest::newRow("local date time") << QVariant(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 678)))
                                     << (hex("d94e4677") + QByteArray("2024-01-02T03:04:05.678"));
    QTest::newRow("invalid date") << QVariant(QDate()) << hex("d903ec60");
}

void TestWire::bytesMatchTheCborStandard() {
    QFETCH(QVariant, value);
    QFETCH(QByteArray, cbor);
    QCOMPARE(wire::encodeValue(value).toHex(), cbor.toHex());
}

void TestWire::messagesHaveTheAgreedLayout() {
    const QByteArray request = wire::requestFrame({"S", "m", {1}});
    const QByteArray body = hex("a3") + hex("66") + "server" + hex("61") + "S" + hex("66") +
                            "method" + hex("61") + "m" + hex("64") + "args" + hex("8101");
    QCOMPARE(request.left(4).toHex(), QByteArray("0000001a"));
    QCOMPARE(qFromBigEndian<quint32>(request.constData()), quint32(body.size()));
    QCOMPARE(payloadOf(request).toHex(), body.toHex());

    const QByteArray ok = wire::replyFrame(wire::Reply::success(QString("OK")));
    QCOMPARE(ok.toHex(), (hex("0000000b") + hex("a166") + "result" + hex("62") + "OK").toHex());

    const QByteArray err = wire::replyFrame(wire::Reply::failure("x"));
    QCOMPARE(err.toHex(), (hex("00000009") + hex("a165") + "error" + hex("61") + "x").toHex());
}

void TestWire::readsCborFromOtherWriters_data() {
    QTest::addColumn<QByteArray>("cbor");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("indefinite bytes")
        << hex("5f42010243030405ff") << QVariant(QByteArray("\x01\x02\x03\x04\x05"));
    QTest::newRow("indefinite text")
        << hex("7f657374726561646d696e67ff") << QVariant(QString("streaming"));
    QTest::newRow("indefinite array")
        << hex("9f018202039f0405ffff")
        << QVariant(QVariantList{1, QVariantList{2, 3}, QVariantList{4, 5}});
    QTest::newRow("half float") << hex("f93e00") << QVariant(1.5);
    QTest::newRow("single float") << hex("fa47c35000") << QVariant(100000.0);
    QTest::newRow("undefined") << hex("f7") << QVariant();
    QTest::newRow("int64 min") << hex("3b7fffffffffffffff")
                               << QVariant(std::numeric_limits<qlonglong>::min());
    QTest::newRow("wide int that fits") << hex("1b0000000000000005") << QVariant(5);
    QTest::newRow("date time without ms") << (hex("d94e4673") + QByteArray("2024-01-02T03:04:05"))
                                          << QVariant(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)));
}

void TestWire::readsCborFromOtherWriters() {
    QFETCH(QByteArray, cbor);
    QFETCH(QVariant, expected);
    QString why;
    QVERIFY2(sameValue(wire::decodeValue(cbor), expected, &why), qPrintable(why));
}

void TestWire::messagesRoundTrip() {
    const QVariantList args{QString("12345678000199"), QByteArray("pkt"), QString("4"), QString(""),
                            QDate(2024, 5, 6)};
    const QByteArray frame =
        wire::requestFrame({"DFE58000.rdmManifestacao", "setManifestacao", args});
    const wire::Request req = wire::decodeRequest(payloadOf(frame));
    QCOMPARE(req.server, QString("DFE58000.rdmManifestacao"));
    QCOMPARE(req.method, QString("setManifestacao"));
    QCOMPARE(req.args, args);

    const wire::Reply ok = wire::decodeReply(payloadOf(
        wire::replyFrame(wire::Reply::success(QVariantList{"S", "", "2", "0", QByteArray("p")}))));
    QVERIFY(ok.ok);
    QCOMPARE(ok.result.toList().value(4).toByteArray(), QByteArray("p"));

    // A null result is a result, not an error.
    const wire::Reply none =
        wire::decodeReply(payloadOf(wire::replyFrame(wire::Reply::success({}))));
    QVERIFY(none.ok);
    QVERIFY(!none.result.isValid());

    const wire::Reply bad =
        wire::decodeReply(payloadOf(wire::replyFrame(wire::Reply::failure("Nota inexistente."))));
    QVERIFY(!bad.ok);
    QCOMPARE(bad.error, QString("Nota inexistente."));

    // Keys a later version may add are skipped, whatever they hold.
    const QByteArray extra =
        hex("a2") + hex("65") + "trace" + hex("a1016178") + hex("66") + "result" + hex("05");
    const wire::Reply withExtra = wire::decodeReply(extra);
    QVERIFY(withExtra.ok);
    QCOMPARE(withExtra.result, QVariant(5));
}

void TestWire::unsupportedValuesAreRefused() {
    QVariantList deep{1};
    for (int i = 0; i < wire::kMaxNesting + 2; ++i) {
        deep = QVariantList{QVariant(deep)};
    }

    const QList<QPair<QVariant, QString>> cases{
        {QVariantMap{{"a", 1}}, "QVariantMap"},
        {QTime(10, 0), "QTime"},
        {QPoint(1, 2), "QPoint"},
        {QVariantList{1, QVariantList{QPoint(1, 2)}}, "QPoint"},
        {QDate(10000, 1, 1), "data fora do intervalo"},
        {QVariant(deep), "aninhadas"},
    };
    for (const auto& [value, needle] : cases) {
        const QString text = errorOf([&] { wire::encodeValue(value); });
        QVERIFY2(text.contains(needle), qPrintable(text));
        const QString inRequest = errorOf([&] { wire::requestFrame({"S", "m", {1, value}}); });
        QVERIFY2(inRequest.contains(needle), qPrintable(inRequest));
    }
    QVERIFY(errorOf([] { wire::requestFrame({"S", "", {}}); }).contains("método vazio"));
}

void TestWire::malformedInputIsRejected_data() {
    QTest::addColumn<QString>("kind");  // value, request or reply
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("needle");

    QByteArray tooDeep = QByteArray(wire::kMaxNesting + 5, '\x81') + hex("01");

    QTest::newRow("empty") << "value" << QByteArray() << "incompletos";
    QTest::newRow("truncated bytes") << "value" << hex("44010203") << "incompletos";
    QTest::newRow("truncated array") << "value" << hex("830102") << "incompletos";
    QTest::newRow("trailing bytes") << "value" << hex("0102") << "1 bytes a mais";
    QTest::newRow("map as value") << "value" << hex("a0") << "mapa";
    QTest::newRow("unknown tag") << "value" << hex("c101") << "marca CBOR 1";
    QTest::newRow("date tag on number") << "value" << hex("d903ec01") << "sem texto";
    QTest::newRow("impossible date")
        << "value" << hex("d903ec6a") + QByteArray("2024-13-45") << "data inválida";
    QTest::newRow("bad date time")
        << "value" << hex("d94e4663") + QByteArray("abc") << "data e hora inválida";
    QTest::newRow("simple value") << "value" << hex("e0") << "valor simples";
    QTest::newRow("negative beyond 64 bits")
        << "value" << hex("3bffffffffffffffff") << "fora do intervalo";
    QTest::newRow("bad utf-8") << "value" << hex("62c328") << "inválid";
    QTest::newRow("break outside container") << "value" << hex("ff") << "inválid";
    QTest::newRow("too deep") << "value" << tooDeep << "aninhadas";

    QTest::newRow("reply not a map") << "reply" << hex("8101") << "não é um mapa";
    QTest::newRow("reply empty map") << "reply" << hex("a0") << "sem \"result\" nem \"error\"";
    QTest::newRow("reply both") << "reply"
                                << hex("a266") + "result" + hex("0165") + "error" + hex("6161")
                                << "ao mesmo tempo";
    QTest::newRow("reply error not text")
        << "reply" << hex("a165") + "error" + hex("01") << "\"error\" não é texto";
    QTest::newRow("reply key not text") << "reply" << hex("a10102") << "chave";
    QTest::newRow("reply key repeated")
        << "reply" << hex("a266") + "result" + hex("0166") + "result" + hex("02") << "repetida";
    QTest::newRow("reply truncated map")
        << "reply" << hex("a266") + "result" + hex("01") << "incompletos";
    QTest::newRow("reply trailing") << "reply" << hex("a166") + "result" + hex("0100") << "a mais";

    const QByteArray server = hex("66") + "server" + hex("61") + "S";
    const QByteArray method = hex("66") + "method" + hex("61") + "m";
    const QByteArray args = hex("64") + "args" + hex("80");
    QTest::newRow("request without args")
        << "request" << hex("a2") + server + method << "sem \"args\"";
    QTest::newRow("request without method")
        << "request" << hex("a2") + server + args << "sem \"method\"";
    QTest::newRow("request args not a list")
        << "request" << hex("a3") + server + method + hex("64") + "args" + hex("01")
        << "\"args\" não é uma lista";
    QTest::newRow("request method not text")
        << "request" << hex("a3") + server + hex("66") + "method" + hex("01") + args
        << "\"method\" não é texto";
    QTest::newRow("request empty method")
        << "request" << hex("a3") + server + hex("66") + "method" + hex("60") + args
        << "método vazio";
}

void TestWire::malformedInputIsRejected() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, needle);
    const QString text = errorOf([&] {
        if (kind == "value") {
            wire::decodeValue(bytes);
        } else if (kind == "reply") {
            wire::decodeReply(bytes);
        } else {
            wire::decodeRequest(bytes);
        }
    });
    QVERIFY2(text.startsWith("Mensagem inválida na comunicação com o servidor: "),
             qPrintable(text));
    QVERIFY2(text.contains(needle), qPrintable(text));
}

void TestWire::framesSurviveAnySplit() {
    const QByteArray first = wire::requestFrame({"S", "um", {QByteArray(40, 'x')}});
    const QByteArray second = wire::replyFrame(wire::Reply::failure("dois"));
    const QByteArray stream = first + second;

    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        wire::FrameBuffer buffer;
        QList<QByteArray> got;
        buffer.append(stream.left(cut));
        while (auto f = buffer.takeFrame()) {
            got.append(*f);
        }
        buffer.append(stream.mid(cut));
        while (auto f = buffer.takeFrame()) {
            got.append(*f);
        }
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0], payloadOf(first));
        QCOMPARE(got[1], payloadOf(second));
        QCOMPARE(buffer.pending(), 0);
    }

    // One byte at a time: nothing comes out before a frame's last byte.
    wire::FrameBuffer buffer;
    int frames = 0;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        buffer.append(stream.mid(i, 1));
        if (auto f = buffer.takeFrame()) {
            ++frames;
            QCOMPARE(i + 1, frames == 1 ? first.size() : stream.size());
        }
    }
    QCOMPARE(frames, 2);
}

void TestWire::framesSurviveRandomPieces() {
    QRandomGenerator rng(20240229);
    QList<QByteArray> sent;
    QByteArray stream;
    for (int i = 0; i < 200; ++i) {
        const QByteArray payload = wire::encodeValue(
            QVariantList{i, QByteArray(rng.bounded(0, 3000), char('a' + i % 26))});
        sent.append(payload);
        stream += wire::frame(payload);
    }
    wire::FrameBuffer buffer;
    QList<QByteArray> got;
    qsizetype at = 0;
    while (at < stream.size()) {
        const qsizetype piece = std::min<qsizetype>(rng.bounded(1, 5000), stream.size() - at);
        buffer.append(stream.mid(at, piece));
        at += piece;
        // Take only some of the frames now and then, so unread frames pile up behind.
        while (rng.bounded(4) != 0) {
            auto f = buffer.takeFrame();
            if (!f) {
                break;
            }
            got.append(*f);
        }
    }
    while (auto f = buffer.takeFrame()) {
        got.append(*f);
    }
    QCOMPARE(got.size(), sent.size());
    QVERIFY(got == sent);
    QVERIFY(buffer.isEmpty());
}

// Frames read straight from a device: small ones in random pieces, heads split anywhere, and a
// large one that comes in socket-sized pieces and leaves as the whole buffer.
void TestWire::framesReadFromADevice() {
    QRandomGenerator rng(20261208);
    QList<QByteArray> sent;
    QByteArray stream;
    for (int i = 0; i < 300; ++i) {
        const QByteArray payload =
            i == 150 ? QByteArray(3 * 1024 * 1024 + 7, 'z')
                     : wire::encodeValue(QVariantList{i, QByteArray(rng.bounded(0, 2000), 'a')});
        sent.append(payload);
        stream += wire::frame(payload);
    }
    Pieces device;
    wire::FrameBuffer buffer;
    QList<QByteArray> got;
    qsizetype at = 0;
    while (at < stream.size()) {
        const qsizetype piece = std::min<qsizetype>(rng.bounded(2) == 0 ? rng.bounded(1, 9) : 65536,
                                                    stream.size() - at);
        device.feed(stream.mid(at, piece));
        at += piece;
        if (rng.bounded(3) == 0) {
            continue;  // let bytes wait in the device now and then
        }
        buffer.readFrom(device);
        while (auto f = buffer.takeFrame()) {
            got.append(*f);
        }
    }
    buffer.readFrom(device);
    while (auto f = buffer.takeFrame()) {
        got.append(*f);
    }
    QCOMPARE(got.size(), sent.size());
    QVERIFY(got == sent);
    QVERIFY(buffer.isEmpty());

    // A head over the limit is refused as before, however the bytes arrived.
    wire::FrameBuffer small(8);
    Pieces tooLong;
    tooLong.feed(wire::frame("123456789"));
    small.readFrom(tooLong);
    QVERIFY(errorOf([&] { small.takeFrame(); }).contains("acima do limite de 8 bytes"));
}

void TestWire::frameLengthIsGuarded() {
    auto header = [](quint32 n) {
        QByteArray h(4, '\0');
        qToBigEndian(n, h.data());
        return h;
    };

    // The limit itself is allowed (and simply waits for its bytes); one more is refused as
    // soon as the header is in, without waiting for (or allocating) the body.
    wire::FrameBuffer atLimit;
    atLimit.append(header(quint32(wire::kMaxFrameSize)));
    QVERIFY(!atLimit.takeFrame());

    wire::FrameBuffer above;
    above.append(header(quint32(wire::kMaxFrameSize) + 1));
    QVERIFY(errorOf([&] { above.takeFrame(); }).contains("acima do limite"));

    wire::FrameBuffer huge;
    huge.append(header(0xffffffffu));
    QVERIFY(errorOf([&] { huge.takeFrame(); }).contains("4294967295"));

    wire::FrameBuffer zero;
    zero.append(header(0) + hex("01"));
    QVERIFY(errorOf([&] { zero.takeFrame(); }).contains("tamanho zero"));

    // A smaller limit, as a server may choose.
    wire::FrameBuffer small(8);
    small.append(wire::frame("12345678", 8));
    QCOMPARE(small.takeFrame().value_or(QByteArray()), QByteArray("12345678"));
    small.append(header(9) + "123456789");
    QVERIFY(errorOf([&] { small.takeFrame(); }).contains("acima do limite de 8 bytes"));
    QVERIFY(errorOf([] { wire::frame("123456789", 8); }).contains("acima do limite de 8 bytes"));
}

// Packets travel uncopied: as pieces of their own in a reply frame, and as slices of the payload
// out of the decoder. Either way the bytes are those of the whole frame, and a slice changed
// by its holder leaves the payload alone.
void TestWire::largeByteStringsAreNotCopied() {
    const QByteArray big(300000, 'p');
    const QByteArray atLimit(wire::kSharedPieceSize, 'q');
    const QByteArray small(wire::kSharedPieceSize - 1, 's');
    const wire::Reply reply =
        wire::Reply::success(QVariantList{"OK", QString(), big, small, atLimit, QByteArray()});
    const QByteArray frame = wire::replyFrame(reply);
    const QList<QByteArray> pieces = wire::replyFramePieces(reply);
    QCOMPARE(pieces.join(), frame);
    int shared = 0;
    for (const QByteArray& piece : pieces) {
        if (piece.constData() == big.constData() || piece.constData() == atLimit.constData()) {
            ++shared;
        }
        QVERIFY(piece.constData() != small.constData());
    }
    QCOMPARE(shared, 2);

    const QByteArray payload = payloadOf(frame);
    const QVariantList got = wire::decodeReply(payload).result.toList();
    QCOMPARE(got.size(), 6);
    QCOMPARE(got[2].toByteArray(), big);
    QCOMPARE(got[3].toByteArray(), small);
    QCOMPARE(got[4].toByteArray(), atLimit);
    QVERIFY(!got[5].toByteArray().isNull());
    QByteArray slice = got[2].toByteArray();
    QVERIFY(slice.constData() > payload.constData() &&
            slice.constData() + slice.size() < payload.constData() + payload.size());
    slice[0] = 'X';
    QCOMPARE(payload, payloadOf(frame));
    QCOMPARE(got[2].toByteArray(), big);
    QCOMPARE(wire::decodeValue(wire::encodeValue(QVariantList{big, 1})),
             QVariant(QVariantList{big, 1}));

    // A large string in chunks (indefinite length) is read whole all the same; one cut short
    // is refused as before.
    const QByteArray chunk(wire::kSharedPieceSize, 'c');
    QByteArray chunked = hex("a166726573756c74") + hex("5f");
    for (int i = 0; i < 2; ++i) {
        QByteArray head = hex("5a00000000");
        qToBigEndian(quint32(chunk.size()), head.data() + 1);
        chunked += head + chunk;
    }
    chunked += hex("ff");
    QCOMPARE(wire::decodeReply(chunked).result.toByteArray(), chunk + chunk);
    const QByteArray cut = payloadOf(wire::replyFrame(wire::Reply::success(big))).chopped(1);
    QVERIFY(errorOf([&] {
                wire::decodeReply(cut);
            }).startsWith("Mensagem inválida na comunicação com o servidor: "));

    // Raw data is not owned, so a slice of it is a copy.
    const QByteArray raw = QByteArray::fromRawData(big.constData(), big.size());
    const QByteArray rawSlice = wire::sharedSlice(raw, 10, 100);
    QCOMPARE(rawSlice, big.mid(10, 100));
    QVERIFY(rawSlice.constData() != big.constData() + 10);
}

// Large payloads are handed out as slices of the receive buffer, whose memory then takes the
// next frames once nobody holds them: a payload still held never changes, however the frames
// after it arrive (whole, split, several at once, after clear()).
void TestWire::heldPayloadsSurviveLaterFrames() {
    QList<QByteArray> sent;
    for (char c : {'a', 'b', 'c', 'd', 'e', 'f'}) {
        sent.append(QByteArray(200000 + c, c));
    }
    sent.insert(3, QByteArray(10, 'x'));  // a small one among them
    const QByteArray stream = [&] {
        QByteArray all;
        for (const QByteArray& p : sent) {
            all += wire::frame(p);
        }
        return all;
    }();

    for (qsizetype piece : {qsizetype(65536), qsizetype(300000), stream.size()}) {
        Pieces device;
        wire::FrameBuffer buffer;
        QList<QByteArray> held;
        int taken = 0;
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            device.feed(stream.mid(at, piece));
            buffer.readFrom(device);
            while (auto f = buffer.takeFrame()) {
                // Every other payload is let go at once, so its memory may be reused.
                if (taken++ % 2 == 0) {
                    held.append(*f);
                }
            }
        }
        QCOMPARE(taken, sent.size());
        QVERIFY(buffer.isEmpty());
        for (const QByteArray& p : held) {
            QVERIFY2(sent.contains(p), qPrintable(QString::number(p.size())));
        }

        // A frame after clear(), into the (now free) memory, leaves the held ones alone.
        buffer.clear();
        device.feed(wire::frame(QByteArray(250000, 'z')));
        buffer.readFrom(device);
        QCOMPARE(buffer.takeFrame().value_or(QByteArray()), QByteArray(250000, 'z'));
        for (const QByteArray& p : held) {
            QVERIFY(sent.contains(p));
        }
    }
}

QTEST_GUILESS_MAIN(TestWire)
#include "tst_wire.moc"

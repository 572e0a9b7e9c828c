// The wire protocol from a byte stream: the stream is fed to a FrameBuffer in pieces of varying
// size (the first input byte picks them) and every payload it hands out is decoded as a request,
// a reply and a bare value. Pieces or not, the same payloads come out and a broken stream fails
// at the same frame, always with ENetError. What decodes encodes again, and the encoding is
// stable from the second round on.

#include <QCoreApplication>
#include <cstdint>
#include <optional>

#include "core/hosterror.h"
#include "fuzzcheck.h"
#include "net/wire.h"

namespace {

namespace wire = host::wire;
using host::ENetError;

// A small limit, so declared lengths above it are exercised as well as below it.
constexpr qsizetype kLimit = 1 << 20;

struct Frames {
    QList<QByteArray> payloads;
    bool broken = false;
};

Frames readFrames(QByteArrayView stream, quint8 pieceSeed) {
    Frames out;
    wire::FrameBuffer buffer(kLimit, 4096);
    quint32 state = pieceSeed * 2654435761u + 1;
    qsizetype at = 0;
    try {
        while (at < stream.size()) {
            qsizetype piece = stream.size() - at;
            if (pieceSeed != 0) {
                state = state * 1103515245u + 12345u;
                piece = qMin<qsizetype>(piece, 1 + (state >> 16) % 9);
            }
            buffer.append(stream.sliced(at, piece));
            at += piece;
            while (std::optional<QByteArray> p = buffer.takeFrame()) {
                out.payloads << *p;
            }
        }
    } catch (const ENetError&) {
        out.broken = true;
    }
    return out;
}

void decodeValueTwice(const QByteArray& payload) {
    QVariant v;
    try {
        v = wire::decodeValue(payload);
    } catch (const ENetError&) {
        return;
    }
    try {
        const QByteArray first = wire::encodeValue(v);
        const QByteArray second = wire::encodeValue(wire::decodeValue(first));
        fuzz::check(first == second, "a decoded value does not encode the same way twice");
    } catch (const ENetError& e) {
        fuzz::fail("a decoded value cannot be encoded again", e.text());
    }
}

void decodeRequest(const QByteArray& payload) {
    wire::Request r;
    try {
        r = wire::decodeRequest(payload);
    } catch (const ENetError&) {
        return;
    }
    try {
        const QByteArray frame = wire::requestFrame(r);
        fuzz::check(frame.size() > wire::kHeaderSize, "empty request frame");
        const wire::Request back = wire::decodeRequest(frame.sliced(wire::kHeaderSize));
        fuzz::check(
            back.server == r.server && back.method == r.method && back.args.size() == r.args.size(),
            "a request changed on its way back");
    } catch (const ENetError& e) {
        fuzz::fail("a decoded request cannot be sent again", e.text());
    }
}

void decodeReply(const QByteArray& payload) {
    wire::Reply r;
    try {
        r = wire::decodeReply(payload);
    } catch (const ENetError&) {
        return;
    }
    try {
        const QByteArray frame = wire::replyFrame(r);
        const wire::Reply back = wire::decodeReply(frame.sliced(wire::kHeaderSize));
        fuzz::check(back.ok == r.ok && back.error == r.error, "a reply changed on its way back");
        QByteArray pieces;
        for (const QByteArray& piece : wire::replyFramePieces(r)) {
            pieces += piece;
        }
        fuzz::check(pieces == frame, "a reply's pieces are not its frame");
    } catch (const ENetError& e) {
        fuzz::fail("a decoded reply cannot be sent again", e.text());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const QByteArrayView stream(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const Frames whole = readFrames(stream, 0);
    const Frames pieces = readFrames(stream, data[0]);
    fuzz::check(whole.payloads == pieces.payloads && whole.broken == pieces.broken,
                "the frames depend on how the stream was cut");
    for (const QByteArray& payload : whole.payloads) {
        decodeRequest(payload);
        decodeReply(payload);
        decodeValueTwice(payload);
    }
    return 0;
}

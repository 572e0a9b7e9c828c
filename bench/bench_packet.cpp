// Packet codec over a list of 100,000 addressed notes: a bare CBOR walk of the same bytes
// that copies out every text's bytes and reads every value (the floor any decoder pays), decoding
// into a data set with the 31 persistent fields, and encoding the data set back.
#include <benchmark/benchmark.h>

#include <QCborStreamReader>
#include <QFile>
#include <memory>
#include <string>

#include "core/clientdataset.h"
#include "core/packet.h"
#include "support_notes.h"

namespace {

constexpr int kNotes = 100000;

const QByteArray& packet() {
    static const QByteArray bytes = benchnotes::notesPacket(kNotes);
    return bytes;
}

double procStatusMB(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key)) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            return parts.size() >= 2 ? parts[1].toDouble() / 1024.0 : -1;
        }
    }
    return -1;
}

// Reads every item: the bytes of each string copied out (no conversion to QString), every
// number and simple value read. Any decoder that keeps the texts pays at least this.
qint64 walk(QCborStreamReader& r, std::string& text) {
    qint64 items = 0;
    while (r.hasNext() && r.lastError() == QCborError::NoError) {
        ++items;
        switch (r.type()) {
            case QCborStreamReader::Array:
            case QCborStreamReader::Map:
                r.enterContainer();
                items += walk(r, text);
                r.leaveContainer();
                break;
            case QCborStreamReader::String:
            case QCborStreamReader::ByteArray: {
                text.clear();
                if (r.isLengthKnown()) {
                    text.reserve(size_t(r.length()));
                }
                char chunk[256];
                auto read = r.readStringChunk(chunk, sizeof chunk);
                while (read.status == QCborStreamReader::Ok) {
                    text.append(chunk, size_t(read.data));
                    read = r.readStringChunk(chunk, sizeof chunk);
                }
                benchmark::DoNotOptimize(text.data());
                break;
            }
            case QCborStreamReader::UnsignedInteger:
                benchmark::DoNotOptimize(r.toUnsignedInteger());
                r.next();
                break;
            case QCborStreamReader::NegativeInteger:
                benchmark::DoNotOptimize(quint64(r.toNegativeInteger()));
                r.next();
                break;
            case QCborStreamReader::Double:
                benchmark::DoNotOptimize(r.toDouble());
                r.next();
                break;
            case QCborStreamReader::SimpleType:
                benchmark::DoNotOptimize(r.toSimpleType());
                r.next();
                break;
            default:
                r.next();
                break;
        }
    }
    return items;
}

void BM_BareCborWalk(benchmark::State& state) {
    const QByteArray& bytes = packet();
    for (auto _ : state) {
        QCborStreamReader r(bytes);
        std::string text;
        r.enterContainer();
        benchmark::DoNotOptimize(walk(r, text));
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
    state.counters["packet_MB"] = double(bytes.size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_BareCborWalk)->Unit(benchmark::kMillisecond);

void BM_DecodeIntoDataSet(benchmark::State& state) {
    const QByteArray& bytes = packet();
    for (auto _ : state) {
        state.PauseTiming();
        auto ds = std::make_unique<host::TClientDataSet>();
        benchnotes::declareFields(*ds);
        state.ResumeTiming();
        ds->SetData(bytes);
        benchmark::DoNotOptimize(ds->RecordCount());
        state.PauseTiming();
        ds.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
    // Memory while the list is held: one data set of 100,000 notes plus the packet itself.
    host::TClientDataSet held;
    benchnotes::declareFields(held);
    held.SetData(bytes);
    state.counters["rss_MB"] = procStatusMB("VmRSS:");
    state.counters["peak_rss_MB"] = procStatusMB("VmHWM:");
    state.counters["rows"] = held.RecordCount();
}
BENCHMARK(BM_DecodeIntoDataSet)->Unit(benchmark::kMillisecond);

void BM_EncodeFromDataSet(benchmark::State& state) {
    host::TClientDataSet ds;
    benchnotes::declareFields(ds);
    ds.SetData(packet());
    qsizetype size = 0;
    for (auto _ : state) {
        const QByteArray out = ds.Data();
        size = out.size();
        benchmark::DoNotOptimize(out.constData());
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
    state.counters["same_bytes"] = ds.Data() == packet() ? 1 : 0;
    state.counters["packet_MB"] = double(size) / (1024.0 * 1024.0);
}
BENCHMARK(BM_EncodeFromDataSet)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

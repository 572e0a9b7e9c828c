// Index order over 100,000 addressed notes ("NMRAZSOCEMIT;DTEMISSAO;VRNOTAFISC", case- and
// accent-insensitive), beside std::sort of 100,000 plain QStrings as the baseline.
#include <benchmark/benchmark.h>

#include <QString>
#include <algorithm>
#include <vector>

#include "core/clientdataset.h"
#include "core/packet.h"
#include "support_notes.h"

namespace {

constexpr int kNotes = 100000;
const QString kIndex = QStringLiteral("NMRAZSOCEMIT;DTEMISSAO;VRNOTAFISC");

void BM_StdSortQStrings(benchmark::State& state) {
    benchnotes::Generator gen;
    std::vector<QString> names;
    names.reserve(kNotes);
    for (int i = 0; i < kNotes; ++i) {
        names.push_back(gen.next().nmRazSocEmit);
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<QString> copy = names;
        state.ResumeTiming();
        std::sort(copy.begin(), copy.end());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
}
BENCHMARK(BM_StdSortQStrings)->Unit(benchmark::kMillisecond);

void BM_IndexNotes(benchmark::State& state) {
    host::TClientDataSet ds;
    benchnotes::declareFields(ds);
    ds.SetData(benchnotes::notesPacket(kNotes));
    for (auto _ : state) {
        state.PauseTiming();
        ds.SetIndexFieldNames(QString());
        state.ResumeTiming();
        ds.SetIndexFieldNames(kIndex);
        benchmark::DoNotOptimize(ds.RecNo());
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
}
BENCHMARK(BM_IndexNotes)->Unit(benchmark::kMillisecond);

// Loading a packet straight into an indexed data set (decode plus the sort).
void BM_LoadIndexed(benchmark::State& state) {
    const QByteArray bytes = benchnotes::notesPacket(kNotes);
    host::TClientDataSet ds;
    benchnotes::declareFields(ds);
    ds.SetIndexFieldNames(kIndex);
    for (auto _ : state) {
        ds.SetData(bytes);
        benchmark::DoNotOptimize(ds.RecNo());
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
}
BENCHMARK(BM_LoadIndexed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The workspace's list on 100,000 addressed notes: loading the packet, mark-all, unmark-all,
// the copy of the marked notes, and one repaint of the visible grid at 1,000 and 100,000 rows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>

#include "Cli_Dfe58000.h"
#include "companydb.h"
#include "core/orvanta.h"
#include "sql/databasemodule.h"
#include "support_notes.h"
#include "ui/dbgrid.h"
#include "ui/dialogs.h"

namespace {

constexpr int kNotes = 100000;

// Nothing in these passes asks the user anything; answer harmlessly if something does.
class QuietDialogs : public host::DialogSeam {
  public:
    host::MsgButton message(const QString&, host::MsgType, host::MsgButtons, QWidget*) override {
        return host::MsgButton::Ok;
    }
    void error(const QString&, QWidget*) override {}
    QString chooseDirectory(const QString&, const QString&, bool, QWidget*) override { return {}; }
    QList<int> pick(const host::PickRequest&, QWidget*) override { return {}; }
};

TfrmManifestacao* form() {
    static TfrmManifestacao* f = [] {
        auto* w = new TfrmManifestacao();
        w->DoCreate();
        w->resize(1200, 600);
        w->show();
        QApplication::processEvents();
        return w;
    }();
    return f;
}

const QByteArray& packet(int rows) {
    static QByteArray big = benchnotes::notesPacket(kNotes);
    static QByteArray small = benchnotes::notesPacket(1000);
    return rows == kNotes ? big : small;
}

void setAll(host::TClientDataSet& ds, bool alternate) {
    host::DataSetControlsLock quiet(ds);
    host::TField& marca = ds.FieldByName(QStringLiteral("IDMARCADO"));
    int i = 0;
    for (ds.First(); !ds.Eof(); ds.Next(), ++i) {
        ds.Edit();
        marca.SetAsString(alternate && i % 2 == 0 ? QStringLiteral("S") : QStringLiteral("N"));
        ds.Post();
    }
}

void BM_LoadPacket(benchmark::State& state) {
    TfrmManifestacao* f = form();
    const QByteArray& data = packet(kNotes);
    for (auto _ : state) {
        f->CarregaNotas(data);
        benchmark::DoNotOptimize(f->cdsNotasDestinadas->RecordCount());
    }
    state.SetItemsProcessed(state.iterations() * kNotes);
}
BENCHMARK(BM_LoadPacket)->Unit(benchmark::kMillisecond);

void BM_MarkAll(benchmark::State& state) {
    TfrmManifestacao* f = form();
    f->CarregaNotas(packet(kNotes));
    host::TColumn& marca = f->dbgPadrao->Columns()[0];
    for (auto _ : state) {
        state.PauseTiming();
        setAll(*f->cdsNotasDestinadas, false);
        inMarcados = 0;
        state.ResumeTiming();
        f->dbgPadraoTitleClick(marca);
    }
    if (inMarcados != kNotes) {
        state.SkipWithError("mark-all did not mark every note");
    }
}
BENCHMARK(BM_MarkAll)->Unit(benchmark::kMillisecond);

void BM_UnmarkAll(benchmark::State& state) {
    TfrmManifestacao* f = form();
    f->CarregaNotas(packet(kNotes));
    host::TColumn& marca = f->dbgPadrao->Columns()[0];
    for (auto _ : state) {
        state.PauseTiming();
        setAll(*f->cdsNotasDestinadas, false);
        inMarcados = 0;
        f->dbgPadraoTitleClick(marca);
        state.ResumeTiming();
        f->dbgPadraoTitleClick(marca);
    }
    if (inMarcados != 0) {
        state.SkipWithError("unmark-all left notes marked");
    }
}
BENCHMARK(BM_UnmarkAll)->Unit(benchmark::kMillisecond);

void BM_InsereCdsFiltradoHalfMarked(benchmark::State& state) {
    TfrmManifestacao* f = form();
    f->CarregaNotas(packet(kNotes));
    setAll(*f->cdsNotasDestinadas, true);
    for (auto _ : state) {
        f->InsereCdsFiltrado();
    }
    if (f->cdsMarcados->RecordCount() != kNotes / 2) {
        state.SkipWithError("the copy does not hold the marked half");
    }
}
BENCHMARK(BM_InsereCdsFiltradoHalfMarked)->Unit(benchmark::kMillisecond);

void BM_RepaintVisibleGrid(benchmark::State& state) {
    TfrmManifestacao* f = form();
    f->CarregaNotas(packet(int(state.range(0))));
    f->cdsNotasDestinadas->SetRecNo(f->cdsNotasDestinadas->RecordCount() / 2);
    QApplication::processEvents();
    for (auto _ : state) {
        f->dbgPadrao->viewport()->repaint();
    }
}
BENCHMARK(BM_RepaintVisibleGrid)->Arg(1000)->Arg(kNotes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("bench.db"));
    companydb::ensureDatabase(url, 0);
    host::DatabaseModule::Open(url);
    QuietDialogs quiet;
    host::setDialogs(&quiet);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    host::setDialogs(nullptr);
    return 0;
}

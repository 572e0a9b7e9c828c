// The report of addressed notes by criteria (DFE58301) over 10,000 notes with every criterion
// at "any value": to PDF and to .xlsx, each beside the bare query it runs, in the same
// process. Counters: rows, pages of the PDF, and the growth of the process's peak resident
// memory over each benchmark's runs (getrusage; the peak only grows, so the figure of a later
// benchmark counts only what it needed beyond the earlier ones).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include "companydb.h"
#include "core/hosterror.h"
#include "core/orvanta.h"
#include "report/reportdefinition.h"
#include "report/reportengine.h"
#include "report/reportresult.h"
#include "sql/adoibquery.h"
#include "sql/databasemodule.h"
#include "store.h"

namespace {

constexpr int kNotes = 10000;

[[noreturn]] void die(const QString& why) {
    qFatal("bench_report: %s", qPrintable(why));
}

double peakMegabytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;  // Linux reports kilobytes
}

struct Env {
    QTemporaryDir dir;
    QString reports = QStringLiteral(ORVANTA_SOURCE_DIR "/reports");
};

Env& env() {
    static Env* e = [] {
        auto* out = new Env;
        if (!out->dir.isValid()) {
            die(QStringLiteral("não foi possível criar a pasta temporária"));
        }
        const QString url = QStringLiteral("sqlite:") + out->dir.filePath(QStringLiteral("e.db"));
        try {
            // Events registered without their signed documents: the report reads none.
            companydb::SchemaComponent store = dfe58000::storeSchema();
            store.seedDemo = [](QSqlDatabase& db, host::SqlDialect dialect, int notes) {
                dfe58000::insertDemoNotes(db, dialect, notes, QDate::currentDate(),
                                          dfe58000::DemoEvents::RegisteredOnly);
            };
            companydb::ensureDatabase(url, kNotes, {store});
            host::DatabaseModule::Open(url);
        } catch (const host::EHostError& ex) {
            die(ex.text());
        }
        host::LoginContext ctx;
        ctx.reportDir = out->reports;
        host::Orvanta::setContext(ctx);
        return out;
    }();
    return *e;
}

void anyValue(host::TReportParams& params) {
    for (const QString& n : params.Names()) {
        if (params.IsDate(n)) {
            params.ParamByName(n).SetAsDate(n == u"P_DTINICIAL" ? QDate::currentDate().addYears(-2)
                                                                : QDate::currentDate().addDays(1));
        } else {
            params.ParamByName(n).SetAsString(QStringLiteral("T"));
        }
    }
}

void BM_Dfe58301BareQuery(benchmark::State& state) {
    Env& e = env();
    const host::ReportDefinition def =
        host::ReportDefinition::load(e.reports + QStringLiteral("/DFE58301.json"));
    host::TReportParams params;
    for (const host::ReportParameter& p : def.parameters) {
        params.Declare(p.name, p.isDate);
    }
    anyValue(params);
    const double before = peakMegabytes();
    int rows = 0;
    for (auto _ : state) {
        host::TADOIBQuery q;
        q.SQL_SQLITE = def.sections[0].sqlSqlite.split(u'\n');
        for (const QString& name : q.ParamNames()) {
            q.ParamByName(name).SetValue(params.Find(name)->Value());
        }
        q.Open();
        rows = q.RecordCount();
    }
    if (rows != kNotes) {
        state.SkipWithError("the query did not return every note");
    }
    state.counters["rows"] = rows;
    state.counters["peak_growth_MB"] = peakMegabytes() - before;
}

// The rows of the report as the engine reads them (query, parameters event, copy of the
// fields it prints), without any output.
void BM_Dfe58301Fetch(benchmark::State& state) {
    env();
    host::TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](host::TReportParams& params, bool&) { anyValue(params); };
    int rows = 0;
    for (auto _ : state) {
        rows = engine.Fetch(QStringLiteral("DFE58301"))->rowCount();
    }
    state.counters["rows"] = rows;
}

void runReport(benchmark::State& state, host::ReportOutput output, const char* suffix) {
    Env& e = env();
    host::TReportDesignerDialog engine;
    engine.BeforeGetQueryParams = [](host::TReportParams& params, bool&) { anyValue(params); };
    const QString file = e.dir.filePath(QStringLiteral("DFE58301.") + QLatin1String(suffix));
    const double before = peakMegabytes();
    for (auto _ : state) {
        if (!engine.Execute(QStringLiteral("DFE58301"), output, file)) {
            state.SkipWithError("the report was not written");
        }
    }
    state.counters["rows"] = kNotes;
    state.counters["file_KB"] = double(QFile(file).size()) / 1024.0;
    state.counters["peak_growth_MB"] = peakMegabytes() - before;
}

void BM_Dfe58301Pdf(benchmark::State& state) {
    runReport(state, host::ReportOutput::Pdf, "pdf");
}

void BM_Dfe58301Xlsx(benchmark::State& state) {
    runReport(state, host::ReportOutput::Xlsx, "xlsx");
}

}  // namespace

BENCHMARK(BM_Dfe58301BareQuery)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Dfe58301Fetch)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Dfe58301Pdf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Dfe58301Xlsx)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    env();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

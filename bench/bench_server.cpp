// The application server under load: GetNotasDestinadas over a store of 200,000 addressed notes,
// answered end to end (a client call over loopback, its packet decoded into a data set), beside
// the bare SELECT that reads the same rows from the same database, and the server's memory over
// many calls.
//
// The store is a SQLite file in a temporary folder, built once per process with the demo
// generator in one transaction. The server runs as its own process (dfe58000-server from the
// same bin folder) so its memory is its own; when that program is missing the server runs in
// this process instead. BENCH_SERVER_NOTES changes the size of the store; BENCH_SERVER_STORE
// names a SQLite file to keep the store in between runs (built when missing).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <unistd.h>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLocale>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "appserver.h"
#include "companydb.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "methods.h"
#include "net/netconnection.h"
#include "net/wire.h"
#include "sql/databasemodule.h"
#include "store.h"

namespace {

// The company whose notes the queries read: it holds a fifth of the store (the demo generator
// gives 60% of the notes to company 01, 20% to 02 and 20% to 03), tens of thousands of notes.
const QString kCompany = QStringLiteral("02");

struct Env {
    QTemporaryDir dir;
    QString url;
    int notes = 0;
    double buildSeconds = 0;
    int companyNotes = 0;

    // The selective criteria: the issuer with most notes of the company, one calendar month.
    QString issuerKind, issuerCode;
    QDate monthFirst, monthLast;
    // The whole period of the company's notes, for the all-"T" query.
    QDate allFirst, allLast;

    std::unique_ptr<QProcess> process;           // the server program, when found
    std::unique_ptr<dfe58000::AppServer> local;  // otherwise the server in this process
    quint16 port = 0;
    qint64 serverPid = 0;

    QSqlDatabase db;  // the bench's own connection for the bare SELECTs

    // Mean times of the bare SELECTs, once measured, for the ratios of the end-to-end calls.
    struct Timing {
        double wallMs = 0;
        double cpuMs = 0;  // this process and the server process, when separate
    } bareSelective, bareAll, nativeSelective, nativeAll, getNotasSelective, getNotasAll;
};

using Timing = Env::Timing;

Env* env = nullptr;

[[noreturn]] void die(const QString& text) {
    std::fprintf(stderr, "bench_server: %s\n", text.toUtf8().constData());
    std::exit(2);
}

QStringList firstRow(QSqlDatabase& db, const QString& sql, const QVariantList& binds = {}) {
    QSqlQuery q(db);
    if (!q.prepare(sql)) {
        die(q.lastError().text());
    }
    for (int i = 0; i < binds.size(); ++i) {
        q.bindValue(i, binds.at(i));
    }
    if (!q.exec() || !q.next()) {
        die(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
    }
    QStringList out;
    for (int i = 0; i < q.record().count(); ++i) {
        out << q.value(i).toString();
    }
    return out;
}

void buildStore(Env& e) {
    e.notes = qEnvironmentVariableIntValue("BENCH_SERVER_NOTES");
    if (e.notes <= 0) {
        e.notes = 200000;
    }
    if (!e.dir.isValid()) {
        die(QStringLiteral("não foi possível criar a pasta temporária"));
    }
    const QString kept = qEnvironmentVariable("BENCH_SERVER_STORE");
    e.url = QStringLiteral("sqlite:") +
            (kept.isEmpty() ? e.dir.filePath(QStringLiteral("store.sqlite")) : kept);
    QElapsedTimer t;
    t.start();
    try {
        // The events registered but not archived: signing 200 000 documents would only slow
        // the set-up, and no measured call reads them.
        companydb::SchemaComponent store = dfe58000::storeSchema();
        store.seedDemo = [](QSqlDatabase& db, host::SqlDialect dialect, int notes) {
            dfe58000::insertDemoNotes(db, dialect, notes, dfe58000::Clock().today(),
                                      dfe58000::DemoEvents::RegisteredOnly);
        };
        companydb::ensureDatabase(e.url, e.notes, {store});
    } catch (const host::EHostError& ex) {
        die(ex.text());
    }
    e.buildSeconds = t.elapsed() / 1000.0;

    e.db = host::DatabaseModule::openConnection(host::DatabaseUrl::parse(e.url),
                                                QStringLiteral("bench_server"), false);
    e.companyNotes =
        firstRow(e.db, QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE CDEMPRESA = ?"),
                 {kCompany})
            .at(0)
            .toInt();
    const QStringList range = firstRow(
        e.db,
        QStringLiteral("SELECT MIN(DTEMISSAO), MAX(DTEMISSAO) FROM NOTADEST WHERE CDEMPRESA = ?"),
        {kCompany});
    e.allFirst = dfe58000::fromDbDateTime(range.at(0)).date();
    e.allLast = dfe58000::fromDbDateTime(range.at(1)).date();
    // The last whole calendar month before the newest note.
    const QDate newest = e.allLast;
    e.monthFirst = QDate(newest.year(), newest.month(), 1).addMonths(-1);
    e.monthLast = e.monthFirst.addMonths(1).addDays(-1);
    // Suppliers: the issuer kind whose code the client sends as typed.
    const QStringList issuer =
        firstRow(e.db,
                 QStringLiteral("SELECT IDORIGEMIT, CDEMITENTE, COUNT(*) FROM NOTADEST "
                                "WHERE CDEMPRESA = ? AND IDORIGEMIT = 'F' "
                                "GROUP BY IDORIGEMIT, CDEMITENTE ORDER BY 3 DESC, 2"),
                 {kCompany});
    e.issuerKind = issuer.at(0);
    e.issuerCode = issuer.at(1);
    std::fprintf(stderr,
                 "bench_server: store of %d notes built in %.1f s; company %s holds %d notes "
                 "(%s to %s); selective: issuer %s %s, %s to %s\n",
                 e.notes, e.buildSeconds, qPrintable(kCompany), e.companyNotes,
                 qPrintable(e.allFirst.toString(Qt::ISODate)),
                 qPrintable(e.allLast.toString(Qt::ISODate)), qPrintable(e.issuerKind),
                 qPrintable(e.issuerCode), qPrintable(e.monthFirst.toString(Qt::ISODate)),
                 qPrintable(e.monthLast.toString(Qt::ISODate)));
}

void startServer(Env& e) {
    const QString program =
        QCoreApplication::applicationDirPath() + QStringLiteral("/dfe58000-server");
    if (QFileInfo(program).isExecutable()) {
        e.process = std::make_unique<QProcess>();
        e.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        e.process->start(program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                   QStringLiteral("--db"), e.url, QStringLiteral("--workers"),
                                   QStringLiteral("2"), QStringLiteral("--quiet")});
        if (!e.process->waitForStarted(10000)) {
            die(QStringLiteral("%1 não iniciou: %2").arg(program, e.process->errorString()));
        }
        QByteArray line;
        while (!line.contains('\n')) {
            if (!e.process->waitForReadyRead(30000)) {
                die(QStringLiteral("%1 não respondeu: %2").arg(program, e.process->errorString()));
            }
            line += e.process->readAll();
        }
        const QByteArray first = line.left(line.indexOf('\n')).trimmed();
        if (!first.startsWith("listening on ")) {
            die(QStringLiteral("resposta inesperada do servidor: %1")
                    .arg(QString::fromUtf8(first)));
        }
        bool ok = false;
        e.port = quint16(first.mid(first.lastIndexOf(':') + 1).toUInt(&ok));
        if (!ok || e.port == 0) {
            die(QStringLiteral("porta ilegível: %1").arg(QString::fromUtf8(first)));
        }
        e.serverPid = e.process->processId();
        std::fprintf(stderr, "bench_server: server process %lld on port %u\n",
                     static_cast<long long>(e.serverPid), unsigned(e.port));
    } else {
        e.local = std::make_unique<dfe58000::AppServer>(e.url, 2);
        e.local->listen(QHostAddress::LocalHost, 0);
        e.port = e.local->port();
        e.serverPid = ::getpid();
        std::fprintf(stderr, "bench_server: %s not found, server in process on port %u\n",
                     qPrintable(program), unsigned(e.port));
    }
}

void stopServer(Env& e) {
    if (e.process) {
        e.process->terminate();
        if (!e.process->waitForFinished(5000)) {
            e.process->kill();
            e.process->waitForFinished(5000);
        }
        e.process.reset();
    }
    e.local.reset();
}

// Resident memory of a process in MB (VmRSS of /proc/PID/status).
double rssMb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

// The 17 arguments of GetNotasDestinadas: every criterion "T" but the company and the issue
// period, and, when given, the issuer.
QVariantList queryArgs(const QDate& from, const QDate& to, const QString& issuerKind = {},
                       const QString& issuerCode = {}) {
    const QString t = QStringLiteral("T");
    return {t,
            t,
            t,
            t,
            t,
            t,
            t,
            issuerKind.isEmpty() ? t : issuerKind,
            issuerCode.isEmpty() ? t : issuerCode,
            t,
            t,
            kCompany,
            t,
            from,
            to,
            t,
            t};
}

host::TNetConnection& connection() {
    static host::TNetConnection* c = [] {
        auto* conn = new host::TNetConnection;
        conn->SetServerName(QString::fromLatin1(dfe58000::kServerName));
        conn->SetHost(QStringLiteral("127.0.0.1"));
        conn->SetPort(env->port);
        conn->SetTimeout(600000);
        return conn;
    }();
    return *c;
}

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Where the end-to-end calls spent their time, summed: the call until its reply was decoded,
// the packet loaded into the data set, the data set (and the reply) let go.
struct CallParts {
    double callMs = 0, loadMs = 0, releaseMs = 0;
    int calls = 0;
} parts;

// One end-to-end call: the request over loopback, then packet [2] decoded into a data set.
// Returns the rows the data set holds.
int callAndDecode(const QVariantList& args) {
    const auto start = Clock::now();
    int rows = 0;
    {
        const QVariantList result =
            connection().AppServer(QStringLiteral("GetNotasDestinadas"), args).toList();
        if (result.size() != 5 || result.at(0).toString() != u"OK") {
            throw host::EHostError(
                QStringLiteral("GetNotasDestinadas falhou: %1").arg(result.value(1).toString()));
        }
        parts.callMs += msSince(start);
        const auto loading = Clock::now();
        host::TClientDataSet ds;
        ds.SetData(result.at(2).toByteArray());
        rows = ds.RecordCount();
        parts.loadMs += msSince(loading);
    }
    parts.releaseMs += msSince(start);
    ++parts.calls;
    return rows;
}

// The parts of the calls made since the last reset, as counters (means per call).
void reportParts(benchmark::State& state) {
    if (parts.calls == 0) {
        return;
    }
    state.counters["call_ms"] = parts.callMs / parts.calls;
    state.counters["load_ms"] = parts.loadMs / parts.calls;
    state.counters["release_ms"] = (parts.releaseMs - parts.callMs - parts.loadMs) / parts.calls;
}

// The SELECT the server runs for the benchmark's criteria: the company, the issue period and,
// with an issuer, its kind and code, in the list's order.
QString noteSelect(bool withIssuer) {
    QStringList columns;
    for (const host::FieldDef& f : dfe58000::noteFields()) {
        columns << f.name;
    }
    QString sql = QStringLiteral(
                      "SELECT %1 FROM NOTADEST WHERE CDEMPRESA = ? AND DTEMISSAO >= ? "
                      "AND DTEMISSAO < ?")
                      .arg(columns.join(QStringLiteral(", ")));
    if (withIssuer) {
        sql += QStringLiteral(" AND IDORIGEMIT = ? AND CDEMITENTE = ?");
    }
    return sql + QStringLiteral(" ORDER BY NMRAZSOCEMIT, DTEMISSAO, VRNOTAFISC, NRACESSONF");
}

// The bare SELECT the server runs for these criteria, every value of every row read.
int bareSelect(const QDate& from, const QDate& to, const QString& issuerKind = {},
               const QString& issuerCode = {}) {
    const QString sql = noteSelect(!issuerKind.isEmpty());
    QSqlQuery q(env->db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        throw host::EDatabaseError(q.lastError().text());
    }
    q.addBindValue(kCompany);
    q.addBindValue(dfe58000::dbDateTime(QDateTime(from, QTime(0, 0))));
    q.addBindValue(dfe58000::dbDateTime(QDateTime(to.addDays(1), QTime(0, 0))));
    if (!issuerKind.isEmpty()) {
        q.addBindValue(issuerKind);
        q.addBindValue(issuerCode);
    }
    if (!q.exec()) {
        throw host::EDatabaseError(q.lastError().text());
    }
    const int n = int(dfe58000::noteFields().size());
    int rows = 0;
    while (q.next()) {
        for (int i = 0; i < n; ++i) {
            benchmark::DoNotOptimize(q.value(i));
        }
        ++rows;
    }
    return rows;
}

// The limit of any answer: the same SELECT through SQLite's own C interface, every column of
// every row read (text as UTF-8 bytes, numbers as numbers), nothing built from them.
int nativeSelect(const QDate& from, const QDate& to, const QString& issuerKind = {},
                 const QString& issuerCode = {}) {
    static sqlite3* db = [] {
        sqlite3* h = nullptr;
        const QByteArray path = env->url.mid(int(qstrlen("sqlite:"))).toUtf8();
        if (sqlite3_open_v2(path.constData(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            die(QStringLiteral("sqlite3_open_v2: %1").arg(QString::fromUtf8(sqlite3_errmsg(h))));
        }
        return h;
    }();
    const QString sql = noteSelect(!issuerKind.isEmpty());
    sqlite3_stmt* st = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &st, nullptr) != SQLITE_OK) {
        throw host::EDatabaseError(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    QList<QByteArray> binds = {
        kCompany.toUtf8(), dfe58000::dbDateTime(QDateTime(from, QTime(0, 0))).toString().toUtf8(),
        dfe58000::dbDateTime(QDateTime(to.addDays(1), QTime(0, 0))).toString().toUtf8()};
    if (!issuerKind.isEmpty()) {
        binds << issuerKind.toUtf8() << issuerCode.toUtf8();
    }
    for (int i = 0; i < binds.size(); ++i) {
        sqlite3_bind_text(st, i + 1, binds.at(i).constData(), int(binds.at(i).size()),
                          SQLITE_STATIC);
    }
    const int n = sqlite3_column_count(st);
    int rows = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i) {
            switch (sqlite3_column_type(st, i)) {
                case SQLITE_INTEGER:
                    benchmark::DoNotOptimize(sqlite3_column_int64(st, i));
                    break;
                case SQLITE_FLOAT:
                    benchmark::DoNotOptimize(sqlite3_column_double(st, i));
                    break;
                case SQLITE_NULL:
                    break;
                default:
                    benchmark::DoNotOptimize(sqlite3_column_text(st, i));
                    benchmark::DoNotOptimize(sqlite3_column_bytes(st, i));
                    break;
            }
        }
        ++rows;
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
        throw host::EDatabaseError(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    return rows;
}

// CPU time of a process (user and system) in ms, from /proc/PID/stat; 0 when unreadable.
double processCpuMs(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray text = f.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces: state is
    // the first, utime the 12th, stime the 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) {
        return 0;
    }
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) * 1000.0 / ticks;
}

// Minor page faults of a process so far (field minflt of /proc/PID/stat); 0 when unreadable.
// Every page a call touches for the first time is one fault, and on a virtual machine a fault
// can cost more than copying the page.
double processMinorFaults(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray text = f.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() < 13 ? 0 : fields.at(7).toDouble();
}

// CPU of the whole work: this process and, when it runs apart, the server.
double workCpuMs() {
    double ms = processCpuMs(::getpid());
    if (env->process) {
        ms += processCpuMs(env->serverPid);
    }
    return ms;
}

// Runs the body per iteration; gives the mean wall time and the mean CPU of both processes.
// The machine is shared, so the wall time carries other programs' load; the CPU does not.
template <typename F>
void runTimed(benchmark::State& state, F&& body, Timing* out, int* rows) {
    double total = 0;
    int n = 0;
    const double cpuStart = workCpuMs();
    const double faultsStart = processMinorFaults(::getpid());
    const double serverFaultsStart = env->process ? processMinorFaults(env->serverPid) : 0;
    try {
        for (auto _ : state) {
            const auto start = Clock::now();
            *rows = body();
            total += msSince(start);
            ++n;
        }
    } catch (const host::EHostError& e) {
        state.SkipWithError(e.text().toUtf8().constData());
        return;
    }
    out->wallMs = n ? total / n : 0;
    out->cpuMs = n ? (workCpuMs() - cpuStart) / n : 0;
    if (n) {
        state.counters["page_faults"] = (processMinorFaults(::getpid()) - faultsStart) / n;
        if (env->process) {
            state.counters["server_page_faults"] =
                (processMinorFaults(env->serverPid) - serverFaultsStart) / n;
        }
    }
    state.counters["rows"] = *rows;
    state.counters["mean_ms"] = out->wallMs;
    state.counters["cpu_ms"] = out->cpuMs;
}

void ratios(benchmark::State& state, const Timing& t, const Timing& bare, const Timing& native) {
    if (bare.wallMs > 0) {
        state.counters["x_bare"] = t.wallMs / bare.wallMs;
    }
    if (bare.cpuMs > 0) {
        state.counters["cpu_x_bare"] = t.cpuMs / bare.cpuMs;
    }
    if (native.wallMs > 0) {
        state.counters["x_native"] = t.wallMs / native.wallMs;
    }
    if (native.cpuMs > 0) {
        state.counters["cpu_x_native"] = t.cpuMs / native.cpuMs;
    }
}

void BM_NativeSelect_Selective(benchmark::State& state) {
    int rows = 0;
    runTimed(
        state,
        [] {
            return nativeSelect(env->monthFirst, env->monthLast, env->issuerKind, env->issuerCode);
        },
        &env->nativeSelective, &rows);
}

// The all-"T" benchmarks each make one call outside the measure, and report how long it took:
// the first answer of this size has the server and the client take the memory that the calls
// after it reuse, so the measure is the steady state of a long-lived server and client.
void firstCall(benchmark::State& state, const std::function<int()>& call) {
    const auto start = Clock::now();
    try {
        call();
    } catch (const host::EHostError&) {
        return;  // the measured calls report it
    }
    state.counters["first_call_ms"] = msSince(start);
}

void BM_NativeSelect_AllT(benchmark::State& state) {
    int rows = 0;
    firstCall(state, [] { return nativeSelect(env->allFirst, env->allLast); });
    runTimed(
        state, [] { return nativeSelect(env->allFirst, env->allLast); }, &env->nativeAll, &rows);
}

void BM_BareSelect_Selective(benchmark::State& state) {
    int rows = 0;
    runTimed(
        state,
        [] {
            return bareSelect(env->monthFirst, env->monthLast, env->issuerKind, env->issuerCode);
        },
        &env->bareSelective, &rows);
    state.counters["store_notes"] = env->notes;
    state.counters["store_build_s"] = env->buildSeconds;
}

void BM_GetNotas_Selective(benchmark::State& state) {
    const QVariantList args =
        queryArgs(env->monthFirst, env->monthLast, env->issuerKind, env->issuerCode);
    callAndDecode(args);  // connects outside the measure
    Timing t;
    int rows = 0;
    runTimed(
        state, [&] { return callAndDecode(args); }, &t, &rows);
    state.counters["target_ms"] = 5;
    ratios(state, t, env->bareSelective, env->nativeSelective);
    env->getNotasSelective = t;
}

void BM_BareSelect_AllT(benchmark::State& state) {
    int rows = 0;
    firstCall(state, [] { return bareSelect(env->allFirst, env->allLast); });
    runTimed(
        state, [] { return bareSelect(env->allFirst, env->allLast); }, &env->bareAll, &rows);
    state.counters["company_notes"] = env->companyNotes;
}

void BM_GetNotas_AllT(benchmark::State& state) {
    const QVariantList args = queryArgs(env->allFirst, env->allLast);
    firstCall(state, [&] { return callAndDecode(args); });
    Timing t;
    int rows = 0;
    parts = CallParts();
    runTimed(
        state, [&] { return callAndDecode(args); }, &t, &rows);
    reportParts(state);
    state.counters["target_x_native"] = 1.5;
    ratios(state, t, env->bareAll, env->nativeAll);
    env->getNotasAll = t;
}

// The server's own share of the all-"T" answer, in this process without the network: the
// store's query written into one packet, then the whole method (with the deadline lists).
void BM_StoreQuery_AllT(benchmark::State& state) {
    dfe58000::Store store(env->url);
    dfe58000::NoteFilter filter;
    filter.company = kCompany;
    filter.issuedFrom = env->allFirst;
    filter.issuedTo = env->allLast;
    qsizetype rows = 0;
    for (auto _ : state) {
        host::PacketWriter w(dfe58000::noteFields(), host::PacketWriter::kRowsCountedAtFinish);
        rows = store.writeNotes(filter, w);
        benchmark::DoNotOptimize(w.finish());
    }
    state.counters["rows"] = double(rows);
}

void BM_ServerMethod_AllT(benchmark::State& state) {
    dfe58000::Store store(env->url);
    const QVariantList args = queryArgs(env->allFirst, env->allLast);
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QVariantList result =
            dfe58000::getNotasDestinadas(store, args, QDate::currentDate()).toList();
        bytes = result.value(2).toByteArray().size();
    }
    state.counters["packet_bytes"] = double(bytes);
}

// The all-"T" answer as it leaves the server: the method's result framed as a reply.
QByteArray allTReplyFrame() {
    dfe58000::Store store(env->url);
    return host::wire::replyFrame(host::wire::Reply::success(dfe58000::getNotasDestinadas(
        store, queryArgs(env->allFirst, env->allLast), QDate::currentDate())));
}

void BM_ReplyFrame_AllT(benchmark::State& state) {
    dfe58000::Store store(env->url);
    const host::wire::Reply reply = host::wire::Reply::success(dfe58000::getNotasDestinadas(
        store, queryArgs(env->allFirst, env->allLast), QDate::currentDate()));
    qsizetype bytes = 0;
    for (auto _ : state) {
        bytes = host::wire::replyFrame(reply).size();
    }
    state.counters["frame_bytes"] = double(bytes);
}

// The client's share of the all-"T" answer, without the network: the reply's payload decoded
// and its packet of every note loaded into a data set.
void BM_ClientDecode_AllT(benchmark::State& state) {
    const QByteArray payload = allTReplyFrame().mid(host::wire::kHeaderSize);
    int rows = 0;
    for (auto _ : state) {
        const QVariantList result = host::wire::decodeReply(payload).result.toList();
        host::TClientDataSet ds;
        ds.SetData(result.value(2).toByteArray());
        rows = ds.RecordCount();
    }
    state.counters["rows"] = rows;
}

void BM_ServerMemory_10000Calls(benchmark::State& state) {
    const int calls = int(state.range(0));
    const QVariantList args =
        queryArgs(env->monthFirst, env->monthLast, env->issuerKind, env->issuerCode);
    double before = 0, after = 0;
    try {
        // A first round warms the server's caches and its worker connections, so what follows
        // measures growth per call rather than start-up.
        for (int i = 0; i < 200; ++i) {
            callAndDecode(args);
        }
        before = rssMb(env->serverPid);
        for (auto _ : state) {
            for (int i = 0; i < calls; ++i) {
                callAndDecode(args);
            }
        }
        after = rssMb(env->serverPid);
    } catch (const host::EHostError& e) {
        state.SkipWithError(e.text().toUtf8().constData());
        return;
    }
    state.counters["calls"] = calls;
    state.counters["rss_before_mb"] = before;
    state.counters["rss_after_mb"] = after;
    state.counters["rss_growth_mb"] = after - before;
    state.counters["separate_process"] = env->process ? 1 : 0;
}

// The baselines first, SQLite's C interface and the Qt driver: the end-to-end call after them
// reports its ratios to both.
BENCHMARK(BM_NativeSelect_Selective)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_BareSelect_Selective)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_GetNotas_Selective)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_NativeSelect_AllT)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BareSelect_AllT)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GetNotas_AllT)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StoreQuery_AllT)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ServerMethod_AllT)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReplyFrame_AllT)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ClientDecode_AllT)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ServerMemory_10000Calls)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    Env e;
    env = &e;
    buildStore(e);
    startServer(e);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (e.nativeAll.wallMs > 0 && e.getNotasAll.wallMs > 0) {
        std::fprintf(stderr,
                     "bench_server: all-\"T\" GetNotasDestinadas %.1f ms, native SELECT %.1f ms: "
                     "%.2fx (target 1.5x); CPU %.2fx; selective %.3f ms (target 5 ms)\n",
                     e.getNotasAll.wallMs, e.nativeAll.wallMs,
                     e.getNotasAll.wallMs / e.nativeAll.wallMs,
                     e.nativeAll.cpuMs > 0 ? e.getNotasAll.cpuMs / e.nativeAll.cpuMs : 0.0,
                     e.getNotasSelective.wallMs);
    }
    delete &connection();
    stopServer(e);
    e.db.close();
    e.db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("bench_server"));
    env = nullptr;
    return 0;
}

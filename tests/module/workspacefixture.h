#pragma once

// What the workspace tests share: a fresh company database with the server's store, the
// application server on a loopback port, the login context pointing at both, and a builder of
// note packets in the server's layout.

#include <QCheckBox>
#include <QHostAddress>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariantMap>
#include <QtTest>
#include <csignal>
#include <memory>

#include "Cli_Dfe58100.h"
#include "appserver.h"
#include "companydb.h"
#include "core/clientdataset.h"
#include "core/orvanta.h"
#include "fiscaldocs.h"
#include "net/netconnection.h"
#include "sql/databasemodule.h"
#include "store.h"
#include "support/scripteddialogs.h"
#include "ui/buttonflat.h"
#include "ui/dateeditplus.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"

struct WorkspaceEnv {
    QTemporaryDir dir;
    QString url;
    std::unique_ptr<dfe58000::AppServer> server;

    // Returns an empty text when all is ready, else what went wrong.
    QString start(const QString& empresa = QStringLiteral("01"), bool withServer = true) {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        if (!dir.isValid()) {
            return QStringLiteral("no temporary directory");
        }
        url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("company.db"));
        try {
            companydb::ensureDatabase(url, 30, {dfe58000::storeSchema()});
            host::DatabaseModule::Open(url);
            host::LoginContext ctx;
            ctx.empresa = empresa;
            ctx.database = url;
            ctx.webUrl = QStringLiteral("127.0.0.1");
            if (withServer) {
                server = std::make_unique<dfe58000::AppServer>(url, 2);
                server->listen(QHostAddress::LocalHost, 0);
                ctx.webPort = server->port();
            }
            host::Orvanta::setContext(ctx);
        } catch (const host::EHostError& e) {
            return e.text();
        }
        return {};
    }

    static void setEmpresa(const QString& code) {
        host::LoginContext ctx = host::Orvanta::context();
        ctx.empresa = code;
        host::Orvanta::setContext(ctx);
    }
};

// A packet with the fields of `layout` (a list data set) and one row per map; fields a map
// leaves out stay null.
inline QByteArray notesPacket(const host::TClientDataSet& layout, const QList<QVariantMap>& rows) {
    host::TClientDataSet ds;
    for (const host::FieldDef& def : layout.FieldDefs()) {
        ds.AddField(def);
    }
    ds.CreateDataSet();
    for (const QVariantMap& row : rows) {
        ds.Append();
        for (auto it = row.begin(); it != row.end(); ++it) {
            ds.FieldByName(it.key()).SetValue(it.value());
        }
        ds.Post();
    }
    return ds.Data();
}

// A note number as the list and the store keep it: nine digits.
inline QString numeroNota(int numero) {
    return QStringLiteral("%1").arg(numero, 9, 10, QChar(u'0'));
}

// An authorised note of company 01 from supplier C00004, open for manifestation, sent by
// `emitente` (its registration, the one in the access key) to `registro`. The tests change the
// dates, situations and amounts they look at.
inline dfe58000::NoteRecord notaBase(int numero, const QString& registro, const QString& emitente) {
    dfe58000::NoteRecord n;
    n.CDEMPRESA = QStringLiteral("01");
    n.NRNOTAFISC = numeroNota(numero);
    n.IDSTATUSNFE = QStringLiteral("1");
    n.IDSTATUSMANIF = QStringLiteral("0");
    n.IDNOTA = QStringLiteral("1");
    n.CDFILIALORIG = QStringLiteral("0001");
    n.CDSERIE = QStringLiteral("1");
    n.IDORIGEMIT = QStringLiteral("C");
    n.CDEMITENTE = QStringLiteral("C00004");
    n.NRINSJURNFORIG = emitente;
    n.NMRAZSOCEMIT = QStringLiteral("Emitente %1").arg(numero, 2, 10, QChar(u'0'));
    n.CDTIPOOPER = QStringLiteral("01");
    n.IDENTRSAIDOP = QStringLiteral("E");
    n.NRINSJURIESTDEST = registro;
    const QString first43 = QStringLiteral("352611") + emitente + QStringLiteral("55001") +
                            numeroNota(numero) + QStringLiteral("112345678");
    n.NRACESSONF = first43 + QString::number(fiscal::accessKeyCheckDigit(first43));
    return n;
}

// The manifestation workspace over the application server: a company database with the
// server's store and the test's notes, the server on loopback, a clerk of company 01 and branch
// 0001 logged in, and the workspace (and the filter) built for company 01.
struct ManifestacaoEnv {
    struct Opcoes {
        int cadastros = 0;  // registrations the company database is filled with
        QList<dfe58000::NoteRecord> notas;
        bool gravaPedidos = false;  // the server keeps what it receives
        bool certificados = false;  // the server's certificates in a folder of the test's own
        bool guarda = true;         // any dialog nobody scripted fails the test
        QString operador;
        QDate dataProc = QDate::currentDate();
        QHash<QString, QDate> dataProcFilial;
        bool filtro = true;  // the filter dialog built too

        // Clerk CLERK01 sending events and documents: the server keeps what it receives and
        // signs with certificates of the test's own.
        static Opcoes doOperador(const QList<dfe58000::NoteRecord>& notas) {
            Opcoes o;
            o.notas = notas;
            o.gravaPedidos = true;
            o.certificados = true;
            o.operador = QStringLiteral("CLERK01");
            return o;
        }
    };

    QTemporaryDir dir;
    QString url;
    std::unique_ptr<dfe58000::AppServer> server;
    std::unique_ptr<host::test::ScriptedDialogs> guarda;

    // Returns an empty text when all is ready, else what went wrong.
    QString start(const Opcoes& o) {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        if (!dir.isValid()) {
            return QStringLiteral("no temporary directory");
        }
        if (o.certificados) {
            qputenv("DFE58000_CERT_DIR", dir.filePath(QStringLiteral("cert")).toLocal8Bit());
        }
        if (o.guarda) {
            guarda = std::make_unique<host::test::ScriptedDialogs>();
        }
        url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("empresa.db"));
        companydb::ensureDatabase(url, o.cadastros, {dfe58000::storeSchema()});
        host::DatabaseModule::Open(url);
        if (!o.notas.isEmpty()) {
            dfe58000::Store store(url);
            for (const dfe58000::NoteRecord& n : o.notas) {
                store.insertNote(n);
            }
        }
        server = std::make_unique<dfe58000::AppServer>(url, 2);
        server->setRecordRequests(o.gravaPedidos);
        server->listen(QHostAddress::LocalHost, 0);
        if (server->port() == 0) {
            return QStringLiteral("the server does not listen");
        }

        host::LoginContext ctx;
        ctx.empresa = QStringLiteral("01");
        ctx.filial = QStringLiteral("0001");
        ctx.dataProc = o.dataProc;
        ctx.dataProcFilial = o.dataProcFilial;
        ctx.database = url;
        ctx.operador = o.operador;
        ctx.webUrl = QStringLiteral("127.0.0.1");
        ctx.webPort = server->port();
        host::Orvanta::setContext(ctx);

        frmManifestacao = new TfrmManifestacao();
        frmManifestacao->DoCreate();
        frmManifestacao->medCdEmpresa->SetText(QStringLiteral("01"));
        if (o.filtro) {
            frmFiltro = new TfrmFiltro();
            frmFiltro->DoCreate();
        }
        return {};
    }

    // Takes the forms and the server down; the guard is left for the test to check.
    void stop() {
        delete frmFiltro;
        delete frmManifestacao;
        frmManifestacao = nullptr;
        server.reset();
    }

    // What the server received last for `metodo`; empty when it received none.
    QVariantList ultimosArgumentos(const QString& metodo) const {
        const QList<host::wire::Request> all = server->receivedRequests();
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            if (it->method == metodo) {
                return it->args;
            }
        }
        return {};
    }

    // How many requests for `metodo` the server received.
    int pedidos(const QString& metodo) const {
        int n = 0;
        for (const auto& r : server->receivedRequests()) {
            n += r.method == metodo;
        }
        return n;
    }
};

// Points the workspace at another server port; its next call connects anew.
inline void apontaWorkspace(int porta) {
    host::LoginContext ctx = host::Orvanta::context();
    ctx.webPort = porta;
    host::Orvanta::setContext(ctx);
    frmManifestacao->netManifestacao->SetConnected(false);
}

// A dfe58000-server process of its own on the test's database, for the cases an in-process
// server cannot show: one that stops reading, or dies in the middle of a call.
class ServidorProcesso {
  public:
    ~ServidorProcesso() { mata(); }
    // Empty when it listens, else why not.
    QString inicia(const QString& url) {
        m_proc.start(
            QStringLiteral(ORVANTA_BIN_DIR "/dfe58000-server"),
            {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"), url,
             QStringLiteral("--notes"), QStringLiteral("0"), QStringLiteral("--quiet")});
        if (!m_proc.waitForStarted(10000)) {
            return m_proc.errorString();
        }
        for (int waited = 0;
             !m_proc.canReadLine() && m_proc.state() == QProcess::Running && waited < 60000;
             waited += 50) {
            m_proc.waitForReadyRead(50);
        }
        const QByteArray first = m_proc.readLine().trimmed();
        if (!first.startsWith("listening on 127.0.0.1:")) {
            return QString::fromLocal8Bit(first + m_proc.readAllStandardError());
        }
        m_port = first.mid(first.lastIndexOf(':') + 1).toInt();
        return {};
    }
    int porta() const { return m_port; }
    bool rodando() const { return m_proc.state() == QProcess::Running; }
    // Frozen: the system still takes its connections, but nothing reads a request.
    bool congela() { return ::kill(pid_t(m_proc.processId()), SIGSTOP) == 0; }
    void mataJa() { ::kill(pid_t(m_proc.processId()), SIGKILL); }
    // True once the process is gone, waiting up to ms for it.
    bool terminou(int ms) {
        return m_proc.state() == QProcess::NotRunning || m_proc.waitForFinished(ms);
    }
    void mata() {
        if (m_proc.state() == QProcess::NotRunning) {
            return;
        }
        m_proc.kill();
        m_proc.waitForFinished(10000);
    }

  private:
    QProcess m_proc;
    int m_port = 0;
};

// Shows the filter, waits until it stands idle and fills it for every note sent to `registro`
// in the last thirty days. True when the dialog came up.
inline bool preencheFiltro(const QString& registro) {
    TfrmFiltro& f = *frmFiltro;
    f.show();
    if (!QTest::qWaitForWindowActive(&f) ||
        !QTest::qWaitFor([] { return host::Showavi::Level() == 0; })) {
        return false;
    }
    f.medInscrJurid->SetText(registro);
    f.depInicial->SetDate(QDate::currentDate().addDays(-30));
    f.depFinal->SetDate(QDate::currentDate());
    for (QCheckBox* box : f.grbFiltroPadrao->findChildren<QCheckBox*>()) {
        box->setChecked(true);
    }
    f.medNotaInicial->SetText(QStringLiteral("000000000"));
    f.medNotaFinal->SetText(QStringLiteral("999999999"));
    return true;
}

// Confirms the filter; true once it is gone.
inline bool confirmaFiltro() {
    TfrmFiltro& f = *frmFiltro;
    f.sbtConfirma->click();
    return QTest::qWaitFor([&] { return !f.isVisible(); });
}

// Marks the notes of the list by number, as a double click on each does; false when one is
// not in the list.
inline bool marcaNotas(const QList<int>& numeros) {
    host::TClientDataSet& ds = *frmManifestacao->cdsNotasDestinadas;
    for (int n : numeros) {
        if (!ds.Locate(QStringLiteral("NRNOTAFISC"), numeroNota(n))) {
            return false;
        }
        frmManifestacao->dbgPadraoDblClick();
    }
    return true;
}

// Presses Cancel in the filter dialog once it is up and idle (its registrations loaded and the
// wait window gone). Gives up after ten seconds, closing whatever modal window is up, so that a
// test never hangs.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

class CancelFilterWhenShown {
  public:
    CancelFilterWhenShown() {
        m_clock.start();
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }
    bool done() const { return m_done; }

  private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (frmFiltro && modal == frmFiltro && host::Showavi::Level() == 0) {
            m_done = true;
            m_timer.stop();
            frmFiltro->sbtCancel->click();
        } else if (m_clock.elapsed() > 10000) {
            m_timer.stop();
            if (modal) {
                modal->close();
            }
        }
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_done = false;
};

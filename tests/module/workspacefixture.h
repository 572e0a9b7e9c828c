#pragma once

// What the workspace tests share: a fresh company database with the server's store, the
// application server on a loopback port, the login context pointing at both, and a builder of
// note packets in the server's layout.

#include <QHostAddress>
#include <QLocale>
#include <QTemporaryDir>
#include <QVariantMap>
#include <memory>

#include "appserver.h"
#include "companydb.h"
#include "core/clientdataset.h"
#include "core/orvanta.h"
#include "sql/databasemodule.h"
#include "store.h"

struct WorkspaceEnv {
    QTemporaryDir dir;
    QString url;
    std::unique_ptr<dfe58000::AppServer> server;

    // Returns an empty text when all is ready, else what went wrong.
    QString start(const QString& empresa = QStringLiteral("01"), bool withServer = true) {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        if (!dir.isValid())
            return QStringLiteral("no temporary directory");
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
    for (const host::FieldDef& def : layout.FieldDefs())
        ds.AddField(def);
    ds.CreateDataSet();
    for (const QVariantMap& row : rows) {
        ds.Append();
        for (auto it = row.begin(); it != row.end(); ++it)
            ds.FieldByName(it.key()).SetValue(it.value());
        ds.Post();
    }
    return ds.Data();
}

// Presses Cancel in the filter dialog once it is up and idle (its registrations loaded and the
// wait window gone). Gives up after ten seconds, closing whatever modal window is up, so that a
// test never hangs.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "Cli_Dfe58100.h"
#include "ui/buttonflat.h"
#include "ui/showavi.h"

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
            if (modal)
                modal->close();
        }
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_done = false;
};

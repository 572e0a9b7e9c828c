#pragma once

#include <QDate>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

namespace host {

// The login context the host program sets from its command line, and the suite's module
// loader. Modules read it through these functions only.
struct LoginContext {
    QString empresa = "01";                // logged-in company code
    QString filial = "0001";               // logged-in branch code
    QDate dataProc;                        // processing date (invalid: today)
    QHash<QString, QDate> dataProcFilial;  // per-branch processing dates, when they differ
    QString operador = "ADMIN";            // operator code
    QString webUrl = "127.0.0.1";          // application server host
    int webPort = 0;                       // application server port
    QString database;                      // "sqlite:PATH" or "postgres:CONNINFO"
    QString moduleDir;                     // where LoadBPL finds the suite's modules
    QString reportDir;                     // where the report engine finds its definitions
};

class Orvanta {
  public:
    static QString EmprProc();
    static QString FiliProc();
    static QDate DataProc(const QString& branch);
    static QString Operador();
    static QString WebURL();
    static int WebPort();

    // Opens the suite's module of that code ("DFE15200") with a list of texts. Raises
    // EHostError with a clear text when the module cannot be found or has no entry.
    static void LoadBPL(const QString& code, const QVariant& params = {});

    // Host program side.
    static const LoginContext& context();
    static void setContext(const LoginContext& ctx);
    static void setWebServer(const QString& host, int port);

    // The directory of the report definitions: the login context's, else reports/ beside the
    // program's directory (the build tree and an installation both put them there).
    static QString ReportDir();

    // The file LoadBPL would load for a module code.
    static QString modulePath(const QString& code);

    // A module code is letters and digits only (it becomes part of a file name).
    static bool validModuleCode(const QString& code);

    // The texts of a module's parameters: a list (of texts or anything convertible) gives
    // one text per element, a single value one text, no value none.
    static QStringList paramTexts(const QVariant& params);
};

}  // namespace host

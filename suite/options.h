#pragma once

#include <QString>
#include <QStringList>

#include "core/orvanta.h"

namespace suite {

// What the command line asks of the host program.
struct Options {
    host::LoginContext login;  // company, branch, date, operator, server, database, modules
    QString startModule;       // module opened once the window is up (empty: none)
    QStringList startParams;   // texts handed to that module
    QString screenshotFile;    // grab the window to this PNG, then quit (empty: run normally)
    QString tourFile;          // walk through the windows by this script, then quit (tour.h)
};

// The demo database when --db is not given.
QString defaultDatabase();

// Reads the arguments (argv[0] first). Bad values raise host::EHostError with the reason;
// --help and --version print and exit, as QCommandLineParser does.
Options parseOptions(const QStringList& arguments);

// The file of a "sqlite:PATH" database URL, or empty for any other kind.
QString sqliteFile(const QString& url);

}  // namespace suite

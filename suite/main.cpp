// The suite's host program: reads the login context from the command line, opens the company
// database and shows the main window, from which the modules are opened.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "companydb.h"
#include "core/hosterror.h"
#include "core/orvanta.h"
#include "mainwindow.h"
#include "options.h"
#include "sql/databasemodule.h"
#include "tour.h"
#include "ui/dialogs.h"
#include "ui/traducoes.h"

namespace {

void printError(const QString& text) {
    std::fprintf(stderr, "orvanta: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

// Creates the database when it is missing (schema and demo data), then opens the shared
// connection every lookup uses.
void openDatabase(const QString& url) {
    const QString file = suite::sqliteFile(url);
    if (!file.isEmpty() && file != QLatin1String(":memory:")) {
        const QString dir = QFileInfo(file).absolutePath();
        if (!QDir().mkpath(dir)) {
            throw host::EDatabaseError(
                QStringLiteral("Não foi possível criar a pasta do banco de dados: %1").arg(dir));
        }
    }
    companydb::ensureDatabase(url);
    host::DatabaseModule::Open(url);
}

// Runs f after the event loop has had a few turns to lay out and paint what is queued, then a
// short pause for anything started by timers of its own.
void afterSettling(int turns, std::function<void()> f) {
    if (turns > 0) {
        QTimer::singleShot(
            0, [turns, f = std::move(f)]() mutable { afterSettling(turns - 1, std::move(f)); });
        return;
    }
    QTimer::singleShot(250, std::move(f));
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvanta"));
    QApplication::setApplicationVersion(QStringLiteral(ORVANTA_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    if (!host::InstalaTraducoesQt(app)) {
        printError(
            QStringLiteral("traduções do Qt em português não encontradas; as janelas "
                           "padrão do sistema aparecem em inglês (instale "
                           "qt6-translations-l10n)."));
    }

    suite::Options options;
    try {
        options = suite::parseOptions(QApplication::arguments());
    } catch (const host::EHostError& e) {
        printError(e.text());
        return 2;
    }
    host::Orvanta::setContext(options.login);
    // Unattended runs print errors instead of waiting on a dialog nobody will close.
    const bool unattended = !options.screenshotFile.isEmpty() || !options.tourFile.isEmpty();

    try {
        openDatabase(options.login.database);
    } catch (const host::EHostError& e) {
        const QString text =
            QStringLiteral("Banco de dados %1: %2").arg(options.login.database, e.text());
        printError(text);
        if (!unattended) {
            host::dialogs().error(text, nullptr);
        }
        return 1;
    }

    suite::MainWindow window;
    window.setErrorsToStderr(true);
    window.setQuietErrors(unattended);
    window.show();

    if (!options.startModule.isEmpty()) {
        QVariantList params;
        for (const QString& p : options.startParams) {
            params << p;
        }
        QTimer::singleShot(0, &window, [&window, code = options.startModule, params] {
            window.openModule(code, params.isEmpty() ? QVariant() : QVariant(params));
        });
    }

    if (!options.tourFile.isEmpty()) {
        try {
            suite::runTour(options.tourFile, &window, [](const QString& failure) {
                if (!failure.isEmpty()) {
                    printError(QStringLiteral("roteiro: ") + failure);
                }
                QCoreApplication::exit(failure.isEmpty() ? 0 : 4);
            });
        } catch (const host::EHostError& e) {
            printError(e.text());
            return 2;
        }
    } else if (!options.screenshotFile.isEmpty()) {
        afterSettling(4, [&window, file = options.screenshotFile] {
            const QImage image = window.grab().toImage();
            QImageWriter writer(file, "png");
            if (image.isNull() || !writer.write(image)) {
                printError(QStringLiteral("Não foi possível gravar a imagem %1: %2")
                               .arg(file, writer.errorString()));
                QCoreApplication::exit(3);
                return;
            }
            QCoreApplication::exit(0);
        });
    }

    const int rc = QApplication::exec();
    host::DatabaseModule::Close();
    return rc;
}

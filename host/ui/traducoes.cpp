#include "ui/traducoes.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace host {

bool InstalaTraducoesQt(QCoreApplication& app) {
    // "qt" is the catalogue that gathers every Qt module's translations.
    auto* traducao = new QTranslator(&app);
    if (!traducao->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qt"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete traducao;
        return false;
    }
    return app.installTranslator(traducao);
}

}  // namespace host

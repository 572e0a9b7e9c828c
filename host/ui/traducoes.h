#pragma once

class QCoreApplication;

namespace host {

// Installs Qt's own Brazilian Portuguese translations (the system's, from Debian's
// qt6-translations-l10n) on the application, so the stock dialogs, the directory chooser and
// the context menus speak the language the modules do. Returns false, changing nothing, when
// the system has none.
bool InstalaTraducoesQt(QCoreApplication& app);

}  // namespace host

// A module that records each start in properties of the application object, where the loader's
// tests read them: "tst00001.runs" (count) and "tst00001.params" (the last parameters).
#include <QCoreApplication>
#include <QVariant>

extern "C" Q_DECL_EXPORT void IniProcParams(const QVariant& params) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        return;
    }
    app->setProperty("tst00001.runs", app->property("tst00001.runs").toInt() + 1);
    app->setProperty("tst00001.params", params);
}

// Present too, so the tests can tell that the loader prefers the entry that takes parameters.
extern "C" Q_DECL_EXPORT void IniProc() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->setProperty("tst00001.noargs", app->property("tst00001.noargs").toInt() + 1);
    }
}

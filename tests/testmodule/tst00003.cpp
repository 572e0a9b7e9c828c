// A module of the older kind: only the parameterless entry. Records its runs in the
// application object's property "tst00003.runs".
#include <QCoreApplication>
#include <QVariant>

extern "C" Q_DECL_EXPORT void IniProc() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->setProperty("tst00003.runs", app->property("tst00003.runs").toInt() + 1);
    }
}

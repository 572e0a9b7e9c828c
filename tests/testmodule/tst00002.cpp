// A library in the module directory that is not a module: it exports no entry.
#include <QtGlobal>

extern "C" Q_DECL_EXPORT int Tst00002Version() {
    return 2;
}

// Stand-in for the NF-e synchronisation module: opened with the company's legal registration.
#include "placeholder.h"

extern "C" Q_DECL_EXPORT void IniProcParams(const QVariant& params) {
    suite::openPlaceholder(QStringLiteral("DFE59000"), QStringLiteral("Sincronização de NF-e"),
                           params);
}

// Stand-in for the document-viewing module: opened with the branch and the entry number of a
// note's fiscal entry.
#include "placeholder.h"

extern "C" Q_DECL_EXPORT void IniProcParams(const QVariant& params) {
    suite::openPlaceholder(QStringLiteral("DFE15200"), QStringLiteral("Visualização de Documento"),
                           params);
}

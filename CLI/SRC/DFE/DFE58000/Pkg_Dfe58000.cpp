// The package's entry: the host program calls IniProc to open the manifestation workspace.

#include "Cli_Dfe58000.h"

extern "C" DFE58000_EXPORT void IniProc() {
    CriaManifestacao();
}

#pragma once

// The list of the notes the server refused in a manifestation, with its reason for each
// ("DFE58150"). It shows the workspace's rejected notes (cdsNotasErradas, through
// dtsNotasErradas) as they are when it opens; it has no data of its own. Unlike the other
// dialogs of the module it is not kept: closing it destroys it, and the next opening builds a
// new one.

#include <QPointer>

#include "forms/frmrotigeral.h"

class QFrame;
class QScrollArea;

namespace host {
class TDataSource;
class TDBGrid;
}  // namespace host

#ifndef DFE58000_EXPORT
#define DFE58000_EXPORT __attribute__((visibility("default")))
#endif

class DFE58000_EXPORT TfrmNotasErradas : public host::TfrmRotiGeral {
    Q_OBJECT

  public:
    // dtsNotasErradas: the data source of the rejected notes (the workspace's).
    explicit TfrmNotasErradas(host::TDataSource* dtsNotasErradas, QWidget* parent = nullptr);
    ~TfrmNotasErradas() override;

    QFrame* panFundo = nullptr;
    QScrollArea* srbFundo = nullptr;
    host::TDBGrid* DBGrid1 = nullptr;

  protected:
    void FormClose(host::TCloseAction& action) override;
    void sbtConfirmaClick() override;
    // The reasons are longer than their column: the "Descrição" cell shows its whole text as
    // a tooltip.
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Unit state. The workspace's unit has a flag of the same name, so these live in the unit's
// own namespace: Cli_Dfe58150::frmNotasErradas, Cli_Dfe58150::boIdCriado.
namespace Cli_Dfe58150 {
// The list on screen, or nullptr; cleared when that form is destroyed.
extern DFE58000_EXPORT TfrmNotasErradas* frmNotasErradas;
// Whether frmNotasErradas is the list to show at the next opening; false after a close.
extern DFE58000_EXPORT bool boIdCriado;
}  // namespace Cli_Dfe58150

// Shows the list of rejected notes modally over dtsNotasErradas, building it when there is
// none (the first time, and after every close); returns when the user closes it.
DFE58000_EXPORT void CriaFrmNotasErradas(host::TDataSource* dtsNotasErradas);

#pragma once

#include "forms/dialogpadrao.h"
#include "ui_frmrotigeral.h"

namespace host {

// The suite's routine dialog: the content in the group box grbDadosRel, the right-hand button
// column panMenu with panHelp / sbtHelp on top and panBotoes / sbtConfirma below, the screen
// code and the message table. Confirm closes with the modal result Accepted unless the derived
// dialog overrides sbtConfirmaClick; Escape and the close button close it as cancelled.
class TfrmRotiGeral : public TDialogPadrao, public Ui::TfrmRotiGeral {
    Q_OBJECT

  public:
    explicit TfrmRotiGeral(QWidget* parent = nullptr);
    ~TfrmRotiGeral() override;

  protected:
    virtual void sbtConfirmaClick();
    virtual void sbtHelpClick();
};

}  // namespace host

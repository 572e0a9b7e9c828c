#pragma once

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "forms/dialogpadrao.h"
#include "ui/buttonflat.h"

namespace host {

// The suite's routine dialog: the content in the group box grbDadosRel, the right-hand button
// column panMenu with panHelp / sbtHelp on top and panBotoes / sbtConfirma below, the screen
// code and the message table. Confirm closes with the modal result Accepted unless the derived
// dialog overrides sbtConfirmaClick; Escape and the close button close it as cancelled.
class TfrmRotiGeral : public TDialogPadrao {
    Q_OBJECT

  public:
    explicit TfrmRotiGeral(QWidget* parent = nullptr);
    ~TfrmRotiGeral() override;

    // Components of the form description, by their object names.
    QHBoxLayout* layRotina = nullptr;
    QGroupBox* grbDadosRel = nullptr;
    QFrame* panMenu = nullptr;
    QVBoxLayout* layMenu = nullptr;
    QFrame* panHelp = nullptr;
    QVBoxLayout* layHelp = nullptr;
    TButtonFlat* sbtHelp = nullptr;
    QFrame* panBotoes = nullptr;
    QVBoxLayout* layBotoes = nullptr;
    TButtonFlat* sbtConfirma = nullptr;
    QLabel* lblCodTela = nullptr;

  protected:
    virtual void sbtConfirmaClick();
    virtual void sbtHelpClick();
};

}  // namespace host

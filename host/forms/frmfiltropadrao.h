#pragma once

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include <QStringList>

#include "forms/dialogpadrao.h"
#include "ui/buttonflat.h"

class QMenu;

namespace host {

class TClientDataSet;

// The suite's filter dialog: the criteria frame grbFiltroPadrao (the derived dialog fills it),
// the button column panMenu with Confirm (sbtConfirma), Cancel (sbtCancel) and Help (sbtHelp),
// the screen code, and the controls that save and load named sets of criteria
// (btfSaveOpc, btfLoadOpc, panBotao, ppmOpcoes, PopupMenu1, cdsCarregaOpcoes).
//
// Cancel, Escape and the window's close button reach sbtCancelClick / FormClose; the close
// action is caHide, so the criteria stay for the next showing. A saved option set lives in
// cdsCarregaOpcoes for the life of the dialog: one row per name with the values of the
// criteria controls (edits, check and radio boxes, combo boxes, date and number fields).
class TfrmFiltroPadrao : public TDialogPadrao {
    Q_OBJECT

  public:
    explicit TfrmFiltroPadrao(QWidget* parent = nullptr);
    ~TfrmFiltroPadrao() override;

    // Stores the current values of the criteria controls under a name (replacing a set of
    // the same name). An empty name raises EHostError.
    void SaveOptions(const QString& name);
    // Puts back the values saved under name; false when there is no such set.
    bool LoadOptions(const QString& name);
    QStringList OptionNames() const;

    QMenu* ppmOpcoes = nullptr;   // the saved sets, offered by btfLoadOpc
    QMenu* PopupMenu1 = nullptr;  // context menu of panBotao: save and load
    TClientDataSet* cdsCarregaOpcoes = nullptr;

    // Components of the form description, by their object names.
    QHBoxLayout* layFiltro = nullptr;
    QGroupBox* grbFiltroPadrao = nullptr;
    QFrame* panMenu = nullptr;
    QVBoxLayout* layMenu = nullptr;
    TButtonFlat* sbtConfirma = nullptr;
    TButtonFlat* sbtCancel = nullptr;
    TButtonFlat* sbtHelp = nullptr;
    QFrame* panBotao = nullptr;
    QVBoxLayout* layBotao = nullptr;
    TButtonFlat* btfSaveOpc = nullptr;
    TButtonFlat* btfLoadOpc = nullptr;
    QLabel* lblCodTela = nullptr;

  protected:
    virtual void sbtConfirmaClick();  // confirm: the derived dialog checks and queries
    virtual void sbtCancelClick();    // cancel: close
    virtual void sbtHelpClick();      // help of the screen
    virtual void btfSaveOpcClick();   // asks a name, then SaveOptions
    virtual void btfLoadOpcClick();   // offers the saved sets in ppmOpcoes
    void EscapePressed() override;    // Escape = Cancel

  private:
    void fillOptionsMenu();
};

}  // namespace host

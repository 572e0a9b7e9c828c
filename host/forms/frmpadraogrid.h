#pragma once

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include <QWidget>

#include "forms/formsupport.h"
#include "ui/buttonflat.h"
#include "ui/dbgrid.h"
#include "ui/dbnavigator.h"

class QMenuBar;
class QMenu;

namespace host {

class TDataSource;
class TMessages;

// The suite's standard grid screen, base of the maintenance workspaces: a toolbar of the
// standard commands with their maintenance menu, a page with the grid over the data source
// dtsPadrao, the navigator, the message table and the screen code. It lives in an MDI
// sub-window of the host program (MdiHost).
//
// A derived screen builds its own controls in its constructor, then the creator calls
// DoCreate(), which runs FormCreate once. Handlers are virtual: an override that extends the
// standard behaviour calls the base first. Every button and menu item runs its handler through
// the host's handler boundary, so a stop or an error ends the operation with its message.
//
// The components are public members named as the screen's objects (sbtIncluir, dbgPadrao...).
class TfrmPadraoGrid : public QWidget {
    Q_OBJECT

  public:
    explicit TfrmPadraoGrid(QWidget* parent = nullptr);
    ~TfrmPadraoGrid() override;

    // Runs FormCreate through the handler boundary; later calls do nothing.
    void DoCreate();
    bool Created() const { return m_created; }

    // Shows the screen in the host's MDI area (maximized), or brings it to the front.
    void ShowForm();
    // Closes the screen the way the close button does (its sub-window when it has one).
    bool CloseForm();

    // The key preview of the form (on by default): FormKeyDown sees keys first.
    void SetKeyPreview(bool on) { m_keyPreview->setEnabled(on); }
    bool KeyPreviewOn() const { return m_keyPreview->isEnabled(); }

    QMenuBar* mnuPrincipal = nullptr;
    QMenu* mnuManutencao = nullptr;
    TDataSource* dtsPadrao = nullptr;
    TMessages* msgPadrao = nullptr;

    // Components of the form description, by their object names.
    QVBoxLayout* layPadrao = nullptr;
    QFrame* panMenu = nullptr;
    TButtonFlat* sbtIncluir = nullptr;
    TButtonFlat* sbtAlterar = nullptr;
    TButtonFlat* sbtExcluir = nullptr;
    TButtonFlat* sbtProcurar = nullptr;
    TButtonFlat* sbtOrdenar = nullptr;
    TButtonFlat* sbtVerificar = nullptr;
    TButtonFlat* sbtCancelar = nullptr;
    TButtonFlat* sbtConfirmar = nullptr;
    TButtonFlat* sbtImprimir = nullptr;
    TButtonFlat* sbtFechar = nullptr;
    TButtonFlat* sbtAjuda = nullptr;
    QTabWidget* pgcPadrao = nullptr;
    QWidget* tshPadrao = nullptr;
    QVBoxLayout* layLista = nullptr;
    TDBGrid* dbgPadrao = nullptr;
    QFrame* panNavigator = nullptr;
    QHBoxLayout* layNavigator = nullptr;
    TDBNavigator* dbnPadrao = nullptr;
    QLabel* lblCodTela = nullptr;
    QAction* mnuIncluir = nullptr;
    QAction* mnuAlterar = nullptr;
    QAction* mnuExcluir = nullptr;
    QAction* mnuProcurar = nullptr;
    QAction* mnuOrdenar = nullptr;
    QAction* mnuVerificar = nullptr;
    QAction* mnuCancelar = nullptr;
    QAction* mnuConfirmar = nullptr;
    QAction* mnuListagem = nullptr;
    QAction* mnuFechar = nullptr;

  signals:
    // The screen is about to be destroyed (closed with caFree, or deleted): a creator that
    // holds a pointer or a "created" flag clears it here. Emitted once.
    void formDestroying(host::TfrmPadraoGrid* form);

  protected:
    // Standard creation: command glyphs and states for the data source's current state.
    virtual void FormCreate();
    // Decides what closing does; the standard screen is destroyed (caFree).
    virtual void FormClose(TCloseAction& action);
    // Key preview; set key to 0 to consume it.
    virtual void FormKeyDown(int& key, Qt::KeyboardModifiers shift);
    // The data source's state changed (opened, closed, editing started or ended); runs from
    // the screen's creation on. The standard rule: include/alter/delete/search/sort/verify
    // while browsing, confirm/cancel while editing, print when there are rows.
    virtual void dtsPadraoStateChange();

    // Standard commands. The standard ones work on the data set of dtsPadrao.
    virtual void sbtIncluirClick();    // append a row and edit it
    virtual void sbtAlterarClick();    // edit the current row
    virtual void sbtExcluirClick();    // delete the current row after "Confirma exclusão?"
    virtual void sbtProcurarClick();   // pick a row from the list and go to it
    virtual void sbtOrdenarClick();    // order the list by the grid's current column
    virtual void sbtVerificarClick();  // refresh; nothing to do for a plain list
    virtual void sbtCancelarClick();   // cancel the pending edit
    virtual void sbtConfirmarClick();  // post the pending edit
    virtual void sbtImprimirClick();   // the screen's listing; none by default
    virtual void sbtFecharClick();     // close the screen
    virtual void sbtAjudaClick();      // help of the screen

    void closeEvent(QCloseEvent* event) override;

  private:
    void bindCommands();
    void announceDestroying();

    KeyPreview* m_keyPreview = nullptr;
    bool m_created = false;
    bool m_announced = false;
};

// Creates a screen and runs its creation step.
template <typename Form, typename... Args>
Form* CreateForm(Args&&... args) {
    auto* f = new Form(std::forward<Args>(args)...);
    f->DoCreate();
    return f;
}

}  // namespace host

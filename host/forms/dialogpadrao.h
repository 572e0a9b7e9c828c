#pragma once

#include <QDialog>

#include "forms/formsupport.h"

namespace host {

class TMessages;

// What the suite's dialog base forms share: the creation step run once after construction,
// the show / activate / close / key handlers as virtual methods, the close action, the modal
// result and the message table msgPadrao.
//
// Closing (the window's close button, Escape, Close(), accept(), reject(), a modal result)
// always goes through FormClose, whose action decides: caHide (the default) hides the dialog
// and keeps it with its contents, caFree destroys it after formDestroying, caNone keeps it
// open. A modal exec() ends when the dialog hides, with the modal result.
class TDialogPadrao : public QDialog {
    Q_OBJECT

  public:
    explicit TDialogPadrao(QWidget* parent = nullptr);
    ~TDialogPadrao() override;

    // Runs FormCreate through the handler boundary; later calls do nothing.
    void DoCreate();
    bool Created() const { return m_created; }

    // Shows the dialog modally and returns its modal result.
    int ShowModal();
    // Sets the modal result; a non-zero result closes the dialog (through FormClose).
    void SetModalResult(int result);
    int ModalResult() const { return result(); }

    void SetKeyPreview(bool on) { m_keyPreview->setEnabled(on); }
    bool KeyPreviewOn() const { return m_keyPreview->isEnabled(); }

    TMessages* msgPadrao = nullptr;

  public slots:
    void accept() override;  // modal result Accepted, then close
    void reject() override;  // modal result Rejected, then close

  signals:
    // The dialog is about to be destroyed (closed with caFree, or deleted). Emitted once.
    void formDestroying(QObject* form);

  protected:
    virtual void FormCreate() {}
    virtual void FormShow() {}
    virtual void FormActivate() {}
    virtual void FormClose(TCloseAction& action) { action = TCloseAction::caHide; }
    // Key preview: every key of the dialog's controls comes here first; 0 consumes it.
    virtual void FormKeyDown(int& key, Qt::KeyboardModifiers shift);
    // Escape (when the key preview left it): closes the dialog as cancelled.
    virtual void EscapePressed();

    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void announceDestroying();

    KeyPreview* m_keyPreview = nullptr;
    bool m_created = false;
    bool m_announced = false;
};

}  // namespace host

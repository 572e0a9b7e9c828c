#pragma once

#include <QString>

class QWidget;

namespace host {

// The wait animation: an application-modal busy window over the form's main window, with an
// indeterminate progress bar and a text. While it is up the user's input is blocked but the
// screen keeps painting (a server call waits in a local event loop behind it).
//
// Shows nest: each ActiveShowAvi is matched by one DeactiveShowAvi, and the window goes away
// with the last one; a nested show only changes the text. Prefer ShowAviGuard, which pairs
// them even when the operation stops.
namespace Showavi {

// Kinds with a caption of their own; any other kind shows "Aguarde...".
constexpr int kProcessando = 1;  // events sent, XML generated
constexpr int kConsultando = 6;  // notes queried, XML downloaded

// form: the window the busy window covers (its main window is used); nullptr = the active
// window. text: shown instead of the kind's caption when not empty.
void ActiveShowAvi(QWidget* form, int kind, const QString& text = {});
void DeactiveShowAvi();

// A dialog opened while the busy window is up (a result shown before the wait ends): the busy
// window moves out of the dialog's way, just below it (above when the screen has no room
// below), so that both can be read. Nothing happens when no busy window is up.
void MoveClearOf(QWidget* dialog);

// How many shows are open, and the busy window while one is (for tests and diagnostics).
int Level();
QWidget* Window();
QString CaptionOf(int kind);

}  // namespace Showavi

class ShowAviGuard {
  public:
    ShowAviGuard(QWidget* form, int kind, const QString& text = {});
    ~ShowAviGuard();
    ShowAviGuard(const ShowAviGuard&) = delete;
    ShowAviGuard& operator=(const ShowAviGuard&) = delete;
};

}  // namespace host

#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <functional>

class QWidget;

namespace host {

// Enter and exit events of controls and containers, the way the suite's forms expect them.
//
// One listener on QApplication::focusChanged follows the focus inside each form (a top-level
// window or an MDI child). When the focus moves from one widget to another of the same form,
// the exit handlers of the widgets it leaves run first, the inner control before its
// containers; then the enter handlers of the widgets it enters, the outer container before
// the control. A widget that holds both the old and the new focus is neither left nor
// entered.
//
// An exit handler that stops (MensErro, or any error shown by runHandler) ends the move: no
// further exit and no enter handler runs, and the focus stays where the handler put it (a
// validator usually focuses the offending control); when it did not move the focus, the
// focus goes back to the widget that was left.
//
// Focus moving into another window (a message box, a modal dialog, the busy window) is not a
// move inside the form: nothing is left, and when the focus comes back to the widget that had
// it, nothing is entered. Moves caused by a running handler of the same form (its own
// setFocus) are not followed; moves inside a dialog that the handler opened are, with that
// dialog's own handlers.
//
// Handlers run through runHandler, so nothing escapes into the event loop. They are dropped
// when their widget is destroyed.
class FocusEvents : public QObject {
    Q_OBJECT

  public:
    using Handler = std::function<void()>;

    // An empty handler removes the one set before.
    static void setEnter(QWidget* w, Handler h);
    static void setExit(QWidget* w, Handler h);
    static void clear(QWidget* w);

    // Runs the exit handlers of focused (default: the widget holding the focus) and of its
    // containers, inner first, below upTo (exclusive; nullptr: up to the form). For commands
    // that do not take the focus, such as toolbar buttons, and must still validate the control
    // being edited. The focus does not move; returns false when a handler stopped.
    static bool checkExit(QWidget* focused = nullptr, QWidget* upTo = nullptr);

    // The form whose focus moves are followed together: the nearest MDI child, else the
    // top-level window.
    static QWidget* scopeOf(QWidget* w);

  private:
    struct Entry {
        Handler enter;
        Handler exit;
    };

    explicit FocusEvents(QObject* parent);
    static FocusEvents& instance();
    void onFocusChanged(QWidget* old, QWidget* now);
    void moveWithin(QWidget* scope, QWidget* from, QWidget* to);
    bool runExits(const QList<QPointer<QWidget>>& chain);
    void watch(QWidget* w);
    Handler handlerOf(QWidget* w, bool enter) const;

    QHash<QWidget*, Entry> m_entries;
    // scope -> the widget that last had its focus and its containers, inner first; when that
    // widget is destroyed, its nearest surviving container counts as the one left.
    QHash<QWidget*, QList<QPointer<QWidget>>> m_last;
    QWidget* lastOf(QWidget* scope) const;
    void remember(QWidget* scope, QWidget* w);
    QSet<QWidget*> m_busy;  // scopes whose handlers are running
};

}  // namespace host

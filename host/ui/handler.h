#pragma once

#include <QObject>
#include <functional>

class QWidget;

namespace host {

// The boundary of every user operation. Runs f; a stop (EStop, the message was already shown)
// ends it quietly; any other exception is shown through the host's error report. Nothing
// escapes into the event loop. Returns false when f did not run to its end.
bool runHandler(QWidget* context, const std::function<void()>& f);

// Binds a signal to a handler through runHandler:
//   host::bind(btn, &QAbstractButton::clicked, this, [this] { sbtFiltroClick(); });
template <typename Sender, typename Signal, typename F>
QMetaObject::Connection bind(Sender* sender, Signal signal, QWidget* context, F&& f) {
    return QObject::connect(sender, signal, context, [context, fn = std::forward<F>(f)](auto&&...) {
        runHandler(context, [&] { fn(); });
    });
}

}  // namespace host

#include "ui/focusevents.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QScopeGuard>
#include <QWidget>
#include <algorithm>

#include "core/hosterror.h"
#include "ui/handler.h"

namespace host {

namespace {

// The widget and its containers up to (and including) scope, inner first.
QList<QPointer<QWidget>> chainOf(QWidget* w, QWidget* scope) {
    QList<QPointer<QWidget>> chain;
    for (QWidget* p = w; p; p = p->parentWidget()) {
        chain.append(p);
        if (p == scope) {
            break;
        }
    }
    return chain;
}

bool contains(QWidget* outer, QWidget* inner) {
    return outer && inner && (outer == inner || outer->isAncestorOf(inner));
}

// Hops allowed when handlers keep moving the focus on their own (an enter handler focusing
// another control, whose enter focuses another...). Beyond it the focus is left alone.
constexpr int kMaxHops = 8;

}  // namespace

FocusEvents::FocusEvents(QObject* parent) : QObject(parent) {
    connect(qApp, &QApplication::focusChanged, this, &FocusEvents::onFocusChanged);
}

FocusEvents& FocusEvents::instance() {
    static QPointer<FocusEvents> self;
    if (!self) {
        if (!qApp) {
            throw EProgrammingError(
                QStringLiteral("Eventos de foco usados sem um objeto de aplicação."));
        }
        self = new FocusEvents(qApp);
    }
    return *self;
}

QWidget* FocusEvents::scopeOf(QWidget* w) {
    for (QWidget* p = w; p; p = p->parentWidget()) {
        if (qobject_cast<QMdiSubWindow*>(p) || p->isWindow()) {
            return p;
        }
    }
    return nullptr;
}

void FocusEvents::watch(QWidget* w) {
    if (m_entries.contains(w)) {
        return;
    }
    m_entries.insert(w, {});
    connect(w, &QObject::destroyed, this,
            [this](QObject* o) { m_entries.remove(static_cast<QWidget*>(o)); });
}

void FocusEvents::setEnter(QWidget* w, Handler h) {
    if (!w) {
        throw EProgrammingError(QStringLiteral("Evento de entrada atribuído a um controle nulo."));
    }
    FocusEvents& self = instance();
    self.watch(w);
    self.m_entries[w].enter = std::move(h);
}

void FocusEvents::setExit(QWidget* w, Handler h) {
    if (!w) {
        throw EProgrammingError(QStringLiteral("Evento de saída atribuído a um controle nulo."));
    }
    FocusEvents& self = instance();
    self.watch(w);
    self.m_entries[w].exit = std::move(h);
}

void FocusEvents::clear(QWidget* w) {
    FocusEvents& self = instance();
    auto it = self.m_entries.find(w);
    if (it != self.m_entries.end()) {
        it->enter = {};
        it->exit = {};
    }
}

FocusEvents::Handler FocusEvents::handlerOf(QWidget* w, bool enter) const {
    auto it = m_entries.constFind(w);
    if (it == m_entries.constEnd()) {
        return {};
    }
    return enter ? it->enter : it->exit;
}

void FocusEvents::onFocusChanged(QWidget* /*old*/, QWidget* now) {
    // Focus leaving the application, or going to a window without a focusable widget: the
    // form keeps its focus widget and nothing happens until the focus comes back.
    if (!now) {
        return;
    }
    QWidget* scope = scopeOf(now);
    if (!scope || m_busy.contains(scope)) {
        return;
    }
    QWidget* prev = lastOf(scope);
    if (prev == now) {
        return;  // back from another window
    }
    moveWithin(scope, prev, now);
}

QWidget* FocusEvents::lastOf(QWidget* scope) const {
    for (const QPointer<QWidget>& w : m_last.value(scope)) {
        if (w) {
            return w;
        }
    }
    return nullptr;
}

void FocusEvents::remember(QWidget* scope, QWidget* w) {
    // No focus widget (it was destroyed): keep the chain, whose survivors still tell where
    // the focus was.
    if (w) {
        m_last.insert(scope, chainOf(w, scope));
    }
    // Forget forms that are gone.
    for (auto it = m_last.begin(); it != m_last.end();) {
        const bool gone = std::none_of(it->cbegin(), it->cend(),
                                       [](const QPointer<QWidget>& p) { return !p.isNull(); });
        it = gone ? m_last.erase(it) : std::next(it);
    }
}

bool FocusEvents::runExits(const QList<QPointer<QWidget>>& chain) {
    for (const QPointer<QWidget>& w : chain) {
        if (!w) {
            continue;
        }
        // A copy: the handler may replace or remove itself, or destroy its widget.
        const Handler h = handlerOf(w, false);
        if (h && !runHandler(w, h)) {
            return false;
        }
    }
    return true;
}

void FocusEvents::moveWithin(QWidget* scope, QWidget* from, QWidget* to) {
    QPointer<QWidget> scopeGuard(scope);
    m_busy.insert(scope);
    auto done = qScopeGuard([&] {
        m_busy.remove(scope);
        if (scopeGuard) {
            remember(scope, scopeGuard->focusWidget());
        }
    });

    QPointer<QWidget> current(from);
    QPointer<QWidget> target(to);
    for (int hop = 0; hop < kMaxHops && target && target != current; ++hop) {
        QList<QPointer<QWidget>> exits;
        if (current) {
            for (const QPointer<QWidget>& w : chainOf(current, scope)) {
                if (!contains(w, target)) {
                    exits.append(w);
                }
            }
        }
        QList<QPointer<QWidget>> enters;
        for (const QPointer<QWidget>& w : chainOf(target, scope)) {
            if (!contains(w, current)) {
                enters.prepend(w);  // outer first
            }
        }

        if (!runExits(exits)) {
            if (!scopeGuard) {
                return;
            }
            // The exit refused the move. The handler normally focused the control to correct;
            // if it left the focus on the new target, it goes back to the widget left.
            if (scope->focusWidget() == target && current && current->isVisible() &&
                current->isEnabled()) {
                current->setFocus(Qt::OtherFocusReason);
            }
            return;
        }
        remember(scope, target);

        for (const QPointer<QWidget>& w : enters) {
            if (!w) {
                continue;
            }
            const Handler h = handlerOf(w, true);
            if (h && !runHandler(w, h)) {
                break;
            }
        }
        if (!scopeGuard) {
            return;
        }
        // A handler that moved the focus on its own starts a move of its own.
        current = target;
        target = scope->focusWidget();
    }
}

bool FocusEvents::checkExit(QWidget* focused, QWidget* upTo) {
    FocusEvents& self = instance();
    if (!focused) {
        focused = QApplication::focusWidget();
        if (!focused && QApplication::activeWindow()) {
            focused = QApplication::activeWindow()->focusWidget();
        }
    }
    if (!focused) {
        return true;
    }
    QWidget* scope = scopeOf(focused);
    QList<QPointer<QWidget>> chain;
    for (const QPointer<QWidget>& w : chainOf(focused, scope)) {
        if (w == upTo) {
            break;
        }
        chain.append(w);
    }
    const bool wasBusy = self.m_busy.contains(scope);
    self.m_busy.insert(scope);
    QPointer<QWidget> scopeGuard(scope);
    const bool ok = self.runExits(chain);
    if (!wasBusy) {
        self.m_busy.remove(scope);
        if (scopeGuard) {
            self.remember(scope, scopeGuard->focusWidget());
        }
    }
    return ok;
}

}  // namespace host

#include "forms/mdihost.h"

#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

#include "core/hosterror.h"

namespace host {

namespace {

QPointer<QMdiArea>& registered() {
    static QPointer<QMdiArea> a;
    return a;
}

}  // namespace

void MdiHost::setArea(QMdiArea* area) {
    registered() = area;
}

QMdiArea* MdiHost::area() {
    return registered().data();
}

QMainWindow* MdiHost::mainWindow() {
    QMdiArea* a = area();
    return a ? qobject_cast<QMainWindow*>(a->window()) : nullptr;
}

QMdiSubWindow* MdiHost::subWindowOf(const QWidget* w) {
    for (QWidget* p = w ? w->parentWidget() : nullptr; p; p = p->parentWidget()) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(p)) {
            return sub;
        }
    }
    return nullptr;
}

QMdiSubWindow* MdiHost::addChild(QWidget* w) {
    if (!w) {
        throw EProgrammingError(QStringLiteral("MdiHost::addChild: janela nula."));
    }
    QMdiArea* a = area();
    if (!a) {
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->show();
        w->raise();
        w->activateWindow();
        return nullptr;
    }
    if (QMdiSubWindow* existing = subWindowOf(w); existing && existing->mdiArea() == a) {
        existing->showMaximized();
        a->setActiveSubWindow(existing);
        return existing;
    }
    // The size the window was designed with is its size when restored.
    const QSize designed = w->size();
    QMdiSubWindow* sub = a->addSubWindow(w);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    if (w->sizeHint().isValid()) {
        sub->resize(designed + (sub->sizeHint() - w->sizeHint()));
    }
    sub->setWindowTitle(w->windowTitle());
    sub->setWindowIcon(w->windowIcon());
    sub->showMaximized();
    a->setActiveSubWindow(sub);
    return sub;
}

}  // namespace host

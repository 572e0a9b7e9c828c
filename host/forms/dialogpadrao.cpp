#include "forms/dialogpadrao.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QTimer>

#include "core/messages.h"
#include "ui/handler.h"
#include "ui/showavi.h"

namespace host {

TDialogPadrao::TDialogPadrao(QWidget* parent) : QDialog(parent) {
    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(QStringLiteral("msgPadrao"));
    m_keyPreview = new KeyPreview(
        this, [this](int& key, Qt::KeyboardModifiers shift) { FormKeyDown(key, shift); });
}

TDialogPadrao::~TDialogPadrao() {
    announceDestroying();
}

void TDialogPadrao::DoCreate() {
    if (m_created) {
        return;
    }
    m_created = true;
    runHandler(this, [this] { FormCreate(); });
}

int TDialogPadrao::ShowModal() {
    setAttribute(Qt::WA_DeleteOnClose, false);
    // A busy window still up (a result shown before the wait is over) stays above ordinary
    // windows: this dialog joins that layer so it is not hidden, and the busy window moves
    // out of its way once it is placed.
    QWidget* busy = Showavi::Window();
    const bool overBusy = busy && busy->isVisible();
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) != overBusy) {
        setWindowFlag(Qt::WindowStaysOnTopHint, overBusy);
    }
    if (overBusy) {
        QTimer::singleShot(0, this, [this] { Showavi::MoveClearOf(this); });
    }
    return exec();
}

void TDialogPadrao::SetModalResult(int r) {
    setResult(r);
    if (r != 0) {
        close();
    }
}

void TDialogPadrao::accept() {
    SetModalResult(QDialog::Accepted);
}

void TDialogPadrao::reject() {
    setResult(QDialog::Rejected);
    close();
}

void TDialogPadrao::announceDestroying() {
    if (m_announced) {
        return;
    }
    m_announced = true;
    emit formDestroying(this);
}

void TDialogPadrao::FormKeyDown(int&, Qt::KeyboardModifiers) {}

void TDialogPadrao::EscapePressed() {
    reject();
}

void TDialogPadrao::closeEvent(QCloseEvent* event) {
    TCloseAction action = TCloseAction::caHide;
    if (!runHandler(this, [&] { FormClose(action); })) {
        action = TCloseAction::caNone;
    }
    switch (action) {
        case TCloseAction::caNone:
            event->ignore();
            return;
        case TCloseAction::caMinimize:
            event->ignore();
            showMinimized();
            return;
        case TCloseAction::caHide:
            event->accept();
            QDialog::done(result());
            return;
        case TCloseAction::caFree:
            announceDestroying();
            event->accept();
            QDialog::done(result());
            deleteLater();
            return;
    }
}

void TDialogPadrao::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        runHandler(this, [this] { FormShow(); });
    }
}

void TDialogPadrao::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        runHandler(this, [this] { EscapePressed(); });
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TDialogPadrao::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate) {
        runHandler(this, [this] { FormActivate(); });
    }
    return handled;
}

}  // namespace host

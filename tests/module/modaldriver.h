#pragma once

#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "ui/showavi.h"

// Runs step for whatever modal window comes up while an action runs; a window step does not
// know is closed, so nothing can hang.
class ModalDriver {
  public:
    explicit ModalDriver(std::function<bool(QWidget*)> step) : m_step(std::move(step)) {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == host::Showavi::Window()) {
                return;
            }
            if (!m_step(modal)) {
                m_unexpected << modal->objectName();
                modal->close();
            }
        });
        m_timer.start();
    }
    QStringList unexpected() const { return m_unexpected; }

  private:
    std::function<bool(QWidget*)> m_step;
    QTimer m_timer;
    QStringList m_unexpected;
};

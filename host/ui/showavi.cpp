#include "ui/showavi.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace host {

namespace {

class BusyWindow : public QWidget {
  public:
    explicit BusyWindow(QWidget* parent)
        : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setObjectName(QStringLiteral("frmShowavi"));
        setWindowModality(Qt::ApplicationModal);
        setAttribute(Qt::WA_DeleteOnClose, false);
        auto* layout = new QVBoxLayout(this);
        m_label = new QLabel(this);
        m_label->setObjectName(QStringLiteral("lblShowavi"));
        m_label->setAlignment(Qt::AlignCenter);
        m_bar = new QProgressBar(this);
        m_bar->setRange(0, 0);  // indeterminate
        m_bar->setTextVisible(false);
        layout->addWidget(m_label);
        layout->addWidget(m_bar);
        setFixedSize(320, 90);
        setAutoFillBackground(true);
    }

    void setText(const QString& text) { m_label->setText(text); }

    void placeOver(QWidget* over) {
        QRect area;
        if (over && over->isVisible()) {
            area = over->frameGeometry();
        } else if (QScreen* s = QGuiApplication::primaryScreen()) {
            area = s->availableGeometry();
        }
        if (area.isValid()) {
            move(area.center() - rect().center());
        }
    }

    void moveClearOf(const QRect& other) {
        const QRect mine = frameGeometry();
        if (!mine.intersects(other)) {
            return;
        }
        QRect screen;
        if (QScreen* s = QGuiApplication::screenAt(other.center())) {
            screen = s->availableGeometry();
        } else if (QScreen* p = QGuiApplication::primaryScreen()) {
            screen = p->availableGeometry();
        }
        const int gap = 4;
        const int x = other.center().x() - mine.width() / 2;
        int y = other.bottom() + 1 + gap;
        if (screen.isValid() && y + mine.height() > screen.bottom() + 1) {
            y = other.top() - gap - mine.height();
        }
        move(x, y);
    }

  private:
    QLabel* m_label;
    QProgressBar* m_bar;
};

int g_level = 0;
QPointer<BusyWindow> g_window;

}  // namespace

namespace Showavi {

QString CaptionOf(int kind) {
    switch (kind) {
        case kProcessando:
            return QStringLiteral("Processando...");
        case kConsultando:
            return QStringLiteral("Consultando...");
        default:
            return QStringLiteral("Aguarde...");
    }
}

void ActiveShowAvi(QWidget* form, int kind, const QString& text) {
    ++g_level;
    const QString shown = text.trimmed().isEmpty() ? CaptionOf(kind) : text;
    if (!qApp) {
        return;  // no screen to show it on; the level still pairs with the hide
    }
    if (!g_window) {
        QWidget* over = form ? form->window() : QApplication::activeWindow();
        g_window = new BusyWindow(over);
        g_window->setText(shown);
        g_window->placeOver(over);
        g_window->show();
        g_window->raise();
        g_window->repaint();
    } else {
        g_window->setText(shown);
        g_window->repaint();
    }
}

void DeactiveShowAvi() {
    if (g_level <= 0) {
        g_level = 0;
        return;  // an unmatched hide changes nothing
    }
    if (--g_level == 0 && g_window) {
        g_window->hide();
        delete g_window.data();
    }
}

void MoveClearOf(QWidget* dialog) {
    if (g_window && g_window->isVisible() && dialog && dialog->isVisible()) {
        g_window->moveClearOf(dialog->frameGeometry());
    }
}

int Level() {
    return g_level;
}

QWidget* Window() {
    return g_window.data();
}

}  // namespace Showavi

ShowAviGuard::ShowAviGuard(QWidget* form, int kind, const QString& text) {
    Showavi::ActiveShowAvi(form, kind, text);
}

ShowAviGuard::~ShowAviGuard() {
    Showavi::DeactiveShowAvi();
}

}  // namespace host

#include "forms/formsupport.h"

#include <QApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QStyle>

#include "ui/handler.h"

namespace host {

KeyPreview::KeyPreview(QWidget* form, Handler handler)
    : QObject(form), m_form(form), m_handler(std::move(handler)) {
    qApp->installEventFilter(this);
}

KeyPreview::~KeyPreview() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        m_lastSeen = nullptr;
    }
    if (!m_enabled || event->type() != QEvent::KeyPress || !m_form || !watched->isWidgetType()) {
        return false;
    }
    auto* w = static_cast<QWidget*>(watched);
    // A key the focused control ignores travels up its parents one by one: the form has seen
    // it already at the first of them.
    if (event == m_lastSeen && m_lastWidget && w == m_lastWidget->parentWidget()) {
        m_lastWidget = w;
        return false;
    }
    if (w != m_form && !m_form->isAncestorOf(w)) {
        return false;
    }
    m_lastSeen = event;
    m_lastWidget = w;
    auto* ke = static_cast<QKeyEvent*>(event);
    int key = ke->key();
    runHandler(m_form, [&] { m_handler(key, ke->modifiers()); });
    return key == 0;
}

QIcon standardGlyph(StdGlyph which, const QWidget* forWidget) {
    QStyle* s = forWidget ? forWidget->style() : QApplication::style();
    QStyle::StandardPixmap p = QStyle::SP_CustomBase;
    switch (which) {
        case StdGlyph::Incluir:
            p = QStyle::SP_FileIcon;
            break;
        case StdGlyph::Alterar:
            p = QStyle::SP_FileDialogDetailedView;
            break;
        case StdGlyph::Excluir:
            p = QStyle::SP_TrashIcon;
            break;
        case StdGlyph::Procurar:
            p = QStyle::SP_FileDialogContentsView;
            break;
        case StdGlyph::Ordenar:
            p = QStyle::SP_ArrowDown;
            break;
        case StdGlyph::Verificar:
            p = QStyle::SP_BrowserReload;
            break;
        case StdGlyph::Cancelar:
            p = QStyle::SP_DialogCancelButton;
            break;
        case StdGlyph::Confirmar:
            p = QStyle::SP_DialogApplyButton;
            break;
        case StdGlyph::Imprimir:
            p = QStyle::SP_FileDialogListView;
            break;
        case StdGlyph::Fechar:
            p = QStyle::SP_DialogCloseButton;
            break;
        case StdGlyph::Ajuda:
            p = QStyle::SP_DialogHelpButton;
            break;
        case StdGlyph::Salvar:
            p = QStyle::SP_DialogSaveButton;
            break;
        case StdGlyph::Carregar:
            p = QStyle::SP_DialogOpenButton;
            break;
    }
    // Printing has no standard glyph: the desktop theme's one when there is a theme.
    if (which == StdGlyph::Imprimir) {
        const QIcon themed = QIcon::fromTheme(QStringLiteral("document-print"));
        if (!themed.isNull()) {
            return themed;
        }
    }
    return s->standardIcon(p, nullptr, forWidget);
}

void useCompactFont(const QList<QWidget*>& widgets) {
    for (QWidget* w : widgets) {
        QFont f = w->font();
        f.setPointSizeF(7.0);
        w->setFont(f);
    }
}

}  // namespace host

#include "ui/buttonflat.h"

namespace host {

TButtonFlat::TButtonFlat(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setIconSize(QSize(16, 16));
    resize(21, 21);
    updateStyle();
}

void TButtonFlat::SetCaption(const QString& caption) {
    setText(caption);
    updateStyle();
}

void TButtonFlat::SetGlyph(const QIcon& glyph) {
    setIcon(glyph);
    updateStyle();
}

void TButtonFlat::updateStyle() {
    if (text().isEmpty()) {
        setToolButtonStyle(Qt::ToolButtonIconOnly);
    } else if (icon().isNull()) {
        setToolButtonStyle(Qt::ToolButtonTextOnly);
    } else {
        setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    updateGeometry();
}

QSize TButtonFlat::sizeHint() const {
    if (text().isEmpty()) {
        return QSize(21, 21);
    }
    const QSize s = QToolButton::sizeHint();
    return QSize(std::max(s.width(), 21), std::max(s.height(), 21));
}

}  // namespace host

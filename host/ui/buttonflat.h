#pragma once

#include <QToolButton>

namespace host {

// The flat toolbar button: raised only under the mouse, 21 x 21 when it shows just a glyph,
// and it does not take the focus (clicking it leaves the focus, and the edit's exit handling,
// where they are).
class TButtonFlat : public QToolButton {
    Q_OBJECT

  public:
    explicit TButtonFlat(QWidget* parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption);
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    QIcon Glyph() const { return icon(); }
    void SetGlyph(const QIcon& glyph);

    QSize sizeHint() const override;

  private:
    void updateStyle();
};

}  // namespace host

#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

class QEvent;

namespace host {

// What closing a form does, as the form's close handler decides it.
enum class TCloseAction {
    caNone,      // the form stays open
    caHide,      // hidden, kept with its contents for the next showing
    caFree,      // destroyed
    caMinimize,  // minimized (MDI children)
};

// The forms' key preview: every key pressed in a control of the form's window reaches the
// form's key handler first. The handler sets the key to 0 to consume it; otherwise the
// control gets it as usual. Keys of other windows (a modal dialog the form opened) are left
// alone.
class KeyPreview : public QObject {
  public:
    using Handler = std::function<void(int& key, Qt::KeyboardModifiers shift)>;

    KeyPreview(QWidget* form, Handler handler);
    ~KeyPreview() override;

    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QWidget> m_form;
    Handler m_handler;
    bool m_enabled = true;
    const QEvent* m_lastSeen = nullptr;
    QPointer<QWidget> m_lastWidget;
};

// Standard glyphs of the toolbar commands, from the running style.
enum class StdGlyph {
    Incluir,
    Alterar,
    Excluir,
    Procurar,
    Ordenar,
    Verificar,
    Cancelar,
    Confirmar,
    Imprimir,
    Fechar,
    Ajuda,
    Salvar,
    Carregar
};
QIcon standardGlyph(StdGlyph which, const QWidget* forWidget);

// The small type of the dialogs' narrow button column (captions under the glyphs).
void useCompactFont(const QList<QWidget*>& widgets);

}  // namespace host

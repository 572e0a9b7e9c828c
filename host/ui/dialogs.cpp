#include "ui/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <functional>

#include "ui/picklistdialog.h"
#include "ui/showavi.h"

namespace host {

namespace {

QWidget* parentOr(QWidget* parent) {
    return parent ? parent : QApplication::activeWindow();
}

// A dialog asked while the busy window is up (an error inside a server call's guard) would
// sit behind or beside it; the busy window steps aside while the dialog is shown.
class BusyPause {
  public:
    BusyPause() : m_busy(Showavi::Window()) {
        if (m_busy && m_busy->isVisible()) {
            m_busy->hide();
        } else {
            m_busy = nullptr;
        }
    }
    ~BusyPause() {
        if (m_busy && Showavi::Window() == m_busy) {
            m_busy->show();
        }
    }
    BusyPause(const BusyPause&) = delete;
    BusyPause& operator=(const BusyPause&) = delete;

  private:
    QPointer<QWidget> m_busy;
};

struct ButtonInfo {
    MsgButton button;
    QMessageBox::StandardButton standard;
    const char* caption;
};

// In the order they appear on the box.
constexpr ButtonInfo kButtons[] = {
    {MsgButton::Yes, QMessageBox::Yes, "Sim"},
    {MsgButton::No, QMessageBox::No, "Não"},
    {MsgButton::Ok, QMessageBox::Ok, "OK"},
    {MsgButton::Cancel, QMessageBox::Cancel, "Cancelar"},
    {MsgButton::Abort, QMessageBox::Abort, "Abortar"},
    {MsgButton::Retry, QMessageBox::Retry, "Repetir"},
    {MsgButton::Ignore, QMessageBox::Ignore, "Ignorar"},
};

QString titleOf(MsgType type) {
    switch (type) {
        case MsgType::Warning:
            return QStringLiteral("Atenção");
        case MsgType::Error:
            return QStringLiteral("Erro");
        case MsgType::Information:
            return QStringLiteral("Informação");
        case MsgType::Confirmation:
            return QStringLiteral("Confirmação");
        case MsgType::Custom:
            break;
    }
    return QApplication::applicationDisplayName().isEmpty()
               ? QStringLiteral("Mensagem")
               : QApplication::applicationDisplayName();
}

QMessageBox::Icon iconOf(MsgType type) {
    switch (type) {
        case MsgType::Warning:
            return QMessageBox::Warning;
        case MsgType::Error:
            return QMessageBox::Critical;
        case MsgType::Information:
            return QMessageBox::Information;
        case MsgType::Confirmation:
            return QMessageBox::Question;
        case MsgType::Custom:
            break;
    }
    return QMessageBox::NoIcon;
}

// The answer when the box is closed without a button (Esc, the window's close box): the most
// cautious button offered.
MsgButton cautiousAnswer(MsgButtons buttons) {
    for (MsgButton b : {MsgButton::Cancel, MsgButton::No, MsgButton::Abort, MsgButton::Ignore,
                        MsgButton::Ok, MsgButton::Yes, MsgButton::Retry}) {
        if (buttons.testFlag(b)) {
            return b;
        }
    }
    return MsgButton::Ok;
}

// The system's directory chooser, which also takes the name of a directory that does not exist
// yet: it is made once the user says so, as the chooser of a business program is expected to.
class DirectoryChooser : public QFileDialog {
  public:
    DirectoryChooser(QWidget* parent, const QString& caption, const QString& start,
                     bool allowCreate, std::function<bool(const QString&)> confirm)
        : QFileDialog(parent, caption, start),
          m_allowCreate(allowCreate),
          m_confirm(std::move(confirm)) {}

    void accept() override {
        const QStringList chosen = selectedFiles();
        const QString path = chosen.isEmpty() ? QString() : chosen.constFirst();
        if (m_allowCreate && !path.isEmpty() && !QFileInfo::exists(path)) {
            const QString shown = QDir::toNativeSeparators(path);
            if (!m_confirm(
                    QStringLiteral("A pasta \"%1\" não existe. Deseja criá-la?").arg(shown))) {
                return;
            }
            if (!QDir().mkpath(path)) {
                QMessageBox::warning(
                    this, windowTitle(),
                    QStringLiteral("Não foi possível criar a pasta \"%1\".").arg(shown));
                return;
            }
            setDirectory(QFileInfo(path).absolutePath());
            selectFile(path);
        }
        QFileDialog::accept();
    }

  private:
    bool m_allowCreate;
    std::function<bool(const QString&)> m_confirm;
};

class DefaultDialogs : public DialogSeam {
  public:
    MsgButton message(const QString& text, MsgType type, MsgButtons buttons,
                      QWidget* parent) override {
        BusyPause pause;
        if (buttons == MsgButtons()) {
            buttons = MsgButton::Ok;
        }
        QMessageBox box(iconOf(type), titleOf(type), text, QMessageBox::NoButton, parentOr(parent));
        QList<QPair<QAbstractButton*, MsgButton>> added;
        for (const ButtonInfo& info : kButtons) {
            if (buttons.testFlag(info.button)) {
                QPushButton* b = box.addButton(info.standard);
                b->setText(QString::fromUtf8(info.caption));
                added.append({b, info.button});
            }
        }
        // Enter takes the affirmative answer; Esc the cautious one.
        const MsgButton cautious = cautiousAnswer(buttons);
        for (const auto& [b, which] : added) {
            if (which == MsgButton::Yes ||
                (which == MsgButton::Ok && !buttons.testFlag(MsgButton::Yes))) {
                box.setDefaultButton(static_cast<QPushButton*>(b));
            }
            if (which == cautious) {
                box.setEscapeButton(b);
            }
        }
        box.exec();
        for (const auto& [b, which] : added) {
            if (box.clickedButton() == b) {
                return which;
            }
        }
        return cautious;
    }

    void error(const QString& text, QWidget* parent) override {
        BusyPause pause;
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro"), text, QMessageBox::Ok,
                        parentOr(parent));
        box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
        box.exec();
    }

    QString chooseDirectory(const QString& caption, const QString& start, bool allowCreate,
                            QWidget* parent) override {
        BusyPause pause;
        DirectoryChooser dlg(
            parentOr(parent), caption, start, allowCreate, [this, parent](const QString& question) {
                return message(question, MsgType::Confirmation, MsgButton::Yes | MsgButton::No,
                               parent) == MsgButton::Yes;
            });
        dlg.setFileMode(QFileDialog::Directory);
        dlg.setOption(QFileDialog::ShowDirsOnly, true);
        // A read-only chooser offers no "new folder" button.
        dlg.setOption(QFileDialog::ReadOnly, !allowCreate);
        dlg.setLabelText(QFileDialog::Accept, QStringLiteral("Selecionar"));
        dlg.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) {
            return {};
        }
        return dlg.selectedFiles().constFirst();
    }

    QList<int> pick(const PickRequest& req, QWidget* parent) override {
        BusyPause pause;
        PickListDialog dlg(req, parentOr(parent));
        if (dlg.exec() != QDialog::Accepted) {
            return {};
        }
        return dlg.chosenRows();
    }

    QString chooseSaveFile(const QString& caption, const QString& suggestedPath,
                           const QString& filter, QWidget* parent) override {
        BusyPause pause;
        QFileDialog dlg(parentOr(parent), caption, suggestedPath, filter);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        // QFileDialog asks before replacing an existing file (the default option).
        dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
        const QString suffix = QFileInfo(suggestedPath).suffix();
        if (!suffix.isEmpty()) {
            dlg.setDefaultSuffix(suffix);
        }
        if (!suggestedPath.isEmpty()) {
            dlg.selectFile(suggestedPath);
        }
        dlg.setLabelText(QFileDialog::Accept, QStringLiteral("Salvar"));
        dlg.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) {
            return {};
        }
        return dlg.selectedFiles().constFirst();
    }
};

DialogSeam* g_installed = nullptr;

}  // namespace

QString DialogSeam::chooseSaveFile(const QString&, const QString&, const QString&, QWidget*) {
    return {};
}

DialogSeam& dialogs() {
    if (g_installed) {
        return *g_installed;
    }
    static DefaultDialogs defaults;
    return defaults;
}

void setDialogs(DialogSeam* seam) {
    g_installed = seam;
}

DialogSeam* installedDialogs() {
    return g_installed;
}

}  // namespace host

#pragma once

#include <QFlags>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

namespace host {

class TClientDataSet;

// The one seam through which the host and the modules ask the user anything: message
// dialogs, the error report, the directory and save-file choosers and the pick lists. The default
// implementation uses QMessageBox, QFileDialog and the host's own list window; tests install
// the scripted one (tests/support/scripteddialogs.h) that records and answers from a queue.
enum class MsgType { Warning, Error, Information, Confirmation, Custom };

enum class MsgButton {
    None = 0,
    Yes = 0x01,
    No = 0x02,
    Ok = 0x04,
    Cancel = 0x08,
    Abort = 0x10,
    Retry = 0x20,
    Ignore = 0x40,
};
Q_DECLARE_FLAGS(MsgButtons, MsgButton)
Q_DECLARE_OPERATORS_FOR_FLAGS(MsgButtons)

// A pick list over the rows of a data set: one row (lookup buttons) or several (Pesqlista).
struct PickRequest {
    QString title;                     // window title
    TClientDataSet* source = nullptr;  // rows offered, in the data set's view order
    QStringList columns;               // field names shown; empty = the visible fields
    QString keyField;                  // the code field (searched first when typing)
    bool multiple = false;
    // Lookup buttons with PesqChave: the list opens on the row whose keyField equals this
    // value (the code already typed in the edit); empty or not found: the first row.
    QString startKey;
    QList<int> preselected;  // view rows chosen when the list opens (multiple choice)
};

class DialogSeam {
  public:
    virtual ~DialogSeam() = default;

    // A message with a type and a set of buttons; returns the button pressed.
    virtual MsgButton message(const QString& text, MsgType type, MsgButtons buttons,
                              QWidget* parent) = 0;
    // The host's error report (a stopping error, or a failure that reached a handler boundary).
    virtual void error(const QString& text, QWidget* parent) = 0;
    // A directory; empty when cancelled. allowCreate lets the user make a new one.
    virtual QString chooseDirectory(const QString& caption, const QString& start, bool allowCreate,
                                    QWidget* parent) = 0;
    // The chosen view rows of req.source (0-based, ascending); empty when cancelled.
    virtual QList<int> pick(const PickRequest& req, QWidget* parent) = 0;
    // The path of a file to write; empty when cancelled. suggestedPath is the name offered,
    // filter the file types ("PDF (*.pdf)"); an existing file is only chosen after the user
    // agreed to replace it. A seam that offers no file chooser answers as a cancelled one.
    virtual QString chooseSaveFile(const QString& caption, const QString& suggestedPath,
                                   const QString& filter, QWidget* parent);
};

// The seam in force. Never null: the default implementation is used until one is installed.
DialogSeam& dialogs();
// Installs a seam (the host keeps ownership with the caller); nullptr restores the default.
void setDialogs(DialogSeam* seam);
// The seam installed with setDialogs, or nullptr while the default is in force.
DialogSeam* installedDialogs();

}  // namespace host

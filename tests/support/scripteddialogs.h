#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

#include "ui/dialogs.h"

// The dialog seam of a test: install one on the stack of a test function, queue the answers
// the code under test will need, run the action, then check.
//
//   host::test::ScriptedDialogs dlg;
//   dlg.expectMessage("Atenção! Deseja confirmar...", host::MsgButton::Yes);
//   dlg.expectError("Empresa não cadastrada.");
//   ... the action ...
//   QVERIFY_DIALOGS(dlg);
//
// Expectations are consumed in the order they were queued, whatever their kind. A dialog
// that does not match the next expectation (or comes when none is left) is a failure: it is
// recorded, warned about at once and answered harmlessly (Cancel, No or OK; an empty
// directory; no rows). Failures and expectations left over fail the test at QVERIFY_DIALOGS
// or, failing that, when the guard goes out of scope.
namespace host::test {

struct DialogCall {
    enum Kind { Message, Error, Directory, Pick, SaveFile };
    Kind kind = Message;
    QString text;  // message or error text, directory caption, pick title
    MsgType type = MsgType::Information;
    MsgButtons buttons;
    MsgButton answer = MsgButton::None;
    QString start;   // directory: where the chooser starts; save file: the name offered
    QString filter;  // save file: the file types offered
    bool allowCreate = false;
    PickRequest pick;
    QList<int> rows;  // pick: the answer
};

class ScriptedDialogs : public DialogSeam {
  public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    // text empty: any text. The answer must be one of the buttons offered.
    ScriptedDialogs& expectMessage(const QString& text, MsgButton answer = MsgButton::Ok);
    ScriptedDialogs& expectMessage(const QString& text, MsgType type, MsgButton answer);
    ScriptedDialogs& expectError(const QString& text = {});
    // An empty path answers as a cancelled chooser.
    ScriptedDialogs& setNextDirectory(const QString& path);
    // No rows answers as a cancelled list.
    ScriptedDialogs& setNextPick(const QList<int>& rows);
    // The answer of the next save-file chooser; an empty path answers as a cancelled one.
    ScriptedDialogs& setNextSaveFile(const QString& path);

    // Everything asked so far, in order.
    const QList<DialogCall>& calls() const { return m_calls; }
    // Texts of the messages and errors shown, in order.
    QStringList texts() const;
    QStringList failures() const { return m_failures; }
    // Hands over the failures recorded so far and forgets them (tests of the seam itself).
    QStringList takeFailures();
    int pending() const { return int(m_queue.size()); }

    // Fails the running test (QTest::qFail at file:line) when something unexpected was
    // asked or an expectation is left; returns whether all is well. Either way the guard's
    // destructor will not report the same things again.
    bool verify(const char* file, int line);

    // DialogSeam
    MsgButton message(const QString& text, MsgType type, MsgButtons buttons,
                      QWidget* parent) override;
    void error(const QString& text, QWidget* parent) override;
    QString chooseDirectory(const QString& caption, const QString& start, bool allowCreate,
                            QWidget* parent) override;
    QList<int> pick(const PickRequest& req, QWidget* parent) override;
    QString chooseSaveFile(const QString& caption, const QString& suggestedPath,
                           const QString& filter, QWidget* parent) override;

  private:
    struct Expectation {
        DialogCall::Kind kind;
        QString text;
        bool checkType = false;
        MsgType type = MsgType::Information;
        MsgButton answer = MsgButton::None;
        QString directory;  // also the path a save-file chooser answers
        QList<int> rows;
        QString describe() const;
    };
    // The next expectation if it is of that kind and text; records a failure otherwise.
    std::optional<Expectation> take(DialogCall::Kind kind, const QString& text,
                                    const QString& what);
    void fail(const QString& why);
    QString report() const;

    DialogSeam* m_previous = nullptr;
    std::deque<Expectation> m_queue;
    QList<DialogCall> m_calls;
    QStringList m_failures;
};

// Answers a modal window the code under test opens (a message box, a dialog's exec): polls
// QApplication::activeModalWidget() and runs the action on the first modal that was not up
// when the helper was made. Its destructor fails the test when no modal came.
class ModalAction {
  public:
    explicit ModalAction(std::function<void(QWidget*)> action, int timeoutMs = 5000);
    ~ModalAction();
    ModalAction(const ModalAction&) = delete;
    ModalAction& operator=(const ModalAction&) = delete;
    bool done() const { return m_done; }

  private:
    std::function<void(QWidget*)> m_action;
    QPointer<QWidget> m_before;
    QTimer m_timer;
    int m_left;
    bool m_done = false;
};

}  // namespace host::test

#define QVERIFY_DIALOGS(sd)                   \
    do {                                      \
        if (!(sd).verify(__FILE__, __LINE__)) \
            return;                           \
    } while (false)

#include "support/scripteddialogs.h"

#include <QApplication>
#include <QTest>

namespace host::test {

namespace {

QString kindName(DialogCall::Kind k) {
    switch (k) {
        case DialogCall::Message:
            return QStringLiteral("message");
        case DialogCall::Error:
            return QStringLiteral("error");
        case DialogCall::Directory:
            return QStringLiteral("directory chooser");
        case DialogCall::Pick:
            return QStringLiteral("pick list");
        case DialogCall::SaveFile:
            return QStringLiteral("save-file chooser");
    }
    return {};
}

MsgButton harmless(MsgButtons offered) {
    for (MsgButton b :
         {MsgButton::Cancel, MsgButton::No, MsgButton::Ok, MsgButton::Abort, MsgButton::Ignore}) {
        if (offered.testFlag(b)) {
            return b;
        }
    }
    return MsgButton::Cancel;
}

}  // namespace

QString ScriptedDialogs::Expectation::describe() const {
    return QStringLiteral("%1 \"%2\"").arg(kindName(kind), text.isEmpty() ? "*" : text);
}

ScriptedDialogs::ScriptedDialogs() : m_previous(installedDialogs()) {
    setDialogs(this);
}

ScriptedDialogs::~ScriptedDialogs() {
    setDialogs(m_previous);
    const QString r = report();
    if (r.isEmpty()) {
        return;
    }
    if (QTest::currentTestFunction() && !QTest::currentTestFailed()) {
        QTest::qFail(qPrintable(r), __FILE__, __LINE__);
    } else {
        qWarning("ScriptedDialogs: %s", qPrintable(r));
    }
}

ScriptedDialogs& ScriptedDialogs::expectMessage(const QString& text, MsgButton answer) {
    m_queue.push_back({DialogCall::Message, text, false, MsgType::Information, answer, {}, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectMessage(const QString& text, MsgType type,
                                                MsgButton answer) {
    m_queue.push_back({DialogCall::Message, text, true, type, answer, {}, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectError(const QString& text) {
    m_queue.push_back({DialogCall::Error, text, false, MsgType::Error, MsgButton::Ok, {}, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::setNextDirectory(const QString& path) {
    m_queue.push_back(
        {DialogCall::Directory, {}, false, MsgType::Information, MsgButton::None, path, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::setNextSaveFile(const QString& path) {
    m_queue.push_back(
        {DialogCall::SaveFile, {}, false, MsgType::Information, MsgButton::None, path, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::setNextPick(const QList<int>& rows) {
    m_queue.push_back(
        {DialogCall::Pick, {}, false, MsgType::Information, MsgButton::None, {}, rows});
    return *this;
}

QStringList ScriptedDialogs::texts() const {
    QStringList out;
    for (const DialogCall& c : m_calls) {
        if (c.kind == DialogCall::Message || c.kind == DialogCall::Error) {
            out.append(c.text);
        }
    }
    return out;
}

QStringList ScriptedDialogs::takeFailures() {
    QStringList out;
    out.swap(m_failures);
    return out;
}

void ScriptedDialogs::fail(const QString& why) {
    m_failures.append(why);
    qWarning("ScriptedDialogs: %s", qPrintable(why));
}

std::optional<ScriptedDialogs::Expectation> ScriptedDialogs::take(DialogCall::Kind kind,
                                                                  const QString& text,
                                                                  const QString& what) {
    if (m_queue.empty()) {
        fail(QStringLiteral("unexpected %1: %2").arg(kindName(kind), what));
        return std::nullopt;
    }
    const Expectation& next = m_queue.front();
    if (next.kind != kind || (!next.text.isEmpty() && next.text != text)) {
        fail(QStringLiteral("expected %1, got %2: %3").arg(next.describe(), kindName(kind), what));
        return std::nullopt;
    }
    Expectation e = next;
    m_queue.pop_front();
    return e;
}

MsgButton ScriptedDialogs::message(const QString& text, MsgType type, MsgButtons buttons,
                                   QWidget*) {
    DialogCall call;
    call.kind = DialogCall::Message;
    call.text = text;
    call.type = type;
    call.buttons = buttons;
    const std::optional<Expectation> e =
        take(DialogCall::Message, text, QStringLiteral("\"%1\"").arg(text));
    call.answer = harmless(buttons);
    if (e) {
        if (e->checkType && e->type != type) {
            fail(QStringLiteral("message \"%1\" shown with type %2, expected %3")
                     .arg(text)
                     .arg(int(type))
                     .arg(int(e->type)));
        }
        const MsgButtons offered = buttons == MsgButtons() ? MsgButtons(MsgButton::Ok) : buttons;
        if (!offered.testFlag(e->answer)) {
            fail(QStringLiteral("message \"%1\" does not offer the scripted answer %2 "
                                "(buttons 0x%3)")
                     .arg(text)
                     .arg(int(e->answer))
                     .arg(int(buttons.toInt()), 0, 16));
        } else {
            call.answer = e->answer;
        }
    }
    m_calls.append(call);
    return call.answer;
}

void ScriptedDialogs::error(const QString& text, QWidget*) {
    DialogCall call;
    call.kind = DialogCall::Error;
    call.text = text;
    call.type = MsgType::Error;
    call.buttons = MsgButton::Ok;
    call.answer = MsgButton::Ok;
    m_calls.append(call);
    take(DialogCall::Error, text, QStringLiteral("\"%1\"").arg(text));
}

QString ScriptedDialogs::chooseDirectory(const QString& caption, const QString& start,
                                         bool allowCreate, QWidget*) {
    DialogCall call;
    call.kind = DialogCall::Directory;
    call.text = caption;
    call.start = start;
    call.allowCreate = allowCreate;
    m_calls.append(call);
    const auto e = take(DialogCall::Directory, caption, QStringLiteral("\"%1\"").arg(caption));
    return e ? e->directory : QString();
}

QString ScriptedDialogs::chooseSaveFile(const QString& caption, const QString& suggestedPath,
                                        const QString& filter, QWidget*) {
    DialogCall call;
    call.kind = DialogCall::SaveFile;
    call.text = caption;
    call.start = suggestedPath;
    call.filter = filter;
    m_calls.append(call);
    const auto e = take(DialogCall::SaveFile, caption, QStringLiteral("\"%1\"").arg(caption));
    return e ? e->directory : QString();
}

QList<int> ScriptedDialogs::pick(const PickRequest& req, QWidget*) {
    DialogCall call;
    call.kind = DialogCall::Pick;
    call.text = req.title;
    call.pick = req;
    const auto e = take(DialogCall::Pick, req.title, QStringLiteral("\"%1\"").arg(req.title));
    if (e) {
        call.rows = e->rows;
        if (!req.multiple && e->rows.size() > 1) {
            fail(QStringLiteral("pick list \"%1\" allows one row; %2 scripted")
                     .arg(req.title)
                     .arg(e->rows.size()));
            call.rows = e->rows.mid(0, 1);
        }
    }
    m_calls.append(call);
    return call.rows;
}

QString ScriptedDialogs::report() const {
    QStringList lines = m_failures;
    for (const Expectation& e : m_queue) {
        lines.append(QStringLiteral("never asked: %1").arg(e.describe()));
    }
    return lines.join(QLatin1String("; "));
}

bool ScriptedDialogs::verify(const char* file, int line) {
    const QString r = report();
    m_failures.clear();
    m_queue.clear();
    if (r.isEmpty()) {
        return true;
    }
    QTest::qFail(qPrintable(QStringLiteral("dialogs: ") + r), file, line);
    return false;
}

ModalAction::ModalAction(std::function<void(QWidget*)> action, int timeoutMs)
    : m_action(std::move(action)),
      m_before(QApplication::activeModalWidget()),
      m_left(std::max(1, timeoutMs / 10)) {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != m_before && modal->isVisible()) {
            m_timer.stop();
            m_done = true;
            m_action(modal);
        } else if (--m_left <= 0) {
            m_timer.stop();
        }
    });
    m_timer.start();
}

ModalAction::~ModalAction() {
    m_timer.stop();
    if (!m_done) {
        if (QTest::currentTestFunction() && !QTest::currentTestFailed()) {
            QTest::qFail("ModalAction: no modal window came", __FILE__, __LINE__);
        } else {
            qWarning("ModalAction: no modal window came");
        }
    }
}

}  // namespace host::test

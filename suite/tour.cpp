#include "tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <memory>

#include "core/hosterror.h"
#include "ui/dateeditplus.h"
#include "ui/dialogs.h"
#include "ui/maskedit.h"
#include "ui/showavi.h"

namespace suite {

namespace {

constexpr int kWaitMs = 60000;  // how long a step waits for its widget
constexpr int kPollMs = 50;     // how often
constexpr int kSettleMs = 150;  // the pause after each step, for what it queued to run

struct Verb {
    const char* name;
    int minArgs;
    int maxArgs;  // -1: the rest of the line is the last argument
};
constexpr Verb kVerbs[] = {
    {"wait", 1, 1},    {"set", 2, -1}, {"focus", 1, 1}, {"key", 2, 99},  {"click", 1, 1},
    {"action", 2, -1}, {"shot", 1, 2}, {"close", 1, 1}, {"pause", 1, 1},
};

void say(const QString& text) {
    std::fprintf(stderr, "orvanta: roteiro: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

// The visible widget of that name in any window, else a hidden one, else nullptr.
QWidget* findWidget(const QString& name) {
    QWidget* hidden = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        QList<QWidget*> all = top->findChildren<QWidget*>(name);
        if (top->objectName() == name) {
            all.prepend(top);
        }
        for (QWidget* w : all) {
            if (w->isVisible()) {
                return w;
            }
            if (!hidden) {
                hidden = w;
            }
        }
    }
    return hidden;
}

QDate parseDate(const QString& text) {
    static const QString kHoje = QStringLiteral("hoje");
    if (text.startsWith(kHoje)) {
        bool ok = true;
        const int back = text.size() == kHoje.size() ? 0 : text.mid(kHoje.size() + 1).toInt(&ok);
        if (ok && (text.size() == kHoje.size() || text.at(kHoje.size()) == u'-')) {
            return QDate::currentDate().addDays(-back);
        }
        return {};
    }
    return QDate::fromString(text, QStringLiteral("dd/MM/yyyy"));
}

// The first word of text, taken off it with the spaces after it.
QString takeWord(QString& text) {
    const qsizetype space = text.indexOf(u' ');
    const QString word = space < 0 ? text : text.first(space);
    text = space < 0 ? QString() : text.mid(space + 1).trimmed();
    return word;
}

QString withoutAccelerator(QString text) {
    return text.remove(u'&');
}

// Answers for the walk: Yes to questions, the offered name in the script's directory for a
// file to save, the script's directory for a directory. What is said is printed.
class TourDialogs final : public host::DialogSeam {
  public:
    explicit TourDialogs(QString dir) : m_dir(std::move(dir)) {}

    host::MsgButton message(const QString& text, host::MsgType, host::MsgButtons buttons,
                            QWidget*) override {
        say(QStringLiteral("mensagem: ") + text);
        for (host::MsgButton b : {host::MsgButton::Yes, host::MsgButton::Ok}) {
            if (buttons.testFlag(b)) {
                return b;
            }
        }
        return host::MsgButton::None;
    }
    void error(const QString& text, QWidget*) override { say(QStringLiteral("erro: ") + text); }
    QString chooseDirectory(const QString&, const QString&, bool, QWidget*) override {
        return m_dir;
    }
    QList<int> pick(const host::PickRequest&, QWidget*) override { return {}; }
    QString chooseSaveFile(const QString&, const QString& suggestedPath, const QString&,
                           QWidget*) override {
        const QString path = QDir(m_dir).filePath(QFileInfo(suggestedPath).fileName());
        QFile::remove(path);
        return path;
    }

  private:
    QString m_dir;
};

class TourRunner : public QObject {
  public:
    TourRunner(QList<TourStep> steps, QString dir, QWidget* mainWindow,
               std::function<void(QString)> done)
        : QObject(mainWindow),
          m_steps(std::move(steps)),
          m_dir(std::move(dir)),
          m_main(mainWindow),
          m_done(std::move(done)),
          m_dialogs(m_dir) {
        m_previousDialogs = host::installedDialogs();
        host::setDialogs(&m_dialogs);
        m_timer.setInterval(kPollMs);
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_clock.start();
        m_timer.start();
    }
    ~TourRunner() override { host::setDialogs(m_previousDialogs); }

  private:
    void poll() {
        if (m_busy) {
            return;
        }
        if (m_next >= m_steps.size()) {
            finish({});
            return;
        }
        if (m_clock.elapsed() < m_pauseUntil) {
            return;
        }
        const TourStep& step = m_steps.at(m_next);
        m_busy = true;
        QString failure;
        bool done = false;
        try {
            done = run(step);
        } catch (const host::EHostError& e) {
            failure = e.text();
        }
        m_busy = false;
        if (failure.isEmpty() && !done && m_clock.elapsed() - m_stepStart > kWaitMs) {
            failure = QStringLiteral("em %1 s, %2 não apareceu ou a espera não terminou")
                          .arg(kWaitMs / 1000)
                          .arg(step.verb == QLatin1String("shot")
                                   ? step.args.value(1, QStringLiteral("a janela"))
                                   : step.args.value(0));
        }
        if (!failure.isEmpty()) {
            finish(QStringLiteral("linha %1 (%2): %3").arg(step.line).arg(step.verb, failure));
            return;
        }
        if (done) {
            ++m_next;
            m_stepStart = m_clock.elapsed();
            m_pauseUntil = m_stepStart + kSettleMs;
        }
    }

    // True once the step is done; false to try it again at the next poll.
    bool run(const TourStep& step) {
        const QString& v = step.verb;
        if (v == QLatin1String("pause")) {
            m_pauseUntil = m_clock.elapsed() + step.args.at(0).toInt();
            return true;
        }
        // Each step waits for the work in progress to end and for its widget to show.
        if (host::Showavi::Level() > 0) {
            return false;
        }
        QWidget* w = nullptr;
        if (v != QLatin1String("shot") || step.args.size() > 1) {
            const QString& name = v == QLatin1String("shot") ? step.args.at(1) : step.args.at(0);
            w = findWidget(name);
            if (!w || !w->isVisible()) {
                return false;
            }
        }
        if (v == QLatin1String("wait")) {
            return true;
        }
        if (v == QLatin1String("set")) {
            set(w, step.args.at(1));
        } else if (v == QLatin1String("focus")) {
            // Queued, as a click: the field left may open a modal window from its exit check.
            QMetaObject::invokeMethod(
                w, [w] { w->setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);
        } else if (v == QLatin1String("key")) {
            keys(w, step.args.mid(1));
        } else if (v == QLatin1String("click")) {
            click(w);
        } else if (v == QLatin1String("action")) {
            trigger(w, step.args.at(1));
        } else if (v == QLatin1String("shot")) {
            shot(w ? w->window() : m_main.data(), step.args.at(0));
        } else if (v == QLatin1String("close")) {
            QMetaObject::invokeMethod(w, &QWidget::close, Qt::QueuedConnection);
        }
        return true;
    }

    static void set(QWidget* w, const QString& value) {
        if (auto* date = qobject_cast<host::TDateEditPlus*>(w)) {
            const QDate d = parseDate(value);
            if (!d.isValid()) {
                throw host::EHostError(QStringLiteral("data inválida: ") + value);
            }
            date->SetDate(d);
        } else if (auto* mask = qobject_cast<host::TMaskEdit*>(w)) {
            mask->SetText(value);
        } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
            line->setText(value);
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            check->setChecked(value == QLatin1String("1"));
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            const int i = combo->findText(value);
            if (i < 0) {
                throw host::EHostError(
                    QStringLiteral("%1 não tem o item \"%2\"").arg(w->objectName(), value));
            }
            combo->setCurrentIndex(i);
        } else {
            throw host::EHostError(w->objectName() + QStringLiteral(" não é um campo"));
        }
    }

    static void keys(QWidget* w, const QStringList& names) {
        for (const QString& name : names) {
            const QKeySequence seq = QKeySequence::fromString(name, QKeySequence::PortableText);
            if (seq.isEmpty() || seq.count() != 1) {
                throw host::EHostError(QStringLiteral("tecla desconhecida: ") + name);
            }
            const QKeyCombination k = seq[0];
            const QString text = k.key() == Qt::Key_Space ? QStringLiteral(" ") : QString();
            QCoreApplication::postEvent(
                w, new QKeyEvent(QEvent::KeyPress, k.key(), k.keyboardModifiers(), text));
            QCoreApplication::postEvent(
                w, new QKeyEvent(QEvent::KeyRelease, k.key(), k.keyboardModifiers(), text));
        }
    }

    // Queued, so a button that opens a modal window does not hold the walk inside it.
    static void click(QWidget* w) {
        auto* button = qobject_cast<QAbstractButton*>(w);
        if (!button) {
            throw host::EHostError(w->objectName() + QStringLiteral(" não é um botão"));
        }
        if (!button->isEnabled()) {
            throw host::EHostError(w->objectName() + QStringLiteral(" está desabilitado"));
        }
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    }

    static void trigger(QWidget* w, const QString& text) {
        QMenu* menu = qobject_cast<QMenu*>(w);
        if (auto* tool = qobject_cast<QToolButton*>(w)) {
            menu = tool->menu();
        }
        if (!menu) {
            throw host::EHostError(w->objectName() + QStringLiteral(" não tem menu"));
        }
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator() && withoutAccelerator(a->text()).startsWith(text)) {
                QMetaObject::invokeMethod(a, &QAction::trigger, Qt::QueuedConnection);
                return;
            }
        }
        throw host::EHostError(
            QStringLiteral("%1 não tem o item \"%2\"").arg(w->objectName(), text));
    }

    void shot(QWidget* window, const QString& file) const {
        const QString path = QDir(m_dir).filePath(file);
        QImageWriter writer(path, "png");
        if (!writer.write(window->grab().toImage())) {
            throw host::EHostError(
                QStringLiteral("não foi possível gravar %1: %2").arg(path, writer.errorString()));
        }
        say(QStringLiteral("imagem ") + path);
    }

    void finish(const QString& failure) {
        m_timer.stop();
        std::function<void(QString)> done = std::move(m_done);
        if (done) {
            done(failure);
        }
    }

    QList<TourStep> m_steps;
    QString m_dir;
    QPointer<QWidget> m_main;
    std::function<void(QString)> m_done;
    TourDialogs m_dialogs;
    host::DialogSeam* m_previousDialogs = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_stepStart = 0;
    qint64 m_pauseUntil = 0;
    qsizetype m_next = 0;
    bool m_busy = false;
};

}  // namespace

QList<TourStep> parseTour(const QString& text) {
    QList<TourStep> steps;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString rest = lines.at(i).trimmed();
        if (rest.isEmpty() || rest.startsWith(u'#')) {
            continue;
        }
        TourStep step;
        step.line = int(i + 1);
        step.verb = takeWord(rest);
        const Verb* verb = nullptr;
        for (const Verb& v : kVerbs) {
            if (step.verb == QLatin1String(v.name)) {
                verb = &v;
            }
        }
        if (!verb) {
            throw host::EHostError(QStringLiteral("roteiro, linha %1: passo desconhecido \"%2\".")
                                       .arg(step.line)
                                       .arg(step.verb));
        }
        // A verb whose last argument may hold spaces takes the rest of the line for it.
        const int words = verb->maxArgs < 0 ? verb->minArgs - 1 : verb->maxArgs;
        while (!rest.isEmpty() && step.args.size() < words) {
            step.args << takeWord(rest);
        }
        if (!rest.isEmpty()) {
            step.args << rest;
        }
        const bool fits = step.args.size() >= verb->minArgs &&
                          (verb->maxArgs < 0 || step.args.size() <= verb->maxArgs);
        bool ok = true;
        if (fits && step.verb == QLatin1String("pause")) {
            step.args.at(0).toInt(&ok);
        }
        if (!fits || !ok) {
            throw host::EHostError(
                QStringLiteral("roteiro, linha %1: argumentos errados para \"%2\".")
                    .arg(step.line)
                    .arg(step.verb));
        }
        steps << step;
    }
    return steps;
}

void runTour(const QString& file, QWidget* mainWindow, std::function<void(QString)> done) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        throw host::EHostError(
            QStringLiteral("Não foi possível ler o roteiro %1: %2").arg(file, f.errorString()));
    }
    QList<TourStep> steps = parseTour(QString::fromUtf8(f.readAll()));
    // Owned by the main window: it goes with it, and the dialogs in force before with it.
    new TourRunner(std::move(steps), QFileInfo(file).absolutePath(), mainWindow, std::move(done));
}

}  // namespace suite

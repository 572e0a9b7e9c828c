#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <stdexcept>

#include "core/hosterror.h"
#include "support/scripteddialogs.h"
#include "ui/dialogs.h"
#include "ui/handler.h"
#include "ui/traducoes.h"

using namespace host;

namespace {

QStringList buttonTexts(QMessageBox* box) {
    QStringList out;
    for (QAbstractButton* b : box->buttons()) {
        out << b->text();
    }
    out.sort();
    return out;
}

}  // namespace

class TestDialogs : public QObject {
    Q_OBJECT

  private slots:
    // The scripted seam itself.
    void scriptedAnswersInOrderAndRecords();
    void scriptedFailsOnUnexpectedMessage();
    void scriptedFailsOnOtherTextOrKind();
    void scriptedFailsOnAnswerNotOffered();
    void scriptedReportsLeftoverExpectations();
    void scriptedRestoresTheSeamItReplaced();

    // The handler boundary.
    void runHandlerShowsOtherErrorsAndSwallowsStop_data();
    void runHandlerShowsOtherErrorsAndSwallowsStop();
    void bindRunsThroughTheBoundary();

    // The default seam, through the real windows.
    void messageBoxHasTypeAndPortugueseButtons();
    void qtsOwnTextsSpeakPortuguese();
    void messageBoxEscapeGivesTheCautiousAnswer();
    void errorReportIsCriticalWithCaptionErro();
    void directoryChooserShowsOnlyDirectories();
};

void TestDialogs::scriptedAnswersInOrderAndRecords() {
    test::ScriptedDialogs dlg;
    dlg.expectMessage("Confirma?", MsgButton::No)
        .expectMessage({}, MsgType::Warning, MsgButton::Ok)
        .expectError("Falhou.")
        .setNextDirectory("/tmp/xml")
        .setNextPick({2, 4});

    QCOMPARE(dialogs().message("Confirma?", MsgType::Confirmation, MsgButton::Yes | MsgButton::No,
                               nullptr),
             MsgButton::No);
    QCOMPARE(dialogs().message("Qualquer texto", MsgType::Warning, MsgButton::Ok, nullptr),
             MsgButton::Ok);
    dialogs().error("Falhou.", nullptr);
    QCOMPARE(dialogs().chooseDirectory("Diretório", "/", true, nullptr), QString("/tmp/xml"));
    PickRequest req;
    req.title = "Tipo de Operação";
    req.multiple = true;
    QCOMPARE(dialogs().pick(req, nullptr), QList<int>({2, 4}));

    QCOMPARE(dlg.texts(), QStringList({"Confirma?", "Qualquer texto", "Falhou."}));
    QCOMPARE(dlg.calls().size(), 5);
    QCOMPARE(dlg.calls()[0].type, MsgType::Confirmation);
    QCOMPARE(dlg.calls()[0].buttons, MsgButton::Yes | MsgButton::No);
    QCOMPARE(dlg.calls()[0].answer, MsgButton::No);
    QVERIFY(dlg.calls()[3].allowCreate);
    QCOMPARE(dlg.calls()[4].pick.title, QString("Tipo de Operação"));
    QVERIFY(dlg.failures().isEmpty());
    QVERIFY_DIALOGS(dlg);
}

void TestDialogs::scriptedFailsOnUnexpectedMessage() {
    test::ScriptedDialogs dlg;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unexpected message"));
    // Nothing queued: the code under test gets the cautious answer and goes on.
    QCOMPARE(dialogs().message("Deseja excluir?", MsgType::Confirmation,
                               MsgButton::Yes | MsgButton::No, nullptr),
             MsgButton::No);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unexpected error"));
    dialogs().error("Boom", nullptr);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unexpected pick list"));
    QVERIFY(dialogs().pick(PickRequest{}, nullptr).isEmpty());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unexpected directory"));
    QVERIFY(dialogs().chooseDirectory("Dir", {}, false, nullptr).isEmpty());

    const QStringList failures = dlg.takeFailures();
    QCOMPARE(failures.size(), 4);
    QVERIFY(failures[0].contains("Deseja excluir?"));
    QVERIFY(failures[1].contains("Boom"));
    QCOMPARE(dlg.texts(), QStringList({"Deseja excluir?", "Boom"}));
}

void TestDialogs::scriptedFailsOnOtherTextOrKind() {
    test::ScriptedDialogs dlg;
    dlg.expectError("Empresa deve ser informada.");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("expected error .*got error"));
    dialogs().error("Empresa não cadastrada.", nullptr);
    QCOMPARE(dlg.takeFailures().size(), 1);
    QCOMPARE(dlg.pending(), 1);  // the expectation is still waiting for its text

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("expected error .*got message"));
    QCOMPARE(dialogs().message("Outra coisa", MsgType::Warning, MsgButton::Ok, nullptr),
             MsgButton::Ok);
    QCOMPARE(dlg.takeFailures().size(), 1);

    dialogs().error("Empresa deve ser informada.", nullptr);
    QCOMPARE(dlg.pending(), 0);

    dlg.expectMessage("Tipo errado", MsgType::Warning, MsgButton::Ok);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("type"));
    dialogs().message("Tipo errado", MsgType::Error, MsgButton::Ok, nullptr);
    QCOMPARE(dlg.takeFailures().size(), 1);
    QVERIFY_DIALOGS(dlg);
}

void TestDialogs::scriptedFailsOnAnswerNotOffered() {
    test::ScriptedDialogs dlg;
    dlg.expectMessage("Aviso", MsgButton::Yes);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not offer"));
    QCOMPARE(dialogs().message("Aviso", MsgType::Warning, MsgButton::Ok, nullptr), MsgButton::Ok);
    QCOMPARE(dlg.takeFailures().size(), 1);

    dlg.setNextPick({0, 1});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("allows one row"));
    PickRequest single;
    QCOMPARE(dialogs().pick(single, nullptr), QList<int>({0}));
    QCOMPARE(dlg.takeFailures().size(), 1);
    QVERIFY_DIALOGS(dlg);
}

void TestDialogs::scriptedReportsLeftoverExpectations() {
    test::ScriptedDialogs dlg;
    dlg.expectMessage("Nunca mostrada", MsgButton::Yes).expectError("Também não");
    dialogs().message("Nunca mostrada", MsgType::Confirmation, MsgButton::Yes | MsgButton::No,
                      nullptr);
    QCOMPARE(dlg.pending(), 1);
    // The error never came: verify must fail the test, which is expected here.
    QEXPECT_FAIL("", "an expectation left over fails the test", Continue);
    const bool ok = dlg.verify(__FILE__, __LINE__);
    QVERIFY(!ok);
    QCOMPARE(dlg.pending(), 0);  // reported once, not again by the destructor
}

void TestDialogs::scriptedRestoresTheSeamItReplaced() {
    QVERIFY(installedDialogs() == nullptr);
    {
        test::ScriptedDialogs outer;
        QCOMPARE(installedDialogs(), &outer);
        {
            test::ScriptedDialogs inner;
            QCOMPARE(installedDialogs(), &inner);
        }
        QCOMPARE(installedDialogs(), &outer);
    }
    QVERIFY(installedDialogs() == nullptr);
}

void TestDialogs::runHandlerShowsOtherErrorsAndSwallowsStop_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("shown");  // empty: nothing shown
    QTest::newRow("stop") << 0 << QString();
    QTest::newRow("host error") << 1 << QString("Servidor de aplicação não responde.");
    QTest::newRow("std exception") << 2 << QString("disk full");
    QTest::newRow("anything else") << 3 << QString("Erro inesperado.");
}

void TestDialogs::runHandlerShowsOtherErrorsAndSwallowsStop() {
    QFETCH(int, which);
    QFETCH(QString, shown);
    test::ScriptedDialogs dlg;
    if (!shown.isEmpty()) {
        dlg.expectError(shown);
    }
    int cleanups = 0;
    const bool finished = runHandler(nullptr, [&] {
        auto guard = qScopeGuard([&] { ++cleanups; });
        switch (which) {
            case 0:
                throw EStop();
            case 1:
                throw ENetError("Servidor de aplicação não responde.");
            case 2:
                throw std::runtime_error("disk full");
            default:
                throw 42;
        }
    });
    QVERIFY(!finished);
    QCOMPARE(cleanups, 1);
    QCOMPARE(dlg.calls().size(), shown.isEmpty() ? 0 : 1);
    QVERIFY_DIALOGS(dlg);

    QVERIFY(runHandler(nullptr, [] {}));
}

void TestDialogs::bindRunsThroughTheBoundary() {
    test::ScriptedDialogs dlg;
    dlg.expectError("Falha no clique.");
    QWidget form;
    auto* button = new QPushButton(&form);
    int clicks = 0;
    bind(button, &QPushButton::clicked, &form, [&] {
        ++clicks;
        throw EHostError("Falha no clique.");
    });
    button->click();  // would terminate the program if the exception escaped
    QCOMPARE(clicks, 1);
    QVERIFY_DIALOGS(dlg);
}

void TestDialogs::messageBoxHasTypeAndPortugueseButtons() {
    QVERIFY(installedDialogs() == nullptr);
    QStringList texts;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    test::ModalAction answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        texts = buttonTexts(box);
        icon = box->icon();
        title = box->windowTitle();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == QString("Não")) {
                b->click();
            }
        }
    });
    const MsgButton got = dialogs().message("Deseja continuar?", MsgType::Confirmation,
                                            MsgButton::Yes | MsgButton::No, nullptr);
    QCOMPARE(got, MsgButton::No);
    QCOMPARE(texts, QStringList({"Não", "Sim"}));
    QCOMPARE(icon, QMessageBox::Question);
    QCOMPARE(title, QString("Confirmação"));

    test::ModalAction ok([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        texts = buttonTexts(box);
        icon = box->icon();
        box->defaultButton()->click();
    });
    QCOMPARE(
        dialogs().message("Atenção", MsgType::Warning, MsgButton::Ok | MsgButton::Cancel, nullptr),
        MsgButton::Ok);
    QCOMPARE(texts, QStringList({"Cancelar", "OK"}));
    QCOMPARE(icon, QMessageBox::Warning);
}

void TestDialogs::messageBoxEscapeGivesTheCautiousAnswer() {
    test::ModalAction esc([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    QCOMPARE(dialogs().message("Excluir?", MsgType::Confirmation, MsgButton::Yes | MsgButton::No,
                               nullptr),
             MsgButton::No);
}

void TestDialogs::errorReportIsCriticalWithCaptionErro() {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    test::ModalAction ok([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    dialogs().error("Empresa não cadastrada.", nullptr);
    QCOMPARE(title, QString("Erro"));
    QCOMPARE(text, QString("Empresa não cadastrada."));
    QCOMPARE(icon, QMessageBox::Critical);
}

// Types a path into the chooser's name field as a user would. selectFile() leaves the field alone
// once it has the focus, which depends on when the window got activated.
static void typeInto(QFileDialog* fd, const QString& path) {
    auto* edit = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(path);
}

void TestDialogs::directoryChooserShowsOnlyDirectories() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkdir("xml"));
    const QString target = tmp.path() + "/xml";

    bool dirsOnly = false, readOnly = true;
    test::ModalAction choose([&](QWidget* modal) {
        auto* fd = qobject_cast<QFileDialog*>(modal);
        QVERIFY(fd);
        dirsOnly =
            fd->testOption(QFileDialog::ShowDirsOnly) && fd->fileMode() == QFileDialog::Directory;
        readOnly = fd->testOption(QFileDialog::ReadOnly);
        typeInto(fd, target);
        static_cast<QDialog*>(fd)->accept();  // QFileDialog::accept through the public base
    });
    const QString got = dialogs().chooseDirectory("Diretório do XML", tmp.path(), true, nullptr);
    QVERIFY(dirsOnly);
    QVERIFY(!readOnly);  // a new directory may be made
    QCOMPARE(QDir(got).canonicalPath(), QDir(target).canonicalPath());

    test::ModalAction cancel([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    QVERIFY(dialogs().chooseDirectory("Diretório", tmp.path(), false, nullptr).isEmpty());

    // A directory typed that does not exist yet is made once the user says yes.
    const QString nova = tmp.path() + "/nova/xml";
    QString pergunta;
    std::unique_ptr<test::ModalAction> resposta;
    test::ModalAction digita([&](QWidget* modal) {
        auto* fd = qobject_cast<QFileDialog*>(modal);
        QVERIFY(fd);
        resposta = std::make_unique<test::ModalAction>([&](QWidget* m) {
            auto* box = qobject_cast<QMessageBox*>(m);
            QVERIFY(box);
            pergunta = box->text();
            box->button(QMessageBox::Yes)->click();
        });
        typeInto(fd, nova);
        static_cast<QDialog*>(fd)->accept();
    });
    const QString criada = dialogs().chooseDirectory("Diretório", tmp.path(), true, nullptr);
    QVERIFY2(pergunta.contains("não existe"), qPrintable(pergunta));
    QVERIFY(QFileInfo(nova).isDir());
    QCOMPARE(QDir(criada).canonicalPath(), QDir(nova).canonicalPath());
}

// The stock texts the system's dialogs and menus take from Qt: the directory chooser's and the
// edit fields' context menu.
void TestDialogs::qtsOwnTextsSpeakPortuguese() {
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    QVERIFY2(host::InstalaTraducoesQt(*QCoreApplication::instance()),
             "qt6-translations-l10n is missing (scripts/install-deps installs it)");
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancelar"));
    QCOMPARE(QCoreApplication::translate("QLineEdit", "&Paste"), QStringLiteral("C&olar"));
    QVERIFY(QCoreApplication::translate("QFileDialog", "Directory:") !=
            QStringLiteral("Directory:"));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"

#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <cstdio>

#include "core/hosterror.h"
#include "core/orvanta.h"
#include "forms/mdihost.h"
#include "ui/dialogs.h"

namespace suite {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Orvanta"));
    resize(1100, 720);

    m_area = new QMdiArea(this);
    m_area->setObjectName(QStringLiteral("mdiPrincipal"));
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_area);
    host::MdiHost::setArea(m_area);

    m_login = new QLabel(this);
    m_login->setObjectName(QStringLiteral("lblLogin"));
    statusBar()->addPermanentWidget(m_login);
    refreshLogin();

    buildMenus();
}

MainWindow::~MainWindow() {
    if (host::MdiHost::area() == m_area) {
        host::MdiHost::setArea(nullptr);
    }
}

const QList<QPair<QString, QString>>& MainWindow::knownModules() {
    static const QList<QPair<QString, QString>> modules = {
        {QStringLiteral("DFE58000"), QStringLiteral("Manifestação do Destinatário")},
        {QStringLiteral("DFE15200"), QStringLiteral("Visualização de Documento")},
        {QStringLiteral("DFE59000"), QStringLiteral("Sincronização de NF-e")},
    };
    return modules;
}

void MainWindow::buildMenus() {
    QMenu* modules = menuBar()->addMenu(QStringLiteral("&Módulos"));
    modules->setObjectName(QStringLiteral("mnuModulos"));
    QAction* open = modules->addAction(QStringLiteral("&Abrir módulo..."));
    open->setObjectName(QStringLiteral("mnuAbrirModulo"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    connect(open, &QAction::triggered, this, [this] { askModuleCode(); });
    modules->addSeparator();
    for (const auto& [code, title] : knownModules()) {
        QAction* a = modules->addAction(code + QStringLiteral(" - ") + title);
        a->setObjectName(QStringLiteral("mnu") + code);
        connect(a, &QAction::triggered, this, [this, c = code] { openModule(c); });
    }
    modules->addSeparator();
    QAction* quit = modules->addAction(QStringLiteral("&Sair"));
    quit->setObjectName(QStringLiteral("mnuSair"));
    quit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu* windows = menuBar()->addMenu(QStringLiteral("&Janela"));
    windows->setObjectName(QStringLiteral("mnuJanela"));
    windows->addAction(QStringLiteral("&Cascata"), m_area, &QMdiArea::cascadeSubWindows);
    windows->addAction(QStringLiteral("&Lado a lado"), m_area, &QMdiArea::tileSubWindows);
    windows->addAction(QStringLiteral("&Fechar todas"), m_area, &QMdiArea::closeAllSubWindows);
}

void MainWindow::askModuleCode() {
    bool ok = false;
    const QString code =
        QInputDialog::getText(this, QStringLiteral("Abrir módulo"),
                              QStringLiteral("Código do módulo:"), QLineEdit::Normal, {}, &ok);
    if (ok && !code.trimmed().isEmpty()) {
        openModule(code.trimmed().toUpper());
    }
}

bool MainWindow::openModule(const QString& code, const QVariant& params) {
    statusBar()->showMessage(QStringLiteral("Abrindo %1...").arg(code));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString failure;
    try {
        host::Orvanta::LoadBPL(code, params);
    } catch (const host::EStop&) {
        // The module showed its own message.
        failure = QStringLiteral("Módulo %1 interrompido.").arg(code);
    } catch (const host::EHostError& e) {
        failure = e.text();
    } catch (const std::exception& e) {
        failure = QStringLiteral("Erro ao abrir o módulo %1: %2")
                      .arg(code, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        failure = QStringLiteral("Erro inesperado ao abrir o módulo %1.").arg(code);
    }
    QApplication::restoreOverrideCursor();
    if (failure.isEmpty()) {
        statusBar()->clearMessage();
        return true;
    }
    reportError(failure);
    return false;
}

void MainWindow::reportError(const QString& text) {
    statusBar()->showMessage(text);
    if (m_errorsToStderr || m_quietErrors) {
        std::fprintf(stderr, "orvanta: %s\n", qUtf8Printable(text));
        std::fflush(stderr);
    }
    if (!m_quietErrors) {
        host::dialogs().error(text, this);
    }
}

QString MainWindow::loginSummary() const {
    const host::LoginContext& c = host::Orvanta::context();
    const QString server = c.webPort > 0 ? QStringLiteral("%1:%2").arg(c.webUrl).arg(c.webPort)
                                         : QStringLiteral("nenhum");
    return QStringLiteral("Empresa %1   Filial %2   Operador %3   Data %4   Servidor %5")
        .arg(c.empresa, c.filial, c.operador,
             QLocale().toString(host::Orvanta::DataProc(c.filial), QLocale::ShortFormat), server);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    m_area->closeAllSubWindows();
    for (QMdiSubWindow* sub : m_area->subWindowList()) {
        if (sub->isVisible()) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

void MainWindow::refreshLogin() {
    m_login->setText(loginSummary());
}

}  // namespace suite

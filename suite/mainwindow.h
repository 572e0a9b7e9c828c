#pragma once

#include <QMainWindow>
#include <QVariant>

class QLabel;
class QMdiArea;

namespace suite {

// The suite's main window: the MDI area the modules open their screens in, the "Módulos" menu
// and the login context in the status bar.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    QMdiArea* mdiArea() const { return m_area; }

    // Opens a module through the loader. A failure is reported (dialog, and stderr when asked)
    // and the program goes on; returns whether the module started.
    bool openModule(const QString& code, const QVariant& params = {});

    // Errors also go to stderr (the program is driven from a script).
    void setErrorsToStderr(bool on) { m_errorsToStderr = on; }
    // Errors are not shown in a dialog, only in the status bar and on stderr (screenshots).
    void setQuietErrors(bool on) { m_quietErrors = on; }

    // The text of the status bar's login part, refreshed from the login context.
    QString loginSummary() const;
    void refreshLogin();

    // The codes the "Módulos" menu offers, with their titles.
    static const QList<QPair<QString, QString>>& knownModules();

  protected:
    // The screens are closed first, each through its own close handling; one that refuses
    // keeps the program open.
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildMenus();
    void askModuleCode();
    void reportError(const QString& text);

    QMdiArea* m_area = nullptr;
    QLabel* m_login = nullptr;
    bool m_errorsToStderr = false;
    bool m_quietErrors = false;
};

}  // namespace suite

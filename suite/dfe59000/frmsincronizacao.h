#pragma once

#include <QWidget>

class QLabel;

namespace dfe59000 {

struct SyncSummary;

// What the synchronisation did, left open once the work is over: the registration and company
// it ran for, and how many notes became synchronised, became not in the system or kept their
// group; or why it did not run or was undone.
class FrmSincronizacao : public QWidget {
    Q_OBJECT

  public:
    explicit FrmSincronizacao(QWidget* parent = nullptr);

    // registration: as typed (shown with its mask when it has the length of a CNPJ or CPF).
    void setSubject(const QString& company, const QString& registration);
    void showSummary(const SyncSummary& summary, qint64 elapsedMs);
    void showFailure(const QString& text);

  private:
    QLabel* addCount(const QString& label, const char* name);

    QLabel* m_subject = nullptr;
    QLabel* m_result = nullptr;
    QWidget* m_counts = nullptr;
    QLabel* m_synchronised = nullptr;
    QLabel* m_notInSystem = nullptr;
    QLabel* m_unchanged = nullptr;
    QLabel* m_examined = nullptr;
};

}  // namespace dfe59000

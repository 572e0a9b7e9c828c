#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;

namespace dfe15200 {

struct BookedEntry;

// The document-viewing window: the booked entry of one branch and entry number, or a message
// saying why there is nothing to show.
class FrmVisualizacao : public QWidget {
    Q_OBJECT

  public:
    explicit FrmVisualizacao(QWidget* parent = nullptr);

    void showEntry(const BookedEntry& entry);
    // Hides the document's fields and shows the text instead (not found, bad parameters, a
    // database that cannot answer).
    void showMessage(const QString& text);

  private:
    QLabel* addValue(const QString& label, const char* name);

    QLabel* m_heading = nullptr;
    QLabel* m_message = nullptr;
    QGroupBox* m_document = nullptr;
    QLabel* m_issuerRegistration = nullptr;
    QLabel* m_issuerName = nullptr;
    QLabel* m_number = nullptr;
    QLabel* m_series = nullptr;
    QLabel* m_issued = nullptr;
    QLabel* m_entered = nullptr;
    QLabel* m_value = nullptr;
    QLineEdit* m_accessKey = nullptr;
};

}  // namespace dfe15200

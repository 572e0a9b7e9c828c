#pragma once

#include <QLineEdit>

namespace host {

// A right-aligned edit for a number shown with a display format ("#,##0.00" by default): in
// pt_BR 1234.5 shows as "1.234,50". Typing accepts digits, the decimal comma, the minus sign
// and the group dots of a shown value; the keypad's decimal key gives a comma. The text is
// formatted again when the edit is left.
class TNumberEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit TNumberEdit(QWidget* parent = nullptr);

    // '#' optional digit, '0' required digit, ',' grouping, '.' the decimal point, as the old
    // format strings are written ("#,##0.00", "###0.00", "0").
    const QString& DisplayFormat() const { return m_format; }
    void SetDisplayFormat(const QString& format);

    // The number typed; an empty edit is 0. A text that is not a number raises EHostError.
    double Value() const;
    void SetValue(double value);
    bool IsEmpty() const { return text().trimmed().isEmpty(); }

    // The value formatted with a display format in the current locale.
    static QString FormatNumber(double value, const QString& format);
    // A number typed in the current locale ("1.234,5", "-3", "0,25"); ok false when it is not.
    static double ParseNumber(const QString& text, bool* ok);

  signals:
    void changed();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void reformat();
    QString m_format = QStringLiteral("#,##0.00");
};

}  // namespace host

#pragma once

#include <QDate>
#include <QLineEdit>

class QCalendarWidget;
class QFrame;
class QLabel;

namespace host {

// A date edit that may be empty: typed as dd/MM/yyyy over a mask, or chosen in a calendar that
// drops down from the button at its right end. A valid date is drawn in blue, and its weekday
// ("Domingo" ... "Sábado") is shown in the tooltip and above the calendar.
class TDateEditPlus : public QLineEdit {
    Q_OBJECT

  public:
    explicit TDateEditPlus(QWidget* parent = nullptr);

    // The date typed; an invalid QDate when the edit is empty or holds no real date. A year of
    // two digits ("05/03/26") is read as 20yy.
    QDate Date() const;
    // An invalid date empties the edit.
    void SetDate(const QDate& date);
    bool IsEmpty() const;
    void Clear() { SetDate(QDate()); }
    // The text as typed, "" when empty.
    QString Text() const;

    // Raises EHostError when the edit holds something that is not a date; empty passes.
    void CheckValidDate() const;

    QColor ValidDateColor() const { return m_validColor; }
    void SetValidDateColor(const QColor& c);

    static QString WeekdayName(const QDate& date);

    // The drop-down calendar (created on first use).
    void ShowCalendar();
    QCalendarWidget* Calendar() const { return m_calendar; }

  signals:
    void changed();

  private:
    void updateLook();

    QColor m_validColor = QColor(0, 0, 255);
    QColor m_textColor;
    QFrame* m_popup = nullptr;
    QCalendarWidget* m_calendar = nullptr;
    QLabel* m_weekday = nullptr;
};

}  // namespace host

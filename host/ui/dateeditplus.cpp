#include "ui/dateeditplus.h"

#include <QAction>
#include <QCalendarWidget>
#include <QFrame>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "core/hosterror.h"

namespace host {

namespace {
const QChar kBlank = QLatin1Char('_');
}

TDateEditPlus::TDateEditPlus(QWidget* parent) : QLineEdit(parent) {
    setInputMask(QStringLiteral("00/00/0000;_"));
    m_textColor = palette().color(QPalette::Text);
    QAction* drop =
        addAction(style()->standardIcon(QStyle::SP_ArrowDown), QLineEdit::TrailingPosition);
    drop->setObjectName(QStringLiteral("actCalendario"));
    drop->setToolTip(QStringLiteral("Calendário"));
    connect(drop, &QAction::triggered, this, &TDateEditPlus::ShowCalendar);
    connect(this, &QLineEdit::textChanged, this, [this] {
        updateLook();
        emit changed();
    });
    updateLook();
}

bool TDateEditPlus::IsEmpty() const {
    for (const QChar c : displayText()) {
        if (c.isDigit()) {
            return false;
        }
    }
    return true;
}

QString TDateEditPlus::Text() const {
    return IsEmpty() ? QString() : displayText();
}

QDate TDateEditPlus::Date() const {
    if (IsEmpty()) {
        return QDate();
    }
    const QStringList parts = displayText().split(QLatin1Char('/'));
    if (parts.size() != 3) {
        return QDate();
    }
    auto number = [](QString s, int digits, bool* ok) {
        s.remove(kBlank);
        s = s.trimmed();
        *ok = s.size() == digits;
        return *ok ? s.toInt(ok) : 0;
    };
    bool okD = false, okM = false, okY = false;
    const int d = number(parts[0], 2, &okD);
    const int m = number(parts[1], 2, &okM);
    int y = number(parts[2], 4, &okY);
    if (!okY) {
        y = number(parts[2], 2, &okY);
        if (okY) {
            y += 2000;
        }
    }
    if (!okD || !okM || !okY) {
        return QDate();
    }
    return QDate(y, m, d);  // invalid (QDate::isValid false) for 31/02 and the like
}

void TDateEditPlus::SetDate(const QDate& date) {
    if (date.isValid()) {
        setText(date.toString(QStringLiteral("dd/MM/yyyy")));
    } else {
        setText(QString());
    }
}

void TDateEditPlus::CheckValidDate() const {
    if (IsEmpty()) {
        return;
    }
    if (!Date().isValid()) {
        throw EHostError(QStringLiteral("Data inválida: %1.").arg(displayText()));
    }
}

void TDateEditPlus::SetValidDateColor(const QColor& c) {
    m_validColor = c;
    updateLook();
}

QString TDateEditPlus::WeekdayName(const QDate& date) {
    static const char* const kNames[] = {"Segunda", "Terça",  "Quarta", "Quinta",
                                         "Sexta",   "Sábado", "Domingo"};
    if (!date.isValid()) {
        return QString();
    }
    return QString::fromUtf8(kNames[date.dayOfWeek() - 1]);
}

void TDateEditPlus::updateLook() {
    const QDate d = Date();
    QPalette pal = palette();
    pal.setColor(QPalette::Text, d.isValid() ? m_validColor : m_textColor);
    setPalette(pal);
    setToolTip(d.isValid() ? WeekdayName(d) : QString());
}

void TDateEditPlus::ShowCalendar() {
    if (!isEnabled() || isReadOnly()) {
        return;
    }
    if (!m_popup) {
        m_popup = new QFrame(this, Qt::Popup);
        m_popup->setObjectName(QStringLiteral("frmCalendario"));
        m_popup->setFrameShape(QFrame::StyledPanel);
        auto* layout = new QVBoxLayout(m_popup);
        layout->setContentsMargins(2, 2, 2, 2);
        m_weekday = new QLabel(m_popup);
        m_weekday->setAlignment(Qt::AlignCenter);
        m_calendar = new QCalendarWidget(m_popup);
        m_calendar->setGridVisible(true);
        m_calendar->setFirstDayOfWeek(Qt::Sunday);
        m_calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
        layout->addWidget(m_weekday);
        layout->addWidget(m_calendar);
        connect(m_calendar, &QCalendarWidget::selectionChanged, this,
                [this] { m_weekday->setText(WeekdayName(m_calendar->selectedDate())); });
        connect(m_calendar, &QCalendarWidget::clicked, this, [this](QDate d) {
            SetDate(d);
            m_popup->hide();
            setFocus(Qt::PopupFocusReason);
        });
        connect(m_calendar, &QCalendarWidget::activated, this, [this](QDate d) {
            SetDate(d);
            m_popup->hide();
            setFocus(Qt::PopupFocusReason);
        });
    }
    const QDate d = Date();
    m_calendar->setSelectedDate(d.isValid() ? d : QDate::currentDate());
    m_weekday->setText(WeekdayName(m_calendar->selectedDate()));
    m_popup->adjustSize();
    m_popup->move(mapToGlobal(QPoint(0, height())));
    m_popup->show();
    m_calendar->setFocus(Qt::PopupFocusReason);
}

}  // namespace host

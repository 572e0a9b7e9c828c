#pragma once

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

// The authority keeps Brasília's civil time, whatever zone the server's machine is set to: the
// deadlines, the key's year, the 90-day window, the hourly download window and the times written
// into events and documents all read one clock, which tests replace with a fixed one.
namespace dfe58000 {

// America/Sao_Paulo; UTC-03:00 when the machine has no zone database (the zone has kept that
// offset all year since 2019).
const QTimeZone& brasiliaZone();

// A moment as Brasília's wall clock shows it. A value with no zone of its own (Qt::LocalTime,
// as read back from the database or built from a date and a time) is taken to be that wall
// clock already; any other is converted.
QDateTime inBrasilia(const QDateTime& moment);

class Clock {
  public:
    virtual ~Clock() = default;
    // The current moment, in Brasília's zone.
    virtual QDateTime now() const;
    // Brasília's date now.
    QDate today() const { return now().date(); }
};

// A clock standing at one moment until moved: what the rules are tested with.
class FixedClock : public Clock {
  public:
    explicit FixedClock(const QDateTime& moment) : m_now(inBrasilia(moment)) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& moment) { m_now = inBrasilia(moment); }
    void advanceSecs(qint64 secs) { m_now = m_now.addSecs(secs); }

  private:
    QDateTime m_now;
};

}  // namespace dfe58000

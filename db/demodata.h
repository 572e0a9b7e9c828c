#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace companydb {

// Deterministic pseudo-random numbers (splitmix64) for demo data: the same seed gives the same
// rows on every machine and compiler, which std:: distributions do not promise.
class DemoRandom {
  public:
    explicit DemoRandom(quint64 seed) : m_state(seed) {}
    quint64 next();
    int below(int n);             // 0 .. n-1
    int between(int lo, int hi);  // lo .. hi inclusive
    bool chance(int percent);     // true in about percent% of the calls
    const QString& pick(const QStringList& list);
    QString digits(int count);  // decimal digits, leading zeros allowed

  private:
    quint64 m_state;
};

// Seed of the company demo data; other demo generators use seeds of their own.
constexpr quint64 kCompanyDemoSeed = 58000;

// Fills the company tables of a freshly created schema: companies 01 to 03 with their legal and
// state registrations, branches, series, 200 clients, 200 suppliers and the operation types.
// Raises host::EDatabaseError when an insert fails.
void insertCompanyDemoData(QSqlDatabase& db);

}  // namespace companydb

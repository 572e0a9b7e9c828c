#pragma once

#include <QString>
#include <functional>

namespace host {
class DatabaseModule;
}

namespace dfe59000 {

// The legal registration as stored: upper case, only the characters 0-9 and A-Z (the mask's
// dots, slash and dash and any blanks dropped).
QString plainRegistration(const QString& text);

// What a synchronisation changed, counted per note.
struct SyncSummary {
    int examined = 0;        // notes of groups 1, 2, 3 (or none) of the registration
    int synchronised = 0;    // became synchronised (group 2) from another group
    int notInSystem = 0;     // became not in the system (group 1) from another group
    int unchanged = 0;       // kept their group
    int bookingUpdated = 0;  // of the unchanged, those whose entry, branch or date were renewed
};

// Matches the addressed notes of one company and legal registration (NOTADEST) with the
// company's booked entries (LANCTONF) by access key. A note with an entry becomes synchronised:
// group 2 (a note already in 2 or 3 keeps its group) with the entry's number, branch and date;
// a note without one becomes not in the system, group 1, with those fields cleared. Notes
// being imported or not at the authority (groups 4 to 7) are not touched.
//
// Everything runs in one transaction on the module's connection: any failure rolls it back and
// raises host::EDatabaseError saying nothing was changed. The notes are read once (progress
// hears (0, -1) just before); the updates go out a batch of keys per statement, and
// progress(done, total) hears of each batch.
class Synchroniser {
  public:
    Synchroniser(host::DatabaseModule& db, QString company, QString registration);

    std::function<void(int done, int total)> progress;
    // Keys per update statement.
    int batchSize = 400;

    SyncSummary run();

  private:
    host::DatabaseModule& m_db;
    QString m_company;
    QString m_registration;
};

}  // namespace dfe59000

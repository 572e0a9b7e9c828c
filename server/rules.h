#pragma once

#include <QDate>
#include <QList>
#include <QString>

// The national rules the simulated tax authority follows, and the server's own deadline rules,
// in one table: a rule change is an edit here and nowhere else.
namespace dfe58000::rules {

// One manifestation event as the module codes it ("1".."4") and as the authority knows it.
struct EventRule {
    QString moduleCode;  // "1" Confirmação, "2" Desconhecimento, "3" Não Realizada, "4" Ciência
    int tpEvento;        // 210200, 210220, 210240, 210210
    QString description;  // name shown to the user
    QString descEvento;   // schema text, no accents
    QString xEvento;      // text of the authority's answer
    bool conclusive;      // Ciência is the only non-conclusive one
    bool justificationRequired;
    bool justificationAllowed;
    int maxSequence;  // events of this type the authority accepts per NF-e
};

const QList<EventRule>& events();
// The rule of a module code ("1".."4"); nullptr for any other text.
const EventRule* eventByModuleCode(const QString& code);
const EventRule* eventByTpEvento(int tpEvento);

// Justification of an event (xJust): 15 to 255 characters, each from U+0020 to U+00FF, the first
// and the last not a blank. A text outside that (a line break or tab from a memo, typographic
// dashes and quotes, the euro sign) fails the event's layout (493); one inside it is archived
// exactly as sent.
constexpr int kJustificationMin = 15;
constexpr int kJustificationMax = 255;
bool justificationFitsLayout(const QString& text);

// Deadlines in calendar days counted from the NF-e's authorisation. The conclusive deadline
// changed on 2026-06-01 (180 days before, 90 since); the one in force on the day the event is
// sent applies.
constexpr int kCienciaDeadlineDays = 10;
constexpr int kConclusiveDeadlineDays = 90;
constexpr int kConclusiveDeadlineDaysBefore = 180;
inline const QDate kConclusiveDeadlineChange{2026, 6, 1};
int conclusiveDeadlineDays(const QDate& onDate);
// Last day on which a conclusive event for a note authorised on authorised is accepted, with
// the rule in force on today.
QDate conclusiveDeadline(const QDate& authorised, const QDate& today);

// The server's own warning rule for the note query (not the authority's). A note still open for
// a conclusive manifestation (situation 0 Sem Manifestação, 4 Ciência or 5 Rejeitada) and whose
// NF-e is not cancelled or denied (0 or 1) is
//   - "to be manifested now" (packet [4]) when at most kManifestNowBusinessDays business days
//     are left before its conclusive deadline, the deadline day included;
//   - "near the deadline" (packet [3]) when more than that, but at most
//     kNearDeadlineBusinessDays, are left.
// A note past its deadline can no longer be manifested and is in neither set. Business days are
// Monday to Friday; holidays are not counted out.
constexpr int kManifestNowBusinessDays = 5;
constexpr int kNearDeadlineBusinessDays = 15;

enum class DeadlineClass { None, Near, Now };
// Business days from today (exclusive) up to and including deadline; 0 when deadline is today
// or a weekend day with no business day left, negative when it has passed.
int businessDaysLeft(const QDate& today, const QDate& deadline);
DeadlineClass classifyDeadline(const QString& statusNFe, const QString& statusManif,
                               const QDate& authorised, const QDate& today);

// Rejections and answers of the authority: code and text exactly as the technical notes give.
struct Status {
    int cStat;
    QString xMotivo;
};
const QList<Status>& statuses();
// Text of a status code; throws host::EProgrammingError for a code not in the table.
QString motivo(int cStat);
// "cStat - xMotivo", as the rejected-notes list shows it.
QString describe(int cStat);
// The text of 596 with the deadline in force filled in ("... fora do prazo: 10 dias").
inline constexpr int kOutOfDeadline = 596;
QString outOfDeadlineMotivo(int deadlineDays);

// Hourly limit of XML downloads per legal registration, shared by every client.
constexpr int kDownloadsPerHour = 20;
// Only documents authorised within this many days are served.
constexpr int kDownloadMaxAgeDays = 90;

}  // namespace dfe58000::rules

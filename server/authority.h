#pragma once

#include <QDateTime>
#include <QString>

#include "rules.h"
#include "store.h"

// The tax authority behind the server, behind one interface so that a real one (a web-service
// client of the national environment) can take the simulation's place.
namespace dfe58000 {

struct EventRequest {
    QString accessKey;
    QString author;  // CNPJ or CPF of the recipient sending the event
    const rules::EventRule* rule = nullptr;
    QString justification;
    QString operatorCode;
    QDateTime when;  // dhEvento: the moment it was sent, by the store's clock
};

struct EventResult {
    int cStat = 0;
    QString xMotivo;
    bool registered = false;  // 135 or 136
    int sequence = 0;
    QString protocol;
    // From the note, for the rejected-notes list.
    QString issuerRegistration;
    QString issuerName;
};

class TaxAuthority {
  public:
    virtual ~TaxAuthority() = default;
    // Sends one event. A registered event is archived and the note updated in one transaction
    // on the store; a rejected one leaves the note untouched.
    virtual EventResult sendEvent(Store& store, const EventRequest& request) = 0;
};

// Follows the rules of rules.h against the notes of the store. One client at a time decides about
// a key (the database's write lock, or a lock on the key), so two clients sending the same event
// at once register it once and the other gets 573; the key of the registered events backs that.
class SimulatedAuthority : public TaxAuthority {
  public:
    EventResult sendEvent(Store& store, const EventRequest& request) override;
};

}  // namespace dfe58000

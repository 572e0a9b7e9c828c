#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

#include "clock.h"
#include "companydb.h"
#include "core/fielddef.h"
#include "core/packet.h"
#include "sql/databasemodule.h"

class QSqlError;
class QSqlQuery;

namespace dfe58000 {
class SqliteRows;
}

// The application server's store in the company database: the notes addressed to the
// companies, the events sent for them, the XML documents and the download log. Installed and
// versioned as the companydb component "DFE58000", on SQLite and PostgreSQL alike.
namespace dfe58000 {

inline constexpr char kComponentName[] = "DFE58000";

// One addressed note: the 31 fields the client's list shows, in packet order, and the columns
// the server keeps beside them to answer the query (who issued it, its operation type, its
// number as an integer).
struct NoteRecord {
    QString IDMARCADO = QStringLiteral("N");
    QString CDFILIALORIG;
    QString CDEMPRESA;
    QString NRINSJURNFORIG;
    QString NMRAZSOCEMIT;
    QString NRNOTAFISC;
    QDateTime DTENTRSAID;
    QDateTime DTEMISSAO;
    QString CDSERIE;
    QString IDSTATUSNFE;
    QString IDSTATUSMANIF;
    QString IDTIPOINCL;
    QString IDTIPOEVENTO;
    QString IDAMBIENTEMANIF;
    QDateTime DTHREVENTO;
    QString NRSEQEVENTO;
    QString DSCORRECAONFE;
    QString DSOBSSTATUSMANIF;
    QString CDFILIAL;
    QString NRLANCTONF;
    QString NRINSJURNF;
    QString IDENTRSAIDNF;
    QString IDENTRSAIDOP;
    QString NRACESSONF;
    QString IDNOTA;
    QString IDARQXMLNFE;
    QString NRACESSOINTG;
    double VRNOTAFISC = 0;
    QDateTime DTRECBTO;
    QString NRINSJURIESTDEST;
    QString CDINSCESTADEST;

    // Server-side columns.
    QString IDORIGEMIT;    // issuer kind: "C" client, "F" supplier, "L" branch of the group
    QString CDEMITENTE;    // CDCLIENTE, CDFORNECED or CDFILIAL of the issuer
    QString CDTIPOOPER;    // operation type (TIPOOPERAC)
    QString IDTPIJUREMIT;  // "J" or "F"
};

// The note record's packet layout: 31 fields, in order, with their types and sizes.
const QList<host::FieldDef>& noteFields();
// The values of a note in that order (null for an empty date).
QVariantList noteValues(const NoteRecord& note);

// The schema component, with its demo-data generator.
const companydb::SchemaComponent& storeSchema();

// Criteria of the note query, already checked. An unset optional (or an empty text or list)
// places no restriction.
struct NoteFilter {
    QString company;
    std::optional<QStringList> statusNFe;    // IDSTATUSNFE codes
    std::optional<QStringList> statusManif;  // IDSTATUSMANIF codes
    std::optional<QStringList> idNota;       // IDNOTA codes
    std::optional<qint64> noteFrom;
    std::optional<qint64> noteTo;
    QString accessKey;
    QString branch;
    QString series;
    QString issuerKind;
    QString issuerCode;
    QStringList operTypes;
    QString direction;
    QString stateRegistration;
    QString legalRegistration;
    QDate issuedFrom;  // required
    QDate issuedTo;    // required
};

// What the store tells of each note it writes (see Store::writeNotes): where its row lies in
// the writer, and the values the deadline rules read.
struct WrittenNote {
    qsizetype from = 0;  // PacketWriter::position() before and after the row
    qsizetype to = 0;
    QString statusNFe;    // IDSTATUSNFE
    QString statusManif;  // IDSTATUSMANIF
    QDate authorised;     // date of DTRECBTO; invalid when null
};

struct Registration {
    QString number;      // NRINSJURIEST
    QString personType;  // IDTPIJURIEST
};

// What the event and document rules read of the note of an access key (the first company's,
// should two companies hold the same key).
struct StoredNote {
    bool found = false;
    QString company;
    QString statusNFe;     // IDSTATUSNFE
    QString statusManif;   // IDSTATUSMANIF
    QString xmlAvailable;  // IDARQXMLNFE
    QString recipient;     // NRINSJURIESTDEST
    QString issuerRegistration;
    QString issuerName;
    QDate authorised;     // date of DTRECBTO
    QString environment;  // IDAMBIENTEMANIF
};

// What an NF-e document is built from: the note's own columns, as stored.
struct NoteDocumentRow {
    bool found = false;
    QString issuer;        // NRINSJURNFORIG
    QString personType;    // IDTPIJUREMIT
    QString issuerName;    // NMRAZSOCEMIT
    QDateTime issued;      // DTEMISSAO
    QDateTime authorised;  // DTRECBTO
    double value = 0;
    QString recipient;    // NRINSJURIESTDEST
    QString recipientIe;  // CDINSCESTADEST
    QString direction;    // IDENTRSAIDNF
    QString environment;  // IDAMBIENTEMANIF
};

// One line of the event log (EVENTONFE): every event sent, registered or rejected.
struct EventLogRow {
    QString company;  // "--" when no note of the store has the key
    QString key;
    int tpEvento = 0;
    int sequence = 0;
    QString author;
    QDateTime sentAt;
    QDateTime registeredAt;  // invalid when rejected
    int cStat = 0;
    QString xMotivo;
    QString protocol;
    QString justification;
    QString xml;  // the archived procEventoNFe; empty when rejected
    QString operatorCode;
};

// One connection to the company database and the statements of the store. Not shared between
// threads: each worker thread of the server owns one.
class Store {
  public:
    // Opens a connection of its own to an existing database (companydb::ensureDatabase makes
    // it). Raises host::EDatabaseError when it cannot.
    explicit Store(const QString& url);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    host::SqlDialect dialect() const { return m_dialect; }
    QSqlDatabase& database() { return m_db; }
    // false when the connection to a database server no longer works (the server restarted,
    // the session was ended): the store must then be opened again. Asks the server on
    // PostgreSQL; an SQLite file has no connection to lose.
    bool connectionWorks();

    bool companyExists(const QString& company);
    QList<Registration> registrations(const QString& company);
    bool hasStateRegistration(const QString& company, const QString& stateRegistration);

    // Matching notes, ordered by issuer name, issue date and value, each written as one row
    // to a packet writer of noteFields() as the query reads it (no note is held in between);
    // written() hears of every row just after it is written. Returns the number of notes.
    qsizetype writeNotes(const NoteFilter& filter, host::PacketWriter& w,
                         const std::function<void(const WrittenNote&)>& written = {});
    // The same notes, each as the 31 values of the note record.
    QList<QVariantList> queryNotes(const NoteFilter& filter);
    // On SQLite the note query reads the file with SQLite's own interface (see SqliteRows);
    // off, it goes through the Qt driver as on PostgreSQL. Both write the same packets.
    void setNativeReads(bool on) { m_nativeReads = on; }

    void insertNote(const NoteRecord& note);
    int noteCount(const QString& company = QString());

    // The clock the rules read (Brasília's time by default); replaced by tests.
    const Clock& clock() const { return *m_clock; }
    void setClock(std::shared_ptr<const Clock> clock) { m_clock = std::move(clock); }
    // The SQLite file behind the store; empty on PostgreSQL or in memory.
    QString databaseFile() const;

    // One write transaction, open from construction to commit(); rolled back when it goes out of
    // scope uncommitted. On SQLite it takes the write lock at once, so two writers queue
    // instead of one failing midway.
    class Transaction {
      public:
        explicit Transaction(Store& store);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit();
        // Undoes everything so far and opens a fresh transaction.
        void restart();

      private:
        void begin();
        Store& m_store;
        bool m_open = false;
    };
    // Runs one unit's writes inside the open transaction under a savepoint, so that when they
    // fail only they are undone. Returns the failure's text, empty when they succeed.
    QString inSavepoint(const std::function<void()>& writes);

    // Events. Everything about one key is decided by one client at a time: SQLite's write lock
    // already serialises the whole transaction, on PostgreSQL lockKey takes a lock on the key
    // held to its end.
    void lockKey(const QString& key);
    int registeredEventCount(const QString& key, int tpEvento);
    // The conclusive event that prevails for the key: the last one registered (0 when none).
    int conclusiveInForce(const QString& key);
    // The next number of the protocol sequence, drawn inside the open transaction: every
    // connection and server process gets its own, and a rolled back event gives it back.
    qint64 nextProtocolNumber();
    bool protocolTaken(const QString& protocol);
    // Registers an event. false when the database refused it for its key (the same event
    // registered a moment ago by another client); the transaction is then restarted. Any other
    // failure restarts it too and raises EDatabaseError.
    bool insertRegisteredEvent(Transaction& tx, const QString& key, int tpEvento, int sequence,
                               const QString& protocol, qint64 order);
    void logEvent(const EventLogRow& row);
    // The recipient's notes of the key after a registered event. A Ciência (not conclusive)
    // never takes the place of a conclusive situation.
    void markManifested(const QString& key, const QString& recipient, const QString& moduleCode,
                        bool conclusive, const QDateTime& when, int sequence);
    // The recipient's notes of the key with no registered manifestation show as rejected, with
    // the reason.
    void markRejected(const QString& key, const QString& recipient, const QString& remark);

    // The note of a key; when the key is stored for several companies, the one whose recipient
    // is recipient comes first, then by company.
    StoredNote noteByKey(const QString& key, const QString& recipient = {});

    // Documents.
    bool legalRegistrationExists(const QString& registration);
    NoteDocumentRow noteForDocument(const QString& key);
    // Keeps the document generated for a key, in place of an earlier one.
    void archiveDocument(const QString& key, const QDateTime& generatedAt, const QString& xml);
    void markXmlAvailable(const QString& key);
    // The hourly download log of a legal registration: on PostgreSQL lockRegistration
    // serialises the accounting of one registration to the end of the transaction.
    void lockRegistration(const QString& registration);
    int downloadsSince(const QString& registration, const QDateTime& since, bool limited);
    void logDownload(const QString& registration, const QDateTime& when, const QString& key,
                     const QString& status, const QString& operatorCode);
    void markDownloadFailed(const QString& registration, const QDateTime& when, const QString& key);

  private:
    // The note query through the Qt driver, prepared once per distinct SQL and executed with its
    // values bound; the caller reads it forward and finishes it.
    QSqlQuery& execNoteQuery(const QString& sql, const QVariantList& binds);

    QSqlDatabase m_db;
    std::unique_ptr<QSqlQuery> m_notesQuery;
    QString m_notesSql;
    std::unique_ptr<SqliteRows> m_native;
    bool m_nativeReads = true;
    QString m_path;  // SQLite
    QString m_connection;
    host::SqlDialect m_dialect;
    std::shared_ptr<const Clock> m_clock = std::make_shared<Clock>();
};

// Date-time values as both databases store them: text "yyyy-MM-dd HH:mm:ss.zzz", Brasília's wall
// clock (a value with a zone is converted, one without is taken as it is), null for an invalid
// value; and back from what a driver returns, as a value without a zone.
QVariant dbDateTime(const QDateTime& dt);
QDateTime fromDbDateTime(const QVariant& v);

// Prepares, binds (in order) and runs a statement; EDatabaseError "what: driver's text" when
// any step fails.
QSqlQuery runSql(QSqlDatabase& db, const QString& sql, const QVariantList& binds,
                 const QString& what);

// Inserts one note on an open connection (the store and the demo generator).
void insertNoteInto(QSqlDatabase& db, const NoteRecord& note);

// What the demo generator leaves behind each note it shows with a manifestation (situations 1
// to 4). Either way the event is registered (EVENTOREG, its protocol drawn from SEQPROTOCOLO)
// and logged (EVENTONFE) as the authority would have left it, so the rules see it: a Ciência
// after a demo Confirmação is 655, the same Confirmação again 573.
enum class DemoEvents {
    Archived,        // also the signed procEventoNFe in EVENTONFE: one signature per event
    RegisteredOnly,  // no archived document, nothing signed: large stores for measurements
};

// Demo notes for the demo companies (storedemo.cpp); today fixes the spread of the dates.
void insertDemoNotes(QSqlDatabase& db, host::SqlDialect dialect, int count, const QDate& today,
                     DemoEvents events);

}  // namespace dfe58000

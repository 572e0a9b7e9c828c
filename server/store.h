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

#include "companydb.h"
#include "core/clientdataset.h"
#include "core/packet.h"
#include "sql/databasemodule.h"

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
};

// Date-time values as both databases store them: text "yyyy-MM-dd HH:mm:ss.zzz" (naive local
// time), null for an invalid value; and back from what a driver returns.
QVariant dbDateTime(const QDateTime& dt);
QDateTime fromDbDateTime(const QVariant& v);

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
    QDate authorised;  // date of DTRECBTO
};
// The note of a key; when the key is stored for several companies, the one whose recipient is
// recipient comes first, then by company.
StoredNote findNoteByKey(QSqlDatabase& db, const QString& key, const QString& recipient = {});

// Prepares, binds (in order) and runs a statement; EDatabaseError "what: driver's text" when
// any step fails.
QSqlQuery runSql(QSqlDatabase& db, const QString& sql, const QVariantList& binds,
                 const QString& what);

// Inserts one note on an open connection (the store and the demo generator).
void insertNoteInto(QSqlDatabase& db, const NoteRecord& note);

// Demo notes for the demo companies (storedemo.cpp); today fixes the spread of the dates.
void insertDemoNotes(QSqlDatabase& db, host::SqlDialect dialect, int count, const QDate& today);

}  // namespace dfe58000

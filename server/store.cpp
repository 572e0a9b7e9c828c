#include "store.h"

#include "notarecord.h"

#include "sqliterows.h"

#include <QAtomicInt>
#include <QSqlError>
#include <QSqlQuery>

#include "core/hosterror.h"

namespace dfe58000 {

using host::EDatabaseError;
using host::FieldDef;
using host::FieldType;
using host::SqlDialect;

const QList<FieldDef>& noteFields() {
    return rdmManifestacao::noteRecordFields();
}

namespace {

QVariant dt(const QDateTime& v) {
    return v.isValid() ? QVariant(v) : QVariant();
}

// Server-side columns stored after the 31 of the record.
const QStringList kExtraColumns = {QStringLiteral("IDORIGEMIT"), QStringLiteral("CDEMITENTE"),
                                   QStringLiteral("CDTIPOOPER"), QStringLiteral("IDTPIJUREMIT"),
                                   QStringLiteral("NRNOTANUM")};

QString noteColumnList() {
    QStringList names;
    for (const FieldDef& f : noteFields()) {
        names << f.name;
    }
    return names.join(QStringLiteral(", "));
}

[[noreturn]] void fail(const QSqlQuery& q, const QString& what) {
    throw EDatabaseError(QStringLiteral("%1: %2").arg(what, q.lastError().text().trimmed()));
}

QString uniqueConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("dfe58000_store_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

char16_t unitAt(QStringView s, qsizetype i) {
    return s[i].unicode();
}

char16_t unitAt(QByteArrayView s, qsizetype i) {
    return uchar(s[i]);
}

// "yyyy-MM-dd HH:mm:ss" with an optional ".zzz"; false for anything else. The text as the
// Qt driver gives it or as SQLite keeps it (UTF-8).
template <typename View>
bool parseStoredParts(View s, QDate& date, QTime& time) {
    if (s.size() != 19 && s.size() != 23) {
        return false;
    }
    auto number = [&](int from, int width) {
        int v = 0;
        for (int i = from; i < from + width; ++i) {
            const char16_t c = unitAt(s, i);
            if (c < u'0' || c > u'9') {
                return -1;
            }
            v = v * 10 + (c - u'0');
        }
        return v;
    };
    if (unitAt(s, 4) != u'-' || unitAt(s, 7) != u'-' || unitAt(s, 10) != u' ' ||
        unitAt(s, 13) != u':' || unitAt(s, 16) != u':' ||
        (s.size() == 23 && unitAt(s, 19) != u'.')) {
        return false;
    }
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    const int ms = s.size() == 23 ? number(20, 3) : 0;
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 || ms < 0) {
        return false;
    }
    date = QDate(year, month, day);
    time = QTime(hour, minute, second, ms);
    return date.isValid() && time.isValid();
}

QDateTime parseStoredDateTime(QStringView s) {
    QDate date;
    QTime time;
    if (!parseStoredParts(s, date, time)) {
        return {};
    }
    return QDateTime(date, time);
}

// The type of each field of the note record, looked up once per cell as the rows are written.
constexpr int kNoteFieldCount = 31;

struct NoteSlots {
    FieldType type[kNoteFieldCount];
};

const NoteSlots& noteSlots() {
    static const NoteSlots layout = [] {
        NoteSlots s{};
        const QList<FieldDef>& fields = noteFields();
        Q_ASSERT(fields.size() == kNoteFieldCount);
        for (int i = 0; i < kNoteFieldCount; ++i) {
            s.type[i] = fields.at(i).type;
        }
        return s;
    }();
    return layout;
}

}  // namespace

QVariantList noteValues(const NoteRecord& n) {
    return {n.IDMARCADO,     n.CDFILIALORIG,     n.CDEMPRESA,      n.NRINSJURNFORIG,
            n.NMRAZSOCEMIT,  n.NRNOTAFISC,       dt(n.DTENTRSAID), dt(n.DTEMISSAO),
            n.CDSERIE,       n.IDSTATUSNFE,      n.IDSTATUSMANIF,  n.IDTIPOINCL,
            n.IDTIPOEVENTO,  n.IDAMBIENTEMANIF,  dt(n.DTHREVENTO), n.NRSEQEVENTO,
            n.DSCORRECAONFE, n.DSOBSSTATUSMANIF, n.CDFILIAL,       n.NRLANCTONF,
            n.NRINSJURNF,    n.IDENTRSAIDNF,     n.IDENTRSAIDOP,   n.NRACESSONF,
            n.IDNOTA,        n.IDARQXMLNFE,      n.NRACESSOINTG,   n.VRNOTAFISC,
            dt(n.DTRECBTO),  n.NRINSJURIESTDEST, n.CDINSCESTADEST};
}

QVariant dbDateTime(const QDateTime& v) {
    if (!v.isValid()) {
        return QVariant(QMetaType::fromType<QString>());
    }
    return inBrasilia(v).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QDateTime fromDbDateTime(const QVariant& v) {
    if (v.isNull() || !v.isValid()) {
        return {};
    }
    if (v.typeId() == QMetaType::QDateTime) {
        QDateTime d = v.toDateTime();
        return QDateTime(d.date(), d.time());  // naive local time, whatever the driver said
    }
    const QString s = v.toString();
    // The stored form, read by hand: the format parser costs tens of microseconds a value,
    // which dominated the answer of a query of tens of thousands of notes.
    if (const QDateTime fast = parseStoredDateTime(s); fast.isValid()) {
        return fast;
    }
    QDateTime d = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    if (!d.isValid()) {
        d = QDateTime::fromString(s, Qt::ISODateWithMs);
    }
    if (!d.isValid()) {
        d = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    return d.isValid() ? QDateTime(d.date(), d.time()) : QDateTime();
}

QSqlQuery runSql(QSqlDatabase& db, const QString& sql, const QVariantList& binds,
                 const QString& what) {
    QSqlQuery q(db);
    if (!q.prepare(sql)) {
        fail(q, what);
    }
    for (int i = 0; i < binds.size(); ++i) {
        q.bindValue(i, binds.at(i));
    }
    if (!q.exec()) {
        fail(q, what);
    }
    return q;
}

StoredNote Store::noteByKey(const QString& key, const QString& recipient) {
    QSqlQuery q = runSql(
        m_db,
        QStringLiteral("SELECT CDEMPRESA, IDSTATUSNFE, IDSTATUSMANIF, IDARQXMLNFE, "
                       "NRINSJURIESTDEST, NRINSJURNFORIG, NMRAZSOCEMIT, DTRECBTO, "
                       "IDAMBIENTEMANIF FROM NOTADEST WHERE NRACESSONF = ? "
                       "ORDER BY CASE WHEN NRINSJURIESTDEST = ? THEN 0 ELSE 1 END, CDEMPRESA"),
        {key, recipient}, QStringLiteral("Não foi possível consultar a nota"));
    StoredNote n;
    if (q.next()) {
        n.found = true;
        n.company = q.value(0).toString();
        n.statusNFe = q.value(1).toString();
        n.statusManif = q.value(2).toString();
        n.xmlAvailable = q.value(3).toString();
        n.recipient = q.value(4).toString();
        n.issuerRegistration = q.value(5).toString();
        n.issuerName = q.value(6).toString();
        n.authorised = fromDbDateTime(q.value(7)).date();
        n.environment = q.value(8).toString();
    }
    return n;
}

void insertNoteInto(QSqlDatabase& db, const NoteRecord& n) {
    QSqlQuery q(db);
    QStringList marks;
    for (int i = 0; i < noteFields().size() + kExtraColumns.size(); ++i) {
        marks << QStringLiteral("?");
    }
    const QString sql = QStringLiteral("INSERT INTO NOTADEST (%1, %2) VALUES (%3)")
                            .arg(noteColumnList(), kExtraColumns.join(QStringLiteral(", ")),
                                 marks.join(QStringLiteral(", ")));
    if (!q.prepare(sql)) {
        fail(q, QStringLiteral("Não foi possível preparar a gravação da nota"));
    }
    QVariantList values = noteValues(n);
    bool numeric = false;
    const qint64 number = n.NRNOTAFISC.toLongLong(&numeric);
    values << n.IDORIGEMIT << n.CDEMITENTE << n.CDTIPOOPER << n.IDTPIJUREMIT
           << (numeric ? QVariant(number) : QVariant(QMetaType::fromType<qlonglong>()));
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& v = values.at(i);
        if (v.typeId() == QMetaType::QDateTime ||
            (i < noteFields().size() && noteFields().at(i).type == FieldType::DateTime)) {
            q.bindValue(i, dbDateTime(v.toDateTime()));
        } else {
            q.bindValue(i, v);
        }
    }
    if (!q.exec()) {
        fail(q, QStringLiteral("Não foi possível gravar a nota %1").arg(n.NRACESSONF));
    }
}

const companydb::SchemaComponent& storeSchema() {
    static const companydb::SchemaComponent component = [] {
        companydb::SchemaComponent c;
        c.name = QString::fromLatin1(kComponentName);
        companydb::SchemaStep v1;
        v1.version = 1;
        v1.description = QStringLiteral("Notas destinadas, eventos, documentos XML e downloads");
        v1.common = {
            QStringLiteral("CREATE TABLE NOTADEST ("
                           " IDMARCADO CHAR(1) NOT NULL,"
                           " CDFILIALORIG VARCHAR(4),"
                           " CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA (CDEMPRESA),"
                           " NRINSJURNFORIG VARCHAR(20),"
                           " NMRAZSOCEMIT VARCHAR(250),"
                           " NRNOTAFISC VARCHAR(20),"
                           " DTENTRSAID TIMESTAMP,"
                           " DTEMISSAO TIMESTAMP NOT NULL,"
                           " CDSERIE VARCHAR(5),"
                           " IDSTATUSNFE CHAR(1) NOT NULL,"
                           " IDSTATUSMANIF CHAR(1) NOT NULL,"
                           " IDTIPOINCL VARCHAR(3),"
                           " IDTIPOEVENTO VARCHAR(6),"
                           " IDAMBIENTEMANIF CHAR(1),"
                           " DTHREVENTO TIMESTAMP,"
                           " NRSEQEVENTO VARCHAR(2),"
                           " DSCORRECAONFE VARCHAR(1000),"
                           " DSOBSSTATUSMANIF VARCHAR(250),"
                           " CDFILIAL VARCHAR(4),"
                           " NRLANCTONF VARCHAR(10),"
                           " NRINSJURNF VARCHAR(20),"
                           " IDENTRSAIDNF CHAR(1),"
                           " IDENTRSAIDOP CHAR(1),"
                           " NRACESSONF VARCHAR(50) NOT NULL,"
                           " IDNOTA CHAR(1),"
                           " IDARQXMLNFE CHAR(1),"
                           " NRACESSOINTG VARCHAR(44),"
                           " VRNOTAFISC DOUBLE PRECISION,"
                           " DTRECBTO TIMESTAMP,"
                           " NRINSJURIESTDEST VARCHAR(20),"
                           " CDINSCESTADEST VARCHAR(20),"
                           " IDORIGEMIT CHAR(1),"
                           " CDEMITENTE VARCHAR(21),"
                           " CDTIPOOPER VARCHAR(2),"
                           " IDTPIJUREMIT CHAR(1),"
                           " NRNOTANUM BIGINT,"
                           " PRIMARY KEY (CDEMPRESA, NRACESSONF))"),
            QStringLiteral("CREATE INDEX IX_NOTADEST_EMISSAO ON NOTADEST (CDEMPRESA, DTEMISSAO)"),
            QStringLiteral("CREATE INDEX IX_NOTADEST_EMITENTE ON NOTADEST (CDEMPRESA, CDEMITENTE, "
                           "DTEMISSAO)"),
            QStringLiteral("CREATE INDEX IX_NOTADEST_CHAVE ON NOTADEST (NRACESSONF)"),
            // Every event sent, accepted or not, with the authority's answer.
            QStringLiteral("CREATE TABLE EVENTONFE ("
                           " CDEMPRESA VARCHAR(2) NOT NULL,"
                           " NRACESSONF VARCHAR(44) NOT NULL,"
                           " TPEVENTO INTEGER NOT NULL,"
                           " NRSEQEVENTO INTEGER NOT NULL,"
                           " NRINSJURAUTOR VARCHAR(20) NOT NULL,"
                           " DTHREVENTO TIMESTAMP NOT NULL,"
                           " DTHRREGISTRO TIMESTAMP,"
                           " CDSTAT INTEGER NOT NULL,"
                           " DSMOTIVO VARCHAR(255) NOT NULL,"
                           " NRPROTOCOLO VARCHAR(15),"
                           " DSJUSTIFICATIVA VARCHAR(255),"
                           " DSXMLEVENTO TEXT,"
                           " CDOPERADOR VARCHAR(20))"),
            // One registered event per type, key and sequence: the database itself refuses a
            // duplicate that two clients send at the same moment.
            QStringLiteral("CREATE TABLE EVENTOREG ("
                           " NRACESSONF VARCHAR(44) NOT NULL,"
                           " TPEVENTO INTEGER NOT NULL,"
                           " NRSEQEVENTO INTEGER NOT NULL,"
                           " NRPROTOCOLO VARCHAR(15) NOT NULL,"
                           " PRIMARY KEY (NRACESSONF, TPEVENTO, NRSEQEVENTO))"),
            QStringLiteral("CREATE INDEX IX_EVENTONFE_CHAVE ON EVENTONFE (NRACESSONF)"),
            QStringLiteral("CREATE TABLE DOCXMLNFE ("
                           " NRACESSONF VARCHAR(44) NOT NULL PRIMARY KEY,"
                           " DTHRGERACAO TIMESTAMP NOT NULL,"
                           " DSTEXTOXML TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE DOWNLOADLOG ("
                           " NRINSJURIEST VARCHAR(20) NOT NULL,"
                           " DTHRDOWNLOAD TIMESTAMP NOT NULL,"
                           " NRACESSONF VARCHAR(44) NOT NULL,"
                           " CDSTATUS VARCHAR(3) NOT NULL,"
                           " CDOPERADOR VARCHAR(20))"),
            QStringLiteral(
                "CREATE INDEX IX_DOWNLOADLOG_INSCR ON DOWNLOADLOG (NRINSJURIEST, DTHRDOWNLOAD)"),
        };
        c.steps.append(v1);
        // The protocol numbers of registered events come from one row that every connection
        // and server process draws from; the index lets a number an older event already holds
        // be passed over.
        companydb::SchemaStep v2;
        v2.version = 2;
        v2.description = QStringLiteral("Sequência dos protocolos de eventos");
        v2.common = {
            QStringLiteral("CREATE TABLE SEQPROTOCOLO ("
                           " IDSEQUENCIA INTEGER NOT NULL PRIMARY KEY,"
                           " NRULTIMOPROT BIGINT NOT NULL)"),
            QStringLiteral("INSERT INTO SEQPROTOCOLO (IDSEQUENCIA, NRULTIMOPROT) VALUES (1, 0)"),
            QStringLiteral("CREATE INDEX IX_EVENTOREG_PROTOCOLO ON EVENTOREG (NRPROTOCOLO)"),
        };
        c.steps.append(v2);
        // The order in which the events of a key were registered (the protocol sequence drawn for
        // each): the last conclusive event registered is the one that prevails, and sending it
        // again is a duplicate. Events registered before this column have none and count as
        // older than any that has one.
        companydb::SchemaStep v3;
        v3.version = 3;
        v3.description = QStringLiteral("Ordem de registro dos eventos");
        v3.common = {
            QStringLiteral("ALTER TABLE EVENTOREG ADD COLUMN NRORDEMREG BIGINT"),
        };
        c.steps.append(v3);
        // The company's books (LANCTONF) came after the notes: a store whose notes were booked
        // before that gets the entries its booking fields describe. A new store has no notes
        // yet at this point; its demo notes book themselves.
        companydb::SchemaStep v4;
        v4.version = 4;
        v4.description = QStringLiteral("Lançamentos das notas já escrituradas");
        v4.common = {
            QStringLiteral(
                "INSERT INTO LANCTONF (CDEMPRESA, CDFILIAL, NRLANCTONF, NRACESSONF, NRINSJUREMIT, "
                "IDTPIJUREMIT, NMRAZSOCEMIT, NRNOTAFISC, CDSERIE, DTEMISSAO, DTENTRSAID, "
                "VRNOTAFISC) "
                "SELECT n.CDEMPRESA, n.CDFILIAL, n.NRLANCTONF, n.NRACESSONF, n.NRINSJURNFORIG, "
                "n.IDTPIJUREMIT, n.NMRAZSOCEMIT, n.NRNOTAFISC, n.CDSERIE, n.DTEMISSAO, "
                "n.DTENTRSAID, n.VRNOTAFISC FROM NOTADEST n "
                "WHERE n.NRLANCTONF IS NOT NULL AND n.NRLANCTONF <> '' AND n.CDFILIAL IS NOT NULL "
                "AND n.CDFILIAL <> '' AND NOT EXISTS (SELECT 1 FROM LANCTONF l WHERE "
                "l.CDFILIAL = n.CDFILIAL AND l.NRLANCTONF = n.NRLANCTONF)"),
        };
        c.steps.append(v4);
        c.seedDemo = [](QSqlDatabase& db, SqlDialect dialect, int demoNotes) {
            insertDemoNotes(db, dialect, demoNotes, Clock().today(), DemoEvents::Archived);
        };
        return c;
    }();
    return component;
}

Store::Store(const QString& url) : m_connection(uniqueConnectionName()) {
    const host::DatabaseUrl parsed = host::DatabaseUrl::parse(url);
    m_dialect = parsed.dialect;
    m_path = parsed.path;
    m_db = host::DatabaseModule::openConnection(parsed, m_connection, false);
    if (m_dialect == SqlDialect::SQLite) {
        QSqlQuery q(m_db);
        q.exec(QStringLiteral("PRAGMA busy_timeout = 10000"));
    }
}

bool Store::connectionWorks() {
    if (m_dialect == SqlDialect::SQLite) {
        return true;
    }
    QSqlQuery q(m_db);
    return q.exec(QStringLiteral("SELECT 1")) && q.next();
}

QString Store::databaseFile() const {
    if (m_dialect != SqlDialect::SQLite || m_path.isEmpty() || m_path == u":memory:" ||
        m_path.startsWith(u"file:")) {
        return {};
    }
    return m_path;
}

Store::~Store() {
    m_native.reset();
    m_notesQuery.reset();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

bool Store::companyExists(const QString& company) {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT 1 FROM EMPRESA WHERE CDEMPRESA = ?"));
    q.addBindValue(company);
    if (!q.exec()) {
        fail(q, QStringLiteral("Não foi possível consultar a empresa"));
    }
    return q.next();
}

QList<Registration> Store::registrations(const QString& company) {
    QSqlQuery q(m_db);
    q.prepare(
        QStringLiteral("SELECT DISTINCT NRINSJURIEST, IDTPIJURIEST FROM INSCRESTAD "
                       "WHERE CDEMPRESA = ? ORDER BY NRINSJURIEST"));
    q.addBindValue(company);
    if (!q.exec()) {
        fail(q, QStringLiteral("Não foi possível consultar as inscrições da empresa"));
    }
    QList<Registration> out;
    while (q.next()) {
        out.append({q.value(0).toString(), q.value(1).toString()});
    }
    return out;
}

bool Store::hasStateRegistration(const QString& company, const QString& stateRegistration) {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT 1 FROM INSCRESTAD WHERE CDEMPRESA = ? AND CDINSCESTA = ?"));
    q.addBindValue(company);
    q.addBindValue(stateRegistration);
    if (!q.exec()) {
        fail(q, QStringLiteral("Não foi possível consultar a inscrição estadual"));
    }
    return q.next();
}

namespace {

struct NoteQuery {
    QString sql;
    QVariantList binds;
};

NoteQuery noteQuery(const NoteFilter& f) {
    // Only fixed SQL fragments are assembled here; every value is bound.
    QStringList where;
    QVariantList binds;
    auto equal = [&](const char* column, const QString& value) {
        if (value.isEmpty()) {
            return;
        }
        where << QStringLiteral("%1 = ?").arg(QLatin1String(column));
        binds << value;
    };
    auto in = [&](const char* column, const QStringList& values) {
        QStringList marks;
        for (const QString& v : values) {
            marks << QStringLiteral("?");
            binds << v;
        }
        if (marks.isEmpty()) {
            where << QStringLiteral("1 = 0");
        } else {
            where << QStringLiteral("%1 IN (%2)")
                         .arg(QLatin1String(column), marks.join(QStringLiteral(", ")));
        }
    };
    where << QStringLiteral("CDEMPRESA = ?");
    binds << f.company;
    where << QStringLiteral("DTEMISSAO >= ?") << QStringLiteral("DTEMISSAO < ?");
    binds << dbDateTime(QDateTime(f.issuedFrom, QTime(0, 0)))
          << dbDateTime(QDateTime(f.issuedTo.addDays(1), QTime(0, 0)));
    if (f.statusNFe) {
        in("IDSTATUSNFE", *f.statusNFe);
    }
    if (f.statusManif) {
        in("IDSTATUSMANIF", *f.statusManif);
    }
    if (f.idNota) {
        in("IDNOTA", *f.idNota);
    }
    if (f.noteFrom) {
        where << QStringLiteral("NRNOTANUM >= ?");
        binds << *f.noteFrom;
    }
    if (f.noteTo) {
        where << QStringLiteral("NRNOTANUM <= ?");
        binds << *f.noteTo;
    }
    equal("NRACESSONF", f.accessKey);
    equal("CDFILIALORIG", f.branch);
    equal("CDSERIE", f.series);
    equal("IDORIGEMIT", f.issuerKind);
    equal("CDEMITENTE", f.issuerCode);
    if (!f.operTypes.isEmpty()) {
        in("CDTIPOOPER", f.operTypes);
    }
    equal("IDENTRSAIDOP", f.direction);
    equal("CDINSCESTADEST", f.stateRegistration);
    equal("NRINSJURIESTDEST", f.legalRegistration);

    static const QString columns = noteColumnList();
    return {QStringLiteral("SELECT %1 FROM NOTADEST WHERE %2 "
                           "ORDER BY NMRAZSOCEMIT, DTEMISSAO, VRNOTAFISC, NRACESSONF")
                .arg(columns, where.join(QStringLiteral(" AND "))),
            binds};
}

// A date-time cell of the note query as packet milliseconds. The stored text goes straight to
// the number; anything else (a driver's own date-time, another text form) the long way, with
// the value other() gives. False for a value that is no date-time at all (written as null).
template <typename View, typename Other>
bool storedMillis(View text, Other&& other, QDate& date, qint64& millis) {
    QTime time;
    if (text.size() > 0 && parseStoredParts(text, date, time)) {
        millis = host::packetMillis(date, time);
        return true;
    }
    const QDateTime d = fromDbDateTime(other());
    if (!d.isValid() || !host::packetMillisInRange(host::packetMillis(d))) {
        return false;  // no date-time a packet can carry
    }
    date = d.date();
    millis = host::packetMillis(d);
    return true;
}

// The note query's rows as writeRows() reads them, cell by cell: text(), real() and millis()
// return false for a null cell.

// The note query's rows through the Qt driver (PostgreSQL, and SQLite when asked).
class DriverRows {
  public:
    explicit DriverRows(QSqlQuery& q) : m_q(q) {}
    bool next() { return m_q.next(); }
    bool text(int i, host::PacketWriter& w, QString* keep) {
        if (!cell(i)) {
            return false;
        }
        const QString t = m_v.toString();
        w.string(t);
        if (keep) {
            *keep = t;
        }
        return true;
    }
    bool real(int i, double& out) {
        if (!cell(i)) {
            return false;
        }
        out = m_v.toDouble();
        return true;
    }
    // A date-time cell: false for null; else as storedMillis(), with valid false when the
    // value is no date-time.
    bool millis(int i, QDate& date, qint64& out, bool& valid) {
        if (!cell(i)) {
            return false;
        }
        const QString t = m_v.typeId() == QMetaType::QString ? m_v.toString() : QString();
        valid = storedMillis(
            QStringView(t), [this] { return m_v; }, date, out);
        return true;
    }
    void finish() { m_q.finish(); }

  private:
    bool cell(int i) {
        m_v = m_q.value(i);
        return !m_v.isNull();
    }

    QSqlQuery& m_q;
    QVariant m_v;
};

// The QStrings of the short codes of a column, one per distinct code, shared by the rows that
// hold it: the statuses every note hands to the deadline rules cost no allocation each.
class CodeStrings {
  public:
    const QString& of(QByteArrayView bytes) {
        for (qsizetype i = 0; i < m_bytes.size(); ++i) {
            if (m_bytes[i] == bytes) {
                return m_strings[i];
            }
        }
        if (m_bytes.size() == kMax) {
            m_other = QString::fromUtf8(bytes);
            return m_other;
        }
        m_bytes.append(QByteArray(bytes.data(), bytes.size()));
        m_strings.append(QString::fromUtf8(bytes));
        return m_strings.last();
    }

  private:
    static constexpr qsizetype kMax = 16;
    QList<QByteArray> m_bytes;
    QList<QString> m_strings;
    QString m_other;
};

// The same rows read with SQLite's own interface, texts as their UTF-8 bytes.
class NativeRows {
  public:
    explicit NativeRows(SqliteRows& rows) : m_rows(rows) {}
    bool next() { return m_rows.next(); }
    bool text(int i, host::PacketWriter& w, QString* keep) {
        QByteArrayView t;
        if (!m_rows.textUnlessNull(i, t)) {
            return false;
        }
        w.utf8(t);
        if (keep) {
            *keep = m_codes[i].of(t);
        }
        return true;
    }
    bool real(int i, double& out) {
        if (m_rows.isNull(i)) {
            return false;
        }
        out = m_rows.real(i);
        return true;
    }
    bool millis(int i, QDate& date, qint64& out, bool& valid) {
        QByteArrayView t;
        if (!m_rows.textUnlessNull(i, t)) {
            return false;
        }
        valid = storedMillis(
            t, [t] { return QVariant(QString::fromUtf8(t)); }, date, out);
        return true;
    }
    void finish() { m_rows.finish(); }

  private:
    SqliteRows& m_rows;
    CodeStrings m_codes[kNoteFieldCount];  // of the columns whose texts the caller keeps
};

template <typename Rows>
qsizetype writeRows(Rows& rows, host::PacketWriter& w,
                    const std::function<void(const WrittenNote&)>& written) {
    const NoteSlots& layout = noteSlots();
    constexpr int iNfe = 9, iManif = 10, iRecbto = 28;
    qsizetype count = 0;
    WrittenNote note;
    try {
        while (rows.next()) {
            note.from = w.position();
            note.authorised = QDate();
            w.beginRow();
            for (int i = 0; i < kNoteFieldCount; ++i) {
                switch (layout.type[i]) {
                    case FieldType::DateTime: {
                        QDate date;
                        qint64 millis = 0;
                        bool valid = false;
                        if (!rows.millis(i, date, millis, valid)) {
                            w.null();
                        } else if (valid) {
                            w.dateTimeMillis(millis);
                        } else {
                            w.null();
                        }
                        if (i == iRecbto) {
                            note.authorised = date;
                        }
                        break;
                    }
                    case FieldType::Float: {
                        double v = 0;
                        if (rows.real(i, v)) {
                            w.floating(v);
                        } else {
                            w.null();
                        }
                        break;
                    }
                    default:
                        if (!rows.text(i, w,
                                       i == iNfe     ? &note.statusNFe
                                       : i == iManif ? &note.statusManif
                                                     : nullptr)) {
                            w.null();
                        }
                        break;
                }
            }
            w.endRow();
            ++count;
            note.to = w.position();
            if (written) {
                written(note);
            }
            note.statusNFe.clear();
            note.statusManif.clear();
        }
    } catch (...) {
        rows.finish();
        throw;
    }
    rows.finish();
    return count;
}

}  // namespace

QSqlQuery& Store::execNoteQuery(const QString& sql, const QVariantList& binds) {
    // The same criteria shape comes again and again (the all-"T" query above all): the
    // statement prepared last is kept and only its values change.
    if (!m_notesQuery || sql != m_notesSql) {
        m_notesQuery.reset();
        m_notesSql.clear();
        auto q = std::make_unique<QSqlQuery>(m_db);
        q->setForwardOnly(true);
        if (!q->prepare(sql)) {
            fail(*q, QStringLiteral("Não foi possível preparar a consulta das notas"));
        }
        m_notesQuery = std::move(q);
        m_notesSql = sql;
    }
    QSqlQuery& q = *m_notesQuery;
    for (int i = 0; i < binds.size(); ++i) {
        q.bindValue(i, binds.at(i));
    }
    if (!q.exec()) {
        // A statement that failed is not reused: the next call prepares it afresh.
        const QString text = q.lastError().text().trimmed();
        m_notesQuery.reset();
        m_notesSql.clear();
        throw EDatabaseError(QStringLiteral("Não foi possível consultar as notas: %1").arg(text));
    }
    return q;
}

qsizetype Store::writeNotes(const NoteFilter& f, host::PacketWriter& w,
                            const std::function<void(const WrittenNote&)>& written) {
    const NoteQuery query = noteQuery(f);
    if (m_dialect == SqlDialect::SQLite && m_nativeReads) {
        if (!m_native) {
            m_native = std::make_unique<SqliteRows>(m_path);
        }
        m_native->exec(query.sql, query.binds);
        NativeRows rows(*m_native);
        return writeRows(rows, w, written);
    }
    DriverRows rows(execNoteQuery(query.sql, query.binds));
    return writeRows(rows, w, written);
}

QList<QVariantList> Store::queryNotes(const NoteFilter& f) {
    host::PacketWriter w(noteFields(), host::PacketWriter::kRowsCountedAtFinish);
    writeNotes(f, w);
    return host::decodePacket(w.finish()).rows;
}

void Store::insertNote(const NoteRecord& note) {
    insertNoteInto(m_db, note);
}

int Store::noteCount(const QString& company) {
    QSqlQuery q(m_db);
    if (company.isEmpty()) {
        q.prepare(QStringLiteral("SELECT COUNT(*) FROM NOTADEST"));
    } else {
        q.prepare(QStringLiteral("SELECT COUNT(*) FROM NOTADEST WHERE CDEMPRESA = ?"));
        q.addBindValue(company);
    }
    if (!q.exec() || !q.next()) {
        fail(q, QStringLiteral("Não foi possível contar as notas"));
    }
    return q.value(0).toInt();
}

}  // namespace dfe58000

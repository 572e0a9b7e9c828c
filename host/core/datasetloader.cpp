#include "core/datasetloader.h"

#include <QHash>
#include <algorithm>
#include <cstring>
#include <iterator>

#include "core/clientdataset_p.h"
#include "core/packet.h"

namespace host {

using rows::Blocks;
using rows::doubleSlot;
using rows::isText;
using rows::RowPtr;
using rows::RowRelease;
using rows::Slot;
using rows::StringPool;

namespace {

// Codes repeat endlessly: their bytes (at most 7, with the length in the top byte) map
// straight to a pool entry.
struct ShortCache {
    static constexpr int kMax = 7;
    quint64 key[64];
    quint32 id[64];
    ShortCache() { std::fill(std::begin(key), std::end(key), ~quint64(0)); }
};

// Longer texts are looked up by their bytes while that pays (issuer names repeat, access
// keys do not), so a repeated text costs neither a QString nor a UTF-8 decoding.
struct RawTexts {
    QHash<QByteArray, quint32> index;
    bool interning = true;
    quint32 lookups = 0;
    quint32 hits = 0;

    Slot add(QByteArrayView raw, StringPool& pool, Utf8Text& utf8) {
        if (!interning) {
            // Kept as bytes till read; the decoder would refuse just what is not valid.
            if (raw.isValidUtf8()) {
                return pool.addBytes(raw);
            }
            return pool.addUnshared(utf8.decode(raw));
        }
        ++lookups;
        const QByteArray probe = QByteArray::fromRawData(raw.data(), raw.size());
        auto it = index.constFind(probe);
        if (it != index.cend()) {
            ++hits;
            return it.value();
        }
        const quint32 id = pool.addUnshared(utf8.decode(raw));
        index.insert(QByteArray(raw.data(), raw.size()), id);
        if (lookups == StringPool::kProbe && hits < StringPool::kMinHitsPerProbe) {
            interning = false;
            index = QHash<QByteArray, quint32>();
        }
        return id;
    }
};

}  // namespace

struct DataSetLoader::State {
    using Impl = TClientDataSet::Impl;

    explicit State(Impl& target) : target(target), fresh(target.q) {}

    Impl& target;
    Impl fresh;  // the new content, built on the side
    QList<FieldDef> columns;
    int columnCount = 0;
    std::vector<FieldType> columnTypes;
    std::vector<FieldType> callTypes;  // of each column: its type, String for Memo
    std::vector<int> field;            // of each column, -1 when none takes it
    std::vector<quint8> sameType;      // of each column: its field has the column's type
    bool persistent = false;
    std::vector<int> indexFields;
    FilterExpr filter;

    std::vector<ShortCache> shortTexts;  // per field
    std::vector<RawTexts> rawTexts;      // per field
    Utf8Text utf8;

    size_t width = 0;  // slots of a row
    size_t rowsPerBlock = 0;
    size_t blockRows = 0;
    Slot* row = nullptr;
    int col = -1;  // -1 outside a row
    qsizetype rowNo = 0;
    bool finished = false;

    [[noreturn]] void wrongCall(const char* what) const {
        if (col < 0 || col >= columns.size()) {
            throw EDataSetError(QStringLiteral("Carga de %1: valor fora de uma linha (linha %2).")
                                    .arg(target.name())
                                    .arg(rowNo + 1));
        }
        const FieldDef& c = columns[col];
        throw EDataSetError(
            QStringLiteral("Carga de %1: %2 para o campo %3 (%4), linha %5.")
                .arg(target.name(), QLatin1String(what), c.name, fieldTypeName(c.type))
                .arg(rowNo + 1));
    }

    // The field of the next value, after checking that the call suits the column (call: the
    // column's type, String for any text); -1 when no field takes the column. direct tells
    // whether the field has the column's type, so the value is stored as it is.
    int next(FieldType call, const char* what, bool& direct) {
        if (uint(col) >= uint(columnCount) || callTypes[size_t(col)] != call) {
            wrongCall(what);
        }
        direct = sameType[size_t(col)];
        return field[size_t(col++)];
    }

    // A value of the column's type into a field of another type.
    void convert(int f, const QVariant& v) { fresh.storeValue(row, f, fresh.coerce(f, v)); }

    void storeUtf8(int f, QByteArrayView bytes) {
        Slot id;
        if (bytes.size() <= ShortCache::kMax) {
            quint64 key = 0;
            std::memcpy(&key, bytes.data(), size_t(bytes.size()));
            key |= quint64(bytes.size()) << 56;
            ShortCache& c = shortTexts[size_t(f)];
            const size_t at = size_t((key * 0x9E3779B97F4A7C15ull) >> 58);
            if (c.key[at] == key) {
                id = c.id[at];
            } else {
                id = fresh.pools[size_t(f)].add(utf8.decode(bytes));
                c.key[at] = key;
                c.id[at] = quint32(id);
            }
        } else {
            id = rawTexts[size_t(f)].add(bytes, fresh.pools[size_t(f)], utf8);
        }
        fresh.setSlot(row, f, id);
    }
};

DataSetLoader::DataSetLoader(TClientDataSet& dataSet, const QList<FieldDef>& columns,
                             qsizetype expectedRows)
    : d(new State(*dataSet.d)) {
    TClientDataSet::Impl& target = d->target;
    d->columns = columns;
    d->persistent = !target.fields.empty() && !target.fieldsFromPacket;
    d->field.assign(size_t(columns.size()), -1);
    QHash<QString, int> byName;
    for (int c = 0; c < columns.size(); ++c) {
        const FieldDef& def = columns[c];
        if (int(def.type) < 1 || int(def.type) > 7) {
            throw EDataSetError(QStringLiteral("Campo %1 com tipo desconhecido.").arg(def.name));
        }
        const QString key = def.name.toUpper();
        if (key.isEmpty() || byName.contains(key)) {
            throw EDataSetError(QStringLiteral("Campo \"%1\" sem nome ou repetido na carga de %2.")
                                    .arg(def.name, target.name()));
        }
        byName.insert(key, c);
        d->columnTypes.push_back(def.type);
        d->callTypes.push_back(isText(def.type) ? FieldType::String : def.type);
    }
    d->columnCount = int(columns.size());
    QList<FieldDef> defs;
    if (d->persistent) {
        for (int f = 0; f < target.fieldCount(); ++f) {
            const int c = byName.value(target.def(f).name.toUpper(), -1);
            if (c < 0) {
                throw EDataSetError(QStringLiteral("Campo %1 de %2 não veio no pacote de dados.")
                                        .arg(target.def(f).name, target.name()));
            }
            d->field[size_t(c)] = f;
            defs.append(target.def(f));
        }
    } else {
        defs = columns;
        for (int c = 0; c < columns.size(); ++c) {
            d->field[size_t(c)] = c;
        }
    }
    if (defs.isEmpty()) {
        throw EPacketError(QStringLiteral("Pacote de dados sem campos."));
    }

    TClientDataSet::Impl& fresh = d->fresh;
    fresh.makeFields(defs);
    fresh.prepareStorage();
    d->indexFields = fresh.resolveIndex(target.indexNames);
    if (target.filtered) {
        d->filter = fresh.compileFilter(target.filterText);
    }
    if (expectedRows > 0) {
        fresh.base.reserve(size_t(expectedRows));
    }
    for (int c = 0; c < columns.size(); ++c) {
        const int f = d->field[size_t(c)];
        const FieldType to = f < 0 ? columns[c].type : fresh.def(f).type;
        d->sameType.push_back(to == columns[c].type || (isText(to) && isText(columns[c].type)));
    }
    d->shortTexts.resize(size_t(fresh.fieldCount()));
    d->rawTexts.resize(size_t(fresh.fieldCount()));
    d->width = size_t(fresh.nullWords + fresh.fieldCount());
    d->rowsPerBlock = Blocks::kBlockSlots / d->width;
    d->blockRows = d->rowsPerBlock;
}

DataSetLoader::~DataSetLoader() = default;

const QList<FieldDef>& DataSetLoader::columns() const {
    return d->columns;
}

void DataSetLoader::setColumnSize(int column, int size) {
    if (column < 0 || column >= d->columns.size()) {
        throw EDataSetError(
            QStringLiteral("Carga de %1: coluna %2 não existe.").arg(d->target.name()).arg(column));
    }
    d->columns[column].size = size;
    if (!d->persistent) {
        d->fresh.setFieldSize(d->field[size_t(column)], size);
    }
}

void DataSetLoader::beginRow() {
    if (d->finished || d->col != -1) {
        throw EDataSetError(
            QStringLiteral("Carga de %1: linha começada fora de ordem.").arg(d->target.name()));
    }
    TClientDataSet::Impl& fresh = d->fresh;
    RowPtr row;
    if (d->rowsPerBlock == 0) {
        row = RowPtr(new Slot[d->width]);  // wider than a block
    } else {
        if (d->blockRows == d->rowsPerBlock) {
            fresh.rowBlocks.push_back(Blocks::take());
            d->blockRows = 0;
        }
        row = RowPtr(fresh.rowBlocks.back().get() + d->blockRows++ * d->width, RowRelease{false});
    }
    std::memset(row.get(), 0, sizeof(Slot) * d->width);
    d->row = row.get();
    fresh.base.push_back(std::move(row));
    d->col = 0;
}

void DataSetLoader::null() {
    if (uint(d->col) >= uint(d->columnCount)) {
        d->wrongCall("valor");
    }
    const int f = d->field[size_t(d->col++)];
    if (f >= 0) {
        d->fresh.setNull(d->row, f);
    }
}

void DataSetLoader::text(QString s) {
    bool direct = false;
    const int f = d->next(FieldType::String, "texto", direct);
    if (f < 0) {
        return;
    }
    if (direct) {
        d->fresh.setSlot(d->row, f, d->fresh.pools[size_t(f)].add(std::move(s)));
        return;
    }
    d->convert(f, QVariant(std::move(s)));
}

void DataSetLoader::utf8(QByteArrayView bytes) {
    bool direct = false;
    const int f = d->next(FieldType::String, "texto", direct);
    if (f < 0) {
        return;
    }
    if (direct) {
        d->storeUtf8(f, bytes);
        return;
    }
    d->convert(f, QVariant(d->utf8.decode(bytes)));
}

void DataSetLoader::integer(qint64 v) {
    bool direct = false;
    const int f = d->next(FieldType::Integer, "inteiro", direct);
    if (f < 0) {
        return;
    }
    if (direct) {
        d->fresh.setSlot(d->row, f, Slot(v));
        return;
    }
    d->convert(f, QVariant(v));
}

void DataSetLoader::floating(double v) {
    bool direct = false;
    const int f = d->next(FieldType::Float, "número", direct);
    if (f < 0) {
        return;
    }
    if (direct) {
        d->fresh.setSlot(d->row, f, doubleSlot(v));
        return;
    }
    d->convert(f, QVariant(v));
}

void DataSetLoader::boolean(bool v) {
    bool direct = false;
    const int f = d->next(FieldType::Boolean, "valor lógico", direct);
    if (f < 0) {
        return;
    }
    if (direct) {
        d->fresh.setSlot(d->row, f, v ? 1 : 0);
        return;
    }
    d->convert(f, QVariant(v));
}

void DataSetLoader::dateDays(qint64 days) {
    if (!packetDaysInRange(days)) {
        d->wrongCall("data fora do intervalo");
    }
    bool direct = false;
    const int f = d->next(FieldType::Date, "data", direct);
    if (f < 0) {
        return;
    }
    if (direct) {
        d->fresh.setSlot(d->row, f, Slot(days));
        return;
    }
    d->convert(f, QVariant(packetDate(days)));
}

void DataSetLoader::dateTimeMillis(qint64 millis) {
    if (!packetMillisInRange(millis)) {
        d->wrongCall("data e hora fora do intervalo");
    }
    bool direct = false;
    const int f = d->next(FieldType::DateTime, "data e hora", direct);
    if (f < 0) {
        return;
    }
    if (direct) {
        d->fresh.setSlot(d->row, f, Slot(millis));
        return;
    }
    d->convert(f, QVariant(packetDateTime(millis)));
}

void DataSetLoader::value(const QVariant& v) {
    if (d->col < 0 || d->col >= d->columns.size()) {
        d->wrongCall("valor");
    }
    const QVariant c = packetCoerce(v, d->columns[d->col]);
    if (!c.isValid()) {
        null();
        return;
    }
    switch (d->columnTypes[size_t(d->col)]) {
        case FieldType::String:
        case FieldType::Memo:
            text(c.toString());
            break;
        case FieldType::Integer:
            integer(c.toLongLong());
            break;
        case FieldType::Float:
            floating(c.toDouble());
            break;
        case FieldType::Boolean:
            boolean(c.toBool());
            break;
        case FieldType::Date:
            dateDays(packetDays(c.toDate()));
            break;
        case FieldType::DateTime:
            dateTimeMillis(packetMillis(c.toDateTime()));
            break;
    }
}

void DataSetLoader::endRow() {
    if (d->col != d->columns.size()) {
        throw EDataSetError(QStringLiteral("Carga de %1: linha %2 com %3 valores; esperados %4.")
                                .arg(d->target.name())
                                .arg(d->rowNo + 1)
                                .arg(qMax(0, d->col))
                                .arg(d->columns.size()));
    }
    d->col = -1;
    d->row = nullptr;
    ++d->rowNo;
}

void DataSetLoader::finish() {
    if (d->finished || d->col != -1) {
        throw EDataSetError(
            QStringLiteral("Carga de %1 terminada fora de ordem.").arg(d->target.name()));
    }
    d->finished = true;
    d->target.takeLoaded(d->fresh, d->persistent, std::move(d->indexFields), std::move(d->filter));
}

// ============================================================================================

void TClientDataSet::Impl::takeLoaded(Impl& fresh, bool persistent, std::vector<int> idx,
                                      FilterExpr flt) {
    if (!persistent) {
        // Fields of the packet: a field that keeps its name and type keeps its TField (and
        // its display settings and handlers), so a reopened query does not strand references.
        for (auto& f : fresh.fields) {
            const int old = resolve(f->m_def.name);
            if (old >= 0 && fields[size_t(old)] && def(old).type == f->m_def.type) {
                std::unique_ptr<TField> kept = std::move(fields[size_t(old)]);
                kept->m_def = f->m_def;
                f = std::move(kept);
            }
        }
        fields.swap(fresh.fields);
        rebuildFieldIndex();
        fieldsFromPacket = true;
    }
    clearEdit();
    nullWords = fresh.nullWords;
    pools.swap(fresh.pools);
    base.swap(fresh.base);
    rowBlocks.swap(fresh.rowBlocks);
    indexFields = std::move(idx);
    filter = std::move(flt);
    rebuildOrder();
    rebuildView();
    cur = view.empty() ? -1 : 0;
    bof = true;
    eof = view.empty();
    active = true;
    setState(DataSetState::Browse);
    notifyData();
    scrolled();
}

}  // namespace host

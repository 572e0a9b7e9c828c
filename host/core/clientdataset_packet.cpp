// The whole content of a data set as a data packet: written from the rows, and read into
// fresh rows that replace them.

#include <QHash>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "core/clientdataset.h"
#include "core/clientdataset_p.h"
#include "core/packet.h"

namespace host {

using rows::Blocks;
using rows::doubleSlot;
using rows::isText;
using rows::RowPtr;
using rows::RowRelease;
using rows::Slot;
using rows::slotDouble;
using rows::StringPool;

QByteArray TClientDataSet::Data() const {
    const QList<FieldDef> defs = FieldDefs();
    if (defs.isEmpty()) {
        return {};
    }
    PacketWriter w(defs, qsizetype(d->base.size()),
                   qsizetype(d->base.size()) * defs.size() * 6 + 256);
    const int nf = d->fieldCount();
    for (const auto& rowPtr : d->base) {
        const Slot* row = rowPtr.get();
        w.beginRow();
        for (int f = 0; f < nf; ++f) {
            if (d->isNull(row, f)) {
                w.null();
                continue;
            }
            const Slot s = d->slot(row, f);
            switch (defs[f].type) {
                case FieldType::String:
                case FieldType::Memo:
                    w.string(d->pools[size_t(f)].text(s));
                    break;
                case FieldType::Integer:
                    w.integer(qint64(s));
                    break;
                case FieldType::Float:
                    w.floating(slotDouble(s));
                    break;
                case FieldType::Boolean:
                    w.boolean(s != 0);
                    break;
                case FieldType::Date:
                    w.dateDays(qint64(s));
                    break;
                case FieldType::DateTime:
                    w.dateTimeMillis(qint64(s));
                    break;
            }
        }
        w.endRow();
    }
    return w.finish();
}

void TClientDataSet::SetData(const QByteArray& packet) {
    d->load(packet);
}

void TClientDataSet::Impl::load(const QByteArray& packet) {
    PacketReader reader(packet);
    const QList<FieldDef>& pf = reader.fields();

    const bool persistent = !fields.empty() && !fieldsFromPacket;
    QList<FieldDef> defs;
    std::vector<int> target(size_t(pf.size()), -1);  // packet column -> field
    if (persistent) {
        QHash<QString, int> byName;
        for (int p = 0; p < pf.size(); ++p) {
            byName.insert(pf[p].name.toUpper(), p);
        }
        for (int f = 0; f < fieldCount(); ++f) {
            const int p = byName.value(def(f).name.toUpper(), -1);
            if (p < 0) {
                throw EDataSetError(QStringLiteral("Campo %1 de %2 não veio no pacote de dados.")
                                        .arg(def(f).name, name()));
            }
            target[size_t(p)] = f;
            defs.append(def(f));
        }
    } else {
        defs = pf;
        for (int p = 0; p < pf.size(); ++p) {
            target[size_t(p)] = p;
        }
    }
    if (defs.isEmpty()) {
        throw EPacketError(QStringLiteral("Pacote de dados sem campos."));
    }

    // Build the new content on the side.
    Impl fresh(q);
    for (int i = 0; i < defs.size(); ++i) {
        fresh.fields.push_back(std::unique_ptr<TField>(new TField(q, defs[i], i)));
    }
    fresh.rebuildFieldIndex();
    fresh.prepareStorage();
    std::vector<int> idx = fresh.resolveIndex(indexNames);
    FilterExpr flt = filtered ? fresh.compileFilter(filterText) : FilterExpr();

    if (reader.rowCountHint() > 0) {
        fresh.base.reserve(size_t(reader.rowCountHint()));
    }
    const int nf = fresh.fieldCount();
    // Codes repeat endlessly: their raw bytes map straight to a pool entry.
    struct ShortCache {
        quint64 key[64];
        quint32 id[64];
        ShortCache() { std::fill(std::begin(key), std::end(key), ~quint64(0)); }
    };
    std::vector<ShortCache> caches(static_cast<size_t>(nf));
    // Longer texts are looked up by their bytes while that pays (issuer names repeat, access
    // keys do not), so a repeated text costs neither a QString nor a UTF-8 decoding.
    struct RawLoad {
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
                pool.strings.push_back(utf8.decode(raw));
                return quint32(pool.strings.size() - 1);
            }
            ++lookups;
            const QByteArray probe = QByteArray::fromRawData(raw.data(), raw.size());
            auto it = index.constFind(probe);
            if (it != index.cend()) {
                ++hits;
                return it.value();
            }
            pool.strings.push_back(utf8.decode(raw));
            const quint32 id = quint32(pool.strings.size() - 1);
            index.insert(QByteArray(raw.data(), raw.size()), id);
            if (lookups == StringPool::kProbe && hits < StringPool::kMinHitsPerProbe) {
                interning = false;
                index = QHash<QByteArray, quint32>();
            }
            return id;
        }
    };
    std::vector<RawLoad> rawLoads(static_cast<size_t>(nf));
    Utf8Text utf8;
    reader.setShortTexts(true);
    reader.setRawTexts(true);
    PacketCell cell;
    std::vector<FieldType> fromTypes, toTypes;
    for (const FieldDef& def : pf) {
        fromTypes.push_back(def.type);
    }
    for (const FieldDef& def : std::as_const(defs)) {
        toTypes.push_back(def.type);
    }
    const size_t width = size_t(fresh.nullWords + nf);
    const size_t rowsPerBlock = Blocks::kBlockSlots / width;
    size_t blockRows = rowsPerBlock;
    while (reader.nextRow()) {
        RowPtr row;
        if (rowsPerBlock == 0) {
            row = RowPtr(new Slot[width]);  // wider than a block
        } else {
            if (blockRows == rowsPerBlock) {
                fresh.rowBlocks.push_back(Blocks::take());
                blockRows = 0;
            }
            row = RowPtr(fresh.rowBlocks.back().get() + blockRows++ * width, RowRelease{false});
        }
        std::memset(row.get(), 0, sizeof(Slot) * width);
        for (int p = 0; p < pf.size(); ++p) {
            reader.readCell(cell);
            const int f = target[size_t(p)];
            if (f < 0) {
                continue;
            }
            if (cell.null) {
                fresh.setNull(row.get(), f);
                continue;
            }
            const FieldType from = fromTypes[size_t(p)];
            const FieldType to = toTypes[size_t(f)];
            if (from == to || (isText(from) && isText(to))) {
                switch (to) {
                    case FieldType::String:
                    case FieldType::Memo: {
                        Slot id;
                        if (cell.isShort) {
                            ShortCache& c = caches[size_t(f)];
                            const size_t at = size_t((cell.shortKey * 0x9E3779B97F4A7C15ull) >> 58);
                            if (c.key[at] == cell.shortKey) {
                                id = c.id[at];
                            } else {
                                id = fresh.pools[size_t(f)].add(
                                    PacketCell::shortText(cell.shortKey));
                                c.key[at] = cell.shortKey;
                                c.id[at] = id;
                            }
                        } else {
                            id = rawLoads[size_t(f)].add(cell.raw, fresh.pools[size_t(f)], utf8);
                        }
                        fresh.setSlot(row.get(), f, id);
                        break;
                    }
                    case FieldType::Float:
                        fresh.setSlot(row.get(), f, doubleSlot(cell.d));
                        break;
                    default:
                        fresh.setSlot(row.get(), f, Slot(cell.i));
                        break;
                }
                continue;
            }
            // Different types in packet and field: convert through a variant.
            QVariant v;
            switch (from) {
                case FieldType::String:
                case FieldType::Memo:
                    v = cell.isShort ? PacketCell::shortText(cell.shortKey) : utf8.decode(cell.raw);
                    break;
                case FieldType::Integer:
                    v = cell.i;
                    break;
                case FieldType::Float:
                    v = cell.d;
                    break;
                case FieldType::Boolean:
                    v = cell.i != 0;
                    break;
                case FieldType::Date:
                    v = packetDate(cell.i);
                    break;
                case FieldType::DateTime:
                    v = packetDateTime(cell.i);
                    break;
            }
            fresh.storeValue(row.get(), f, fresh.coerce(f, v));
        }
        reader.endRow();
        fresh.base.push_back(std::move(row));
    }

    // Commit.
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

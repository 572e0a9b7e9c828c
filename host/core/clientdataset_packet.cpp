// The whole content of a data set as a data packet: written from the rows, and read into
// them through a DataSetLoader.

#include "core/clientdataset.h"
#include "core/clientdataset_p.h"
#include "core/datasetloader.h"
#include "core/packet.h"

namespace host {

using rows::Slot;
using rows::slotDouble;

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
    const QList<FieldDef>& columns = reader.fields();
    DataSetLoader loader(*q, columns, reader.rowCountHint());
    std::vector<FieldType> types;
    for (const FieldDef& def : columns) {
        types.push_back(def.type);
    }
    const size_t n = types.size();
    // Texts come as their bytes: the loader keeps those that repeat once and the others as
    // bytes until they are read.
    reader.setRawTexts(true);
    PacketCell cell;
    while (reader.nextRow()) {
        loader.beginRow();
        for (size_t c = 0; c < n; ++c) {
            reader.readCell(cell);
            if (cell.null) {
                loader.null();
                continue;
            }
            switch (types[c]) {
                case FieldType::String:
                case FieldType::Memo:
                    loader.utf8(cell.raw);
                    break;
                case FieldType::Integer:
                    loader.integer(cell.i);
                    break;
                case FieldType::Float:
                    loader.floating(cell.d);
                    break;
                case FieldType::Boolean:
                    loader.boolean(cell.i != 0);
                    break;
                case FieldType::Date:
                    loader.dateDays(cell.i);
                    break;
                case FieldType::DateTime:
                    loader.dateTimeMillis(cell.i);
                    break;
            }
        }
        reader.endRow();
        loader.endRow();
    }
    loader.finish();
}

}  // namespace host

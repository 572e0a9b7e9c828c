// The data set's structure (fields), opening and closing, notifications to the views.

#include "core/clientdataset.h"

#include <cstring>

#include "core/clientdataset_p.h"

namespace host {

using rows::Blocks;
using rows::RowPtr;
using rows::Slot;
using rows::StringPool;

void TClientDataSet::Impl::releaseBlocks() {
    base.clear();
    Blocks::giveBack(rowBlocks);
    for (StringPool& p : pools) {
        p.releaseBlocks();
    }
}

RowPtr TClientDataSet::Impl::newRow() const {
    const size_t n = size_t(nullWords + fieldCount());
    RowPtr row(new Slot[n]);
    std::memset(row.get(), 0, n * sizeof(Slot));
    for (int f = 0; f < fieldCount(); ++f) {
        row[size_t(f >> 6)] |= Slot(1) << (f & 63);  // every field starts null
    }
    return row;
}

QString TClientDataSet::Impl::name() const {
    return q->objectName().isEmpty() ? QStringLiteral("conjunto de dados") : q->objectName();
}

void TClientDataSet::Impl::clearRows() {
    view.clear();
    order.clear();
    base.clear();
    Blocks::giveBack(rowBlocks);
    for (StringPool& p : pools) {
        p.clear();
    }
    cur = -1;
    bof = eof = true;
}

void TClientDataSet::Impl::prepareStorage() {
    nullWords = wordsFor(fieldCount());
    for (StringPool& p : pools) {
        p.releaseBlocks();
    }
    pools.clear();
    pools.resize(size_t(fieldCount()));
}

void TClientDataSet::Impl::openEmpty() {
    if (fields.empty()) {
        throw EDataSetError(QStringLiteral("%1 não tem campos para abrir.").arg(name()));
    }
    std::vector<int> idx = resolveIndex(indexNames);
    FilterExpr flt = filtered ? compileFilter(filterText) : FilterExpr();
    prepareStorage();
    clearRows();
    clearEdit();
    indexFields = std::move(idx);
    filter = std::move(flt);
    active = true;
    setState(DataSetState::Browse);
    notifyData();
    scrolled();
}

void TClientDataSet::Impl::notifyData() {
    if (disableCount > 0) {
        pendingData = true;
    } else {
        emit q->dataChanged();
    }
}

void TClientDataSet::Impl::notifyRow(int viewRow) {
    if (disableCount > 0) {
        pendingData = true;
    } else {
        emit q->rowChanged(viewRow);
    }
}

void TClientDataSet::Impl::notifyCurrent() {
    if (disableCount > 0) {
        pendingData = true;
    } else {
        emit q->currentChanged(cur);
    }
}

void TClientDataSet::Impl::setState(DataSetState s) {
    if (state == s) {
        return;
    }
    state = s;
    if (disableCount > 0) {
        pendingState = true;
    } else {
        emit q->stateChanged();
    }
}

void TClientDataSet::Impl::scrolled() {
    notifyCurrent();
    if (q->AfterScroll) {
        q->AfterScroll(*q);
    }
}

void TClientDataSet::Impl::checkActive() const {
    if (!active) {
        throw EDataSetError(QStringLiteral("%1 está fechado.").arg(name()));
    }
}

void TClientDataSet::Impl::checkBrowseMode() {
    checkActive();
    if (editing()) {
        q->Post();
    }
}

void TClientDataSet::Impl::rebuildFieldIndex() {
    fieldIndex.clear();
    for (int i = 0; i < fieldCount(); ++i) {
        fields[size_t(i)]->m_index = i;
        fieldIndex.insert(fields[size_t(i)]->m_def.name.toUpper(), i);
    }
}

TClientDataSet::TClientDataSet(QObject* parent) : QObject(parent), d(new Impl(this)) {}

TClientDataSet::~TClientDataSet() = default;

TField& TClientDataSet::AddField(const FieldDef& def) {
    if (d->active) {
        throw EDataSetError(QStringLiteral("Campo %1: não se declara campo com %2 aberto.")
                                .arg(def.name, d->name()));
    }
    if (def.name.trimmed().isEmpty()) {
        throw EDataSetError(QStringLiteral("Campo sem nome em %1.").arg(d->name()));
    }
    if (int(def.type) < 1 || int(def.type) > 7) {
        throw EDataSetError(QStringLiteral("Campo %1 com tipo desconhecido.").arg(def.name));
    }
    if (d->fieldsFromPacket) {
        d->fields.clear();
        d->fieldIndex.clear();
        d->fieldsFromPacket = false;
    }
    if (d->resolve(def.name) >= 0) {
        throw EDataSetError(QStringLiteral("Campo %1 repetido em %2.").arg(def.name, d->name()));
    }
    const int index = d->fieldCount();
    d->fields.push_back(std::unique_ptr<TField>(new TField(this, def, index)));
    d->fieldIndex.insert(def.name.trimmed().toUpper(), index);
    return *d->fields.back();
}

void TClientDataSet::ClearFields() {
    if (d->active) {
        throw EDataSetError(
            QStringLiteral("Os campos de %1 não podem ser removidos com ele aberto.")
                .arg(d->name()));
    }
    d->fields.clear();
    d->fieldIndex.clear();
    d->fieldsFromPacket = false;
}

int TClientDataSet::FieldCount() const {
    return d->fieldCount();
}

TField& TClientDataSet::Fields(int index) const {
    if (index < 0 || index >= d->fieldCount()) {
        throw EDataSetError(
            QStringLiteral("Campo de número %1 não existe em %2.").arg(index).arg(d->name()));
    }
    return *d->fields[size_t(index)];
}

TField& TClientDataSet::FieldByName(const QString& name) const {
    TField* f = FindField(name);
    if (!f) {
        throw EDataSetError(
            QStringLiteral("Campo \"%1\" não encontrado em %2.").arg(name, d->name()));
    }
    return *f;
}

TField* TClientDataSet::FindField(const QString& name) const {
    const int i = d->resolve(name);
    return i < 0 ? nullptr : d->fields[size_t(i)].get();
}

QList<FieldDef> TClientDataSet::FieldDefs() const {
    QList<FieldDef> out;
    out.reserve(d->fieldCount());
    for (const auto& f : d->fields) {
        out.append(f->m_def);
    }
    return out;
}

void TClientDataSet::CreateDataSet() {
    if (d->active) {
        Close();
    }
    d->fieldsFromPacket = false;
    d->openEmpty();
}

void TClientDataSet::Open() {
    if (d->active) {
        return;
    }
    d->openEmpty();
}

void TClientDataSet::Close() {
    if (!d->active) {
        return;
    }
    if (d->editing()) {
        Post();
    }
    d->clearEdit();
    d->clearRows();
    d->active = false;
    d->setState(DataSetState::Inactive);
    d->notifyData();
}

bool TClientDataSet::Active() const {
    return d->active;
}

DataSetState TClientDataSet::State() const {
    return d->state;
}

void TClientDataSet::EmptyDataSet() {
    d->checkActive();
    d->clearEdit();
    d->clearRows();
    d->setState(DataSetState::Browse);
    d->notifyData();
    d->scrolled();
}

void TClientDataSet::DisableControls() {
    ++d->disableCount;
}

void TClientDataSet::EnableControls() {
    if (d->disableCount == 0) {
        return;
    }
    if (--d->disableCount > 0) {
        return;
    }
    const bool state = d->pendingState;
    const bool data = d->pendingData;
    d->pendingState = d->pendingData = false;
    if (state) {
        emit stateChanged();
    }
    if (data) {
        emit dataChanged();
        emit currentChanged(d->cur);
    }
}

bool TClientDataSet::ControlsDisabled() const {
    return d->disableCount > 0;
}

QVariant TClientDataSet::ValueAt(int viewRow, int fieldIndex) const {
    return d->valueAtView(viewRow, fieldIndex);
}

}  // namespace host

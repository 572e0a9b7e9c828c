// Editing the current row: Edit and Insert open a pending edit, Post stores it where the index
// and filter put it, Cancel drops it, Delete removes the row.

#include <algorithm>

#include "core/clientdataset_p.h"

namespace host {

using rows::RowPtr;
using rows::Slot;

void TClientDataSet::Impl::clearEdit() {
    for (int f : touched) {
        if (size_t(f) < buffer.size()) {
            buffer[size_t(f)] = QVariant();
            modified[size_t(f)] = 0;
        }
    }
    touched.clear();
    editRow = nullptr;
    insertBefore = nullptr;
}

void TClientDataSet::Impl::beginEdit() {
    clearEdit();
    const size_t n = size_t(fieldCount());
    if (buffer.size() != n) {
        buffer.assign(n, QVariant());
        modified.assign(n, 0);
    }
}

void TClientDataSet::Edit() {
    d->checkActive();
    if (d->editing()) {
        return;
    }
    if (d->view.empty()) {
        Insert();
        return;
    }
    Slot* row = d->view[size_t(d->cur)];
    d->beginEdit();
    d->editRow = row;
    d->setState(DataSetState::Edit);
}

void TClientDataSet::Insert() {
    d->checkBrowseMode();
    d->beginEdit();
    d->insertBefore = d->cur >= 0 ? d->view[size_t(d->cur)] : nullptr;
    d->setState(DataSetState::Insert);
    d->scrolled();
}

void TClientDataSet::Append() {
    d->checkBrowseMode();
    d->beginEdit();
    d->insertBefore = nullptr;
    d->setState(DataSetState::Insert);
    d->scrolled();
}

void TClientDataSet::Post() {
    d->checkActive();
    if (!d->editing()) {
        throw EDataSetError(QStringLiteral("%1 não está em edição ou inclusão.").arg(d->name()));
    }
    bool moved = false;
    if (d->state == DataSetState::Edit) {
        Slot* row = d->editRow;
        bool indexChanged = false;
        for (int f : d->touched) {
            d->storeValue(row, f, d->buffer[size_t(f)]);
            if (std::find(d->indexFields.begin(), d->indexFields.end(), f) !=
                d->indexFields.end()) {
                indexChanged = true;
            }
        }
        d->clearEdit();
        if (indexChanged) {
            auto it = std::find(d->order.begin(), d->order.end(), row);
            d->order.erase(it);
            auto pos = std::upper_bound(
                d->order.begin(), d->order.end(), row,
                [this](const Slot* a, const Slot* b) { return d->compareRows(a, b) < 0; });
            d->order.insert(pos, row);
        }
        if (indexChanged || d->filterActive()) {
            const bool stillVisible = !d->filterActive() || d->passes(row);
            const bool wasAt =
                d->cur >= 0 && d->cur < int(d->view.size()) && d->view[size_t(d->cur)] == row;
            if (indexChanged || !stillVisible) {
                d->rebuildView();
                const int pos = d->viewPosOf(row);
                if (pos >= 0) {
                    moved = pos != d->cur;
                    d->cur = pos;
                } else {
                    d->clampCursor();
                    moved = true;
                }
                d->setState(DataSetState::Browse);
                d->notifyData();
            } else {
                d->setState(DataSetState::Browse);
                if (wasAt) {
                    d->notifyRow(d->cur);
                }
            }
        } else {
            d->setState(DataSetState::Browse);
            d->notifyRow(d->cur);
        }
    } else {
        RowPtr owned = d->newRow();
        Slot* row = owned.get();
        for (int f = 0; f < d->fieldCount(); ++f) {
            d->storeValue(row, f, d->buffer[size_t(f)]);
        }
        Slot* before = d->insertBefore;
        auto bit = d->base.end();
        if (before) {
            bit = std::find_if(d->base.begin(), d->base.end(),
                               [before](const RowPtr& r) { return r.get() == before; });
        }
        d->base.insert(bit, std::move(owned));
        if (!d->indexFields.empty()) {
            auto pos = std::upper_bound(
                d->order.begin(), d->order.end(), row,
                [this](const Slot* a, const Slot* b) { return d->compareRows(a, b) < 0; });
            d->order.insert(pos, row);
        } else {
            auto oit =
                before ? std::find(d->order.begin(), d->order.end(), before) : d->order.end();
            d->order.insert(oit, row);
        }
        d->clearEdit();
        d->rebuildView();
        const int pos = d->viewPosOf(row);
        if (pos >= 0) {
            d->cur = pos;
        } else {
            d->clampCursor();
        }
        d->bof = d->eof = false;
        moved = true;
        d->setState(DataSetState::Browse);
        d->notifyData();
    }
    if (moved) {
        d->scrolled();
    }
    if (AfterPost) {
        AfterPost(*this);
    }
}

void TClientDataSet::Cancel() {
    if (!d->active || !d->editing()) {
        return;
    }
    const bool inserting = d->state == DataSetState::Insert;
    d->clearEdit();
    d->setState(DataSetState::Browse);
    if (inserting) {
        d->scrolled();
    } else {
        d->notifyRow(d->cur);
    }
}

void TClientDataSet::Delete() {
    d->checkActive();
    if (d->state == DataSetState::Insert) {
        Cancel();
        return;
    }
    if (d->state == DataSetState::Edit) {
        d->clearEdit();
        d->setState(DataSetState::Browse);
    }
    if (d->view.empty()) {
        throw EDataSetError(
            QStringLiteral("%1 está vazio: não há registro para excluir.").arg(d->name()));
    }
    Slot* row = d->view[size_t(d->cur)];
    d->view.erase(d->view.begin() + d->cur);
    d->order.erase(std::find(d->order.begin(), d->order.end(), row));
    d->base.erase(std::find_if(d->base.begin(), d->base.end(),
                               [row](const RowPtr& r) { return r.get() == row; }));
    d->clampCursor();
    d->eof = d->view.empty();
    d->bof = d->view.empty();
    d->notifyData();
    d->scrolled();
}

}  // namespace host

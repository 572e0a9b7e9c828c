// The cursor over the view: moves, positions and Locate.

#include <QStringList>
#include <algorithm>
#include <vector>

#include "core/clientdataset_p.h"

namespace host {

using rows::isText;
using rows::Slot;

int TClientDataSet::Impl::viewPosOf(const Slot* row) const {
    if (!row) {
        return -1;
    }
    auto it = std::find(view.begin(), view.end(), row);
    return it == view.end() ? -1 : int(it - view.begin());
}

void TClientDataSet::Impl::clampCursor() {
    if (view.empty()) {
        cur = -1;
    } else if (cur < 0) {
        cur = 0;
    } else if (cur >= int(view.size())) {
        cur = int(view.size()) - 1;
    }
}

int TClientDataSet::RecordCount() const {
    return d->active ? int(d->view.size()) : 0;
}

bool TClientDataSet::IsEmpty() const {
    if (!d->active) {
        return true;
    }
    return d->view.empty() && d->state != DataSetState::Insert;
}

int TClientDataSet::RecNo() const {
    return d->active && d->cur >= 0 ? d->cur + 1 : 0;
}

void TClientDataSet::SetRecNo(int recNo) {
    d->checkBrowseMode();
    if (d->view.empty()) {
        return;
    }
    d->cur = std::clamp(recNo, 1, int(d->view.size())) - 1;
    d->bof = d->eof = false;
    d->scrolled();
}

void TClientDataSet::First() {
    d->checkBrowseMode();
    d->cur = d->view.empty() ? -1 : 0;
    d->bof = true;
    d->eof = d->view.empty();
    d->scrolled();
}

void TClientDataSet::Last() {
    d->checkBrowseMode();
    d->cur = int(d->view.size()) - 1;
    d->eof = true;
    d->bof = d->view.empty();
    d->scrolled();
}

void TClientDataSet::Next() {
    MoveBy(1);
}

void TClientDataSet::Prior() {
    MoveBy(-1);
}

void TClientDataSet::MoveBy(int distance) {
    d->checkBrowseMode();
    const int n = int(d->view.size());
    if (n == 0) {
        d->bof = d->eof = true;
        return;
    }
    const qint64 wanted = qint64(d->cur) + distance;
    const int target = int(std::clamp<qint64>(wanted, 0, n - 1));
    if (distance > 0) {
        d->bof = false;
        d->eof = wanted > n - 1;
    } else if (distance < 0) {
        d->eof = false;
        d->bof = wanted < 0;
    }
    if (target != d->cur) {
        d->cur = target;
        d->scrolled();
    }
}

bool TClientDataSet::Eof() const {
    return !d->active || d->eof;
}

bool TClientDataSet::Bof() const {
    return !d->active || d->bof;
}

bool TClientDataSet::Locate(const QString& fieldNames, const QVariant& values, int options) {
    d->checkBrowseMode();
    const QStringList names = fieldNames.split(u';', Qt::SkipEmptyParts);
    if (names.isEmpty()) {
        throw EDataSetError(QStringLiteral("Locate sem campos em %1.").arg(d->name()));
    }
    QVariantList wanted;
    if (names.size() == 1) {
        if (values.metaType().id() == QMetaType::QVariantList && values.toList().size() == 1) {
            wanted = values.toList();
        } else {
            wanted.append(values);
        }
    } else {
        wanted = values.toList();
        if (wanted.size() != names.size()) {
            throw EDataSetError(QStringLiteral("Locate em %1: %2 campos e %3 valores.")
                                    .arg(d->name())
                                    .arg(names.size())
                                    .arg(wanted.size()));
        }
    }
    struct Key {
        int field;
        bool text;
        QString s;
        QVariant v;
        Slot slot = 0;
    };
    std::vector<Key> keys;
    for (int i = 0; i < names.size(); ++i) {
        const int f = d->resolve(names[i]);
        if (f < 0) {
            throw EDataSetError(QStringLiteral("Campo \"%1\" não encontrado em %2.")
                                    .arg(names[i].trimmed(), d->name()));
        }
        Key k{f, isText(d->def(f).type), {}, {}, 0};
        if (k.text) {
            const QVariant& w = wanted[i];
            k.v = w.isValid() && !w.isNull() ? QVariant(w.toString()) : QVariant();
            k.s = k.v.toString();
        } else {
            k.v = d->coerce(f, wanted[i]);
            if (k.v.isValid()) {
                // Compare stored numbers, not variants (no date-time built per row).
                k.slot = d->slotOf(f, k.v);
            }
        }
        keys.push_back(std::move(k));
    }
    const bool ci = options & loCaseInsensitive;
    const bool partial = options & loPartialKey;
    const Qt::CaseSensitivity cs = ci ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (int r = 0; r < int(d->view.size()); ++r) {
        const Slot* row = d->view[size_t(r)];
        bool match = true;
        for (const Key& k : keys) {
            const bool null = d->isNull(row, k.field);
            if (k.text) {
                if (!k.v.isValid()) {
                    match = null;
                } else if (null) {
                    match = k.s.isEmpty();
                } else {
                    const QString& s = d->pools[size_t(k.field)].text(d->slot(row, k.field));
                    match = partial ? s.startsWith(k.s, cs) : s.compare(k.s, cs) == 0;
                }
            } else if (!k.v.isValid()) {
                match = null;
            } else {
                match = !null && d->slot(row, k.field) == k.slot;
            }
            if (!match) {
                break;
            }
        }
        if (match) {
            d->cur = r;
            d->bof = d->eof = false;
            d->scrolled();
            return true;
        }
    }
    return false;
}

int TClientDataSet::CurrentViewRow() const {
    return d->active ? d->cur : -1;
}

void TClientDataSet::WithRowAsCurrent(int viewRow, const std::function<void()>& f) const {
    struct Restore {
        int& slot;
        int saved;
        ~Restore() { slot = saved; }
    } restore{d->tempRow, d->tempRow};
    d->tempRow = viewRow;
    f();
}

}  // namespace host

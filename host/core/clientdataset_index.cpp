// The index order: rows sorted by the index fields, texts without regard to case or accents.

#include <QStringList>
#include <algorithm>
#include <bit>
#include <limits>
#include <string_view>

#include "core/clientdataset_p.h"
#include "core/textfold.h"

namespace host {

using rows::isText;
using rows::Slot;
using rows::slotDouble;
using rows::StringPool;

std::vector<int> TClientDataSet::Impl::resolveIndex(const QString& names) const {
    std::vector<int> out;
    const QStringList parts = names.split(u';', Qt::SkipEmptyParts);
    for (const QString& p : parts) {
        const QString n = p.trimmed();
        if (n.isEmpty()) {
            continue;
        }
        const int f = resolve(n);
        if (f < 0) {
            throw EDataSetError(
                QStringLiteral("Campo de índice \"%1\" não existe em %2.").arg(n, name()));
        }
        out.push_back(f);
    }
    return out;
}

int TClientDataSet::Impl::compareField(const Slot* a, const Slot* b, int f) const {
    const bool na = isNull(a, f), nb = isNull(b, f);
    if (na || nb) {
        return na == nb ? 0 : (na ? -1 : 1);
    }
    const Slot sa = slot(a, f), sb = slot(b, f);
    switch (def(f).type) {
        case FieldType::String:
        case FieldType::Memo:
            if (sa == sb) {
                return 0;
            }
            return foldCompare(pools[size_t(f)].text(sa), pools[size_t(f)].text(sb));
        case FieldType::Float: {
            const double da = slotDouble(sa), db = slotDouble(sb);
            return da < db ? -1 : (db < da ? 1 : 0);
        }
        default: {
            const qint64 ia = qint64(sa), ib = qint64(sb);
            return ia < ib ? -1 : (ib < ia ? 1 : 0);
        }
    }
}

int TClientDataSet::Impl::compareRows(const Slot* a, const Slot* b) const {
    for (int f : indexFields) {
        const int c = compareField(a, b, f);
        if (c != 0) {
            return c;
        }
    }
    return 0;
}

void TClientDataSet::Impl::sortRows(std::vector<Slot*>& rows) const {
    if (indexFields.empty() || rows.size() < 2) {
        return;
    }
    const size_t n = rows.size();
    const size_t nc = indexFields.size();
    constexpr qint64 kNullKey = std::numeric_limits<qint64>::min();
    std::vector<qint64> keys(n * nc);
    for (size_t c = 0; c < nc; ++c) {
        const int f = indexFields[c];
        const FieldType type = def(f).type;
        if (isText(type)) {
            // Ranks are by entry: a cell of bytes (see StringPool) becomes one first.
            for (Slot* r : rows) {
                if (!isNull(r, f)) {
                    r[nullWords + f] = pools[size_t(f)].entry(slot(r, f));
                }
            }
            const std::vector<qint64> rank = textRanks(f);
            for (size_t i = 0; i < n; ++i) {
                const Slot* r = rows[i];
                keys[i * nc + c] = isNull(r, f) ? kNullKey : rank[size_t(slot(r, f))];
            }
        } else if (type == FieldType::Float) {
            for (size_t i = 0; i < n; ++i) {
                const Slot* r = rows[i];
                if (isNull(r, f)) {
                    keys[i * nc + c] = kNullKey;
                    continue;
                }
                qint64 bits = std::bit_cast<qint64>(slotDouble(slot(r, f)));
                if (bits < 0) {
                    bits ^= std::numeric_limits<qint64>::max();
                }
                keys[i * nc + c] = bits;
            }
        } else {
            for (size_t i = 0; i < n; ++i) {
                const Slot* r = rows[i];
                keys[i * nc + c] = isNull(r, f) ? kNullKey : qint64(slot(r, f));
            }
        }
    }
    std::vector<quint32> perm(n);
    for (size_t i = 0; i < n; ++i) {
        perm[i] = quint32(i);
    }
    const qint64* k = keys.data();
    std::stable_sort(perm.begin(), perm.end(), [k, nc](quint32 x, quint32 y) {
        const qint64* a = k + size_t(x) * nc;
        const qint64* b = k + size_t(y) * nc;
        for (size_t c = 0; c < nc; ++c) {
            if (a[c] != b[c]) {
                return a[c] < b[c];
            }
        }
        return false;
    });
    std::vector<Slot*> sorted(n);
    for (size_t i = 0; i < n; ++i) {
        sorted[i] = rows[perm[i]];
    }
    rows.swap(sorted);
}

std::vector<qint64> TClientDataSet::Impl::textRanks(int f) const {
    const StringPool& pool = pools[size_t(f)];
    const size_t m = pool.strings.size();
    std::vector<char16_t> arena;
    std::vector<std::pair<quint32, quint32>> span(m);  // offset, length
    for (size_t i = 0; i < m; ++i) {
        const QString& text = pool.strings[i];
        span[i] = {quint32(arena.size()), quint32(text.size())};
        foldAppend(text, arena);
    }
    auto view = [&](quint32 id) {
        return std::u16string_view(arena.data() + span[id].first, span[id].second);
    };
    std::vector<quint32> ids(m);
    for (size_t i = 0; i < m; ++i) {
        ids[i] = quint32(i);
    }
    std::sort(ids.begin(), ids.end(), [&](quint32 a, quint32 b) { return view(a) < view(b); });
    std::vector<qint64> rank(m);
    qint64 r = 0;
    for (size_t i = 0; i < m; ++i) {
        if (i > 0 && view(ids[i]) != view(ids[i - 1])) {
            ++r;
        }
        rank[ids[i]] = r;
    }
    return rank;
}

void TClientDataSet::Impl::rebuildOrder() {
    order.clear();
    order.reserve(base.size());
    for (const auto& r : base) {
        order.push_back(r.get());
    }
    sortRows(order);
}

QString TClientDataSet::IndexFieldNames() const {
    return d->indexNames;
}

void TClientDataSet::SetIndexFieldNames(const QString& names) {
    if (!d->active) {
        d->indexNames = names;
        return;
    }
    std::vector<int> idx = d->resolveIndex(names);
    d->checkBrowseMode();
    const Slot* current = d->cur >= 0 ? d->view[size_t(d->cur)] : nullptr;
    d->indexNames = names;
    d->indexFields = std::move(idx);
    d->rebuildOrder();
    d->rebuildView();
    const int pos = d->viewPosOf(current);
    d->cur = pos >= 0 ? pos : (d->view.empty() ? -1 : 0);
    d->notifyData();
    d->notifyCurrent();
}

}  // namespace host

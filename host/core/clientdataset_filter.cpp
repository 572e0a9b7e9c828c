// The filtered view: the rows of the index order that pass the filter expression.

#include "core/clientdataset_p.h"

namespace host {

using rows::isText;
using rows::Slot;
using rows::slotDouble;

FilterExpr TClientDataSet::Impl::compileFilter(const QString& text) const {
    return FilterExpr::compile(text, [this](const QString& n, FieldDef& out) {
        const int f = resolve(n);
        if (f >= 0) {
            out = def(f);
        }
        return f;
    });
}

bool TClientDataSet::Impl::passes(const Slot* row) const {
    return filter.eval([&](const FilterExpr::Comparison& c) {
        const int f = c.field;
        const bool null = isNull(row, f);
        if (isText(c.type)) {
            static const QString empty;
            const QString& s = null ? empty : pools[size_t(f)].text(slot(row, f));
            if (c.op == FilterExpr::Op::Eq) {
                return s == c.text;
            }
            if (c.op == FilterExpr::Op::Ne) {
                return s != c.text;
            }
            return FilterExpr::applyOp(c.op, s.compare(c.text));
        }
        if (null || c.null) {
            if (c.op == FilterExpr::Op::Eq) {
                return null && c.null;
            }
            if (c.op == FilterExpr::Op::Ne) {
                return !(null && c.null);
            }
            return false;
        }
        const Slot s = slot(row, f);
        if (c.type == FieldType::Float) {
            const double v = slotDouble(s);
            return FilterExpr::applyOp(c.op, v < c.d ? -1 : (c.d < v ? 1 : 0));
        }
        const qint64 v = qint64(s);
        return FilterExpr::applyOp(c.op, v < c.i ? -1 : (c.i < v ? 1 : 0));
    });
}

void TClientDataSet::Impl::rebuildView() {
    if (!filterActive()) {
        view = order;
        return;
    }
    view.clear();
    view.reserve(order.size());
    for (Slot* r : order) {
        if (passes(r)) {
            view.push_back(r);
        }
    }
}

QString TClientDataSet::Filter() const {
    return d->filterText;
}

void TClientDataSet::SetFilter(const QString& expression) {
    if (d->active && d->filtered) {
        FilterExpr compiled = d->compileFilter(expression);
        d->checkBrowseMode();
        d->filterText = expression;
        d->filter = std::move(compiled);
        d->rebuildView();
        d->notifyData();
        First();
        return;
    }
    if (d->filtered && !d->fields.empty()) {
        d->compileFilter(expression);  // report a bad expression now
    }
    d->filterText = expression;
}

bool TClientDataSet::Filtered() const {
    return d->filtered;
}

void TClientDataSet::SetFiltered(bool on) {
    if (on == d->filtered) {
        return;
    }
    if (!d->active) {
        if (on && !d->fields.empty()) {
            d->compileFilter(d->filterText);
        }
        d->filtered = on;
        return;
    }
    FilterExpr compiled = on ? d->compileFilter(d->filterText) : FilterExpr();
    d->checkBrowseMode();
    d->filtered = on;
    d->filter = std::move(compiled);
    d->rebuildView();
    d->notifyData();
    First();
}

}  // namespace host

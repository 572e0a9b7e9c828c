#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>
#include <utility>

#include "core/clientdataset.h"

namespace host {

// A data-aware control's hold on its data source: the source (null once it is destroyed) and
// the connections made to it, all dropped together when the control takes another source or
// goes away. The grid, the data-aware edit and the navigator each keep one.
class DataSourceLink {
  public:
    DataSourceLink() = default;
    DataSourceLink(const DataSourceLink&) = delete;
    DataSourceLink& operator=(const DataSourceLink&) = delete;
    ~DataSourceLink() { release(); }

    TDataSource* source() const { return m_source; }
    TClientDataSet* dataSet() const { return m_source ? m_source->DataSet() : nullptr; }

    // Takes a source, dropping the connections to the previous one. False, with nothing
    // changed, when it is the source held already.
    bool attach(TDataSource* source) {
        if (source == m_source) {
            return false;
        }
        release();
        m_source = source;
        return true;
    }

    // Drops the connections and the source.
    void release() {
        for (const QMetaObject::Connection& c : std::as_const(m_links)) {
            QObject::disconnect(c);
        }
        m_links.clear();
        m_source = nullptr;
    }

    // Connects a signal of the source held (there must be one) to the control's slot.
    template <typename Signal, typename Context, typename Slot>
    void on(Signal signal, const Context* context, Slot&& slot) {
        m_links << QObject::connect(m_source.data(), signal, context, std::forward<Slot>(slot));
    }

    // What every data-aware control shows again after: another data set, a reload, a state
    // change, a move of the cursor.
    void onShownChange(const QObject* context, const std::function<void()>& show) {
        on(&TDataSource::dataSetChanged, context, show);
        on(&TDataSource::dataChanged, context, show);
        on(&TDataSource::stateChanged, context, show);
        on(&TDataSource::currentChanged, context, show);
    }

  private:
    QPointer<TDataSource> m_source;
    QList<QMetaObject::Connection> m_links;
};

}  // namespace host

// TDataSource: passes a data set's signals on to the controls that show it.

#include "core/clientdataset.h"

namespace host {

void TDataSource::SetDataSet(TClientDataSet* ds) {
    if (ds == m_dataSet) {
        return;
    }
    for (const QMetaObject::Connection& c : m_links) {
        disconnect(c);
    }
    m_links.clear();
    m_dataSet = ds;
    if (ds) {
        m_links << connect(ds, &TClientDataSet::stateChanged, this, [this]() {
            emit stateChanged();
            if (OnStateChange) {
                OnStateChange(*this);
            }
        });
        m_links << connect(ds, &TClientDataSet::dataChanged, this, &TDataSource::dataChanged);
        m_links << connect(ds, &TClientDataSet::rowChanged, this, &TDataSource::rowChanged);
        m_links << connect(ds, &TClientDataSet::currentChanged, this, &TDataSource::currentChanged);
        m_links << connect(ds, &QObject::destroyed, this, [this]() {
            m_links.clear();
            m_dataSet = nullptr;
            emit dataSetChanged();
        });
    }
    emit dataSetChanged();
}

}  // namespace host

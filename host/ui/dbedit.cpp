#include "ui/dbedit.h"

#include "core/clientdataset.h"
#include "ui/handler.h"

namespace host {

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::editingFinished, this, [this] { writeBack(); });
}

TDBEdit::~TDBEdit() {
    for (const auto& c : m_links) {
        disconnect(c);
    }
}

void TDBEdit::SetDataSource(TDataSource* source) {
    if (source == m_source) {
        return;
    }
    for (const auto& c : m_links) {
        disconnect(c);
    }
    m_links.clear();
    m_source = source;
    if (source) {
        auto refresh = [this] { Refresh(); };
        m_links << connect(source, &TDataSource::dataSetChanged, this, refresh);
        m_links << connect(source, &TDataSource::dataChanged, this, refresh);
        m_links << connect(source, &TDataSource::stateChanged, this, refresh);
        m_links << connect(source, &TDataSource::currentChanged, this, refresh);
        m_links << connect(source, &TDataSource::rowChanged, this, [this](int viewRow) {
            TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
            if (ds && viewRow == ds->CurrentViewRow()) {
                Refresh();
            }
        });
    }
    Refresh();
}

void TDBEdit::SetDataField(const QString& field) {
    m_field = field.trimmed();
    Refresh();
}

TField* TDBEdit::Field() const {
    TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
    return ds && !m_field.isEmpty() ? ds->FindField(m_field) : nullptr;
}

void TDBEdit::Refresh() {
    TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
    if (ds && ds->ControlsDisabled()) {
        return;  // the data set tells everyone once the controls are enabled again
    }
    QString text;
    TField* f = Field();
    if (f && ds->Active() && !ds->IsEmpty()) {
        runHandler(this, [&] { text = f->DisplayText(); });
    }
    m_shown = text;
    if (text != this->text()) {
        setText(text);
        setCursorPosition(0);
    }
}

void TDBEdit::writeBack() {
    if (isReadOnly() || text() == m_shown) {
        return;
    }
    TField* f = Field();
    TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
    if (!f || !ds || !ds->Active() || ds->IsEmpty()) {
        return;
    }
    const QString value = text();
    const bool ok = runHandler(this, [&] {
        if (ds->State() == DataSetState::Browse) {
            ds->Edit();
        }
        f->SetAsString(value);
    });
    if (!ok) {
        Refresh();
    }
}

}  // namespace host

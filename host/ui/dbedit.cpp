#include "ui/dbedit.h"

#include "core/clientdataset.h"
#include "ui/handler.h"

namespace host {

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::editingFinished, this, [this] { writeBack(); });
}

TDBEdit::~TDBEdit() = default;

void TDBEdit::SetDataSource(TDataSource* source) {
    if (!m_link.attach(source)) {
        return;
    }
    if (source) {
        m_link.onShownChange(this, [this] { Refresh(); });
        m_link.on(&TDataSource::rowChanged, this, [this](int viewRow) {
            TClientDataSet* ds = m_link.dataSet();
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
    TClientDataSet* ds = m_link.dataSet();
    return ds && !m_field.isEmpty() ? ds->FindField(m_field) : nullptr;
}

void TDBEdit::Refresh() {
    TClientDataSet* ds = m_link.dataSet();
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
    TClientDataSet* ds = m_link.dataSet();
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

#include "ui/btnpesquisa.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStyle>

#include "core/clientdataset.h"
#include "ui/dateeditplus.h"
#include "ui/dialogs.h"
#include "ui/handler.h"
#include "ui/maskedit.h"

namespace host {

TBtnPesquisa::TBtnPesquisa(QWidget* parent) : TButtonFlat(parent) {
    SetHint(QStringLiteral("Pesquisar"));
    SetGlyph(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    connect(this, &QAbstractButton::clicked, this,
            [this] { runHandler(this, [this] { Execute(); }); });
}

QString TBtnPesquisa::AssociateValue() const {
    if (!m_associate) {
        return QString();
    }
    if (auto* m = qobject_cast<TMaskEdit*>(m_associate.data())) {
        return m->Text().trimmed();
    }
    if (auto* d = qobject_cast<TDateEditPlus*>(m_associate.data())) {
        return d->Text();
    }
    if (auto* e = qobject_cast<QLineEdit*>(m_associate.data())) {
        return e->text().trimmed();
    }
    if (auto* c = qobject_cast<QComboBox*>(m_associate.data())) {
        return c->currentText().trimmed();
    }
    return QString();
}

bool TBtnPesquisa::Execute() {
    bool allow = true;
    if (OnBeforePesq) {
        OnBeforePesq(this, allow);
    }
    if (!allow) {
        return false;
    }
    if (OnClick) {
        OnClick();
        return false;
    }
    TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
    if (!ds) {
        return false;
    }
    if (!ds->Active() || ds->IsEmpty()) {
        if (!m_emptyError.isEmpty()) {
            dialogs().message(m_emptyError, MsgType::Warning, MsgButton::Ok, window());
        }
        return false;
    }
    PickRequest req;
    req.title = m_title;
    req.source = ds;
    for (int i = 0; i < ds->FieldCount(); ++i) {
        if (ds->Fields(i).Visible()) {
            req.columns << ds->Fields(i).FieldName();
        }
    }
    req.keyField = m_fieldCodigo;
    req.multiple = false;
    if (m_pesqChave && !m_fieldCodigo.isEmpty()) {
        req.startKey = AssociateValue();
    }
    const QList<int> rows = dialogs().pick(req, window());
    if (rows.isEmpty()) {
        return false;
    }
    const int row = rows.first();
    if (row < 0 || row >= ds->RecordCount()) {
        throw EProgrammingError(QStringLiteral("A lista de pesquisa devolveu a linha %1 de %2.")
                                    .arg(row)
                                    .arg(ds->RecordCount()));
    }
    ds->SetRecNo(row + 1);
    if (OnAfterPesq) {
        OnAfterPesq(this);
    }
    return true;
}

}  // namespace host

#pragma once

#include "core/clientdataset.h"

#include <QPointer>
#include <functional>

#include "ui/buttonflat.h"

namespace host {

class TDataSource;

// The lookup button beside a code edit (hint "Pesquisar"). A click runs, inside the host's
// handler boundary:
//   1. OnBeforePesq(sender, allowPesq) (the form opens the list's query); allowPesq false or a
//      stop ends the click;
//   2. OnClick, when set, in place of the built-in list (buttons that run their own selection);
//   3. otherwise, with a data source: an empty (or closed) data set shows EmptyError as a
//      warning and picks nothing; else the pick list (Title, the visible fields, FieldCodigo as
//      the key, one row; with PesqChave the code in the Associate edit as the starting row);
//      a chosen row becomes the data set's current row and OnAfterPesq(sender) runs (the form
//      copies the row into its edits).
class TBtnPesquisa : public TButtonFlat {
    Q_OBJECT

  public:
    explicit TBtnPesquisa(QWidget* parent = nullptr);

    QWidget* Associate() const { return m_associate; }
    void SetAssociate(QWidget* edit) { m_associate = edit; }
    TDataSource* DataSource() const { return m_source; }
    void SetDataSource(TDataSource* source) { m_source = source; }
    const QString& Title() const { return m_title; }
    void SetTitle(const QString& t) { m_title = t; }
    const QString& FieldCodigo() const { return m_fieldCodigo; }
    void SetFieldCodigo(const QString& f) { m_fieldCodigo = f; }
    bool PesqChave() const { return m_pesqChave; }
    void SetPesqChave(bool on) { m_pesqChave = on; }
    const QString& EmptyError() const { return m_emptyError; }
    void SetEmptyError(const QString& t) { m_emptyError = t; }

    std::function<void(QObject* sender, bool& allowPesq)> OnBeforePesq;
    std::function<void(QObject* sender)> OnAfterPesq;
    std::function<void()> OnClick;

    // The click's work without the handler boundary (exceptions pass on). Returns true when a
    // row was picked.
    bool Execute();
    // The code in the associated edit (a mask edit's value, a line edit's text), trimmed.
    QString AssociateValue() const;

  private:
    QPointer<QWidget> m_associate;
    QPointer<TDataSource> m_source;
    QString m_title;
    QString m_fieldCodigo;
    bool m_pesqChave = false;
    QString m_emptyError;
};

}  // namespace host

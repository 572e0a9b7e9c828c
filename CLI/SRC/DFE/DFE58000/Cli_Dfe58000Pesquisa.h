#pragma once

// What the module's forms share for their lookup fields: declaring the queries behind a lookup
// button, opening them with their parameters, and the checks and masks of the edits beside
// them. The filter and the report form ask for the same issuers (client, supplier) with the
// same queries.

#include <QString>
#include <QStringList>
#include <QWidget>
#include <initializer_list>
#include <utility>

class QObject;

namespace host {
class TADOIBQuery;
class TClientDataSet;
class TDataSource;
class TField;
class TMaskEdit;
}  // namespace host

namespace Pesquisa {

// The value a parameter takes to mean "any".
inline const QString kTodos = QStringLiteral("T");

// The value, or kTodos when it is empty.
QString OuTodos(const QString& valor);

host::TADOIBQuery* Consulta(QObject* owner, const char* name, const QStringList& sql);
host::TField& Campo(host::TADOIBQuery* q, const char* name, int size, const char* label,
                    bool visible = true);
host::TDataSource* Fonte(QObject* owner, const char* name, host::TClientDataSet* ds);

// The issuer lookups: qryCliente (P_NRINSJURCLIE, P_TNRINSJURCLIE) and qryFornecedor
// (P_NRINSJURFORN, P_TNRINSJURFORN), each with kTodos in its second parameter for the whole list.
host::TADOIBQuery* ConsultaCliente(QObject* owner);
host::TADOIBQuery* ConsultaFornecedor(QObject* owner);

// The operation types of one direction (P_IDENTRSAIDOP "E" or "S"): qryOperacao.
host::TADOIBQuery* ConsultaOperacao(QObject* owner);

// Closes the query, binds each parameter by name and opens it again.
void Abre(host::TADOIBQuery* q, std::initializer_list<std::pair<const char*, QString>> params);

// A field of the current row, or nothing when the query found no row.
QString Valor(host::TADOIBQuery* q, const char* campo);

// Raises the message, with the focus in the edit, when the query found no row.
void ExigeLinha(QWidget* edit, host::TADOIBQuery* q, const QString& mensagem);

// A CNPJ may carry letters in its first twelve places; they are kept in upper case, as the
// registrations are stored, whatever case the clerk types them in.
void Maiuscula(QString& key);

// A key typed into a legal-registration edit: at most 20 characters, letters in upper case;
// a key that does not fit is dropped.
void TeclaInscricao(host::TMaskEdit* edit, QString& key);

// A registration edit is typed without its mask; the change handler does not hear of it.
void SemMascara(host::TMaskEdit* edit);

// The person type's mask over a filled edit, none over an empty one. Re-laying the value under a
// mask is no change of the value: the name beside it and the fields that depend on it stay.
void MascaraPessoa(host::TMaskEdit* edit, const QString& tipoPessoa);

// Runs a check and, whatever stops it (a message or a database failure), leaves the focus in
// the edit it checked.
template <typename F>
void FocoNaFalha(QWidget* edit, F&& check) {
    try {
        check();
    } catch (...) {
        edit->setFocus();
        throw;
    }
}

}  // namespace Pesquisa

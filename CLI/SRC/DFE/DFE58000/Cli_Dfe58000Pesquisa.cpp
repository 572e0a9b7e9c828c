#include "Cli_Dfe58000Pesquisa.h"

#include <QSignalBlocker>

#include "core/clientdataset.h"
#include "sql/adoibquery.h"
#include "ui/consiste.h"
#include "ui/maskedit.h"

using namespace host;

namespace Pesquisa {

QString OuTodos(const QString& valor) {
    return Consiste::EmptyString(valor) ? kTodos : valor;
}

TADOIBQuery* Consulta(QObject* owner, const char* name, const QStringList& sql) {
    auto* q = new TADOIBQuery(owner);
    q->setObjectName(QString::fromLatin1(name));
    q->SQL = sql;
    return q;
}

TField& Campo(TADOIBQuery* q, const char* name, int size, const char* label, bool visible) {
    TField& f = q->AddField({QString::fromLatin1(name), FieldType::String, size, false});
    f.SetDisplayLabel(QString::fromUtf8(label));
    f.SetVisible(visible);
    return f;
}

TDataSource* Fonte(QObject* owner, const char* name, TClientDataSet* ds) {
    auto* s = new TDataSource(owner);
    s->setObjectName(QString::fromLatin1(name));
    s->SetDataSet(ds);
    return s;
}

TADOIBQuery* ConsultaCliente(QObject* owner) {
    TADOIBQuery* q = Consulta(
        owner, "qryCliente",
        {QStringLiteral("SELECT NRINSJURCLIE, IDTPIJURCLIE, NMRAZSOCCLIE, CDCLIENTE"),
         QStringLiteral("  FROM CLIENTE"),
         QStringLiteral("  WHERE ((NRINSJURCLIE = :P_NRINSJURCLIE) OR ('T' = :P_TNRINSJURCLIE))"),
         QStringLiteral(" ORDER BY 3")});
    Campo(q, "NRINSJURCLIE", 20, "Código");
    Campo(q, "IDTPIJURCLIE", 1, "", false);
    Campo(q, "NMRAZSOCCLIE", 50, "Razão Social");
    Campo(q, "CDCLIENTE", 21, "", false);
    return q;
}

TADOIBQuery* ConsultaFornecedor(QObject* owner) {
    TADOIBQuery* q = Consulta(
        owner, "qryFornecedor",
        {QStringLiteral("SELECT NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED"),
         QStringLiteral("  FROM FORNECEDOR"),
         QStringLiteral(" WHERE ((NRINSJURFORN = :P_NRINSJURFORN) OR ('T' = :P_TNRINSJURFORN))"),
         QStringLiteral(" ORDER BY 2")});
    Campo(q, "NRINSJURFORN", 20, "Código");
    Campo(q, "NMRAZSOCFORN", 40, "Razão Social");
    Campo(q, "IDTPIJURFORN", 1, "", false);
    Campo(q, "CDFORNECED", 21, "", false);
    return q;
}

TADOIBQuery* ConsultaOperacao(QObject* owner) {
    TADOIBQuery* q = Consulta(
        owner, "qryOperacao",
        {QStringLiteral("SELECT CDTIPOOPER, NMTIPOOPER"), QStringLiteral("  FROM TIPOOPERAC"),
         QStringLiteral("WHERE IDENTRSAIDOP = :P_IDENTRSAIDOP"),
         QStringLiteral("ORDER BY CDTIPOOPER")});
    Campo(q, "CDTIPOOPER", 2, "Código");
    Campo(q, "NMTIPOOPER", 40, "Nome");
    return q;
}

void Abre(TADOIBQuery* q, std::initializer_list<std::pair<const char*, QString>> params) {
    q->Close();
    for (const auto& [nome, valor] : params) {
        q->ParamByName(QString::fromLatin1(nome)).SetAsString(valor);
    }
    q->Open();
}

QString Valor(TADOIBQuery* q, const char* campo) {
    if (!q->Active() || q->IsEmpty()) {
        return {};
    }
    return q->FieldByName(QString::fromLatin1(campo)).AsString();
}

void ExigeLinha(QWidget* edit, TADOIBQuery* q, const QString& mensagem) {
    if (q->Active() && !q->IsEmpty()) {
        return;
    }
    edit->setFocus();
    Consiste::MensErro(mensagem, true);
}

void Maiuscula(QString& key) {
    key = key.toUpper();
}

void TeclaInscricao(TMaskEdit* edit, QString& key) {
    const int inicio = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    const int tamanho = int(edit->selectedText().size());
    if (!Consiste::MaxNumber(edit->Text(), 20, 0, key, inicio, tamanho)) {
        key.clear();
        return;
    }
    Maiuscula(key);
}

void SemMascara(TMaskEdit* edit) {
    QSignalBlocker quiet(edit);
    edit->SetEditMask(QString());
}

void MascaraPessoa(TMaskEdit* edit, const QString& tipoPessoa) {
    const QString mascara =
        Consiste::EmptyString(edit->Text()) ? QString() : Consiste::PictPess(tipoPessoa);
    QSignalBlocker quiet(edit);
    edit->SetEditMask(mascara);
}

}  // namespace Pesquisa

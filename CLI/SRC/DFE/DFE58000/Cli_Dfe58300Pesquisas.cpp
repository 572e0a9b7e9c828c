// The report form's lookup fields: the queries behind their lists and checks, what a pick
// copies, what typing empties, and the checks on leaving a field.

#include <QSignalBlocker>

#include "Cli_Dfe58100.h"
#include "Cli_Dfe58300.h"
#include "core/clientdataset.h"
#include "core/messages.h"
#include "sql/adoibquery.h"
#include "ui/btnpesquisa.h"
#include "ui/consiste.h"
#include "ui/dateeditplus.h"
#include "ui/focusevents.h"
#include "ui/handler.h"
#include "ui/maskedit.h"

using namespace host;

namespace {

const QString kTodos = QStringLiteral("T");

TADOIBQuery* consulta(QObject* owner, const char* name, const QStringList& sql) {
    auto* q = new TADOIBQuery(owner);
    q->setObjectName(QString::fromLatin1(name));
    q->SQL = sql;
    return q;
}

TField& campo(TADOIBQuery* q, const char* name, int size, const char* label, bool visible = true) {
    TField& f = q->AddField({QString::fromLatin1(name), FieldType::String, size, false});
    f.SetDisplayLabel(QString::fromUtf8(label));
    f.SetVisible(visible);
    return f;
}

TDataSource* fonte(QObject* owner, const char* name, TClientDataSet* ds) {
    auto* s = new TDataSource(owner);
    s->setObjectName(QString::fromLatin1(name));
    s->SetDataSet(ds);
    return s;
}

QString ouTodos(const QString& valor) {
    return Consiste::EmptyString(valor) ? kTodos : valor;
}

// A field of the current row, or nothing when the query found no row.
QString valor(TADOIBQuery* q, const char* nome) {
    if (!q->Active() || q->IsEmpty())
        return {};
    return q->FieldByName(QString::fromLatin1(nome)).AsString();
}

// A registration edit is typed without its mask; the change handler does not hear of it.
void semMascara(TMaskEdit* edit) {
    QSignalBlocker quiet(edit);
    edit->SetEditMask(QString());
}

// Runs a check and, whatever stops it, leaves the focus in the edit it checked.
template <typename F>
void focoNaFalha(QWidget* edit, F&& check) {
    try {
        check();
    } catch (...) {
        edit->setFocus();
        throw;
    }
}

}  // namespace

void TfrmRelatorio::declareLookups() {
    qryEmpresa =
        consulta(this, "qryEmpresa",
                 {QStringLiteral("SELECT CDEMPRESA, NMEMPRESA"), QStringLiteral("FROM EMPRESA"),
                  QStringLiteral("WHERE (CDEMPRESA = :P_CDEMPRESA OR 'T' = :P_TCDEMPRESA)"),
                  QStringLiteral("ORDER BY CDEMPRESA")});
    campo(qryEmpresa, "CDEMPRESA", 2, "Código");
    campo(qryEmpresa, "NMEMPRESA", 40, "Nome");
    dtsEmpresa = fonte(this, "dtsEmpresa", qryEmpresa);

    qryPesqInscrJurid = consulta(
        this, "qryPesqInscrJurid",
        {QStringLiteral("SELECT DISTINCT NRINSJURIEST, IDTPIJURIEST"),
         QStringLiteral("  FROM INSCRESTAD"),
         QStringLiteral(" WHERE ((CDEMPRESA = :P_CDEMPRESA) OR (:P_CDEMPRESA = 'T'))"),
         QStringLiteral("   AND ((NRINSJURIEST = :P_NRINSJURIEST) OR (:P_NRINSJURIEST = 'T'))"),
         QStringLiteral(" ORDER BY NRINSJURIEST")});
    campo(qryPesqInscrJurid, "NRINSJURIEST", 20, "Inscrição Jurídica");
    campo(qryPesqInscrJurid, "IDTPIJURIEST", 1, "", false);
    dtsPesqInscrJurid = fonte(this, "dtsPesqInscrJurid", qryPesqInscrJurid);

    qryPesqInscrEstad = consulta(
        this, "qryPesqInscrEstad",
        {QStringLiteral("SELECT CDINSCESTA"), QStringLiteral("  FROM INSCRESTAD"),
         QStringLiteral(" WHERE ((CDEMPRESA = :P_CDEMPRESA) OR (:P_CDEMPRESA = 'T'))"),
         QStringLiteral("   AND ((NRINSJURIEST = :P_NRINSJURIEST) OR (:P_NRINSJURIEST = 'T'))"),
         QStringLiteral("   AND ((CDINSCESTA = :P_CDINSCESTA) OR (:P_CDINSCESTA = 'T'))"),
         QStringLiteral(" ORDER BY CDINSCESTA")});
    campo(qryPesqInscrEstad, "CDINSCESTA", 16, "Inscrição Estadual");
    dtsPesqInscrEstad = fonte(this, "dtsPesqInscrEstad", qryPesqInscrEstad);

    qryPesqFilial = consulta(
        this, "qryPesqFilial",
        {QStringLiteral("SELECT CDFILIAL, NMFILIAL, NRINSJURFILI"), QStringLiteral("  FROM FILIAL"),
         QStringLiteral(" WHERE ((CDFILIAL = :P_CDFILIAL) OR ('T' = :P_CDFILIAL))"),
         QStringLiteral(" ORDER BY CDFILIAL")});
    campo(qryPesqFilial, "CDFILIAL", 4, "Código");
    campo(qryPesqFilial, "NMFILIAL", 50, "Nome");
    campo(qryPesqFilial, "NRINSJURFILI", 20, "", false);
    dtsPesqFilial = fonte(this, "dtsPesqFilial", qryPesqFilial);

    qryFilial =
        consulta(this, "qryFilial",
                 {QStringLiteral("SELECT CDFILIAL, NMFILIAL, NRINSJURFILI"),
                  QStringLiteral("  FROM FILIAL"), QStringLiteral("WHERE CDFILIAL = :P_CDFILIAL")});
    campo(qryFilial, "CDFILIAL", 4, "Código");
    campo(qryFilial, "NMFILIAL", 40, "Nome");
    campo(qryFilial, "NRINSJURFILI", 20, "", false);

    qrySerieNF =
        consulta(this, "qrySerieNF",
                 {QStringLiteral("SELECT CDSERIEENTR CDSERIE, DSSERIEENTR"),
                  QStringLiteral(" FROM SERIEENTR"),
                  QStringLiteral(" WHERE ((CDSERIEENTR = :P_CDSERIE) OR (:P_TCDSERIE = 'T'))"),
                  QStringLiteral("  ORDER BY 1")});
    campo(qrySerieNF, "CDSERIE", 5, "Código");
    campo(qrySerieNF, "DSSERIEENTR", 20, "Descrição");
    dtsSerieNF = fonte(this, "dtsSerieNF", qrySerieNF);

    qryCliente = consulta(
        this, "qryCliente",
        {QStringLiteral("SELECT NRINSJURCLIE, IDTPIJURCLIE, NMRAZSOCCLIE, CDCLIENTE"),
         QStringLiteral("  FROM CLIENTE"),
         QStringLiteral("  WHERE ((NRINSJURCLIE = :P_NRINSJURCLIE) OR ('T' = :P_TNRINSJURCLIE))"),
         QStringLiteral(" ORDER BY 3")});
    campo(qryCliente, "NRINSJURCLIE", 20, "Código");
    campo(qryCliente, "IDTPIJURCLIE", 1, "", false);
    campo(qryCliente, "NMRAZSOCCLIE", 50, "Razão Social");
    campo(qryCliente, "CDCLIENTE", 21, "", false);
    dtsCliente = fonte(this, "dtsCliente", qryCliente);

    qryFornecedor = consulta(
        this, "qryFornecedor",
        {QStringLiteral("SELECT NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED"),
         QStringLiteral("  FROM FORNECEDOR"),
         QStringLiteral(" WHERE ((NRINSJURFORN = :P_NRINSJURFORN) OR ('T' = :P_TNRINSJURFORN))"),
         QStringLiteral(" ORDER BY 2")});
    campo(qryFornecedor, "NRINSJURFORN", 20, "Código");
    campo(qryFornecedor, "NMRAZSOCFORN", 40, "Razão Social");
    campo(qryFornecedor, "IDTPIJURFORN", 1, "", false);
    campo(qryFornecedor, "CDFORNECED", 21, "", false);
    dtsFornecedor = fonte(this, "dtsFornecedor", qryFornecedor);

    qryOperacao = consulta(
        this, "qryOperacao",
        {QStringLiteral("SELECT CDTIPOOPER, NMTIPOOPER"), QStringLiteral("  FROM TIPOOPERAC"),
         QStringLiteral("WHERE IDENTRSAIDOP = :P_IDENTRSAIDOP"),
         QStringLiteral("ORDER BY CDTIPOOPER")});
    campo(qryOperacao, "CDTIPOOPER", 2, "Código");
    campo(qryOperacao, "NMTIPOOPER", 40, "Nome");
    dtsOperacao = fonte(this, "dtsOperacao", qryOperacao);
}

void TfrmRelatorio::bindLookups() {
    btpEmpresa->OnBeforePesq = [this](QObject* s, bool& a) { btpEmpresaBeforePesq(s, a); };
    btpEmpresa->OnAfterPesq = [this](QObject* s) { btpEmpresaAfterPesq(s); };
    bind(medCdEmpresa, &TMaskEdit::changed, this, [this] { medCdEmpresaChange(); });
    FocusEvents::setExit(medCdEmpresa, [this] { medCdEmpresaExit(); });

    btpInscrJurid->OnBeforePesq = [this](QObject* s, bool& a) { btpInscrJuridBeforePesq(s, a); };
    btpInscrJurid->OnAfterPesq = [this](QObject* s) { btpInscrJuridAfterPesq(s); };
    FocusEvents::setEnter(medInscrJurid, [this] { medInscrJuridEnter(); });
    medInscrJurid->OnKeyPress = [this](QString& key) { medInscrJuridKeyPress(key); };
    bind(medInscrJurid, &TMaskEdit::changed, this, [this] { medInscrJuridChange(); });
    FocusEvents::setExit(medInscrJurid, [this] { medInscrJuridExit(); });
    qryPesqInscrJurid->FieldByName(QStringLiteral("NRINSJURIEST"))
        .SetOnGetText([this](TField& f, QString& text, bool display) {
            qryPesqInscrJuridNRINSJURIESTGetText(f, text, display);
        });

    btpIE->OnBeforePesq = [this](QObject* s, bool& a) { btpIEBeforePesq(s, a); };
    btpIE->OnAfterPesq = [this](QObject* s) { btpIEAfterPesq(s); };
    FocusEvents::setExit(medIE, [this] { medIEExit(); });

    btpFiliOrig->OnBeforePesq = [this](QObject* s, bool& a) { btpFiliOrigBeforePesq(s, a); };
    btpFiliOrig->OnAfterPesq = [this](QObject* s) { btpFiliOrigAfterPesq(s); };
    bind(medCdFiliOrig, &TMaskEdit::changed, this, [this] { medCdFiliOrigChange(); });
    FocusEvents::setExit(medCdFiliOrig, [this] { medCdFiliOrigExit(); });

    btpSerie->OnBeforePesq = [this](QObject* s, bool& a) { btpSerieBeforePesq(s, a); };
    btpSerie->OnAfterPesq = [this](QObject* s) { btpSerieAfterPesq(s); };
    FocusEvents::setExit(medCdSerie, [this] { medCdSerieExit(); });

    const auto maiuscula = [](QString& key) { key = key.toUpper(); };
    btpCliente->OnBeforePesq = [this](QObject* s, bool& a) { btpClienteBeforePesq(s, a); };
    btpCliente->OnAfterPesq = [this](QObject* s) { btpClienteAfterPesq(s); };
    FocusEvents::setEnter(medCdCliente, [this] { medCdClienteEnter(); });
    medCdCliente->OnKeyPress = maiuscula;
    bind(medCdCliente, &TMaskEdit::changed, this, [this] { medCdClienteChange(); });
    FocusEvents::setExit(medCdCliente, [this] { medCdClienteExit(); });

    btpFornecedor->OnBeforePesq = [this](QObject* s, bool& a) { btpFornecedorBeforePesq(s, a); };
    btpFornecedor->OnAfterPesq = [this](QObject* s) { btpFornecedorAfterPesq(s); };
    FocusEvents::setEnter(medCdFornecedor, [this] { medCdFornecedorEnter(); });
    medCdFornecedor->OnKeyPress = maiuscula;
    bind(medCdFornecedor, &TMaskEdit::changed, this, [this] { medCdFornecedorChange(); });
    FocusEvents::setExit(medCdFornecedor, [this] { medCdFornecedorExit(); });

    btpFilial->OnBeforePesq = [this](QObject* s, bool& a) { btpFilialBeforePesq(s, a); };
    btpFilial->OnAfterPesq = [this](QObject* s) { btpFilialAfterPesq(s); };
    bind(medCdFilial, &TMaskEdit::changed, this, [this] { medCdFilialChange(); });
    FocusEvents::setExit(medCdFilial, [this] { medCdFilialExit(); });

    FocusEvents::setExit(depInicial, [this] { depInicialExit(); });
    FocusEvents::setExit(depFinal, [this] { depFinalExit(); });
}

void TfrmRelatorio::exigeLinha(QWidget* edit, TADOIBQuery* q, const char* chave) {
    if (q->Active() && !q->IsEmpty())
        return;
    edit->setFocus();
    Consiste::MensErro(msgPadrao->Msg(QString::fromLatin1(chave)), true);
}

void TfrmRelatorio::mascaraPessoa(TMaskEdit* edit, const QString& tipoPessoa) {
    const QString mascara =
        Consiste::EmptyString(edit->Text()) ? QString() : Consiste::PictPess(tipoPessoa);
    QSignalBlocker quiet(edit);
    edit->SetEditMask(mascara);
}

// ---------------------------------------------------------------------------------------------
// Query openers

void TfrmRelatorio::AbreQryEmpresa(const QString& P_CDEMPRESA, const QString& P_TCDEMPRESA) {
    qryEmpresa->Close();
    qryEmpresa->ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(P_CDEMPRESA);
    qryEmpresa->ParamByName(QStringLiteral("P_TCDEMPRESA")).SetAsString(P_TCDEMPRESA);
    qryEmpresa->Open();
}

void TfrmRelatorio::AbreQryCNPJ(const QString& P_EMPRESA, const QString& P_CNPJ) {
    qryPesqInscrJurid->Close();
    qryPesqInscrJurid->ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(ouTodos(P_EMPRESA));
    qryPesqInscrJurid->ParamByName(QStringLiteral("P_NRINSJURIEST")).SetAsString(ouTodos(P_CNPJ));
    qryPesqInscrJurid->Open();
}

void TfrmRelatorio::AbreQryIE(const QString& P_EMPRESA, const QString& P_CNPJ,
                              const QString& P_IE) {
    qryPesqInscrEstad->Close();
    qryPesqInscrEstad->ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(ouTodos(P_EMPRESA));
    qryPesqInscrEstad->ParamByName(QStringLiteral("P_NRINSJURIEST")).SetAsString(ouTodos(P_CNPJ));
    qryPesqInscrEstad->ParamByName(QStringLiteral("P_CDINSCESTA")).SetAsString(ouTodos(P_IE));
    qryPesqInscrEstad->Open();
}

void TfrmRelatorio::AbreQrySerie(const QString& P_CDSERIE, const QString& P_TCDSERIE) {
    qrySerieNF->Close();
    qrySerieNF->ParamByName(QStringLiteral("P_CDSERIE")).SetAsString(P_CDSERIE);
    qrySerieNF->ParamByName(QStringLiteral("P_TCDSERIE")).SetAsString(P_TCDSERIE);
    qrySerieNF->Open();
}

void TfrmRelatorio::AbreQryCliente(const QString& P_NRINSJURCLIE, const QString& P_TNRINSJURCLIE) {
    qryCliente->Close();
    qryCliente->ParamByName(QStringLiteral("P_NRINSJURCLIE")).SetAsString(P_NRINSJURCLIE);
    qryCliente->ParamByName(QStringLiteral("P_TNRINSJURCLIE")).SetAsString(P_TNRINSJURCLIE);
    qryCliente->Open();
}

void TfrmRelatorio::AbreQryFornecedor(const QString& P_NRINSJURFORN,
                                      const QString& P_TNRINSJURFORN) {
    qryFornecedor->Close();
    qryFornecedor->ParamByName(QStringLiteral("P_NRINSJURFORN")).SetAsString(P_NRINSJURFORN);
    qryFornecedor->ParamByName(QStringLiteral("P_TNRINSJURFORN")).SetAsString(P_TNRINSJURFORN);
    qryFornecedor->Open();
}

void TfrmRelatorio::AbreQryTipoOper(const QString& P_IDENTRSAIDOP) {
    qryOperacao->Close();
    qryOperacao->ParamByName(QStringLiteral("P_IDENTRSAIDOP")).SetAsString(P_IDENTRSAIDOP);
    qryOperacao->Open();
}

// ---------------------------------------------------------------------------------------------
// Company

void TfrmRelatorio::btpEmpresaBeforePesq(QObject*, bool&) {
    AbreQryEmpresa(QString(), kTodos);
}

void TfrmRelatorio::btpEmpresaAfterPesq(QObject*) {
    if (qryEmpresa->IsEmpty())
        return;
    medCdEmpresa->SetText(qryEmpresa->FieldByName(QStringLiteral("CDEMPRESA")).DisplayText());
    medNmEmpresa->SetText(qryEmpresa->FieldByName(QStringLiteral("NMEMPRESA")).DisplayText());
}

void TfrmRelatorio::medCdEmpresaChange() {
    {
        QSignalBlocker quiet(medInscrJurid);
        medInscrJurid->SetEditMask(QString());
    }
    medNmEmpresa->Clear();
    medInscrJurid->Clear();
    medIE->Clear();
    medCdFiliOrig->Clear();
    medNmFiliOrig->Clear();
    medCdSerie->Clear();
}

void TfrmRelatorio::medCdEmpresaExit() {
    medCdEmpresa->SetText(Consiste::Ajusta(medCdEmpresa->Text(), 2));
    if (Consiste::EmptyString(medCdEmpresa->Text()))
        return;
    AbreQryEmpresa(medCdEmpresa->Text(), QString());
    exigeLinha(medCdEmpresa, qryEmpresa, "EMPR_N");
    medNmEmpresa->SetText(valor(qryEmpresa, "NMEMPRESA"));
}

// ---------------------------------------------------------------------------------------------
// Company's legal registration

void TfrmRelatorio::btpInscrJuridBeforePesq(QObject*, bool&) {
    AbreQryCNPJ(medCdEmpresa->Text(), QString());
}

void TfrmRelatorio::btpInscrJuridAfterPesq(QObject*) {
    if (!qryPesqInscrJurid->IsEmpty())
        medInscrJurid->SetText(
            qryPesqInscrJurid->FieldByName(QStringLiteral("NRINSJURIEST")).AsString());
}

void TfrmRelatorio::qryPesqInscrJuridNRINSJURIESTGetText(TField& sender, QString& text, bool) {
    const QString numero = sender.AsString();
    if (numero.isEmpty()) {
        text.clear();
        return;
    }
    text = FormatMaskText(
        Consiste::PictPess(
            qryPesqInscrJurid->FieldByName(QStringLiteral("IDTPIJURIEST")).AsString()),
        numero);
}

void TfrmRelatorio::medInscrJuridEnter() {
    semMascara(medInscrJurid);
}

void TfrmRelatorio::medInscrJuridKeyPress(QString& key) {
    const int inicio = medInscrJurid->hasSelectedText() ? medInscrJurid->selectionStart()
                                                        : medInscrJurid->cursorPosition();
    const int tamanho = int(medInscrJurid->selectedText().size());
    if (!Consiste::MaxNumber(medInscrJurid->Text(), 20, 0, key, inicio, tamanho)) {
        key.clear();
        return;
    }
    key = key.toUpper();
}

void TfrmRelatorio::medInscrJuridChange() {
    medIE->Clear();
    medCdFiliOrig->Clear();
    medNmFiliOrig->Clear();
    medCdSerie->Clear();
}

void TfrmRelatorio::medInscrJuridExit() {
    Vd_InscrJurid();
    mascaraPessoa(medInscrJurid, valor(qryPesqInscrJurid, "IDTPIJURIEST"));
}

void TfrmRelatorio::Vd_InscrJurid() {
    focoNaFalha(medInscrJurid, [&] {
        if (Consiste::EmptyString(medInscrJurid->Text()))
            return;
        // The number as stored, even when pasted with its mask's characters.
        AbreQryCNPJ(medCdEmpresa->Text(), RetSemMascara(medInscrJurid->Text()));
        if (qryPesqInscrJurid->IsEmpty())
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_N_CAD")), true);
    });
}

// ---------------------------------------------------------------------------------------------
// State registration

void TfrmRelatorio::btpIEBeforePesq(QObject*, bool&) {
    AbreQryIE(medCdEmpresa->Text(), RetSemMascara(medInscrJurid->Text()), QString());
}

void TfrmRelatorio::btpIEAfterPesq(QObject*) {
    if (!qryPesqInscrEstad->IsEmpty())
        medIE->SetText(qryPesqInscrEstad->FieldByName(QStringLiteral("CDINSCESTA")).AsString());
}

void TfrmRelatorio::medIEExit() {
    if (Consiste::EmptyString(medIE->Text()))
        return;
    AbreQryIE(medCdEmpresa->Text(), RetSemMascara(medInscrJurid->Text()), medIE->Text());
    exigeLinha(medIE, qryPesqInscrEstad, "IE_N");
}

// ---------------------------------------------------------------------------------------------
// Branches: origin, and issuer on page "Filial"

void TfrmRelatorio::btpFiliOrigBeforePesq(QObject*, bool&) {
    qryPesqFilial->Close();
    qryPesqFilial->ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(kTodos);
    qryPesqFilial->Open();
}

void TfrmRelatorio::btpFiliOrigAfterPesq(QObject*) {
    if (qryPesqFilial->IsEmpty())
        return;
    medCdFiliOrig->SetText(qryPesqFilial->FieldByName(QStringLiteral("CDFILIAL")).AsString());
    medNmFiliOrig->SetText(qryPesqFilial->FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

void TfrmRelatorio::medCdFiliOrigChange() {
    medNmFiliOrig->Clear();
}

void TfrmRelatorio::medCdFiliOrigExit() {
    Vd_Filial(medCdFiliOrig);
}

void TfrmRelatorio::btpFilialBeforePesq(QObject* sender, bool& allowPesq) {
    btpFiliOrigBeforePesq(sender, allowPesq);
}

void TfrmRelatorio::btpFilialAfterPesq(QObject*) {
    if (qryPesqFilial->IsEmpty())
        return;
    medCdFilial->SetText(qryPesqFilial->FieldByName(QStringLiteral("CDFILIAL")).AsString());
    medNmFilial->SetText(qryPesqFilial->FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

void TfrmRelatorio::medCdFilialChange() {
    medNmFilial->Clear();
}

void TfrmRelatorio::medCdFilialExit() {
    Vd_Filial(medCdFilial);
}

void TfrmRelatorio::Vd_Filial(TMaskEdit* sender) {
    focoNaFalha(sender, [&] {
        if (Consiste::EmptyString(sender->Text()))
            return;
        sender->SetText(Consiste::Ajusta(sender->Text(), 4));
        qryFilial->Close();
        qryFilial->ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(sender->Text());
        qryFilial->Open();
        exigeLinha(sender, qryFilial, "FIL_N");
        const QString nome = valor(qryFilial, "NMFILIAL");
        if (sender->objectName() == QLatin1String("medCdFiliOrig"))
            medNmFiliOrig->SetText(nome);
        else if (sender->objectName() == QLatin1String("medCdFilial"))
            medNmFilial->SetText(nome);
    });
}

// ---------------------------------------------------------------------------------------------
// Series

void TfrmRelatorio::btpSerieBeforePesq(QObject*, bool&) {
    AbreQrySerie(QString(), kTodos);
}

void TfrmRelatorio::btpSerieAfterPesq(QObject*) {
    if (!qrySerieNF->IsEmpty())
        medCdSerie->SetText(qrySerieNF->FieldByName(QStringLiteral("CDSERIE")).AsString());
}

void TfrmRelatorio::medCdSerieExit() {
    if (Consiste::EmptyString(medCdSerie->Text()))
        return;
    AbreQrySerie(medCdSerie->Text(), QString());
    exigeLinha(medCdSerie, qrySerieNF, "SERIE_N");
}

// ---------------------------------------------------------------------------------------------
// Client

void TfrmRelatorio::btpClienteBeforePesq(QObject*, bool&) {
    AbreQryCliente(QString(), kTodos);
}

void TfrmRelatorio::btpClienteAfterPesq(QObject*) {
    if (qryCliente->IsEmpty())
        return;
    medCdCliente->SetText(qryCliente->FieldByName(QStringLiteral("NRINSJURCLIE")).AsString());
    medNmCliente->SetText(qryCliente->FieldByName(QStringLiteral("NMRAZSOCCLIE")).AsString());
}

void TfrmRelatorio::medCdClienteEnter() {
    semMascara(medCdCliente);
}

void TfrmRelatorio::medCdClienteChange() {
    medNmCliente->Clear();
}

void TfrmRelatorio::medCdClienteExit() {
    if (!Consiste::EmptyString(medCdCliente->Text())) {
        AbreQryCliente(medCdCliente->Text(), QString());
        exigeLinha(medCdCliente, qryCliente, "CLIE_N");
        medNmCliente->SetText(valor(qryCliente, "NMRAZSOCCLIE"));
    }
    mascaraPessoa(medCdCliente, valor(qryCliente, "IDTPIJURCLIE"));
}

// ---------------------------------------------------------------------------------------------
// Supplier

void TfrmRelatorio::btpFornecedorBeforePesq(QObject*, bool&) {
    AbreQryFornecedor(QString(), kTodos);
}

void TfrmRelatorio::btpFornecedorAfterPesq(QObject*) {
    if (qryFornecedor->IsEmpty())
        return;
    medCdFornecedor->SetText(qryFornecedor->FieldByName(QStringLiteral("NRINSJURFORN")).AsString());
    medNmFornecedor->SetText(qryFornecedor->FieldByName(QStringLiteral("NMRAZSOCFORN")).AsString());
}

void TfrmRelatorio::medCdFornecedorEnter() {
    semMascara(medCdFornecedor);
}

void TfrmRelatorio::medCdFornecedorChange() {
    medNmFornecedor->Clear();
}

void TfrmRelatorio::medCdFornecedorExit() {
    if (!Consiste::EmptyString(medCdFornecedor->Text())) {
        AbreQryFornecedor(medCdFornecedor->Text(), QString());
        exigeLinha(medCdFornecedor, qryFornecedor, "FORN_N");
        medNmFornecedor->SetText(valor(qryFornecedor, "NMRAZSOCFORN"));
    }
    mascaraPessoa(medCdFornecedor, valor(qryFornecedor, "IDTPIJURFORN"));
}

// ---------------------------------------------------------------------------------------------
// Dates

void TfrmRelatorio::depInicialExit() {
    focoNaFalha(depInicial, [this] { depInicial->CheckValidDate(); });
}

void TfrmRelatorio::depFinalExit() {
    focoNaFalha(depFinal, [this] { depFinal->CheckValidDate(); });
}

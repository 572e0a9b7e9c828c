// The filter's lookup fields: the queries behind their lists and checks, what a pick copies,
// what typing empties, the checks on leaving a field and the validators the confirmation runs
// again, and the person-type masks of the registration edits.

#include <QSignalBlocker>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
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

// A CNPJ may carry letters in its first twelve places; they are kept in upper case, as the
// registrations are stored, whatever case the clerk types them in.
void maiuscula(QString& key) {
    key = key.toUpper();
}

// A field of the current row, or nothing when the query found no row.
QString valor(TADOIBQuery* q, const char* campo) {
    if (!q->Active() || q->IsEmpty())
        return {};
    return q->FieldByName(QString::fromLatin1(campo)).AsString();
}

// A registration edit is typed without its mask; the change handler does not hear of it.
void semMascara(TMaskEdit* edit) {
    QSignalBlocker quiet(edit);
    edit->SetEditMask(QString());
}

// Runs a check and, whatever stops it (a message or a database failure), leaves the focus in
// the edit it checked.
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

QString RetSemMascara(const QString& stCampo) {
    QString s = stCampo;
    for (QChar c : {u'/', u'-', u'.', u'(', u')', u','})
        s.remove(c);
    return s;
}

void TfrmFiltro::declareLookups() {
    qryPesqInscrEstad =
        consulta(this, "qryPesqInscrEstad",
                 {QStringLiteral("SELECT CDINSCESTA"), QStringLiteral("  FROM INSCRESTAD"),
                  QStringLiteral(" WHERE CDEMPRESA = :P_CDEMPRESA"),
                  QStringLiteral("   AND NRINSJURIEST = :P_NRINSJURIEST"),
                  QStringLiteral(" ORDER BY CDINSCESTA")});
    campo(qryPesqInscrEstad, "CDINSCESTA", 16, "Inscrição Estadual");
    dtsIE = fonte(this, "dtsIE", qryPesqInscrEstad);

    qryVdInscrEstad =
        consulta(this, "qryVdInscrEstad",
                 {QStringLiteral("SELECT CDINSCESTA"), QStringLiteral("  FROM INSCRESTAD"),
                  QStringLiteral(" WHERE CDEMPRESA = :P_CDEMPRESA"),
                  QStringLiteral("   AND CDINSCESTA = :P_CDINSCESTA"),
                  QStringLiteral("   AND NRINSJURIEST = :P_NRINSJURIEST")});
    campo(qryVdInscrEstad, "CDINSCESTA", 16, "Inscrição Estadual");

    // One parameter in two places: the query binds the value once, by name, to both.
    qryPesqFilial =
        consulta(this, "qryPesqFilial",
                 {QStringLiteral("SELECT CDFILIAL, NMFILIAL"), QStringLiteral("  FROM FILIAL"),
                  QStringLiteral(" WHERE ((CDFILIAL = :P_CDFILIAL) OR ('T' = :P_CDFILIAL))"),
                  QStringLiteral(" ORDER BY CDFILIAL")});
    campo(qryPesqFilial, "CDFILIAL", 4, "Código");
    campo(qryPesqFilial, "NMFILIAL", 40, "Nome");
    dtsPesqFilial = fonte(this, "dtsPesqFilial", qryPesqFilial);

    qryFilial =
        consulta(this, "qryFilial",
                 {QStringLiteral("SELECT CDFILIAL, NMFILIAL"), QStringLiteral("  FROM FILIAL"),
                  QStringLiteral(" WHERE CDFILIAL = :P_CDFILIAL ")});
    campo(qryFilial, "CDFILIAL", 4, "Código");
    campo(qryFilial, "NMFILIAL", 40, "Nome");

    qrySerie = consulta(
        this, "qrySerie",
        {QStringLiteral("SELECT CDSERIEENTR, DSSERIEENTR"), QStringLiteral(" FROM SERIEENTR"),
         QStringLiteral(" WHERE ((CDSERIEENTR = :P_CDSERIE) OR (:P_TCDSERIE = 'T'))"),
         QStringLiteral("  ORDER BY CDSERIEENTR")});
    campo(qrySerie, "CDSERIEENTR", 5, "Código");
    campo(qrySerie, "DSSERIEENTR", 50, "Descrição");
    dtsSerie = fonte(this, "dtsSerie", qrySerie);

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

    btpIE->SetDataSource(dtsIE);
    btpFiliOrig->SetDataSource(dtsPesqFilial);
    btpFilial->SetDataSource(dtsPesqFilial);
    btpSerie->SetDataSource(dtsSerie);
    btpCliente->SetDataSource(dtsCliente);
    btpFornecedor->SetDataSource(dtsFornecedor);
}

void TfrmFiltro::bindLookups() {
    btpInscrJurid->OnAfterPesq = [this](QObject* s) { btpInscrJuridAfterPesq(s); };
    FocusEvents::setEnter(medInscrJurid, [this] { medInscrJuridEnter(); });
    medInscrJurid->OnKeyPress = [this](QString& key) { medInscrJuridKeyPress(key); };
    bind(medInscrJurid, &TMaskEdit::changed, this, [this] { medInscrJuridChange(); });
    FocusEvents::setExit(medInscrJurid, [this] { medInscrJuridExit(); });
    cdsPesqInscrJurid->FieldByName(QStringLiteral("NRINSJURIEST"))
        .SetOnGetText([this](TField& f, QString& text, bool display) {
            cdsPesqInscrJuridNRINSJURIESTGetText(f, text, display);
        });

    btpIE->OnBeforePesq = [this](QObject* s, bool& allow) { btpIEBeforePesq(s, allow); };
    btpIE->OnAfterPesq = [this](QObject* s) { btpIEAfterPesq(s); };
    FocusEvents::setExit(medIE, [this] { medIEExit(); });

    btpFiliOrig->OnBeforePesq = [this](QObject* s, bool& allow) {
        btpFiliOrigBeforePesq(s, allow);
    };
    btpFiliOrig->OnAfterPesq = [this](QObject* s) { btpFiliOrigAfterPesq(s); };
    bind(medCdFiliOrig, &TMaskEdit::changed, this, [this] { medCdFiliOrigChange(); });
    FocusEvents::setExit(medCdFiliOrig, [this] { medCdFiliOrigExit(); });

    btpSerie->OnBeforePesq = [this](QObject* s, bool& allow) { btpSerieBeforePesq(s, allow); };
    btpSerie->OnAfterPesq = [this](QObject* s) { btpSerieAfterPesq(s); };
    FocusEvents::setExit(medCdSerie, [this] { medCdSerieExit(); });

    btpCliente->OnBeforePesq = [this](QObject* s, bool& allow) { btpClienteBeforePesq(s, allow); };
    btpCliente->OnAfterPesq = [this](QObject* s) { btpClienteAfterPesq(s); };
    FocusEvents::setEnter(medCdCliente, [this] { medCdClienteEnter(); });
    medCdCliente->OnKeyPress = maiuscula;
    bind(medCdCliente, &TMaskEdit::changed, this, [this] { medCdClienteChange(); });
    FocusEvents::setExit(medCdCliente, [this] { medCdClienteExit(); });
    qryCliente->FieldByName(QStringLiteral("NRINSJURCLIE"))
        .SetOnGetText([this](TField& f, QString& text, bool display) {
            qryClienteNRINSJURCLIEGetText(f, text, display);
        });

    btpFornecedor->OnBeforePesq = [this](QObject* s, bool& allow) {
        btpFornecedorBeforePesq(s, allow);
    };
    btpFornecedor->OnAfterPesq = [this](QObject* s) { btpFornecedorAfterPesq(s); };
    FocusEvents::setEnter(medCdFornecedor, [this] { medCdFornecedorEnter(); });
    medCdFornecedor->OnKeyPress = maiuscula;
    bind(medCdFornecedor, &TMaskEdit::changed, this, [this] { medCdFornecedorChange(); });
    FocusEvents::setExit(medCdFornecedor, [this] { medCdFornecedorExit(); });

    btpFilial->OnBeforePesq = [this](QObject* s, bool& allow) { btpFilialBeforePesq(s, allow); };
    btpFilial->OnAfterPesq = [this](QObject* s) { btpFilialAfterPesq(s); };
    bind(medCdFilial, &TMaskEdit::changed, this, [this] { medCdFilialChange(); });
    FocusEvents::setExit(medCdFilial, [this] { medCdFilialExit(); });

    FocusEvents::setExit(depInicial, [this] { depInicialExit(); });
    FocusEvents::setExit(depFinal, [this] { depFinalExit(); });
    FocusEvents::setExit(medNotaInicial, [this] { medNotaInicialExit(); });
    FocusEvents::setExit(medNotaFinal, [this] { medNotaFinalExit(); });
}

void TfrmFiltro::exigeLinha(QWidget* edit, TADOIBQuery* q, const char* chave) {
    if (q->Active() && !q->IsEmpty())
        return;
    edit->setFocus();
    Consiste::MensErro(msgPadrao->Msg(QString::fromLatin1(chave)), true);
}

// ---------------------------------------------------------------------------------------------
// Person-type masks

void TfrmFiltro::mascaraPessoa(TMaskEdit* edit, const QString& tipoPessoa) {
    const QString mascara =
        Consiste::EmptyString(edit->Text()) ? QString() : Consiste::PictPess(tipoPessoa);
    // Re-laying the value under a mask is no change of the value: the name beside it and the
    // fields that depend on it stay.
    QSignalBlocker quiet(edit);
    edit->SetEditMask(mascara);
}

QString TfrmFiltro::tipoDaInscricao(const QString& numero) {
    TClientDataSet* ds = cdsPesqInscrJurid;
    if (!ds->Active() || ds->IsEmpty())
        return {};
    // The row of the registration shown, so a CPF never wears a CNPJ's mask; the current row
    // when it is not in the list.
    const QString chave = RetSemMascara(numero);
    if (!chave.isEmpty())
        ds->Locate(QStringLiteral("NRINSJURIEST"), chave);
    return ds->FieldByName(QStringLiteral("IDTPIJURIEST")).AsString();
}

void TfrmFiltro::cdsPesqInscrJuridNRINSJURIESTGetText(TField& sender, QString& text, bool) {
    const QString numero = sender.AsString();
    text = FormatMaskText(
        Consiste::PictPess(
            cdsPesqInscrJurid->FieldByName(QStringLiteral("IDTPIJURIEST")).AsString()),
        numero);
}

void TfrmFiltro::qryClienteNRINSJURCLIEGetText(TField& sender, QString& text, bool) {
    text = FormatMaskText(
        Consiste::PictPess(qryCliente->FieldByName(QStringLiteral("IDTPIJURCLIE")).AsString()),
        sender.AsString());
}

// ---------------------------------------------------------------------------------------------
// Company legal registration

void TfrmFiltro::btpInscrJuridAfterPesq(QObject*) {
    medInscrJurid->SetText(
        cdsPesqInscrJurid->FieldByName(QStringLiteral("NRINSJURIEST")).AsString());
}

void TfrmFiltro::medInscrJuridEnter() {
    semMascara(medInscrJurid);
}

void TfrmFiltro::medInscrJuridKeyPress(QString& key) {
    const int inicio = medInscrJurid->hasSelectedText() ? medInscrJurid->selectionStart()
                                                        : medInscrJurid->cursorPosition();
    const int tamanho = int(medInscrJurid->selectedText().size());
    if (!Consiste::MaxNumber(medInscrJurid->Text(), 20, 0, key, inicio, tamanho)) {
        key.clear();
        return;
    }
    maiuscula(key);
}

void TfrmFiltro::medInscrJuridChange() {
    medIE->Clear();
    medCdFiliOrig->Clear();
    medNmFiliOrig->Clear();
    medCdSerie->Clear();
}

void TfrmFiltro::medInscrJuridExit() {
    Vd_InscrJurid(false);
    mascaraPessoa(medInscrJurid, tipoDaInscricao(medInscrJurid->Text()));
}

void TfrmFiltro::Vd_InscrJurid(bool boTestaVazio) {
    focoNaFalha(medInscrJurid, [&] {
        if (Consiste::EmptyString(medInscrJurid->Text())) {
            if (boTestaVazio)
                Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_DEVE")), true);
            return;
        }
        const QString numero = RetSemMascara(medInscrJurid->Text());
        if (!cdsVdInscrJurid->Active() ||
            !cdsVdInscrJurid->Locate(QStringLiteral("NRINSJURIEST"), numero))
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_N_CAD")), true);
    });
}

// ---------------------------------------------------------------------------------------------
// State registration

void TfrmFiltro::btpIEBeforePesq(QObject*, bool&) {
    qryPesqInscrEstad->Close();
    qryPesqInscrEstad->ParamByName(QStringLiteral("P_CDEMPRESA"))
        .SetAsString(frmManifestacao ? frmManifestacao->medCdEmpresa->Text() : QString());
    // The registration as the database holds it, even when pasted with its mask's characters.
    qryPesqInscrEstad->ParamByName(QStringLiteral("P_NRINSJURIEST"))
        .SetAsString(RetSemMascara(medInscrJurid->Text()));
    qryPesqInscrEstad->Open();
}

void TfrmFiltro::btpIEAfterPesq(QObject*) {
    medIE->SetText(qryPesqInscrEstad->FieldByName(QStringLiteral("CDINSCESTA")).AsString());
}

void TfrmFiltro::medIEExit() {
    Vd_InscrEstad(false);
}

void TfrmFiltro::Vd_InscrEstad(bool boTestaVazio) {
    focoNaFalha(medIE, [&] {
        if (Consiste::EmptyString(medIE->Text())) {
            if (boTestaVazio)
                Consiste::MensErro(msgPadrao->Msg(QStringLiteral("IE_DEV")), true);
            return;
        }
        qryVdInscrEstad->Close();
        qryVdInscrEstad->ParamByName(QStringLiteral("P_CDEMPRESA"))
            .SetAsString(frmManifestacao ? frmManifestacao->medCdEmpresa->Text() : QString());
        qryVdInscrEstad->ParamByName(QStringLiteral("P_NRINSJURIEST"))
            .SetAsString(RetSemMascara(medInscrJurid->Text()));
        qryVdInscrEstad->ParamByName(QStringLiteral("P_CDINSCESTA")).SetAsString(medIE->Text());
        qryVdInscrEstad->Open();
        exigeLinha(medIE, qryVdInscrEstad, "IE_NCAD");
    });
}

// ---------------------------------------------------------------------------------------------
// Branches (origin, and issuer on page "Filial")

void TfrmFiltro::btpFiliOrigBeforePesq(QObject*, bool&) {
    qryPesqFilial->Close();
    qryPesqFilial->ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(kTodos);
    qryPesqFilial->Open();
}

void TfrmFiltro::btpFiliOrigAfterPesq(QObject*) {
    if (qryPesqFilial->IsEmpty())
        return;
    medCdFiliOrig->SetText(qryPesqFilial->FieldByName(QStringLiteral("CDFILIAL")).AsString());
    medNmFiliOrig->SetText(qryPesqFilial->FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

void TfrmFiltro::medCdFiliOrigChange() {
    medNmFiliOrig->Clear();
}

void TfrmFiltro::medCdFiliOrigExit() {
    Vd_Filial(medCdFiliOrig, false);
}

void TfrmFiltro::btpFilialBeforePesq(QObject* sender, bool& allowPesq) {
    btpFiliOrigBeforePesq(sender, allowPesq);
}

void TfrmFiltro::btpFilialAfterPesq(QObject*) {
    if (qryPesqFilial->IsEmpty())
        return;
    medCdFilial->SetText(qryPesqFilial->FieldByName(QStringLiteral("CDFILIAL")).AsString());
    medNmFilial->SetText(qryPesqFilial->FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

void TfrmFiltro::medCdFilialChange() {
    medNmFilial->Clear();
}

void TfrmFiltro::medCdFilialExit() {
    Vd_Filial(medCdFilial, false);
}

void TfrmFiltro::Vd_Filial(TMaskEdit* edit, bool boTestaVazio) {
    focoNaFalha(edit, [&] {
        if (Consiste::EmptyString(edit->Text())) {
            if (boTestaVazio)
                Consiste::MensErro(msgPadrao->Msg(QStringLiteral("FIL_DEV")), true);
            return;
        }
        edit->SetText(Consiste::Ajusta(edit->Text(), 4));
        qryFilial->Close();
        qryFilial->ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(edit->Text());
        qryFilial->Open();
        exigeLinha(edit, qryFilial, "FIL_NCAD");
        const QString nome = valor(qryFilial, "NMFILIAL");
        if (edit->objectName() == QLatin1String("medCdFiliOrig"))
            medNmFiliOrig->SetText(nome);
        else if (edit->objectName() == QLatin1String("medCdFilial"))
            medNmFilial->SetText(nome);
    });
}

// ---------------------------------------------------------------------------------------------
// Series

void TfrmFiltro::AbreQrySerie(const QString& P_CDSERIE, const QString& P_TCDSERIE) {
    qrySerie->Close();
    qrySerie->ParamByName(QStringLiteral("P_CDSERIE")).SetAsString(P_CDSERIE);
    qrySerie->ParamByName(QStringLiteral("P_TCDSERIE")).SetAsString(P_TCDSERIE);
    qrySerie->Open();
}

void TfrmFiltro::btpSerieBeforePesq(QObject*, bool&) {
    AbreQrySerie(QString(), kTodos);
}

void TfrmFiltro::btpSerieAfterPesq(QObject*) {
    if (!qrySerie->IsEmpty())
        medCdSerie->SetText(qrySerie->FieldByName(QStringLiteral("CDSERIEENTR")).AsString());
}

void TfrmFiltro::medCdSerieExit() {
    if (Consiste::EmptyString(medCdSerie->Text()))
        return;
    AbreQrySerie(medCdSerie->Text(), QString());
    exigeLinha(medCdSerie, qrySerie, "SERIE_NCAD");
}

// ---------------------------------------------------------------------------------------------
// Client

void TfrmFiltro::AbreQryCliente(const QString& P_NRINSJURCLIE, const QString& P_TNRINSJURCLIE) {
    medCdCliente->SetText(Consiste::Ajusta(medCdCliente->Text(), 4));
    qryCliente->Close();
    qryCliente->ParamByName(QStringLiteral("P_NRINSJURCLIE")).SetAsString(P_NRINSJURCLIE);
    qryCliente->ParamByName(QStringLiteral("P_TNRINSJURCLIE")).SetAsString(P_TNRINSJURCLIE);
    qryCliente->Open();
}

void TfrmFiltro::btpClienteBeforePesq(QObject*, bool&) {
    qryCliente->Close();
    qryCliente->ParamByName(QStringLiteral("P_NRINSJURCLIE")).SetAsString(QString());
    qryCliente->ParamByName(QStringLiteral("P_TNRINSJURCLIE")).SetAsString(kTodos);
    qryCliente->Open();
}

void TfrmFiltro::btpClienteAfterPesq(QObject*) {
    medCdCliente->SetText(qryCliente->FieldByName(QStringLiteral("NRINSJURCLIE")).AsString());
    medNmCliente->SetText(qryCliente->FieldByName(QStringLiteral("NMRAZSOCCLIE")).AsString());
}

void TfrmFiltro::medCdClienteEnter() {
    semMascara(medCdCliente);
}

void TfrmFiltro::medCdClienteChange() {
    medNmCliente->Clear();
}

void TfrmFiltro::medCdClienteExit() {
    if (!Consiste::EmptyString(medCdCliente->Text())) {
        AbreQryCliente(medCdCliente->Text(), QString());
        exigeLinha(medCdCliente, qryCliente, "CLI_NCAD");
        medNmCliente->SetText(valor(qryCliente, "NMRAZSOCCLIE"));
    }
    mascaraPessoa(medCdCliente, valor(qryCliente, "IDTPIJURCLIE"));
}

// ---------------------------------------------------------------------------------------------
// Supplier

void TfrmFiltro::AbreQryFornecedor(const QString& P_NRINSJURFORN, const QString& P_TNRINSJURFORN) {
    qryFornecedor->Close();
    qryFornecedor->ParamByName(QStringLiteral("P_NRINSJURFORN")).SetAsString(P_NRINSJURFORN);
    qryFornecedor->ParamByName(QStringLiteral("P_TNRINSJURFORN")).SetAsString(P_TNRINSJURFORN);
    qryFornecedor->Open();
}

void TfrmFiltro::btpFornecedorBeforePesq(QObject*, bool&) {
    AbreQryFornecedor(QString(), kTodos);
}

void TfrmFiltro::btpFornecedorAfterPesq(QObject*) {
    medCdFornecedor->SetText(qryFornecedor->FieldByName(QStringLiteral("NRINSJURFORN")).AsString());
    medNmFornecedor->SetText(qryFornecedor->FieldByName(QStringLiteral("NMRAZSOCFORN")).AsString());
}

void TfrmFiltro::medCdFornecedorEnter() {
    semMascara(medCdFornecedor);
}

void TfrmFiltro::medCdFornecedorChange() {
    medNmFornecedor->Clear();
}

void TfrmFiltro::medCdFornecedorExit() {
    if (!Consiste::EmptyString(medCdFornecedor->Text())) {
        AbreQryFornecedor(medCdFornecedor->Text(), QString());
        exigeLinha(medCdFornecedor, qryFornecedor, "FOR_NCAD");
        medNmFornecedor->SetText(valor(qryFornecedor, "NMRAZSOCFORN"));
    }
    mascaraPessoa(medCdFornecedor, valor(qryFornecedor, "IDTPIJURFORN"));
}

// ---------------------------------------------------------------------------------------------
// Dates and note numbers

void TfrmFiltro::confereData(TDateEditPlus* date) {
    focoNaFalha(date, [date] { date->CheckValidDate(); });
}

void TfrmFiltro::depInicialExit() {
    confereData(depInicial);
}

void TfrmFiltro::depFinalExit() {
    confereData(depFinal);
}

void TfrmFiltro::medNotaInicialExit() {
    if (!Consiste::EmptyString(medNotaInicial->Text()))
        medNotaInicial->SetText(Consiste::Ajusta(medNotaInicial->Text(), 9));
}

void TfrmFiltro::medNotaFinalExit() {
    if (!Consiste::EmptyString(medNotaFinal->Text()))
        medNotaFinal->SetText(Consiste::Ajusta(medNotaFinal->Text(), 9));
}

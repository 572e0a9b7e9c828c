// The report form's lookup fields: the queries behind their lists and checks, what a pick
// copies, what typing empties, and the checks on leaving a field.

#include "Cli_Dfe58000Pesquisa.h"
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
using namespace Pesquisa;

void TfrmRelatorio::declareLookups() {
    qryEmpresa =
        Consulta(this, "qryEmpresa",
                 {QStringLiteral("SELECT CDEMPRESA, NMEMPRESA"), QStringLiteral("FROM EMPRESA"),
                  QStringLiteral("WHERE (CDEMPRESA = :P_CDEMPRESA OR 'T' = :P_TCDEMPRESA)"),
                  QStringLiteral("ORDER BY CDEMPRESA")});
    Campo(qryEmpresa, "CDEMPRESA", 2, "Código");
    Campo(qryEmpresa, "NMEMPRESA", 40, "Nome");
    dtsEmpresa = Fonte(this, "dtsEmpresa", qryEmpresa);

    qryPesqInscrJurid = Consulta(
        this, "qryPesqInscrJurid",
        {QStringLiteral("SELECT DISTINCT NRINSJURIEST, IDTPIJURIEST"),
         QStringLiteral("  FROM INSCRESTAD"),
         QStringLiteral(" WHERE ((CDEMPRESA = :P_CDEMPRESA) OR (:P_CDEMPRESA = 'T'))"),
         QStringLiteral("   AND ((NRINSJURIEST = :P_NRINSJURIEST) OR (:P_NRINSJURIEST = 'T'))"),
         QStringLiteral(" ORDER BY NRINSJURIEST")});
    Campo(qryPesqInscrJurid, "NRINSJURIEST", 20, "Inscrição Jurídica");
    Campo(qryPesqInscrJurid, "IDTPIJURIEST", 1, "", false);
    dtsPesqInscrJurid = Fonte(this, "dtsPesqInscrJurid", qryPesqInscrJurid);

    qryPesqInscrEstad = Consulta(
        this, "qryPesqInscrEstad",
        {QStringLiteral("SELECT CDINSCESTA"), QStringLiteral("  FROM INSCRESTAD"),
         QStringLiteral(" WHERE ((CDEMPRESA = :P_CDEMPRESA) OR (:P_CDEMPRESA = 'T'))"),
         QStringLiteral("   AND ((NRINSJURIEST = :P_NRINSJURIEST) OR (:P_NRINSJURIEST = 'T'))"),
         QStringLiteral("   AND ((CDINSCESTA = :P_CDINSCESTA) OR (:P_CDINSCESTA = 'T'))"),
         QStringLiteral(" ORDER BY CDINSCESTA")});
    Campo(qryPesqInscrEstad, "CDINSCESTA", 16, "Inscrição Estadual");
    dtsPesqInscrEstad = Fonte(this, "dtsPesqInscrEstad", qryPesqInscrEstad);

    qryPesqFilial = Consulta(
        this, "qryPesqFilial",
        {QStringLiteral("SELECT CDFILIAL, NMFILIAL, NRINSJURFILI"), QStringLiteral("  FROM FILIAL"),
         QStringLiteral(" WHERE ((CDFILIAL = :P_CDFILIAL) OR ('T' = :P_CDFILIAL))"),
         QStringLiteral(" ORDER BY CDFILIAL")});
    Campo(qryPesqFilial, "CDFILIAL", 4, "Código");
    Campo(qryPesqFilial, "NMFILIAL", 50, "Nome");
    Campo(qryPesqFilial, "NRINSJURFILI", 20, "", false);
    dtsPesqFilial = Fonte(this, "dtsPesqFilial", qryPesqFilial);

    qryFilial =
        Consulta(this, "qryFilial",
                 {QStringLiteral("SELECT CDFILIAL, NMFILIAL, NRINSJURFILI"),
                  QStringLiteral("  FROM FILIAL"), QStringLiteral("WHERE CDFILIAL = :P_CDFILIAL")});
    Campo(qryFilial, "CDFILIAL", 4, "Código");
    Campo(qryFilial, "NMFILIAL", 40, "Nome");
    Campo(qryFilial, "NRINSJURFILI", 20, "", false);

    qrySerieNF =
        Consulta(this, "qrySerieNF",
                 {QStringLiteral("SELECT CDSERIEENTR CDSERIE, DSSERIEENTR"),
                  QStringLiteral(" FROM SERIEENTR"),
                  QStringLiteral(" WHERE ((CDSERIEENTR = :P_CDSERIE) OR (:P_TCDSERIE = 'T'))"),
                  QStringLiteral("  ORDER BY 1")});
    Campo(qrySerieNF, "CDSERIE", 5, "Código");
    Campo(qrySerieNF, "DSSERIEENTR", 20, "Descrição");
    dtsSerieNF = Fonte(this, "dtsSerieNF", qrySerieNF);

    qryCliente = ConsultaCliente(this);
    dtsCliente = Fonte(this, "dtsCliente", qryCliente);

    qryFornecedor = ConsultaFornecedor(this);
    dtsFornecedor = Fonte(this, "dtsFornecedor", qryFornecedor);

    qryOperacao = ConsultaOperacao(this);
    dtsOperacao = Fonte(this, "dtsOperacao", qryOperacao);
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

    btpCliente->OnBeforePesq = [this](QObject* s, bool& a) { btpClienteBeforePesq(s, a); };
    btpCliente->OnAfterPesq = [this](QObject* s) { btpClienteAfterPesq(s); };
    FocusEvents::setEnter(medCdCliente, [this] { medCdClienteEnter(); });
    medCdCliente->OnKeyPress = Maiuscula;
    bind(medCdCliente, &TMaskEdit::changed, this, [this] { medCdClienteChange(); });
    FocusEvents::setExit(medCdCliente, [this] { medCdClienteExit(); });

    btpFornecedor->OnBeforePesq = [this](QObject* s, bool& a) { btpFornecedorBeforePesq(s, a); };
    btpFornecedor->OnAfterPesq = [this](QObject* s) { btpFornecedorAfterPesq(s); };
    FocusEvents::setEnter(medCdFornecedor, [this] { medCdFornecedorEnter(); });
    medCdFornecedor->OnKeyPress = Maiuscula;
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
    ExigeLinha(edit, q, msgPadrao->Msg(QString::fromLatin1(chave)));
}

// ---------------------------------------------------------------------------------------------
// Query openers

void TfrmRelatorio::AbreQryEmpresa(const QString& P_CDEMPRESA, const QString& P_TCDEMPRESA) {
    Abre(qryEmpresa, {{"P_CDEMPRESA", P_CDEMPRESA}, {"P_TCDEMPRESA", P_TCDEMPRESA}});
}

void TfrmRelatorio::AbreQryCNPJ(const QString& P_EMPRESA, const QString& P_CNPJ) {
    Abre(qryPesqInscrJurid,
         {{"P_CDEMPRESA", OuTodos(P_EMPRESA)}, {"P_NRINSJURIEST", OuTodos(P_CNPJ)}});
}

void TfrmRelatorio::AbreQryIE(const QString& P_EMPRESA, const QString& P_CNPJ,
                              const QString& P_IE) {
    Abre(qryPesqInscrEstad, {{"P_CDEMPRESA", OuTodos(P_EMPRESA)},
                             {"P_NRINSJURIEST", OuTodos(P_CNPJ)},
                             {"P_CDINSCESTA", OuTodos(P_IE)}});
}

void TfrmRelatorio::AbreQrySerie(const QString& P_CDSERIE, const QString& P_TCDSERIE) {
    Abre(qrySerieNF, {{"P_CDSERIE", P_CDSERIE}, {"P_TCDSERIE", P_TCDSERIE}});
}

void TfrmRelatorio::AbreQryCliente(const QString& P_NRINSJURCLIE, const QString& P_TNRINSJURCLIE) {
    Abre(qryCliente, {{"P_NRINSJURCLIE", P_NRINSJURCLIE}, {"P_TNRINSJURCLIE", P_TNRINSJURCLIE}});
}

void TfrmRelatorio::AbreQryFornecedor(const QString& P_NRINSJURFORN,
                                      const QString& P_TNRINSJURFORN) {
    Abre(qryFornecedor, {{"P_NRINSJURFORN", P_NRINSJURFORN}, {"P_TNRINSJURFORN", P_TNRINSJURFORN}});
}

void TfrmRelatorio::AbreQryTipoOper(const QString& P_IDENTRSAIDOP) {
    Abre(qryOperacao, {{"P_IDENTRSAIDOP", P_IDENTRSAIDOP}});
}

// ---------------------------------------------------------------------------------------------
// Company

void TfrmRelatorio::btpEmpresaBeforePesq(QObject*, bool&) {
    AbreQryEmpresa(QString(), kTodos);
}

void TfrmRelatorio::btpEmpresaAfterPesq(QObject*) {
    if (qryEmpresa->IsEmpty()) {
        return;
    }
    medCdEmpresa->SetText(qryEmpresa->FieldByName(QStringLiteral("CDEMPRESA")).DisplayText());
    medNmEmpresa->SetText(qryEmpresa->FieldByName(QStringLiteral("NMEMPRESA")).DisplayText());
}

void TfrmRelatorio::medCdEmpresaChange() {
    SemMascara(medInscrJurid);
    medNmEmpresa->Clear();
    medInscrJurid->Clear();
    medIE->Clear();
    medCdFiliOrig->Clear();
    medNmFiliOrig->Clear();
    medCdSerie->Clear();
}

void TfrmRelatorio::medCdEmpresaExit() {
    medCdEmpresa->SetText(Consiste::Ajusta(medCdEmpresa->Text(), 2));
    if (Consiste::EmptyString(medCdEmpresa->Text())) {
        return;
    }
    AbreQryEmpresa(medCdEmpresa->Text(), QString());
    exigeLinha(medCdEmpresa, qryEmpresa, "EMPR_N");
    medNmEmpresa->SetText(Valor(qryEmpresa, "NMEMPRESA"));
}

// ---------------------------------------------------------------------------------------------
// Company's legal registration

void TfrmRelatorio::btpInscrJuridBeforePesq(QObject*, bool&) {
    AbreQryCNPJ(medCdEmpresa->Text(), QString());
}

void TfrmRelatorio::btpInscrJuridAfterPesq(QObject*) {
    if (!qryPesqInscrJurid->IsEmpty()) {
        medInscrJurid->SetText(
            qryPesqInscrJurid->FieldByName(QStringLiteral("NRINSJURIEST")).AsString());
    }
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
    SemMascara(medInscrJurid);
}

void TfrmRelatorio::medInscrJuridKeyPress(QString& key) {
    TeclaInscricao(medInscrJurid, key);
}

void TfrmRelatorio::medInscrJuridChange() {
    medIE->Clear();
    medCdFiliOrig->Clear();
    medNmFiliOrig->Clear();
    medCdSerie->Clear();
}

void TfrmRelatorio::medInscrJuridExit() {
    Vd_InscrJurid();
    MascaraPessoa(medInscrJurid, Valor(qryPesqInscrJurid, "IDTPIJURIEST"));
}

void TfrmRelatorio::Vd_InscrJurid() {
    FocoNaFalha(medInscrJurid, [&] {
        if (Consiste::EmptyString(medInscrJurid->Text())) {
            return;
        }
        // The number as stored, even when pasted with its mask's characters.
        AbreQryCNPJ(medCdEmpresa->Text(), RetSemMascara(medInscrJurid->Text()));
        if (qryPesqInscrJurid->IsEmpty()) {
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_N_CAD")), true);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// State registration

void TfrmRelatorio::btpIEBeforePesq(QObject*, bool&) {
    AbreQryIE(medCdEmpresa->Text(), RetSemMascara(medInscrJurid->Text()), QString());
}

void TfrmRelatorio::btpIEAfterPesq(QObject*) {
    if (!qryPesqInscrEstad->IsEmpty()) {
        medIE->SetText(qryPesqInscrEstad->FieldByName(QStringLiteral("CDINSCESTA")).AsString());
    }
}

void TfrmRelatorio::medIEExit() {
    if (Consiste::EmptyString(medIE->Text())) {
        return;
    }
    AbreQryIE(medCdEmpresa->Text(), RetSemMascara(medInscrJurid->Text()), medIE->Text());
    exigeLinha(medIE, qryPesqInscrEstad, "IE_N");
}

// ---------------------------------------------------------------------------------------------
// Branches: origin, and issuer on page "Filial"

void TfrmRelatorio::btpFiliOrigBeforePesq(QObject*, bool&) {
    Abre(qryPesqFilial, {{"P_CDFILIAL", kTodos}});
}

void TfrmRelatorio::btpFiliOrigAfterPesq(QObject*) {
    if (qryPesqFilial->IsEmpty()) {
        return;
    }
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
    if (qryPesqFilial->IsEmpty()) {
        return;
    }
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
    FocoNaFalha(sender, [&] {
        if (Consiste::EmptyString(sender->Text())) {
            return;
        }
        sender->SetText(Consiste::Ajusta(sender->Text(), 4));
        Abre(qryFilial, {{"P_CDFILIAL", sender->Text()}});
        exigeLinha(sender, qryFilial, "FIL_N");
        const QString nome = Valor(qryFilial, "NMFILIAL");
        if (sender->objectName() == QLatin1String("medCdFiliOrig")) {
            medNmFiliOrig->SetText(nome);
        } else if (sender->objectName() == QLatin1String("medCdFilial")) {
            medNmFilial->SetText(nome);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Series

void TfrmRelatorio::btpSerieBeforePesq(QObject*, bool&) {
    AbreQrySerie(QString(), kTodos);
}

void TfrmRelatorio::btpSerieAfterPesq(QObject*) {
    if (!qrySerieNF->IsEmpty()) {
        medCdSerie->SetText(qrySerieNF->FieldByName(QStringLiteral("CDSERIE")).AsString());
    }
}

void TfrmRelatorio::medCdSerieExit() {
    if (Consiste::EmptyString(medCdSerie->Text())) {
        return;
    }
    AbreQrySerie(medCdSerie->Text(), QString());
    exigeLinha(medCdSerie, qrySerieNF, "SERIE_N");
}

// ---------------------------------------------------------------------------------------------
// Client

void TfrmRelatorio::btpClienteBeforePesq(QObject*, bool&) {
    AbreQryCliente(QString(), kTodos);
}

void TfrmRelatorio::btpClienteAfterPesq(QObject*) {
    if (qryCliente->IsEmpty()) {
        return;
    }
    medCdCliente->SetText(qryCliente->FieldByName(QStringLiteral("NRINSJURCLIE")).AsString());
    medNmCliente->SetText(qryCliente->FieldByName(QStringLiteral("NMRAZSOCCLIE")).AsString());
}

void TfrmRelatorio::medCdClienteEnter() {
    SemMascara(medCdCliente);
}

void TfrmRelatorio::medCdClienteChange() {
    medNmCliente->Clear();
}

void TfrmRelatorio::medCdClienteExit() {
    if (!Consiste::EmptyString(medCdCliente->Text())) {
        AbreQryCliente(medCdCliente->Text(), QString());
        exigeLinha(medCdCliente, qryCliente, "CLIE_N");
        medNmCliente->SetText(Valor(qryCliente, "NMRAZSOCCLIE"));
    }
    MascaraPessoa(medCdCliente, Valor(qryCliente, "IDTPIJURCLIE"));
}

// ---------------------------------------------------------------------------------------------
// Supplier

void TfrmRelatorio::btpFornecedorBeforePesq(QObject*, bool&) {
    AbreQryFornecedor(QString(), kTodos);
}

void TfrmRelatorio::btpFornecedorAfterPesq(QObject*) {
    if (qryFornecedor->IsEmpty()) {
        return;
    }
    medCdFornecedor->SetText(qryFornecedor->FieldByName(QStringLiteral("NRINSJURFORN")).AsString());
    medNmFornecedor->SetText(qryFornecedor->FieldByName(QStringLiteral("NMRAZSOCFORN")).AsString());
}

void TfrmRelatorio::medCdFornecedorEnter() {
    SemMascara(medCdFornecedor);
}

void TfrmRelatorio::medCdFornecedorChange() {
    medNmFornecedor->Clear();
}

void TfrmRelatorio::medCdFornecedorExit() {
    if (!Consiste::EmptyString(medCdFornecedor->Text())) {
        AbreQryFornecedor(medCdFornecedor->Text(), QString());
        exigeLinha(medCdFornecedor, qryFornecedor, "FORN_N");
        medNmFornecedor->SetText(Valor(qryFornecedor, "NMRAZSOCFORN"));
    }
    MascaraPessoa(medCdFornecedor, Valor(qryFornecedor, "IDTPIJURFORN"));
}

// ---------------------------------------------------------------------------------------------
// Dates

void TfrmRelatorio::depInicialExit() {
    FocoNaFalha(depInicial, [this] { depInicial->CheckValidDate(); });
}

void TfrmRelatorio::depFinalExit() {
    FocoNaFalha(depFinal, [this] { depFinal->CheckValidDate(); });
}

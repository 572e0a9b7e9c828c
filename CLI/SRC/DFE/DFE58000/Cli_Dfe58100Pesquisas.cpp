// The filter's lookup fields: the queries behind their lists and checks, what a pick copies,
// what typing empties, the checks on leaving a field and the validators the confirmation runs
// again, and the person-type masks of the registration edits.

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58000Pesquisa.h"
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
using namespace Pesquisa;

QString RetSemMascara(const QString& stCampo) {
    QString s = stCampo;
    for (QChar c : {u'/', u'-', u'.', u'(', u')', u','}) {
        s.remove(c);
    }
    return s;
}

void TfrmFiltro::declareLookups() {
    qryPesqInscrEstad =
        Consulta(this, "qryPesqInscrEstad",
                 {QStringLiteral("SELECT CDINSCESTA"), QStringLiteral("  FROM INSCRESTAD"),
                  QStringLiteral(" WHERE CDEMPRESA = :P_CDEMPRESA"),
                  QStringLiteral("   AND NRINSJURIEST = :P_NRINSJURIEST"),
                  QStringLiteral(" ORDER BY CDINSCESTA")});
    Campo(qryPesqInscrEstad, "CDINSCESTA", 16, "Inscrição Estadual");
    dtsIE = Fonte(this, "dtsIE", qryPesqInscrEstad);

    qryVdInscrEstad =
        Consulta(this, "qryVdInscrEstad",
                 {QStringLiteral("SELECT CDINSCESTA"), QStringLiteral("  FROM INSCRESTAD"),
                  QStringLiteral(" WHERE CDEMPRESA = :P_CDEMPRESA"),
                  QStringLiteral("   AND CDINSCESTA = :P_CDINSCESTA"),
                  QStringLiteral("   AND NRINSJURIEST = :P_NRINSJURIEST")});
    Campo(qryVdInscrEstad, "CDINSCESTA", 16, "Inscrição Estadual");

    // One parameter in two places: the query binds the value once, by name, to both.
    qryPesqFilial =
        Consulta(this, "qryPesqFilial",
                 {QStringLiteral("SELECT CDFILIAL, NMFILIAL"), QStringLiteral("  FROM FILIAL"),
                  QStringLiteral(" WHERE ((CDFILIAL = :P_CDFILIAL) OR ('T' = :P_CDFILIAL))"),
                  QStringLiteral(" ORDER BY CDFILIAL")});
    Campo(qryPesqFilial, "CDFILIAL", 4, "Código");
    Campo(qryPesqFilial, "NMFILIAL", 40, "Nome");
    dtsPesqFilial = Fonte(this, "dtsPesqFilial", qryPesqFilial);

    qryFilial =
        Consulta(this, "qryFilial",
                 {QStringLiteral("SELECT CDFILIAL, NMFILIAL"), QStringLiteral("  FROM FILIAL"),
                  QStringLiteral(" WHERE CDFILIAL = :P_CDFILIAL ")});
    Campo(qryFilial, "CDFILIAL", 4, "Código");
    Campo(qryFilial, "NMFILIAL", 40, "Nome");

    qrySerie = Consulta(
        this, "qrySerie",
        {QStringLiteral("SELECT CDSERIEENTR, DSSERIEENTR"), QStringLiteral(" FROM SERIEENTR"),
         QStringLiteral(" WHERE ((CDSERIEENTR = :P_CDSERIE) OR (:P_TCDSERIE = 'T'))"),
         QStringLiteral("  ORDER BY CDSERIEENTR")});
    Campo(qrySerie, "CDSERIEENTR", 5, "Código");
    Campo(qrySerie, "DSSERIEENTR", 50, "Descrição");
    dtsSerie = Fonte(this, "dtsSerie", qrySerie);

    qryCliente = ConsultaCliente(this);
    dtsCliente = Fonte(this, "dtsCliente", qryCliente);

    qryFornecedor = ConsultaFornecedor(this);
    dtsFornecedor = Fonte(this, "dtsFornecedor", qryFornecedor);

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
    medCdCliente->OnKeyPress = Maiuscula;
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
    medCdFornecedor->OnKeyPress = Maiuscula;
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
    ExigeLinha(edit, q, msgPadrao->Msg(QString::fromLatin1(chave)));
}

// ---------------------------------------------------------------------------------------------
// Person-type masks

QString TfrmFiltro::tipoDaInscricao(const QString& numero) {
    TClientDataSet* ds = cdsPesqInscrJurid;
    if (!ds->Active() || ds->IsEmpty()) {
        return {};
    }
    // The row of the registration shown, so a CPF never wears a CNPJ's mask; the current row
    // when it is not in the list.
    const QString chave = RetSemMascara(numero);
    if (!chave.isEmpty()) {
        ds->Locate(QStringLiteral("NRINSJURIEST"), chave);
    }
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
    SemMascara(medInscrJurid);
}

void TfrmFiltro::medInscrJuridKeyPress(QString& key) {
    TeclaInscricao(medInscrJurid, key);
}

void TfrmFiltro::medInscrJuridChange() {
    medIE->Clear();
    medCdFiliOrig->Clear();
    medNmFiliOrig->Clear();
    medCdSerie->Clear();
}

void TfrmFiltro::medInscrJuridExit() {
    Vd_InscrJurid(false);
    MascaraPessoa(medInscrJurid, tipoDaInscricao(medInscrJurid->Text()));
}

void TfrmFiltro::Vd_InscrJurid(bool boTestaVazio) {
    FocoNaFalha(medInscrJurid, [&] {
        if (Consiste::EmptyString(medInscrJurid->Text())) {
            if (boTestaVazio) {
                Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_DEVE")), true);
            }
            return;
        }
        const QString numero = RetSemMascara(medInscrJurid->Text());
        if (!cdsVdInscrJurid->Active() ||
            !cdsVdInscrJurid->Locate(QStringLiteral("NRINSJURIEST"), numero)) {
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_N_CAD")), true);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// State registration

void TfrmFiltro::btpIEBeforePesq(QObject*, bool&) {
    // The registration as the database holds it, even when pasted with its mask's characters.
    Abre(qryPesqInscrEstad,
         {{"P_CDEMPRESA", frmManifestacao ? frmManifestacao->medCdEmpresa->Text() : QString()},
          {"P_NRINSJURIEST", RetSemMascara(medInscrJurid->Text())}});
}

void TfrmFiltro::btpIEAfterPesq(QObject*) {
    medIE->SetText(qryPesqInscrEstad->FieldByName(QStringLiteral("CDINSCESTA")).AsString());
}

void TfrmFiltro::medIEExit() {
    Vd_InscrEstad(false);
}

void TfrmFiltro::Vd_InscrEstad(bool boTestaVazio) {
    FocoNaFalha(medIE, [&] {
        if (Consiste::EmptyString(medIE->Text())) {
            if (boTestaVazio) {
                Consiste::MensErro(msgPadrao->Msg(QStringLiteral("IE_DEV")), true);
            }
            return;
        }
        Abre(qryVdInscrEstad,
             {{"P_CDEMPRESA", frmManifestacao ? frmManifestacao->medCdEmpresa->Text() : QString()},
              {"P_NRINSJURIEST", RetSemMascara(medInscrJurid->Text())},
              {"P_CDINSCESTA", medIE->Text()}});
        exigeLinha(medIE, qryVdInscrEstad, "IE_NCAD");
    });
}

// ---------------------------------------------------------------------------------------------
// Branches (origin, and issuer on page "Filial")

void TfrmFiltro::btpFiliOrigBeforePesq(QObject*, bool&) {
    Abre(qryPesqFilial, {{"P_CDFILIAL", kTodos}});
}

void TfrmFiltro::btpFiliOrigAfterPesq(QObject*) {
    if (qryPesqFilial->IsEmpty()) {
        return;
    }
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
    if (qryPesqFilial->IsEmpty()) {
        return;
    }
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
    FocoNaFalha(edit, [&] {
        if (Consiste::EmptyString(edit->Text())) {
            if (boTestaVazio) {
                Consiste::MensErro(msgPadrao->Msg(QStringLiteral("FIL_DEV")), true);
            }
            return;
        }
        edit->SetText(Consiste::Ajusta(edit->Text(), 4));
        Abre(qryFilial, {{"P_CDFILIAL", edit->Text()}});
        exigeLinha(edit, qryFilial, "FIL_NCAD");
        const QString nome = Valor(qryFilial, "NMFILIAL");
        if (edit->objectName() == QLatin1String("medCdFiliOrig")) {
            medNmFiliOrig->SetText(nome);
        } else if (edit->objectName() == QLatin1String("medCdFilial")) {
            medNmFilial->SetText(nome);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Series

void TfrmFiltro::AbreQrySerie(const QString& P_CDSERIE, const QString& P_TCDSERIE) {
    Abre(qrySerie, {{"P_CDSERIE", P_CDSERIE}, {"P_TCDSERIE", P_TCDSERIE}});
}

void TfrmFiltro::btpSerieBeforePesq(QObject*, bool&) {
    AbreQrySerie(QString(), kTodos);
}

void TfrmFiltro::btpSerieAfterPesq(QObject*) {
    if (!qrySerie->IsEmpty()) {
        medCdSerie->SetText(qrySerie->FieldByName(QStringLiteral("CDSERIEENTR")).AsString());
    }
}

void TfrmFiltro::medCdSerieExit() {
    if (Consiste::EmptyString(medCdSerie->Text())) {
        return;
    }
    AbreQrySerie(medCdSerie->Text(), QString());
    exigeLinha(medCdSerie, qrySerie, "SERIE_NCAD");
}

// ---------------------------------------------------------------------------------------------
// Client

void TfrmFiltro::AbreQryCliente(const QString& P_NRINSJURCLIE, const QString& P_TNRINSJURCLIE) {
    medCdCliente->SetText(Consiste::Ajusta(medCdCliente->Text(), 4));
    Abre(qryCliente, {{"P_NRINSJURCLIE", P_NRINSJURCLIE}, {"P_TNRINSJURCLIE", P_TNRINSJURCLIE}});
}

void TfrmFiltro::btpClienteBeforePesq(QObject*, bool&) {
    // The whole list, the code typed left as it is.
    Abre(qryCliente, {{"P_NRINSJURCLIE", QString()}, {"P_TNRINSJURCLIE", kTodos}});
}

void TfrmFiltro::btpClienteAfterPesq(QObject*) {
    medCdCliente->SetText(qryCliente->FieldByName(QStringLiteral("NRINSJURCLIE")).AsString());
    medNmCliente->SetText(qryCliente->FieldByName(QStringLiteral("NMRAZSOCCLIE")).AsString());
}

void TfrmFiltro::medCdClienteEnter() {
    SemMascara(medCdCliente);
}

void TfrmFiltro::medCdClienteChange() {
    medNmCliente->Clear();
}

void TfrmFiltro::medCdClienteExit() {
    if (!Consiste::EmptyString(medCdCliente->Text())) {
        AbreQryCliente(medCdCliente->Text(), QString());
        exigeLinha(medCdCliente, qryCliente, "CLI_NCAD");
        medNmCliente->SetText(Valor(qryCliente, "NMRAZSOCCLIE"));
    }
    MascaraPessoa(medCdCliente, Valor(qryCliente, "IDTPIJURCLIE"));
}

// ---------------------------------------------------------------------------------------------
// Supplier

void TfrmFiltro::AbreQryFornecedor(const QString& P_NRINSJURFORN, const QString& P_TNRINSJURFORN) {
    Abre(qryFornecedor, {{"P_NRINSJURFORN", P_NRINSJURFORN}, {"P_TNRINSJURFORN", P_TNRINSJURFORN}});
}

void TfrmFiltro::btpFornecedorBeforePesq(QObject*, bool&) {
    AbreQryFornecedor(QString(), kTodos);
}

void TfrmFiltro::btpFornecedorAfterPesq(QObject*) {
    medCdFornecedor->SetText(qryFornecedor->FieldByName(QStringLiteral("NRINSJURFORN")).AsString());
    medNmFornecedor->SetText(qryFornecedor->FieldByName(QStringLiteral("NMRAZSOCFORN")).AsString());
}

void TfrmFiltro::medCdFornecedorEnter() {
    SemMascara(medCdFornecedor);
}

void TfrmFiltro::medCdFornecedorChange() {
    medNmFornecedor->Clear();
}

void TfrmFiltro::medCdFornecedorExit() {
    if (!Consiste::EmptyString(medCdFornecedor->Text())) {
        AbreQryFornecedor(medCdFornecedor->Text(), QString());
        exigeLinha(medCdFornecedor, qryFornecedor, "FOR_NCAD");
        medNmFornecedor->SetText(Valor(qryFornecedor, "NMRAZSOCFORN"));
    }
    MascaraPessoa(medCdFornecedor, Valor(qryFornecedor, "IDTPIJURFORN"));
}

// ---------------------------------------------------------------------------------------------
// Dates and note numbers

void TfrmFiltro::confereData(TDateEditPlus* date) {
    FocoNaFalha(date, [date] { date->CheckValidDate(); });
}

void TfrmFiltro::depInicialExit() {
    confereData(depInicial);
}

void TfrmFiltro::depFinalExit() {
    confereData(depFinal);
}

void TfrmFiltro::medNotaInicialExit() {
    if (!Consiste::EmptyString(medNotaInicial->Text())) {
        medNotaInicial->SetText(Consiste::Ajusta(medNotaInicial->Text(), 9));
    }
}

void TfrmFiltro::medNotaFinalExit() {
    if (!Consiste::EmptyString(medNotaFinal->Text())) {
        medNotaFinal->SetText(Consiste::Ajusta(medNotaFinal->Text(), 9));
    }
}
